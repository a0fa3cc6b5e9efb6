#pragma once
// The window's own texts and settings that both faces show alike: the tab
// captions, the file dialogs, the About and How-to texts, and the rules for
// showing the line's 8-bit text in a control.

#include <string>
#include <utility>
#include <vector>

#include "window/window_view.h"

inline constexpr const char* kWindowCaption = "Korvane Firmware Utility 1.36";
inline constexpr const char* kPageCaptions[] = {"Firmware", "Java", "Configuration", "Maintenance"};

struct FileDialogSettingsText {
    const char* name;
    // "Description|*.a;*.b|Other|*.c"
    const char* filter;
    const char* default_suffix;
    const char* file_name;  // offered the first time
    bool open;              // an open dialog; else a save dialog
};
const FileDialogSettingsText& file_dialog_settings(FileDialog dialog);

// The filter text split into its (description, patterns) pairs; a pair
// without a pattern is left out.
std::vector<std::pair<std::string, std::vector<std::string>>> filter_pairs(const std::string& filter);

// The version this program was built as, x.y.z.w, and the 13 lines the About
// box shows for it.
std::string program_version();
std::vector<std::string> about_lines(const std::string& version);
extern const char* const kHowToText;

// Latin-1 to UTF-16 and back; a character beyond Latin-1 becomes '?'.
std::u16string widen(const std::string& bytes);
std::string narrow(const std::u16string& text);
// A line as the message area shows it: a CR or LF inside it (a poll request,
// a reply shown as received) would break it in two and a NUL could end it,
// so they are shown as their symbols.
std::u16string shown_line(const std::string& bytes);
