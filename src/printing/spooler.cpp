#include "printing/spooler.h"

namespace korba {

namespace {
// Replaced only by unit tests, before any thread runs.
Spooler* replacement_spooler = nullptr;
}  // namespace

Spooler& spooler() { return replacement_spooler ? *replacement_spooler : system_spooler(); }

void set_spooler(Spooler* replacement) { replacement_spooler = replacement; }

}  // namespace korba
