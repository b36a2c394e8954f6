// The process's open-file limit, which caps how many connections can be open at once.
#pragma once

#include <cstddef>

namespace vm {

// Raises the soft limit on open files to the hard limit (desktops often start programs with a
// soft limit of 1024 and a far higher hard one). Returns the soft limit in force afterwards.
size_t RaiseDescriptorLimit();
// The soft limit on open files now.
size_t DescriptorLimit();
// How many descriptors the process has open now (the entries of /proc/self/fd); 0 when unknown.
size_t OpenDescriptorCount();

}  // namespace vm
