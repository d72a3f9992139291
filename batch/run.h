#pragma once
// A batch run: every file of the list loaded into its own document, the command list
// applied to the whole document, the result saved by the output rule. Files are
// converted in parallel, each job with its own document and progress; results are
// reported in list order on the calling thread.

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/script.h"
#include "core/command_table.h"
#include "core/segment_store.h"
#include "platform/result.h"
#include "settings/settings.h"

namespace quillet::batch {

// The program-wide lists the wizard edits: they live as long as the program, so files
// given on the command line stay until removed.
struct BatchLists {
  std::vector<std::filesystem::path> files;
  BatchCommandList commands;
};

// The "BatchConverter" settings.
struct OutputRule {
  bool sameFormat = true;       // "SaveSameFileFormat"
  std::size_t formatIndex = 0;  // "SaveFileFormat", into formats::OutputFormatList()
  bool sameFolder = true;       // "SameOutputFolder"
  std::filesystem::path folder; // "OutputFolder"
};
OutputRule LoadOutputRule(const settings::Settings& s);
void StoreOutputRule(settings::Settings& s, const OutputRule& rule);

// From the last dot after the last '/', dot included; empty without one.
std::string ExtensionOf(const std::filesystem::path& file);
// Where source is saved; nullopt for a format index past the list.
std::optional<std::filesystem::path> OutputPathFor(const std::filesystem::path& source,
                                                   const OutputRule& rule);
// Why the list cannot be run as it stands (an output replacing another source, two
// outputs on one path, a file listed twice), or empty.
std::string CheckOutputs(const std::vector<std::filesystem::path>& files, const OutputRule& rule);

struct FileOutcome {
  std::filesystem::path source;
  std::filesystem::path target;
  platform::Outcome outcome;
};

// What one file's job is doing, for progress displays.
struct FileProgress {
  enum class State { Waiting, Running, Done, Failed, Cancelled } state = State::Waiting;
  int percent = 0;   // of the current step
  std::string text;  // "Loading file ...", the command's progress text, "Saving file..."
};

struct RunOptions {
  int jobs = 1;               // at most this many files at once
  bool stopOnFailure = true;  // the wizard's rule; quillet-cli goes on with the rest
  // Called on the calling thread in list order as each file finishes.
  std::function<void(std::size_t index, const FileOutcome& outcome)> report;
  // Called on the calling thread about ten times a second; false cancels the run.
  std::function<bool(const std::vector<FileProgress>& files)> tick;
};

// The number of cores, at least 1.
int DefaultJobs();

// Runs commands over files. Every finished output stays in place; a failed or
// cancelled save leaves its target as it was. Done only when every file was saved.
platform::Outcome RunBatch(const std::vector<std::filesystem::path>& files,
                           const BatchCommandList& commands, const OutputRule& rule,
                           const core::CommandRegistry& registry, settings::Settings& settings,
                           core::SegmentStore& store, const RunOptions& options);

}  // namespace quillet::batch
