#pragma once
// The port settings dialog, About ("software") and How-to, each made once
// from the program's resources, hidden, and shown when asked for.

#include <windows.h>

class WindowLogic;

HWND create_port_dialog(HINSTANCE instance, HWND owner, WindowLogic& logic);
HWND create_about_box(HINSTANCE instance, HWND owner);
HWND create_howto_box(HINSTANCE instance, HWND owner);
