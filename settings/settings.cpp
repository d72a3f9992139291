#include "settings/settings.h"

// Placeholder until the store lands; returns defaults.
namespace quillet::settings {
int ParseLeadingInt(std::string_view) { return 0; }
std::string CutToReadLimit(std::string_view t) { return std::string(t); }
Locations DefaultLocations() { return {}; }
Locations FolderLocations(const std::filesystem::path& dir) {
  return {dir / "settings.ini", dir / "machine.ini", {dir / "machine.ini"}};
}
Settings::Settings(Locations where) : where_(std::move(where)) {}
std::string Settings::GetString(std::string_view, std::string_view, std::string_view def,
                                Scope) const {
  return std::string(def);
}
int Settings::GetInt(std::string_view, std::string_view, int def, Scope) const { return def; }
bool Settings::GetBool(std::string_view, std::string_view, bool def, Scope) const { return def; }
std::optional<std::string> Settings::Find(std::string_view, std::string_view, Scope) const {
  return std::nullopt;
}
bool Settings::SetString(std::string_view, std::string_view, std::string_view, Scope) {
  return false;
}
bool Settings::SetInt(std::string_view, std::string_view, int, Scope) { return false; }
bool Settings::SetBool(std::string_view, std::string_view, bool, Scope) { return false; }
bool Settings::Delete(std::string_view, std::string_view, Scope) { return false; }
Settings& Settings::Process() {
  static Settings s{DefaultLocations()};
  return s;
}
void Settings::SetProcess(Locations where) { Process() = Settings(std::move(where)); }
std::vector<IniEntry> ParseIni(std::string_view) { return {}; }
std::string FormatIni(const std::vector<IniEntry>&) { return {}; }
}  // namespace quillet::settings
namespace quillet::settings {
void Settings::SetOverride(std::string_view, std::string_view, std::string_view) {}
}  // namespace quillet::settings
