// Trace files on Windows: a handle opened for writing, others may read it
// while the trace grows.

#include <windows.h>

#include "serial/trace_file.h"

namespace {

std::string system_words(DWORD code) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text, nullptr);
    std::string words(text, n);
    while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == '.'))
        words.pop_back();
    return words.empty() ? "error " + std::to_string(code) : words;
}

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool TraceFile::create(const std::string& path, std::string& error) {
    close();
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = system_words(GetLastError());
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

bool TraceFile::append(const char* data, std::size_t size, std::string& error) {
    if (handle_ == kNone) {
        error = system_words(ERROR_INVALID_HANDLE);
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        const DWORD piece = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(as_handle(handle_), data + done, piece, &written, nullptr)) {
            error = system_words(GetLastError());
            return false;
        }
        if (written == 0) {
            error = system_words(ERROR_DISK_FULL);
            return false;
        }
        done += written;
    }
    return true;
}

void TraceFile::close() {
    if (handle_ == kNone) return;
    CloseHandle(as_handle(handle_));
    handle_ = kNone;
}
