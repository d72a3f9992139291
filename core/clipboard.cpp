#include "core/clipboard.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/chain_source.h"
#include "core/edit_task.h"
#include "platform/frame_time.h"
#include "platform/temp_file.h"

namespace quillet::core {
namespace {

// The private WAVE file of one exchange: a unique name readable only by us, removed
// when the exchange is over (never a fixed name another user could plant).
platform::TempFile ExchangeFile(std::string* message) {
  platform::TempFile file = platform::TempFile::Create(".wav", {}, "quillet-clipboard-");
  if (!file.ok()) *message = "Cannot create a temporary file for the clipboard.";
  return file;
}

bool ReadWhole(int fd, std::string& out) {
  out.clear();
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
}

bool WriteWhole(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool ProgramClipboard::Empty() const {
  return platform::MsFromFrames(ChainLength(chain), chain.sampleRate) == 0;
}

std::optional<std::string> RenderClipboardWave(EditContext& ctx, const AudioChain& chain,
                                               std::string* message) {
  if (!ctx.files) {
    *message = "Audio files cannot be saved here.";
    return std::nullopt;
  }
  platform::TempFile file = ExchangeFile(message);
  if (!file.ok()) return std::nullopt;
  file.Close();
  const AudioChain snapshot = chain;
  const platform::TaskResult r = RunEditTask(ctx, "Saving to clipboard", [&](EditTask& task) {
    auto source = ChainOpenSource(snapshot);
    const audio::TransferOutcome saved = ctx.files->SaveWave(*source, file.path(), TaskProgress(task));
    if (saved.result == platform::kTaskFailed) return FailEdit(ctx, &task, saved.message);
    return saved.result;
  });
  if (r != platform::kTaskDone) {
    *message = ctx.message;
    return std::nullopt;
  }
  // The save replaced the file by rename: open it afresh.
  platform::UniqueFd fd(::open(file.path().c_str(), O_RDONLY | O_CLOEXEC));
  std::string bytes;
  if (!fd || !ReadWhole(fd.get(), bytes)) {
    *message = "Cannot read the clipboard's audio back.";
    return std::nullopt;
  }
  return bytes;
}

platform::TaskResult LoadClipboardWave(EditContext& ctx, const std::string& bytes,
                                       AudioChain& out) {
  std::string message;
  platform::TempFile file = ExchangeFile(&message);
  if (!file.ok()) return FailEdit(ctx, nullptr, message);
  if (!WriteWhole(file.fd(), bytes))
    return FailEdit(ctx, nullptr, "Cannot write the clipboard's audio to a temporary file.");
  file.Close();
  return LoadAudioFile(ctx, file.path(), out);
}

}  // namespace quillet::core
