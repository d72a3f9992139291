#pragma once
// Where sample files live. The chosen working folder is shared by every running copy
// of the program, so each copy works in a private, locked subfolder of it and removes
// only that; subfolders of copies that died are swept at the next start unless they
// hold crash journals (core/recovery.h offers those back).

#include <filesystem>
#include <memory>
#include <string>

#include "core/detail/file_io.h"
#include "core/segment_store.h"
#include "settings/settings.h"

namespace quillet::core {

// $XDG_CACHE_HOME/Orvanta/Quillet/Current (~/.cache when unset, /tmp without a home).
std::filesystem::path DefaultWorkingFolder();
// Section "Settings": "UseDefaultWorkingDir" (default true) picks the default folder,
// otherwise "WorkingFolder" (default: the default folder).
std::filesystem::path ChooseWorkingFolder(const settings::Settings& settings);

class RunFolder {
 public:
  // Creates base if needed, sweeps dead copies' subfolders and makes this copy's own.
  // Null with *message set when the folder cannot be made.
  static std::unique_ptr<RunFolder> Create(const std::filesystem::path& base, std::string* message);
  // Deletes the subfolder and everything in it.
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  RunFolder(std::filesystem::path path, detail::UniqueFd lock)
      : path_(std::move(path)), lock_(std::move(lock)) {}
  std::filesystem::path path_;
  detail::UniqueFd lock_;  // held (flock) for the life of this copy
};

class JournalKeeper;

// The store of this running copy: its run folder and the segment store inside it.
// Destroyed at exit, after every document: deletes the files, then the folder.
class StoreSession {
 public:
  static std::unique_ptr<StoreSession> Start(const settings::Settings& settings,
                                             std::string* message);
  static std::unique_ptr<StoreSession> StartIn(const std::filesystem::path& base,
                                               std::string* message);
  ~StoreSession();
  SegmentStore& store() { return *store_; }
  // The working folder that holds the run folders (of dead copies too).
  const std::filesystem::path& base() const { return base_; }
  // The crash journals of this copy's documents, started on first use (the editor
  // keeps them; a quillet-cli run need not).
  JournalKeeper& journals();

 private:
  StoreSession() = default;
  std::filesystem::path base_;
  std::unique_ptr<RunFolder> folder_;
  std::unique_ptr<SegmentStore> store_;
  std::unique_ptr<JournalKeeper> journals_;  // declared last: goes first
};

}  // namespace quillet::core
