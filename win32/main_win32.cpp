// Program entry of the Windows window: the single-instance guard, then the
// main window and its message loop.

#include <windows.h>
#include <commctrl.h>

#include "win32/main_window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // Held until the process ends; Ctrl held at the start allows a second
    // instance.
    CreateMutexA(nullptr, FALSE, "kr7_util_mutex");
    if (GetLastError() == ERROR_ALREADY_EXISTS && !(GetAsyncKeyState(VK_CONTROL) & 0x8000)) {
        MessageBoxA(nullptr, "You may start the program only once", "Info", MB_OK | MB_ICONWARNING);
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Win32MainWindow window(instance);
    if (!window.create(show)) {
        MessageBoxA(nullptr, "The window could not be created.", "Error", MB_OK | MB_ICONERROR);
        return 1;
    }
    return window.run();
}
