// Where the program's libraries may come from.
#pragma once

namespace korba {

// Libraries loaded from now on, by the program or by the system's own libraries on its
// behalf, come from the system folder only, never from the program's folder or the PATH.
// Called first, before anything can load one. Nothing to do on POSIX.
void restrict_library_search();

}  // namespace korba
