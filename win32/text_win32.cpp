#include "win32/text_win32.h"

#include "window/window_texts.h"

std::wstring wide(const std::string& bytes) {
    const std::u16string text = widen(bytes);
    return std::wstring(text.begin(), text.end());
}

std::string bytes(const std::wstring& text) { return narrow(std::u16string(text.begin(), text.end())); }

std::wstring window_text(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty()) return lines;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return lines;
        start = end + 2;
    }
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (&line != &lines.front()) text += "\r\n";
        text += line;
    }
    return text;
}

std::string file_system_name(const std::wstring& name) {
    const int size = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}
