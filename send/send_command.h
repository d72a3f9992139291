#pragma once
// The send itself: the document's audio saved in the chosen format into a private
// temporary file named after the document (never the person's own file), then the
// "Sending File..." task over the chosen route. The temporary file goes when the task
// ends, except for the desktop route, whose mail program may read it later: that copy
// waits in the outbox folder for a week.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/chain.h"
#include "core/command_table.h"
#include "core/document.h"
#include "core/edit_services.h"
#include "platform/result.h"
#include "platform/task.h"
#include "platform/temp_file.h"
#include "send/desktop_mail.h"
#include "send/ftp.h"
#include "send/send_settings.h"
#include "send/smtp.h"

namespace quillet::send {

// Time-outs, programs and trust for each route; tests shorten and replace them.
struct SendRoutes {
  SmtpOptions smtp;
  FtpOptions ftp;
  DesktopMailOptions desktop;
};

// What to send where, once the dialogs are through.
struct SendRequest {
  SendMethod method = SendMethod::Email;
  std::string recipients;  // comma-separated
  std::string subject;
  std::string body;
  EmailSettings email;  // the route, the host text and the sender
  FtpJob ftp;           // every field but the file
};

// "Sending File...": sends files by the request's route. A failure is shown once
// through the window and kept in message().
class SendFileTask final : public platform::LProgressDialog {
 public:
  SendFileTask(const SendRequest& request, std::vector<std::filesystem::path> files,
               const SendRoutes& routes);
  const std::string& message() const { return message_; }
  // The mail went to the SMTP server over TLS.
  bool encrypted() const { return encrypted_; }

 protected:
  bool Execute() override;

 private:
  const SendRequest& request_;
  std::vector<std::filesystem::path> files_;
  const SendRoutes& routes_;
  std::string message_;
  bool encrypted_ = false;
};

// The extensions a file can be sent in (without their dots): those of Save As, in
// its order.
std::vector<std::string> SendFormats();
// ext when it is one of SendFormats() (any case), else the extension of file when it
// is, else "wav".
std::string ChooseSendFormat(std::string_view ext, const std::filesystem::path& file);

// Where desktop hand-offs leave their files: $XDG_CACHE_HOME/Orvanta/Quillet/Outbox.
std::filesystem::path OutboxFolder();

// A file of chain in format (an extension of SendFormats) named after title, in a new
// private folder inside parent (the system's temporary folder when empty). The folder
// goes with the returned object unless folder.Release() keeps it.
struct PreparedFile {
  platform::TaskResult result = platform::kTaskFailed;
  std::string message;  // why it failed
  std::filesystem::path file;
  platform::TempFolder folder;
};
PreparedFile PrepareFile(const core::AudioChain& chain, std::string_view title,
                         std::string_view format, platform::ProgressWindowFactory& owner,
                         settings::Settings& settings, const std::filesystem::path& parent = {},
                         int sourceBits = 0);

// The whole send of chain (a document's audio, titled title): PrepareFile, then the
// task. Failures reach ctx.message (messageShown when the task's window showed it).
platform::TaskResult SendAudio(core::EditContext& ctx, const core::AudioChain& chain,
                               std::string_view title, std::string_view format,
                               const SendRequest& request, const SendRoutes& routes,
                               bool* encrypted = nullptr);

// What the Send command asks of its front end (the editor; tests with a script).
class SendFront {
 public:
  virtual ~SendFront() = default;
  // Called on the dialog's OK: stores the values, refuses invalid ones with their
  // message, sends; true when it was sent (the dialog then closes; otherwise it stays).
  using SendAction = std::function<bool(const SendFileSettings& values)>;
  // The "Send File" dialog over values, its "Settings" button opening "Email
  // Settings" (EmailSettings with the same session); false when it was cancelled.
  virtual bool RunSendDialog(SendFileSettings& values, SessionPasswords& session,
                             const SendAction& send) = 0;
  // Saves doc as Save File would (asking for a name when it has none); false when it
  // was not saved.
  virtual bool SaveDocument(core::WaveDocument& doc) = 0;
  // The passwords typed this session, kept for the front end's life.
  virtual SessionPasswords& sessionPasswords() = 0;
};

// The Send command on doc: playback stops; a modified document offers to be saved
// first ("Save changes to ...?", Cancel ends the command); then the dialog, whose OK
// stores its values and sends the document's audio (SendAudio) in the chosen format.
// kTaskCancelled when the person stopped it anywhere.
platform::TaskResult SendCommand(core::EditContext& ctx, core::WaveDocument& doc, SendFront& front,
                                 const SendRoutes& routes = {});

// File > "Send..." (kCmdSend). It needs the editor's dialogs: a command host that is
// also a SendFront offers them; any other host gets a refusal naming quillet-cli send.
void RegisterSendCommands(core::CommandRegistry& registry);

}  // namespace quillet::send
