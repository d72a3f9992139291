#pragma once
// The format options of a save (and of opening raw files) as Qt dialogs over the
// records of formats/save_options.h: MP3, Ogg, FLAC, AAC, AMR, the raw and VOX codec
// settings, and the WAVE format chooser. Each edits its record in place and refuses
// what the record's validation refuses, under "Invalid value".

#include <QWidget>
#include <QPointer>

#include "formats/save_options.h"
#include "formats/wav_chooser.h"

namespace quillet::ui {

class QtSaveOptions final : public formats::SaveOptionsUi, public formats::FormatChooserUi {
 public:
  explicit QtSaveOptions(QWidget* parent) : parent_(parent) {}

  bool EditMp3(formats::Mp3EncoderSettings& m) override;
  bool EditOgg(formats::OggEncoderSettings& o) override;
  bool EditFlac(formats::FlacEncoderSettings& f) override;
  bool EditAac(formats::AacEncoderSettings& a) override;
  bool EditAmr(formats::AmrEncoderSettings& a) override;
  bool EditRaw(formats::RawSettings& r, std::string_view section) override;
  formats::FormatChooserUi& WaveChooser() override { return *this; }

  std::optional<formats::WaveFormat> Choose(const formats::FormatChooserModel& model) override;
  void ShowStop(std::string_view text, std::string_view caption) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace quillet::ui
