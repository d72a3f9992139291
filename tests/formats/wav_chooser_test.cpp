#include "formats/wav_chooser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/temp_dir.h"
#include "formats/codec.h"

namespace quillet::formats {
namespace {

using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

// Answers with a scripted list of choices, then cancels.
class ScriptedChooser final : public FormatChooserUi {
 public:
  explicit ScriptedChooser(std::vector<WaveFormat> picks) : picks_(std::move(picks)) {}
  std::optional<WaveFormat> Choose(const FormatChooserModel& model) override {
    models.push_back(model);
    if (next_ >= picks_.size()) return std::nullopt;
    return picks_[next_++];
  }
  void ShowStop(std::string_view text, std::string_view caption) override {
    stops.emplace_back(std::string(text) + "|" + std::string(caption));
  }
  std::vector<FormatChooserModel> models;
  std::vector<std::string> stops;

 private:
  std::vector<WaveFormat> picks_;
  std::size_t next_ = 0;
};

WaveFormat Find(std::uint16_t tag, std::uint32_t rate, int channels) {
  for (const WaveFormat& f : EncodableFormats(rate, channels))
    if (f.tag == tag && f.rate == rate && f.channels == channels) return f;
  ADD_FAILURE() << "no format " << tag;
  return {};
}

TEST(WavChooser, RefusedChoiceShowsTheMessageAndAsksAgain) {
  WaveFormat mp3 = MakePcmFormat(44100, 2, 16);
  mp3.tag = wave_tag::kMpegLayer3;
  const WaveFormat ima = Find(wave_tag::kImaAdpcm, 44100, 2);
  ScriptedChooser ui({mp3, ima});
  WaveFormat f = MakePcmFormat(44100, 2, 16);
  ASSERT_TRUE(ChooseFormat(&f, 0, kWaveSaveOptionsTitle, ui));
  EXPECT_EQ(f, ima);
  ASSERT_EQ(ui.stops.size(), 1u);
  EXPECT_EQ(ui.stops[0],
            "The requested format is not available because the required CODEC is not installed on this "
            "computer.|Format Not Available");
  EXPECT_EQ(ui.models.front().title(), "Select Wave File Format");
  EXPECT_EQ(ui.models.front().initial(), MakePcmFormat(44100, 2, 16));
}

TEST(WavChooser, ChannelRestrictionLimitsTheList) {
  const FormatChooserModel stereo(MakePcmFormat(8000, 2, 16), 2, 8000, "t");
  for (const WaveFormat& f : stereo.formats()) EXPECT_EQ(f.channels, 2);
  const auto tags = stereo.Tags();
  EXPECT_EQ(std::count(tags.begin(), tags.end(), wave_tag::kGsm610), 0);  // GSM is mono only
  const FormatChooserModel any(MakePcmFormat(8000, 2, 16), 0, 8000, "t");
  const auto all = any.Tags();
  EXPECT_EQ(all.front(), wave_tag::kPcm);
  EXPECT_EQ(std::count(all.begin(), all.end(), wave_tag::kGsm610), 1);
  // A document rate that is not a usual one is still offered.
  const FormatChooserModel odd(MakePcmFormat(12345, 1, 16), 1, 12345, "t");
  bool has12345 = false;
  for (const WaveFormat& f : odd.formats())
    has12345 |= f.rate == 12345;
  EXPECT_TRUE(has12345);
}

TEST(WavChooser, SaveOptionsStoreTheChoiceAndCancelKeepsTheOld) {
  TempDir dir;
  const auto wff = dir / "sub" / "WavCodec.wff";
  const WaveFormat ms = Find(wave_tag::kMsAdpcm, 22050, 1);
  ScriptedChooser pick({ms});
  ASSERT_TRUE(WaveSaveOptions(22050, 1, pick, wff));
  EXPECT_EQ(ReadFileBytes(wff).size(), 1024u);
  EXPECT_EQ(ReadWavCodecFile(wff), ms);
  EXPECT_EQ(WaveSaveFormat(44100, 2, false, wff), ms);

  ScriptedChooser cancel({});
  EXPECT_FALSE(WaveSaveOptions(22050, 1, cancel, wff));
  EXPECT_EQ(cancel.models.front().initial(), ms);
  EXPECT_EQ(ReadWavCodecFile(wff), ms);
}

TEST(WavChooser, ADocumentsOwnFormatIsProposedAndTakesTheChoice) {
  TempDir dir;
  const auto wff = dir / "WavCodec.wff";
  ASSERT_TRUE(WriteWavCodecFile(wff, MakePcmFormat(44100, 2, 16)));
  std::optional<WaveFormat> own = MakePcmFormat(44100, 2, 24);
  // Proposed over the stored choice; a cancel leaves it as it was.
  ScriptedChooser cancel({});
  EXPECT_FALSE(WaveSaveOptions(44100, 2, cancel, &own, wff));
  EXPECT_EQ(cancel.models.front().initial(), MakePcmFormat(44100, 2, 24));
  EXPECT_EQ(own, MakePcmFormat(44100, 2, 24));
  // A PCM format follows a document whose rate changed since it was opened.
  ScriptedChooser keep({MakePcmFormat(22050, 2, 24)});
  ASSERT_TRUE(WaveSaveOptions(22050, 2, keep, &own, wff));
  EXPECT_EQ(keep.models.front().initial(), MakePcmFormat(22050, 2, 24));
  EXPECT_EQ(own, MakePcmFormat(22050, 2, 24));
  EXPECT_EQ(ReadWavCodecFile(wff), MakePcmFormat(22050, 2, 24));
}

TEST(WavChooser, StoredPcmFollowsTheDocumentOnlyWhenAsked) {
  TempDir dir;
  const auto wff = dir / "WavCodec.wff";
  ASSERT_TRUE(WriteWavCodecFile(wff, MakePcmFormat(8000, 1, 24)));
  EXPECT_EQ(WaveSaveFormat(48000, 2, true, wff), MakePcmFormat(48000, 2, 24));
  EXPECT_EQ(WaveSaveFormat(48000, 2, false, wff), MakePcmFormat(8000, 1, 24));
}

TEST(WavChooser, MissingShortOrUnusableRecordsGiveThePreset) {
  TempDir dir;
  const auto wff = dir / "WavCodec.wff";
  const WaveFormat preset = MakePcmFormat(32000, 2, 16);
  EXPECT_EQ(WaveSaveFormat(32000, 2, false, wff), preset);
  WriteFileBytes(wff, std::string(10, '\1'));
  EXPECT_EQ(WaveSaveFormat(32000, 2, false, wff), preset);
  WaveFormat zeroRate = MakePcmFormat(44100, 2, 16);
  zeroRate.rate = 0;
  ASSERT_TRUE(WriteWavCodecFile(wff, zeroRate));
  EXPECT_EQ(WaveSaveFormat(32000, 2, false, wff), preset);
  WaveFormat unknown = MakePcmFormat(44100, 2, 16);
  unknown.tag = 0x4242;
  ASSERT_TRUE(WriteWavCodecFile(wff, unknown));
  EXPECT_EQ(WaveSaveFormat(32000, 2, false, wff), preset);
}

}  // namespace
}  // namespace quillet::formats
