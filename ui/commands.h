#pragma once
// Every command of the editor: its ID, menu text, shortcut and status-line text, and
// the menus they are laid out in. Plain data, so the tests and the hot-key options
// can read it without a window.

#include <string>
#include <string_view>
#include <vector>

namespace quillet::ui {

struct CommandInfo {
  int id = 0;
  std::string_view text;         // menu text, with & marks; a shortcut after '\t'
  std::string_view description;  // the status line's text while it is highlighted
  std::string_view keys;         // Qt key sequence of the menu shortcut (may be empty)
};

// IDs the frame itself uses by name.
enum FrameCommand : int {
  kCmdNewFile = 1001,
  kCmdOpenFile = 1002,
  kCmdCloseFile = 1003,
  kCmdSaveFile = 1004,
  kCmdSaveFileAs = 1005,
  kCmdConvertRate = 1006,
  kCmdConvertMono = 1007,
  kCmdConvertStereo = 1008,
  kCmdEditTags = 1019,
  kCmdExit = 1048,
  kCmdRecentFirst = 1050,
  kCmdRecentLast = 1060,
  kCmdRecord = 3001,
  kCmdPlay = 3002,
  kCmdPlaySlow = 3003,
  kCmdPlayNormal = 3004,
  kCmdPlayFast = 3005,
  kCmdStop = 3006,
  kCmdGoToStart = 3007,
  kCmdRewind = 3008,
  kCmdForward = 3009,
  kCmdGoToEnd = 3010,
  kCmdPlayRepeat = 3011,
  kCmdZoomIn = 5001,
  kCmdZoomOut = 5002,
  kCmdZoomSelection = 5003,
  kCmdZoomFull = 5004,
  kCmdVerticalZoom = 5005,
  kCmdDisplayPlusMinus = 5007,
  kCmdDisplayLeftRight = 5008,
  kCmdCascade = 5009,
  kCmdTileHorizontal = 5010,
  kCmdTileVertical = 5011,
  kCmdArrangeIcons = 5012,
  kCmdCloseAll = 5040,
  kCmdHelp = 6000,
  kCmdAbout = 6013,
  kCmdShowCommandBar = 9001,
  kCmdMainToolbar = 9002,
  kCmdEffectsToolbar = 9003,
  kCmdCommandBarLeft = 9004,
  kCmdCommandBarRight = 9005,
};

// Null for an ID that is no command (IDs read from keys.dat are checked here).
const CommandInfo* FindCommand(int id);
const std::vector<CommandInfo>& AllCommands();

// One entry of a menu: a command, a separator (id 0, no submenu) or a submenu.
struct MenuEntry {
  int id = 0;
  std::string_view submenu;         // title of a submenu, when not empty
  std::vector<MenuEntry> children;  // its entries
};
struct MenuInfo {
  std::string_view title;
  std::vector<MenuEntry> entries;
};
const std::vector<MenuInfo>& MainMenus();
// The right-click menu of the displays: the Edit commands, Effects, bookmark, region.
const std::vector<MenuEntry>& ContextMenu();

// The menu text without '&' marks and without the shortcut after '\t'.
std::string_view MenuLabel(std::string_view text, std::string& buffer);

}  // namespace quillet::ui
