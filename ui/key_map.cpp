#include "ui/key_map.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/hot_keys.h"

namespace quillet::ui {
namespace {

struct KeyPair {
  int qt;
  std::uint32_t vk;
  const char* name;
};

// clang-format off
constexpr KeyPair kNamedKeys[] = {
    {Qt::Key_Backspace, 0x08, "Backspace"}, {Qt::Key_Tab, 0x09, "Tab"},
    {Qt::Key_Backtab, 0x09, "Tab"},         {Qt::Key_Return, 0x0D, "Enter"},
    {Qt::Key_Enter, 0x0D, "Enter"},         {Qt::Key_Shift, 0x10, "Shift"},
    {Qt::Key_Control, 0x11, "Ctrl"},        {Qt::Key_Alt, 0x12, "Alt"},
    {Qt::Key_Pause, 0x13, "Pause"},         {Qt::Key_CapsLock, 0x14, "Caps Lock"},
    {Qt::Key_Escape, 0x1B, "Esc"},          {Qt::Key_Space, 0x20, "Space"},
    {Qt::Key_PageUp, 0x21, "Page Up"},      {Qt::Key_PageDown, 0x22, "Page Down"},
    {Qt::Key_End, 0x23, "End"},             {Qt::Key_Home, 0x24, "Home"},
    {Qt::Key_Left, 0x25, "Left"},           {Qt::Key_Up, 0x26, "Up"},
    {Qt::Key_Right, 0x27, "Right"},         {Qt::Key_Down, 0x28, "Down"},
    {Qt::Key_Print, 0x2C, "Print Screen"},  {Qt::Key_Insert, 0x2D, "Insert"},
    {Qt::Key_Delete, 0x2E, "Delete"},       {Qt::Key_Menu, 0x5D, "Application"},
    {Qt::Key_NumLock, 0x90, "Num Lock"},    {Qt::Key_ScrollLock, 0x91, "Scroll Lock"},
    {Qt::Key_Semicolon, 0xBA, ";"},  {Qt::Key_Colon, 0xBA, ";"},
    {Qt::Key_Equal, 0xBB, "="},      {Qt::Key_Plus, 0xBB, "="},
    {Qt::Key_Comma, 0xBC, ","},      {Qt::Key_Less, 0xBC, ","},
    {Qt::Key_Minus, 0xBD, "-"},      {Qt::Key_Underscore, 0xBD, "-"},
    {Qt::Key_Period, 0xBE, "."},     {Qt::Key_Greater, 0xBE, "."},
    {Qt::Key_Slash, 0xBF, "/"},      {Qt::Key_Question, 0xBF, "/"},
    {Qt::Key_QuoteLeft, 0xC0, "`"},  {Qt::Key_AsciiTilde, 0xC0, "`"},
    {Qt::Key_BracketLeft, 0xDB, "["},  {Qt::Key_BraceLeft, 0xDB, "["},
    {Qt::Key_Backslash, 0xDC, "\\"},   {Qt::Key_Bar, 0xDC, "\\"},
    {Qt::Key_BracketRight, 0xDD, "]"}, {Qt::Key_BraceRight, 0xDD, "]"},
    {Qt::Key_Apostrophe, 0xDE, "'"},   {Qt::Key_QuoteDbl, 0xDE, "'"},
    // Shifted digits on a US layout keep the digit's key.
    {Qt::Key_Exclam, 0x31, "1"}, {Qt::Key_At, 0x32, "2"}, {Qt::Key_NumberSign, 0x33, "3"},
    {Qt::Key_Dollar, 0x34, "4"}, {Qt::Key_Percent, 0x35, "5"}, {Qt::Key_AsciiCircum, 0x36, "6"},
    {Qt::Key_Ampersand, 0x37, "7"}, {Qt::Key_Asterisk, 0x38, "8"},
    {Qt::Key_ParenLeft, 0x39, "9"}, {Qt::Key_ParenRight, 0x30, "0"},
};

constexpr KeyPair kKeypadKeys[] = {
    {Qt::Key_Asterisk, 0x6A, "Num *"}, {Qt::Key_Plus, 0x6B, "Num +"},
    {Qt::Key_Minus, 0x6D, "Num -"},    {Qt::Key_Period, 0x6E, "Num Del"},
    {Qt::Key_Slash, 0x6F, "Num /"},    {Qt::Key_Enter, 0x0D, "Enter"},
};
// clang-format on

}  // namespace

std::uint32_t VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x60 + std::uint32_t(qtKey - Qt::Key_0);
    for (const KeyPair& k : kKeypadKeys)
      if (k.qt == qtKey) return k.vk;
  }
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 0x41 + std::uint32_t(qtKey - Qt::Key_A);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x30 + std::uint32_t(qtKey - Qt::Key_0);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return kVkF1 + std::uint32_t(qtKey - Qt::Key_F1);
  for (const KeyPair& k : kNamedKeys)
    if (k.qt == qtKey) return k.vk;
  return 0;
}

std::uint32_t KeyCodeOf(int qtKey, Qt::KeyboardModifiers modifiers) {
  const std::uint32_t vk = VirtualKeyOf(qtKey, modifiers);
  if (vk == 0) return 0;
  std::uint32_t code = vk;
  if (modifiers & Qt::ControlModifier) code |= platform::kKeyCtrl;
  if (modifiers & Qt::AltModifier) code |= platform::kKeyAlt;
  if (modifiers & Qt::ShiftModifier) code |= platform::kKeyShift;
  return code;
}

std::string VirtualKeyName(std::uint32_t vk) {
  if ((vk >= 0x41 && vk <= 0x5A) || (vk >= 0x30 && vk <= 0x39)) return std::string(1, char(vk));
  if (vk >= 0x60 && vk <= 0x69) return "Num " + std::string(1, char('0' + vk - 0x60));
  if (vk >= kVkF1 && vk <= kVkF1 + 23) return "F" + std::to_string(vk - kVkF1 + 1);
  for (const KeyPair& k : kKeypadKeys)
    if (k.vk == vk) return k.name;
  for (const KeyPair& k : kNamedKeys)
    if (k.vk == vk) return k.name;
  return {};
}

std::string KeyCodeText(std::uint32_t keyCode) {
  return platform::HotKeyText(keyCode, VirtualKeyName(keyCode & platform::kVirtualKeyMask));
}

}  // namespace quillet::ui
