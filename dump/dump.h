#pragma once
// EEPROM, core and bootloader-crash dumps: a range of the controller's memory
// read byte by byte with "(E" + address and saved as a text file.

#include <optional>
#include <string>

#include "common/reporter.h"

class motor_com;

// What a dump asks of the window.
class DumpHost {
public:
    virtual ~DumpHost() = default;
    // The EEDump save dialog; no value when cancelled.
    virtual std::optional<std::string> ask_dump_file_name() = 0;
};

struct DumpRange {
    int first;
    int last;  // included
};

// btnDumpEEProm, btnCoreDump and btnBootCrash.
inline constexpr DumpRange kEEPromDump{0x0000, 0x4000};
inline constexpr DumpRange kCoreDump{0x1E00, 0x1FFF};
inline constexpr DumpRange kBootCrashDump{0x1D00, 0x1DFF};

struct DumpResult {
    bool asked = false;         // a file name was chosen
    bool file_written = false;  // the whole text reached the file
    int unanswered = 0;         // addresses without any reply (written as 00)
    int first_unanswered = -1;
};

// Asks for a file name, reads addresses first ... last from the selected
// motor and writes the dump file in one piece. A file that cannot be written
// is reported in the message area, and so are addresses that got no reply
// (written as 00). A stop ends the dump after the current address, and no
// file is written then. Any range of ints is safe; one whose last address
// lies below its first is refused with an error line before the dialog is
// shown.
DumpResult DumpMemory(motor_com& motor, Reporter& out, DumpHost& host, DumpRange range);

// The byte value in a reply to "(E": the number after the first "+", or the
// whole reply when it has none; 0 when that is not a number.
int dump_value(const std::string& reply);
