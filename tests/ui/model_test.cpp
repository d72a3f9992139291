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

  // Files of one name show as many of their folders as tell them apart; a name that
  // only ends the same ("bx.wav") is no clash.
  const std::vector<std::string> listed = {"/home/someone/music/live/x.wav", "/home/someone/music/demo/x.wav",
                                           "/home/someone/old/demo/x.wav", "/home/someone/music/live/bx.wav"};
  EXPECT_EQ(RecentFiles::MenuText(1, listed[0], listed), "&1./ho.../live/x.wav");
  EXPECT_EQ(RecentFiles::MenuText(2, listed[1], listed), "&2./ho.../music/demo/x.wav");
  EXPECT_EQ(RecentFiles::MenuText(3, listed[2], listed), "&3./ho.../old/demo/x.wav");
  EXPECT_EQ(RecentFiles::MenuText(4, listed[3], listed), "&4./ho.../bx.wav");
  // Telling apart needs the whole path: shown whole.
  EXPECT_EQ(RecentFiles::MenuText(1, "/a/x-long-file-name-here.wav", {"/a/x-long-file-name-here.wav",
                                                                      "/b/a/x-long-file-name-here.wav"}),
            "&1./a/x-long-file-name-here.wav");
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
  EXPECT_EQ(FollowView({100, 200}, 250), (View{150, 250}));
  EXPECT_EQ(FollowView({100, 200}, 50), (View{50, 150}));
}

// The scroll bar's thumb is the view; long files are counted in coarser units so the
// numbers fit an int; the play position that goes with a thumb lies inside its view.
TEST(ViewMath, ScrollBarSpansTheViewAndItsThumbMapsBack) {
  struct Case {
    View v;
    FrameCount length;
    ScrollBarSpan want;
  };
  const Case cases[] = {
      {{250, 350}, 1000, {900, 100, 250, 1}},
      {{0, 1000}, 1000, {0, 1000, 0, 1}},
      {{0, 0}, 0, {0, 1, 0, 1}},
      // Ten hours at 192 kHz: 6912 frames a unit.
      {{0, 6'912'000}, 6'912'000'000, {999'000, 1'000, 0, 6'912}},
  };
  for (const Case& c : cases) {
    const ScrollBarSpan s = ScrollBarFor(c.v, c.length);
    EXPECT_EQ(s, c.want) << c.v.start << ".." << c.v.end << " of " << c.length;
    for (int value : {0, s.maximum / 3, s.maximum, s.maximum + 5}) {
      const View to = ViewAtScrollValue(c.v, value, s, c.length);
      EXPECT_EQ(to.end - to.start, c.v.end - c.v.start);
      EXPECT_GE(to.start, 0);
      EXPECT_LE(to.end, c.length);
      const FramePos cursor = CursorAtScrollValue(to, value, s);
      EXPECT_GE(cursor, to.start) << value;
      EXPECT_LE(cursor, to.end) << value;
    }
  }
  // The far end of the travel reaches the end of the audio exactly, even when the
  // unit does not divide it.
  const ScrollBarSpan s = ScrollBarFor({0, 6'912'000}, 6'912'000'001);
  const View last = ViewAtScrollValue({0, 6'912'000}, s.maximum, s, 6'912'000'001);
  EXPECT_EQ(last.end, 6'912'000'001);
  EXPECT_EQ(CursorAtScrollValue(last, s.maximum, s), 6'912'000'001);
}

TEST(ViewMath, WheelZoomKeepsThePointedFrameInPlaceAndScrollStaysInside) {
  const struct {
    View v;
    FramePos anchor;
    double factor;
    View want;
  } zooms[] = {
      {{0, 1000}, 250, 0.5, {125, 625}},    // the anchor stays a quarter in
      {{0, 1000}, 0, 0.5, {0, 500}},
      {{0, 1000}, 1000, 0.5, {500, 1000}},
      {{400, 600}, 500, 0.25, {450, 550}},  // no narrower than the shortest view
      {{400, 600}, 450, 4, {250, 1050}},
      {{0, 1000}, 500, 4, {0, 2000}},       // no wider than the audio
      {{1800, 2000}, 1900, 8, {400, 2000}},
  };
  for (const auto& z : zooms) {
    SCOPED_TRACE(z.anchor);
    EXPECT_EQ(ZoomAboutView(z.v, z.anchor, z.factor, 2000), z.want);
  }
  EXPECT_EQ(ScrolledView({0, 1000}, 1, 2000), (View{100, 1100}));
  EXPECT_EQ(ScrolledView({0, 1000}, -1, 2000), (View{0, 1000}));
  EXPECT_EQ(ScrolledView({900, 1900}, 3, 2000), (View{1000, 2000}));
  EXPECT_EQ(ScrolledView({0, 0}, 1, 0), (View{0, 0}));
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

// Labels never crowd, at any zoom from a few frames to a day, and say no more digits
// than their step needs.
TEST(ViewMath, RulerStepsStayReadableAtEveryZoom) {
  struct Case {
    std::int64_t viewMs;
    int pixels;
    std::int64_t step;
    std::int64_t at;
    const char* label;
  };
  const Case cases[] = {
      {3, 1000, 1, 2, "0:00:00.002"},            // a few frames: never below a millisecond
      {500, 1000, 50, 1250, "0:00:01.25"},       // 80 px need 40 ms: 50
      {10000, 1000, 1000, 61000, "0:01:01"},
      {3600000, 1000, 300000, 3300000, "0:55:00"},  // an hour
      {3600000, 200, 1800000, 1800000, "0:30:00"},
      {86400000, 800, 18000000, 36000000, "10:00:00"},
      {86400000 * 10, 100, 18000000 * 39, 0, "0:00:00"},  // beyond the list: by five hours
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.viewMs);
    const std::int64_t step = RulerStepMs(c.viewMs, c.pixels, 80);
    EXPECT_EQ(step, c.step);
    EXPECT_GE(double(step) * c.pixels / c.viewMs, c.viewMs <= 80 ? 0.0 : 80.0);
    EXPECT_EQ(RulerLabel(c.at, step), c.label);
  }
  EXPECT_EQ(RulerLabel(1200, 200), "0:00:01.2");
}

TEST(ViewMath, StatusTimesShareOnePrecision) {
  // An hour at 44.1 kHz, a selection of exactly 1.5 s, the cursor a frame in.
  EXPECT_EQ(StatusTimes(158760000, 44100, 110250, 1, 44100),
            "Length: 1:00:00.000   Selection: 0:00:01.000 - 0:00:02.500 (0:00:01.500)   Cursor: 0:00:00.000");
  EXPECT_EQ(StatusTimes(8000, 4000, 4000, 4000, 8000), "Length: 0:00:01.000   Cursor: 0:00:00.500");
  EXPECT_EQ(StatusTimes(0, 0, 0, 0, 0), "Length: 0:00:00.000   Cursor: 0:00:00.000");
}

}  // namespace
}  // namespace quillet::ui
