#include "win32/dialogs_win32.h"

#include <string>
#include <vector>

#include "win32/control_ids.h"
#include "win32/text_win32.h"
#include "window/window_logic.h"
#include "window/window_texts.h"

namespace {

void add_items(HWND dialog, int id, const std::vector<const wchar_t*>& entries) {
    for (const wchar_t* e : entries) {
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e));
    }
}

INT_PTR CALLBACK port_dialog_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    auto* logic = reinterpret_cast<WindowLogic*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lp);
            add_items(dialog, IDC_BaudrateComboBox, {L"115200", L"19200"});
            SetDlgItemTextW(dialog, IDC_BaudrateComboBox, L"115200");
            add_items(dialog, IDC_TimeoutComboBox, {L"0", L"1", L"10", L"30", L"100", L"150", L"200"});
            SendDlgItemMessageW(dialog, IDC_TimeoutComboBox, CB_SETCURSEL, 4, 0);
            CheckDlgButton(dialog, IDC_BootloaderBaudCheckBox, BST_CHECKED);
            return TRUE;
        case WM_SHOWWINDOW:
            // Only a real showing refills the boxes.
            if (wp && lp == 0 && logic) logic->CommDialogFormCreate();
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                logic->CommDialogOkClick();
                ShowWindow(dialog, SW_HIDE);
            } else if (LOWORD(wp) == IDCANCEL) {
                ShowWindow(dialog, SW_HIDE);
            }
            return TRUE;
        case WM_CLOSE:
            ShowWindow(dialog, SW_HIDE);
            return TRUE;
    }
    return FALSE;
}

// The version in the program's own version resource, x.y.z.w.
std::string file_version() {
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoW(path, 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return {};
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) +
           "." + std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

void set_memo(HWND dialog, const std::string& text, int points, const wchar_t* face) {
    HWND memo = GetDlgItem(dialog, IDC_Memo1);
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    SetWindowTextW(memo, wide(crlf).c_str());
    if (face) {
        HDC dc = GetDC(dialog);
        HFONT font = CreateFontW(-MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
                                 FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                                 FIXED_PITCH | FF_MODERN, face);
        ReleaseDC(dialog, dc);
        SendMessageW(memo, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

INT_PTR CALLBACK about_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SHOWWINDOW:
            if (wp) {
                // Replaced, so the block appears once however often it is shown.
                std::string text;
                for (const std::string& line : about_lines(file_version())) text += line + "\n";
                text.pop_back();
                set_memo(dialog, text, 0, nullptr);
            }
            return FALSE;
        case WM_COMMAND:
            // OK, and Escape in either control.
            if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) ShowWindow(dialog, SW_HIDE);
            return TRUE;
        case WM_CLOSE:
            ShowWindow(dialog, SW_HIDE);
            return TRUE;
    }
    (void)lp;
    return FALSE;
}

INT_PTR CALLBACK howto_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            set_memo(dialog, kHowToText, 0, nullptr);
            return TRUE;
        case WM_COMMAND:
            // Only its button and the window's close button close this box;
            // Escape (IDCANCEL) does not.
            if (LOWORD(wp) == IDOK) ShowWindow(dialog, SW_HIDE);
            return TRUE;
        case WM_CLOSE:
            ShowWindow(dialog, SW_HIDE);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

HWND create_port_dialog(HINSTANCE instance, HWND owner, WindowLogic& logic) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CommDialog), owner, port_dialog_proc,
                              reinterpret_cast<LPARAM>(&logic));
}

HWND create_about_box(HINSTANCE instance, HWND owner) {
    HWND box = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_software), owner, about_proc, 0);
    set_memo(box, "", 8, L"Courier New");
    return box;
}

HWND create_howto_box(HINSTANCE instance, HWND owner) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_frmHowTo), owner, howto_proc, 0);
}
