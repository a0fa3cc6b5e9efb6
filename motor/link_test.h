#pragma once
// The connection test and the poll for a controller waiting to start its
// bootloader. Both build their bytes from the motor number box's text as it
// stands and talk to the port directly.

#include <cstddef>
#include <string>

class serial;
class Reporter;

// Sends "#" + motor text + " " CR and shows what comes back within one read
// of up to 10 bytes, as "-> " and "<- " lines. Returns the text shown after
// "<- " (empty when nothing came back).
std::string test_connection(serial& port, Reporter& out, const std::string& motor_text);

struct PollCycle {
    bool detected = false;  // a controller answered "@OK"
    // How long to hold the next cycle back: a failed read (a released port, a
    // device that cannot be opened) returns at once, and cycles would follow
    // one another every few milliseconds, each adding its lines. Then it is
    // the time the read would have waited; otherwise 0.
    int pause_ms = 0;
};

// One poll: discard waiting input, send "#" + motor text + "@S" CR, read up
// to 6 bytes.
PollCycle poll_cycle(serial& port, Reporter& out, const std::string& motor_text);

// A reply detects a controller when its bytes 3 to 5 are "@OK"; the first
// three (the motor number) are not looked at.
bool detects_device(const unsigned char* reply, std::size_t received);
