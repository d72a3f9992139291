// quillet-cli apply end to end: WAVE files in and out, the frames each edit must
// leave, and the refusals with their messages and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "apply_fixture.h"
#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using audio::Sample;
using Samples = std::vector<Sample>;

class ApplyTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::string in = (dir / "in.wav").string();
  std::string out = (dir / "out.wav").string();

  // A 16-bit mono file whose frame i holds i + 1 (times 16 inside).
  void WriteRamp(const std::string& file, int frames) {
    auto sink = formats::MakeWavePcmSink(file, 8000, 0, 16, 1);
    Samples v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) v[static_cast<std::size_t>(i)] = (i + 1) * 16;
    sink->write(v.data(), frames);
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  // The frames of a 16-bit mono file, as 16-bit values.
  Samples Read(const std::string& file) {
    auto src = formats::OpenWaveFile(file);
    EXPECT_TRUE(src->ready());
    Samples v(static_cast<std::size_t>(src->length()));
    src->read(v.data(), src->length());
    for (auto& s : v) s /= 16;
    return v;
  }
  static Samples Part(int from, int to) {
    Samples v;
    for (int i = from; i < to; ++i) v.push_back(i + 1);
    return v;
  }
  using Run = ApplyRun;
  Run Apply(const std::vector<std::string>& words) {
    return RunApply(dir / "settings", in, out, words);
  }
};

TEST_F(ApplyTest, EditsLeaveExactlyTheFramesTheyShould) {
  WriteRamp(in, 1000);
  const Samples zeros80(80, 0);
  struct Case {
    std::vector<std::string> words;
    Samples want;
  };
  const Case cases[] = {
      {{"--from", "100", "--to", "300", "delete"}, [] { auto v = Part(0, 100); auto t = Part(300, 1000); v.insert(v.end(), t.begin(), t.end()); return v; }()},
      {{"--from", "100", "--to", "300", "trim"}, Part(100, 300)},
      {{"--to", "300", "trim-end"}, Part(0, 300)},
      {{"--from", "990", "--to", "5000", "repeat:2"}, [] { auto v = Part(0, 1000); for (int k = 0; k < 2; ++k) { auto t = Part(990, 1000); v.insert(v.end(), t.begin(), t.end()); } return v; }()},
      {{"insert-silence-end:10"}, [&] { auto v = Part(0, 1000); v.insert(v.end(), zeros80.begin(), zeros80.end()); return v; }()},
      {{"--from", "100", "--to", "300", "cut", "undo", "redo", "undo"}, Part(0, 1000)},
      {{"--from", "0", "--to", "10", "copy", "insert-silence-start:0", "paste"}, [] { auto v = Part(0, 10); auto t = Part(10, 1000); v.insert(v.end(), t.begin(), t.end()); return v; }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    std::filesystem::remove(out);
    const Run r = Apply(c.words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(out), c.want);
  }
}

// An effect's range is clamped to the audio: --from alone runs to the end, --to alone
// from the start, and a range past the end is no selection at all.
TEST_F(ApplyTest, EffectRangesAreClampedToTheAudio) {
  WriteRamp(in, 1000);
  auto reversed = [](int from, int to) {
    Samples v = Part(0, 1000);
    std::reverse(v.begin() + from, v.begin() + to);
    return v;
  };
  const struct {
    std::vector<std::string> words;
    Samples want;
  } cases[] = {
      {{"--from", "900", "reverse"}, reversed(900, 1000)},
      {{"--to", "100", "reverse"}, reversed(0, 100)},
      {{"--from", "800", "--to", "999999", "reverse"}, reversed(800, 1000)},
      {{"reverse"}, reversed(0, 1000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    std::filesystem::remove(out);
    const Run r = Apply(c.words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(out), c.want);
  }
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--from", "1000", "--to", "999999", "amplify:50"},
        std::vector<std::string>{"--from", "5000", "reverse"}, std::vector<std::string>{"--to", "0", "reverse"}}) {
    SCOPED_TRACE(::testing::PrintToString(words));
    std::filesystem::remove(out);
    const Run r = Apply(words);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillet-cli: " + words[words.size() - 1].substr(0, words.back().find(':')) +
                         ": There is no selection.\n");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST_F(ApplyTest, InsertAndMixAnotherFile) {
  WriteRamp(in, 100);
  const std::string other = (dir / "other.wav").string();
  WriteRamp(other, 10);
  ASSERT_EQ(Apply({"--from", "50", "insert-file-here:" + other}).status, 0);
  Samples want = Part(0, 50);
  for (Sample s : Part(0, 10)) want.push_back(s);
  for (Sample s : Part(50, 100)) want.push_back(s);
  EXPECT_EQ(Read(out), want);
  // Half volume over [20, 20): the 10 frames after 20 get half the other file.
  ASSERT_EQ(Apply({"--from", "20", "mix-file:" + other + ",50,50,1,0"}).status, 0);
  want = Part(0, 100);
  // Mixed inside at 20 bits, rounded to the nearest 16-bit value when saved.
  for (int i = 0; i < 10; ++i) {
    Sample& s = want[static_cast<std::size_t>(20 + i)];
    s = (s * 16 + 8 * (i + 1) + 8) >> 4;
  }
  EXPECT_EQ(Read(out), want);
}

TEST_F(ApplyTest, RefusalsNameTheReasonAndLeaveNoOutput) {
  WriteRamp(in, 100);
  struct Case {
    std::vector<std::string> words;
    std::string message;
  };
  const Case cases[] = {
      {{"delete"}, "quillet-cli: delete: There is no selection.\n"},
      {{"repeat:x"}, "quillet-cli: repeat: Repeat number of times must be a whole number, not \"x\".\n"},
      {{"insert-file-end"}, "quillet-cli: insert-file-end: The file must be given (PATH).\n"},
      {{"--from", "0", "--to", "10", "mix-file:" + in + ",101"},
       "quillet-cli: mix-file: Mix Volume must be less than 100%. Please try again.\n"},
      {{"insert-silence-end:-5"},
       "quillet-cli: insert-silence-end: The silence time must be 0 ms or more. Please try again.\n"},
      {{"undo"}, "quillet-cli: undo: There is nothing to undo.\n"},
      {{"--from", "50", "--to", "10", "delete"}, "quillet-cli: --to (10) is before --from (50)\n"},
      {{"--from", "-3", "delete"}, "quillet-cli: --from needs a frame number of 0 or more\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const Run r = Apply(c.words);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  const Run unknown = Apply({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown apply command \"frobnicate\""), std::string::npos);
  EXPECT_NE(unknown.err.find("\n  mix-file:PATH,VOLUME,PAN,LONGER,FADE\n"), std::string::npos);
  std::filesystem::remove(in);
  const Run missing = Apply({"trim"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_FALSE(missing.err.empty());
}

// A decoder program that cleans the store's folder as a cache cleaner would, while the
// document is open: the save that follows cannot read the audio, exits 2 with the
// system's reason, and the old output file is left as it was.
TEST_F(ApplyTest, AudioRemovedUnderAnOpenDocumentFailsTheSave) {
  WriteRamp(in, 1000);
  WriteRamp((dir / "part.wav").string(), 10);  // what the fake decoder "decodes" to
  quillet::testing::WriteFileBytes(dir / "part.ogg", "OggS");
  quillet::testing::WriteFileBytes(out, "the user's old file");
  settings::Settings::SetProcess(settings::FolderLocations(dir / "settings"));
  core::SegmentStore* store = CliStore(stderr);
  ASSERT_NE(store, nullptr);
  const auto cleaner = dir / "oggdec";
  quillet::testing::WriteFileBytes(cleaner, "#!/bin/sh\nrm -f '" + store->workingFolder().string() +
                                                "'/*.aud\ncp '" + (dir / "part.wav").string() + "' \"$3\"\n");
  std::filesystem::permissions(cleaner, std::filesystem::perms::owner_all);
  ASSERT_TRUE(
      settings::Settings::Process().SetString("Components/oggdec", "Path", cleaner.string()));

  const Run r = Apply({"insert-file-end:" + (dir / "part.ogg").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(
      r.err.find("Cannot read the audio of this document: " + store->workingFolder().string()),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(": No such file or directory"), std::string::npos) << r.err;
  EXPECT_EQ(quillet::testing::ReadFileBytes(out), "the user's old file");
}

}  // namespace
}  // namespace quillet::app
