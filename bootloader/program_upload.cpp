#include <cstdint>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "common/stop.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

bool UploadProgram(serial& port, motor_com& motor, Reporter& out, BootloaderContext& window) {
    const std::vector<std::string> lines = window.java_lines();
    out.set_progress_position(0);
    out.set_progress_max(static_cast<int>(lines.size()));

    discard_input(port);

    out.message(motor.query("(JS"));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // "(JI" is not sent: it would close an upload that lacks its rest.
        if (stop_here(out, "the program upload", "the program was not completed")) return false;
        const std::string reply = motor.query(lines[i]);
        if (reply != lines[i]) {
            out.message("comm error:");
            out.message("->" + lines[i]);
            out.message("<-" + reply);
            return false;
        }
        out.set_progress_position(static_cast<int>(i));
        out.repaint_progress();
    }
    out.message(motor.query("(JI"));
    return true;
}
