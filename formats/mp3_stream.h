#pragma once
// Container-level pieces of an MP3 file around the decoder: ID3 tags, the sync search
// and the VBR header frame ("Xing", "Info" or "VBRI").

#include <cstddef>
#include <cstdint>

#include "formats/mp3_decoder.h"

namespace quillet::formats {

// Bytes taken by an ID3v2 tag at data[0..] (header, body and footer), 0 when there is none.
// The result may exceed `size`: the tag's own size field says how far the audio starts.
uint64_t Id3v2TagSize(const uint8_t* data, size_t size);

// True when the 128 bytes form an ID3v1 tag.
bool IsId3v1Tag(const uint8_t* last128);

struct Mp3VbrHeader {
  bool present = false;     // the frame carries a VBR header and no audio
  bool hasFrames = false;   // the header gives the count of audio frames
  uint32_t frames = 0;      // audio frames after this one
  // The encoder's LAME tag (LAME, or ffmpeg's Lavf/Lavc): samples it put before the
  // audio (its delay) and after it (padding), per channel.
  bool gapless = false;
  int delay = 0;
  int padding = 0;
};

// The samples a layer III decoder's filterbanks delay its output by: the first
// original sample of a gapless file comes out at decoded sample delay + this.
inline constexpr int kMp3DecoderDelay = 529;

// Recognises a VBR header in the whole frame frame[0..size) whose header is h. The
// header sits after the side information; an encoder that protects the frame with a
// CRC may still place it as if there were none (LAME does), so both places count.
Mp3VbrHeader ParseMp3VbrHeader(const uint8_t* frame, size_t size, const Mp3Header& h);

// Finds the first layer III header at data[from..] that is confirmed by the header of the
// following frame (or whose frame ends exactly at `size` when `atEnd`), looking at no more
// than maxSkip start positions. A free-format header takes freeBytes as its length, or when
// that is 0 the length found from the sync words after it. Returns the offset, or -1.
int64_t FindMp3Frame(const uint8_t* data, size_t size, size_t from, size_t maxSkip, bool atEnd, int freeBytes,
                     Mp3Header& out);

}  // namespace quillet::formats
