#pragma once
// Dialogic ADPCM ("VOX"): 4-bit codes of a 12-bit predictor, two per byte with the
// earlier sample in the high nibble, one channel. The predictor is kept within 12 bits
// as every Dialogic decoder does, so a corrupt or hostile file cannot drive it beyond
// full scale.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "audio/sound.h"
#include "platform/byte_source.h"

namespace quillet::formats {

class DialogicAdpcm {
 public:
  // The predictor after one code, in the internal scale.
  audio::Sample Decode(int code);
  // The code for one sample; the state moves as the decoder's will.
  int Encode(audio::Sample x);
  void Reset() { *this = DialogicAdpcm(); }
  friend bool operator==(const DialogicAdpcm&, const DialogicAdpcm&) = default;

 private:
  int predictor_ = 0;  // 12-bit, -2048..2047
  int index_ = 0;      // into the step table, 0..48
};

// Reads a whole VOX byte run; seeking restores the decoder state of a checkpoint and
// decodes forward, so any position reads exactly what a read from the start gives.
class LVoxSoundSource final : public audio::LSoundSource {
 public:
  LVoxSoundSource(std::shared_ptr<platform::ByteSource> bytes, std::int32_t rate);
  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override { return length_; }
  void seek(audio::FramePos frame) override { pos_ = frame; }

 private:
  // Decodes n samples from the decoder's position into out (null: discard).
  void Decode(audio::Sample* out, audio::FrameCount n);
  void MoveDecoderTo(audio::FramePos frame);

  std::shared_ptr<platform::ByteSource> bytes_;
  audio::FrameCount length_;
  audio::FramePos pos_ = 0;
  DialogicAdpcm state_;
  audio::FramePos decoded_ = 0;            // the sample the state is before
  std::vector<DialogicAdpcm> checkpoints_;  // state before sample k * kCheckpointSamples
  std::vector<std::uint8_t> buffer_;
};

// A mono Dialogic ADPCM file; an odd last code is completed with a zero code.
audio::SinkHandle MakeDialogicSink(const std::filesystem::path& file, std::uint32_t rate);

}  // namespace quillet::formats
