#pragma once
// The fixture the bootloader operations are tested in: the simulated
// controller, a port on it that records what it writes, the window's fields,
// the firmware image and what the operations report.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bootloader_support.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "support/recorder.h"

class SimLineTest : public ::testing::Test {
protected:
    // Starts the simulator and opens the port on it; a second call replaces
    // both and counts the writes afresh.
    void OpenLine(SimConfig config, std::uint32_t read_timeout_ms = 20) {
        port.reset();
        log->writes.clear();
        sim = std::make_unique<SimController>(std::move(config));
        port = std::make_unique<serial>(rec, sim->path(), read_timeout_ms,
                                        std::make_unique<RecordingBackend>(log));
    }
    void OpenMotor(int id) {
        motor = std::make_unique<motor_com>(*port);
        motor->set_id(id);
    }
    // Writes `wanted` to the HEX file `name` and opens that, so the test
    // works from what a real file gives. Returns the file's path.
    std::string OpenImageFile(const std::string& name, const FirmwareImage& wanted) {
        const std::string path = dir.file(name);
        WriteLines(path, HexLinesOf(wanted));
        OpenHex(path, image, window);
        return path;
    }
    // The commands the simulator took, in order.
    std::vector<std::string> Commands() const {
        std::vector<std::string> list;
        for (const auto& c : sim->commands()) list.push_back(c.command);
        return list;
    }

    TempDir dir;
    Recorder rec;
    TestWindow window;
    FirmwareImage image;
    std::shared_ptr<RecordingBackend::Log> log = std::make_shared<RecordingBackend::Log>();
    std::unique_ptr<SimController> sim;
    std::unique_ptr<serial> port;
    std::unique_ptr<motor_com> motor;
};
