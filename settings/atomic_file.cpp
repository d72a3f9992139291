#include "settings/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quillet::settings {

bool ReadWholeFile(const std::filesystem::path& file, std::string& out, std::size_t maxBytes) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[65536];
  bool ok = true;
  while (out.size() < maxBytes) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  if (out.size() > maxBytes) out.resize(maxBytes);
  ::close(fd);
  return ok;
}

mode_t NewFileMode() {
  // Without /proc (or on kernels before 4.7, which lack the line) assume the usual 022.
  mode_t mask = 022;
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value & 0777);
        break;
      }
    std::fclose(f);
  }
  return 0666 & ~mask;
}

mode_t ReplacementMode(const std::filesystem::path& target) {
  struct stat st {};
  return ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : NewFileMode();
}

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  std::string tmpl = file.string() + ".XXXXXX";
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::fchmod(fd, ReplacementMode(file));
  bool ok = true;
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(tmpl.c_str(), file.c_str()) == 0;
  if (!ok) ::unlink(tmpl.c_str());
  return ok;
}

}  // namespace quillet::settings
