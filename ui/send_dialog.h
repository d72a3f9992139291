#pragma once
// The "Send File" dialog and its "Email Settings" over the send models.

#include <QWidget>

#include "send/send_command.h"
#include "settings/settings.h"

namespace quillet::ui {

// "Email Settings": OK validates (a refusal keeps it open) and stores. True when accepted.
bool RunEmailSettingsDialog(QWidget* parent, settings::Settings& s, send::SessionPasswords& session);

// "Send File" over values: OK hands the typed values to send, and the dialog stays
// open until a send succeeds (true) or it is cancelled (false).
bool RunSendFileDialog(QWidget* parent, settings::Settings& s, send::SendFileSettings& values,
                       send::SessionPasswords& session, const send::SendFront::SendAction& send);

}  // namespace quillet::ui
