// The options a document opened from a compressed file starts with: each is read
// from the file's own headers, never below the quality the file had, and what the
// file does not say keeps the stored value.
#include "formats/source_options.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

using quillet::testing::TempDir;

void Put32BE(std::string& s, std::uint32_t v) {
  for (int sh = 24; sh >= 0; sh -= 8) s += char(v >> sh & 0xFF);
}
void Put32LE(std::string& s, std::uint32_t v) {
  for (int sh = 0; sh <= 24; sh += 8) s += char(v >> sh & 0xFF);
}

// MPEG-1 layer III bit-rate indexes at 44.1 kHz, kbit/s.
int Mp3RateIndex(int kbps) {
  constexpr int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  for (int i = 1; i < 15; ++i)
    if (kRates[i] == kbps) return i;
  return -1;
}

// Frames of zeros at the given rates (mode: 0 stereo .. 3 mono); tag ("Xing", "Info")
// makes the first frame a VBR header frame.
std::string Mp3Frames(std::initializer_list<int> kbps, int mode, const char* tag = nullptr) {
  std::string out;
  bool first = true;
  for (int k : kbps) {
    const std::size_t start = out.size();
    out += char(0xFF);
    out += char(0xFB);
    out += char(Mp3RateIndex(k) << 4);
    out += char(mode << 6);
    out.resize(start + std::size_t(144 * k * 1000 / 44100), '\0');
    if (first && tag) out.replace(start + 4 + (mode == 3 ? 17 : 32), 4, tag);
    first = false;
  }
  return out;
}

std::string VorbisHead(int channels, std::uint32_t nominal) {
  std::string page = "OggS";
  page += '\0';
  page += char(2);
  page.append(8 + 4 + 4 + 4, '\0');  // granule, serial, sequence, CRC
  page += char(1);
  page += char(30);
  page += "\x01vorbis";
  Put32LE(page, 0);
  page += char(channels);
  Put32LE(page, 44100);
  Put32LE(page, 0);
  Put32LE(page, nominal);
  Put32LE(page, 0);
  page += char(0xB8);
  page += char(1);
  return page;
}

std::string Box(std::string_view type, const std::string& body) {
  std::string b;
  Put32BE(b, std::uint32_t(8 + body.size()));
  b.append(type);
  return b + body;
}

// An MP4 file whose movie box (after the media data, as many encoders write it)
// describes an AAC stream with the given peak and average bit rates.
std::string Mp4(std::uint32_t peak, std::uint32_t average) {
  std::string config = "\x40\x15";
  config.append(3, '\0');
  Put32BE(config, peak);
  Put32BE(config, average);
  std::string es = std::string("\x00\x01\x00", 3) + "\x04" + char(config.size()) + config;
  std::string esds = std::string(4, '\0') + "\x03" + char(es.size()) + es;
  return Box("ftyp", "M4A ") + Box("mdat", std::string(64, '\0')) +
         Box("moov", Box("trak", Box("mp4a", std::string(28, '\0') + Box("esds", esds))));
}

std::int64_t Field(const DocumentOptions& o, std::size_t i) { return o.values->Int(i); }

TEST(SourceOptions, ReadFromEachCompressedFormat) {
  struct Case {
    const char* name;
    const char* extension;
    std::string bytes;
    int channels;
    std::vector<std::pair<std::size_t, std::int64_t>> want;
    bool noted = false;
  };
  const Case cases[] = {
      {"CBR joint stereo", ".mp3", Mp3Frames({192, 192, 192}, 1), 2,
       {{kMp3Cbr, 1}, {kMp3CbrRate, 192}, {kMp3ChannelMode, 1}}},
      {"mono, after an Info frame", ".mp3", Mp3Frames({64, 64, 64, 64}, 3, "Info"), 1,
       {{kMp3Cbr, 1}, {kMp3CbrRate, 64}, {kMp3ChannelMode, 3}}},
      {"above the offered rates", ".mp3", Mp3Frames({320, 320, 320}, 0), 2,
       {{kMp3Cbr, 1}, {kMp3CbrRate, 224}, {kMp3ChannelMode, 0}}, true},
      {"Xing header", ".mp3", Mp3Frames({128, 128, 128}, 1, "Xing"), 2, {{kMp3Cbr, 0}, {kMp3VbrMax, 224}}},
      {"rates that change without a header", ".mp3", Mp3Frames({128, 160, 96, 128}, 1), 2,
       {{kMp3Cbr, 0}, {kMp3VbrMax, 224}}},
      {"Vorbis stereo at 192 kbit/s", ".ogg", VorbisHead(2, 192000), 2, {{kOggByQuality, 1}, {kOggQuality, 6}, {kOggChannels, 2}}},
      {"Vorbis mono at 64 kbit/s", ".ogg", VorbisHead(1, 64000), 1, {{kOggQuality, 4}, {kOggChannels, 1}}},
      {"Vorbis above quality 10", ".ogg", VorbisHead(2, 900000), 2, {{kOggQuality, 10}}},
      {"MP4 average rate", ".m4a", Mp4(256000, 160000), 2, {{kAacAbr, 1}, {kAacAbrRate, 160}}},
      {"MP4 with only a peak rate", ".m4a", Mp4(96500, 0), 2, {{kAacAbr, 1}, {kAacAbrRate, 97}}},
      {"AMR 12.2", ".amr", std::string("#!AMR\n") + char(7 << 3 | 4), 1, {{kAmrMode, 7}}},
      {"AMR 5.15", ".amr", std::string("#!AMR\n") + char(1 << 3 | 4), 1, {{kAmrMode, 1}}},
  };
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::MemoryByteSource bytes(c.bytes);
    const std::optional<DocumentOptions> o = OptionsFromSource(RowFor(c.extension), bytes, 44100, c.channels, s);
    ASSERT_TRUE(o && o->values);
    EXPECT_TRUE(o->AsksBeforeSave(RowFor(c.extension)));
    EXPECT_FALSE(o->Covers(RowFor(".wav")));
    for (auto [field, value] : c.want) EXPECT_EQ(Field(*o, field), value) << o->values->field(field).key;
    EXPECT_EQ(o->note.empty(), !c.noted) << o->note;
    EXPECT_EQ(o->values->Validate(), "");
  }
}

TEST(SourceOptions, WhatTheFileDoesNotSayKeepsTheStoredValue) {
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  core::ParamSet stored = LoadOptions(kMp3Options, s);
  stored.SetInt(kMp3CbrRate, 96);
  stored.SetInt(kMp3Crc, 1);
  stored.Store(s);
  // Garbage, a truncated frame and a free-format stream say nothing about the rate.
  for (const std::string& bytes : {std::string("not audio at all"), Mp3Frames({192}, 1).substr(0, 3),
                                   std::string("\xFF\xFB\x00\x40", 4) + std::string(600, '\0')}) {
    platform::MemoryByteSource source(bytes);
    const std::optional<DocumentOptions> o = OptionsFromSource(RowFor(".mp3"), source, 44100, 2, s);
    ASSERT_TRUE(o && o->values);
    EXPECT_EQ(Field(*o, kMp3CbrRate), 96);
  }
  platform::MemoryByteSource cbr(Mp3Frames({192, 192}, 1));
  const std::optional<DocumentOptions> o = OptionsFromSource(RowFor(".mp3"), cbr, 44100, 2, s);
  EXPECT_EQ(Field(*o, kMp3CbrRate), 192);
  EXPECT_EQ(Field(*o, kMp3Crc), 1);
  // Lossless and PCM formats keep the document's format by themselves.
  for (const char* ext : {".wav", ".flac", ".aif"}) {
    platform::MemoryByteSource any(std::string(64, '\0'));
    EXPECT_FALSE(OptionsFromSource(RowFor(ext), any, 44100, 2, s)) << ext;
  }
}

}  // namespace
}  // namespace quillet::formats
