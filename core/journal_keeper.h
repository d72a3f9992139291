#pragma once
// Keeps the crash journal of every open document in this copy's run folder. After
// each change (once no task holds the document) a record of what changed is appended
// to the document's log at once, so a killed process loses nothing it had finished;
// a background thread then flushes the log to the disk (a change of selection alone
// a second later), so a power cut loses at most what was not flushed yet. When the
// log has grown, or names audio the document has let go of, a new log starts with the
// whole state, and the old one is deleted only once the new one is on the disk. Every
// sample file a log on the disk names stays (the keeper holds a reference on it)
// until that log is deleted.

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

// "doc-<number>-<generation>.jnl" in the run folder: a document's log, started anew
// (a higher generation) from time to time.
inline constexpr char kJournalExtension[] = ".jnl";
std::string JournalFileName(int document, std::uint64_t generation);
// The document number and generation of a journal's file name; false for other names.
bool ParseJournalFileName(const std::string& name, int* document, std::uint64_t* generation);
// Whether folder holds any journal with something in it (a dead copy's folder is
// kept while it does).
bool HoldsJournals(const std::filesystem::path& folder);
// A log too short to hold a record (created, but cut off before its first record
// reached the disk): it records nothing.
bool EmptyJournal(const std::filesystem::path& file);

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
