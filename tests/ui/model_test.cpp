// The frame's window-free parts: keys.dat, the key table, the recent list, the command
// line, zoom and time arithmetic.
#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "platform/hot_keys.h"
#include "platform/record_file.h"
#include "ui/commands.h"
#include "ui/frame_model.h"
#include "ui/key_map.h"
#include "ui/view_math.h"

namespace quillet::ui {
namespace {

using platform::HotKey;
using platform::HotKeyStatus;

TEST(HotKeys, RecordsRoundTripAndACutRecordEndsTheFile) {
  const std::vector<HotKey> keys = {{0x20000 | 0x4E, {1001}}, {0x78, {3002, 3006}}, {0x41, {}}};
  std::string bytes = platform::SerializeHotKeys(keys);
  EXPECT_EQ(bytes.size(), 1u + 9 + 13 + 5);
  auto parsed = platform::ParseHotKeys(bytes);
  EXPECT_EQ(parsed.status, HotKeyStatus::Ok);
  EXPECT_EQ(parsed.keys, keys);
  bytes.resize(bytes.size() - 6);  // the second command of key 2 and key 3 cut off
  parsed = platform::ParseHotKeys(bytes);
  ASSERT_EQ(parsed.keys.size(), 1u);
  EXPECT_EQ(parsed.keys[0], keys[0]);
  EXPECT_EQ(platform::ParseHotKeys(std::string("\x02", 1)).status, HotKeyStatus::WrongVersion);
  EXPECT_EQ(platform::ParseHotKeys("").status, HotKeyStatus::Unreadable);
  testing::TempDir dir;
  EXPECT_EQ(platform::LoadHotKeys(dir / "missing").status, HotKeyStatus::Unreadable);
}

TEST(KeyMap, QtKeysGetTheStoredVirtualKeyCodes) {
  EXPECT_EQ(KeyCodeOf(Qt::Key_F3, Qt::ShiftModifier), 0x40000u + 0x72);
  EXPECT_EQ(KeyCodeOf(Qt::Key_N, Qt::ControlModifier), 0x20000u + 0x4E);
  EXPECT_EQ(KeyCodeOf(Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier), 0x20000u + 0x6B);
  EXPECT_EQ(KeyCodeOf(Qt::Key_7, Qt::KeypadModifier), 0x67u);
  EXPECT_EQ(KeyCodeOf(Qt::Key_Delete, Qt::NoModifier), 0x2Eu);
  EXPECT_EQ(KeyCodeOf(Qt::Key_unknown, Qt::NoModifier), 0u);
  EXPECT_EQ(KeyCodeText(0x20000 | 0x10000 | 0x40000 | 0x74), "Ctrl+Alt+Shift+F5");
  EXPECT_EQ(KeyCodeText(0x6B), "Num +");
}

// The layout rules on a small table: order by place, a separator where the hundreds
// change, submenus gathered where their first command sits, and nothing that cannot run.
TEST(MenuLayout, OrdersSeparatesGathersSubmenusAndLeavesOutWhatCannotRun) {
  core::CommandRegistry r;
  const auto ok = [](core::CommandCall&) { return platform::kTaskDone; };
  const auto add = [&](core::CommandId id, std::string_view menu, int order,
                       std::string_view sub = {}, bool runs = true, bool context = false) {
    core::Command c{.id = id, .menuText = "x", .place = {menu, sub, order, context}};
    if (runs) c.run = ok;
    ASSERT_TRUE(r.Add(std::move(c)));
  };
  add(core::kCmdRedo, "&Edit", 110);
  add(core::kCmdUndo, "&Edit", 100, {}, true, true);
  add(core::kCmdInsertSilenceEnd, "&Edit", 472, "Ins");
  add(core::kCmdCut, "&Edit", 200, {}, true, true);
  add(core::kCmdInsertSilenceStart, "&Edit", 470, "Ins");
  add(core::kCmdTrim, "&Edit", 480);
  add(core::kCmdSend, "&File", 300, {}, false);  // cannot run: absent, and its menu too
  add(core::kCmdAmplify, "&Effects", 100, {}, true, true);
  add(core::kCmdAbout, "&Help", 100);

  const std::vector<MenuLayout> menus = LayOutMenus(r);
  ASSERT_EQ(menus.size(), 3u);
  EXPECT_EQ(menus[0].title, "&Edit");
  EXPECT_EQ(menus[1].title, "&Effects");
  EXPECT_EQ(menus[2].title, "&Help");
  const std::vector<MenuItem>& edit = menus[0].items;
  ASSERT_EQ(edit.size(), 7u);
  EXPECT_EQ(edit[0].id, core::kCmdUndo);
  EXPECT_EQ(edit[1].id, core::kCmdRedo);
  EXPECT_EQ(edit[2].id, core::kCmdNone);  // 1xx to 2xx
  EXPECT_EQ(edit[3].id, core::kCmdCut);
  EXPECT_EQ(edit[4].id, core::kCmdNone);
  EXPECT_EQ(edit[5].submenu, "Ins");
  ASSERT_EQ(edit[5].children.size(), 2u);
  EXPECT_EQ(edit[5].children[0].id, core::kCmdInsertSilenceStart);
  EXPECT_EQ(edit[6].id, core::kCmdTrim);

  const std::vector<MenuItem> context = LayOutContextMenu(r);
  ASSERT_EQ(context.size(), 5u);
  EXPECT_EQ(context[0].id, core::kCmdUndo);
  EXPECT_EQ(context[2].id, core::kCmdCut);
  EXPECT_EQ(context[3].id, core::kCmdNone);
  EXPECT_EQ(context[4].submenu, "&Effects");
}

TEST(MenuLayout, BuiltInKeysBecomeStoredKeyCodes) {
  core::Command c{.id = core::kCmdZoomIn, .keys = "Ctrl+Num++, Ctrl+=, Del"};
  EXPECT_EQ(BuiltInKeyCodes(c),
            (std::vector<std::uint32_t>{0x20000u | kVkAdd, 0x20000u | 0xBB, kVkDelete}));
  c.keys = "";
  EXPECT_TRUE(BuiltInKeyCodes(c).empty());
}

TEST(RecentFiles, TwelfthFileReplacesTheOldestAndMenuTextsShorten) {
  testing::TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  RecentFiles recent(s);
  for (int i = 1; i <= 11; ++i) recent.Add("/f" + std::to_string(i), 100 + i);
  recent.Add("/f3", 500);  // listed: only its date changes
  recent.Add("/f12", 600);
  const auto entries = recent.Entries();
  ASSERT_EQ(entries.size(), 11u);
  EXPECT_EQ(entries[0].path, "/f12");
  EXPECT_EQ(entries[0].number, 1);  // /f1 had the oldest date
  EXPECT_EQ(entries[1].path, "/f3");
  EXPECT_EQ(RecentFiles::MenuText(2, std::string(24, 'a')), "&2." + std::string(24, 'a'));
  EXPECT_EQ(RecentFiles::MenuText(1, "/home/someone/music/x.wav"), "&1./ho.../x.wav");
}

TEST(CommandLine, StopsAtExitTakesOnlyNumbersForWindowAndSkipsBareNames) {
  auto cl = ParseEditorCommandLine({"A.WAV", "noext", "-window", "640", "x.wav", "-SaveAs",
                                    "b.mp3", "-exit", "-close"});
  ASSERT_EQ(cl.steps.size(), 5u);
  EXPECT_EQ(cl.steps[0].kind, EditorArg::OpenFile);
  EXPECT_EQ(cl.steps[1].kind, EditorArg::Window);
  EXPECT_EQ(cl.steps[1].width, 640);
  EXPECT_EQ(cl.steps[1].height, 0);
  EXPECT_EQ(cl.steps[2].text, "x.wav");
  EXPECT_EQ(cl.steps[3].kind, EditorArg::SaveAs);
  EXPECT_EQ(cl.steps[3].text, "b.mp3");
  EXPECT_EQ(cl.steps[4].kind, EditorArg::Exit);
  EXPECT_TRUE(cl.handled);
  EXPECT_EQ(ParseEditorCommandLine({"p.QLP"}).steps[0].kind, EditorArg::OpenProject);
  EXPECT_FALSE(ParseEditorCommandLine({}).handled);
  EXPECT_FALSE(ParseEditorCommandLine({"-saveas"}).steps.empty());
}

TEST(ViewMath, ZoomAndScrollStayInsideTheAudio) {
  EXPECT_EQ(ZoomInView({0, 150}, 75, 150), (View{25, 125}));
  EXPECT_EQ(ZoomInView({0, 150}, 0, 150), (View{0, 100}));
  EXPECT_EQ(ZoomOutView({900, 1000}, 1000), (View{800, 1000}));
  EXPECT_EQ(ZoomOutView({0, 600}, 1000), (View{0, 1000}));
  EXPECT_EQ(ZoomOutView({0, 0}, 0), (View{0, 0}));
  EXPECT_EQ(ShownView({0, 0}, 8000), (View{0, 8000}));
  EXPECT_EQ(ShownView({0, 0}, 0), (View{0, 1}));
  EXPECT_EQ(ScrollPosition(1000, 1000), kScrollMax);
  EXPECT_EQ(ScrollPosition(5, 0), 0);
  EXPECT_EQ(ScrollTarget(400, 1000), 1000);
  EXPECT_EQ(ScrollTarget(100, 1000), 500);
  EXPECT_EQ(FollowView({100, 200}, 250), (View{150, 250}));
  EXPECT_EQ(FollowView({100, 200}, 50), (View{50, 150}));
}

TEST(ViewMath, TimeTextsTruncateOrRoundAsEachFieldShows) {
  EXPECT_EQ(FormatTimeMillis(3723999), "1:02:03.999");
  EXPECT_EQ(FormatTimeTenths(3723999), "1:02:03.9");
  EXPECT_EQ(FormatTimeSeconds(3723500), "1:02:04");
  EXPECT_EQ(FormatTimeMillis(-1500), "-0:00:01.500");
  EXPECT_FALSE(FormatTimeMillis(INT64_MIN).empty());
}

// Tiles cover the area exactly once, whatever the count, and the two directions
// differ: horizontal stacks windows, vertical sets them side by side.
TEST(TileRects, CoverTheAreaWithoutOverlapInBothDirections) {
  EXPECT_EQ(TileRects(900, 600, 2, true),
            (std::vector<TileRect>{{0, 0, 900, 300}, {0, 300, 900, 300}}));
  EXPECT_EQ(TileRects(900, 600, 2, false),
            (std::vector<TileRect>{{0, 0, 450, 600}, {450, 0, 450, 600}}));
  EXPECT_TRUE(TileRects(900, 600, 0, true).empty());
  for (bool horizontal : {true, false})
    for (int n : {1, 3, 4, 5, 7, 10, 17}) {
      const auto rects = TileRects(1001, 667, n, horizontal);
      ASSERT_EQ(int(rects.size()), n) << n;
      long area = 0;
      for (std::size_t i = 0; i < rects.size(); ++i) {
        const TileRect& a = rects[i];
        EXPECT_GT(a.width, 0);
        EXPECT_GT(a.height, 0);
        EXPECT_LE(a.x + a.width, 1001);
        EXPECT_LE(a.y + a.height, 667);
        area += long(a.width) * a.height;
        for (std::size_t j = i + 1; j < rects.size(); ++j) {
          const TileRect& b = rects[j];
          const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x ||
                             a.y + a.height <= b.y || b.y + b.height <= a.y;
          EXPECT_TRUE(apart) << n << ": " << i << " and " << j;
        }
      }
      EXPECT_EQ(area, 1001L * 667) << n;
    }
}

TEST(Splash, ShowsUnlessAFileAWindowSizeOrRunEditTookTheCommandLine) {
  const struct {
    std::vector<std::string> args;
    bool splash;
  } cases[] = {{{}, true},
               {{"-minimize"}, true},
               {{"a.wav"}, false},
               {{"-window", "640", "480"}, false},
               {{"-maximize", "a.wav", "-close"}, false}};
  for (const auto& c : cases)
    EXPECT_EQ(WantsSplash(ParseEditorCommandLine(c.args)), c.splash) << c.args.size();
}

}  // namespace
}  // namespace quillet::ui
