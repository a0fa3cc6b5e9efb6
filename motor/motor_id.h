#pragma once
// The rule that turns the text of the motor number box into a motor number.

#include <string>

struct MotorIdChoice {
    std::string text;  // the text the box should show (corrected when needed)
    int id;            // the motor number to select; 0 means all motors ("*")
};

// "*" selects all motors; a number above 255 becomes "255"; zero, negative,
// empty or non-numeric text becomes "1". A corrected text is always valid, so
// applying the rule to its own result changes nothing.
MotorIdChoice choose_motor_id(const std::string& text);
