// The first-run setup: a double-clicked download installs itself as a service from C:\KORBA (an
// ordinary user's start asks once for administrator rights and lets the elevated process do all of
// it), or falls back to the per-user autostart entry.
#pragma once

#include <cstdint>
#include <span>
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
// `printer_option`: the printer as --printer gave it, for the autostart entry.
SetupOutcome setup_outcome(const std::string& printer, std::uint16_t port, std::span<const PrinterEntry> aliases = {},
                           const std::string& printer_option = "");
// "  ✔ {text}" or "  ⚠ {text}".
std::string outcome_line(const SetupOutcome& outcome);
// Prints the header, the outcome line and the closing hint.
void first_run_setup(const std::string& printer, std::uint16_t port, std::span<const PrinterEntry> aliases = {},
                     const std::string& printer_option = "");

}  // namespace korba
