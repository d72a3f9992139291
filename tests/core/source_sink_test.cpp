#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "audio/memory.h"
#include "audio/transfer.h"
#include "core/sample_file.h"
#include "core/working_folder.h"
#include "core_fixture.h"

namespace quillet::core {
namespace {

using quillet::testing::OpenDescriptorCount;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::Noise;
using testing::ReadAll;
using testing::Written;

class SourceSinkTest : public ::testing::Test, protected testing::StoreFixture {};

TEST_F(SourceSinkTest, SinkWritesRawSamplesAndOnePeakRecordPerBlock) {
  std::vector<Sample> s(600, 0);
  s[0] = 524272;             // ch0 of block 0: 16-bit full scale -> 255
  s[1] = -4096;              // ch1 of block 0: -> 2 below
  s[2 * 299] = -2048;        // ch0 in the partial second block (44 frames) -> 1 below
  s[2 * 299 + 1] = 600000;   // beyond full scale still caps at 255
  AudioChain c = Written(store, 2, s, 22050);
  ASSERT_EQ(c.segments().size(), 1u);
  EXPECT_EQ(c.segments()[0].frameCount, 300);
  EXPECT_EQ(c.channels, 2);
  EXPECT_EQ(c.sampleRate, 22050u);
  const FileId id = c.segments()[0].fileId;
  // 600000 is beyond 16 bits x 16: three bytes a sample after the header.
  EXPECT_EQ(ReadFileBytes(store.SampleFilePath(id)).size(), kSampleFileHeaderBytes + 300u * 2 * 3);
  EXPECT_EQ(ReadFileBytes(store.PeakFilePath(id)), std::string("\xFF\x00\x00\x02\x00\x01\xFF\x00", 8));
  EXPECT_EQ(ReadAll(c, 0, 300), s);
}

// Sample files take the fewest bytes their audio allows: two for 16-bit audio (x 16),
// three up to 24 bits, four beyond. A sink widens its file, keeping what it holds, the
// first time a sample needs more; what reads back is always what was written, cut back
// or not, and a headerless file of an older copy reads as four bytes a sample.
TEST_F(SourceSinkTest, SampleFilesTakeTheWidthTheirAudioNeeds) {
  auto pcm16 = [](FrameCount n, unsigned seed) {
    std::vector<Sample> v = Noise(2, n, seed).samples();
    for (Sample& x : v) x = std::clamp(x, -524288, 524287) & ~15;
    return v;
  };
  struct Case {
    const char* name;
    std::vector<std::vector<Sample>> blocks;  // written one after the other
    int width;
  };
  std::vector<Sample> late = pcm16(5000, 1);
  late.back() += 1;  // the very last sample leaves 16 bits
  const Case cases[] = {
      {"16-bit audio", {pcm16(3000, 2), pcm16(40000, 3)}, 2},
      {"16-bit extremes", {{-524288, 524272, 0, -16}}, 2},
      {"one sample in 24 bits, late", {pcm16(40000, 4), late}, 3},
      {"24-bit extremes", {{-8388608, 8388607, 524288, -524289}}, 3},
      {"louder than 24 bits", {pcm16(20000, 5), {8388608, -8388609}, pcm16(100, 6)}, 4},
      {"32-bit extremes", {{INT32_MIN, INT32_MAX}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioChain chain(&store);
    std::vector<Sample> all;
    {
      auto sink = ChainOpenSink(chain, 44100, 2);
      for (const auto& b : c.blocks) {
        sink->write(b.data(), static_cast<FrameCount>(b.size() / 2));
        all.insert(all.end(), b.begin(), b.end());
      }
      ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
    }
    const FrameCount frames = static_cast<FrameCount>(all.size() / 2);
    const std::string bytes = ReadFileBytes(store.SampleFilePath(chain.segments()[0].fileId));
    const SampleFileLayout layout =
        ParseSampleFileHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(layout.width, c.width);
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(kSampleFileHeaderBytes + frames * 2 * c.width));
    EXPECT_EQ(ReadAll(chain, 0, frames), all);

    // Cut back into the first block and written on: the kept part and the new part.
    AudioChain cut(&store);
    {
      auto sink = ChainOpenSink(cut, 44100, 2);
      for (const auto& b : c.blocks) sink->write(b.data(), static_cast<FrameCount>(b.size() / 2));
      sink->truncate(1);
      sink->write(all.data(), frames);
      ASSERT_TRUE(sink->Finish());
    }
    std::vector<Sample> expected(all.begin(), all.begin() + 2);
    expected.insert(expected.end(), all.begin(), all.end());
    EXPECT_EQ(ReadAll(cut, 0, frames + 1), expected);
  }

  // A file as older copies wrote it: no header, four bytes a sample.
  AudioChain legacy = Written(store, 1, {5, -7, 123456789});
  const auto file = store.SampleFilePath(legacy.segments()[0].fileId);
  const std::vector<Sample> raw = {-1, 2, -3};
  quillet::testing::WriteFileBytes(file, std::string(reinterpret_cast<const char*>(raw.data()), 12));
  EXPECT_EQ(ReadAll(legacy, 0, 3), raw);
}

// Peak records of mono, stereo and three-channel noise written in blocks of odd sizes
// (the extremes of a block gathered eight samples at a time where they can be).
TEST_F(SourceSinkTest, PeakRecordsHoldEachChannelsExtremes) {
  for (int ch : {1, 2, 3}) {
    SCOPED_TRACE(ch);
    const FrameCount frames = 1000;
    const std::vector<Sample> s = Noise(ch, frames, 40 + static_cast<unsigned>(ch)).samples();
    AudioChain c(&store);
    {
      auto sink = ChainOpenSink(c, 44100, ch);
      for (FrameCount at = 0, step = 1; at < frames; at += step, step = step * 3 % 97 + 1)
        sink->write(s.data() + at * ch, std::min(step, frames - at));
      ASSERT_TRUE(sink->Finish());
    }
    std::string expected;
    for (FrameCount block = 0; block < frames; block += kPeakBlockFrames)
      for (int k = 0; k < ch; ++k) {
        Sample hi = 0, lo = 0;
        for (FrameCount f = block; f < std::min(block + kPeakBlockFrames, frames); ++f) {
          hi = std::max(hi, s[static_cast<std::size_t>(f * ch + k)]);
          lo = std::min(lo, s[static_cast<std::size_t>(f * ch + k)]);
        }
        expected += static_cast<char>(PeakByte(hi));
        expected += static_cast<char>(PeakByte(-std::int64_t{lo}));
      }
    EXPECT_EQ(ReadFileBytes(store.PeakFilePath(c.segments()[0].fileId)), expected);
  }
}

TEST_F(SourceSinkTest, ReadingAroundTheEdgesOfTheChain) {
  const auto s = Noise(2, 500, 3).samples();
  AudioChain c = Written(store, 2, s);
  auto src = ChainOpenSource(c);
  src->seek(-100);
  std::vector<Sample> buf(600, -1);
  src->read(buf.data(), 300);
  EXPECT_EQ(std::vector<Sample>(buf.begin(), buf.begin() + 200), std::vector<Sample>(200, 0));
  EXPECT_EQ(std::vector<Sample>(buf.begin() + 200, buf.end()), std::vector<Sample>(s.begin(), s.begin() + 400));
  EXPECT_EQ(src->position(), 200);
  src->seek(450);
  src->read(buf.data(), 100);  // 50 frames of audio, then zeros, and the position runs on
  EXPECT_EQ(std::vector<Sample>(buf.begin(), buf.begin() + 100), std::vector<Sample>(s.begin() + 900, s.end()));
  EXPECT_EQ(std::vector<Sample>(buf.begin() + 100, buf.begin() + 200), std::vector<Sample>(100, 0));
  EXPECT_EQ(src->position(), 550);
  EXPECT_EQ(src->length(), 500);
}

TEST_F(SourceSinkTest, SourceIsASnapshotAndReadsAcrossSegmentsInAnyBlockSize) {
  const auto s = Noise(1, 20000, 4).samples();
  AudioChain c = Written(store, 1, s);
  for (FramePos cut = 1000; cut < 19000; cut += 1500) ChainDeleteRange(c, cut, cut + 7);
  ChainInsertSilence(c, 5, 300);
  auto src = ChainOpenSource(c);
  const auto whole = ReadAll(c, 0, ChainLength(c), 8192);
  ChainClear(c);  // the open source keeps its own copy
  for (FrameCount block : {1, 255, 8191, 8193}) {
    src->seek(0);
    std::vector<Sample> got(whole.size());
    for (FrameCount done = 0; done < src->length(); done += block)
      src->read(got.data() + done, std::min(block, src->length() - done));
    EXPECT_EQ(got, whole) << "block " << block;
  }
  for (FramePos p : {FramePos{0}, FramePos{4}, FramePos{5}, FramePos{305}, FramePos{1297}, FramePos{7000}}) {
    src->seek(p);
    Sample one;
    src->read(&one, 1);
    EXPECT_EQ(one, whole[static_cast<std::size_t>(p)]) << "seek " << p;
  }
}

// Two amplifications of 400 %: a 32-bit product would wrap to a small negative value.
TEST_F(SourceSinkTest, GainsUse64BitProductsAndSaturate) {
  AudioChain c = Written(store, 1, {524272, -524288, 1000, -1});
  ChainScaleGain(c, 400);
  ChainScaleGain(c, 400);
  EXPECT_EQ(ReadAll(c, 0, 4), (std::vector<Sample>{8387328, -8387584, 15998, -16}));
  ChainScaleGain(c, 20000);
  ChainScaleGain(c, 20000);
  const auto loud = ReadAll(c, 0, 4);
  EXPECT_GT(loud[0], 0);
  EXPECT_LT(loud[1], 0);
  EXPECT_EQ(ApplyGain(INT32_MAX, 65535), INT32_MAX);
  EXPECT_EQ(ApplyGain(INT32_MIN, 65535), INT32_MIN);
  ChainScaleGain(c, 0);
  EXPECT_EQ(ReadAll(c, 0, 4), std::vector<Sample>(4, 0));
}

TEST_F(SourceSinkTest, TruncateInsideABlockKeepsThePeaksOfTheFramesThatStay) {
  AudioChain c(&store);
  {
    auto sink = ChainOpenSink(c, 44100, 1);
    std::vector<Sample> first(300, 0);
    first[260] = 524272;  // in block 1, stays
    first[290] = -524288; // in block 1, cut off
    sink->write(first.data(), 300);
    sink->truncate(280);
    const Sample more[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, -2048};
    sink->write(more, 10);
    ASSERT_TRUE(sink->Finish());
  }
  EXPECT_EQ(ChainLength(c), 290);
  EXPECT_EQ(ReadFileBytes(store.PeakFilePath(c.segments()[0].fileId)), std::string("\x00\x00\xFF\x01", 4));

  AudioChain back(&store);
  auto sink = ChainOpenSink(back, 44100, 1);
  sink->write(std::vector<Sample>(50, 7).data(), 50);
  sink->truncate(-10);  // a negative frame counts as 0: never a negative length
  EXPECT_TRUE(sink->Finish());
  EXPECT_TRUE(back.empty());
}

// A sample file that cannot deliver its segment fails the source with the system's
// reason; the request is still filled, with zeros instead of stale data.
TEST_F(SourceSinkTest, UnreadableSampleFilesFailTheSourceWithTheReason) {
  struct Case {
    const char* name;
    void (*damage)(const std::filesystem::path& file);
    const char* reason;
    FrameCount readable;  // frames of the damaged file still there
  };
  const Case cases[] = {
      {"deleted", [](const auto& f) { std::filesystem::remove(f); }, "No such file or directory",
       0},
      {"short",
       [](const auto& f) {
         const std::string head = ReadFileBytes(f).substr(0, kSampleFileHeaderBytes);
         const SampleFileLayout l =
             ParseSampleFileHeader(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
         ASSERT_EQ(::truncate(f.c_str(), l.headerBytes + 400 * l.width), 0);
       },
       "File shorter than its audio", 400},
      {"a folder",
       [](const auto& f) {
         std::filesystem::remove(f);
         std::filesystem::create_directory(f);
       },
       "Is a directory", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioChain good = Written(store, 1, Noise(1, 600, 4).samples());
    AudioChain bad = Written(store, 1, Noise(1, 1000, 5).samples());
    ChainInsert(good, 600, bad);  // a readable segment first
    const auto file = store.SampleFilePath(bad.segments()[0].fileId);
    c.damage(file);
    auto src = ChainOpenSource(good);
    std::vector<Sample> buf(1000, 12345);
    src->read(buf.data(), 500);
    EXPECT_FALSE(src->failed()) << "the first segment is intact";
    src->read(buf.data(), 1000);
    ASSERT_TRUE(src->failed());
    EXPECT_EQ(src->status(), audio::SoundStatus::Failed);
    EXPECT_EQ(src->failureMessage(),
              "Cannot read the audio of this document: " + file.string() + ": " + c.reason);
    const auto zeros = buf.begin() + 100 + c.readable;  // after the rest of the good segment
    EXPECT_EQ(std::vector<Sample>(zeros, buf.end()), std::vector<Sample>(buf.end() - zeros, 0));
    src->seek(0);
    EXPECT_TRUE(src->failed()) << "sticky";
    std::filesystem::remove_all(file);
  }
}

// Out of descriptors: the source first gives back those of its own cache; only when
// that does not help does it fail, never reading silence in silence.
TEST_F(SourceSinkTest, RunningOutOfDescriptorsFailsUnlessTheCacheCanGiveOneBack) {
  AudioChain c = Written(store, 1, Noise(1, 100, 6).samples());
  AudioChain second = Written(store, 1, Noise(1, 100, 7).samples());
  ChainInsert(c, 100, second);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const auto lowestFree = [] {
    const int fd = ::dup(0);
    ::close(fd);
    return static_cast<rlim_t>(fd);
  };
  std::vector<Sample> buf(200);

  auto cached = ChainOpenSource(c);
  cached->read(buf.data(), 50);  // holds the first file open
  auto fresh = ChainOpenSource(c);
  rlimit tight = saved;
  tight.rlim_cur = lowestFree();  // no new descriptor can be had
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  cached->read(buf.data(), 150);
  fresh->read(buf.data(), 10);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

  EXPECT_FALSE(cached->failed()) << cached->failureMessage();
  EXPECT_EQ(std::vector<Sample>(buf.begin() + 50, buf.begin() + 150), Noise(1, 100, 7).samples());
  ASSERT_TRUE(fresh->failed());
  EXPECT_NE(fresh->failureMessage().find("Too many open files"), std::string::npos)
      << fresh->failureMessage();
}

TEST_F(SourceSinkTest, SourcesDoNotLeakOrReopenDescriptors) {
  const int before = OpenDescriptorCount();
  {
    AudioChain c = Written(store, 2, Noise(2, 30000, 6).samples());
    for (FramePos p = 100; p < 29000; p += 100) ChainDeleteRange(c, p, p + 1);  // 290 segments, one file
    auto src = ChainOpenSource(c);
    std::vector<Sample> buf(2 * 8192);
    src->read(buf.data(), 8192);
    EXPECT_EQ(OpenDescriptorCount(), before + 1);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

// A folder that cannot take files (read-only, or gone, as here: root ignores permissions).
TEST(SegmentSink, UnwritableFolderFailsWithAMessageAndLeavesTheTargetAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir / "work");
  SegmentStore store(dir / "work");
  AudioChain doc = Written(store, 1, Noise(1, 100, 7).samples());
  std::filesystem::rename(dir / "work", dir / "moved");
  auto sink = ChainOpenSink(doc, 44100, 1);
  EXPECT_TRUE(sink->failed());
  EXPECT_NE(sink->failureMessage().find((dir / "work").string()), std::string::npos) << sink->failureMessage();
  audio::LMemorySoundSource src(44100, audio::AudioBlock(1, 50000));
  const auto out = audio::Transfer(src, *sink);
  EXPECT_EQ(out.result, platform::kTaskFailed);
  EXPECT_EQ(out.message, sink->failureMessage());
  EXPECT_FALSE(sink->Finish());
  sink.reset();
  EXPECT_EQ(ChainLength(doc), 100);
  std::filesystem::rename(dir / "moved", dir / "work");
}

TEST(SegmentSink, NoFreeIdFailsInsteadOfProducingSilence) {
  TempDir dir;
  SegmentStore store(dir.path(), /*capacity=*/2);
  AudioChain a = Written(store, 1, {1}), b = Written(store, 1, {2});
  AudioChain c(&store);
  auto sink = ChainOpenSink(c, 44100, 1);
  EXPECT_TRUE(sink->failed());
  EXPECT_FALSE(sink->failureMessage().empty());
  ChainClear(a);  // one id free again
  EXPECT_FALSE(ChainOpenSink(c, 44100, 1)->failed());
}

// A write error in mid-stream (here a file size limit, as a full disk would) fails the
// transfer with the system's reason, and the target keeps its audio.
TEST(SegmentSink, WriteErrorFailsTheTransfer) {
  TempDir dir;
  SegmentStore store(dir.path());
  AudioChain doc = Written(store, 1, {5, 6, 7});
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 100000;
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto sink = ChainOpenSink(doc, 44100, 2);
  audio::LMemorySoundSource src(44100, audio::AudioBlock(2, 100000));
  const auto out = audio::Transfer(src, *sink);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(out.result, platform::kTaskFailed);
  EXPECT_NE(out.message.find("File too large"), std::string::npos) << out.message;
  EXPECT_LT(out.frames, 100000);
  EXPECT_FALSE(sink->Finish());
  EXPECT_EQ(ReadAll(doc, 0, 3), (std::vector<Sample>{5, 6, 7}));
}

TEST(WorkingFolder, EachCopyHasItsOwnFolderAndRemovesOnlyThat) {
  TempDir base;
  std::string msg;
  auto first = StoreSession::StartIn(base.path(), &msg);
  ASSERT_TRUE(first) << msg;
  auto second = StoreSession::StartIn(base.path(), &msg);
  ASSERT_TRUE(second) << msg;
  ASSERT_NE(first->store().workingFolder(), second->store().workingFolder());
  AudioChain kept = Written(first->store(), 1, {1, 2, 3});
  const auto keptFile = first->store().SampleFilePath(kept.segments()[0].fileId);
  const auto secondFolder = second->store().workingFolder();
  {
    AudioChain other = Written(second->store(), 1, {4});
    ChainClear(other);
  }
  second.reset();  // the second copy exits
  EXPECT_FALSE(std::filesystem::exists(secondFolder));
  EXPECT_TRUE(std::filesystem::exists(keptFile));
  // A new copy starting now must not sweep the running first copy's folder.
  auto third = StoreSession::StartIn(base.path(), &msg);
  EXPECT_TRUE(std::filesystem::exists(keptFile));
  ChainClear(kept);
}

TEST(WorkingFolder, FoldersOfDeadCopiesAreSweptAtStart) {
  TempDir base;
  const auto dead = base / "run-dead01";
  std::filesystem::create_directories(dead);
  quillet::testing::WriteFileBytes(dead / ".lock", "");
  quillet::testing::WriteFileBytes(dead / "0.aud", "xxxx");
  const auto user = base / "keep-me.aud";  // not ours: never touched
  quillet::testing::WriteFileBytes(user, "y");
  std::string msg;
  auto s = StoreSession::StartIn(base.path(), &msg);
  ASSERT_TRUE(s) << msg;
  EXPECT_FALSE(std::filesystem::exists(dead));
  s.reset();
  EXPECT_TRUE(std::filesystem::exists(user));
}

TEST(WorkingFolder, ChosenFromSettings) {
  TempDir dir;
  settings::Settings st(settings::FolderLocations(dir.path()));
  EXPECT_EQ(ChooseWorkingFolder(st), DefaultWorkingFolder());
  st.SetString("Settings", "WorkingFolder", (dir / "work").string());
  EXPECT_EQ(ChooseWorkingFolder(st), DefaultWorkingFolder());  // only with the default off
  ASSERT_TRUE(st.SetBool("Settings", "UseDefaultWorkingDir", false));
  EXPECT_EQ(ChooseWorkingFolder(st), dir / "work");
  std::string msg;
  auto s = StoreSession::Start(st, &msg);
  ASSERT_TRUE(s) << msg;
  EXPECT_EQ(s->store().workingFolder().parent_path(), dir / "work");
}

}  // namespace
}  // namespace quillet::core
