#pragma once
// The project file (".qlp"): every open document with its audio, the bookmarks and
// the regions with theirs, in one file. Audio streams between the file and the
// store in blocks, so neither side ever holds a whole document in memory. Reading
// checks every count against the bytes really there before it allocates, and builds
// everything aside: a project that is corrupt or cut short yields nothing at all.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/chain.h"
#include "core/marks.h"
#include "platform/byte_source.h"
#include "platform/result.h"
#include "platform/safe_file_writer.h"
#include "platform/task.h"

namespace quillet::batch {

inline constexpr std::uint8_t kProjectVersion = 1;
inline constexpr std::size_t kDocumentRecordBytes = 540;
inline constexpr std::size_t kAudioHeadBytes = 9;
// Each count of the file is one byte.
inline constexpr std::size_t kMaxProjectEntries = 255;
inline constexpr std::string_view kProjectExtension = ".qlp";

// The persistent head of a document: paths and the window's positions, in frames.
struct DocumentRecord {
  std::string path;          // empty for an unsaved document
  std::string previousPath;  // before the document was last saved under a new name
  std::uint32_t cursor = 0;
  std::uint32_t selStart = 0;
  std::int32_t selEnd = 0;
  std::int32_t viewStart = 0;
  std::uint32_t viewEnd = 0;
};

struct ProjectDocument {
  DocumentRecord record;
  core::AudioChain audio;
};

// What a project file holds. Bookmarks are stored grouped by document, in document
// order; on reading, each one's document is the entry it was stored with (index into
// documents, -1 when no document claims its key).
struct ProjectContents {
  std::vector<ProjectDocument> documents;
  int active = 0;
  std::vector<core::Bookmark> bookmarks;
  std::vector<int> bookmarkDocuments;
  std::vector<core::Region> regions;
};

// Steps and share done; the callback returns false to cancel.
struct ProjectProgress {
  std::function<void(std::string_view step)> step;
  std::function<bool(double fraction)> progress;
};

// The file's size for contents.
std::uint64_t ProjectFileSize(const ProjectContents& contents);
// Why contents cannot be stored (more than 255 of a kind, a text too long for its
// field, audio longer than the 32-bit frame count or positions past it); empty when
// they can.
std::string CheckProjectContents(const ProjectContents& contents);

// Writes contents in the order of the layout. Cancelled or failed, out is left for
// its owner to drop (the target file is never touched).
platform::Outcome WriteProject(const ProjectContents& contents, platform::SafeFileWriter& out,
                               const ProjectProgress& progress = {});
// Reads a project. With a store, audio goes into new sample files of it; without one
// it is checked and skipped (each chain is silence of its length: listings and fuzzing).
// The failure message is the version message for a wrong version byte, else a
// description of what is wrong; out is only filled on success.
platform::Outcome ReadProject(platform::ByteSource& in, core::SegmentStore* store,
                              ProjectContents& out, const ProjectProgress& progress = {});

// "Saving Project": writes contents into file through a temporary file, so a failed or
// cancelled save leaves the previous project as it was.
class SaveProjectTask final : public platform::LProgressDialog {
 public:
  SaveProjectTask(const ProjectContents& contents, std::filesystem::path file)
      : LProgressDialog("Saving Project"), contents_(contents), file_(std::move(file)) {}
  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  const ProjectContents& contents_;
  std::filesystem::path file_;
  std::string message_;
};

// "Loading Project": reads file into contents() (audio into store).
class LoadProjectTask final : public platform::LProgressDialog {
 public:
  LoadProjectTask(std::filesystem::path file, core::SegmentStore& store)
      : LProgressDialog("Loading Project"), file_(std::move(file)), store_(store) {}
  ProjectContents& contents() { return contents_; }
  const std::string& message() const { return message_; }
  // The version byte was wrong (the "File Error" message).
  bool wrongVersion() const { return wrongVersion_; }

 protected:
  bool Execute() override;

 private:
  std::filesystem::path file_;
  core::SegmentStore& store_;
  ProjectContents contents_;
  std::string message_;
  bool wrongVersion_ = false;
};

}  // namespace quillet::batch
