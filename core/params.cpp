#include "core/params.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quillet::core {
namespace {

bool IsPath(ParamKind k) { return k == ParamKind::OpenPath || k == ParamKind::SavePath; }

std::int64_t Lowest(const ParamInfo& f) {
  return f.kind == ParamKind::Int ? f.min : 0;
}

std::int64_t Highest(const ParamInfo& f) {
  switch (f.kind) {
    case ParamKind::Int: return f.max;
    case ParamKind::Bool: return 1;
    case ParamKind::Choice: return std::max<std::int64_t>(std::int64_t(f.choices.size()) - 1, 0);
    default: return 0;
  }
}

bool Listed(const ParamInfo& f, std::int64_t v) {
  return std::find(f.values.begin(), f.values.end(), v) != f.values.end();
}

// Whether v names an entry of a list field; plain Ints are checked by range.
bool InList(const ParamInfo& f, std::int64_t v) {
  if (!f.values.empty()) return Listed(f, v);
  return f.kind != ParamKind::Choice || (v >= 0 && v <= Highest(f));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool WholeNumber(std::string_view text, std::int64_t& out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, out);
  return !text.empty() && ec == std::errc() && p == end;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The label as a sentence's subject: without '&', the trailing ':' and blanks. A
// path's label is its file dialog's title, so a path is "The file".
std::string Subject(const ParamInfo& f) {
  if (IsPath(f.kind)) return "The file";
  std::string s;
  for (char c : f.label.empty() ? f.name : f.label)
    if (c != '&') s += c;
  while (!s.empty() && (s.back() == ':' || s.back() == ' ')) s.pop_back();
  return s;
}

// The word for one value of f, or the refusal.
std::string ParseWord(const ParamInfo& f, std::string_view word, std::int64_t& value) {
  if (f.kind == ParamKind::Choice || !f.values.empty()) {
    for (std::size_t i = 0; i < f.choices.size(); ++i) {
      if (SameText(Trim(word), f.choices[i])) {
        value = f.values.empty() ? std::int64_t(i) : f.values[std::min(i, f.values.size() - 1)];
        return {};
      }
    }
  }
  if (f.kind == ParamKind::Bool) {
    const std::string_view w = Trim(word);
    for (std::string_view yes : {"yes", "true", "on"})
      if (SameText(w, yes)) return value = 1, std::string();
    for (std::string_view no : {"no", "false", "off"})
      if (SameText(w, no)) return value = 0, std::string();
  }
  if (WholeNumber(word, value)) return {};
  std::string msg = Subject(f) + " must be a whole number, not \"" + std::string(word) + "\"";
  if (f.kind == ParamKind::Choice && !f.choices.empty()) {
    msg += " (one of";
    for (std::size_t i = 0; i < f.choices.size(); ++i)
      msg += (i ? ", " : " ") + std::string(f.choices[i]);
    msg += ")";
  }
  return msg + ".";
}

}  // namespace

ParamSet::ParamSet(const ParamTable& table)
    : table_(&table),
      ints_(table.fields.size()),
      defs_(table.fields.size()),
      texts_(table.fields.size()) {
  for (std::size_t i = 0; i < size(); ++i) {
    const ParamInfo& f = field(i);
    defs_[i] = f.def;
    if (IsTextKind(f.kind))
      texts_[i] = std::string(f.textDefault);
    else
      ints_[i] = f.def;
  }
}

void ParamSet::RestoreDefaults() {
  for (std::size_t i = 0; i < size(); ++i) {
    if (IsTextKind(field(i).kind))
      texts_[i] = std::string(field(i).textDefault);
    else
      ints_[i] = defs_[i];
  }
}

void ParamSet::Load(const settings::Settings& s, std::vector<std::string>* notices) {
  for (std::size_t i = 0; i < size(); ++i) {
    const ParamInfo& f = field(i);
    if (f.key.empty() || IsPath(f.kind)) continue;
    if (f.kind == ParamKind::Text) {
      texts_[i] = s.GetString(f.section, f.key, f.textDefault);
      continue;
    }
    const std::optional<std::string> raw = s.Find(f.section, f.key);
    const std::int64_t def = defs_[i];
    if (!raw || Trim(*raw).empty()) {
      ints_[i] = def;
      continue;
    }
    const std::string where = std::string(f.section) + "/" + std::string(f.key);
    std::int64_t v = 0;
    if (f.kind == ParamKind::Bool) {
      v = s.GetBool(f.section, f.key, def != 0) ? 1 : 0;
    } else if (!WholeNumber(*raw, v)) {
      ints_[i] = def;
      if (notices)
        notices->push_back("The stored value \"" + *raw + "\" of " + where + " is not a number; " +
                           std::to_string(def) + " is used instead.");
      continue;
    }
    // The nearest entry of a list is no better a guess than any other.
    if (!InList(f, v)) {
      ints_[i] = def;
      if (notices)
        notices->push_back("The stored value " + std::to_string(v) + " of " + where +
                           " is not one of the offered values; " + std::to_string(def) +
                           " is used instead.");
      continue;
    }
    const std::int64_t clamped = std::clamp(v, Lowest(f), Highest(f));
    if (clamped != v && notices)
      notices->push_back("The stored value " + std::to_string(v) + " of " + std::string(f.section) +
                         "/" + std::string(f.key) + " is out of range; " +
                         std::to_string(clamped) + " is used instead.");
    ints_[i] = clamped;
  }
}

void ParamSet::Store(settings::Settings& s) const {
  for (std::size_t i = 0; i < size(); ++i) {
    const ParamInfo& f = field(i);
    if (f.key.empty() || IsPath(f.kind)) continue;
    if (f.kind == ParamKind::Text)
      s.SetString(f.section, f.key, texts_[i]);
    else if (f.kind == ParamKind::Bool)
      s.SetBool(f.section, f.key, ints_[i] != 0);
    else
      s.SetInt(f.section, f.key,
               int(std::clamp<std::int64_t>(ints_[i], INT32_MIN, INT32_MAX)));
  }
}

std::string ParamSet::Parse(std::span<const std::string> given) {
  std::vector<std::string> words(given.begin(), given.end());
  if (words.size() > size()) {
    std::size_t text = size();
    for (std::size_t i = 0; i < size(); ++i)
      if (IsTextKind(field(i).kind)) text = i;
    if (text == size()) {
      if (size() == 0) return "This command takes no parameters.";
      return "Too many parameters: " + std::to_string(words.size()) + " given, at most " +
             std::to_string(size()) + " (" + Usage() + ").";
    }
    // The words split off the text field at its commas go back into it.
    const std::size_t extra = words.size() - size();
    for (std::size_t k = 1; k <= extra; ++k) words[text] += "," + words[text + k];
    words.erase(words.begin() + std::ptrdiff_t(text + 1),
                words.begin() + std::ptrdiff_t(text + 1 + extra));
  }
  for (std::size_t i = 0; i < size(); ++i) {
    const ParamInfo& f = field(i);
    if (i >= words.size() || words[i].empty()) {
      if (f.required) return Subject(f) + " must be given (" + Usage() + ").";
      continue;
    }
    if (IsTextKind(f.kind)) {
      texts_[i] = words[i];
      continue;
    }
    std::int64_t v = 0;
    if (std::string why = ParseWord(f, words[i], v); !why.empty()) return why;
    ints_[i] = v;
  }
  return {};
}

std::string ParamSet::Validate() const {
  const auto& order = table_->checkOrder;
  for (std::size_t n = 0; n < (order.empty() ? size() : order.size()); ++n) {
    const std::size_t i = order.empty() ? n : order[n];
    if (i >= size()) continue;
    const ParamInfo& f = field(i);
    if (IsTextKind(f.kind)) {
      if (IsPath(f.kind) && texts_[i].empty()) return Subject(f) + " must be given.";
      continue;
    }
    if (!f.values.empty()) {
      if (Listed(f, ints_[i])) continue;
      if (!f.rangeMessage.empty()) return std::string(f.rangeMessage);
      std::string list;
      for (std::size_t v = 0; v < f.values.size(); ++v)
        list += (v ? ", " : "") + std::to_string(f.values[v]);
      return Subject(f) + " must be one of " + list + ".";
    }
    if (ints_[i] >= Lowest(f) && ints_[i] <= Highest(f)) continue;
    if (ints_[i] < Lowest(f) && !f.lowMessage.empty()) return std::string(f.lowMessage);
    if (!f.rangeMessage.empty()) return std::string(f.rangeMessage);
    return Subject(f) + " must be between " + std::to_string(Lowest(f)) + " and " +
           std::to_string(Highest(f)) + ".";
  }
  return table_->validate ? table_->validate(*this) : std::string();
}

void ParamSet::ChoosePreset(std::size_t i) {
  if (i >= table_->presets.size()) return;
  const ParamPreset& p = table_->presets[i];
  std::size_t next = 0;
  for (std::size_t f = 0; f < size() && next < std::min(p.count, p.values.size()); ++f) {
    if (IsTextKind(field(f).kind)) continue;
    ints_[f] = p.values[next++];
  }
}

std::string ParamSet::Usage() const {
  std::string out;
  for (std::size_t i = 0; i < size(); ++i) {
    if (i) out += ',';
    out += field(i).name;
  }
  return out;
}

std::string CheckValues(const ParamTable& table, std::initializer_list<std::int64_t> values) {
  ParamSet set(table);
  std::size_t i = 0;
  for (std::int64_t v : values) {
    while (i < set.size() && IsTextKind(set.field(i).kind)) ++i;
    if (i == set.size()) break;
    set.SetInt(i++, v);
  }
  return set.Validate();
}

}  // namespace quillet::core
