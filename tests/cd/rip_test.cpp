// Ripping from the simulated drive: the image's samples exactly, pieces of the
// right size, failures that say where, nothing half-written left behind.
#include <gtest/gtest.h>

#include "audio/memory.h"
#include "cd/rip.h"
#include "fixtures/cd_image.h"
#include "fixtures/temp_dir.h"
#include "formats/wav_writer.h"
#include "platform/scripted_progress.h"
#include "platform/sim_drive.h"

namespace quillet::cd {
namespace {

using testing::ImageSample;
using testing::TempDir;

class RipTest : public ::testing::Test {
 protected:
  // Track 1 ends mid-piece and owns track 2's pregap; track 3 is shorter than one
  // first piece.
  void SetUp() override {
    cue_ = testing::WriteDiscImage(dir_.path(), "disc", {{301}, {40, 150}, {5}});
    drive_ = "sim:" + cue_.string();
    LoadDiscTask load(drive_, false, {});
    ASSERT_TRUE(load.Run(progress_));
    ASSERT_EQ(load.result, platform::kTaskDone) << load.message();
    disc_ = load.disc();
  }

  TempDir dir_;
  std::filesystem::path cue_;
  std::string drive_;
  CdDisc disc_;
  platform::ScriptedProgressFactory progress_;
};

TEST_F(RipTest, TracksHoldTheImageSamplesExactly) {
  ASSERT_EQ(disc_.tracks.size(), 3u);
  // First sector in the BIN, sectors of audio, then silent sectors (the next pregap).
  const struct {
    std::int64_t binSector, audioSectors, silentSectors;
  } expected[] = {{0, 301, 150}, {301, 40, 0}, {341, 5, 0}};
  for (std::size_t t = 0; t < 3; ++t) {
    SCOPED_TRACE("track " + std::to_string(t + 1));
    auto sink = audio::Ref<audio::LMemorySoundSink>(new audio::LMemorySoundSink(44100, 2));
    RipTrackTask rip(drive_, disc_.tracks[t], *sink);
    rip.Run(progress_);
    ASSERT_EQ(rip.result, platform::kTaskDone) << rip.message();
    const audio::AudioBlock& got = sink->samples();
    const auto& e = expected[t];
    ASSERT_EQ(got.frames(), (e.audioSectors + e.silentSectors) * 588);
    const audio::Sample* s = got.data();
    for (std::int64_t i = 0; i < e.audioSectors * 1176; ++i)
      ASSERT_EQ(s[i], ImageSample(e.binSector * 1176 + i) * 16) << i;
    for (std::int64_t i = e.audioSectors * 1176; i < got.frames() * 2; ++i) ASSERT_EQ(s[i], 0) << i;
  }
}

TEST_F(RipTest, ReadsInPiecesOfThirteenThenTwentySeven) {
  std::string message;
  auto transport = platform::SimulatedDrive::Open(drive_, &message);
  ASSERT_TRUE(transport);
  platform::SimulatedDrive* sim = transport.get();
  CdDevice device(std::move(transport));
  auto sink = audio::Ref<audio::LMemorySoundSink>(new audio::LMemorySoundSink(44100, 2));
  for (int t : {0, 2}) ASSERT_TRUE(RipTrack(device, disc_.tracks[static_cast<std::size_t>(t)], *sink).done());
  std::vector<std::string> reads;
  for (const std::string& cdb : sim->log())
    if (cdb.starts_with("BE")) reads.push_back(cdb);
  // Track 1: 451 sectors = 13 + 16 x 27 + 6; track 3 (5 sectors at 491): one read.
  ASSERT_EQ(reads.size(), 18u + 1u);
  EXPECT_EQ(reads[0], "BE 00 00 00 00 00 00 00 0D F0 00 00");
  EXPECT_EQ(reads[1], "BE 00 00 00 00 0D 00 00 1B F0 00 00");
  EXPECT_EQ(reads[17], "BE 00 00 00 01 BD 00 00 06 F0 00 00");
  EXPECT_EQ(reads[18], "BE 00 00 00 01 EB 00 00 05 F0 00 00");
}

TEST_F(RipTest, MediumErrorNamesTrackAndPlaceAndLeavesNoFile) {
  testing::WriteFileBytes(dir_ / "disc.faults", "medium-error 100\n");
  const std::filesystem::path out = dir_ / "out" / "Track 01.wav";
  std::filesystem::create_directories(out.parent_path());
  audio::SinkHandle sink = formats::MakeWavePcmSink(out, 44100, 0, 16, 2);
  ASSERT_TRUE(sink && !sink->failed());
  RipTrackTask rip(drive_, disc_.tracks[0], *sink);
  rip.Run(progress_);
  EXPECT_EQ(rip.result, platform::kTaskFailed);
  EXPECT_NE(rip.message().find("track 1"), std::string::npos) << rip.message();
  EXPECT_NE(rip.message().find("0:01.25"), std::string::npos) << rip.message();  // 100 sectors in
  EXPECT_NE(rip.message().find("sector 100"), std::string::npos) << rip.message();
  sink = {};
  EXPECT_TRUE(std::filesystem::is_empty(out.parent_path()));  // no file, no temporary one
}

TEST_F(RipTest, CancelAndDataTracksEndWithoutAFile) {
  const std::filesystem::path out = dir_ / "cancelled.wav";
  audio::SinkHandle sink = formats::MakeWavePcmSink(out, 44100, 0, 16, 2);
  progress_.CancelAtPump(progress_.pumps() + 3);
  RipTrackTask rip(drive_, disc_.tracks[0], *sink);
  rip.Run(progress_);
  EXPECT_EQ(rip.result, platform::kTaskCancelled);
  EXPECT_FALSE(std::filesystem::exists(out));

  CdTrack data = disc_.tracks[1];
  data.audio = false;
  auto mem = audio::Ref<audio::LMemorySoundSink>(new audio::LMemorySoundSink(44100, 2));
  platform::ScriptedProgressFactory fresh;
  RipTrackTask refused(drive_, data, *mem);
  refused.Run(fresh);
  EXPECT_EQ(refused.result, platform::kTaskFailed);
  EXPECT_EQ(mem->samples().frames(), 0);
}

TEST_F(RipTest, UnreadableDiscsFailTheLoad) {
  const struct {
    const char* faults;
    const char* why;
  } cases[] = {{"no-disc\n", "2/3A/00"}, {"stop-answering-after 0\n", "timed out"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    testing::WriteFileBytes(dir_ / "disc.faults", c.faults);
    LoadDiscTask load(drive_, false, {});
    load.Run(progress_);
    EXPECT_EQ(load.result, platform::kTaskFailed);
    EXPECT_NE(load.message().find(c.why), std::string::npos) << load.message();
  }
}

}  // namespace
}  // namespace quillet::cd
