// The ESC/POS drawer-kick command (ESC p m t1 t2) for the drawer port's pin 2 or pin 5.
#pragma once

#include <cstdint>
#include <string>

namespace korba {

enum class DrawerPin { Pin2, Pin5 };

// Pulse on and off times in the printer's 2 ms units: 50 ms on, 500 ms off.
inline constexpr std::uint8_t DRAWER_PULSE_ON = 0x19;
inline constexpr std::uint8_t DRAWER_PULSE_OFF = 0xFA;

std::string drawer_pulse(DrawerPin pin);

}  // namespace korba
