#include "common/memory.h"

namespace korba {

// The Windows heap gives large blocks back to the system by itself.
void return_freed_memory_to_system() {}

}  // namespace korba
