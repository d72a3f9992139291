#include "effects/preview.h"

#include "effects/pass.h"

namespace quillet::effects {
namespace {

constexpr const char* kDeviceCaption = "Quillet";

}  // namespace

EffectPreview::EffectPreview(core::PlaybackControl* player, const core::WaveDocument& doc)
    : player_(player), doc_(doc) {}

EffectPreview::~EffectPreview() { Stop(); }

bool EffectPreview::enabled() const { return player_ && doc_.length() > 0; }

bool EffectPreview::playing() const { return started_ && player_ && player_->IsPlaying(); }

std::string_view EffectPreview::caption() const {
  return playing() ? kPreviewStopCaption : kPreviewCaption;
}

void EffectPreview::Stop() {
  if (playing()) player_->Stop();
  started_ = false;
}

Status EffectPreview::Press(const PreviewBuild& build) {
  if (playing()) {
    Stop();
    return {};
  }
  return Start(build);
}

Status EffectPreview::Edited(const PreviewBuild& build) {
  if (!playing()) {
    started_ = false;
    return {};
  }
  return Start(build);
}

Status EffectPreview::Start(const PreviewBuild& build) {
  if (!enabled() || !build) return Status::Error("There is no audio to preview.", kDeviceCaption);
  const bool selected = doc_.HasSelection();
  const FramePos from = selected ? doc_.selStart() : 0;
  const FramePos to = selected ? doc_.selEnd() : doc_.length();
  std::string refusal;
  audio::SourceHandle filter = build(SelectionSource(doc_.chain(), from, to), &refusal);
  if (!filter) return Status::Error(refusal.empty() ? "These values cannot be previewed." : refusal);
  if (!filter->ready()) {
    const std::string& why = filter->failureMessage();
    return Status::Error(why.empty() ? "The effect could not be started." : why, kDeviceCaption);
  }
  // The old preview ends before the new one opens the device.
  if (playing()) player_->Stop();
  started_ = false;
  std::string message;
  if (!player_->PlaySource(std::move(filter), &message))
    return Status::Error(message.empty() ? "The sound device refused the preview." : message,
                         kDeviceCaption);
  started_ = true;
  notice_ = message;
  return {};
}

PreviewBuild PreviewOf(const core::Command& c, const core::ParamSet& values) {
  if (!c.preview) return {};
  return [preview = c.preview, &values](audio::SourceHandle selection, std::string* refusal) {
    return preview(std::move(selection), values, refusal);
  };
}

}  // namespace quillet::effects
