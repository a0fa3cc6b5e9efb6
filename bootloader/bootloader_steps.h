#pragma once
// The single exchanges the firmware write is made of, exposed so that
// AutoFlash and the tests can use them on their own.

#include <cstdint>
#include <string>

#include "common/reporter.h"

class serial;

// Sends "#" + the motor text as typed + " " CR and reads the 7-byte
// version reply into `reply`. Returns the count read (-1 on failure).
int VersionQuery(serial& port, const std::string& motor_text, std::uint8_t (&reply)[7]);

// One acknowledgement of a binary frame.
struct Ack {
    std::uint8_t bytes[3] = {0, 0, 0};
    int count = 0;  // what the 2-byte read returned
    std::uint8_t code() const { return bytes[0]; }
};

// Reads a 2-byte acknowledgement. USB adapters may put a CR ahead of it:
// then the byte after the CR is the acknowledgement and one more byte is
// read. `usb_line` ("USB1", "USB2") is reported when that happens, unless
// it is null. A silent controller gives the code 0, a refusal in every mode.
Ack ReadAck(serial& port, Reporter& out, const char* usb_line);
