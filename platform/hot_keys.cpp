#include "platform/hot_keys.h"

#include <algorithm>

#include "platform/record_file.h"

namespace quillet::platform {

HotKeyFile ParseHotKeys(std::string_view bytes) {
  HotKeyFile out;
  if (bytes.empty()) return out;
  RecordReader in(bytes);
  if (in.U8() != 0) {
    out.status = HotKeyStatus::WrongVersion;
    return out;
  }
  out.status = HotKeyStatus::Ok;
  while (!in.AtEnd()) {
    HotKey key;
    key.keyCode = in.U32();
    const std::uint8_t n = in.U8();
    // n is at most 255, and each ID is read against what is left, so nothing is
    // allocated beyond the file's own size.
    for (int i = 0; i < n && in.ok(); ++i) key.commands.push_back(in.I32());
    if (!in.ok()) break;  // a record cut short ends the reading
    out.keys.push_back(std::move(key));
  }
  return out;
}

HotKeyFile LoadHotKeys(const std::filesystem::path& file) {
  std::string bytes;
  if (!ReadFile(file, bytes)) return {};
  return ParseHotKeys(bytes);
}

std::string SerializeHotKeys(const std::vector<HotKey>& keys) {
  RecordWriter out;
  out.U8(0);
  for (const HotKey& key : keys) {
    const std::size_t n = std::min<std::size_t>(key.commands.size(), 255);
    out.U32(key.keyCode);
    out.U8(static_cast<std::uint8_t>(n));
    for (std::size_t i = 0; i < n; ++i) out.I32(key.commands[i]);
  }
  return out.bytes();
}

bool SaveHotKeys(const std::filesystem::path& file, const std::vector<HotKey>& keys) {
  return WriteFileAtomically(file, SerializeHotKeys(keys));
}

const HotKey* FindHotKey(const std::vector<HotKey>& keys, std::uint32_t keyCode) {
  for (const HotKey& key : keys)
    if (key.keyCode == keyCode) return &key;
  return nullptr;
}

std::string HotKeyText(std::uint32_t keyCode, std::string_view keyName) {
  std::string text;
  if (keyCode & kKeyCtrl) text += "Ctrl+";
  if (keyCode & kKeyAlt) text += "Alt+";
  if (keyCode & kKeyShift) text += "Shift+";
  text += keyName;
  return text;
}

}  // namespace quillet::platform
