#pragma once

namespace Tidepool::Internal {

// Gives the memory that the allocator holds free back to the system. An installation allocates
// and frees on many short-lived threads (network, download chains, unpacking), and glibc keeps
// what each of them freed in an arena of its own for later, where nothing reuses it soon. Does
// nothing with other C libraries.
void trimHeap();

} // namespace Tidepool::Internal
