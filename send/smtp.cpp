#include "send/smtp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/unique_fd.h"
#include "send/channel.h"
#include "send/mime.h"
#include "send/smtp_host.h"

namespace quillet::send {
namespace {

using platform::Outcome;
using platform::UniqueFd;

constexpr std::string_view kNoHost =
    "Unable to send email because you have not entered your SMTP host using Email Settings.";
constexpr std::string_view kNotResponding = "Mail server not responding";
constexpr std::string_view kHeloRefused = "Mail host server error (HELO not accepted)";
constexpr std::string_view kAuthRefused = "Email authentication username or password not accepted";
constexpr std::string_view kMailFromRefused = "Mail host server error (MAIL FROM not accepted)";
constexpr std::string_view kRcptRefused =
    "Mail send error (RCPT TO not accepted). Your server may required authenticated email. "
    "Append :username:password to the SMTP server name for authentication.";
constexpr std::string_view kDataRefused = "Mail host server error (DATA not accepted)";
constexpr std::string_view kEndRefused = "Mail host server error (data terminator not accepted)";
constexpr std::string_view kNoRecipient = "Please enter the email address of the recipient.";
constexpr std::string_view kNoSender =
    "If you choose SMTP you must enter a valid reply-to address. Enter your email address.";
constexpr std::string_view kLineBreak =
    "Email addresses, the subject and attachment names cannot contain line breaks.";

// Longest recipient the dialogue sends; longer ones are refused, not cut.
constexpr std::size_t kMaxAddress = 259;
// Attachment bytes read and sent at a time: whole base64 lines.
constexpr std::size_t kAttachmentBlock = kBase64LineBytes * 256;

bool ValidHostName(std::string_view name) {
  if (name.empty() || name.size() > 253 || name.front() == '-' || name.front() == '.') return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.')) return false;
  return true;
}

// Reads up to size bytes, fewer only at the end of the file; -1 on a read error.
ssize_t ReadFull(int fd, char* data, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// One SMTP conversation.
class Session {
 public:
  Session(const SmtpOptions& options, SendProgress& progress)
      : o_(options), progress_(progress), reader_(options.limits),
        cancel_([this] { return Cancelled(); }) {}

  bool Cancelled() {
    if (!cancelled_) cancelled_ = progress_.Cancelled();
    return cancelled_;
  }
  MailChannel& channel() { return channel_; }
  const CancelFn& cancel() const { return cancel_; }
  bool inboxEmpty() const { return inbox_.empty(); }

  NetStatus Send(std::string_view text, int ms) {
    return channel_.Send(text, NetDeadline(ms), cancel_);
  }

  NetStatus Read(Reply& out, int ms) {
    const NetClock::time_point deadline = NetDeadline(ms);
    for (;;) {
      std::string_view rest(inbox_);
      const ReplyReader::State state = reader_.Feed(rest);
      inbox_.erase(0, inbox_.size() - rest.size());
      if (state == ReplyReader::State::Complete) {
        out = reader_.reply();
        return NetStatus::Ok;
      }
      if (state == ReplyReader::State::TooLong) return NetStatus::Failed;
      const NetStatus s = channel_.Receive(inbox_, deadline, cancel_);
      if (s != NetStatus::Ok) return s;
    }
  }

  // Sends a command and reads its reply: the reply's code (0 for one that has none),
  // or -1 when the command could not be sent or no reply came in time. After -1 the
  // conversation cannot go on: a late reply would answer the wrong command.
  int Command(std::string_view text, Reply* reply = nullptr) {
    Reply r;
    if (Send(text, o_.commandMs) != NetStatus::Ok || Read(r, o_.replyMs) != NetStatus::Ok)
      return -1;
    const int code = r.code;
    if (reply) *reply = std::move(r);
    return code;
  }

  std::string LocalName() const {
    if (!o_.localName.empty()) return o_.localName;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && ValidHostName(name)) return name;
    const std::string literal = channel_.socket().LocalAddressLiteral();
    return literal.empty() ? "localhost" : literal;
  }

 private:
  const SmtpOptions& o_;
  SendProgress& progress_;
  MailChannel channel_;
  ReplyReader reader_;
  std::string inbox_;
  CancelFn cancel_;
  bool cancelled_ = false;
};

// Builds the result of a failed step: cancelled without a message when the person
// stopped it.
SmtpResult Stop(Session& s, std::string_view message) {
  SmtpResult r;
  r.encrypted = s.channel().encrypted();
  r.outcome = s.Cancelled() ? Outcome::Cancelled() : Outcome::Failed(std::string(message));
  return r;
}

std::string TlsFailure(const std::string& host, const std::string& reason) {
  return "Unable to make a secure (TLS) connection to mail server \"" + host + "\": " + reason +
         ".";
}

// AUTH PLAIN where the server lists it but not LOGIN, else the AUTH LOGIN exchange.
// Empty when the dialogue may go on; the failure message otherwise.
std::string Authenticate(Session& s, const SmtpHost& host, const Capabilities& caps,
                         bool& authenticated) {
  if (caps.authListed && caps.authPlain && !caps.authLogin) {
    const std::string token = std::string(1, '\0') + host.user + '\0' + host.password;
    if (s.Command("AUTH PLAIN " + Base64(token) + "\r\n") != 235) return std::string(kAuthRefused);
    authenticated = true;
    return {};
  }
  int code = s.Command("AUTH LOGIN\r\n");
  if (code == -1) return std::string(kAuthRefused);
  if (code != 334) return {};  // no authentication here: go on without it
  code = s.Command(Base64(host.user) + "\r\n");
  if (code == -1) return std::string(kAuthRefused);
  if (code != 334) return {};
  if (s.Command(Base64(host.password) + "\r\n") != 235) return std::string(kAuthRefused);
  authenticated = true;
  return {};
}

// The attachment's part: its header and its content in base64 lines. Empty when sent;
// else the failure message (the caller must not end the DATA then).
std::string SendAttachment(Session& s, const SmtpOptions& o, SendProgress& progress, int fd,
                           const std::filesystem::path& path, std::string_view boundary,
                           std::size_t index, std::size_t count, const std::string& host) {
  const std::string lost =
      "The connection to mail server \"" + host + "\" was lost while sending the message.";
  const std::string name = path.filename().string();
  if (s.Send(AttachmentStart(boundary, name), o.bodyMs) != NetStatus::Ok) return lost;
  struct stat st{};
  const double size = ::fstat(fd, &st) == 0 && st.st_size > 0 ? double(st.st_size) : 0.0;
  double sent = 0;
  std::string block(kAttachmentBlock, '\0');
  std::string text;
  for (;;) {
    const ssize_t n = ReadFull(fd, block.data(), block.size());
    if (n < 0) return "The file \"" + name + "\" could not be read to its end; the mail was not sent.";
    if (n == 0) return {};
    text.clear();
    for (std::size_t at = 0; at < static_cast<std::size_t>(n); at += kBase64LineBytes) {
      text += Base64(std::string_view(block).substr(
          at, std::min(kBase64LineBytes, static_cast<std::size_t>(n) - at)));
      text += "\r\n";
    }
    if (s.Send(text, o.bodyMs) != NetStatus::Ok || s.Cancelled()) return lost;
    sent += double(n);
    const double share = size > 0 ? std::min(1.0, sent / size) : 1.0;
    progress.SetProgress(0.3 + 0.6 * (double(index) + share) / double(count));
    if (static_cast<std::size_t>(n) < block.size()) return {};
  }
}

}  // namespace

std::string CheckMailJob(const MailJob& job) {
  const std::vector<std::string> to = SplitRecipients(job.recipients);
  if (HasLineBreak(job.recipients) || HasLineBreak(job.sender) || HasLineBreak(job.subject))
    return std::string(kLineBreak);
  for (const auto& a : job.attachments)
    if (HasLineBreak(a.filename().string())) return std::string(kLineBreak);
  if (to.empty()) return std::string(kNoRecipient);
  for (const std::string& r : to)
    if (r.size() > kMaxAddress)
      return "The email address \"" + r.substr(0, 40) + "...\" is longer than 259 characters.";
  if (SplitRecipients(job.sender).empty()) return std::string(kNoSender);
  return {};
}

SmtpResult SendMail(const MailJob& job, const SmtpOptions& o, SendProgress& progress) {
  Session s(o, progress);
  progress.SetText(0, "Sending Email");
  progress.SetText(1, "Connecting to server");
  progress.SetProgress(0);

  const SmtpHost host = ParseSmtpHost(job.smtpHost);
  if (host.host.empty()) return Stop(s, kNoHost);
  if (std::string why = CheckMailJob(job); !why.empty()) return Stop(s, why);
  const std::vector<std::string> recipients = SplitRecipients(job.recipients);

  // Every attachment must open before the server hears of the mail.
  std::vector<UniqueFd> files;
  for (const auto& path : job.attachments) {
    files.emplace_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!files.back())
      return Stop(s, "The file \"" + path.filename().string() + "\" cannot be read, so no mail was sent.");
  }

  const std::string noConnect = "Unable to connect to mail server \"" + host.host + "\".";
  if (!host.portValid) return Stop(s, noConnect);
  std::string connectWhy;
  if (s.channel().Connect(host.host, host.port, o.connectMs, s.cancel(), &connectWhy) !=
      NetStatus::Ok)
    return Stop(s, noConnect);
  const std::string& serverName = host.host;
  if (host.port == kSmtpsPort &&
      s.channel().StartTls(serverName, o.caFile, NetDeadline(o.connectMs), s.cancel()) !=
          NetStatus::Ok)
    return Stop(s, TlsFailure(host.host, s.channel().tlsError()));

  progress.SetText(1, "Logon to mail server");
  progress.SetProgress(0.1);
  Reply reply;
  if (s.Read(reply, o.replyMs) != NetStatus::Ok || reply.code != 220) return Stop(s, kNotResponding);

  // EHLO even without a user name: it is how a server says it offers TLS.
  const std::string name = s.LocalName();
  Capabilities caps;
  int code = s.Command("EHLO " + name + "\r\n", &reply);
  if (code == 250) {
    caps = ParseCapabilities(reply);
  } else if (code == -1 || s.Command("HELO " + name + "\r\n") != 250) {
    return Stop(s, kHeloRefused);
  }
  if (caps.startTls && !s.channel().encrypted()) {
    code = s.Command("STARTTLS\r\n");
    if (code == -1) return Stop(s, kHeloRefused);
    if (code == 220) {
      // Bytes sent before the handshake would be taken as the server's under TLS.
      if (!s.inboxEmpty())
        return Stop(s, TlsFailure(host.host, "the server sent data before the handshake"));
      if (s.channel().StartTls(serverName, o.caFile, NetDeadline(o.replyMs), s.cancel()) !=
          NetStatus::Ok)
        return Stop(s, TlsFailure(host.host, s.channel().tlsError()));
      if (s.Command("EHLO " + name + "\r\n", &reply) != 250) return Stop(s, kHeloRefused);
      caps = ParseCapabilities(reply);
    }
  }

  SmtpResult result;
  if (!host.user.empty()) {
    if (std::string why = Authenticate(s, host, caps, result.authenticated); !why.empty())
      return Stop(s, why);
  }

  if (s.Command("MAIL FROM:<" + job.sender + ">\r\n") != 250) return Stop(s, kMailFromRefused);
  int accepted = 0;
  for (const std::string& to : recipients) {
    code = s.Command("RCPT TO:<" + to + ">\r\n");
    if (code == -1) return Stop(s, kRcptRefused);
    if (code == 250 || code == 251) ++accepted;
  }
  if (accepted == 0) return Stop(s, kRcptRefused);
  if (s.Command("DATA\r\n") != 354) return Stop(s, kDataRefused);

  progress.SetText(1, "Sending Message Text");
  progress.SetProgress(0.2);
  const std::string lost =
      "The connection to mail server \"" + host.host + "\" was lost while sending the message.";
  const std::string boundary = job.attachments.empty() ? std::string() : ChooseBoundary(job.body);
  const MailHead head{job.sender, recipients, job.subject,
                      o.date.empty() ? CurrentMailDate() : o.date};
  if (s.Send(MessageStart(head, job.body, boundary), o.bodyMs) != NetStatus::Ok)
    return Stop(s, lost);
  for (std::size_t i = 0; i < files.size(); ++i) {
    progress.SetText(1, "Sending Message Attachment(s)");
    const std::string why = SendAttachment(s, o, progress, files[i].get(), job.attachments[i],
                                           boundary, i, files.size(), host.host);
    if (!why.empty()) return Stop(s, why);
  }
  if (!boundary.empty() && s.Send(MessageEnd(boundary), o.bodyMs) != NetStatus::Ok)
    return Stop(s, lost);
  if (s.Command("\r\n.\r\n") != 250) return Stop(s, kEndRefused);

  // The mail is the server's now: QUIT's answer, or its absence, changes nothing.
  progress.SetText(1, "Quit");
  progress.SetProgress(0.95);
  if (s.Send("QUIT\r\n", o.commandMs) == NetStatus::Ok) s.Read(reply, o.quitMs);
  const bool encrypted = s.channel().encrypted();
  s.channel().Close();
  progress.SetProgress(1);
  result.encrypted = encrypted;
  return result;
}

}  // namespace quillet::send
