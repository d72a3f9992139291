#pragma once
// Documents left behind by copies of the program that died: their run folders kept
// journals (core/journal_keeper.h), and each document is rebuilt from its newest
// journal that reads back intact. Damage is reported per document and never fatal:
// a damaged journal falls back to an earlier one, audio that is gone becomes
// silence, and nothing is deleted that the person did not discard.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/detail/file_io.h"
#include "core/document.h"
#include "core/journal.h"

namespace quillet::core {

struct RecoverableDocument {
  int number = 0;         // the document's number in its run folder
  bool readable = false;  // false: no journal of it could be read; only discarding is left
  std::string name;       // its file's name or "Untitled %d"
  FrameCount frames = 0;
  std::uint32_t sampleRate = 0;
  int channels = 0;
  std::int64_t changedAtMs = 0;  // when its audio last changed, ms since 1970
  // What is damaged, in words for the person; empty when it is recovered whole.
  std::string problem;
};

// The run folder of a copy that is gone. It stays locked while this object lives, so
// no other copy sweeps or recovers it meanwhile.
class DeadRun {
 public:
  const std::filesystem::path& folder() const { return folder_; }
  const std::vector<RecoverableDocument>& documents() const { return documents_; }

  // Rebuilds the document in store: its audio linked (or copied) into store's folder,
  // its undo history, selection and file name as they were; it counts as modified.
  // Null, with *message set, for a document that could not be read.
  std::unique_ptr<WaveDocument> Recover(const RecoverableDocument& doc, SegmentStore& store,
                                        std::string* message);
  // Deletes the document's journals (it lives on in another copy, or was discarded).
  // The folder goes with the last one.
  void Forget(int number);
  // Deletes the whole folder.
  void Discard();
  bool gone() const { return gone_; }

 private:
  friend std::vector<std::unique_ptr<DeadRun>> FindDeadRuns(const std::filesystem::path& base);
  DeadRun(std::filesystem::path folder, detail::UniqueFd lock)
      : folder_(std::move(folder)), lock_(std::move(lock)) {}
  void Scan();

  std::filesystem::path folder_;
  detail::UniqueFd lock_;
  std::vector<RecoverableDocument> documents_;
  std::map<int, JournalImage> images_;  // the journal chosen for each readable document
  bool gone_ = false;
};

// Every run folder under base whose copy is gone and that holds journals, each locked
// and read; the oldest first.
std::vector<std::unique_ptr<DeadRun>> FindDeadRuns(const std::filesystem::path& base);

class JournalKeeper;

// Recovers doc into a running copy: rebuilt in store with a journal of journals (its
// time of last change kept), handed to adopt, and only once its new journal is on the
// disk is the dead copy's journal of it deleted, so a crash meanwhile loses neither.
// False, with *message set and nothing deleted, when it cannot be recovered.
bool RecoverDocument(DeadRun& run, const RecoverableDocument& doc, SegmentStore& store,
                     JournalKeeper& journals,
                     const std::function<void(std::unique_ptr<WaveDocument>)>& adopt,
                     std::string* message);

// "2024-05-01 14:03:59" in local time.
std::string LocalTimeText(std::int64_t msSince1970);

}  // namespace quillet::core
