#pragma once
// The sample store of this quillet-cli run, started on first use and removed with
// all its files when the program ends.

#include <cstdio>

#include "core/segment_store.h"

namespace quillet::app {

// Null, with the reason written to err, when the working folder cannot be used.
core::SegmentStore* CliStore(std::FILE* err);

}  // namespace quillet::app
