// quillet-cli's click repair, spectrum and spectrogram end to end, on WAVE files
// written here: what a user scripting the repair or reading partials would see.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <map>
#include <sstream>

#include "apply_fixture.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace quillet::app {
namespace {

using audio::AudioBlock;
using audio::FrameCount;
using audio::FramePos;
using namespace quillet::testing;

class AnalysisCli : public ::testing::Test {
 protected:
  TempDir dir;
  std::string in = (dir / "in.wav").string();

  void Write(const AudioBlock& b, std::uint32_t rate = 44100) {
    auto sink = formats::MakeWavePcmSink(in, rate, 0, 16, b.channels());
    sink->write(b.data(), b.frames());
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  CliOutput Run(std::vector<std::string> words) {
    words.insert(words.begin(), {"--settings", (dir / "settings").string()});
    return RunWithTable(words);
  }
};

// Three partials of a chord at different levels.
AudioBlock Chord(int channels, FrameCount frames) {
  AudioBlock b(channels, frames);
  const struct {
    double hz, amplitude;
  } partials[] = {{440, kFullScale * 0.5}, {660, kFullScale * 0.25}, {1760, kFullScale * 0.05}};
  for (const auto& p : partials) {
    const AudioBlock s = Sine(channels, frames, 44100, p.hz, p.amplitude);
    for (std::size_t i = 0; i < b.samples().size(); ++i) b.data()[i] += s.data()[i];
  }
  return b;
}

TEST_F(AnalysisCli, SpectrumShowsEachPartialAtItsLevel) {
  Write(Chord(2, 44100));
  const CliOutput r = Run({"spectrum", in, "--at", "10000"});
  ASSERT_EQ(r.status, 0) << r.err;
  // "# channel N" then "HZ DB" lines.
  std::map<int, std::vector<std::pair<double, int>>> channels;
  std::istringstream lines(r.out);
  int ch = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# channel ", 0) == 0) {
      ch = std::stoi(line.substr(10));
      continue;
    }
    double hz = 0;
    int db = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %d", &hz, &db), 2) << line;
    channels[ch].push_back({hz, db});
  }
  ASSERT_EQ(channels.size(), 2u);
  for (const auto& channel : channels) {
    const int c = channel.first;
    const auto& bins = channel.second;
    ASSERT_EQ(bins.size(), 2048u);
    auto levelNear = [&](double hz) {
      int best = -200;
      for (const auto& [f, db] : bins)
        if (std::abs(f - hz) < 11) best = std::max(best, db);
      return best;
    };
    EXPECT_NEAR(levelNear(440), -6, 2) << c;
    EXPECT_NEAR(levelNear(660), -12, 2) << c;
    EXPECT_NEAR(levelNear(1760), -26, 2) << c;
    EXPECT_LT(levelNear(1100), -45) << c;  // between partials
  }
  EXPECT_NE(Run({"spectrum", in}).status, 0);
  EXPECT_NE(Run({"spectrum", in, "--at", "x"}).status, 0);
}

TEST_F(AnalysisCli, SpectrogramWritesThePictureWithToneRows) {
  Write(Sine(1, 44100 * 2, 44100, 2000, kFullScale * 0.5));
  const std::string png = (dir / "tf.png").string();
  const CliOutput r = Run({"spectrogram", in, png, "--from", "0", "--to", "44100", "--width", "200",
                           "--height", "256"});
  ASSERT_EQ(r.status, 0) << r.err;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> px(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, px.data(), 0, nullptr));
  ASSERT_EQ(image.width, 200u);
  ASSERT_EQ(image.height, 256u);
  // Full range 0..22050 Hz over 256 rows: 2000 Hz is about row 232 from the top.
  auto brightness = [&](int x, int y) {
    const png_byte* p = px.data() + (static_cast<std::size_t>(y) * 200 + static_cast<std::size_t>(x)) * 3;
    return p[0] + p[1] + p[2];
  };
  int brightest = 0;
  for (int y = 0; y < 256; ++y)
    if (brightness(100, y) > brightness(100, brightest)) brightest = y;
  EXPECT_NEAR(brightest, 256 - 2000.0 * 256 / 22050, 2);
  EXPECT_GT(brightness(100, brightest), 600);
  EXPECT_LT(brightness(100, 40), 60);
  EXPECT_NE(Run({"spectrogram", in, png, "--from", "100", "--to", "100"}).status, 0);
  EXPECT_NE(Run({"spectrogram", in, (dir / "missing" / "x.png").string()}).status, 0);
}

TEST_F(AnalysisCli, ClickPopAutoRepairsAndManualIsLimitedToAMillisecond) {
  AudioBlock b = Sine(1, 44100, 44100, 300, kFullScale * 0.3);
  for (FramePos p : {5000, 20000, 35000}) {
    b(0, p) += kFullScale / 2;
    b(0, p + 1) -= kFullScale / 3;
  }
  Write(b);
  const std::string out = (dir / "out.wav").string();
  CliOutput r = Run({"apply", in, out, "click-pop-auto:50,450"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto src = formats::OpenWaveFile(out);
  const AudioBlock fixed = ReadSource(*src);
  const AudioBlock clean = Sine(1, 44100, 44100, 300, kFullScale * 0.3);
  for (FramePos p : {5000, 20000, 35000}) EXPECT_LT(std::abs(fixed(0, p) - clean(0, p)), kFullScale / 20) << p;
  r = Run({"apply", in, out, "--from", "5000", "--to", "5002", "click-pop-manual"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"apply", in, out, "--from", "5000", "--to", "5045", "click-pop-manual"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Quillet cannot do a manual reduction of an area this size."), std::string::npos) << r.err;
  r = Run({"apply", in, out, "click-pop-auto:101"});
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace quillet::app
