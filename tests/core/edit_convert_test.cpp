// Audio of another rate and channel count pasted, mixed or inserted into a document:
// the standard converters fit it to the document instead of the edit being refused.
#include <gtest/gtest.h>

#include "audio/resample.h"
#include "core/edit_commands.h"
#include "edit_fixture.h"
#include "fixtures/signals.h"

namespace quillet::core::testing {
namespace {

namespace qt = quillet::testing;

class EditConvertTest : public EditFixture {
 protected:
  void SetUp() override { ctx.adaptors = audio::StandardFormatAdaptors(); }

  // One second of a 1 kHz tone at half of full scale, 22050 Hz mono.
  static std::vector<Sample> Tone22k() {
    return qt::Sine(1, 22050, 22050, 1000, qt::kFullScale / 2.0).samples();
  }
  // The tone measured in channel ch of doc's [from, to): 1 kHz at half full scale.
  void ExpectTone(const WaveDocument& doc, int ch, FramePos from, FramePos to) {
    qt::AudioBlock got(doc.channels(), to - from);
    const std::vector<Sample> v = ReadAll(doc.chain(), from, to - from);
    std::copy(v.begin(), v.end(), got.data());
    // Away from the edges, where the converter's filter starts and stops.
    const qt::Tone tone = qt::MeasureTone(got, ch, 44100, 1000, 2000, to - from - 2000);
    EXPECT_NEAR(tone.frequency, 1000, 1) << "channel " << ch;
    EXPECT_NEAR(qt::Db(tone.amplitude / (qt::kFullScale / 2.0)), 0, 0.2) << "channel " << ch;
  }
};

TEST_F(EditConvertTest, PasteOf22kMonoInto44kStereoDoublesTheLengthAndKeepsThePitch) {
  auto source = Doc(1, Tone22k(), 22050);
  source->SetSelection(0, source->length(), 0);
  ASSERT_EQ(Copy(ctx, *source), 0);
  auto doc = Doc(2, Dc(2, 1000, 0), 44100);
  doc->SetSelection(500, 500, 0);
  ASSERT_EQ(Paste(ctx, *doc), 0) << ctx.message;
  EXPECT_EQ(doc->length(), 1000 + 44100);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(500, 500 + 44100));
  EXPECT_EQ(doc->channels(), 2);
  ExpectTone(*doc, 0, 500, 500 + 44100);
  ExpectTone(*doc, 1, 500, 500 + 44100);
  // The audio around the paste is untouched.
  EXPECT_EQ(ReadAll(doc->chain(), 0, 500), Dc(2, 500, 0));
}

TEST_F(EditConvertTest, InsertFileAndMixFileConvertTheirAudio) {
  const auto file = settingsDir.path() / "tone.qraw";
  RawFileIo::WriteRaw(file, 22050, 1, Tone22k());
  auto doc = Doc(2, Dc(2, 1000, 0), 44100);
  ASSERT_EQ(InsertFile(ctx, *doc, InsertWhere::End, file), 0) << ctx.message;
  EXPECT_EQ(doc->length(), 1000 + 44100);
  ExpectTone(*doc, 1, 1000, 1000 + 44100);

  auto silent = Doc(2, Dc(2, 50000, 0), 44100);
  silent->SetSelection(100, 100, 0);
  ASSERT_EQ(MixFile(ctx, *silent, file, MixParams{}), 0) << ctx.message;
  EXPECT_EQ(silent->length(), 50000);
  EXPECT_EQ(silent->selEnd() - silent->selStart(), 44100);
  ExpectTone(*silent, 0, 100, 100 + 44100);
}

}  // namespace
}  // namespace quillet::core::testing
