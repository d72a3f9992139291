// The parameter words of quillet-cli apply (and of batch scripts) over every registered
// table: the first byte picks a command, the rest is its text after ':'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/registry.h"
#include "core/params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const quillet::core::CommandRegistry registry = quillet::app::BuildCommandRegistry();
  static const std::vector<const quillet::core::ParamTable*> tables = [] {
    std::vector<const quillet::core::ParamTable*> v;
    for (const auto& c : registry.all())
      if (c.params) v.push_back(c.params);
    return v;
  }();
  if (size == 0 || tables.empty()) return 0;
  const quillet::core::ParamTable& table = *tables[data[0] % tables.size()];
  std::vector<std::string> words(1);
  for (size_t i = 1; i < size && words.size() <= 64; ++i) {
    if (data[i] == ',') words.emplace_back();
    else words.back().push_back(static_cast<char>(data[i]));
  }
  quillet::core::ParamSet values(table);
  if (!values.Parse(words).empty() || !values.Validate().empty()) return 0;
  // Accepted values are inside every field's range.
  for (std::size_t i = 0; i < values.size(); ++i) {
    const quillet::core::ParamInfo& f = values.field(i);
    if (f.kind == quillet::core::ParamKind::Int && (values.Int(i) < f.min || values.Int(i) > f.max))
      std::abort();
  }
  return 0;
}
