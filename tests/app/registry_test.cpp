// The command table both programs run on, walked entry by entry: every command runs
// headless on short mono and stereo documents with its default values, ends done,
// cancelled or failed without crashing, and an undoable one is undone frame for frame.
#include "app/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "apply_fixture.h"
#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/document.h"
#include "core/segment_sink.h"
#include "core/working_folder.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "formats/wav_writer.h"
#include "platform/scripted_progress.h"

namespace quillet::app {
namespace {

using audio::Sample;
using core::AudioChain;

// Keeps what Copy To New and Split make.
class KeptDocuments final : public core::CommandHost {
 public:
  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override {
    kept.push_back(std::move(doc));
    return kept.back().get();
  }
  int NextUntitledNumber() override { return int(kept.size()) + 1; }
  std::vector<std::unique_ptr<core::WaveDocument>> kept;
};

struct Audio {
  std::uint32_t rate;
  int channels;
  std::vector<Sample> samples;
  bool operator==(const Audio&) const = default;
};

Audio Frames(const core::WaveDocument& doc) {
  const AudioChain& chain = doc.chain();
  auto src = core::ChainOpenSource(chain);
  std::vector<Sample> out(static_cast<std::size_t>(doc.length() * chain.channels));
  src->read(out.data(), doc.length());
  return {chain.sampleRate, chain.channels, out};
}

class RegistryWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    // The envelope file and other data files stay in the test's folder.
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    std::string why;
    session = core::StoreSession::StartIn(dir / "work", &why);
    ASSERT_TRUE(session) << why;
    auto sink = formats::MakeWavePcmSink((dir / "other.wav").string(), 8000, 0, 16, 1);
    const std::vector<Sample> other(800, 3000 * 16);
    sink->write(other.data(), 800);
    ASSERT_TRUE(sink->Finish());
  }

  // A document of 4000 frames of a ramp at 8000 Hz, frames [1000, 3000) selected.
  std::unique_ptr<core::WaveDocument> MakeDoc(int channels) {
    std::vector<Sample> v(std::size_t(4000 * channels));
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = Sample((int(i) % 2000 - 1000) * 64);
    AudioChain chain(&session->store());
    auto sink = core::ChainOpenSink(chain, 8000, channels);
    sink->write(v.data(), 4000);
    EXPECT_TRUE(sink->Finish());
    auto doc = std::make_unique<core::WaveDocument>(std::move(chain), 1);
    doc->SetSelection(1000, 3000, 1500);
    return doc;
  }

  testing::TempDir dir;
  std::unique_ptr<core::StoreSession> session;
  settings::Settings settings{settings::FolderLocations(dir / "settings")};
  platform::ScriptedProgressFactory progress;
  platform::FakeClipboard system;
  formats::FormatsFileIo files{settings};
  KeptDocuments host;
};

TEST_F(RegistryWalk, EveryCommandRunsHeadlessAndUndoRestoresTheAudio) {
  const core::CommandRegistry registry = BuildCommandRegistry();
  ASSERT_TRUE(registry.refusals().empty()) << registry.refusals().front();
  std::set<core::CommandId> ran;
  for (int channels : {1, 2}) {
    for (const core::Command& c : registry.all()) {
      SCOPED_TRACE(core::MenuLabel(c.menuText) + " on " + std::to_string(channels) + " channel(s)");
      ASSERT_TRUE(c.run);
      std::unique_ptr<core::WaveDocument> doc = MakeDoc(channels);
      core::ProgramClipboard clipboard(&session->store());
      core::ChainCopyRange(doc->chain(), 0, 800, clipboard.chain);
      const core::CommandState state{doc.get(), &clipboard, 1, false};
      if (!core::IsEnabled(c, state)) continue;  // Undo, Redo: nothing to undo yet

      std::optional<core::ParamSet> values;
      if (c.params) {
        values.emplace(*c.params);
        values->Load(settings);
        for (std::size_t i = 0; i < values->size(); ++i) {
          if (values->field(i).kind == core::ParamKind::OpenPath) values->SetText(i, (dir / "other.wav").string());
          if (values->field(i).kind == core::ParamKind::SavePath) values->SetText(i, (dir / "out.wav").string());
        }
        EXPECT_EQ(values->Validate(), "") << "defaults are valid";
      }
      const Audio before = Frames(*doc);
      const int historyAt = doc->history().index();
      core::EditContext ctx{session->store(), clipboard, progress, settings, nullptr, &files,
                            &system, nullptr, formats::DefaultAdaptors(), {}, false};
      core::CommandCall call{ctx, doc.get(), values ? &*values : nullptr, &host, &c};
      const platform::TaskResult r = c.run(call);
      ASSERT_TRUE(r == platform::kTaskDone || r == platform::kTaskCancelled ||
                  r == platform::kTaskFailed);
      EXPECT_EQ(r == platform::kTaskFailed, !ctx.message.empty()) << ctx.message;
      ran.insert(c.id);
      if (doc->history().index() == historyAt) {
        // Nothing pushed: nothing may have changed but the selection and cursor.
        if (c.id != core::kCmdSplit) {
          EXPECT_EQ(Frames(*doc), before);
        }
        continue;
      }
      EXPECT_EQ(doc->history().UndoName(), c.undoLabel) << "the table names what is pushed";
      ASSERT_TRUE(doc->Undo());
      EXPECT_EQ(Frames(*doc), before);
    }
  }
  // Every command but Undo and Redo found a document it could run on.
  EXPECT_EQ(ran.size() + 2, registry.all().size());
}

TEST(Registry, NamesAreUniqueAndHelpListsEveryCommandWithItsParameters) {
  const core::CommandRegistry registry = BuildCommandRegistry();
  std::set<std::string> names;
  for (const core::Command& c : registry.all()) {
    EXPECT_TRUE(c.cliName.empty() || names.insert(c.cliName).second) << c.cliName;
    EXPECT_TRUE(c.params == nullptr || !c.params->fields.empty()) << c.cliName;
  }
  // A second command under a taken ID or name is refused, and said so.
  core::CommandRegistry again = BuildCommandRegistry();
  EXPECT_FALSE(again.Add({.id = core::kCmdCut, .menuText = "Another"}));
  EXPECT_FALSE(again.Add({.id = core::kCmdFirstDynamic, .cliName = "amplify"}));
  EXPECT_EQ(again.refusals().size(), 2u);
  EXPECT_EQ(again.all().size(), registry.all().size());

  const CliOutput help = RunWithTable({"help", "apply"});
  ASSERT_EQ(help.status, 0);
  const std::string& text = help.out;
  for (const std::string& name : names) EXPECT_NE(text.find("\n  " + name), std::string::npos) << name;
  EXPECT_NE(text.find("  amplify:PCT "), std::string::npos);
  EXPECT_NE(text.find("PCT: 10..300 %; default 100 (stored: StoredValues/ConstPitchSpeed)"),
            std::string::npos);
}

}  // namespace
}  // namespace quillet::app
