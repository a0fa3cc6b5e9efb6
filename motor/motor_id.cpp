#include "motor/motor_id.h"

#include "common/int_text.h"

MotorIdChoice choose_motor_id(const std::string& text) {
    if (text == "*") return {text, 0};
    MotorIdChoice choice{text, 0};
    const int n = read_integer_or(text, 0);
    if (n > 255) choice.text = "255";
    if (n <= 0) choice.text = "1";
    choice.id = read_integer_or(choice.text, 1);
    return choice;
}
