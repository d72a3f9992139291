// The MP3 sound source: exact seeking, tags, the VBR header frame, damaged files and statuses.

#include <algorithm>
#include <cmath>
#include <random>

#include "formats/dispatch.h"
#include "formats/document_io.h"
#include "formats/mp3_stream.h"
#include "mp3_test_util.h"

namespace quillet::testing {
namespace {

using audio::Sample;

audio::SourceHandle OpenBytes(const std::string& bytes) {
  return formats::OpenMp3Source(std::make_unique<platform::MemoryByteSource>(bytes));
}

std::vector<Sample> ReadAt(audio::LSoundSource& src, audio::FramePos at, audio::FrameCount n) {
  std::vector<Sample> out(static_cast<size_t>(n * src.channels()));
  src.seek(at);
  src.read(out.data(), n);
  return out;
}

std::vector<Sample> Slice(const std::vector<Sample>& all, int channels, audio::FramePos at, audio::FrameCount n) {
  std::vector<Sample> out(static_cast<size_t>(n * channels), 0);
  for (audio::FrameCount i = 0; i < n; ++i)
    for (int ch = 0; ch < channels; ++ch) {
      const audio::FramePos f = at + i;
      if (f >= 0 && f * channels < static_cast<audio::FramePos>(all.size()))
        out[static_cast<size_t>(i * channels + ch)] = all[static_cast<size_t>(f * channels + ch)];
    }
  return out;
}

// Seeking anywhere must give what reading through gives, including frames whose main data
// starts several frames back in the bit reservoir (low bit rates), one-granule frames, and
// reads that start before the beginning or run past the end (zeros there).
TEST(Mp3Source, SeekLandsOnExactFrame) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  struct File {
    const char* name;
    int channels, rate;
    std::vector<std::string> lame;
    bool wholeFrames;  // the length is a whole number of frames
  };
  const File files[] = {{"vbr", 2, 44100, {"-V", "4"}, false},
                        {"reservoir32k", 2, 16000, {"-b", "32"}, false},
                        {"mpeg2", 2, 22050, {"--resample", "22.05", "-b", "24"}, false},
                        {"mpeg25mono", 1, 11025, {"--resample", "11.025", "-b", "16"}, true}};
  for (const File& f : files) {
    SCOPED_TRACE(f.name);
    const auto mp3 = MakeMp3(dir, f.name, f.channels, kToneSweep, f.lame);
    auto src = formats::OpenMp3Source(mp3);
    ASSERT_TRUE(src->ready());
    ASSERT_EQ(src->channels(), f.channels);
    EXPECT_EQ(src->sampleRate(), f.rate);
    const int ch = f.channels;
    const std::vector<Sample> all = ReadAll(*src);
    const int spf = src->sampleRate() > 32000 ? 1152 : 576;
    const audio::FrameCount len = src->length();
    if (f.wholeFrames) {
      EXPECT_EQ(len % spf, 0);
    }
    std::mt19937 rng(7);
    std::vector<audio::FramePos> points = {-4,           0,         1,       spf - 1, spf,
                                           10 * spf + 5, len - spf, len - 3, len - 1, len / 2};
    for (int i = 0; i < 12; ++i) points.push_back(std::uniform_int_distribution<audio::FramePos>(0, len - 1)(rng));
    for (audio::FramePos p : points) {
      SCOPED_TRACE(p);
      EXPECT_EQ(ReadAt(*src, p, 3000), Slice(all, ch, p, 3000));
      EXPECT_EQ(src->position(), p + 3000);
    }
    // Backwards, then on from where the last read stopped.
    const auto a = ReadAt(*src, 5 * spf + 100, 100);
    std::vector<Sample> b(static_cast<size_t>(200 * ch));
    src->read(b.data(), 200);
    EXPECT_EQ(b, Slice(all, ch, 5 * spf + 200, 200));
    EXPECT_EQ(a, Slice(all, ch, 5 * spf + 100, 100));
  }
}

std::vector<float> AsFloat(const std::vector<Sample>& v) {
  std::vector<float> f(v.size());
  for (size_t i = 0; i < v.size(); ++i) f[i] = static_cast<float>(v[i]) / 524288.0f;
  return f;
}

// Mean square difference of b shifted by lag against a, relative to a's power, in dB.
double SnrAtLag(const std::vector<float>& a, const std::vector<float>& b, int channels, long lag) {
  double sig = 0, err = 0;
  const long frames = static_cast<long>(std::min(a.size(), b.size()) / static_cast<size_t>(channels));
  for (long i = 4096; i + lag < frames - 4096; ++i)
    for (int c = 0; c < channels; ++c) {
      const double x = a[static_cast<size_t>(i * channels + c)], y = b[static_cast<size_t>((i + lag) * channels + c)];
      sig += x * x;
      err += (x - y) * (x - y);
    }
  return 10 * std::log10(sig / std::max(err, 1e-20));
}

// A file with a LAME tag opens with exactly the frames of the WAVE it was made from, in
// place (as mpg123 --gapless decodes it, within the standard's accuracy), whatever the
// mode, layer version or CRC: the "Info"/"Xing" frame is no audio, and the tag's delay
// and padding are cut. Our own save of it opens the same way.
TEST(Mp3Source, GaplessFilesGiveTheOriginalFramesInPlace) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  struct Case {
    const char* name;
    int channels;
    std::vector<std::string> lame;
    audio::FrameCount frames;
  } cases[] = {
      {"cbr", 2, {"-b", "128"}, 132300},
      {"crc", 2, {"-b", "128", "-p"}, 132300},
      {"mono", 1, {"-m", "m", "-b", "64"}, 132300},
      {"vbr", 2, {"-V", "2"}, 132300},
      {"mpeg2", 2, {"--resample", "22.05", "-b", "64"}, 66150},
  };
  settings::Settings store(settings::FolderLocations(dir / "settings"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto mp3 = MakeMp3(dir, c.name, c.channels, kToneSweep, c.lame);
    auto src = formats::OpenMp3Source(mp3);
    ASSERT_TRUE(src->ready());
    EXPECT_EQ(src->length(), c.frames);
    const auto& layout = static_cast<formats::LMP3SoundSource&>(*src).layout();
    EXPECT_TRUE(layout.vbrHeader);  // the Info frame is passed over, CRC or not
    if (layout.vbrFrames) {
      EXPECT_EQ(layout.vbrFrames, layout.frames.size());
    }
    EXPECT_EQ(layout.lead, 576 + formats::kMp3DecoderDelay);
    const std::vector<float> ours = AsFloat(ReadAll(*src));
    ExpectFullAccuracy(ours, Mpg123Decode(dir, mp3, true));

    // Saved again through our writer: the same length, and the audio where it was.
    const auto again = dir / (std::string(c.name) + "-again.mp3");
    audio::SinkHandle sink = formats::MakeSaveSink(again, static_cast<std::uint32_t>(src->sampleRate()),
                                                   src->channels(), store);
    ASSERT_TRUE(sink && !sink->failed());
    src->seek(0);
    ASSERT_EQ(audio::TransferAdapted(src, *sink, formats::DefaultAdaptors()).result, platform::kTaskDone);
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
    auto back = formats::OpenMp3Source(again);
    ASSERT_TRUE(back->ready());
    EXPECT_EQ(back->length(), c.frames);
    const std::vector<float> second = AsFloat(ReadAll(*back));
    const double inPlace = SnrAtLag(ours, second, back->channels(), 0);
    EXPECT_GT(inPlace, 15);
    for (long lag : {-1105L, -576L, 576L, 1105L}) EXPECT_GT(inPlace, SnrAtLag(ours, second, back->channels(), lag) + 10);
  }
}

std::string Id3v2Tag(size_t bodyBytes) {
  std::string tag = "ID3";
  tag += std::string{'\x03', '\x00', '\x00'};
  for (int shift : {21, 14, 7, 0}) tag += static_cast<char>((bodyBytes >> shift) & 0x7F);
  // A body full of false sync words: only the size field may decide where audio starts.
  for (size_t i = 0; i < bodyBytes; ++i) tag += i % 4 == 0 ? '\xFF' : i % 4 == 1 ? '\xFB' : '\x90';
  return tag;
}

TEST(Mp3Source, TagsAreSkippedNotDecoded) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string plain = ReadFileBytes(MakeMp3(dir, "tags", 1, kToneSweep, {"-b", "64", "-t"}));
  auto reference = OpenBytes(plain);
  ASSERT_TRUE(reference->ready());
  const auto expected = ReadAll(*reference);

  std::string id3v1(128, '\0');
  id3v1.replace(0, 3, "TAG");
  id3v1.replace(3, 5, "Title");
  auto tagged = OpenBytes(Id3v2Tag(3000) + plain + id3v1);
  ASSERT_TRUE(tagged->ready());
  EXPECT_EQ(ReadAll(*tagged), expected);

  // 128 bytes at the end that are not a tag are audio.
  const auto& layout = static_cast<formats::LMP3SoundSource&>(*reference).layout();
  EXPECT_EQ(layout.dataEnd, plain.size());
}

TEST(Mp3Source, GarbageBetweenFramesIsPassedOver) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string plain = ReadFileBytes(MakeMp3(dir, "gap", 2, kToneSweep, {"-b", "128", "-t"}));
  auto reference = OpenBytes(plain);
  const auto& layout = static_cast<formats::LMP3SoundSource&>(*reference).layout();
  ASSERT_GT(layout.frames.size(), 20u);
  const size_t cut = layout.frames[20];
  std::string damaged = plain.substr(0, cut) + std::string(5000, '\x55') + plain.substr(cut);
  auto src = OpenBytes(damaged);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), reference->length());
  EXPECT_EQ(ReadAll(*src), ReadAll(*reference));
}

// Without a LAME tag every whole frame is audio, the last one included; a frame cut short
// by the end of the file is left out, as mpg123 leaves it out: part of its main data is
// missing, so it would decode to a burst of wrong spectrum.
TEST(Mp3Source, TruncatedFileDropsThePartialFrame) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string plain = ReadFileBytes(MakeMp3(dir, "cut", 2, kToneSweep, {"-b", "128", "-t"}));
  auto whole = OpenBytes(plain);
  const auto full = ReadAll(*whole);
  const auto& layout = static_cast<formats::LMP3SoundSource&>(*whole).layout();
  EXPECT_FALSE(layout.vbrHeader);
  WriteFileBytes(dir / "whole.mp3", plain);
  EXPECT_EQ(static_cast<size_t>(whole->length() * 2), Mpg123Decode(dir, dir / "whole.mp3").size());
  const size_t k = layout.frames.size() - 10;
  for (size_t cut : {size_t{200}, size_t{5}}) {
    SCOPED_TRACE(cut);
    const std::string bytes = plain.substr(0, layout.frames[k] + cut);
    auto src = OpenBytes(bytes);
    ASSERT_TRUE(src->ready());
    EXPECT_EQ(src->length(), static_cast<audio::FrameCount>(k) * 1152);
    const auto cutFile = dir / "cut_short.mp3";
    WriteFileBytes(cutFile, bytes);
    EXPECT_EQ(static_cast<size_t>(src->length() * 2), Mpg123Decode(dir, cutFile).size());
    EXPECT_EQ(ReadAll(*src), Slice(full, 2, 0, src->length()));
  }
}

TEST(Mp3Source, StatusSaysWhyAFileCannotBeRead) {
  TempDir dir;
  EXPECT_EQ(formats::OpenMp3Source(dir / "missing.mp3")->status(), audio::SoundStatus::CannotOpen);
  EXPECT_EQ(OpenBytes("")->status(), audio::SoundStatus::Corrupt);
  EXPECT_EQ(OpenBytes(std::string(100000, '\xFF'))->status(), audio::SoundStatus::Corrupt);
  EXPECT_EQ(OpenBytes("RIFF....WAVEfmt " + std::string(5000, '\0'))->status(), audio::SoundStatus::Corrupt);
  // Layer II is not ours to decode.
  QUILLET_REQUIRE_PROGRAMS("ffmpeg", "sox");
  const auto wav = dir / "l2.wav";
  ASSERT_EQ(RunProgram({"sox", "-n", "-r", "44100", "-c", "2", wav.string(), "synth", "1", "sine", "440"}), 0);
  const auto mp2 = dir / "l2.mp2";
  ASSERT_EQ(RunProgram({"ffmpeg", "-loglevel", "quiet", "-i", wav.string(), "-c:a", "mp2", mp2.string()}), 0);
  EXPECT_EQ(formats::OpenMp3Source(mp2)->status(), audio::SoundStatus::Corrupt);
}

// Global gains forced to the maximum drive the decoder far past full scale: the source
// saturates at its peak bound instead of wrapping.
TEST(Mp3Source, OutputSaturatesAtPeakBound) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  std::string bytes = ReadFileBytes(MakeMp3(dir, "loud", 2, kToneSweep, {"-b", "128", "-m", "s", "-t"}));
  auto plain = OpenBytes(bytes);
  const auto& layout = static_cast<formats::LMP3SoundSource&>(*plain).layout();
  for (uint64_t offset : layout.frames) {
    // MPEG-1 stereo side info: 20 bits, then 59 bits per granule and channel; the global
    // gain is 21 bits into each.
    for (int gc = 0; gc < 4; ++gc) {
      const size_t bit = (offset + 4) * 8 + 20 + 59 * static_cast<size_t>(gc) + 21;
      for (size_t b = bit; b < bit + 8; ++b) bytes[b / 8] = static_cast<char>(bytes[b / 8] | (0x80 >> (b % 8)));
    }
  }
  auto src = OpenBytes(bytes);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->peakBound(), audio::kWidePeakBound);
  const auto all = ReadAll(*src);
  const auto peak = static_cast<Sample>(audio::kWidePeakBound);
  EXPECT_EQ(*std::max_element(all.begin(), all.end()), peak);
  EXPECT_EQ(*std::min_element(all.begin(), all.end()), -peak);
}

// Damaged bytes anywhere: the source opens or refuses, reads stay within the peak bound,
// and nothing reads outside its buffers (the sanitizer build checks that).
TEST(Mp3Source, CorruptBytesDecodeWithoutHarm) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string plain = ReadFileBytes(MakeMp3(dir, "noise", 2, kClicks, {"-V", "3"}));
  std::mt19937 rng(11);
  for (int round = 0; round < 12; ++round) {
    std::string bytes = plain;
    const int hits = round < 6 ? 20 : 2000;
    for (int i = 0; i < hits; ++i)
      bytes[std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng)] =
          static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
    auto src = OpenBytes(bytes);
    if (!src->ready()) continue;
    const auto all = ReadAll(*src);
    const auto peak = static_cast<Sample>(audio::kWidePeakBound);
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [&](Sample s) { return s >= -peak && s <= peak; }));
    EXPECT_EQ(ReadAt(*src, src->length() / 3, 5000), Slice(all, src->channels(), src->length() / 3, 5000));
  }
}

// Reading through decodes spans on worker threads, each from its own lead-in: the samples
// must be exactly those of one decoder going through the whole stream, whatever the reads'
// sizes and after a jump back, including low bit rates (main data reaching several frames
// back), one-granule frames and a stream whose channel mode changes.
TEST(Mp3Source, WorkersGiveTheSamplesOfOneDecoder) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::vector<std::string> sweep = {"synth", "14", "sine", "300-3000", "sine", "5000"};
  const std::string iso = ReadTestData("l3-he_mode.bit");
  ASSERT_FALSE(iso.empty());
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cbr32 reservoir", ReadFileBytes(MakeMp3(dir, "r32", 2, sweep, {"-b", "32"}))},
      {"vbr", ReadFileBytes(MakeMp3(dir, "vbr", 2, {"synth", "14", "pinknoise", "gain", "-6"}, {"-V", "4"}))},
      {"mpeg2", ReadFileBytes(MakeMp3(dir, "lsf", 2, sweep, {"--resample", "22.05", "-b", "24"}))},
      {"mode changes", iso + iso + iso},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::MemoryByteSource view(c.bytes);
    const OurDecoding through = DecodeOurs(view);
    auto src = formats::OpenMp3Source(std::make_unique<platform::MemoryByteSource>(c.bytes), 3);
    ASSERT_TRUE(src->ready());
    const auto& mp3 = static_cast<formats::LMP3SoundSource&>(*src);
    ASSERT_GT(mp3.layout().frames.size(), 300u);
    const int ch = src->channels();
    // With a LAME tag the source starts after the codec delay: frames and spans are then
    // cut at other places than the decoded samples'.
    const size_t lead = mp3.layout().total >= 0 ? static_cast<size_t>(mp3.layout().lead) * static_cast<size_t>(ch) : 0;
    ASSERT_LE(lead, through.samples.size());
    std::vector<Sample> expected(std::min(through.samples.size() - lead, static_cast<size_t>(src->length() * ch)));
    for (size_t i = 0; i < expected.size(); ++i)
      expected[i] = static_cast<Sample>(
          std::lrint(std::clamp(through.samples[lead + i] * 524288.0f, -2097152.0f, 2097152.0f)));
    ASSERT_EQ(expected.size(), static_cast<size_t>(src->length() * ch));
    std::vector<Sample> got(expected.size());
    for (audio::FramePos at = 0; at < src->length(); at += 1000)
      src->read(got.data() + at * ch, std::min<audio::FrameCount>(1000, src->length() - at));
    EXPECT_TRUE(got == expected);
    EXPECT_GT(mp3.framesFromWorkers(), static_cast<int64_t>(mp3.layout().frames.size()) / 2);

    // Back to a quarter of the way and through again: the workers restart from a lead-in.
    const int64_t before = mp3.framesFromWorkers();
    const audio::FramePos quarter = src->length() / 4 + 17;
    EXPECT_TRUE(ReadAt(*src, quarter, src->length() - quarter) == Slice(expected, ch, quarter, src->length() - quarter));
    EXPECT_GT(mp3.framesFromWorkers(), before);
  }
}

// Offsets of the frames of a stream whose frames follow each other without gaps.
std::vector<size_t> FrameOffsets(const std::string& bytes) {
  platform::MemoryByteSource view(bytes);
  formats::Mp3Layout layout;
  EXPECT_TRUE(formats::ScanMp3Layout(view, layout));
  std::vector<size_t> offsets(layout.frames.begin(), layout.frames.end());
  offsets.push_back(bytes.size());
  return offsets;
}

// A stream that changes mode: mono frames come in both channels, and seeking anywhere, also
// to the first stereo frame after mono ones, gives what reading through gives.
TEST(Mp3Source, ModeChangesKeepEveryFrameAndSeekExactly) {
  const std::string iso = ReadTestData("l3-he_mode.bit");
  ASSERT_FALSE(iso.empty());
  const std::vector<size_t> at = FrameOffsets(iso);
  ASSERT_EQ(at.size(), 129u);
  auto frames = [&](size_t from, size_t to) { return iso.substr(at[from], at[to] - at[from]); };
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<int> boundaries;  // frames where the channel count changes
  };
  const Case cases[] = {
      {"iso stream", iso, {10, 110}},
      // Stereo, mono, stereo again: channel 1 must not resume from before the mono frames.
      {"stereo mono stereo", frames(30, 40) + frames(118, 128) + frames(40, 50), {10, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto src = OpenBytes(c.bytes);
    ASSERT_TRUE(src->ready());
    ASSERT_EQ(src->channels(), 2);
    const auto& layout = static_cast<formats::LMP3SoundSource&>(*src).layout();
    const std::vector<Sample> all = ReadAll(*src);
    bool sawStereo = false;
    for (size_t f = 0; f < layout.frameChannels.size(); ++f) {
      bool same = true;
      for (size_t i = f * 1152; i < (f + 1) * 1152 && same; ++i) same = all[2 * i] == all[2 * i + 1];
      if (layout.frameChannels[f] == 1) {
        EXPECT_TRUE(same) << "mono frame " << f << " differs between channels";
      }
      sawStereo |= !same;
    }
    EXPECT_TRUE(sawStereo);
    for (int b : c.boundaries)
      for (audio::FramePos p : {b * 1152 - 1, b * 1152, b * 1152 + 700, (b + 1) * 1152 + 3}) {
        SCOPED_TRACE(p);
        EXPECT_EQ(ReadAt(*src, p, 2000), Slice(all, 2, p, 2000));
      }
  }
}

// A change of sample rate or MPEG version mid-way is a new stream: decoding it at the
// first one's rate would play it at the wrong speed, so the source ends there and says so.
TEST(Mp3Source, RateOrVersionChangeEndsTheStreamWithANotice) {
  QUILLET_REQUIRE_MP3_TOOLS();
  TempDir dir;
  const std::string first = ReadFileBytes(MakeMp3(dir, "first", 2, kToneSweep, {"-b", "128", "-t"}));
  auto alone = OpenBytes(first);
  ASSERT_TRUE(alone->ready());
  EXPECT_TRUE(static_cast<formats::LMP3SoundSource&>(*alone).notices().empty());
  const struct {
    const char* name;
    std::vector<std::string> lame;
    const char* says;
  } cases[] = {{"rate", {"--resample", "48", "-b", "128", "-t"}, "48000 Hz MPEG-1"},
               {"version", {"--resample", "22.05", "-b", "64", "-t"}, "22050 Hz MPEG-2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string second = ReadFileBytes(MakeMp3(dir, c.name, 2, kToneSweep, c.lame));
    auto src = OpenBytes(first + second);
    ASSERT_TRUE(src->ready());
    EXPECT_EQ(src->sampleRate(), 44100);
    EXPECT_EQ(src->length(), alone->length());
    EXPECT_EQ(ReadAll(*src), ReadAll(*alone));
    const auto& notices = static_cast<formats::LMP3SoundSource&>(*src).notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("from 44100 Hz MPEG-1 to " + std::string(c.says)), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("at byte " + std::to_string(first.size())), std::string::npos) << notices[0];
  }
}

// Synthetic free-format frames: a header (MPEG-1, 44.1 kHz, bit-rate index 0, stereo) and
// silence, `length` bytes each.
std::string FreeFormatFrames(int count, size_t length) {
  std::string frame(length, '\0');
  frame[0] = '\xFF', frame[1] = '\xFB', frame[2] = '\x00', frame[3] = '\x00';
  std::string out;
  for (int i = 0; i < count; ++i) out += frame;
  return out;
}

TEST(Mp3Source, FreeFormatFramesAreFoundWithinTheLargestLegalFrame) {
  // The largest legal free-format frame at 44.1 kHz: 320 kbit/s, padded.
  const size_t largest = 144 * 320000 / 44100 + 1;
  const struct {
    const char* name;
    std::string bytes;
    audio::FrameCount frames;  // 0: refused
  } cases[] = {
      {"short frames", FreeFormatFrames(5, 300), 5 * 1152},
      {"largest frames", FreeFormatFrames(5, largest), 5 * 1152},
      {"frames past the largest", FreeFormatFrames(5, largest + 1), 0},
      {"a lone frame", FreeFormatFrames(1, 300), 0},
      // No second sync word within reach: corrupt, not a reason to read the whole file.
      {"no second sync", FreeFormatFrames(1, 300) + std::string(4 << 20, '\x55'), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto src = OpenBytes(c.bytes);
    EXPECT_EQ(src->ready(), c.frames > 0);
    EXPECT_EQ(src->length(), c.frames);
    if (c.frames == 0) {
      EXPECT_EQ(src->status(), audio::SoundStatus::Corrupt);
    }
  }
  // The ISO stream: seeking gives what reading through gives.
  auto src = OpenBytes(ReadTestData("l3-he_free.bit"));
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(static_cast<formats::LMP3SoundSource&>(*src).layout().freeBytes, 391);
  const std::vector<Sample> all = ReadAll(*src);
  for (audio::FramePos p : {audio::FramePos{0}, audio::FramePos{1152 * 7 + 11}, src->length() - 1500}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(ReadAt(*src, p, 3000), Slice(all, 2, p, 3000));
  }
}

}  // namespace
}  // namespace quillet::testing
