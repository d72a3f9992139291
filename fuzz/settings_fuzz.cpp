// Settings files are edited by hand and may be anything: parsing must never fail,
// and what we write back must read back as the same values.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

using quillet::settings::IniEntry;

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
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
