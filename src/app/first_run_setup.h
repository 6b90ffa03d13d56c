// The first-run setup: a double-clicked download copies itself to C:\KORBA and installs that copy as
// a service (asking once for administrator rights), or falls back to the per-user autostart entry.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"

namespace korba {

struct SetupOutcome {
    bool ok;  // false: a warning
    std::string text;
};

// Whether a console start runs the setup (there is no stored first-run flag).
bool setup_wanted(const Config& config);

// Works out and carries out the setup; the outcome is reported, never fatal.
SetupOutcome setup_outcome(const std::string& printer, std::uint16_t port);
// "  ✔ {text}" or "  ⚠ {text}".
std::string outcome_line(const SetupOutcome& outcome);
// Prints the header, the outcome line and the closing hint.
void first_run_setup(const std::string& printer, std::uint16_t port);

// Without the rights for a service: the copy (result ignored) and the autostart entry (likewise).
void fallback_autostart();

}  // namespace korba
