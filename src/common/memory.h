// Memory settings for a process that serves many short connections, each on a thread of its own.
#pragma once

namespace korba {

// Called once before serving. With glibc:
// - a freed large buffer (a big request body) raises the threshold above which buffers are
//   mapped and returned, and every connection thread may get an arena of its own that keeps its
//   freed memory: a burst of large requests would leave the process tens of megabytes bigger for
//   good;
// - a new thread's stack is as large as the stack limit (often 8 MiB) and glibc keeps only
//   40 MiB of finished threads' stacks for reuse, so with more connections at once than fit
//   there every thread maps a fresh stack and unmaps it at its end, which costs more than the
//   request. Threads get a 512 KiB stack instead, of which 80 fit.
// Other systems need nothing.
void tune_memory_for_serving();

}  // namespace korba
