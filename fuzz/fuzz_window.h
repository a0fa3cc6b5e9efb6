#pragma once
// The window as the bootloader routines see it, for fuzz targets: each
// setting is a field the target fills from its input.

#include <string>
#include <vector>

#include "bootloader/bootloader.h"

struct FuzzWindow : BootloaderContext {
    std::string motor = "1";
    bool usb = false;
    std::vector<std::string> lines;  // the firmware view
    std::vector<std::string> java;   // the Java view
    std::string file;                // the HEX file opened
    bool fast = false;               // the bootloader speed switch
    std::string baud_text;           // the port dialog's baud box

    std::string motor_id_text() const override { return motor; }
    bool usb_compatibility() const override { return usb; }
    std::vector<std::string> firmware_lines() const override { return lines; }
    void replace_firmware_lines(const std::vector<std::string>& l) override { lines = l; }
    std::string firmware_file_name() const override { return file; }
    bool bootloader_baud() const override { return fast; }
    std::string baudrate_text() const override { return baud_text; }
    void switch_off_debug_log() override {}
    std::vector<std::string> java_lines() const override { return java; }
};
