#include <string>

#include "bootloader/bootloader.h"

namespace {

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool FirmwareWriteAllowed(const FirmwareImage& image, Reporter& out,
                          const HexLoadReport* accepted) {
    const HexLoadReport& load = image.load_report;
    // An empty file, a binary file renamed .hex, or records that all landed
    // outside the image: the write would clear every block and say it
    // succeeded.
    if (FindDataWords(image, 0, kImageSize).count == 0) {
        std::string line = "Error: no program data in the firmware file, nothing was written";
        if (load.beyond_image > 0) {
            line += " (" + Counted(load.beyond_image, "data record lies", "data records lie") +
                    " beyond 0x3FFFF)";
        }
        out.message(line);
        return false;
    }
    if (load.unreadable == 0) return true;
    if (accepted != nullptr && accepted->unreadable == load.unreadable &&
        accepted->first_unreadable == load.first_unreadable) {
        return true;
    }
    const std::string trouble = Counted(load.unreadable, "line of the HEX file could not be read",
                                        "lines of the HEX file could not be read") +
                                " (first: line " + std::to_string(load.first_unreadable) + ")";
    if (out.ask_yes_no(trouble + ".\nWrite the firmware all the same?", "Warning")) return true;
    out.message("Firmware not written: " + trouble);
    return false;
}
