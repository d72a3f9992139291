#pragma once
// The "Pre&view" button of the effect dialogs, without its drawing. Pressed, it plays
// the document's selection (all of its audio without one) through the effect built
// from the dialog's current values, on the output device of the settings; pressed
// again ("&Stop") it stops. While it plays, every edit rebuilds the filter and starts
// the preview again. An effect takes part by handing in how its filter is built from
// the values (a command's Command::preview, or a drawing's own builder); the editor
// draws the button from caption() and enabled(), quillet-cli and tests press it.

#include <functional>
#include <string>
#include <string_view>

#include "core/command_table.h"
#include "core/document.h"
#include "core/edit_services.h"
#include "effects/status.h"

namespace quillet::effects {

inline constexpr std::string_view kPreviewCaption = "Pre&view";
inline constexpr std::string_view kPreviewStopCaption = "&Stop";

// The effect's filter over the selection (frames [0, L)) for the values as they are
// now, or null with *refusal set when they cannot be played.
using PreviewBuild =
    std::function<audio::SourceHandle(audio::SourceHandle selection, std::string* refusal)>;

class EffectPreview {
 public:
  // player may be null (no sound device): the button is then disabled.
  EffectPreview(core::PlaybackControl* player, const core::WaveDocument& doc);
  // Stops a preview that still plays.
  ~EffectPreview();
  EffectPreview(const EffectPreview&) = delete;
  EffectPreview& operator=(const EffectPreview&) = delete;

  // Only with a player and a document of at least one frame.
  bool enabled() const;
  // Started here and not yet stopped or played to its end.
  bool playing() const;
  // "&Stop" while playing, "Pre&view" otherwise.
  std::string_view caption() const;

  // The button: stops while playing, else starts. A refusal of the values (caption
  // "Invalid value") or the device's message (caption "Quillet") means nothing plays.
  Status Press(const PreviewBuild& build);
  // A field was edited: while playing, the preview starts again through the new
  // filter; values it refuses leave the old one playing and return the refusal.
  // Does nothing while stopped.
  Status Edited(const PreviewBuild& build);
  void Stop();
  // What the device said on the last start that played (a replaced device), if any.
  const std::string& notice() const { return notice_; }

 private:
  Status Start(const PreviewBuild& build);

  core::PlaybackControl* player_;
  const core::WaveDocument& doc_;
  bool started_ = false;
  std::string notice_;
};

// A command's own preview (Command::preview) for values, which must outlive it; null
// when the command has none.
PreviewBuild PreviewOf(const core::Command& c, const core::ParamSet& values);

}  // namespace quillet::effects
