// send email|ftp|desktop FILE ...: the file by SMTP mail, FTP upload or the desktop's
// mail program. With --format the file is opened and saved in that format into a
// private temporary file first (named after FILE); without it FILE goes as it is.
// Nothing is stored: passwords given here stay out of the settings.
#include <map>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "core/clipboard.h"
#include "formats/document_io.h"
#include "send/send_command.h"
#include "send/smtp_host.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using platform::kTaskDone;
using platform::kTaskFailed;

constexpr const char* kUsage =
    "send email FILE --to A,B [--host USER:PASS@HOST:PORT] [--from ADDR] [--subject S] "
    "[--format EXT]\n"
    "       quillet-cli send ftp FILE --host HOST[:PORT] --user U --password P [--folder F] "
    "[--secure] [--format EXT]\n"
    "       quillet-cli send desktop FILE --to A,B [--subject S] [--format EXT]";

struct SendArgs {
  std::string route;
  std::string file;
  std::map<std::string, std::string> values;
  bool secure = false;
};

// Refusals go to err; nullopt then.
std::optional<SendArgs> Parse(CommandContext& c) {
  static const std::map<std::string, std::vector<std::string>> kOptions = {
      {"email", {"--to", "--host", "--from", "--subject", "--format"}},
      {"ftp", {"--host", "--user", "--password", "--folder", "--format"}},
      {"desktop", {"--to", "--subject", "--format"}},
  };
  SendArgs a;
  if (c.args.empty() || !kOptions.contains(c.args[0])) return std::nullopt;
  a.route = c.args[0];
  const auto& allowed = kOptions.at(a.route);
  for (std::size_t i = 1; i < c.args.size(); ++i) {
    const std::string& arg = c.args[i];
    if (arg == "--secure" && a.route == "ftp") {
      a.secure = true;
    } else if (std::find(allowed.begin(), allowed.end(), arg) != allowed.end()) {
      if (i + 1 >= c.args.size()) {
        std::fprintf(c.err, "quillet-cli: %s needs a value\n", arg.c_str());
        return std::nullopt;
      }
      a.values[arg] = c.args[++i];
    } else if (arg.rfind("--", 0) == 0 || !a.file.empty()) {
      std::fprintf(c.err, "quillet-cli: send %s does not take \"%s\"\n", a.route.c_str(), arg.c_str());
      return std::nullopt;
    } else {
      a.file = arg;
    }
  }
  if (a.file.empty()) return std::nullopt;
  const std::vector<std::string> required =
      a.route == "ftp" ? std::vector<std::string>{"--host", "--user", "--password"}
                       : std::vector<std::string>{"--to"};
  for (const std::string& r : required) {
    if (!a.values.contains(r)) {
      std::fprintf(c.err, "quillet-cli: send %s needs %s\n", a.route.c_str(), r.c_str());
      return std::nullopt;
    }
  }
  return a;
}

send::SendRequest Request(const SendArgs& a, const settings::Settings& s) {
  send::SendRequest r;
  auto value = [&](const char* key, std::string def = {}) {
    const auto it = a.values.find(key);
    return it == a.values.end() ? def : it->second;
  };
  r.recipients = value("--to");
  r.subject = value("--subject");
  if (a.route == "ftp") {
    r.method = send::SendMethod::Ftp;
    r.ftp = send::FtpJob{value("--host"), value("--user"), value("--password"), value("--folder"),
                         {}, a.secure};
  } else {
    r.email.useDesktop = a.route == "desktop";
    r.email.smtpHost = value("--host", s.GetString("Email", "MailSMTPHost", ""));
    r.email.replyTo = value("--from", s.GetString("Email", "ReplyToEmail", ""));
  }
  return r;
}

}  // namespace

platform::TaskResult RunSendCommand(CommandContext& c) {
  const std::optional<SendArgs> a = Parse(c);
  if (!a) {
    std::fprintf(c.err, "usage: quillet-cli %s\n", kUsage);
    return kTaskFailed;
  }
  settings::Settings& s = settings::Settings::Process();
  const send::SendRequest request = Request(*a, s);
  const send::SendRoutes routes;
  bool encrypted = false;
  platform::TaskResult result = kTaskFailed;

  if (!a->values.contains("--format")) {
    if (!std::filesystem::is_regular_file(a->file)) {
      std::fprintf(c.err, "quillet-cli: \"%s\" is not a file\n", a->file.c_str());
      return kTaskFailed;
    }
    send::SendFileTask task(request, {a->file}, routes);
    if (!task.Run(c.progress)) return kTaskFailed;
    encrypted = task.encrypted();
    result = task.result;
  } else {
    core::SegmentStore* store = CliStore(c.err);
    if (!store) return kTaskFailed;
    formats::DispatchEnv env(s);
    env.prompter = &c.prompter;
    env.owner = &c.progress;
    formats::LoadFileTask load(a->file, *store, env);
    load.Run(c.progress);
    if (load.result != kTaskDone) {
      if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
      return load.result;
    }
    core::ProgramClipboard clipboard(store);
    core::EditContext ctx{*store, clipboard, c.progress, s};
    const std::string format = a->values.at("--format");
    result = send::SendAudio(ctx, load.chain(), std::filesystem::path(a->file).filename().string(),
                             format.rfind('.', 0) == 0 ? format.substr(1) : format, request,
                             routes, &encrypted);
    if (result == kTaskFailed && !ctx.messageShown && !ctx.message.empty())
      std::fprintf(c.err, "%s\n", ctx.message.c_str());
  }
  if (result == kTaskDone && a->route == "email" && !encrypted)
    std::fputs("quillet-cli: warning: the mail server offers no TLS; the message (and any "
               "password) crossed the network unencrypted\n",
               c.err);
  return result;
}

}  // namespace quillet::app
