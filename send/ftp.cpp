#include "send/ftp.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/unique_fd.h"
#include "send/mime.h"

namespace quillet::send {
namespace {

using platform::Outcome;

// How long curl waits for its sockets before the window is asked about a cancel.
constexpr int kWaitStepMs = 50;

// Where the dialogue had got to: a failure is reported in the words of its step.
enum class Stage { Login, LoggedIn, Directory, Transfer };

struct Upload {
  SendProgress& progress;
  int fd = -1;
  curl_off_t size = 0;
  std::string folder;
  std::string fileName;
  Stage stage = Stage::Login;
  bool readFailed = false;
};

struct EasyFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiFree {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

// The server text without a scheme or trailing slashes; empty when it holds what
// does not belong in a host name.
std::string HostPart(std::string_view server) {
  for (std::string_view scheme : {"ftp://", "ftps://"})
    if (server.size() > scheme.size() && server.substr(0, scheme.size()) == scheme)
      server.remove_prefix(scheme.size());
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  for (unsigned char c : server)
    if (c <= ' ' || c == 0x7f || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\')
      return {};
  return std::string(server);
}

// The URL's path: the folder (a leading "/" kept as %2F so that CWD gets it) and the name.
std::string UrlPath(std::string_view folder, std::string_view name) {
  std::string out = "/";
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  if (!folder.empty()) {
    if (folder.front() == '/') {
      out += "%2F";
      folder.remove_prefix(1);
    }
    if (!folder.empty()) out += PercentEncode(folder, true) + "/";
  }
  return out + PercentEncode(name);
}

std::size_t ReadLocal(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  for (;;) {
    const ssize_t n = ::read(up->fd, buffer, size * count);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    up->readFailed = true;
    return CURL_READFUNC_ABORT;
  }
}

// Follows the commands curl sends, to know the step and show it. Only the command
// word is looked at: nothing of a PASS line is kept or shown.
int WatchCommands(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  if (type != CURLINFO_HEADER_OUT) return 0;
  auto* up = static_cast<Upload*>(user);
  const std::string_view cmd(data, std::min<std::size_t>(size, 5));
  auto is = [&](std::string_view word) { return cmd.substr(0, word.size()) == word; };
  if (is("USER") || is("PASS") || is("AUTH") || is("PBSZ") || is("PROT") || is("ACCT")) return 0;
  if (is("PWD")) {
    up->stage = std::max(up->stage, Stage::LoggedIn);
  } else if (is("CWD")) {
    up->stage = Stage::Directory;
    up->progress.SetText(0, "Changing directory");
    up->progress.SetText(1, up->folder);
  } else if (up->stage != Stage::Transfer) {
    up->stage = Stage::Transfer;
    up->progress.SetText(0, "Uploading...");
    up->progress.SetText(1, up->fileName);
    up->progress.SetProgress(0.05);
  }
  return 0;
}

int ShowProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto* up = static_cast<Upload*>(user);
  if (up->size > 0 && sent > 0)
    up->progress.SetProgress(0.1 + 0.9 * std::min(1.0, double(sent) / double(up->size)));
  return 0;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

Outcome UploadFile(const FtpJob& job, const FtpOptions& o, SendProgress& progress) {
  progress.SetText(0, "Connecting to Internet");
  progress.SetText(1, "Please wait...");
  progress.SetProgress(0);
  GlobalInit();
  std::unique_ptr<CURLM, MultiFree> multi(curl_multi_init());
  std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
  if (!multi || !easy) return Outcome::Failed("Unable to connect to the internet.");
  if (job.server.empty()) return Outcome::Failed("The FTP server has not be set.");

  // What names the server in messages: never the credentials someone typed before an "@".
  const std::string shown = job.server.substr(job.server.rfind('@') + 1);
  const std::string logOn = "Unable to log onto server \"" + shown + "\"";
  const std::string name = job.file.filename().string();
  if (HasLineBreak(job.user) || HasLineBreak(job.password) || HasLineBreak(job.folder) ||
      HasLineBreak(name))
    return Outcome::Failed("FTP user details, folder and file names cannot contain line breaks.");
  const std::string host = HostPart(job.server);
  if (host.empty()) return Outcome::Failed(logOn);

  platform::UniqueFd fd(::open(job.file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st{};
  if (!fd || ::fstat(fd.get(), &st) != 0)
    return Outcome::Failed("The file \"" + name + "\" cannot be read, so it was not uploaded.");

  Upload up{progress};
  up.fd = fd.get();
  up.size = st.st_size;
  up.folder = job.folder;
  up.fileName = name;

  CURL* c = easy.get();
  const std::string url = "ftp://" + host + UrlPath(job.folder, name);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(c, CURLOPT_USERNAME, job.user.c_str());
  curl_easy_setopt(c, CURLOPT_PASSWORD, job.password.c_str());
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
  curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadLocal);
  curl_easy_setopt(c, CURLOPT_READDATA, &up);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &ShowProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &up);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);  // for WatchCommands; nothing is printed
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &WatchCommands);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &up);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
  curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE));
  curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o.connectMs));
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   static_cast<long>(std::max(1, (o.responseMs + 999) / 1000)));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max(1, (o.stallMs + 999) / 1000)));
  if (job.secure) {
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!o.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, o.caFile.c_str());
  }

  progress.SetText(0, "Connecting to...");
  progress.SetText(1, shown);
  curl_multi_add_handle(multi.get(), c);
  CURLcode code = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      const CURLMsg* msg = curl_multi_info_read(multi.get(), &left);
      code = msg && msg->msg == CURLMSG_DONE ? msg->data.result : CURLE_FAILED_INIT;
      break;
    }
    curl_multi_poll(multi.get(), nullptr, 0, kWaitStepMs, nullptr);
    if (progress.Cancelled()) {
      curl_multi_remove_handle(multi.get(), c);
      return Outcome::Cancelled();
    }
  }
  curl_multi_remove_handle(multi.get(), c);
  if (code == CURLE_OK) {
    progress.SetProgress(1);
    return Outcome::Done();
  }
  if (up.readFailed)
    return Outcome::Failed("The file \"" + name + "\" could not be read to its end, so the upload failed.");
  switch (up.stage) {
    case Stage::Login:
      return Outcome::Failed(logOn);
    case Stage::Directory:
      return Outcome::Failed("Unable to change to FTP directory \"" + job.folder + "\"");
    default:
      return Outcome::Failed("Unable to upload \"" + name + "\" to server \"" + shown +
                             "\" (" + curl_easy_strerror(code) + ").");
  }
}

}  // namespace quillet::send
