// quillet-amrenc MODE IN.wav OUT.amr: encodes an 8000 Hz mono 16-bit WAVE file to AMR
// narrowband (the "#!AMR\n" storage format) with libopencore-amrnb. MODE is one of
// MR475 MR515 MR59 MR67 MR74 MR795 MR102 MR122. Exit status 0 only when OUT was
// written whole.
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" {
#include <opencore-amrnb/interf_enc.h>
}

#include "formats/wav_reader.h"

namespace {

constexpr const char* kModes[] = {"MR475", "MR515", "MR59", "MR67", "MR74", "MR795", "MR102", "MR122"};
constexpr int kFrame = 160;  // samples per 20 ms frame at 8000 Hz

int Fail(const char* what) {
  std::fprintf(stderr, "quillet-amrenc: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: quillet-amrenc MODE IN.wav OUT.amr");
  int mode = -1;
  for (int i = 0; i < 8; ++i)
    if (std::strcmp(argv[1], kModes[i]) == 0) mode = i;
  if (mode < 0) return Fail("unknown mode");
  using namespace quillet;
  audio::SourceHandle src = formats::OpenWaveFile(argv[2]);
  if (!src->ready()) return Fail("cannot read the input WAVE file");
  if (src->sampleRate() != 8000 || src->channels() != 1) return Fail("the input must be 8000 Hz mono");

  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) return Fail("cannot create the output file");
  void* enc = Encoder_Interface_init(0);
  if (!enc) {
    std::fclose(out);
    return Fail("cannot start the encoder");
  }
  bool ok = std::fwrite("#!AMR\n", 1, 6, out) == 6;
  std::vector<audio::Sample> block(kFrame);
  short pcm[kFrame];
  unsigned char coded[64];
  const audio::FrameCount total = src->length();
  for (audio::FrameCount done = 0; ok && done < total; done += kFrame) {
    src->read(block.data(), kFrame);  // the last frame is padded with silence
    if (src->failed()) break;
    for (int i = 0; i < kFrame; ++i) {
      const long v = (static_cast<long>(block[static_cast<std::size_t>(i)]) + 8) >> 4;
      pcm[i] = static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
    const int n = Encoder_Interface_Encode(enc, static_cast<Mode>(mode), pcm, coded, 0);
    ok = n > 0 && std::fwrite(coded, 1, static_cast<std::size_t>(n), out) == static_cast<std::size_t>(n);
  }
  Encoder_Interface_exit(enc);
  if (std::fclose(out) != 0) ok = false;
  if (src->failed()) {
    std::remove(argv[3]);
    return Fail(src->failureMessage().c_str());
  }
  if (!ok) {
    std::remove(argv[3]);
    return Fail("writing the output failed");
  }
  return 0;
}
