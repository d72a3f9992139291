#include "send/send_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "send/mime.h"
#include "send/smtp_host.h"

namespace quillet::send {
namespace {

constexpr std::string_view kFtpFieldsMissing =
    "FTP Server or user details are required. If you don't know what they are, contact the "
    "ftp server hosting company.";
constexpr std::string_view kLineBreaks = "Addresses, names and passwords cannot contain line breaks.";

bool Blank(std::string_view s) { return SplitRecipients(s).empty(); }

}  // namespace

bool StoreSecret(settings::Settings& s, std::string_view section, std::string_view key,
                 std::string_view value) {
  const std::filesystem::path file = s.locations().userFile;
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  // Made (or narrowed) before the write: the atomic replace keeps the file's mode, so
  // the password is never readable by others, not even for a moment.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool narrowed = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return narrowed && s.SetString(section, key, value);
}

SendFileSettings SendFileSettings::Load(const settings::Settings& s,
                                        const SessionPasswords& session) {
  SendFileSettings v;
  v.method = s.GetInt("Settings", "SendMethod", 0) == 1 ? SendMethod::Ftp : SendMethod::Email;
  v.address = s.GetString("SendEmail", "Address", "");
  v.ftpServer = s.GetString("SendFTP", "FtpServer", "");
  v.ftpUser = s.GetString("SendFTP", "FtpUserName", "");
  v.ftpPassword = s.GetString("SendFTP", "FtpPassword", "");
  if (v.ftpPassword.empty()) v.ftpPassword = session.ftpPassword;
  v.ftpDirectory = s.GetString("SendFTP", "FtpDirectory", "");
  v.ftpSecure = s.GetBool("SendFTP", "FtpSecure", false);
  v.format = s.GetString("Settings", "SendFormat", "");
  v.rememberPasswords = s.GetBool("Settings", "SendRememberPasswords", false);
  return v;
}

void SendFileSettings::Store(settings::Settings& s, SessionPasswords& session) const {
  s.SetInt("Settings", "SendMethod", static_cast<int>(method));
  s.SetBool("Settings", "SendRememberPasswords", rememberPasswords);
  s.SetString("Settings", "SendFormat", format);
  // The remember box speaks for the mail host's password too.
  const SmtpHost host = ParseSmtpHost(s.GetString("Email", "MailSMTPHost", ""));
  if (!rememberPasswords && !host.password.empty()) {
    session.smtpPassword = host.password;
    s.SetString("Email", "MailSMTPHost", FormatSmtpHost(host, false));
  }
  if (method == SendMethod::Email) {
    s.SetString("SendEmail", "Address", address);
  } else {
    s.SetString("SendFTP", "FtpServer", ftpServer);
    s.SetString("SendFTP", "FtpUserName", ftpUser);
    s.SetString("SendFTP", "FtpDirectory", ftpDirectory);
    s.SetBool("SendFTP", "FtpSecure", ftpSecure);
    session.ftpPassword = ftpPassword;
    if (rememberPasswords)
      StoreSecret(s, "SendFTP", "FtpPassword", ftpPassword);
    else
      s.Delete("SendFTP", "FtpPassword");
  }
}

std::optional<Refusal> SendFileSettings::Validate() const {
  if (method == SendMethod::Email) {
    if (HasLineBreak(address)) return Refusal{std::string(kLineBreaks), std::string(kSendDialogTitle)};
    if (Blank(address))
      return Refusal{"Please enter the email address of the recipient.",
                     std::string(kSendDialogTitle)};
    return std::nullopt;
  }
  if (ftpServer.empty() || ftpUser.empty() || ftpPassword.empty() || ftpDirectory.empty())
    return Refusal{std::string(kFtpFieldsMissing), std::string(kSendDialogTitle)};
  for (const std::string* f : {&ftpServer, &ftpUser, &ftpPassword, &ftpDirectory})
    if (HasLineBreak(*f)) return Refusal{std::string(kLineBreaks), std::string(kSendDialogTitle)};
  return std::nullopt;
}

EmailSettings EmailSettings::Load(const settings::Settings& s, const SessionPasswords& session) {
  EmailSettings v;
  v.useDesktop = s.GetBool("Email", "UseMAPI", true);
  v.smtpHost = s.GetString("Email", "MailSMTPHost", "");
  v.replyTo = s.GetString("Email", "ReplyToEmail", "");
  v.rememberPassword = s.GetBool("Settings", "SendRememberPasswords", false);
  SmtpHost host = ParseSmtpHost(v.smtpHost);
  if (!host.user.empty() && host.password.empty() && !session.smtpPassword.empty()) {
    host.password = session.smtpPassword;
    v.smtpHost = FormatSmtpHost(host, true);
  }
  return v;
}

void EmailSettings::Store(settings::Settings& s, SessionPasswords& session) const {
  s.SetBool("Email", "UseMAPI", useDesktop);
  s.SetBool("Settings", "SendRememberPasswords", rememberPassword);
  s.SetString("Email", "ReplyToEmail", replyTo);
  const SmtpHost host = ParseSmtpHost(smtpHost);
  session.smtpPassword = host.password;
  if (host.password.empty())
    s.SetString("Email", "MailSMTPHost", smtpHost);
  else if (rememberPassword)
    StoreSecret(s, "Email", "MailSMTPHost", smtpHost);
  else
    s.SetString("Email", "MailSMTPHost", FormatSmtpHost(host, false));
}

std::optional<Refusal> EmailSettings::Validate(bool desktopAvailable) const {
  if (useDesktop) {
    if (desktopAvailable) return std::nullopt;
    return Refusal{
        "Your desktop's email program cannot be reached: xdg-email was not found. Install the "
        "xdg-utils package and set up your email program. Otherwise use the SMTP option.",
        "Desktop Email Not Detected"};
  }
  if (HasLineBreak(smtpHost) || HasLineBreak(replyTo))
    return Refusal{std::string(kLineBreaks), std::string(kEmailSettingsTitle)};
  if (Blank(smtpHost))
    return Refusal{
        "If you choose SMTP you must enter a SMTP mailhost. Call your ISP if you don't know what "
        "your SMTP mailhost is.",
        "Mailhost Required"};
  if (Blank(replyTo))
    return Refusal{
        "If you choose SMTP you must enter a valid reply-to address. Enter your email address.",
        "Reply Email Required"};
  return std::nullopt;
}

}  // namespace quillet::send
