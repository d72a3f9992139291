#pragma once
// Shared by the tests of the AIFF, AU, raw, VOX and GSM files: test audio on the 16-bit
// grid, writing through a sink, and decoding with sox and ffmpeg.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "platform/byte_source.h"
#include "wav_test_util.h"

namespace quillet::formats::testutil {

// Tones on the 16-bit grid (multiples of 16), interleaved.
inline std::vector<audio::Sample> TestSignal(int frames, int channels, double amp = 0.7) {
  std::vector<audio::Sample> out;
  for (const std::int16_t v : Sine16(frames, channels, amp)) out.push_back(v * 16);
  return out;
}

// Writes samples into sink in uneven blocks, then finishes it.
inline bool WriteAllTo(audio::LSoundSink& sink, const std::vector<audio::Sample>& samples) {
  const auto ch = static_cast<std::size_t>(sink.channels());
  const audio::FrameCount frames = static_cast<audio::FrameCount>(samples.size() / ch);
  for (audio::FrameCount done = 0, step = 1; done < frames; done += step, step = step * 3 + 7) {
    step = std::min(step, frames - done);
    sink.write(samples.data() + static_cast<std::size_t>(done) * ch, step);
  }
  return sink.Finish();
}

inline std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

inline std::string CaptureOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

// A tool's signed little-endian output of 16 or 32 bits as internal samples (32-bit
// values rounded to the 20-bit scale).
inline std::vector<audio::Sample> ToolSamples(const std::string& raw, int bits) {
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  std::vector<audio::Sample> out(raw.size() / static_cast<std::size_t>(bits / 8));
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (bits == 16) {
      out[i] = static_cast<std::int16_t>(platform::LoadLE16(p + 2 * i)) * 16;
    } else {
      const auto s = static_cast<std::int32_t>(platform::LoadLE32(p + 4 * i));
      out[i] = static_cast<audio::Sample>((std::int64_t{s} + 2048) >> 12);
    }
  }
  return out;
}
// soxInput: sox's options for reading the file ("" when its header says everything).
inline std::vector<audio::Sample> SoxDecode(const std::filesystem::path& f,
                                            const std::string& soxInput = "", int bits = 16) {
  return ToolSamples(CaptureOutput("sox -D " + soxInput + " " + Quote(f) + " -t raw -e signed -b " +
                                   std::to_string(bits) + " -L - 2>/dev/null"),
                     bits);
}
inline std::vector<audio::Sample> FfmpegDecode(const std::filesystem::path& f,
                                               const std::string& ffInput = "", int bits = 16) {
  const std::string fmt = bits == 16 ? "s16le" : "s32le";
  return ToolSamples(CaptureOutput("ffmpeg -loglevel error " + ffInput + " -i " + Quote(f) +
                                   " -f " + fmt + " -c:a pcm_" + fmt + " - 2>/dev/null"),
                     bits);
}

inline audio::Sample MaxAbsDiff(const std::vector<audio::Sample>& a, const std::vector<audio::Sample>& b) {
  audio::Sample m = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

inline double SnrOf(const std::vector<audio::Sample>& ref, const std::vector<audio::Sample>& got) {
  return SnrDb(std::vector<double>(ref.begin(), ref.end()), std::vector<double>(got.begin(), got.end()));
}

inline std::string BE16(std::uint16_t v) {
  std::string s(2, '\0');
  platform::StoreBE16(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}
inline std::string BE32(std::uint32_t v) {
  std::string s(4, '\0');
  platform::StoreBE32(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}

}  // namespace quillet::formats::testutil
