#include "printing/drawer.h"

namespace korba {

std::string drawer_pulse(DrawerPin pin) {
    const char m = pin == DrawerPin::Pin5 ? 0x01 : 0x00;
    return {0x1B, 0x70, m, static_cast<char>(DRAWER_PULSE_ON), static_cast<char>(DRAWER_PULSE_OFF)};
}

}  // namespace korba
