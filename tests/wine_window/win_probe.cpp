// Reads and steers another program's window for the tests under Wine. It runs
// in the prefix of the program under test and asks the window itself, with
// messages Wine carries between processes: texts come by WM_GETTEXT, states by
// messages whose answer is a number. Messages that carry pointers (WM_NOTIFY,
// GetComboBoxInfo) do not reach another process under Wine.
//
//   win_probe.exe [-c CLASS] COMMAND ...
//     windows                       hwnd pid owner visible class title
//     wait-window TITLE [MS]        exit 0 once a visible window has the title
//     wait-gone TITLE [MS]          exit 0 once none has
//     dump TITLE                    one line per control, all levels down
//     text TITLE ID                 the control's text
//     set-tab TITLE ID INDEX        selects a tab as a click would
//     close TITLE                   posts WM_CLOSE
//
// TITLE "*" stands for any title; -c limits the windows to a class, as
// "#32770" for message boxes. Fields are tab-separated; a tab, line feed,
// carriage return or backslash inside a text is written \t, \n, \r or \\.
// Exit status 1 when the window or control is not there, 2 for a wrong
// command line.

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <utility>

namespace {

std::wstring g_class;  // from -c; empty for any

std::string utf8(const std::wstring& w) {
    std::string out(w.size() * 3, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::string escaped(const std::wstring& w) {
    std::string out;
    for (char c : utf8(w)) {
        const auto k = std::string_view("\t\n\r\\").find(c);
        if (k != std::string_view::npos) out += '\\', c = "tnr\\"[k];
        out += c;
    }
    return out;
}

// A window that stopped answering must not stop the probe.
LRESULT ask(HWND h, UINT msg, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, 5000, &result)) return -1;
    return static_cast<LRESULT>(result);
}

std::wstring text_of(HWND h) {
    std::wstring buf(static_cast<std::size_t>(std::max<LRESULT>(ask(h, WM_GETTEXTLENGTH), 0)) + 1,
                     L'\0');
    const LRESULT n = ask(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
}

// The class without the version prefix that visual-style classes may carry.
std::wstring class_of(HWND h) {
    wchar_t name[256] = {};
    GetClassNameW(h, name, 256);
    const wchar_t* bang = std::wcschr(name, L'!');
    return bang ? bang + 1 : name;
}

HWND find_window(const std::wstring& title) {
    const wchar_t* cls = g_class.empty() ? nullptr : g_class.c_str();
    const wchar_t* name = title == L"*" ? nullptr : title.c_str();
    HWND h = nullptr;
    while ((h = FindWindowExW(nullptr, h, cls, name)) && !IsWindowVisible(h)) {
    }
    return h;
}

// The first control with the id, at any depth.
HWND find_control(const std::wstring& title, const wchar_t* id) {
    std::pair<int, HWND> wanted{_wtoi(id), nullptr};
    if (HWND top = find_window(title)) {
        EnumChildWindows(
            top,
            [](HWND h, LPARAM l) -> BOOL {
                auto* w = reinterpret_cast<std::pair<int, HWND>*>(l);
                if (GetDlgCtrlID(h) == w->first) w->second = h;
                return !w->second;
            },
            reinterpret_cast<LPARAM>(&wanted));
    }
    return wanted.second;
}

// id parent class text enabled visible focused check pos sel count left top
// right bottom; -1 where a state does not belong to the class.
BOOL CALLBACK print_control(HWND h, LPARAM focus) {
    const std::wstring cls = class_of(h);
    auto is = [&](const wchar_t* name) { return _wcsicmp(cls.c_str(), name) == 0; };
    LRESULT check = -1, pos = -1, sel = -1, count = -1;
    if (is(L"Button")) check = ask(h, BM_GETCHECK);
    if (is(PROGRESS_CLASSW)) pos = ask(h, PBM_GETPOS);
    if (is(TRACKBAR_CLASSW)) pos = ask(h, TBM_GETPOS);
    if (is(WC_TABCONTROLW)) sel = ask(h, TCM_GETCURSEL), count = ask(h, TCM_GETITEMCOUNT);
    if (is(L"ComboBox")) sel = ask(h, CB_GETCURSEL), count = ask(h, CB_GETCOUNT);
    if (is(L"ListBox")) sel = ask(h, LB_GETCURSEL), count = ask(h, LB_GETCOUNT);
    if (is(WC_LISTVIEWW)) count = ask(h, LVM_GETITEMCOUNT);
    if (is(L"Edit")) count = ask(h, EM_GETLINECOUNT);
    RECT r{};
    GetWindowRect(h, &r);
    HWND parent = GetParent(h);
    std::printf("%d\t%d\t%s\t%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%ld\t%ld\t%ld\t%ld\n", GetDlgCtrlID(h),
                parent ? GetDlgCtrlID(parent) : 0, utf8(cls).c_str(), escaped(text_of(h)).c_str(),
                IsWindowEnabled(h) ? 1 : 0, IsWindowVisible(h) ? 1 : 0,
                h == reinterpret_cast<HWND>(focus) ? 1 : 0, static_cast<int>(check),
                static_cast<int>(pos), static_cast<int>(sel), static_cast<int>(count), r.left,
                r.top, r.right, r.bottom);
    return TRUE;
}

// hwnd pid owner visible class title
BOOL CALLBACK print_window(HWND h, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    const std::wstring cls = class_of(h);
    if (g_class.empty() || _wcsicmp(cls.c_str(), g_class.c_str()) == 0) {
        std::printf("%p\t%lu\t%p\t%d\t%s\t%s\n", static_cast<void*>(h), pid,
                    static_cast<void*>(GetWindow(h, GW_OWNER)), IsWindowVisible(h) ? 1 : 0,
                    utf8(cls).c_str(), escaped(text_of(h)).c_str());
    }
    return TRUE;
}

int wait_for(const std::wstring& title, const wchar_t* ms, bool present) {
    const DWORD limit = ms ? std::wcstoul(ms, nullptr, 10) : 30000;
    for (const DWORD start = GetTickCount(); (find_window(title) != nullptr) != present;
         Sleep(20)) {
        if (GetTickCount() - start > limit) return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int a = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"-c") == 0) {
        g_class = argv[2];
        a = 3;
    }
    const int n = argc - a;
    const std::wstring cmd = n > 0 ? argv[a] : L"";
    const std::wstring title = n > 1 ? argv[a + 1] : L"";
    if (cmd == L"windows" && n == 1) return EnumWindows(print_window, 0), 0;
    if (cmd == L"wait-window" && (n == 2 || n == 3)) return wait_for(title, argv[a + 2], true);
    if (cmd == L"wait-gone" && (n == 2 || n == 3)) return wait_for(title, argv[a + 2], false);
    if (cmd == L"dump" && n == 2) {
        HWND top = find_window(title);
        if (!top) return 1;
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gui);
        EnumChildWindows(top, print_control, reinterpret_cast<LPARAM>(gui.hwndFocus));
        return 0;
    }
    const bool by_id = (cmd == L"text" && n == 3) || (cmd == L"set-tab" && n == 4);
    HWND control = by_id ? find_control(title, argv[a + 2]) : nullptr;
    if (by_id && !control) return 1;
    if (cmd == L"text" && n == 3) return std::printf("%s\n", escaped(text_of(control)).c_str()) < 0;
    if (cmd == L"set-tab" && n == 4) {
        // As a click does, with the notifications to the tab control's parent.
        const int index = _wtoi(argv[a + 3]);
        ask(control, TCM_SETCURFOCUS, static_cast<WPARAM>(index));
        return ask(control, TCM_GETCURSEL) != index;
    }
    if (cmd == L"close" && n == 2) {
        HWND top = find_window(title);
        return !(top && PostMessageW(top, WM_CLOSE, 0, 0));
    }
    std::fprintf(stderr,
                 "usage: win_probe.exe [-c CLASS] windows | wait-window TITLE [MS] | "
                 "wait-gone TITLE [MS] | dump TITLE | text TITLE ID | "
                 "set-tab TITLE ID INDEX | close TITLE\n");
    return 2;
}
