// quillet-cli recover: listing, saving and discarding what a dead editor left in the
// working folder that the settings choose.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/cli/cli.h"
#include "apply_fixture.h"
#include "core/journal_keeper.h"
#include "core/segment_sink.h"
#include "core/working_folder.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

namespace fs = std::filesystem;
using audio::Sample;

class RecoverCliTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  fs::path base = dir / "work";

  CliOutput Recover(std::vector<std::string> words) {
    std::vector<std::string> args{"--settings", (dir / "settings").string(),
                                  "--set", "Settings/UseDefaultWorkingDir=0",
                                  "--set", "Settings/WorkingFolder=" + base.string(), "recover"};
    args.insert(args.end(), words.begin(), words.end());
    fs::create_directories(dir / "settings");
    return RunWithTable(args);
  }

  // An editor that had take.wav open (cut down by two deletes) and died.
  std::vector<Sample> LeaveDeadEditor() {
    std::string why;
    auto session = core::StoreSession::StartIn(base, &why);
    EXPECT_TRUE(session) << why;
    std::vector<Sample> ramp(2 * 3000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<Sample>(i * 16) - 40000;
    core::AudioChain chain(&session->store());
    auto sink = core::ChainOpenSink(chain, 32000, 2);
    sink->write(ramp.data(), 3000);
    EXPECT_TRUE(sink->Finish());
    core::WaveDocument doc(std::move(chain), 0, "/rec/take.wav");
    doc.SetRecorder(session->journals().NewRecorder());
    for (int i = 0; i < 2; ++i) {
      doc.PushUndo("Delete");
      core::ChainDeleteRange(doc.mutableChain(), 0, 500);
      doc.AudioChanged();
    }
    session->journals().WaitDurable();
    fs::copy(session->store().workingFolder(), base / "run-dead", fs::copy_options::recursive);
    return {ramp.begin() + 2 * 1000, ramp.end()};
  }
};

TEST_F(RecoverCliTest, ListsSavesAndDiscardsWhatADeadEditorLeft) {
  const std::vector<Sample> expected = LeaveDeadEditor();

  CliOutput list = Recover({"--list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out.rfind("take.wav\tframes=2000\trate=32000\tchannels=2\tchanged=", 0), 0u) << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);

  fs::create_directories(dir / "out");
  testing::WriteFileBytes(dir / "out" / "take.wav", "someone else's file");
  for (int round = 0; round < 2; ++round) {
    const CliOutput save = Recover({"--save", (dir / "out").string()});
    ASSERT_EQ(save.status, 0) << save.err;
    // Never over a file that is there: numbered instead.
    const fs::path written = dir / "out" / (round == 0 ? "take (2).wav" : "take (3).wav");
    EXPECT_EQ(save.out, written.string() + "\n");
    settings::Settings& process = settings::Settings::Process();
    auto src = formats::OpenAudioFile(written, process);
    ASSERT_TRUE(src->ready());
    ASSERT_EQ(src->length(), 2000);
    std::vector<Sample> got(expected.size());
    src->read(got.data(), 2000);
    EXPECT_EQ(got, expected);  // 24-bit PCM keeps every bit
  }
  EXPECT_EQ(testing::ReadFileBytes(dir / "out" / "take.wav"), "someone else's file");

  EXPECT_EQ(Recover({"--discard"}).status, 0);
  EXPECT_FALSE(fs::exists(base / "run-dead"));
  list = Recover({"--list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "");
  EXPECT_NE(list.err.find("No documents to recover"), std::string::npos) << list.err;
}

TEST_F(RecoverCliTest, RefusesBadArgumentsAndAMissingFolder) {
  LeaveDeadEditor();
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{}, {"--save"}, {"--list", "--discard"}, {"--purge"}}) {
    const CliOutput r = Recover(words);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: quillet-cli recover"), std::string::npos) << r.err;
  }
  const CliOutput r = Recover({"--save", (dir / "missing").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(base / "run-dead"));  // refusals delete nothing
}

}  // namespace
}  // namespace quillet::app
