#pragma once
// The "Send File" and "Email Settings" dialogs as plain models: their stored values,
// their labels and their validation with its messages. Passwords are stored only when
// the person asks for it, and then the settings file is made readable by its owner
// alone; otherwise they live for the session in the front end's SessionPasswords.

#include <optional>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace quillet::send {

enum class SendMethod { Email = 0, Ftp = 1 };

// A message box that refuses the dialog's values; the dialog stays open.
struct Refusal {
  std::string text;
  std::string caption;
};

// Typed this session but not stored; the front end keeps one for its life.
struct SessionPasswords {
  std::string ftpPassword;
  std::string smtpPassword;
};

inline constexpr std::string_view kSendDialogTitle = "Send File";
inline constexpr std::string_view kSendMethodLabel = "Send Method";
inline constexpr std::string_view kEmailMethodLabel = "Email (send file as an attachment to an email)";
inline constexpr std::string_view kEmailAddressLabel = "Email Address";
inline constexpr std::string_view kEmailSettingsButton = "Settings";
inline constexpr std::string_view kFtpMethodLabel = "Direct Internet Connection (upload to FTP Server)";
inline constexpr std::string_view kFtpServerLabel = "Server";
inline constexpr std::string_view kFtpUserLabel = "User Name";
inline constexpr std::string_view kFtpPasswordLabel = "Password";
inline constexpr std::string_view kFtpDirectoryLabel = "Directory";
inline constexpr std::string_view kFtpSecureLabel = "Use TLS (FTPS)";
inline constexpr std::string_view kFormatLabel = "File Format";
inline constexpr std::string_view kRememberLabel = "Remember passwords";

inline constexpr std::string_view kEmailSettingsTitle = "Email Settings";
inline constexpr std::string_view kDesktopMailLabel =
    "Use the desktop's email program to send email (eg. Thunderbird, Evolution, etc)";
inline constexpr std::string_view kSmtpLabel = "Use SMTP to send email directly to the mail server";
inline constexpr std::string_view kSmtpHostLabel =
    "SMTP mail host (for a server that needs authentication: host:username:password, "
    "or username:password@host:port)";
inline constexpr std::string_view kReplyToLabel = "Reply-to email address";
inline constexpr std::string_view kPlainWarning =
    "A mail server that offers no TLS receives the password and the message unencrypted.";

// "Send File": Settings/SendMethod, SendEmail/Address, SendFTP/FtpServer, FtpUserName,
// FtpPassword, FtpDirectory, and ours: SendFTP/FtpSecure, Settings/SendFormat,
// Settings/SendRememberPasswords.
struct SendFileSettings {
  SendMethod method = SendMethod::Email;
  std::string address;
  std::string ftpServer;
  std::string ftpUser;
  std::string ftpPassword;
  std::string ftpDirectory;
  bool ftpSecure = false;
  std::string format;  // the extension the file is sent in, without its dot; empty: the document's
  bool rememberPasswords = false;

  // A stored password wins; without one, the session's.
  static SendFileSettings Load(const settings::Settings& s, const SessionPasswords& session = {});
  // The password goes into the file only with rememberPasswords (and is removed from it
  // otherwise); the session keeps it either way.
  void Store(settings::Settings& s, SessionPasswords& session) const;
  std::optional<Refusal> Validate() const;
};

// "Email Settings": Email/UseMAPI, Email/MailSMTPHost, Email/ReplyToEmail, and the
// remember box shared with "Send File".
struct EmailSettings {
  bool useDesktop = true;
  std::string smtpHost;  // the host text, with its password
  std::string replyTo;
  bool rememberPassword = false;

  static EmailSettings Load(const settings::Settings& s, const SessionPasswords& session = {});
  // The host text is stored without its password unless rememberPassword is set.
  void Store(settings::Settings& s, SessionPasswords& session) const;
  // desktopAvailable: whether the desktop route can be used (DesktopMailAvailable).
  std::optional<Refusal> Validate(bool desktopAvailable) const;
};

// Writes a password into the user's settings file after making the file readable
// by its owner only (0600); false when it could not be made so or written.
bool StoreSecret(settings::Settings& s, std::string_view section, std::string_view key,
                 std::string_view value);

}  // namespace quillet::send
