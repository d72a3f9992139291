#include "core/edit_dialogs.h"

#include <system_error>

#include "core/edit_commands.h"
#include "core/time_text.h"
#include "platform/frame_time.h"

namespace quillet::core {
namespace {

constexpr char kStored[] = "StoredValues";
constexpr char kSettings[] = "Settings";

void StoreFolderOf(settings::Settings& s, const char* key, const std::filesystem::path& file) {
  s.SetString(kSettings, key, file.parent_path().string());
}

}  // namespace

MixDialogModel MixDialogModel::Load(const settings::Settings& s, const WaveDocument& doc,
                                    std::string title) {
  MixDialogModel m;
  m.title = std::move(title);
  m.volumePct = s.GetInt(kStored, "PasteMixVolume", 100);
  m.panEnabled = doc.channels() == 2;
  m.longerEnabled = doc.HasSelection();
  m.longer = m.longerEnabled ? s.GetInt(kStored, "LongerSelection", 0) : 1;
  if (m.longer < 0 || m.longer > 2) m.longer = 0;
  m.fadeOut = s.GetInt(kStored, "FadeOutTime", 250);
  return m;
}

std::optional<std::string> MixDialogModel::Validate() const {
  if (volumePct > 100) return "Mix Volume must be less than 100%. Please try again.";
  if (volumePct < 0) return "Mix Volume must be 0% or more. Please try again.";
  if (pan < 0 || pan > 100) return "Stereo Pan must be between 0 and 100. Please try again.";
  if (fadeEnabled() && fadeOut < 0) return "Fade out time must be 0 or more. Please try again.";
  return std::nullopt;
}

void MixDialogModel::Store(settings::Settings& s) const {
  s.SetInt(kStored, "PasteMixVolume", volumePct);
  s.SetInt(kStored, "LongerSelection", longer);
  if (fadeEnabled()) s.SetInt(kStored, "FadeOutTime", fadeOut);
}

MixParams MixDialogModel::Params() const {
  MixParams p;
  p.volumePct = volumePct;
  p.pan = panEnabled ? pan : 50;
  p.longer = longerEnabled ? static_cast<MixLonger>(longer) : MixLonger::IncreaseSelection;
  p.fadeFrames = fadeOut;
  return p;
}

InsertSilenceDialogModel InsertSilenceDialogModel::Load(const settings::Settings& s) {
  return {s.GetInt(kStored, "SilenceTimes", 0)};
}

std::optional<std::string> InsertSilenceDialogModel::Validate() const {
  // A negative time would make a negative length.
  if (ms < 0) return "The silence time must be 0 ms or more. Please try again.";
  if (ms > std::numeric_limits<int>::max()) return "The silence time is too long. Please try again.";
  return std::nullopt;
}

void InsertSilenceDialogModel::Store(settings::Settings& s) const {
  s.SetInt(kStored, "SilenceTimes", static_cast<int>(ms));
}

RepeatLoopDialogModel RepeatLoopDialogModel::Load(const settings::Settings& s) {
  return {s.GetInt(kStored, "RepeatNumTimes", 1)};
}

std::optional<std::string> RepeatLoopDialogModel::Validate() const {
  if (times < 1 || times > kMaxTimes)
    return "The number of times must be between 1 and " + std::to_string(kMaxTimes) +
           ". Please try again.";
  return std::nullopt;
}

void RepeatLoopDialogModel::Store(settings::Settings& s) const {
  s.SetInt(kStored, "RepeatNumTimes", times);
}

SelectTimeDialogModel SelectTimeDialogModel::Load(const WaveDocument& doc) {
  const std::int64_t rate = doc.sampleRate();
  return {FormatTimeHundredths(platform::MsFromFrames(doc.selStart(), rate)),
          FormatTimeHundredths(platform::MsFromFrames(doc.selEnd(), rate))};
}

void SelectTimeDialogModel::Preview(EditContext& ctx, const WaveDocument& doc) const {
  if (!ctx.player) return;
  const std::int64_t rate = doc.sampleRate();
  FramePos a = platform::FramesFromMs(ParseTimeText(start), rate);
  FramePos b = platform::FramesFromMs(ParseTimeText(end), rate);
  if (a > b) std::swap(a, b);
  a = std::clamp<FramePos>(a, 0, doc.length());
  b = std::clamp<FramePos>(b, 0, doc.length());
  if (ctx.player->IsPlaying()) ctx.player->Stop();
  ctx.player->PlayRange(doc.chain(), a, b);
}

void SelectTimeDialogModel::Apply(WaveDocument& doc) const {
  SelectTime(doc, ParseTimeText(start), ParseTimeText(end));
}

std::optional<std::filesystem::path> AskAudioFileToOpen(platform::Prompter& prompter,
                                                        settings::Settings& s,
                                                        const char* folderKey) {
  platform::FileRequest req;
  req.mode = platform::FileDialogMode::Open;
  req.title = "Open Audio Files";
  req.filters = {{"All Files", "*"}};
  req.defaultExtension = "wav";
  req.folder = s.GetString(kSettings, folderKey, "");
  const platform::FileChoice choice = prompter.ChooseFiles(req);
  if (!choice.accepted()) return std::nullopt;
  StoreFolderOf(s, folderKey, choice.files.front());
  return choice.files.front();
}

std::optional<std::filesystem::path> AskRegionFileToSave(platform::Prompter& prompter,
                                                         settings::Settings& s) {
  platform::FileRequest req;
  req.mode = platform::FileDialogMode::Save;
  req.title = "Save Audio File As";
  req.filters = {{"Wave (*.wav)", "*.wav"}};
  req.defaultExtension = "wav";
  for (;;) {
    req.folder = s.GetString(kSettings, "SaveAsDir", "");
    const platform::FileChoice choice = prompter.ChooseFiles(req);
    if (!choice.accepted()) return std::nullopt;
    const std::filesystem::path file = platform::WithDefaultExtension(choice.files.front(), "wav");
    StoreFolderOf(s, "SaveAsDir", file);
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return file;
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
