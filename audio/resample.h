#pragma once
// Sample-rate conversion as a source adaptor: a polyphase windowed-sinc filter run at
// the exact ratio of the two rates, so pitch and duration are kept exactly. Its cutoff
// sits a fixed fraction below the lower of the two Nyquist frequencies, and for
// downsampling the kernel widens with the ratio, so every rate pair keeps the same
// relative passband and stopband.

#include <memory>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "audio/transfer.h"

namespace quillet::audio {

// Rates the program offers anywhere (dialogs, files, batch scripts).
inline constexpr std::int32_t kMinSampleRate = 6000;
inline constexpr std::int32_t kMaxSampleRate = 96000;

namespace detail {
struct ResampleKernel;
}

// One conversion stage from the input's rate to targetRate.
class LRateConverter final : public LSoundSource {
 public:
  // margin: the cutoff's distance below the lower Nyquist frequency, as a share of it.
  LRateConverter(SourceHandle input, std::int32_t targetRate, double margin);
  ~LRateConverter() override;

  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return outPos_; }
  FrameCount length() const override;
  void seek(FramePos frame) override;

  // Output frames per input frame, as the reduced fraction up / down.
  std::int64_t up() const;
  std::int64_t down() const;
  int taps() const;

 private:
  void Restart(FramePos outFrame);
  void Fill(std::int64_t needEnd);

  SourceHandle input_;
  std::shared_ptr<const detail::ResampleKernel> kernel_;
  FramePos outPos_ = 0;
  std::int64_t ipos_ = 0;   // integer input frame of the next output
  std::int64_t phase_ = 0;  // its remainder, 0..up-1
  // Input history per channel, as floats: frames [histStart_, histStart_ + histLen_).
  std::vector<std::vector<float>> hist_;
  std::int64_t histStart_ = 0;
  std::int64_t histLen_ = 0;
  std::int64_t inputNext_ = 0;  // the input frame the source will deliver next
  std::vector<Sample> readBuf_;
};

// A source that reports another rate for the same frames: resampling to S / r and
// relabelling as S plays r times faster and r times higher.
class LRelabelSource final : public LSoundSource {
 public:
  LRelabelSource(SourceHandle input, std::int32_t rate);
  void read(Sample* buffer, FrameCount frames) override { input_->read(buffer, frames); }
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }

 private:
  SourceHandle input_;
};

// input at rate: one stage, or two (through 2 x rate) when rate is below a quarter of
// the input's. input itself when the rates match or it is not ready; rate is clamped to
// 1..(input rate x 1000) so that no ratio can explode.
SourceHandle ConvertRate(SourceHandle input, std::int32_t rate);

// input played r times faster and higher (r clamped to 0.1..10), keeping its rate.
SourceHandle ResampleRelabel(SourceHandle input, double r);

// The converters of this module, for the transfer loop and every caller that fits
// audio of one format to another.
const FormatAdaptors& StandardFormatAdaptors();

// input converted to rate and channels (channels reduced before the rate conversion,
// added after it). Null with *message when it cannot be.
SourceHandle ConvertFormat(SourceHandle input, std::int32_t rate, int channels,
                           std::string* message = nullptr);

}  // namespace quillet::audio
