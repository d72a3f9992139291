#include "send/send_command.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "core/working_folder.h"
#include "formats/format_table.h"
#include "formats/document_io.h"
#include "platform/paths.h"

namespace quillet::send {
namespace {

using platform::kTaskCancelled;
using platform::kTaskDone;
using platform::kTaskFailed;

// Hand-off copies older than this are removed by the next hand-off.
constexpr auto kOutboxKeep = std::chrono::hours(24 * 7);

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void PruneOutbox(const std::filesystem::path& outbox) {
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const auto& entry : std::filesystem::directory_iterator(outbox, ec)) {
    std::error_code timeError;
    const auto written = entry.last_write_time(timeError);
    if (!timeError && now - written > kOutboxKeep) std::filesystem::remove_all(entry.path(), timeError);
  }
}

}  // namespace

SendFileTask::SendFileTask(const SendRequest& request, std::vector<std::filesystem::path> files,
                           const SendRoutes& routes)
    : LProgressDialog("Sending File..."), request_(request), files_(std::move(files)),
      routes_(routes) {}

bool SendFileTask::Execute() {
  TaskSendProgress progress(*this);
  platform::Outcome out;
  if (request_.method == SendMethod::Ftp) {
    FtpJob job = request_.ftp;
    job.file = files_.empty() ? std::filesystem::path() : files_.front();
    out = UploadFile(job, routes_.ftp, progress);
  } else if (request_.email.useDesktop) {
    out = SendThroughDesktop(request_.recipients, request_.subject, files_, routes_.desktop,
                             progress);
  } else {
    MailJob job{request_.recipients, request_.email.replyTo, request_.subject, request_.body,
                files_, request_.email.smtpHost};
    const SmtpResult r = SendMail(job, routes_.smtp, progress);
    out = r.outcome;
    encrypted_ = r.encrypted;
  }
  result = out.result;
  message_ = out.message;
  if (result == kTaskFailed && !message_.empty()) ShowError(message_);
  return true;
}

std::vector<std::string> SendFormats() {
  std::vector<std::string> out;
  for (const platform::FileFilter& f : formats::SaveAsFilters()) {
    std::string_view patterns = f.patterns;
    while (!patterns.empty()) {
      const std::size_t semi = patterns.find(';');
      std::string_view p = patterns.substr(0, semi);
      patterns = semi == std::string_view::npos ? std::string_view() : patterns.substr(semi + 1);
      if (p.substr(0, 2) != "*." || formats::WritesBesideTarget(formats::RowFor(p.substr(1)))) continue;
      out.push_back(Lower(p.substr(2)));
    }
  }
  return out;
}

std::string ChooseSendFormat(std::string_view ext, const std::filesystem::path& file) {
  const std::vector<std::string> formats = SendFormats();
  auto known = [&](const std::string& e) {
    return std::find(formats.begin(), formats.end(), e) != formats.end();
  };
  std::string wanted = Lower(ext);
  if (!wanted.empty() && wanted.front() == '.') wanted.erase(0, 1);
  if (known(wanted)) return wanted;
  std::string own = Lower(platform::PathExtension(file.filename().string()));
  if (!own.empty()) own.erase(0, 1);
  return known(own) ? own : "wav";
}

std::filesystem::path OutboxFolder() {
  return core::DefaultWorkingFolder().parent_path() / "Outbox";
}

PreparedFile PrepareFile(const core::AudioChain& chain, std::string_view title,
                         std::string_view format, platform::ProgressWindowFactory& owner,
                         settings::Settings& settings, const std::filesystem::path& parent,
                         int sourceBits) {
  PreparedFile out;
  out.folder = platform::TempFolder::Create(parent, "quillet-send-");
  if (!out.folder.ok()) {
    out.message = "No temporary folder could be made for the file to send (" +
                  std::error_code(out.folder.error(), std::generic_category()).message() + ").";
    return out;
  }
  std::string stem = std::filesystem::path(std::string(title)).stem().string();
  if (stem.empty() || stem == "." || stem == "..") stem = "audio";
  out.file = out.folder.path() / (stem + "." + std::string(format));
  formats::DispatchEnv env(settings);
  env.owner = &owner;
  formats::SaveChainTask save(chain, out.file, env, sourceBits);
  save.Run(owner);
  out.result = save.result;
  if (out.result == kTaskFailed)
    out.message = save.message().empty() ? "The file to send could not be written." : save.message();
  return out;
}

platform::TaskResult SendAudio(core::EditContext& ctx, const core::AudioChain& chain,
                               std::string_view title, std::string_view format,
                               const SendRequest& request, const SendRoutes& routes,
                               bool* encrypted) {
  ctx.message.clear();
  ctx.messageShown = false;
  const std::vector<std::string> formats = SendFormats();
  if (std::find(formats.begin(), formats.end(), Lower(format)) == formats.end()) {
    ctx.message = "Files cannot be sent as \"" + std::string(format) + "\".";
    return kTaskFailed;
  }
  const bool handOff = request.method == SendMethod::Email && request.email.useDesktop;
  std::filesystem::path parent;
  if (handOff) {
    parent = OutboxFolder();
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    PruneOutbox(parent);
  }
  PreparedFile prepared = PrepareFile(chain, title, Lower(format), ctx.progress, ctx.settings, parent);
  if (prepared.result != kTaskDone) {
    ctx.message = prepared.message;
    return prepared.result;
  }
  SendFileTask task(request, {prepared.file}, routes);
  if (!task.Run(ctx.progress)) {
    ctx.message = "The progress window could not be opened.";
    return kTaskFailed;
  }
  if (encrypted) *encrypted = task.encrypted();
  const platform::TaskResult result = task.result;
  if (result == kTaskFailed) {
    ctx.message = task.message();
    ctx.messageShown = !task.message().empty();
  }
  if (result == kTaskDone && handOff) prepared.folder.Release();
  return result;
}

platform::TaskResult SendCommand(core::EditContext& ctx, core::WaveDocument& doc, SendFront& front,
                                 const SendRoutes& routes) {
  SessionPasswords& session = front.sessionPasswords();
  ctx.message.clear();
  ctx.messageShown = false;
  if (ctx.player && ctx.player->IsPlaying()) ctx.player->Stop();
  if (doc.modified() && ctx.prompter) {
    const platform::Answer a = ctx.prompter->Message(
        "Save changes to \"" + doc.Title() + "\"?", "Quillet", platform::MessageIcon::Question,
        platform::MessageButtons::YesNoCancel);
    if (a == platform::Answer::Cancel) return kTaskCancelled;
    if (a == platform::Answer::Yes && !front.SaveDocument(doc)) return kTaskCancelled;
  }
  SendFileSettings values = SendFileSettings::Load(ctx.settings, session);
  values.format = ChooseSendFormat(values.format, doc.file());
  platform::TaskResult result = kTaskCancelled;
  const bool sent = front.RunSendDialog(values, session, [&](const SendFileSettings& v) {
    v.Store(ctx.settings, session);
    if (const auto refusal = v.Validate()) {
      if (ctx.prompter)
        ctx.prompter->Message(refusal->text, refusal->caption, platform::MessageIcon::Error);
      return false;
    }
    SendRequest request;
    request.method = v.method;
    request.recipients = v.address;
    request.email = EmailSettings::Load(ctx.settings, session);
    request.ftp = FtpJob{v.ftpServer, v.ftpUser, v.ftpPassword, v.ftpDirectory, {}, v.ftpSecure};
    const std::string format = ChooseSendFormat(v.format, doc.file());
    result = SendAudio(ctx, doc.chain(), doc.Title(), format, request, routes);
    // A failure the task did not show (the file could not be made) is shown here, over
    // the dialog that stays open.
    if (result == kTaskFailed && !ctx.messageShown && !ctx.message.empty() && ctx.prompter) {
      ctx.prompter->Message(ctx.message, "Error", platform::MessageIcon::Error);
      ctx.messageShown = true;
    }
    return result == kTaskDone;
  });
  return sent ? kTaskDone : (result == kTaskFailed ? kTaskFailed : kTaskCancelled);
}

void RegisterSendCommands(core::CommandRegistry& registry) {
  registry.Add({
      .id = core::kCmdSend,
      .menuText = "Send...",
      .description = "Sends the file by email.",
      .needs = core::kNeedsDocument,
      .place = {"&File", {}, 600, false},
      .run =
          [](core::CommandCall& call) {
            auto* front = dynamic_cast<SendFront*>(call.host);
            if (!front || !call.doc) {
              call.ctx.message = "Sending needs the editor's Send File dialog; use quillet-cli send.";
              return kTaskFailed;
            }
            return SendCommand(call.ctx, *call.doc, *front);
          },
  });
}

}  // namespace quillet::send
