#include "win32/main_window_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "win32/control_ids.h"
#include "win32/dialogs_win32.h"
#include "win32/text_win32.h"
#include "window/window_texts.h"

namespace {

const wchar_t* const kClassName = L"KorvaneFirmwareUtility";
constexpr UINT kFormShow = WM_APP + 1;
constexpr int kBottomPanel = 105;
constexpr int kSplitter = 3;
constexpr int kProgressHeight = 16;
constexpr int kPanel1 = 21;

int timer_id(Timer t) { return static_cast<int>(t) + 1; }

struct Child {
    int id;
    Ctl ctl;
};
constexpr Child kChildren[] = {
    {IDC_cmbCommand, Ctl::cmbCommand},
    {IDC_BtnCmd, Ctl::BtnCmd},
    {IDC_chkClearOnSend, Ctl::chkClearOnSend},
    {IDC_MotorID, Ctl::MotorID},
    {IDC_test_con_Btn, Ctl::test_con_Btn},
    {IDC_poll, Ctl::poll},
    {IDC_DebugLogCheckBox, Ctl::DebugLogCheckBox},
    {IDC_chkUSBCompatibility, Ctl::chkUSBCompatibility},
    {IDC_ActionBtn, Ctl::ActionBtn},
    {IDC_ClearEepromButton, Ctl::ClearEepromButton},
    {IDC_AutoFlashButton, Ctl::AutoFlashButton},
    {IDC_disconnectComCheckBox, Ctl::disconnectComCheckBox},
    {IDC_Firmware_View, Ctl::Firmware_View},
    {IDC_Java_View, Ctl::Java_View},
    {IDC_Config_View, Ctl::Config_View},
    {IDC_LogSendCheckBox, Ctl::LogSendCheckBox},
    {IDC_RepeatCheckBox, Ctl::RepeatCheckBox},
    {IDC_saveLogCheckBox, Ctl::saveLogCheckBox},
    {IDC_ComPortComboBox, Ctl::ComPortComboBox},
    {IDC_BaudrateComboBox, Ctl::BaudrateComboBox},
    {IDC_TimeoutComboBox, Ctl::TimeoutComboBox},
    {IDC_BootloaderBaudCheckBox, Ctl::BootloaderBaudCheckBox},
};

// The controls of each tab, shown while it is the current one.
const std::vector<int> kPages[] = {
    {IDC_Firmware_View},
    {IDC_Java_View},
    {IDC_Config_View, IDC_LogSendCheckBox, IDC_RepeatCheckBox, IDC_saveLogCheckBox},
    {IDC_btnDumpEEProm, IDC_btnCoreDump, IDC_btnBootCrash},
};

bool is_port_dialog_control(Ctl c) {
    return c == Ctl::ComPortComboBox || c == Ctl::BaudrateComboBox || c == Ctl::TimeoutComboBox ||
           c == Ctl::BootloaderBaudCheckBox;
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance)
    : WindowLogic(static_cast<WindowView&>(*this)), instance_(instance) {
    for (int d = 0; d < 5; ++d) {
        file_names_[d] = wide(file_dialog_settings(static_cast<FileDialog>(d)).file_name);
    }
}

Win32MainWindow::~Win32MainWindow() {
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
    if (ui_font_) DeleteObject(ui_font_);
    if (memo_font_) DeleteObject(memo_font_);
}

bool Win32MainWindow::create(int show) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return false;

    create_menu();
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, wide(kWindowCaption).c_str(),
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu_, instance_, this);
    if (!hwnd_) return false;
    dpi_ = static_cast<int>(GetDpiForWindow(hwnd_));
    create_controls();
    port_dialog_ = create_port_dialog(instance_, hwnd_, *this);
    about_ = create_about_box(instance_, hwnd_);
    howto_ = create_howto_box(instance_, hwnd_);
    apply_fonts();
    FormCreate();

    // The client area the window was designed for, in the middle of the screen.
    RECT frame{0, 0, scaled(521), scaled(573)};
    AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, TRUE, WS_EX_CONTROLPARENT,
                             static_cast<UINT>(dpi_));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    MONITORINFO screen{};
    screen.cbSize = sizeof screen;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &screen);
    const RECT& work = screen.rcWork;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
                 work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER);
    show_page(0);
    PageControlChange();
    quiet_ = false;
    focus_ = item(IDC_cmbCommand);
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    SetFocus(focus_);
    window_shown();
    // After the window is on the screen, so the modal dialog has its owner
    // to sit on.
    PostMessageW(hwnd_, kFormShow, 0, 0);
    return true;
}

int Win32MainWindow::run() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        dispatch(msg);
        // A close that came while an operation ran takes effect once it is over.
        if (close_pending_ && !Guard.busy() && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    }
    return static_cast<int>(msg.wParam);
}

bool Win32MainWindow::dispatch(MSG& msg) {
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (accelerators_ && TranslateAcceleratorW(hwnd_, accelerators_, &msg)) return true;
    for (HWND dialog : {port_dialog_, about_, howto_, hwnd_}) {
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) return true;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void Win32MainWindow::let_events_run() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!dispatch(msg)) return;
    }
}

void Win32MainWindow::wait_cmd_timer(int interval_ms) {
    start_timer(Timer::cmdTimer, interval_ms);
    MSG msg;
    while (timer_active(Timer::cmdTimer) && !stop_requested()) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        dispatch(msg);
    }
}

LRESULT CALLBACK Win32MainWindow::window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    // No exception may cross the system's code back to the message loop.
    try {
        return self->handle(msg, wp, lp);
    } catch (const std::exception& e) {
        self->show_box(e.what(), "Error", BoxIcon::Error, BoxOwner::MainWindow);
    } catch (...) {
        self->show_box("An unknown error occurred.", "Error", BoxIcon::Error, BoxOwner::MainWindow);
    }
    return 0;
}

LRESULT Win32MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            on_command(LOWORD(wp), HIWORD(wp));
            return 0;
        case WM_NOTIFY: {
            const auto* n = reinterpret_cast<const NMHDR*>(lp);
            if (n->hwndFrom == tabs_ && n->code == TCN_SELCHANGE) {
                show_page(current_page());
                PageControlChange();
            }
            return 0;
        }
        case WM_TIMER:
            switch (static_cast<int>(wp)) {
                case 1: poll_timerTimer(); break;
                case 2: DebugLogTimerTimer(); break;
                case 3: cmdTimerTimer(); break;
            }
            return 0;
        case kFormShow:
            FormShow();
            return 0;
        case WM_SIZE:
            layout();
            return 0;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wp);
            apply_fonts();
            const RECT* r = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_ACTIVATE:
            // The control that had the keys gets them back.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND f = GetFocus();
                if (f && IsChild(hwnd_, f)) focus_ = f;
            } else if (focus_ && IsWindow(focus_)) {
                SetFocus(focus_);
                return 0;
            }
            break;
        case WM_SETCURSOR:
            if (LOWORD(lp) == HTCLIENT && reinterpret_cast<HWND>(wp) == hwnd_) {
                POINT p;
                GetCursorPos(&p);
                ScreenToClient(hwnd_, &p);
                if (p.y >= scaled(tab_height_) && p.y < scaled(tab_height_ + kSplitter)) {
                    SetCursor(LoadCursorW(nullptr, IDC_SIZENS));
                    return TRUE;
                }
            }
            break;
        case WM_LBUTTONDOWN: {
            const int y = GET_Y_LPARAM(lp);
            if (y >= scaled(tab_height_) && y < scaled(tab_height_ + kSplitter)) {
                drag_offset_ = y - scaled(tab_height_);
                SetCapture(hwnd_);
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            if (drag_offset_ >= 0) {
                RECT client;
                GetClientRect(hwnd_, &client);
                const int room = MulDiv(client.bottom, 96, dpi_) - kBottomPanel - kSplitter - kProgressHeight - 20;
                tab_height_ = std::clamp(MulDiv(GET_Y_LPARAM(lp) - drag_offset_, 96, dpi_), 60,
                                         std::max(60, room));
                layout();
            }
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            if (drag_offset_ >= 0) {
                drag_offset_ = -1;
                if (msg == WM_LBUTTONUP) ReleaseCapture();
            }
            return 0;
        case WM_CLOSE:
            // The program ends only when the handler under way returns, so
            // that handler has to be told.
            window_closing();
            if (Guard.busy()) {
                close_pending_ = true;
                ShowWindow(hwnd_, SW_HIDE);
            } else {
                DestroyWindow(hwnd_);
            }
            return 0;
        case WM_DESTROY:
            FormDestroy();
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Win32MainWindow::on_command(int id, int code) {
    switch (id) {
        case IDM_Open1: Open1Click(); break;
        case IDM_Save: SaveClick(); break;
        case IDM_Exit1: PostMessageW(hwnd_, WM_CLOSE, 0, 0); break;
        case IDM_SelectComPort1: SelectComPort1Click(); break;
        case IDM_TraceSerialLine1:
            // The item checks itself on the click, as a checkable item does.
            set_checked(Ctl::TraceSerialLine1, !checked(Ctl::TraceSerialLine1));
            TraceSerialLine1Click();
            break;
        case IDM_clearCommandWindow: clearCommandWindowClick(); break;
        case IDM_clearLogwindow: clearLogwindowClick(); break;
        case IDM_About1: ShowWindow(about_, SW_SHOW); SetForegroundWindow(about_); break;
        case IDM_howto1: ShowWindow(howto_, SW_SHOW); SetForegroundWindow(howto_); break;
        case IDC_cmbCommand:
        case IDC_MotorID: on_combo_edit(id, code); break;
        default:
            if (code != BN_CLICKED) break;
            switch (id) {
                case IDC_BtnCmd: BtnCmdClick(); break;
                case IDC_test_con_Btn: test_con_BtnClick(); break;
                case IDC_poll: pollClick(); break;
                case IDC_DebugLogCheckBox: DebugLogCheckBoxClick(); break;
                case IDC_disconnectComCheckBox: disconnectComCheckBoxClick(); break;
                case IDC_ActionBtn: cmbCommandkeydown(); break;
                case IDC_AutoFlashButton: AutoFlashButtonClick(); break;
                case IDC_ClearEepromButton: ClearEepromButtonClick(); break;
                case IDC_btnDumpEEProm: btnDumpEEPromClick(); break;
                case IDC_btnCoreDump: btnCoreDumpClick(); break;
                case IDC_btnBootCrash: btnBootCrashClick(); break;
            }
    }
}

void Win32MainWindow::on_combo_edit(int id, int code) {
    if (quiet_) return;
    const Ctl ctl = id == IDC_cmbCommand ? Ctl::cmbCommand : Ctl::MotorID;
    if (code == CBN_SELCHANGE) {
        // The edit takes the chosen entry's text only after this message.
        HWND box = item(id);
        const LRESULT index = SendMessageW(box, CB_GETCURSEL, 0, 0);
        if (index == CB_ERR) return;
        const std::vector<std::string> list = items(ctl);
        set_text(ctl, list[static_cast<std::size_t>(index)]);
    } else if (code == CBN_EDITCHANGE) {
        ctl == Ctl::cmbCommand ? cmbCommandChange() : MotorIDChange();
    }
}

LRESULT CALLBACK Win32MainWindow::command_edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                                    UINT_PTR, DWORD_PTR self) {
    auto* w = reinterpret_cast<Win32MainWindow*>(self);
    switch (msg) {
        case WM_GETDLGCODE:
            // Without this the dialog keyboard handling takes Enter for itself.
            if (lp && reinterpret_cast<const MSG*>(lp)->message == WM_KEYDOWN &&
                reinterpret_cast<const MSG*>(lp)->wParam == VK_RETURN) {
                return DefSubclassProc(hwnd, msg, wp, lp) | DLGC_WANTALLKEYS;
            }
            break;
        case WM_KEYDOWN:
            if (wp == VK_RETURN) {
                try {
                    w->cmbCommandKeyPress('\r');
                } catch (const std::exception& e) {
                    w->show_box(e.what(), "Error", BoxIcon::Error, BoxOwner::MainWindow);
                }
                return 0;
            }
            break;
        case WM_CHAR:
            if (wp == '\r') return 0;  // no beep
            break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32MainWindow::script_view_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                   DWORD_PTR) {
    // Tab types a tab into the script, as in the Linux window; the other
    // views pass it on to the next control.
    if (msg == WM_GETDLGCODE) return DefSubclassProc(hwnd, msg, wp, lp) | DLGC_WANTTAB;
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32MainWindow::tabs_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                            DWORD_PTR self) {
    // The pages' controls are children of the tab control; their messages
    // belong to the window.
    if (msg == WM_COMMAND || msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
        return SendMessageW(reinterpret_cast<Win32MainWindow*>(self)->hwnd_, msg, wp, lp);
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// --- building ---

void Win32MainWindow::create_menu() {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDM_Open1, L"&Open");
    AppendMenuW(file, MF_STRING | MF_GRAYED, IDM_Save, L"&Save");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IDM_Exit1, L"&Exit");
    HMENU config = CreatePopupMenu();
    AppendMenuW(config, MF_STRING, IDM_SelectComPort1, L"&Select Com Port");
    AppendMenuW(config, MF_STRING, IDM_TraceSerialLine1, L"Trace serial line\u2026");
    HMENU edit = CreatePopupMenu();
    AppendMenuW(edit, MF_STRING, IDM_clearCommandWindow, L"clear &Command window");
    AppendMenuW(edit, MF_STRING, IDM_clearLogwindow, L"clear &Log window\tCtrl+L");
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, IDM_About1, L"&About");
    AppendMenuW(help, MF_STRING, IDM_howto1, L"How to");
    menu_ = CreateMenu();
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(config), L"&Configuration");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), L"&Edit");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    ACCEL clear_log{FCONTROL | FVIRTKEY, 'L', IDM_clearLogwindow};
    accelerators_ = CreateAcceleratorTableW(&clear_log, 1);
}

void Win32MainWindow::create_controls() {
    const auto make = [this](HWND parent, const wchar_t* cls, const wchar_t* caption, DWORD style,
                             int id, DWORD ex = 0) {
        return CreateWindowExW(ex, cls, caption, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    };
    const DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP;
    const DWORD memo = WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_TABSTOP;
    const DWORD combo = CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;

    // In the order the Tab key goes through them, as in the Linux window.
    tabs_ = make(hwnd_, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, IDC_PageControl,
                 WS_EX_CONTROLPARENT);
    SetWindowSubclass(tabs_, tabs_proc, 1, reinterpret_cast<DWORD_PTR>(this));
    for (int i = 0; i < 4; ++i) {
        std::wstring caption = wide(kPageCaptions[i]);
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = caption.data();
        SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tab));
    }
    make(tabs_, L"EDIT", L"", memo | WS_HSCROLL | ES_AUTOHSCROLL | ES_READONLY, IDC_Firmware_View,
         WS_EX_CLIENTEDGE);
    make(tabs_, L"EDIT", L"", memo | WS_HSCROLL | ES_AUTOHSCROLL | ES_READONLY, IDC_Java_View,
         WS_EX_CLIENTEDGE);
    make(tabs_, L"EDIT", L"", memo | WS_HSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN, IDC_Config_View,
         WS_EX_CLIENTEDGE);
    make(tabs_, L"BUTTON", L"Log send Messages", check, IDC_LogSendCheckBox);
    make(tabs_, L"BUTTON", L"Repeat", check, IDC_RepeatCheckBox);
    make(tabs_, L"BUTTON", L"Save Log", check, IDC_saveLogCheckBox);
    make(tabs_, L"BUTTON", L"EEProm Dump", WS_TABSTOP, IDC_btnDumpEEProm);
    make(tabs_, L"BUTTON", L"Core Dump", WS_TABSTOP, IDC_btnCoreDump);
    make(tabs_, L"BUTTON", L"Bootloader Crash Dump", WS_TABSTOP, IDC_btnBootCrash);
    make(tabs_, L"BUTTON", L"Com Port freigeben", check, IDC_disconnectComCheckBox);
    for (int id : {IDC_Firmware_View, IDC_Java_View, IDC_Config_View}) {
        SendMessageW(item(id), EM_SETLIMITTEXT, 0, 0);
    }
    set_checked(Ctl::LogSendCheckBox, true);

    make(hwnd_, PROGRESS_CLASSW, L"", PBS_SMOOTH, IDC_ProgressBar);
    set_progress_range(0, 255);
    make(hwnd_, L"EDIT", L"", memo | ES_READONLY, IDC_Message, WS_EX_CLIENTEDGE);
    SendMessageW(item(IDC_Message), EM_SETLIMITTEXT, 0, 0);

    make(hwnd_, WC_COMBOBOXW, L"", combo, IDC_cmbCommand);
    make(hwnd_, L"BUTTON", L"Send Command", WS_TABSTOP, IDC_BtnCmd);
    make(hwnd_, L"BUTTON", L"Clear on Send", check, IDC_chkClearOnSend);
    make(hwnd_, L"STATIC", L"Motor Number:", SS_LEFT | SS_CENTERIMAGE, IDC_Label1);
    make(hwnd_, WC_COMBOBOXW, L"", combo, IDC_MotorID);
    SetWindowTextW(item(IDC_MotorID), L"1");
    make(hwnd_, L"BUTTON", L"Test", WS_TABSTOP, IDC_test_con_Btn);
    make(hwnd_, L"BUTTON", L"Enable Polling", check, IDC_poll);
    make(hwnd_, L"BUTTON", L"DebugLog", check, IDC_DebugLogCheckBox);
    make(hwnd_, L"BUTTON", L"USB Compatibility", check, IDC_chkUSBCompatibility);
    set_checked(Ctl::chkUSBCompatibility, true);
    make(hwnd_, L"BUTTON", L"Write Firmware", WS_TABSTOP | WS_DISABLED, IDC_ActionBtn);
    make(hwnd_, L"BUTTON", L"AutoFlash", WS_TABSTOP | WS_DISABLED, IDC_AutoFlashButton);
    make(hwnd_, L"BUTTON", L"Clear EEPROM", WS_TABSTOP, IDC_ClearEepromButton);

    SetWindowSubclass(item(IDC_Config_View), script_view_proc, 1, 0);
    // Enter in the command box sends.
    HWND command_edit = FindWindowExW(item(IDC_cmbCommand), nullptr, L"Edit", nullptr);
    SetWindowSubclass(command_edit, command_edit_proc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void Win32MainWindow::apply_fonts() {
    if (ui_font_) DeleteObject(ui_font_);
    if (memo_font_) DeleteObject(memo_font_);
    ui_font_ = CreateFontW(-MulDiv(8, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"MS Shell Dlg 2");
    memo_font_ = CreateFontW(-MulDiv(10, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, FIXED_PITCH | FF_MODERN,
                             L"Courier New");
    EnumChildWindows(
        hwnd_,
        [](HWND child, LPARAM self) -> BOOL {
            auto* w = reinterpret_cast<Win32MainWindow*>(self);
            const int id = GetDlgCtrlID(child);
            const bool memo = id == IDC_Firmware_View || id == IDC_Java_View ||
                              id == IDC_Config_View || id == IDC_Message;
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(memo ? w->memo_font_ : w->ui_font_),
                         TRUE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    layout();
}

void Win32MainWindow::layout() {
    if (!tabs_) return;
    RECT client;
    GetClientRect(hwnd_, &client);
    const int W = client.right, H = client.bottom;
    const int bottom = scaled(kBottomPanel);
    const int tab_h = std::min(scaled(tab_height_), std::max(0, H - bottom - scaled(kSplitter + kProgressHeight)));
    const auto place = [](HWND h, int x, int y, int w, int hgt) {
        MoveWindow(h, x, y, std::max(0, w), std::max(0, hgt), TRUE);
    };

    place(tabs_, 0, 0, W, tab_h);
    RECT page{0, 0, W, tab_h};
    SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    const int pw = page.right - page.left, ph = page.bottom - page.top;
    for (int id : {IDC_Firmware_View, IDC_Java_View}) place(item(id), page.left, page.top, pw, ph);
    const int panel = scaled(kPanel1);
    place(item(IDC_Config_View), page.left, page.top, pw, ph - panel);
    const int third = (pw - scaled(8)) / 3;
    int x = page.left + scaled(4);
    for (int id : {IDC_LogSendCheckBox, IDC_RepeatCheckBox, IDC_saveLogCheckBox}) {
        place(item(id), x, page.bottom - panel, third, panel);
        x += third;
    }
    int y = page.top + scaled(6);
    for (int id : {IDC_btnDumpEEProm, IDC_btnCoreDump, IDC_btnBootCrash}) {
        place(item(id), page.left + scaled(6), y, scaled(160), scaled(25));
        y += scaled(31);
    }
    // In the tab strip's free corner.
    RECT strip{};
    SendMessageW(tabs_, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&strip));
    const int corner_w = scaled(130);
    place(item(IDC_disconnectComCheckBox), W - corner_w - scaled(4), strip.top, corner_w,
          strip.bottom - strip.top);

    const int progress_y = tab_h + scaled(kSplitter);
    place(item(IDC_ProgressBar), 0, progress_y, W, scaled(kProgressHeight));
    progress_width_ = W;
    progress_column_ = -1;
    const int message_y = progress_y + scaled(kProgressHeight);
    place(item(IDC_Message), 0, message_y, W, H - bottom - message_y);

    // The bottom panel: five columns, the first three sharing what the last
    // two leave.
    const int mx = scaled(8), my = scaled(6), gap_x = scaled(8), gap_y = scaled(6);
    const int col4 = scaled(120), col3 = scaled(100);
    const int flex = std::max(0, (W - 2 * mx - col3 - col4 - 4 * gap_x) / 3);
    const int cx[5] = {mx, mx + flex + gap_x, mx + 2 * (flex + gap_x), mx + 3 * (flex + gap_x),
                       mx + 3 * (flex + gap_x) + col3 + gap_x};
    const int row_h = (bottom - 2 * my - 2 * gap_y) / 3;
    const int top = H - bottom + my;
    const auto row = [&](int r) { return top + r * (row_h + gap_y); };
    place(item(IDC_cmbCommand), cx[0], row(0), 3 * flex + 2 * gap_x, scaled(200));
    place(item(IDC_BtnCmd), cx[3], row(0), col3, row_h);
    place(item(IDC_chkClearOnSend), cx[4], row(0), col4, row_h);
    place(item(IDC_Label1), cx[0], row(1), flex, row_h);
    place(item(IDC_MotorID), cx[1], row(1), flex, scaled(300));
    place(item(IDC_test_con_Btn), cx[2], row(1), flex, row_h);
    place(item(IDC_poll), cx[3], row(1), col3, row_h);
    place(item(IDC_DebugLogCheckBox), cx[4], row(1), col4, row_h);
    place(item(IDC_ActionBtn), cx[0], row(2), 2 * flex + gap_x, row_h);
    place(item(IDC_AutoFlashButton), cx[2], row(2), flex, row_h);
    place(item(IDC_ClearEepromButton), cx[3], row(2), col3, row_h);
    place(item(IDC_chkUSBCompatibility), cx[4], row(2), col4, row_h);
}

void Win32MainWindow::show_page(int page) {
    for (int p = 0; p < 4; ++p) {
        for (int id : kPages[p]) ShowWindow(item(id), p == page ? SW_SHOW : SW_HIDE);
    }
}

HWND Win32MainWindow::item(int id) const {
    if (HWND h = GetDlgItem(hwnd_, id)) return h;
    return GetDlgItem(tabs_, id);
}

HWND Win32MainWindow::control(Ctl c) const {
    for (const Child& child : kChildren) {
        if (child.ctl != c) continue;
        return is_port_dialog_control(c) ? GetDlgItem(port_dialog_, child.id) : item(child.id);
    }
    return nullptr;
}

// --- WindowView ---

std::string Win32MainWindow::text(Ctl c) const { return bytes(window_text(control(c))); }

void Win32MainWindow::set_text(Ctl c, const std::string& value) {
    const bool was_quiet = quiet_;
    quiet_ = true;
    SetWindowTextW(control(c), wide(value).c_str());
    quiet_ = was_quiet;
    // A change from code runs the box's handler as typing would.
    if (quiet_) return;
    if (c == Ctl::cmbCommand) cmbCommandChange();
    if (c == Ctl::MotorID) MotorIDChange();
}

bool Win32MainWindow::checked(Ctl c) const {
    if (c == Ctl::TraceSerialLine1) {
        return GetMenuState(menu_, IDM_TraceSerialLine1, MF_BYCOMMAND) & MF_CHECKED;
    }
    return SendMessageW(control(c), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32MainWindow::set_checked(Ctl c, bool on) {
    if (c == Ctl::TraceSerialLine1) {
        CheckMenuItem(menu_, IDM_TraceSerialLine1, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
        return;
    }
    SendMessageW(control(c), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32MainWindow::set_enabled(Ctl c, bool enabled) {
    if (c == Ctl::Save || c == Ctl::TraceSerialLine1) {
        EnableMenuItem(menu_, c == Ctl::Save ? IDM_Save : IDM_TraceSerialLine1,
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        return;
    }
    EnableWindow(control(c), enabled);
}

std::vector<std::string> Win32MainWindow::items(Ctl c) const {
    HWND box = control(c);
    const int count = static_cast<int>(SendMessageW(box, CB_GETCOUNT, 0, 0));
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(std::max(0, count)));
    for (int i = 0; i < count; ++i) {
        std::wstring entry(static_cast<std::size_t>(SendMessageW(box, CB_GETLBTEXTLEN, i, 0)), L'\0');
        SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data()));
        list.push_back(bytes(entry));
    }
    return list;
}

void Win32MainWindow::set_items(Ctl c, const std::vector<std::string>& list) {
    HWND box = control(c);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : list) {
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(entry).c_str()));
    }
    // As the Linux window's boxes do: a list filled anew shows its first entry.
    if (!list.empty()) SendMessageW(box, CB_SETCURSEL, 0, 0);
}

void Win32MainWindow::select_item(Ctl c, int index) {
    SendMessageW(control(c), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32MainWindow::set_command_list(const std::vector<std::string>& list) {
    // The user is typing: the text and the cursor in it stay where they are.
    HWND box = control(Ctl::cmbCommand);
    const bool was_quiet = quiet_;
    quiet_ = true;
    const std::wstring typed = window_text(box);
    const LRESULT selection = SendMessageW(box, CB_GETEDITSEL, 0, 0);
    const std::vector<std::string> old = items(Ctl::cmbCommand);
    const bool appended =
        list.size() >= old.size() && std::equal(old.begin(), old.end(), list.begin());
    if (!appended) SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (std::size_t i = appended ? old.size() : 0; i < list.size(); ++i) {
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(list[i]).c_str()));
    }
    if (window_text(box) != typed) SetWindowTextW(box, typed.c_str());
    SendMessageW(box, CB_SETEDITSEL, 0, selection);
    quiet_ = was_quiet;
}

int Win32MainWindow::line_count(Ctl view) const {
    HWND edit = control(view);
    if (GetWindowTextLengthW(edit) == 0) return 0;
    return static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
}

std::string Win32MainWindow::line(Ctl view, int index) const {
    HWND edit = control(view);
    const LRESULT start = SendMessageW(edit, EM_LINEINDEX, static_cast<WPARAM>(index), 0);
    if (start < 0) return {};
    const LRESULT length = SendMessageW(edit, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
    // EM_GETLINE takes the buffer's size in its first character.
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 1)), L'\0');
    text[0] = static_cast<wchar_t>(length);
    const LRESULT copied =
        SendMessageW(edit, EM_GETLINE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return bytes(text);
}

std::vector<std::string> Win32MainWindow::lines(Ctl view) const {
    return split_lines(bytes(window_text(control(view))));
}

void Win32MainWindow::set_lines(Ctl view, const std::vector<std::string>& list) {
    SetWindowTextW(control(view), wide(join_lines(list)).c_str());
}

void Win32MainWindow::append_message(const std::string& line) {
    HWND edit = item(IDC_Message);
    const int length = GetWindowTextLengthW(edit);
    std::wstring text = length > 0 ? L"\r\n" : L"";
    const std::u16string shown = shown_line(line);
    text.append(shown.begin(), shown.end());
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void Win32MainWindow::clear_messages() { SetWindowTextW(item(IDC_Message), L""); }

int Win32MainWindow::current_page() const {
    return static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
}

void Win32MainWindow::set_current_page(int page) {
    if (page == current_page()) return;
    SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    show_page(page);
    PageControlChange();
}

// The bar's range and position are kept here too: under Wine every message
// to a control costs a trip to the server, and a dump moves the bar after
// every byte it sends.
int Win32MainWindow::progress_minimum() const { return progress_min_; }
int Win32MainWindow::progress_maximum() const { return progress_max_; }
void Win32MainWindow::set_progress_range(int min, int max) {
    HWND bar = item(IDC_ProgressBar);
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(min), max);
    progress_min_ = min;
    progress_max_ = max;
    // The bar keeps its position within the new range.
    progress_ = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    progress_column_ = -1;
}
int Win32MainWindow::progress_value() const { return progress_; }
void Win32MainWindow::set_progress_value(int value) {
    // The control repaints itself at once for every position it is given;
    // 16,385 positions across a few hundred pixels need a few hundred paints.
    progress_ = std::clamp(value, progress_min_, std::max(progress_min_, progress_max_));
    const long long span = progress_max_ > progress_min_ ? progress_max_ - progress_min_ : 1;
    const int column = static_cast<int>((progress_ - progress_min_) * static_cast<long long>(progress_width_) / span);
    if (column == progress_column_) return;
    progress_column_ = column;
    SendMessageW(item(IDC_ProgressBar), PBM_SETPOS, static_cast<WPARAM>(progress_), 0);
}
void Win32MainWindow::repaint_progress_bar() { UpdateWindow(item(IDC_ProgressBar)); }

void Win32MainWindow::start_timer(Timer t, int interval_ms) {
    TimerState& s = timers_[static_cast<std::size_t>(t)];
    s.active = true;
    s.interval = interval_ms;
    SetTimer(hwnd_, static_cast<UINT_PTR>(timer_id(t)), static_cast<UINT>(std::max(interval_ms, 1)), nullptr);
}

void Win32MainWindow::stop_timer(Timer t) {
    timers_[static_cast<std::size_t>(t)].active = false;
    if (hwnd_) KillTimer(hwnd_, static_cast<UINT_PTR>(timer_id(t)));
}

bool Win32MainWindow::timer_active(Timer t) const { return timers_[static_cast<std::size_t>(t)].active; }

int Win32MainWindow::timer_interval(Timer t) const {
    return timers_[static_cast<std::size_t>(t)].interval;
}

void Win32MainWindow::set_timer_interval(Timer t, int interval_ms) {
    timers_[static_cast<std::size_t>(t)].interval = interval_ms;
    if (timer_active(t)) start_timer(t, interval_ms);
}

bool Win32MainWindow::shift_held() const { return GetAsyncKeyState(VK_LSHIFT) & 0x8000; }

void Win32MainWindow::show_box(const std::string& text, const std::string& caption, BoxIcon icon,
                               BoxOwner owner) {
    // The text may quote a controller's reply: a NUL is shown as its symbol
    // rather than ending the text there.
    std::wstring shown = wide(text);
    std::replace(shown.begin(), shown.end(), L'\0', static_cast<wchar_t>(0x2400));
    const UINT kind = icon == BoxIcon::Error     ? MB_ICONERROR
                      : icon == BoxIcon::Warning ? MB_ICONWARNING
                                                 : MB_ICONINFORMATION;
    HWND on = owner == BoxOwner::PortDialog && IsWindowVisible(port_dialog_) ? port_dialog_ : hwnd_;
    MessageBoxW(on, shown.c_str(), wide(caption).c_str(), MB_OK | kind);
}

bool Win32MainWindow::ask_question(const std::string& text, const std::string& caption) {
    return MessageBoxW(hwnd_, wide(text).c_str(), wide(caption).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::optional<std::string> Win32MainWindow::choose_file(FileDialog dialog) {
    const FileDialogSettingsText& settings = file_dialog_settings(dialog);
    std::wstring& remembered = file_names_[static_cast<std::size_t>(dialog)];
    std::wstring filter;
    for (const auto& [description, patterns] : filter_pairs(settings.filter)) {
        std::wstring list;
        for (const std::string& p : patterns) list += (list.empty() ? L"" : L";") + wide(p);
        filter += wide(description) + L" (" + list + L")" + L'\0' + list + L'\0';
    }
    std::wstring name(32768, L'\0');
    remembered.copy(name.data(), std::min(remembered.size(), name.size() - 1));
    const std::wstring suffix = wide(settings.default_suffix);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                (settings.open ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : OFN_OVERWRITEPROMPT);
    if (!(settings.open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn))) return std::nullopt;
    remembered = name.c_str();
    return file_system_name(remembered);
}

void Win32MainWindow::show_port_dialog(bool modal) {
    ShowWindow(port_dialog_, SW_SHOW);
    SetForegroundWindow(port_dialog_);
    // The port box has the keys, its text selected: typing replaces it.
    HWND ports = GetDlgItem(port_dialog_, IDC_ComPortComboBox);
    SetFocus(ports);
    SendMessageW(ports, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    if (!modal) return;
    EnableWindow(hwnd_, FALSE);
    MSG msg;
    while (IsWindowVisible(port_dialog_)) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        dispatch(msg);
    }
    EnableWindow(hwnd_, TRUE);
    SetActiveWindow(hwnd_);
}
