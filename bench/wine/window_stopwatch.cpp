// Times an operation of another program's window from inside the same Wine
// prefix, and how long the window took to answer meanwhile.
//
//   window_stopwatch.exe text  TITLE BUTTON TEXT WORDS LIMIT_MS
//       clicks the button and times until the text control holds WORDS
//   window_stopwatch.exe file  TITLE BUTTON PATH LIMIT_MS
//       clicks the button, answers the save dialog that comes up with PATH
//       (a Windows path) and times from its OK until the file exists
//
// Every millisecond it asks the window for its text control's text (or the
// caption): the window answers only when it runs its messages, so the
// slowest answer is how long the window was unresponsive. Prints
// "seconds=S worst_answer_ms=W worst_later_ms=L answers=N" (L: the slowest
// past the first second); exit status 1 when the limit passed first.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

HWND find_window(const wchar_t* title) {
    for (int i = 0; i < 10000; ++i) {
        if (HWND h = FindWindowW(nullptr, title)) return h;
        Sleep(1);
    }
    return nullptr;
}

struct Answers {
    explicit Answers(Clock::time_point start) : start_(start) {}
    double worst_ms = 0;
    // Past the operation's first second, which may hold one long prescribed
    // read (a write's look for stale input).
    double worst_later_ms = 0;
    long count = 0;
    // The window's text (or its control's); empty when it did not answer.
    std::wstring ask(HWND h) {
        wchar_t text[4096] = {};
        DWORD_PTR copied = 0;
        const auto start = Clock::now();
        const bool ok = SendMessageTimeoutW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                                            SMTO_NORMAL, 10000, &copied);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        worst_ms = ms > worst_ms ? ms : worst_ms;
        if (start - start_ > std::chrono::seconds(1)) worst_later_ms = ms > worst_later_ms ? ms : worst_later_ms;
        ++count;
        return ok ? std::wstring(text, copied) : std::wstring();
    }
    Clock::time_point start_;
};

// The control `id` anywhere in `window`, pages of a tab control included.
HWND control(HWND window, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        window,
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (GetDlgCtrlID(h) != s->id) return TRUE;
            s->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The save dialog the click brought up: a dialog of this process's window's
// process other than the window itself.
HWND save_dialog(HWND owner) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    struct Search {
        DWORD pid;
        HWND found;
    } search{pid, nullptr};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            wchar_t cls[16] = {};
            GetClassNameW(h, cls, 16);
            if (pid == s->pid && IsWindowVisible(h) && std::wcscmp(cls, L"#32770") == 0 &&
                FindWindowExW(h, nullptr, L"Button", nullptr)) {
                s->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The file name box of a common save dialog: its edit (old style, id 1152)
// or the edit somewhere inside its combo box (Explorer style, id 1148).
HWND file_name_box(HWND dialog) {
    if (HWND edit = GetDlgItem(dialog, 1152)) return edit;
    HWND combo = GetDlgItem(dialog, 1148);
    HWND edit = nullptr;
    if (combo) {
        EnumChildWindows(
            combo,
            [](HWND h, LPARAM p) -> BOOL {
                wchar_t cls[8] = {};
                GetClassNameW(h, cls, 8);
                if (std::wcscmp(cls, L"Edit") != 0) return TRUE;
                *reinterpret_cast<HWND*>(p) = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&edit));
    }
    return edit;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!((mode == L"text" && argc == 7) || (mode == L"file" && argc == 6))) {
        std::fprintf(stderr, "usage: window_stopwatch.exe text|file ...\n");
        return 2;
    }
    HWND window = find_window(argv[2]);
    if (!window) return 1;
    HWND button = control(window, _wtoi(argv[3]));
    if (!button) return 1;
    const auto limit = std::chrono::milliseconds(_wtoi(argv[argc - 1]));
    PostMessageW(button, BM_CLICK, 0, 0);
    auto start = Clock::now();
    HWND text = window;
    if (mode == L"file") {
        HWND dialog = nullptr;
        while (!(dialog = save_dialog(window))) {
            if (Clock::now() - start > limit) return 1;
            Sleep(1);
        }
        HWND name = file_name_box(dialog);
        if (!name) return 1;
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        start = Clock::now();
    } else {
        text = control(window, _wtoi(argv[4]));
    }
    Answers answers(start);
    for (;;) {
        const std::wstring now = answers.ask(text);
        const bool done = mode == L"text" ? now.find(argv[5]) != std::wstring::npos
                                          : GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (done) {
            std::printf("seconds=%.3f worst_answer_ms=%.1f worst_later_ms=%.1f answers=%ld\n", seconds,
                        answers.worst_ms, answers.worst_later_ms, answers.count);
            return 0;
        }
        if (Clock::now() - start > limit) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
