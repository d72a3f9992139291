#pragma once
// Keeps the crash journal of every open document in this copy's run folder. After
// each change (once no task holds the document) its state goes into a new journal
// file at once, so a killed process loses nothing it had finished; a background
// thread then flushes that file to the disk and only afterwards deletes the journals
// it supersedes, so a power cut loses at most what was not flushed yet and never the
// last flushed state. Every sample file a journal on the disk names stays (the
// keeper holds a reference on it) until that journal is deleted.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/document.h"
#include "core/segment_store.h"

namespace quillet::core {

namespace detail {
class JournalCore;
}

// "doc-<number>-<sequence>.jnl" in the run folder.
inline constexpr char kJournalExtension[] = ".jnl";
std::string JournalFileName(int document, std::uint64_t sequence);
// The document number and sequence of a journal's file name; false for other names.
bool ParseJournalFileName(const std::string& name, int* document, std::uint64_t* sequence);
// Whether folder holds any journal (a dead copy's folder is kept while it does).
bool HoldsJournals(const std::filesystem::path& folder);

// Milliseconds since 1970 on the wall clock.
std::int64_t WallClockMs();

class JournalKeeper {
 public:
  // Journals go into store's working folder; the store becomes durable.
  explicit JournalKeeper(SegmentStore& store);
  // Flushes what is pending and stops the thread; journals of documents still
  // open stay on the disk.
  ~JournalKeeper();
  JournalKeeper(const JournalKeeper&) = delete;
  JournalKeeper& operator=(const JournalKeeper&) = delete;

  // The recorder of one document: give it to WaveDocument::SetRecorder. Its journal
  // goes when it does (the document closed). changedAtMs: when the document's audio
  // last changed (a recovered document keeps its time); now when not given.
  std::unique_ptr<DocumentRecorder> NewRecorder(std::optional<std::int64_t> changedAtMs = {});

  // Waits until every journal written so far is flushed (or its flush failed).
  void WaitDurable();
  // The first failure to write or flush a journal since the last call; empty if none.
  std::string TakeFailure();

 private:
  std::shared_ptr<detail::JournalCore> core_;
};

}  // namespace quillet::core
