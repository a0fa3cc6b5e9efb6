#pragma once
// The 1536-byte-mode write of a full image that the write benchmarks time:
// the simulated controller waiting in its bootloader on a paced line, and a
// window whose only setting that matters is USB compatibility.

#include <cstdint>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "firmware/flashmem.h"
#include "sim/sim.h"

struct BenchWindow : BootloaderContext {
    bool usb = false;
    std::string motor_id_text() const override { return "1"; }
    bool usb_compatibility() const override { return usb; }
    std::vector<std::string> firmware_lines() const override { return {}; }
    void replace_firmware_lines(const std::vector<std::string>&) override {}
    std::string firmware_file_name() const override { return {}; }
    bool bootloader_baud() const override { return false; }
    std::string baudrate_text() const override { return "115200"; }
    void switch_off_debug_log() override {}
    std::vector<std::string> java_lines() const override { return {}; }
};

// A controller whose bootloader (version 02) already runs, its line paced
// at `baud`.
inline SimConfig PacedBootloader(std::uint32_t baud) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.bootloader_version = "02";
    config.pace_baud = baud;
    return config;
}

// Program data in every block the 1536-byte mode sends, so each goes out as
// a data frame.
inline void FillFullImage(FirmwareImage& image) {
    FillImage(image);
    for (std::uint32_t a = 0; a < 0x2B000; ++a) {
        image.bytes[a] = a % 4 == 3 ? 0x00 : static_cast<std::uint8_t>(a * 13 + 1);
    }
}
