#include "formats/dct.h"

#include "formats/wav_reader.h"

namespace quillet::formats {

namespace {

constexpr std::uint16_t kEncryptedFlag = 2;
constexpr std::size_t kMaxNotesBytes = 1 << 20;  // a megabyte of notes is already absurd

// A window of another source: the audio part of the container.
class RangeByteSource final : public platform::ByteSource {
 public:
  RangeByteSource(std::shared_ptr<platform::ByteSource> base, std::uint64_t offset,
                  std::uint64_t size)
      : base_(std::move(base)), offset_(offset), size_(size) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override {
    if (offset >= size_) return 0;
    const std::uint64_t room = size_ - offset;
    if (n > room) n = static_cast<std::size_t>(room);
    return base_->ReadAt(offset_ + offset, out, n);
  }
  std::uint64_t Size() const override { return size_; }
  std::string failure() const override { return base_->failure(); }

 private:
  std::shared_ptr<platform::ByteSource> base_;
  std::uint64_t offset_, size_;
};

void PutLE16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void PutLE32(std::string& s, std::uint32_t v) {
  PutLE16(s, v & 0xFFFF);
  PutLE16(s, v >> 16);
}

}  // namespace

audio::SoundStatus ParseDct(platform::ByteSource& bytes, DctLayout* layout, std::string* message) {
  auto corrupt = [&](std::string_view why) {
    if (message) *message = std::string(why);
    return audio::SoundStatus::Corrupt;
  };
  constexpr std::string_view kCorrupt = "Unable to load dct file because of file corruption.";
  const std::uint64_t size = bytes.Size();
  unsigned char h[10];
  if (!bytes.ReadExact(0, h, sizeof h)) return corrupt(kCorrupt);
  DctLayout l;
  l.version = platform::LoadLE16(h);
  const std::uint32_t total = platform::LoadLE32(h + 2);
  l.flags = platform::LoadLE16(h + 6);
  l.channels = platform::LoadLE16(h + 8);
  if (l.version >= 4 || total != size) return corrupt(kCorrupt);
  if (l.version >= 2 && l.flags == kEncryptedFlag)
    return corrupt(
        "This dictation file is encrypted. Encrypted files can only be opened with the "
        "dictation vendor's transcription software.");
  if (l.channels == 0)
    return corrupt(
        "Unable to load dct file because of file corruption (zero channels error). Please ask the "
        "dictator to send it again.");
  std::uint64_t pos = sizeof h;
  unsigned char n4[4];
  if (!bytes.ReadExact(pos, n4, 4)) return corrupt("Unable to load dct file because of file corruption (notes error).");
  const std::uint32_t notes = platform::LoadLE32(n4);
  pos += 4;
  if (notes > size - pos || notes > kMaxNotesBytes)
    return corrupt("Unable to load dct file because of file corruption (notes error).");
  l.notes.resize(notes);
  if (notes && !bytes.ReadExact(pos, l.notes.data(), notes))
    return corrupt("Unable to load dct file because of file corruption (notes error).");
  pos += notes;
  constexpr std::string_view kAttachment =
      "Unable to load dct file because of file corruption (attachment too large).";
  unsigned char n2[2];
  if (!bytes.ReadExact(pos, n2, 2)) return corrupt(kAttachment);
  const std::uint16_t count = platform::LoadLE16(n2);
  pos += 2;
  for (std::uint16_t i = 0; i < count; ++i) {
    DctAttachment a;
    if (!bytes.ReadExact(pos, n2, 2)) return corrupt(kAttachment);
    const std::uint16_t nameBytes = platform::LoadLE16(n2);
    pos += 2;
    if (nameBytes > size - pos) return corrupt(kAttachment);
    a.name.resize(nameBytes);
    if (nameBytes && !bytes.ReadExact(pos, a.name.data(), nameBytes)) return corrupt(kAttachment);
    pos += nameBytes;
    if (!bytes.ReadExact(pos, n4, 4)) return corrupt(kAttachment);
    a.bytes = platform::LoadLE32(n4);
    pos += 4;
    if (a.bytes > size - pos) return corrupt(kAttachment);
    a.offset = pos;
    pos += a.bytes;
    l.attachments.push_back(std::move(a));
  }
  l.audioOffset = pos;
  l.audioBytes = size - pos;
  if (layout) *layout = std::move(l);
  return audio::SoundStatus::Ready;
}

audio::SourceHandle OpenDctSource(std::shared_ptr<platform::ByteSource> bytes, std::string* message) {
  DctLayout layout;
  const audio::SoundStatus s = ParseDct(*bytes, &layout, message);
  if (s != audio::SoundStatus::Ready) return audio::MakeNullSource(s);
  return OpenWaveSource(std::make_shared<RangeByteSource>(std::move(bytes), layout.audioOffset,
                                                          layout.audioBytes));
}

audio::SourceHandle OpenDctFile(const std::filesystem::path& file, std::string* message) {
  std::shared_ptr<platform::ByteSource> bytes = platform::FileByteSource::Open(file);
  if (!bytes) return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
  return OpenDctSource(std::move(bytes), message);
}

std::string BuildDct(std::string_view wave, std::uint16_t version, std::uint16_t flags,
                     std::uint16_t channels, std::string_view notes,
                     const std::vector<std::pair<std::string, std::string>>& attachments) {
  std::string body;
  PutLE16(body, flags);
  PutLE16(body, channels);
  PutLE32(body, static_cast<std::uint32_t>(notes.size()));
  body += notes;
  PutLE16(body, static_cast<std::uint32_t>(attachments.size()));
  for (const auto& [name, data] : attachments) {
    PutLE16(body, static_cast<std::uint32_t>(name.size()));
    body += name;
    PutLE32(body, static_cast<std::uint32_t>(data.size()));
    body += data;
  }
  body += wave;
  std::string out;
  PutLE16(out, version);
  PutLE32(out, static_cast<std::uint32_t>(body.size() + 6));
  return out + body;
}

}  // namespace quillet::formats
