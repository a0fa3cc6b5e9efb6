#pragma once
// What OK in the port dialog does to the port after the name was taken over.

#include <string>

class serial;

// Sets the baud rate (115200 when the text is not a number) and the read
// time-out (100 ms when the text is not a number or is negative), then opens
// the port. When the time-out text is not usable the port is left closed and
// the result is false, so the caller can tell the user.
bool apply_port_settings(serial& port, const std::string& baud_text,
                         const std::string& timeout_text);
