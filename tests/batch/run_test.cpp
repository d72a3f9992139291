// Batch runs: output naming, the lists refused before anything is written, and whole
// runs over real files (silence inserted, AIFF in another folder, failures named,
// the same results with one job or several), through quillet-cli too.
#include <gtest/gtest.h>

#include "app/apply_fixture.h"
#include "app/registry.h"
#include "batch/run.h"
#include "batch/types.h"
#include "core/working_folder.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "formats/format_table.h"
#include "formats/wav_writer.h"

namespace quillet::batch {
namespace {

namespace fs = std::filesystem;

void WriteWav(const fs::path& file, const testing::AudioBlock& block, std::uint32_t rate) {
  audio::SinkHandle sink =
      formats::MakeWaveFormatSink(file, formats::MakePcmFormat(rate, block.channels(), 16));
  sink->write(block.data(), block.frames());
  ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
}

TEST(BatchOutput, NamesEachOutputByTheRule) {
  OutputRule same;
  OutputRule mp3Elsewhere{false, 1, false, "/out"};
  OutputRule aiffSlash{false, 3, false, "/out/"};
  const std::tuple<const char*, OutputRule, const char*> cases[] = {
      {"/in/a.wav", same, "/in/a.wav"},
      {"/in/a.wav", mp3Elsewhere, "/out/a.mp3"},
      {"/in/take.1.wav", mp3Elsewhere, "/out/take.1.mp3"},
      {"/in/take.1.wav", aiffSlash, "/out/take.1.aiff"},
      {"/in.d/noext", mp3Elsewhere, "/out/noext.mp3"},
      {"/in.d/noext", same, "/in.d/noext"},
  };
  for (const auto& [in, rule, out] : cases) EXPECT_EQ(OutputPathFor(in, rule), fs::path(out)) << in;
  EXPECT_EQ(OutputPathFor("/in/a.wav", OutputRule{false, formats::OutputFormatList().size()}), std::nullopt);
  EXPECT_EQ(ExtensionOf("/a.b/c"), "");
}

TEST(BatchOutput, RefusesListsWhereAnOutputWouldReplaceAnotherSource) {
  const OutputRule toWav{false, 0, true, {}};
  EXPECT_NE(CheckOutputs({"/x/a.mp3", "/x/a.wav"}, toWav).find("would replace \"/x/a.wav\""),
            std::string::npos);
  EXPECT_NE(CheckOutputs({"/x/a.mp3", "/x/a.ogg"}, OutputRule{false, 0, false, "/y"}).find("both"),
            std::string::npos);
  EXPECT_NE(CheckOutputs({"/x/a.wav", "/x/../x/a.wav"}, OutputRule{}).find("more than once"),
            std::string::npos);
  EXPECT_EQ(CheckOutputs({"/x/a.wav", "/x/b.wav"}, OutputRule{}), "");  // in place
  // A playlist's MP3 beside it counts as an output too.
  const OutputRule toM3u{false, 12, true, {}};
  EXPECT_NE(CheckOutputs({"/x/a.wav", "/x/a.mp3"}, toM3u).find("would replace \"/x/a.mp3\""),
            std::string::npos);
  EXPECT_NE(CheckOutputs({"/x/a.wav", "/x/a.ogg"}, OutputRule{false, 12, false, "/y"}).find("a.m3u"),
            std::string::npos);
  EXPECT_NE(CheckOutputs({"/x/a.wav", "/x/a.mp3"}, OutputRule{false, 1, false, "/x/out"}).find("both"),
            std::string::npos);
}

struct RunFixture : ::testing::Test {
  testing::TempDir dir;
  settings::Settings settings{settings::FolderLocations(dir / "cfg")};
  std::unique_ptr<core::StoreSession> session;
  core::CommandRegistry registry = app::BuildCommandRegistry();

  void SetUp() override {
    std::string why;
    fs::create_directories(dir / "work");
    session = core::StoreSession::StartIn(dir / "work", &why);
    ASSERT_TRUE(session) << why;
  }
  testing::AudioBlock Read(const fs::path& file) {
    audio::SourceHandle s = formats::OpenAudioFile(file, settings);
    EXPECT_FALSE(s->failed()) << file;
    return testing::ReadSource(*s);
  }
  std::vector<FileOutcome> Run(const std::vector<fs::path>& files, const BatchCommandList& commands,
                               const OutputRule& rule, int jobs, bool stop, platform::Outcome* total) {
    std::vector<FileOutcome> seen;
    RunOptions o;
    o.jobs = jobs;
    o.stopOnFailure = stop;
    o.report = [&seen](std::size_t i, const FileOutcome& f) {
      EXPECT_EQ(i, seen.size());
      seen.push_back(f);
    };
    *total = RunBatch(files, commands, rule, registry, settings, session->store(), o);
    return seen;
  }
};

TEST_F(RunFixture, InsertsSilenceAndSavesAiffInAnotherFolder) {
  const testing::AudioBlock tone = testing::Sine(1, 44100, 44100, 440, testing::kFullScale / 2);
  WriteWav(dir / "one.wav", tone, 44100);
  fs::create_directories(dir / "out");
  platform::Outcome total;
  const auto seen = Run({dir / "one.wav"}, {{1, BlockOf(1, {1500})}},
                        OutputRule{false, 3, false, dir / "out"}, 1, true, &total);
  ASSERT_TRUE(total.done()) << total.message;
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].target, dir / "out" / "one.aiff");
  const testing::AudioBlock back = Read(dir / "out" / "one.aiff");
  ASSERT_EQ(back.frames(), 44100 + 66150);
  EXPECT_EQ(testing::PeakOf(back, 0, 0, 66150), 0);
  const testing::AudioBlock source = Read(dir / "one.wav");
  ASSERT_GT(testing::PeakOf(source, 0), testing::kFullScale / 4);
  for (audio::FrameCount i = 0; i < 44100; i += 997) ASSERT_EQ(back(0, 66150 + i), source(0, i)) << i;
}

TEST_F(RunFixture, NamesFailuresAndGivesTheSameOutputsWithSeveralJobs) {
  std::vector<fs::path> files;
  for (int i = 0; i < 5; ++i) {
    files.push_back(dir / ("f" + std::to_string(i) + ".wav"));
    if (i == 2) testing::WriteFileBytes(files.back(), "not a sound");
    else WriteWav(files.back(), testing::Sine(2, 8000 + 1000 * i, 22050, 300, testing::kFullScale / 4), 22050);
  }
  const BatchCommandList commands = {{3, BlockOf(3, {150})}, {4, BlockOf(4, {50})},
                                     {2, BlockOf(2, {100})}};
  std::vector<std::vector<testing::AudioBlock>> outputs;
  for (int jobs : {1, 3}) {
    const fs::path out = dir / ("out" + std::to_string(jobs));
    fs::create_directories(out);
    platform::Outcome total;
    const auto seen = Run(files, commands, OutputRule{true, 0, false, out}, jobs, false, &total);
    ASSERT_EQ(seen.size(), files.size());
    EXPECT_EQ(total.result, platform::kTaskFailed);
    EXPECT_TRUE(total.message.starts_with(files[2].string() + ": ")) << total.message;
    EXPECT_FALSE(seen[2].outcome.message.empty());
    EXPECT_FALSE(fs::exists(out / "f2.wav"));
    outputs.emplace_back();
    for (int i : {0, 1, 3, 4}) {
      ASSERT_TRUE(seen[i].outcome.done()) << seen[i].outcome.message;
      outputs.back().push_back(Read(out / files[i].filename()));
      // Normalized to half of full scale, then 100 ms of silence at the end.
      EXPECT_NEAR(testing::PeakOf(outputs.back().back(), 0), testing::kFullScale / 2, 0x400);
      EXPECT_EQ(outputs.back().back().frames(), 8000 + 1000 * i + 2205);
    }
  }
  for (std::size_t k = 0; k < outputs[0].size(); ++k)
    EXPECT_TRUE(std::equal(outputs[0][k].data(), outputs[0][k].data() + outputs[0][k].frames() * 2,
                           outputs[1][k].data()));

  // The wizard's rule: the run stops at the failure and touches no later file.
  const fs::path out = dir / "stop";
  fs::create_directories(out);
  platform::Outcome total;
  const auto seen = Run(files, commands, OutputRule{true, 0, false, out}, 1, true, &total);
  EXPECT_EQ(total.result, platform::kTaskFailed);
  EXPECT_TRUE(fs::exists(out / "f1.wav"));
  EXPECT_FALSE(fs::exists(out / "f3.wav"));
  EXPECT_EQ(seen[3].outcome.result, platform::kTaskCancelled);
}

TEST_F(RunFixture, QuilletCliBatchReportsEveryFileAndFailsWhenOneFailed) {
  WriteWav(dir / "a.wav", testing::Sine(1, 4410, 44100, 440, testing::kFullScale / 2), 44100);
  testing::WriteFileBytes(dir / "b.wav", "RIFF");
  ASSERT_TRUE(SaveBatchScript(dir / "s.qlb", {{3, BlockOf(3, {50})}}));
  const std::string cfg = (dir / "cfg").string();
  app::CliOutput r = app::RunWithTable({"--settings", cfg, "batch", (dir / "s.qlb").string(),
                                        (dir / "a.wav").string(), (dir / "b.wav").string(),
                                        "--format", "au", "--out", (dir / "o").string(),
                                        "--jobs", "2"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(r.out.starts_with("ok " + (dir / "a.wav").string() + " -> " +
                                (dir / "o" / "a.au").string() + "\nfailed " +
                                (dir / "b.wav").string() + ": "))
      << r.out;
  EXPECT_TRUE(fs::exists(dir / "o" / "a.au"));

  testing::WriteFileBytes(dir / "bad.qlb", "\x01");
  r = app::RunWithTable({"--settings", cfg, "batch", (dir / "bad.qlb").string(), (dir / "a.wav").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("File Error"), std::string::npos) << r.err;
  // A playlist: the list and the MP3 it names.
  r = app::RunWithTable({"--settings", cfg, "batch", (dir / "s.qlb").string(), (dir / "a.wav").string(),
                         "--format", "m3u", "--out", (dir / "list").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testing::ReadFileBytes(dir / "list" / "a.m3u"), "#EXTM3U\r\n#EXTINF:0,a\r\na.mp3\r\n");
  EXPECT_TRUE(fs::exists(dir / "list" / "a.mp3"));
}

}  // namespace
}  // namespace quillet::batch
