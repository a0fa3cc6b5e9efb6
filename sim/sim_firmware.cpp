// The running firmware's replies to ordinary commands.

#include <algorithm>
#include <cstdio>

#include "common/ascii.h"
#include "common/int_text.h"
#include "sim/sim_impl.h"

bool SimController::Impl::all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), is_digit);
}

std::string SimController::Impl::three_digits(int id) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", id);
    return text;
}

void SimController::Impl::on_firmware_command(int id, const std::string& command,
                                              Clock::time_point now) {
    const std::string p = prefix(id);
    if (responder) {
        if (auto r = responder(command)) {
            reply(p + *r + "\r", now);
            return;
        }
    }
    if (command == "@S") {
        if (never_start) return;
        bootloader = true;
        reply(p + "@OK\r", now);
        return;
    }
    if (command == " ") {
        reply(p + "FW 2.41\r", now);
        return;
    }
    if (command == "i") {
        int value = 1;
        if (restart_zeros_left > 0) {
            --restart_zeros_left;
            value = 0;
        }
        reply(p + std::to_string(value) + "\r", now);
        return;
    }
    if (command == "~") {
        memory.clear_eeprom();
        const std::string who = short_ack ? std::to_string(id) : three_digits(id);
        reply(who + "~\r", now + std::chrono::milliseconds(config.eeprom_clear_delay_ms));
        return;
    }
    if (command.rfind("(E", 0) == 0) {
        const auto address = read_integer(std::string_view(command).substr(2));
        const int value = address ? memory.eeprom_at(*address) : 0;
        reply(p + "+" + std::to_string(value) + "\r", now);
        return;
    }
    if (command.rfind("(J", 0) == 0) {
        std::string echo = command;
        if (command == "(JS") {
            upload_line = 0;
        } else if (all_digits(command.substr(2))) {
            if (upload_line == wrong_echo) echo[1] = 'j';
            ++upload_line;
        }
        reply(p + echo + "\r", now);
        return;
    }
    const std::size_t eq = command.find('=');
    if (eq != std::string::npos && eq > 0) {
        if (const auto value = read_integer(std::string_view(command).substr(eq + 1))) {
            memory.registers[command.substr(0, eq)] = *value;
        }
        reply(p + command + "\r", now);
        return;
    }
    if (const auto r = memory.registers.find(command); r != memory.registers.end()) {
        reply(p + command + (config.register_plus ? "+" : "") + std::to_string(r->second) + "\r",
              now);
        return;
    }
    reply(p + command + "\r", now);
}
