#include "core/working_folder.h"

#include "core/journal_keeper.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <system_error>
#include <vector>

namespace quillet::core {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLockName = ".lock";
constexpr const char* kRunPrefix = "run-";
constexpr const char* kNewPrefix = ".new-";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A run folder whose lock we can take belongs to a copy that is gone.
bool OwnerIsGone(const fs::path& dir) {
  detail::UniqueFd fd(::open((dir / kLockName).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return false;
  return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

void SweepDeadRuns(const fs::path& base) {
  std::error_code ec;
  std::vector<fs::path> dead;
  const auto now = fs::file_time_type::clock::now();
  for (auto it = fs::directory_iterator(base, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (!it->is_directory(ec) || it->is_symlink(ec)) continue;
    const std::string name = it->path().filename().string();
    // A dead copy's folder with journals holds documents to recover: it stays until
    // they are recovered or discarded.
    if (StartsWith(name, kRunPrefix) && OwnerIsGone(it->path()) && !HoldsJournals(it->path()))
      dead.push_back(it->path());
    // A copy that died while it was setting up leaves a half-made folder behind.
    if (StartsWith(name, kNewPrefix) && now - it->last_write_time(ec) > std::chrono::hours(24))
      dead.push_back(it->path());
  }
  for (const auto& d : dead) fs::remove_all(d, ec);
}

}  // namespace

fs::path DefaultWorkingFolder() {
  fs::path base;
  if (const char* xdg = ::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') base = xdg;
  else if (const char* home = ::getenv("HOME"); home && *home == '/') base = fs::path(home) / ".cache";
  else base = fs::temp_directory_path();
  return base / "Orvanta" / "Quillet" / "Current";
}

fs::path ChooseWorkingFolder(const settings::Settings& settings) {
  const fs::path def = DefaultWorkingFolder();
  if (settings.GetBool("Settings", "UseDefaultWorkingDir", true)) return def;
  const std::string chosen = settings.GetString("Settings", "WorkingFolder", def.string());
  return chosen.empty() ? def : fs::path(chosen);
}

std::unique_ptr<RunFolder> RunFolder::Create(const fs::path& base, std::string* message) {
  auto fail = [&](const std::string& what) {
    if (message)
      *message = "Cannot use the working folder \"" + base.string() + "\": " + what + ".";
    return nullptr;
  };
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec) return fail(ec.message());
  SweepDeadRuns(base);

  // Build under a name the sweep leaves alone, lock it, and only then give it the name
  // that other copies inspect: a folder named run-* always has its lock held or dead.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string tmpl = (base / (std::string(kNewPrefix) + "XXXXXX")).string();
    if (::mkdtemp(tmpl.data()) == nullptr) return fail(detail::ErrnoText());
    const fs::path fresh = tmpl;
    detail::UniqueFd lock(::open((fresh / kLockName).c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
      const std::string why = detail::ErrnoText();
      fs::remove_all(fresh, ec);
      return fail(why);
    }
    const fs::path final =
        base / (std::string(kRunPrefix) + fresh.filename().string().substr(std::string(kNewPrefix).size()));
    if (::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) == 0)
      return std::unique_ptr<RunFolder>(new RunFolder(final, std::move(lock)));
    const int err = errno;
    fs::remove_all(fresh, ec);
    if (err != EEXIST) {
      errno = err;
      return fail(detail::ErrnoText());
    }
  }
  return fail("no unused folder name was found");
}

RunFolder::~RunFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::unique_ptr<StoreSession> StoreSession::Start(const settings::Settings& settings,
                                                  std::string* message) {
  return StartIn(ChooseWorkingFolder(settings), message);
}

std::unique_ptr<StoreSession> StoreSession::StartIn(const fs::path& base, std::string* message) {
  auto folder = RunFolder::Create(base, message);
  if (!folder) return nullptr;
  std::unique_ptr<StoreSession> s(new StoreSession);
  s->store_ = std::make_unique<SegmentStore>(folder->path());
  s->folder_ = std::move(folder);
  s->base_ = base;
  return s;
}

StoreSession::~StoreSession() = default;

JournalKeeper& StoreSession::journals() {
  if (!journals_) journals_ = std::make_unique<JournalKeeper>(*store_);
  return *journals_;
}

}  // namespace quillet::core
