#include "window/window_texts.h"

#include "common/version.h"

const FileDialogSettingsText& file_dialog_settings(FileDialog dialog) {
    static const FileDialogSettingsText kDialogs[] = {
        {"OpenFirmwareDialog",
         "Korvane files| *.hex;*.prg;*.cfg|Java Program|*.prg|Intel hex file|*.hex|"
         "configuration files|*.cfg|all files|*.*",
         "", "", true},
        {"SaveFirmwareDialog", "Configuration Files|*.cfg", "cfg", "", false},
        {"EEDump", "EEProm Dump | *.eed", "eed", "EEPromDump", false},
        {"ScriptLogDialog", "", "", "", false},
        {"TraceDialog", "Wire trace|*.trace|all files|*.*", "trace", "serial-line", false},
    };
    return kDialogs[static_cast<int>(dialog)];
}

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<std::pair<std::string, std::vector<std::string>>> filter_pairs(const std::string& filter) {
    std::vector<std::pair<std::string, std::vector<std::string>>> pairs;
    const std::vector<std::string> parts = split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::vector<std::string> patterns;
        for (const std::string& p : split(parts[i + 1], ';')) {
            if (!trimmed(p).empty()) patterns.push_back(trimmed(p));
        }
        if (!patterns.empty()) pairs.emplace_back(trimmed(parts[i]), std::move(patterns));
    }
    return pairs;
}

std::string program_version() { return kfu_version; }

std::vector<std::string> about_lines(const std::string& version) {
    return {
        "Korvane Firmware Utility",
        "",
        "Software Version: " + version,
        "",
        "Korvane Drives",
        "",
        "Service Department",
        "Your local service centre",
        "See your delivery papers",
        "",
        "Web: support page",
        "Tel.: service hotline",
        "Fax: service fax",
    };
}

// The runs of spaces line the arrows up in the box's proportional font; the
// blank at the end of "printed on " is part of the text.
const char* const kHowToText =
    "How to....\n"
    "\n"
    "if-statements:\n"
    "\n"
    "if equal              --> #ifeq(command,value){\n"
    "if not equal        --> #ifneq(command,value){\n"
    "if greater than   --> #ifgt(command,value){\n"
    "if lower than      --> #iflt(command,value){\n"
    "\n"
    "end of statement:  #}\n"
    "\n"
    "\n"
    "#ifeq(command, value){\n"
    "\n"
    "...\n"
    "\n"
    "#}\n"
    "\n"
    "______________________________________\n"
    "\n"
    "change motor number:\n"
    "\n"
    "#motor 3\n"
    "\n"
    "______________________________________\n"
    "\n"
    "output:\n"
    "\n"
    "#output this text behind #output will be printed on \n"
    "screen\n"
    "\n"
    "______________________________________\n"
    "\n"
    "Timer:\n"
    "\n"
    "#tm500";

std::u16string widen(const std::string& bytes) {
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<unsigned char>(bytes[i]);
    return text;
}

std::string narrow(const std::u16string& text) {
    std::string bytes(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    }
    return bytes;
}

std::u16string shown_line(const std::string& bytes) {
    std::u16string text = widen(bytes);
    for (char16_t& c : text) {
        if (c == u'\r') c = 0x240D;
        else if (c == u'\n') c = 0x240A;
        else if (c == u'\0') c = 0x2400;
    }
    return text;
}
