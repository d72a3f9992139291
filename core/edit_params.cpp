#include "core/edit_params.h"

#include <algorithm>
#include <climits>
#include <system_error>

#include "core/time_text.h"
#include "platform/frame_time.h"

namespace quillet::core {
namespace {

constexpr std::string_view kLongerChoices[] = {"Insert silence", "Increase selection",
                                               "Fade out mix"};
constexpr std::string_view kWaveFilter[] = {"Wave (*.wav)"};

// The mix dialog's fields, after the file of Mix File.
constexpr ParamInfo kVolumeField{.name = "VOLUME", .label = "&Mix Volume (%)",
                                 .key = "PasteMixVolume", .def = 100, .min = 0, .max = 100,
                                 .unit = "%",
                                 .rangeMessage = "Mix Volume must be less than 100%. Please try again.",
                                 .lowMessage = "Mix Volume must be 0% or more. Please try again."};
constexpr ParamInfo kPanField{.name = "PAN", .label = "&Stereo Pan (L - R)", .def = 50, .min = 0,
                              .max = 100,
                              .rangeMessage = "Stereo Pan must be between 0 and 100. Please try again."};
constexpr ParamInfo kLongerField{.name = "LONGER", .label = "If mi&x audio is longer than selection:",
                                 .key = "LongerSelection", .kind = ParamKind::Choice, .def = 0,
                                 .choices = kLongerChoices};
constexpr ParamInfo kFadeField{.name = "FADE", .label = "Fade &out time:", .key = "FadeOutTime",
                               .def = 250, .min = 0, .max = INT32_MAX, .unit = "frames",
                               .rangeMessage = "Fade out time must be 0 or more. Please try again."};

constexpr ParamInfo kMixFields[] = {kVolumeField, kPanField, kLongerField, kFadeField};
constexpr ParamInfo kMixFileFields[] = {
    {.name = "PATH", .label = "Open Audio Files", .key = "MixFileDir", .kind = ParamKind::OpenPath,
     .unit = "wav", .section = "Settings", .required = true},
    kVolumeField, kPanField, kLongerField, kFadeField};

constexpr ParamInfo kInsertSilenceFields[] = {
    {.name = "MS", .label = "Silence &Time (ms):", .key = "SilenceTimes", .def = 0, .min = 0,
     .max = INT32_MAX, .unit = "ms",
     .rangeMessage = "The silence time is too long. Please try again.",
     .lowMessage = "The silence time must be 0 ms or more. Please try again."}};

constexpr ParamInfo kRepeatLoopFields[] = {
    {.name = "TIMES", .label = "&Repeat number of times:", .key = "RepeatNumTimes", .def = 1,
     .min = 1, .max = 10000,
     .rangeMessage = "The number of times must be between 1 and 10000. Please try again."}};

constexpr ParamInfo kInsertFileFields[] = {
    {.name = "PATH", .label = "Open Audio Files", .key = "InsertFileDir",
     .kind = ParamKind::OpenPath, .unit = "wav", .section = "Settings", .required = true}};

constexpr ParamInfo kSaveRegionFields[] = {
    {.name = "PATH", .label = "Save Audio File As", .key = "SaveAsDir", .kind = ParamKind::SavePath,
     .unit = "wav", .choices = kWaveFilter, .section = "Settings", .required = true}};

constexpr ParamInfo kSelectTimeFields[] = {
    {.name = "START", .label = "Specified &Time Start", .kind = ParamKind::Text,
     .unit = "a time, h:mm:ss.hh", .textDefault = "0:00:00.00", .required = true},
    {.name = "END", .label = "Specified Time &End", .kind = ParamKind::Text,
     .unit = "a time, h:mm:ss.hh", .textDefault = "0:00:00.00", .required = true}};

std::string CheckTypedTimes(const ParamSet& values) {
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string& text = values.Text(i);
    if (!IsTimeText(text))
      return "\"" + text + "\" is not a time. Type it as h:mm:ss.hh, for example 0:01:30.25.";
  }
  return {};
}

FramePos FrameOfTyped(const std::string& text, const WaveDocument& doc) {
  return platform::FramesFromMs(ParseTimeText(text), doc.sampleRate());
}

// "Wave (*.wav)" filters *.wav; several patterns are separated by blanks.
platform::FileFilter FilterOf(std::string_view choice) {
  const std::size_t open = choice.rfind('('), close = choice.rfind(')');
  std::string patterns = "*";
  if (open != std::string_view::npos && close > open) {
    patterns = std::string(choice.substr(open + 1, close - open - 1));
    std::replace(patterns.begin(), patterns.end(), ' ', ';');
  }
  return {std::string(choice), patterns};
}

}  // namespace

const ParamTable kInsertSilenceTable{"Insert Silence", kInsertSilenceFields};
const ParamTable kRepeatLoopTable{"Repeat Loop", kRepeatLoopFields};
const ParamTable kPasteMixTable{"Paste Mix", kMixFields};
const ParamTable kMixFileTable{"Mix File", kMixFileFields};
const ParamTable kInsertFileTable{"Insert File", kInsertFileFields};
const ParamTable kSaveRegionTable{"Save Select Region As", kSaveRegionFields};
const ParamTable kSelectTimeTable{"Select Specified Time", kSelectTimeFields, {}, &CheckTypedTimes};

MixParams MixParamsOf(const ParamSet& values, std::size_t first, const WaveDocument& doc) {
  MixParams p;
  p.volumePct = int(values.Int(first + kMixVolume));
  p.pan = doc.channels() == 2 ? int(values.Int(first + kMixPan)) : 50;
  p.longer = doc.HasSelection() ? static_cast<MixLonger>(values.Int(first + kMixLonger))
                                : MixLonger::IncreaseSelection;
  p.fadeFrames = values.Int(first + kMixFade);
  return p;
}

void PrepareSelectTime(ParamSet& values, const WaveDocument* doc) {
  if (!doc) return;
  const std::int64_t rate = doc->sampleRate();
  values.SetText(0, FormatTimeHundredths(platform::MsFromFrames(doc->selStart(), rate)));
  values.SetText(1, FormatTimeHundredths(platform::MsFromFrames(doc->selEnd(), rate)));
}

std::pair<FramePos, FramePos> TypedRange(const ParamSet& values, const WaveDocument& doc) {
  FramePos a = FrameOfTyped(values.Text(0), doc), b = FrameOfTyped(values.Text(1), doc);
  if (a > b) std::swap(a, b);
  return {std::clamp<FramePos>(a, 0, doc.length()), std::clamp<FramePos>(b, 0, doc.length())};
}

void PreviewTypedRange(EditContext& ctx, const WaveDocument& doc, const ParamSet& values) {
  if (!ctx.player) return;
  const auto [a, b] = TypedRange(values, doc);
  if (ctx.player->IsPlaying()) ctx.player->Stop();
  ctx.player->PlayRange(doc.chain(), a, b);
}

std::optional<std::filesystem::path> AskPathField(platform::Prompter& prompter,
                                                  settings::Settings& s, const ParamInfo& field) {
  const bool save = field.kind == ParamKind::SavePath;
  platform::FileRequest req;
  req.mode = save ? platform::FileDialogMode::Save : platform::FileDialogMode::Open;
  req.title = std::string(field.label);
  for (std::string_view f : field.choices) req.filters.push_back(FilterOf(f));
  if (req.filters.empty()) req.filters.push_back({"All Files", "*"});
  req.defaultExtension = std::string(field.unit);
  for (;;) {
    req.folder = s.GetString(field.section, field.key, "");
    const platform::FileChoice choice = prompter.ChooseFiles(req);
    if (!choice.accepted()) return std::nullopt;
    std::filesystem::path file = choice.files.front();
    if (save && !field.unit.empty()) file = platform::WithDefaultExtension(file, field.unit);
    if (!field.key.empty()) s.SetString(field.section, field.key, file.parent_path().string());
    std::error_code ec;
    if (!save || !std::filesystem::exists(file, ec)) return file;
    switch (prompter.Message(
        "Another file with the same name already exists. Do you want to replace it?", "Quillet",
        platform::MessageIcon::Question, platform::MessageButtons::YesNoCancel)) {
      case platform::Answer::Yes: return file;
      case platform::Answer::No: continue;
      default: return std::nullopt;
    }
  }
}

}  // namespace quillet::core
