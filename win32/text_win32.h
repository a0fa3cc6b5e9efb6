#pragma once
// Texts between the window logic (the line's 8-bit bytes, Latin-1) and the
// Win32 controls (UTF-16).

#include <windows.h>

#include <string>
#include <vector>

std::wstring wide(const std::string& bytes);
std::string bytes(const std::wstring& text);
std::wstring window_text(HWND control);

// An edit control's lines end in CR LF; its text is split at those only.
std::vector<std::string> split_lines(const std::string& text);
std::string join_lines(const std::vector<std::string>& lines);

// A chosen file's name as the C library's file functions take it (the
// system's ANSI code page).
std::string file_system_name(const std::wstring& name);
