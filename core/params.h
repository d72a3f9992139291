#pragma once
// A command's parameters, described once: one ParamInfo per dialog field, in field
// order, with its stored-value key, default, range and unit. The editor's dialogs,
// quillet-cli, the stored values and batch scripts all read, clamp and refuse through
// the same table, so a range is written in one place.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

namespace quillet::core {

enum class ParamKind : std::uint8_t {
  Int,       // a whole number in [min, max]
  Bool,      // 0 or 1: a check box
  Choice,    // an index into choices; quillet-cli takes the name or the index
  Text,      // free text (a voice, a curve, a plug-in's settings)
  OpenPath,  // a file to read; the editor asks with its open dialog
  SavePath,  // a file to write; the editor asks with its save dialog
};

struct ParamInfo {
  std::string_view name;   // quillet-cli's placeholder: "PCT", "MS", "PATH"
  std::string_view label;  // the dialog's label, with its & mark
  // The stored value's key in section; empty: not stored. For a path, the key of
  // the folder the file dialog starts in.
  std::string_view key;
  ParamKind kind = ParamKind::Int;
  std::int64_t def = 0;
  std::int64_t min = 0;
  std::int64_t max = 0;
  // "%", "ms", "Hz", "dB", "frames"; empty: none. For a path, the default extension;
  // for a text, what it holds (quillet-cli's help shows it).
  std::string_view unit;
  // Shown for a value outside [min, max]; empty: "<label> must be between min and max."
  std::string_view rangeMessage;
  // Shown instead for a value below min, where rangeMessage speaks of the top end only.
  std::string_view lowMessage;
  // The names of a Choice's entries. For a path, the file dialog's filters, each
  // "Name (*.ext ...)"; empty: all files.
  std::span<const std::string_view> choices;
  std::string_view textDefault;  // a Text's default
  std::string_view section = "StoredValues";
  // An Int taken from a list (bit rates): the only values accepted; choices, when
  // given, name them for display. Empty: any value in [min, max].
  std::span<const std::int64_t> values;
  // quillet-cli and scripts must give it: there is no stored value to fall back on.
  bool required = false;
};

class ParamSet;

// A named set of values for the leading count Int, Bool and Choice fields.
struct ParamPreset {
  std::string_view name;
  std::array<std::int64_t, 8> values{};
  std::size_t count = 1;
};

struct ParamTable {
  std::string_view title;  // the dialog's title
  std::span<const ParamInfo> fields;
  std::span<const ParamPreset> presets;
  // A check across fields, after each field's own range: the message refusing the
  // values, or empty when they are accepted.
  std::string (*validate)(const ParamSet& values) = nullptr;
  // Every field's index in the order their ranges are checked, where the dialog
  // checks them in another order than quillet-cli takes them; empty: field order.
  std::span<const std::uint8_t> checkOrder;
};

// Values for one table. Every front end goes through it: Load (stored values), then
// the dialog's edits or Parse (quillet-cli, batch), then Validate, then Store.
class ParamSet {
 public:
  // Every field at its default.
  explicit ParamSet(const ParamTable& table);

  const ParamTable& table() const { return *table_; }
  std::size_t size() const { return table_->fields.size(); }
  const ParamInfo& field(std::size_t i) const { return table_->fields[i]; }

  std::int64_t Int(std::size_t i) const { return ints_.at(i); }
  bool Bool(std::size_t i) const { return ints_.at(i) != 0; }
  const std::string& Text(std::size_t i) const { return texts_.at(i); }
  // Sets a value as typed: no clamping, so Validate can refuse it with its message.
  void SetInt(std::size_t i, std::int64_t v) { ints_.at(i) = v; }
  void SetText(std::size_t i, std::string v) { texts_.at(i) = std::move(v); }

  // The stored values. Stored values reach the command without a dialog, so each is
  // clamped into its field's range: one that is not a number takes the default, an Int
  // out of range the nearest end, a Choice or listed Int that names no entry the
  // default; each such fall-back adds a line to *notices.
  void Load(const settings::Settings& s, std::vector<std::string>* notices = nullptr);
  // Writes every field that has a key.
  void Store(settings::Settings& s) const;
  // Fields in order from quillet-cli's or a script's words; an empty or missing word
  // keeps the value loaded. Words beyond the table's size belong to its last text
  // field, commas included (a path may hold them); without one they are refused. So is
  // anything that is not a value of its field, and a missing required word, with the
  // message to show; empty when accepted. Ranges are left to Validate.
  std::string Parse(std::span<const std::string> words);
  // Each field's range, then the table's own check: the refusal, or empty.
  std::string Validate() const;
  // Entry i of presets() sets the leading number fields.
  void ChoosePreset(std::size_t i);
  // A default of this set only (a dialog preset with the document's rate): Load and
  // RestoreDefaults use it in place of the table's. Sets the value too.
  void SetDefault(std::size_t i, std::int64_t v) { defs_.at(i) = ints_.at(i) = v; }
  // Every field back to its default ("Restore Defaults").
  void RestoreDefaults();
  // "PCT" or "MS,PCT": the field names joined as quillet-cli writes them.
  std::string Usage() const;

 private:
  const ParamTable* table_;
  std::vector<std::int64_t> ints_;
  std::vector<std::int64_t> defs_;
  std::vector<std::string> texts_;
};

// The refusal (or empty) for table's leading number fields at values, the others at
// their defaults: how a unit checks its parameter struct against its table.
std::string CheckValues(const ParamTable& table, std::initializer_list<std::int64_t> values);

// True for the kinds held as text.
inline bool IsTextKind(ParamKind k) {
  return k == ParamKind::Text || k == ParamKind::OpenPath || k == ParamKind::SavePath;
}

}  // namespace quillet::core
