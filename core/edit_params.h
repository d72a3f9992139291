#pragma once
// The Edit commands' dialogs as parameter tables (fields, stored values, ranges and
// the messages that refuse a value), what the commands take from them, and the file
// dialogs that path fields are asked with.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include "core/document.h"
#include "core/edit_services.h"
#include "core/mix.h"
#include "core/params.h"
#include "platform/prompter.h"
#include "settings/settings.h"

namespace quillet::core {

// The caption of every refusal of a dialog's input (the dialog stays open).
inline constexpr const char* kInvalidValueCaption = "Invalid value";

// "Insert Silence": MS. "Repeat Loop": TIMES.
extern const ParamTable kInsertSilenceTable;
extern const ParamTable kRepeatLoopTable;
// "Paste Mix": VOLUME, PAN, LONGER, FADE; "Mix File": PATH, then the same.
extern const ParamTable kPasteMixTable;
extern const ParamTable kMixFileTable;
// The fields of a mix, counted from VOLUME.
enum MixField : std::size_t { kMixVolume, kMixPan, kMixLonger, kMixFade };
// Insert File's file to read, Save Select Region As's file to write.
extern const ParamTable kInsertFileTable;
extern const ParamTable kSaveRegionTable;
// "Select Specified Time": START and END as typed times.
extern const ParamTable kSelectTimeTable;

// The mix a Paste Mix or Mix File set asks for (first: the index of VOLUME) on doc:
// pan 50 for a mono document, increasing the selection without one.
MixParams MixParamsOf(const ParamSet& values, std::size_t first, const WaveDocument& doc);

// Select Specified Time starts from the selection's times.
void PrepareSelectTime(ParamSet& values, const WaveDocument* doc);
// The typed range in frames at doc's rate, in order and inside the audio.
std::pair<FramePos, FramePos> TypedRange(const ParamSet& values, const WaveDocument& doc);
// "Pre&view": plays the typed range.
void PreviewTypedRange(EditContext& ctx, const WaveDocument& doc, const ParamSet& values);

// Asks for a path field's file with its file dialog: the title is the field's label,
// the filters its choices, the folder the one stored under its key in "Settings"
// (the chosen file's folder is stored back). A file to write gets the default
// extension, and one that exists is replaced only after Yes (No asks again, Cancel
// ends). nullopt when cancelled.
std::optional<std::filesystem::path> AskPathField(platform::Prompter& prompter,
                                                  settings::Settings& s, const ParamInfo& field);

}  // namespace quillet::core
