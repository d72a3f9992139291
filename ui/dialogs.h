#pragma once
// Qt dialogs drawn over the headless dialog models: each shows the model's fields,
// and on OK asks the model to validate; a refusal shows its message under
// "Invalid value" (or the model's caption) and the dialog stays open.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "core/edit_dialogs.h"
#include "effects/dialogs.h"
#include "settings/settings.h"

class QComboBox;
class QFormLayout;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace quillet::ui {

// A dialog whose OK is checked by validate (nullopt: accept; else the message and
// its caption).
class CheckedDialog : public QDialog {
  Q_OBJECT
 public:
  struct Refusal {
    std::string message, caption;
  };
  using Validator = std::function<std::optional<Refusal>()>;
  explicit CheckedDialog(QWidget* parent, const QString& title);
  void SetValidator(Validator v) { validate_ = std::move(v); }
  // Adds a labelled row; the OK/Cancel row goes last when Finish is called.
  void AddRow(const QString& label, QWidget* field);
  void Finish();

 public slots:
  void accept() override;

 private:
  Validator validate_;
  QFormLayout* form_;
};

// "New File" (and "Set Defaults"): the rate and channel count, from and to the
// given keys of "Settings". False when cancelled.
bool AskNewFile(QWidget* parent, settings::Settings& s, const char* title, const char* rateKey,
                const char* channelsKey, int& rate, int& channels);

// One percentage dialog of the effects (Amplify, Normalize, Stereo Pan, speed, pitch).
bool AskPercent(QWidget* parent, settings::Settings& s, effects::PercentDialogModel& model);
// "Cross Fade": three times and the selection.
bool AskCrossFade(QWidget* parent, settings::Settings& s, effects::CrossFadeDialogModel& model);
// "Convert Sample Rate": the rate list, typed values accepted.
bool AskSampleRate(QWidget* parent, std::int64_t& rate);
// "Insert Silence" and "Repeat Loop".
bool AskInsertSilence(QWidget* parent, settings::Settings& s, core::InsertSilenceDialogModel& m);
bool AskRepeatLoop(QWidget* parent, settings::Settings& s, core::RepeatLoopDialogModel& m);
// "Select Specified Time"; preview plays the typed range.
bool AskSelectTime(QWidget* parent, core::SelectTimeDialogModel& m,
                   const std::function<void(const core::SelectTimeDialogModel&)>& preview);
// "Paste Mix" / "Mix File".
bool AskMix(QWidget* parent, settings::Settings& s, core::MixDialogModel& m);

}  // namespace quillet::ui
