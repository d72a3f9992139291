#pragma once
// The user's hot keys, kept in "keys.dat": a version byte (0), then records until the
// end of the file, each a 32-bit key code, a count byte n and n 32-bit command IDs.
// Key codes hold a virtual-key code in the low 16 bits and the modifier flags above.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

inline constexpr std::uint32_t kKeyAlt = 0x10000;
inline constexpr std::uint32_t kKeyCtrl = 0x20000;
inline constexpr std::uint32_t kKeyShift = 0x40000;
inline constexpr std::uint32_t kVirtualKeyMask = 0xFFFF;

struct HotKey {
  std::uint32_t keyCode = 0;
  std::vector<std::int32_t> commands;  // sent in this order
  friend bool operator==(const HotKey&, const HotKey&) = default;
};

enum class HotKeyStatus {
  Ok,            // including a file whose last record was cut short (it ends there)
  Unreadable,    // missing or empty: skipped silently
  WrongVersion,  // the caller shows the "File Error" message; no keys are used
};

struct HotKeyFile {
  HotKeyStatus status = HotKeyStatus::Unreadable;
  std::vector<HotKey> keys;
};

HotKeyFile ParseHotKeys(std::string_view bytes);
HotKeyFile LoadHotKeys(const std::filesystem::path& file);
// The file's bytes; a key with more than 255 commands keeps its first 255.
std::string SerializeHotKeys(const std::vector<HotKey>& keys);
// Replaces file atomically, so a failed write keeps the old keys.
bool SaveHotKeys(const std::filesystem::path& file, const std::vector<HotKey>& keys);

// The first key whose code matches, or null.
const HotKey* FindHotKey(const std::vector<HotKey>& keys, std::uint32_t keyCode);

// "Ctrl+", "Alt+", "Shift+" (as present, in that order) and then keyName.
std::string HotKeyText(std::uint32_t keyCode, std::string_view keyName);

}  // namespace quillet::platform
