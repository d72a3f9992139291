#pragma once
// The settings store: named sections of string values in two scopes. Every
// value is text; integers and booleans are read from it with fixed rules, and
// any failure falls back to the caller's default.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::settings {

enum class Scope { User, Machine };

// Longest value a read returns, in characters (code points); longer ones are cut.
inline constexpr std::size_t kMaxValueChars = 259;

// Reading rules, shared with anything that parses stored values.
// Leading decimal number of text: optional blanks and sign, then digits; no digits
// gives 0; out-of-range values clamp to the int range.
int ParseLeadingInt(std::string_view text);
// Text cut to its first kMaxValueChars characters (never inside a UTF-8 sequence).
std::string CutToReadLimit(std::string_view text);

// Where the files of a store live.
struct Locations {
  std::filesystem::path userFile;                       // read and written for Scope::User
  std::filesystem::path machineWriteFile;               // written for Scope::Machine
  std::vector<std::filesystem::path> machineReadFiles;  // read in order, first hit wins
};

// XDG locations: $XDG_CONFIG_HOME/Orvanta/Quillet/settings.ini for the user;
// machine-wide read from each of $XDG_CONFIG_DIRS/Orvanta/Quillet/settings.ini
// (after the user's machine.ini), written to the first of those when it can be
// written, else to the user's machine.ini.
Locations DefaultLocations();
// Both scopes inside one folder: DIR/settings.ini and DIR/machine.ini.
Locations FolderLocations(const std::filesystem::path& dir);

// The parsed form of one settings file; exposed for the parser's tests and fuzzing.
struct IniEntry {
  std::string section;
  std::string key;
  std::string value;
};

class Settings {
 public:
  explicit Settings(Locations where);

  // Value of key in section, cut to kMaxValueChars; def when missing.
  std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                        Scope scope = Scope::User) const;
  // Empty or missing: def; otherwise the leading decimal number.
  int GetInt(std::string_view section, std::string_view key, int def,
             Scope scope = Scope::User) const;
  // Empty or missing: def; starting with '0': false; anything else: true.
  bool GetBool(std::string_view section, std::string_view key, bool def,
               Scope scope = Scope::User) const;
  // The raw stored text, if any (no cutting).
  std::optional<std::string> Find(std::string_view section, std::string_view key,
                                  Scope scope = Scope::User) const;

  // Writes return false on failure; callers following the settings rules ignore it.
  bool SetString(std::string_view section, std::string_view key, std::string_view value,
                 Scope scope = Scope::User);
  bool SetInt(std::string_view section, std::string_view key, int value, Scope scope = Scope::User);
  bool SetBool(std::string_view section, std::string_view key, bool value,
               Scope scope = Scope::User);
  bool Delete(std::string_view section, std::string_view key, Scope scope = Scope::User);

  // A value that wins over both files for the life of this object, never written
  // (quillet-cli --set SECTION/KEY=VALUE).
  void SetOverride(std::string_view section, std::string_view key, std::string_view value);

  const Locations& locations() const { return where_; }

  // The store of this process (DefaultLocations until replaced, e.g. by --settings).
  static Settings& Process();
  static void SetProcess(Locations where);

 private:
  bool Write(const std::filesystem::path& file, std::string_view section, std::string_view key,
             const std::string* value);
  Locations where_;
  std::vector<IniEntry> overrides_;
};

// Never fails: lines that are not "[section]" or "key=value" are skipped.
std::vector<IniEntry> ParseIni(std::string_view text);
std::string FormatIni(const std::vector<IniEntry>& entries);

}  // namespace quillet::settings
