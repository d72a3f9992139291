#pragma once
// The editor's menus and bars laid out from the command table: only commands that
// can run appear (every item works or is absent), in their places' order, with a
// separator where the order moves to another hundred. Plain data, so tests and the
// hot-key options can read it without a window.

#include <cstdint>
#include <string>
#include <vector>

#include "core/command_table.h"

namespace quillet::ui {

// One entry of a menu: a command, a separator (no id, no submenu) or a submenu.
struct MenuItem {
  core::CommandId id = core::kCmdNone;
  std::string submenu;             // title of a submenu, when not empty
  std::vector<MenuItem> children;  // its entries
};
struct MenuLayout {
  std::string title;
  std::vector<MenuItem> items;
};

// The menu bar's menus in the frame's order; menus without a command are left out.
std::vector<MenuLayout> LayOutMenus(const core::CommandRegistry& r);
// The displays' right-click menu: the Edit menu's commands marked for it, then each
// other menu's marked commands as a submenu of that menu's title.
std::vector<MenuItem> LayOutContextMenu(const core::CommandRegistry& r);
// A bar's commands in order; kCmdNone marks a separator.
std::vector<core::CommandId> LayOutBar(const core::CommandRegistry& r, int core::BarPlace::*bar);

// The key codes (as keys.dat stores them) of a command's built-in shortcuts,
// "Ctrl+Z" or several separated by ", ".
std::vector<std::uint32_t> BuiltInKeyCodes(const core::Command& c);

}  // namespace quillet::ui
