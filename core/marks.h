#pragma once
// Bookmarks and regions as plain records: the program-wide lists the editor keeps,
// the project and bookmark files store, and the crash journal copies. Only data
// here; the lists' rules live in batch/.

#include <cstdint>
#include <string>
#include <vector>

#include "core/chain.h"

namespace quillet::core {

class WaveDocument;

// One named position of a document.
struct Bookmark {
  std::string name;
  // The display name of the document it marks (file name, or "Untitled %d").
  std::string documentKey;
  std::uint32_t positionMs = 0;
  std::uint8_t timesVisited = 1;
  std::uint32_t lastVisited = 0;  // seconds since 1970; the creation time when new
  // The open document it marks; null once that document is closed (the key then
  // finds it again when it is opened).
  WaveDocument* document = nullptr;
};

// A named time range with its own copy of the audio: segments sharing the store's
// immutable sample files, so the copy costs no audio data and outlives the document.
struct Region {
  std::string name;
  std::string path;  // the document's full path when it was added; empty if unsaved
  std::uint32_t startMs = 0;
  std::uint32_t endMs = 0;
  AudioChain audio;
  WaveDocument* document = nullptr;  // the open document it came from, as for bookmarks
};

// What the editor holds for the whole program.
struct MarkLists {
  std::vector<Bookmark> bookmarks;
  std::vector<Region> regions;
};

}  // namespace quillet::core
