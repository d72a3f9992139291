#pragma once
// The format options of a save (and of opening raw files) as Qt dialogs: every option
// record of formats/save_options.h is drawn from its field table and looks, and
// refuses what the table refuses under the record's caption; the WAVE format chooser
// has its own two lists.

#include <QWidget>
#include <QPointer>

#include "formats/save_options.h"
#include "formats/wav_chooser.h"

namespace quillet::ui {

class QtSaveOptions final : public formats::SaveOptionsUi, public formats::FormatChooserUi {
 public:
  explicit QtSaveOptions(QWidget* parent) : parent_(parent) {}

  bool EditOptions(const formats::OptionRecord& record, core::ParamSet& values,
                   const std::string& note = {}) override;
  formats::FormatChooserUi& WaveChooser() override { return *this; }

  std::optional<formats::WaveFormat> Choose(const formats::FormatChooserModel& model) override;
  void ShowStop(std::string_view text, std::string_view caption) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace quillet::ui
