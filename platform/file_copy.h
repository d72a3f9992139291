#pragma once
// Copying a stretch of one file into another inside the kernel (copy_file_range),
// through a buffer where the system cannot: no pass through user space for audio
// whose bytes need no change.

#include <cstdint>

namespace quillet::platform {

struct CopyResult {
  std::uint64_t bytes = 0;  // copied, from the start of the stretch
  int error = 0;            // errno of the call that stopped it; 0 at the end of in
};

// Copies n bytes at inOffset of in to outOffset of out (neither descriptor's own
// position moves). Fewer than n when in ends first or a call fails.
CopyResult CopyFileBytes(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset,
                         std::uint64_t n);

// Whether err from CopyFileBytes is the target's (no room, too large for it): a
// failure to write, where any other is read again the ordinary way.
bool IsTargetFull(int err);

}  // namespace quillet::platform
