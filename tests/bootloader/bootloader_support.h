#pragma once
// What the bootloader tests share: a window made of plain fields, a port
// backend that records what was written, and real HEX files on disk.

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "firmware/documents.h"
#include "firmware/flashmem.h"
#include "serial/serial_backend.h"

struct TestWindow : BootloaderContext {
    std::string motor = "1";
    bool usb = false;
    std::vector<std::string> firmware;
    std::string file_name;
    bool baud_switch = false;
    std::string baud_text = "115200";
    bool debug_log = true;
    std::vector<std::string> java;

    std::string motor_id_text() const override { return motor; }
    bool usb_compatibility() const override { return usb; }
    std::vector<std::string> firmware_lines() const override { return firmware; }
    void replace_firmware_lines(const std::vector<std::string>& lines) override {
        firmware = lines;
    }
    std::string firmware_file_name() const override { return file_name; }
    bool bootloader_baud() const override { return baud_switch; }
    std::string baudrate_text() const override { return baud_text; }
    void switch_off_debug_log() override { debug_log = false; }
    std::vector<std::string> java_lines() const override { return java; }
};

// Passes everything to the real backend and keeps the size of every write,
// so a test can see how a frame was cut up on its way out.
class RecordingBackend : public SerialBackend {
public:
    struct Log {
        std::vector<std::vector<std::uint8_t>> writes;
        std::vector<std::uint32_t> bauds;  // every rate the line was set to
        int opens = 0;                     // devices opened
        int closes = 0;                    // and closed again
    };

    explicit RecordingBackend(std::shared_ptr<Log> log)
        : real_(make_platform_backend()), log_(std::move(log)) {}

    bool open_device(const std::string& device, int& error) override {
        ++log_->opens;
        return real_->open_device(device, error);
    }
    bool save_settings() override { return real_->save_settings(); }
    bool apply_timeouts() override { return real_->apply_timeouts(); }
    bool read_state() override { return real_->read_state(); }
    bool apply_state(std::uint32_t baud) override {
        log_->bauds.push_back(baud);
        return real_->apply_state(baud);
    }
    bool arm_transmit_wait() override { return real_->arm_transmit_wait(); }
    void restore_and_close() override {
        ++log_->closes;
        real_->restore_and_close();
    }
    void close_device() override {
        ++log_->closes;
        real_->close_device();
    }
    long read_bytes(std::uint8_t* buffer, std::size_t n, int timeout_ms) override {
        return real_->read_bytes(buffer, n, timeout_ms);
    }
    long write_bytes(const std::uint8_t* data, std::size_t n, int timeout_ms) override {
        log_->writes.emplace_back(data, data + n);
        return real_->write_bytes(data, n, timeout_ms);
    }
    bool drain_output(int timeout_ms) override { return real_->drain_output(timeout_ms); }
    void set_rts(bool on) override { real_->set_rts(on); }

private:
    std::unique_ptr<SerialBackend> real_;
    std::shared_ptr<Log> log_;
};

// A directory of its own per test, removed again at the end.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("kfu-boot-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string HexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

inline std::string HexRecord(unsigned type, unsigned address, const std::uint8_t* data,
                             std::size_t count) {
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
    std::string line = ":" + HexByte(static_cast<unsigned>(count)) + HexByte(address >> 8) +
                       HexByte(address) + HexByte(type);
    for (std::size_t i = 0; i < count; ++i) {
        line += HexByte(data[i]);
        sum += data[i];
    }
    return line + HexByte(256 - (sum & 0xFF));
}

// The HEX lines of an image as a compiler writes them: 16-byte data records
// for every programmed stretch, type 04 records where the upper address
// changes, and the end record.
inline std::vector<std::string> HexLinesOf(const FirmwareImage& image) {
    std::vector<std::string> lines;
    unsigned upper = 0;
    for (std::uint32_t at = 0; at < kImageSize; at += 16) {
        bool blank = true;
        for (std::uint32_t i = 0; i < 16; ++i) blank = blank && image.bytes[at + i] == 0xFF;
        if (blank) continue;
        if (at >> 16 != upper) {
            upper = at >> 16;
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                           static_cast<std::uint8_t>(upper)};
            lines.push_back(HexRecord(4, 0, value, 2));
        }
        lines.push_back(HexRecord(0, at & 0xFFFF, &image.bytes[at], 16));
    }
    lines.push_back(":00000001FF");
    return lines;
}

inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream file(path, std::ios::binary);
    for (const std::string& line : lines) file << line << "\r\n";
}

// Fills the words of [begin, end) with programmed data (padding bytes 0, as
// compilers write them) that differs from block to block.
inline void Program(FirmwareImage& image, std::uint32_t begin, std::uint32_t end) {
    for (std::uint32_t a = begin; a < end; ++a) {
        image.bytes[a] = a % 4 == 3 ? 0x00 : static_cast<std::uint8_t>((a * 7 + a / 2048) & 0xFF);
    }
}

// The first data byte (padding bytes left aside) in [begin, end) where the
// two images differ, or -1.
inline long FirstDifference(const std::vector<std::uint8_t>& flash, const std::uint8_t* expected,
                            std::uint32_t begin, std::uint32_t end) {
    for (std::uint32_t a = begin; a < end; ++a) {
        if (a % 4 != 3 && flash[a] != expected[a]) return static_cast<long>(a);
    }
    return -1;
}

// Reads a file from disk into an image and the view's lines, as opening it
// in the window does.
inline void OpenHex(const std::string& path, FirmwareImage& image, TestWindow& window) {
    window.file_name = path;
    window.firmware = ReadTextLines(path).value_or(std::vector<std::string>{});
    LoadHexDocument(image, window.firmware);
}
