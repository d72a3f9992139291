#pragma once
// The effect dialogs' "Pre&view" / "&Stop" button: draws the preview model of
// effects/preview.h. The dialog tells it of every edit; while it plays, the caption
// follows the player (a preview that plays to its end turns back to "Pre&view").

#include <QPushButton>
#include <QTimer>
#include <functional>

#include "effects/preview.h"

namespace quillet::ui {

class PreviewButton final : public QPushButton {
  Q_OBJECT
 public:
  // build gives the filter for the dialog's values as they are at the time of asking.
  PreviewButton(core::PlaybackControl* player, const core::WaveDocument& doc,
                std::function<effects::PreviewBuild()> build, QWidget* parent = nullptr);
  // A field changed: restarts a playing preview (a refusal is shown, the old one plays on).
  void Edited();
  void Stop();
  const effects::EffectPreview& model() const { return model_; }

 private:
  void Pressed();
  void Show(const effects::Status& s);
  void Refresh();

  effects::EffectPreview model_;
  std::function<effects::PreviewBuild()> build_;
  QTimer poll_;
};

}  // namespace quillet::ui
