// Hiding the console window of autostart and service starts; output still goes to it, unseen.
#pragma once

namespace korba {

// Does nothing when the process has no console window (or on systems without one).
void hide_console_window();

}  // namespace korba
