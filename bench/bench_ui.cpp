// The wave window's redraw of a fully zoomed-out ten-hour stereo document at 1920
// pixels: the peak columns computed from the peak files (every column of the view is
// new, as after an edit or a resize), then the display painted into an image. The
// document is one minute of real audio repeated 600 times, so its segments point at
// real sample and peak files without writing 12 GB.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/chain.h"
#include "core/segment_sink.h"
#include "core/working_folder.h"
#include "ui/wave_display.h"

namespace {

using namespace quillet;
using core::AudioChain;

constexpr std::uint32_t kRate = 44100;
constexpr audio::FrameCount kMinute = 60 * kRate;
constexpr int kRepeats = 600;  // ten hours
constexpr int kWidth = 1920, kHeight = 600;

core::SegmentStore& Store() {
  static std::unique_ptr<core::StoreSession> session = [] {
    std::string msg;
    auto s = core::StoreSession::StartIn(core::DefaultWorkingFolder().parent_path() / "bench-ui", &msg);
    if (!s) {
      std::fprintf(stderr, "%s\n", msg.c_str());
      std::abort();
    }
    return s;
  }();
  return session->store();
}

const AudioChain& TenHours() {
  static const AudioChain chain = [] {
    AudioChain c(&Store());
    {
      auto sink = core::ChainOpenSink(c, kRate, 2);
      std::vector<audio::Sample> block(2 * 4410);
      std::uint32_t noise = 1;
      for (audio::FramePos f = 0; f < kMinute; f += 4410) {
        for (std::size_t i = 0; i < block.size() / 2; ++i) {
          // A swelling tone with some noise, so columns differ.
          noise = noise * 1664525u + 1013904223u;
          const double t = double(f + audio::FramePos(i)) / kRate;
          const double v = std::sin(t * 2 * M_PI * 220) * (0.2 + 0.6 * std::fabs(std::sin(t * 0.3)));
          block[2 * i] = audio::Sample(v * 0x7FFF0) + audio::Sample(noise >> 24);
          block[2 * i + 1] = audio::Sample(-v * 0x3FFF0);
        }
        sink->write(block.data(), 4410);
      }
      sink->Finish();
    }
    core::ChainRepeatRange(c, 0, core::ChainLength(c), kRepeats - 1);
    return c;
  }();
  return chain;
}

// Columns from the peak files for the whole ten hours at 1920 columns.
void BM_PeakColumnsFullView(benchmark::State& state) {
  const AudioChain& chain = TenHours();
  ui::WaveDisplay display;
  display.resize(kWidth, kHeight);
  for (auto _ : state) {
    display.SetAudio(chain, /*displayMode=*/0, /*verticalZoom=*/false);
    display.RequestView(0, core::ChainLength(chain));
    if (!display.WaitIdle(std::chrono::seconds(60))) state.SkipWithError("worker did not finish");
  }
  state.counters["frames"] = double(core::ChainLength(chain));
}

// Painting the computed columns (selection, marker and frame included).
void BM_PaintFullView(benchmark::State& state) {
  const AudioChain& chain = TenHours();
  ui::WaveDisplay display;
  display.resize(kWidth, kHeight);
  display.SetAudio(chain, int(state.range(0)), false);
  display.SetAudioEnd(core::ChainLength(chain));
  display.RequestView(0, core::ChainLength(chain));
  display.SetSelectionMarks(kMinute * 100, kMinute * 200);
  display.WaitIdle(std::chrono::seconds(60));
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  for (auto _ : state) {
    display.render(&image);
    benchmark::DoNotOptimize(image.constBits());
  }
}

// The whole redraw after an edit: new columns, then one paint.
void BM_RedrawAfterEdit(benchmark::State& state) {
  const AudioChain& chain = TenHours();
  ui::WaveDisplay display;
  display.resize(kWidth, kHeight);
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  for (auto _ : state) {
    display.SetAudio(chain, 0, false);
    display.SetAudioEnd(core::ChainLength(chain));
    display.RequestView(0, core::ChainLength(chain));
    display.WaitIdle(std::chrono::seconds(60));
    display.render(&image);
    benchmark::DoNotOptimize(image.constBits());
  }
  // Proof that the columns were drawn: wave-coloured pixels of the column at the
  // middle (a loud stretch of the swell reaches well beyond the centre line).
  int wave = 0;
  for (int x = 0; x < kWidth; ++x)
    wave += image.pixel(x, kHeight / 2 - kHeight / 8) == ui::colors::kWave;
  state.counters["waveColumnsAtEighth"] = wave;
}

BENCHMARK(BM_PeakColumnsFullView)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PaintFullView)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawAfterEdit)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
