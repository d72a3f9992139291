// The command types: which values a command runs with (its block, the stored values
// or the converter's own defaults), its summary, and the registered command it becomes.
#include <gtest/gtest.h>

#include "app/registry.h"
#include "batch/types.h"
#include "fixtures/temp_dir.h"

namespace quillet::batch {
namespace {

struct Stored {
  testing::TempDir dir;
  settings::Settings s{settings::FolderLocations(dir.path())};
};

TEST(BatchTypes, SummariesUseTheBlockElseStoredValuesElseTheConverterDefaults) {
  Stored st;
  st.s.SetInt("StoredValues", "AmplifyGain", 120);
  st.s.SetInt("StoredValues", "CompressorRatio", 6);
  struct Case {
    BatchCommand c;
    const char* summary;
  };
  const Case cases[] = {
      // The converter's defaults where the effects' differ.
      {{8, {}}, "Reverb Time (ms) = 50, Reverb Level (%) = 50"},
      {{15, {}}, "Threshold (db) = -20, Ratio = Limit, Limit (db) = 3"},
      {{11, {}}, "Noise Gate Level (dB) = -30"},
      // A block shorter than the table's length is not read at all.
      {{3, {0x2c}}, "Amplify Gain (%) = 120"},
      {{3, {0x2c, 0x01, 0xff}}, "Amplify Gain (%) = 300"},
      {{11, {0xe2}}, "Noise Gate Level (dB) = -30"},
      {{15, BlockOf(15, {-10, 2, -1})}, "Threshold (db) = -10, Ratio = 2:1, Limit (db) = -1"},
      {{1, BlockOf(1, {1500})}, "Silence Time (ms) = 1500"},
      {{17, {2}}, "Convert Channel = 2"},
      {{16, {}}, "Convert Sample Rate = 44100"},
      {{6, {}}, "Click on Settings to view or change."},
      {{0, {}}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SummaryOf(c.c, st.s), c.summary) << c.c.type;
}

TEST(BatchTypes, CurveBlocksBecomePointTextsWithPositionsNeverFalling) {
  std::vector<std::uint8_t> block(kCurveBlockBytes, 0xee);
  const std::uint8_t points[] = {4, 0, 128, 200, 150, 100, 90, 255, 128};
  std::copy(std::begin(points), std::end(points), block.begin());
  EXPECT_EQ(CurveTextOf({6, block}), "0/128;200/150;200/90;255/128");
  block[0] = 0;
  EXPECT_EQ(CurveTextOf({9, block}), "0/128;255/128");
  block.pop_back();  // 128 bytes: the curve file is used instead
  EXPECT_EQ(CurveTextOf({9, block}), "");
}

TEST(BatchTypes, DialogValuesGoBackIntoBlocksOfTheTablesLength) {
  Stored st;
  const core::CommandRegistry registry = app::BuildCommandRegistry();
  struct Case {
    BatchCommand before;
    std::vector<std::int64_t> typed;  // numbers set in the dialog; empty: a curve text
    const char* curve;
    BatchCommand after;
  };
  const Case cases[] = {
      {{8, {}}, {300, 70}, nullptr, {8, {0x2c, 0x01, 0, 0, 70, 0}}},
      {{1, {}}, {1500}, nullptr, {1, {0xdc, 0x05, 0, 0}}},
      {{17, {}}, {2}, nullptr, {17, {2}}},
      {{9, {}}, {}, "0/0;128/200;255/128", {9, {}}},
      {{6, {}}, {}, "", {6, {}}},  // an empty curve text keeps using the curve file
  };
  for (const Case& c : cases) {
    const core::Command* command = registry.Find(TypeOf(c.before.type).command);
    ASSERT_NE(command, nullptr) << c.before.type;
    std::optional<core::ParamSet> values = DialogValuesOf(c.before, *command, st.s);
    ASSERT_TRUE(values) << c.before.type;
    for (std::size_t i = 0; i < c.typed.size(); ++i) values->SetInt(i, c.typed[i]);
    if (c.curve) values->SetText(0, c.curve);
    const BatchCommand after = CommandFromValues(c.before.type, *values);
    if (c.curve && *c.curve) {
      ASSERT_EQ(after.params.size(), kCurveBlockBytes);
      EXPECT_EQ(after.params[0], 3);
      EXPECT_EQ(CurveTextOf(after), c.curve);
    } else {
      EXPECT_EQ(after, c.after) << c.before.type;
    }
  }
}

TEST(BatchTypes, StepsMapOntoRegisteredCommandsAndRefuseValuesTheirDialogsRefuse) {
  Stored st;
  const core::CommandRegistry registry = app::BuildCommandRegistry();
  const PreparedStep amplify = PrepareStep({3, BlockOf(3, {150})}, registry, st.s);
  ASSERT_NE(amplify.command, nullptr) << amplify.message;
  EXPECT_EQ(amplify.command->id, core::kCmdAmplify);
  EXPECT_EQ(amplify.values->Int(0), 150);

  const PreparedStep echo = PrepareStep({7, {}}, registry, st.s);
  ASSERT_NE(echo.command, nullptr) << echo.message;
  EXPECT_EQ(echo.values->Int(0), 800);
  EXPECT_EQ(echo.values->Int(1), 50);

  const PreparedStep curve = PrepareStep({6, std::vector<std::uint8_t>(kCurveBlockBytes)}, registry, st.s);
  ASSERT_NE(curve.command, nullptr) << curve.message;
  EXPECT_EQ(curve.values->Text(0), "0/128;255/128");

  // Values no dialog would let through fail with the command's own message.
  const std::pair<BatchCommand, const char*> refused[] = {
      {{16, BlockOf(16, {0})}, "Convert Sample Rate: "},
      {{13, BlockOf(13, {0})}, "Speed Change: Speed Change Percent must be at least 10."},
      {{1, BlockOf(1, {0xffffffff})}, "Insert Silence At The Start: The silence time is too long."},
      {{17, {3}}, "Convert Channel (Mono <-> Stereo): The channels must be 1"},
  };
  for (const auto& [c, message] : refused) {
    const PreparedStep step = PrepareStep(c, registry, st.s);
    EXPECT_EQ(step.command, nullptr) << c.type;
    EXPECT_TRUE(step.message.starts_with(message)) << step.message;
  }

  // A command this build lacks says so; a compressor ratio past the table is left out.
  const core::CommandRegistry empty;
  EXPECT_EQ(PrepareStep({3, {}}, empty, st.s).message,
            "The command \"Amplify\" is not available in this build.");
  const PreparedStep skipped = PrepareStep({15, BlockOf(15, {-20, 7, 3})}, empty, st.s);
  EXPECT_TRUE(skipped.skip);
}

}  // namespace
}  // namespace quillet::batch
