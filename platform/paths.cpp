#include "platform/paths.h"

namespace quillet::platform {

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string_view PathExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  if (slash != std::string_view::npos && dot < slash) return {};
  return path.substr(dot);
}

std::string ReplaceExtension(std::string_view path, std::string_view ext) {
  const std::string_view old = PathExtension(path);
  std::string out(path.substr(0, path.size() - old.size()));
  out += ext;
  return out;
}

std::string_view PathFileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view PathFolder(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool SameExtension(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool FitsPathLimit(std::string_view path) { return path.size() <= kMaxPathLength; }

std::string FileNameSafe(std::string_view text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool bad = u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' ||
                     c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
    out.push_back(bad ? '_' : c);
  }
  const auto isTrim = [](char c) { return c == ' ' || c == '.'; };
  while (!out.empty() && isTrim(out.back())) out.pop_back();
  std::size_t lead = 0;
  while (lead < out.size() && isTrim(out[lead])) ++lead;
  return out.substr(lead);
}

bool IsValidFileName(std::string_view name) { return !name.empty() && FileNameSafe(name) == name; }

}  // namespace quillet::platform
