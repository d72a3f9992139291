#pragma once
// The effect dialogs with drawings of their own: the envelope and the equalizer with
// their curve editors (and the equalizer's shape settings), and the cross fade's
// picture of its two fades.

#include <QWidget>

#include "ui/dialogs.h"

namespace quillet::ui {

// "Envelope" ("EnvelopeDialog"): the user's envelope over the selection's waveform;
// OK writes "envelope.dat" and hands the points to the command.
bool AskEnvelope(DialogCall& call);
// "Equalizer" ("EqualizerDialog"): the curve over frequency on the axis of
// "EQLinearView", the shapes of "EQPreset" (each with its settings dialog,
// "EqShapeDialog"), "Pre&view"; OK writes "equalizer.dat" and hands the curve over.
bool AskEqualizer(DialogCall& call);

// The cross fade's two gains over the mixed frames, for the times in ms: the
// selection's audio fading out, and the audio after it fading in.
class CrossFadeView final : public QWidget {
  Q_OBJECT
 public:
  explicit CrossFadeView(QWidget* parent = nullptr);
  void SetTimes(std::int64_t gapMs, std::int64_t fadeInMs, std::int64_t fadeOutMs);
  QSize sizeHint() const override { return {320, 110}; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  std::int64_t gap_ = 0, in_ = 0, out_ = 0;
};

}  // namespace quillet::ui
