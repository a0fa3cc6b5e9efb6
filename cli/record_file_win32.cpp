// The record file on Windows. LockFileEx locks a range of bytes that nobody
// may then read or write through another handle, so the lock is taken on
// one byte far beyond any record's end: readers of the rows are never
// refused, and every kfu takes the same byte.

#include <windows.h>

#include "cli/record_file.h"
#include "serial/serial_backend.h"

namespace cli {
namespace {

// The system's words for the last error.
std::string reason() { return open_error_text(static_cast<int>(GetLastError())); }

OVERLAPPED lock_byte() {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

HANDLE open_locked(const std::string& path, bool write, std::string& error) {
    const HANDLE h =
        CreateFileA(path.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = reason();
        return h;
    }
    OVERLAPPED at = lock_byte();
    if (!LockFileEx(h, write ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &at)) {
        error = "cannot lock it: " + reason();
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

void close_locked(HANDLE h) {
    OVERLAPPED at = lock_byte();
    UnlockFileEx(h, 0, 1, 0, &at);
    CloseHandle(h);
}

// The file's last byte; a line end for an empty file or one that cannot be
// read.
char last_byte(HANDLE h, LARGE_INTEGER size) {
    LARGE_INTEGER at{};
    at.QuadPart = size.QuadPart - 1;
    char last = '\n';
    DWORD got = 0;
    if (size.QuadPart == 0 || !SetFilePointerEx(h, at, nullptr, FILE_BEGIN) ||
        !ReadFile(h, &last, 1, &got, nullptr) || got != 1) {
        return '\n';
    }
    return last;
}

}  // namespace

std::string append_under_lock(const std::string& path, const std::string& header,
                              const std::string& row) {
    std::string error;
    const HANDLE h = open_locked(path, true, error);
    if (h == INVALID_HANDLE_VALUE) return error;
    LARGE_INTEGER before{};
    const bool sized = GetFileSizeEx(h, &before);
    const char last = sized ? last_byte(h, before) : '\n';
    if (!sized || !SetFilePointerEx(h, before, nullptr, FILE_BEGIN)) {
        error = reason();
    } else {
        const std::string text = text_to_append(header, row, before.QuadPart, last);
        DWORD written = 0;
        const BOOL ok =
            WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (!ok || written != text.size()) {
            error = ok ? "only part of the row fit" : reason();
            // A part of a row would spoil the file for every reader.
            if (written > 0 &&
                (!SetFilePointerEx(h, before, nullptr, FILE_BEGIN) || !SetEndOfFile(h))) {
                error += "; the part written could not be taken out: " + reason();
            }
        }
    }
    close_locked(h);
    return error;
}

std::optional<std::string> read_under_lock(const std::string& path, std::string& error) {
    const HANDLE h = open_locked(path, false, error);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string text;
    char buffer[65536];
    DWORD n = 0;
    for (;;) {
        if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) {
            error = reason();
            close_locked(h);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, n);
    }
    close_locked(h);
    return text;
}

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return {};
    return std::string(name, size);
}

std::tm local_fields(std::time_t t) {
    std::tm fields{};
    localtime_s(&fields, &t);
    return fields;
}

}  // namespace cli
