#include "ui/commands.h"

#include <QKeySequence>

#include <algorithm>
#include <map>

#include "ui/key_map.h"

namespace quillet::ui {
namespace {

// The menu bar's order.
constexpr std::string_view kMenuOrder[] = {"&File",  "&Edit",     "&View",   "&Control", "&Effects",
                                           "&Tools", "&Bookmark", "&Window", "&Help"};

bool Runnable(const core::Command& c) { return bool(c.run); }

// items in order of their places, submenus gathered at their first command, with
// separators where the order moves to another hundred.
std::vector<MenuItem> LayOut(std::vector<const core::Command*> commands) {
  std::stable_sort(commands.begin(), commands.end(), [](const auto* a, const auto* b) {
    return a->place.order < b->place.order;
  });
  std::vector<MenuItem> items;
  std::map<std::string_view, std::vector<const core::Command*>> submenus;
  for (const core::Command* c : commands)
    if (!c->place.submenu.empty()) submenus[c->place.submenu].push_back(c);
  int lastOrder = 0;
  bool any = false;
  for (const core::Command* c : commands) {
    const std::string_view sub = c->place.submenu;
    if (!sub.empty() && submenus.find(sub) == submenus.end()) continue;  // already placed
    if (any && c->place.order / 100 != lastOrder / 100) items.push_back({});
    any = true;
    if (sub.empty()) {
      items.push_back({c->id, {}, {}});
      lastOrder = c->place.order;
      continue;
    }
    std::vector<const core::Command*> children = std::move(submenus[sub]);
    submenus.erase(sub);
    lastOrder = children.back()->place.order;
    std::vector<MenuItem> inner;
    int innerOrder = 0;
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (i && children[i]->place.order / 100 != innerOrder / 100) inner.push_back({});
      inner.push_back({children[i]->id, {}, {}});
      innerOrder = children[i]->place.order;
    }
    items.push_back({core::kCmdNone, std::string(sub), std::move(inner)});
  }
  return items;
}

std::vector<const core::Command*> InMenu(const core::CommandRegistry& r, std::string_view menu,
                                         bool contextOnly) {
  std::vector<const core::Command*> out;
  for (const core::Command& c : r.all())
    if (Runnable(c) && c.place.menu == menu && (!contextOnly || c.place.contextMenu))
      out.push_back(&c);
  return out;
}

}  // namespace

std::vector<MenuLayout> LayOutMenus(const core::CommandRegistry& r) {
  std::vector<MenuLayout> menus;
  for (std::string_view title : kMenuOrder) {
    std::vector<MenuItem> items = LayOut(InMenu(r, title, false));
    if (!items.empty()) menus.push_back({std::string(title), std::move(items)});
  }
  return menus;
}

std::vector<MenuItem> LayOutContextMenu(const core::CommandRegistry& r) {
  std::vector<MenuItem> items = LayOut(InMenu(r, "&Edit", true));
  bool separated = false;
  for (std::string_view title : kMenuOrder) {
    if (title == "&Edit") continue;
    std::vector<MenuItem> sub = LayOut(InMenu(r, title, true));
    if (sub.empty()) continue;
    if (!separated && !items.empty()) items.push_back({});
    separated = true;
    items.push_back({core::kCmdNone, std::string(title), std::move(sub)});
  }
  return items;
}

std::vector<core::CommandId> LayOutBar(const core::CommandRegistry& r, int core::BarPlace::*bar) {
  std::vector<const core::Command*> on;
  for (const core::Command& c : r.all())
    if (Runnable(c) && c.bars.*bar > 0) on.push_back(&c);
  std::stable_sort(on.begin(), on.end(),
                   [bar](const auto* a, const auto* b) { return a->bars.*bar < b->bars.*bar; });
  std::vector<core::CommandId> ids;
  for (std::size_t i = 0; i < on.size(); ++i) {
    if (i && on[i]->bars.*bar / 100 != on[i - 1]->bars.*bar / 100) ids.push_back(core::kCmdNone);
    ids.push_back(on[i]->id);
  }
  return ids;
}

std::vector<std::uint32_t> BuiltInKeyCodes(const core::Command& c) {
  std::vector<std::uint32_t> codes;
  std::string_view rest = c.keys;
  while (!rest.empty()) {
    const std::size_t sep = rest.find(", ");
    const std::string_view one = rest.substr(0, sep);
    rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 2);
    const QKeySequence seq(QString::fromUtf8(one.data(), qsizetype(one.size())));
    if (seq.isEmpty()) continue;
    const QKeyCombination k = seq[0];
    if (const std::uint32_t code = KeyCodeOf(k.key(), k.keyboardModifiers())) codes.push_back(code);
  }
  return codes;
}

}  // namespace quillet::ui
