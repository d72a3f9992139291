// Batch scripts: the exact bytes, the list and summaries they reload to, and the
// damaged files refused before anything is read past their end.
#include <gtest/gtest.h>

#include "batch/script.h"
#include "batch/types.h"
#include "fixtures/temp_dir.h"

namespace quillet::batch {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

const settings::Settings& NoStoredValues() {
  static const settings::Settings s(settings::FolderLocations("/nonexistent/quillet-batch-test"));
  return s;
}

TEST(BatchScript, SavesAmplifyEchoNormalizeByteForByteAndReloadsThem) {
  const BatchCommandList list = {{3, BlockOf(3, {150})}, {7, BlockOf(7, {800, 50})}, {4, {}}};
  const std::string expected("\x00"
                             "\x03\x00\x00\x00" "\x02\x00\x00\x00" "\x96\x00"
                             "\x07\x00\x00\x00" "\x06\x00\x00\x00" "\x20\x03\x00\x00" "\x32\x00"
                             "\x04\x00\x00\x00" "\x00\x00\x00\x00",
                             1 + 10 + 14 + 8);
  EXPECT_EQ(SerializeBatchScript(list), expected);

  testing::TempDir dir;
  ASSERT_TRUE(SaveBatchScript(dir / "s.qlb", list));
  EXPECT_EQ(testing::ReadFileBytes(dir / "s.qlb"), expected);
  BatchCommandList back;
  ASSERT_EQ(LoadBatchScript(dir / "s.qlb", back), ScriptLoad::Loaded);
  EXPECT_EQ(back, list);
  const char* summaries[] = {"Amplify Gain (%) = 150", "Echo Time (ms) = 800, Echo Gain (%) = 50",
                             "Normalize Peak Level (%) = 100"};
  for (std::size_t i = 0; i < back.size(); ++i)
    EXPECT_EQ(SummaryOf(back[i], NoStoredValues()), summaries[i]);

  // Saved over itself: the new list replaces the old one whole.
  ASSERT_TRUE(SaveBatchScript(dir / "s.qlb", {{0, {}}}));
  ASSERT_EQ(LoadBatchScript(dir / "s.qlb", back), ScriptLoad::Loaded);
  EXPECT_EQ(back, (BatchCommandList{{0, {}}}));
  EXPECT_EQ(LoadBatchScript(dir / "missing.qlb", back), ScriptLoad::Unreadable);
  EXPECT_TRUE(back.empty());
}

TEST(BatchScript, ReadsUpToTheLastWholeCommandHeader) {
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t commands;
  };
  const Case cases[] = {
      {"version byte only", std::string(1, '\0'), 0},
      {"a header cut short ends the list", std::string("\0\x03\0\0\0\0\0\0\0" "\x0b\0\0", 12), 1},
      {"zero-length block", std::string("\0\x0a\0\0\0\0\0\0\0", 9), 1},
  };
  for (const Case& c : cases) {
    BatchCommandList out;
    EXPECT_TRUE(ParseBatchScript(Bytes(c.bytes), out).done()) << c.what;
    EXPECT_EQ(out.size(), c.commands) << c.what;
  }
}

TEST(BatchScript, RefusesDamagedScriptsWithTheFileErrorMessage) {
  std::string curve65("\0\x06\0\0\0\x81\0\0\0", 9);
  curve65 += std::string(1, char(65)) + std::string(128, '\0');
  const std::pair<const char*, std::string> cases[] = {
      {"empty file", ""},
      {"version 1", std::string("\x01", 1)},
      {"length past the end", std::string("\0\x03\0\0\0\x03\0\0\0\x96\0", 11)},
      {"length near 4 GiB", std::string("\0\x03\0\0\0\xff\xff\xff\xff\x96\0", 11)},
      {"type 18", std::string("\0\x12\0\0\0\0\0\0\0", 9)},
      {"curve of 65 points", curve65},
  };
  for (const auto& [what, bytes] : cases) {
    BatchCommandList out{{3, {}}};
    const platform::Outcome r = ParseBatchScript(Bytes(bytes), out);
    EXPECT_EQ(r.result, platform::kTaskFailed) << what;
    EXPECT_EQ(r.message, kScriptVersionMessage) << what;
    EXPECT_TRUE(out.empty()) << what;
  }
  testing::TempDir dir;
  testing::WriteFileBytes(dir / "bad.qlb", "\x01");
  BatchCommandList out;
  EXPECT_EQ(LoadBatchScript(dir / "bad.qlb", out), ScriptLoad::Corrupt);
}

}  // namespace
}  // namespace quillet::batch
