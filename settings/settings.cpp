#include "settings/settings.h"

#include "settings/atomic_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace quillet::settings {
namespace fs = std::filesystem;

namespace {

// Section and key names compare without regard to ASCII case, as the registry's do.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const IniEntry* FindEntry(const std::vector<IniEntry>& entries, std::string_view section,
                          std::string_view key) {
  // The last definition wins, as it would after a hand edit that repeats a key.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (SameName(it->section, section) && SameName(it->key, key)) return &*it;
  return nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes that would break the line structure are written as \xHH.
std::string Escape(std::string_view text, std::string_view special) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool leadingMark = i == 0 && (c == ';' || c == '#' || c == '[' || c == ' ');
    const bool trailingBlank = i + 1 == text.size() && (c == ' ' || c == '\t');
    if (c == '\\' || c == '\n' || c == '\r' || c == '\0' ||
        special.find(c) != std::string_view::npos || (leadingMark && !special.empty()) ||
        (trailingBlank && !special.empty())) {
      static const char kHex[] = "0123456789ABCDEF";
      const auto u = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      const int hi = HexDigit(text[i + 2]);
      const int lo = HexDigit(text[i + 3]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Parsed files, reloaded when the file on disk changes (another copy may write it).
struct CachedFile {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};
  std::vector<IniEntry> entries;
};

std::mutex gCacheMutex;
std::map<std::string, CachedFile>& Cache() {
  static auto* cache = new std::map<std::string, CachedFile>;
  return *cache;
}

std::optional<std::string> LookUp(const fs::path& file, std::string_view section,
                                  std::string_view key) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  std::lock_guard lock(gCacheMutex);
  CachedFile& c = Cache()[file.string()];
  if (c.dev != st.st_dev || c.ino != st.st_ino || c.size != st.st_size ||
      c.mtime.tv_sec != st.st_mtim.tv_sec || c.mtime.tv_nsec != st.st_mtim.tv_nsec) {
    std::string text;
    // A settings file is small; a huge one is not ours and is not worth reading whole.
    if (!ReadWholeFile(file, text, 16u << 20)) return std::nullopt;
    c.entries = ParseIni(text);
    c.dev = st.st_dev;
    c.ino = st.st_ino;
    c.size = st.st_size;
    c.mtime = st.st_mtim;
  }
  if (const IniEntry* e = FindEntry(c.entries, section, key)) return e->value;
  return std::nullopt;
}

fs::path HomeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

fs::path EnvPath(const char* name, const fs::path& fallback) {
  const char* v = std::getenv(name);
  // The XDG rules ignore relative paths.
  if (v && *v == '/') return v;
  return fallback;
}

bool IsWritableTarget(const fs::path& file) {
  std::error_code ec;
  if (fs::exists(file, ec)) return ::access(file.c_str(), W_OK) == 0;
  fs::path dir = file.parent_path();
  while (!dir.empty() && !fs::exists(dir, ec)) {
    if (dir == dir.parent_path()) break;
    dir = dir.parent_path();
  }
  return !dir.empty() && ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace

int ParseLeadingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string CutToReadLimit(std::string_view text) {
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size() && chars < kMaxValueChars) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    // A malformed sequence counts byte by byte.
    for (std::size_t k = 1; k < len; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    i += len;
    ++chars;
  }
  return std::string(text.substr(0, i));
}

std::vector<IniEntry> ParseIni(std::string_view text) {
  std::vector<IniEntry> entries;
  std::string section;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') continue;
    if (trimmed.front() == '[') {
      const std::size_t close = trimmed.rfind(']');
      if (close != std::string_view::npos && close > 0)
        section = Unescape(trimmed.substr(1, close - 1));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || section.empty()) continue;
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    if (key.empty()) continue;
    entries.push_back({section, Unescape(key), Unescape(line.substr(eq + 1))});
  }
  return entries;
}

std::string FormatIni(const std::vector<IniEntry>& entries) {
  // Group by section, keeping the order in which sections and keys first appear.
  std::vector<std::string> sections;
  for (const IniEntry& e : entries)
    if (std::none_of(sections.begin(), sections.end(),
                     [&](const std::string& s) { return SameName(s, e.section); }))
      sections.push_back(e.section);
  std::string out;
  for (const std::string& s : sections) {
    if (!out.empty()) out += '\n';
    out += '[' + Escape(s, "]") + "]\n";
    for (const IniEntry& e : entries)
      if (SameName(e.section, s)) out += Escape(e.key, "=") + '=' + Escape(e.value, "") + '\n';
  }
  return out;
}

Locations DefaultLocations() {
  const fs::path home = HomeDir();
  const fs::path userDir = EnvPath("XDG_CONFIG_HOME", home / ".config") / "Orvanta" / "Quillet";
  Locations loc;
  loc.userFile = userDir / "settings.ini";
  loc.machineReadFiles.push_back(userDir / "machine.ini");
  std::string dirs = "/etc/xdg";
  if (const char* d = std::getenv("XDG_CONFIG_DIRS"); d && *d) dirs = d;
  std::vector<fs::path> systemFiles;
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = dirs.substr(start, colon - start);
    if (!dir.empty() && dir.front() == '/')
      systemFiles.push_back(fs::path(dir) / "Orvanta" / "Quillet" / "settings.ini");
    start = colon + 1;
  }
  loc.machineWriteFile = userDir / "machine.ini";
  if (!systemFiles.empty() && IsWritableTarget(systemFiles.front()))
    loc.machineWriteFile = systemFiles.front();
  for (const fs::path& f : systemFiles) loc.machineReadFiles.push_back(f);
  // What is written must be what is read next: put the write target first.
  auto it =
      std::find(loc.machineReadFiles.begin(), loc.machineReadFiles.end(), loc.machineWriteFile);
  if (it != loc.machineReadFiles.end()) std::rotate(loc.machineReadFiles.begin(), it, it + 1);
  return loc;
}

Locations FolderLocations(const fs::path& dir) {
  Locations loc;
  loc.userFile = dir / "settings.ini";
  loc.machineWriteFile = dir / "machine.ini";
  loc.machineReadFiles = {loc.machineWriteFile};
  return loc;
}

Settings::Settings(Locations where) : where_(std::move(where)) {}

std::optional<std::string> Settings::Find(std::string_view section, std::string_view key,
                                          Scope scope) const {
  if (const IniEntry* e = FindEntry(overrides_, section, key)) return e->value;
  if (scope == Scope::User) return LookUp(where_.userFile, section, key);
  for (const fs::path& f : where_.machineReadFiles)
    if (auto v = LookUp(f, section, key)) return v;
  return std::nullopt;
}

std::string Settings::GetString(std::string_view section, std::string_view key,
                                std::string_view def, Scope scope) const {
  if (auto v = Find(section, key, scope)) return CutToReadLimit(*v);
  return std::string(def);
}

int Settings::GetInt(std::string_view section, std::string_view key, int def, Scope scope) const {
  const auto v = Find(section, key, scope);
  if (!v || v->empty()) return def;
  return ParseLeadingInt(CutToReadLimit(*v));
}

bool Settings::GetBool(std::string_view section, std::string_view key, bool def,
                       Scope scope) const {
  const auto v = Find(section, key, scope);
  if (!v || v->empty()) return def;
  return v->front() != '0';
}

bool Settings::SetString(std::string_view section, std::string_view key, std::string_view value,
                         Scope scope) {
  const std::string text(value);
  const fs::path& file = scope == Scope::User ? where_.userFile : where_.machineWriteFile;
  return Write(file, section, key, &text);
}

bool Settings::SetInt(std::string_view section, std::string_view key, int value, Scope scope) {
  return SetString(section, key, std::to_string(value), scope);
}

bool Settings::SetBool(std::string_view section, std::string_view key, bool value, Scope scope) {
  return SetString(section, key, value ? "1" : "0", scope);
}

bool Settings::Delete(std::string_view section, std::string_view key, Scope scope) {
  if (scope == Scope::User) return Write(where_.userFile, section, key, nullptr);
  // A machine value may be found in any of the files read; remove it from those we can write.
  bool ok = Write(where_.machineWriteFile, section, key, nullptr);
  for (const fs::path& f : where_.machineReadFiles)
    if (f != where_.machineWriteFile && ::access(f.c_str(), W_OK) == 0)
      ok = Write(f, section, key, nullptr) && ok;
  return ok;
}

void Settings::SetOverride(std::string_view section, std::string_view key, std::string_view value) {
  overrides_.push_back({std::string(section), std::string(key), std::string(value)});
}

bool Settings::Write(const fs::path& file, std::string_view section, std::string_view key,
                     const std::string* value) {
  if (section.empty() || key.empty() || file.empty()) return false;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);

  // Whole read-modify-write under an exclusive lock, so two running copies that
  // write at once both keep their values; the rename makes each write atomic.
  const fs::path lockPath = file.string() + ".lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }

  std::string text;
  std::vector<IniEntry> entries;
  if (ReadWholeFile(file, text)) entries = ParseIni(text);
  const std::size_t before = entries.size();
  bool replaced = false;
  for (auto it = entries.begin(); it != entries.end();) {
    if (SameName(it->section, section) && SameName(it->key, key)) {
      if (value && !replaced) {
        it->value = *value;
        replaced = true;
        ++it;
      } else {
        it = entries.erase(it);
      }
    } else {
      ++it;
    }
  }
  if (value && !replaced) {
    // Keep a section's spelling as first written.
    std::string sectionName(section);
    for (const IniEntry& e : entries)
      if (SameName(e.section, section)) sectionName = e.section;
    entries.push_back({sectionName, std::string(key), *value});
  }

  const bool ok =
      (!value && entries.size() == before) || WriteFileAtomically(file, FormatIni(entries));
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  return ok;
}

Settings& Settings::Process() {
  static auto* store = new Settings(DefaultLocations());
  return *store;
}

void Settings::SetProcess(Locations where) { Process() = Settings(std::move(where)); }

}  // namespace quillet::settings
