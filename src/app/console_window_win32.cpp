#include <windows.h>

#include "app/console_window.h"

namespace korba {

void hide_console_window() {
    if (HWND window = GetConsoleWindow()) ShowWindow(window, SW_HIDE);
}

}  // namespace korba
