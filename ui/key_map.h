#pragma once
// Qt keys as the virtual-key codes that keys.dat stores, so stored hot keys keep
// their meaning whatever the keyboard layout and toolkit.

#include <cstdint>
#include <string>

#include <Qt>

namespace quillet::ui {

// Virtual-key codes the frame handles by name.
enum VirtualKey : std::uint32_t {
  kVkSpace = 0x20,
  kVkEnd = 0x23,
  kVkHome = 0x24,
  kVkLeft = 0x25,
  kVkRight = 0x27,
  kVkDelete = 0x2E,
  kVkEscape = 0x1B,
  kVkF1 = 0x70,
  kVkF7 = 0x76,
  kVkF8 = 0x77,
  kVkAdd = 0x6B,
  kVkSubtract = 0x6D,
};

// The virtual-key code of a Qt key (keypad keys have their own codes); 0 when it
// has none.
std::uint32_t VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers);
// Virtual-key code plus the Ctrl, Alt and Shift flags; 0 for a key without a code.
std::uint32_t KeyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers);
// The key's name ("F5", "A", "Num +", "Delete"); "" when unknown.
std::string VirtualKeyName(std::uint32_t vk);
// "Ctrl+Shift+F3" and the like.
std::string KeyCodeText(std::uint32_t keyCode);

}  // namespace quillet::ui
