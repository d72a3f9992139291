#pragma once
// The "Send File" dialog and its "Email Settings" over the send models, and the
// editor's SendFront: the dialog stays open until a send succeeds or is cancelled.

#include <QWidget>
#include <functional>

#include "send/send_command.h"
#include "settings/settings.h"

namespace quillet::ui {

// "Email Settings": OK validates (a refusal keeps it open) and stores. True when accepted.
bool RunEmailSettingsDialog(QWidget* parent, settings::Settings& s, send::SessionPasswords& session);

class QtSendFront final : public send::SendFront {
 public:
  using SaveFn = std::function<bool(core::WaveDocument&)>;
  QtSendFront(QWidget* parent, settings::Settings& s, SaveFn save)
      : parent_(parent), settings_(s), save_(std::move(save)) {}
  bool RunSendDialog(send::SendFileSettings& values, send::SessionPasswords& session,
                     const SendAction& send) override;
  bool SaveDocument(core::WaveDocument& doc) override { return save_ && save_(doc); }

 private:
  QWidget* parent_;
  settings::Settings& settings_;
  SaveFn save_;
};

}  // namespace quillet::ui
