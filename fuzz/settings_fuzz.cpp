// Settings files are edited by hand and may be anything: parsing must never fail,
// and what we write back must read back as the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

using quillet::settings::IniEntry;

namespace {

// ASCII case folding over every byte: names may hold zero bytes, which strncasecmp
// would stop at.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

const std::string* LastValue(const std::vector<IniEntry>& v, const IniEntry& want) {
  for (auto it = v.rbegin(); it != v.rend(); ++it)
    if (SameName(it->section, want.section) && SameName(it->key, want.key)) return &it->value;
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto entries = quillet::settings::ParseIni(text);
  const auto again = quillet::settings::ParseIni(quillet::settings::FormatIni(entries));
  for (const IniEntry& e : entries) {
    const std::string* before = LastValue(entries, e);
    const std::string* after = LastValue(again, e);
    if (!after || *after != *before) std::abort();
  }
  quillet::settings::ParseLeadingInt(text);
  if (quillet::settings::CutToReadLimit(text).size() > text.size()) std::abort();
  return 0;
}
