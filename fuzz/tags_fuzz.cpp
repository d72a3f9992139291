// The tag readers and writers on arbitrary bytes: reading never fails hard, and writing
// tags never changes a byte before the end of the file except inside the tag chunks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/tags.h"
#include "formats/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const std::string in(reinterpret_cast<const char*>(data), size);
  formats::LAudioTagList tags;
  platform::ViewByteSource view(in);
  formats::ReadId3v1(view, tags);
  formats::ReadRiffTags(view, tags);

  formats::LAudioTagList edit;
  edit.Set(formats::kTagTitle, "fuzzed title");
  edit.Set(formats::kTagArtist, "an artist");
  edit.Set(formats::kTagGenre, "Jazz");
  edit.Set(formats::kTagTrack, "12");
  formats::MemoryWritableBytes mp3(in);
  formats::WriteId3v1(mp3, edit);
  formats::LAudioTagList back;
  if (!formats::ReadId3v1(mp3, back) || back.Get(formats::kTagArtist) != "an artist") std::abort();

  // The audio a WAVE reader finds must be the same before and after.
  auto audioOf = [](const std::string& bytes) {
    auto src = formats::OpenWaveSource(std::make_shared<platform::MemoryByteSource>(bytes));
    std::vector<audio::Sample> out;
    if (!src->ready() || src->length() > 100000) return out;
    out.resize(static_cast<std::size_t>(src->length()) * static_cast<std::size_t>(src->channels()));
    src->read(out.data(), src->length());
    return out;
  };
  formats::MemoryWritableBytes wav(in);
  if (formats::WriteRiffTags(wav, edit)) {
    const auto before = audioOf(in);
    const auto after = audioOf(wav.bytes());
    // A data chunk that ran past the end may have been closed at the end of the file.
    if (!before.empty() && (after.size() < before.size() || !std::equal(before.begin(), before.end(), after.begin())))
      std::abort();
    back.clear();
    if (!formats::ReadRiffTags(wav, back) || back.Get(formats::kTagTitle) != "fuzzed title") std::abort();
  }
  return 0;
}
