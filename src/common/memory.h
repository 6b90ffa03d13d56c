// Memory that finished requests freed goes back to the system instead of staying with the process.
#pragma once

namespace korba {

// Called once before serving. With glibc a freed large buffer (a big request body) raises the
// threshold above which buffers are mapped and returned, and every connection thread may get
// an arena of its own that keeps its freed memory: a burst of large requests would leave the
// process tens of megabytes bigger for good. Other systems need nothing.
void return_freed_memory_to_system();

}  // namespace korba
