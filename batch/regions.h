#pragma once
// Regions: named time ranges that keep their own audio (segments sharing the store's
// immutable sample files), so they can be played, saved, exported, burned and
// assembled after their document changed or closed. The list's rules, the texts of
// the list window, the 528-byte record, and the operations of the region list.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.h"
#include "core/edit_services.h"
#include "core/marks.h"
#include "core/params.h"
#include "formats/dispatch.h"
#include "platform/prompter.h"
#include "platform/record_file.h"

namespace quillet::batch {

using core::Region;

inline constexpr std::size_t kRegionRecordBytes = 528;

// The list window's columns: name, "%s-%s" of start and end, the file name of its path.
struct RegionRow {
  std::string name, time, file;
};
RegionRow RegionRowOf(const Region& r);

// Index of the region called name (case ignored), -1 when none.
int FindRegion(const std::vector<Region>& list, std::string_view name);
// "%s@%s-%s": the file name without extension (or the untitled title) and the times.
std::string DefaultRegionName(const core::WaveDocument& doc);
// The region called name over doc's selection: its times, doc's path and a copy of
// the selected segments (no audio is copied).
Region RegionOfSelection(core::WaveDocument& doc, std::string name);
// Add Region: asks for the name (default above), asks before replacing one of the
// same name (title "Quillet"; No asks again) and appends the region. False when the
// person cancelled.
bool AddRegion(std::vector<Region>& list, core::WaveDocument& doc, platform::Prompter& prompter);

// Regions without a document whose path is doc's file (case ignored) become doc's.
void AttachRegions(std::vector<Region>& list, core::WaveDocument& doc);
// doc was saved under a new name: its regions take its new path.
void RepathRegions(std::vector<Region>& list, const core::WaveDocument& doc);
void DetachRegions(std::vector<Region>& list, const core::WaveDocument& doc);
// Drag and drop: region from goes before row before (before == size: to the end).
void MoveRegion(std::vector<Region>& list, std::size_t from, std::size_t before);

// The record without its audio. A name or path that does not fit fails the writer.
void WriteRegionRecord(platform::RecordWriter& w, const Region& r);
Region ReadRegionRecord(platform::RecordReader& r);

// "Untitled %d" of a document made from regions: the lowest number from 1 to 19 that
// no open document uses, 1 when all are taken.
int FreeUntitledNumber(const std::vector<core::WaveDocument*>& open);
// Copy To New: an unsaved document over audio, all of it in view, modified.
std::unique_ptr<core::WaveDocument> DocumentOfAudio(const core::AudioChain& audio, int untitled);

// Saves the region's audio into file through the save dispatch ("Saving..."), asking
// the format's options when ask is set. The failure is left in *message.
platform::TaskResult SaveRegionAudio(const Region& region, const std::filesystem::path& file,
                                     const formats::DispatchEnv& env, bool ask,
                                     std::string* message);
// "Save Region As" (filter "Audio Files", folder "SaveRegionDir"), asking before an
// existing file is replaced (No asks again); nullopt when cancelled.
std::optional<std::filesystem::path> ChooseRegionTarget(platform::Prompter& prompter,
                                                        settings::Settings& s, const Region& region);

// Why a region's name cannot name its file (export, burning).
std::string InvalidRegionNameMessage(std::string_view name);

// "Export Region(s)": "Export Folder" and "Export Format" (an index into the output
// format list), stored under "Settings".
extern const core::ParamTable kExportRegionsTable;
inline constexpr std::size_t kExportFolderField = 0, kExportFormatField = 1;
// The extension an export writes, ".wav" for an index that names no writable format.
std::string ExportExtension(std::int64_t formatIndex);
// Whether the format's options can be edited ("Format Settings" is disabled for
// ".au", ".aiff" and ".gsm").
bool ExportHasFormatSettings(std::string_view extension);
// Saves each region (in the order given) as folder/name.ext with the stored format
// options, each under "Saving...". A name no file may have, a "No" to replacing an
// existing file, or a failed save stops the export (messages through env.prompter;
// the failure also in *message).
platform::TaskResult ExportRegions(const std::vector<const Region*>& regions,
                                   const std::filesystem::path& folder, std::string_view extension,
                                   const formats::DispatchEnv& env, std::string* message);

// The assemble options: "AutoGap" and "AutoGapTime" (ms) under "Settings".
extern const core::ParamTable kAssembleOptionsTable;
// Joins entries in order into out: the first one's audio, then for each further one
// the gap (when autoGap) and its audio converted to the first one's rate and channels
// (one "Insert File" task each). out is untouched unless every step was done.
platform::TaskResult AssembleRegions(core::EditContext& ctx, const std::vector<const Region*>& entries,
                                     bool autoGap, std::int64_t gapMs, core::AudioChain& out);

}  // namespace quillet::batch
