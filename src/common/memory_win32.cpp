#include "common/memory.h"

namespace korba {

// The Windows heap gives large blocks back to the system by itself.
void tune_memory_for_serving() {}

}  // namespace korba
