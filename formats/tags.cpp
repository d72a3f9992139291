#include "formats/tags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "formats/format_table.h"
#include "platform/unique_fd.h"
#include "settings/settings.h"

namespace quillet::formats {
namespace {

using platform::LoadLE32;

constexpr std::array<std::string_view, 148> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
    "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
    "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club",
    "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore",
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop"};

constexpr std::array<TagField, 7> kEditorFields = {{{kTagTitle, "Title"},
                                                   {kTagArtist, "Artist"},
                                                   {kTagAlbum, "Album"},
                                                   {kTagGenre, "Genre"},
                                                   {kTagTrack, "Track Number"},
                                                   {kTagDate, "Copyright"},
                                                   {kTagComment, "Comment"}}};

// The INFO sub-chunks we own, and their keys. "IPRD" is read as the title, which is
// written into "DISP".
struct InfoId {
  const char* id;
  std::string_view key;
};
constexpr std::array<InfoId, 7> kInfoIds = {{{"ICOP", kTagDate},
                                             {"IPRD", kTagTitle},
                                             {"ITRK", kTagTrack},
                                             {"INAM", kTagAlbum},
                                             {"IGNR", kTagGenre},
                                             {"ICMT", kTagComment},
                                             {"IART", kTagArtist}}};

// Longest text taken from one field of a file.
constexpr std::size_t kMaxTagText = 65536;
// Longest title written into a new DISP chunk, its terminating zero included.
constexpr std::size_t kMaxDispText = 520;
constexpr std::uint32_t kDispText = 1;
constexpr std::size_t kId3Bytes = 128;

bool Eq4(const void* a, const char* b) { return std::memcmp(a, b, 4) == 0; }

// ID3v1 holds Latin-1; everything else here is UTF-8.
std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// At most maxChars characters; those outside Latin-1 become '?'.
std::string Utf8ToLatin1(std::string_view s, std::size_t maxChars) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && out.size() < maxChars;) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + static_cast<std::size_t>(len) > s.size()) len = 1;
    std::uint32_t cp = c;
    if (len > 1) {
      cp = c & (0x7F >> len);
      for (int k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += static_cast<std::size_t>(len);
  }
  return out;
}

// A zero-padded text field: up to the first zero, trailing blanks dropped.
std::string FieldText(const unsigned char* p, std::size_t n) {
  std::size_t len = 0;
  while (len < n && p[len]) ++len;
  while (len > 0 && p[len - 1] == ' ') --len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

void SetIfAny(LAudioTagList& tags, std::string_view key, const std::string& value) {
  if (!value.empty()) tags.Set(key, value);
}

// The leading decimal number of text when it is a byte (0..255).
std::optional<int> ByteNumber(std::string_view text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  const int v = settings::ParseLeadingInt(text);
  if (v < 0 || v > 255) return std::nullopt;
  return v;
}

// Zero-terminated text of a chunk body, read with a bound.
std::string ChunkText(platform::ByteSource& bytes, std::uint64_t at, std::uint64_t size) {
  std::string s(static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxTagText)), '\0');
  s.resize(bytes.ReadAt(at, s.data(), s.size()));
  const std::size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

struct Chunk {
  char id[4];
  std::uint64_t header;  // offset of the 8-byte header; the body follows it
  std::uint32_t size;
  std::uint64_t body() const { return header + 8; }
};

// The chunks of a RIFF WAVE form, walked to the end of the file (not to the RIFF
// size, which writers often leave stale), and the sub-chunks of its INFO lists.
struct RiffMap {
  std::uint64_t form = 0;  // offset of "RIFF"
  std::uint32_t formSize = 0;
  std::vector<Chunk> chunks;
  std::vector<Chunk> info;  // INFO sub-chunks lying wholly inside the file
  std::uint64_t walkEnd = 0;  // where the next chunk would start
  bool complete = false;      // walked to the end, not stopped by a read error
};

bool MapRiff(platform::ByteSource& bytes, RiffMap* map) {
  const std::uint64_t fileSize = bytes.Size();
  std::uint64_t pos = 0;
  for (;;) {
    unsigned char h[12];
    if (!bytes.ReadExact(pos, h, 12)) return false;
    if (Eq4(h, "RIFF") && Eq4(h + 8, "WAVE")) {
      map->formSize = LoadLE32(h + 4);
      break;
    }
    const std::uint64_t size = std::uint64_t{LoadLE32(h + 4)} + (LoadLE32(h + 4) & 1);
    if (size < 5) return false;
    pos += 8 + size;
  }
  map->form = pos;
  pos += 12;
  while (pos + 8 <= fileSize) {
    unsigned char h[8];
    if (!bytes.ReadExact(pos, h, 8)) break;
    Chunk c;
    std::memcpy(c.id, h, 4);
    c.header = pos;
    c.size = LoadLE32(h + 4);
    map->chunks.push_back(c);
    pos = c.body() + c.size + (c.size & 1);
    if (Eq4(c.id, "LIST") && c.size >= 4) {
      unsigned char type[4];
      if (!bytes.ReadExact(c.body(), type, 4) || !Eq4(type, "INFO")) continue;
      const std::uint64_t end = std::min(c.body() + c.size, fileSize);
      for (std::uint64_t sub = c.body() + 4; sub + 8 <= end;) {
        unsigned char s[8];
        if (!bytes.ReadExact(sub, s, 8)) break;
        Chunk sc;
        std::memcpy(sc.id, s, 4);
        sc.header = sub;
        sc.size = LoadLE32(s + 4);
        if (sc.body() + sc.size > end) break;
        map->info.push_back(sc);
        sub = sc.body() + sc.size + (sc.size & 1);
      }
    }
  }
  map->walkEnd = pos;
  map->complete = pos + 8 > fileSize;
  return true;
}

std::optional<std::string_view> InfoKey(const char* id) {
  for (const InfoId& i : kInfoIds)
    if (Eq4(id, i.id)) return i.key;
  return std::nullopt;
}

std::uint32_t DispType(platform::ByteSource& bytes, const Chunk& c) {
  unsigned char t[4];
  if (c.size < 4 || !bytes.ReadExact(c.body(), t, 4)) return 0;
  return LoadLE32(t);
}

// A chunk: id, size, the text with its zero, and the pad byte when odd.
std::string TextChunk(const char* id, std::string_view prefix, std::string_view text) {
  const std::size_t size = prefix.size() + text.size() + 1;
  std::string s(id, 4);
  unsigned char n[4];
  platform::StoreLE32(n, static_cast<std::uint32_t>(size));
  s.append(reinterpret_cast<const char*>(n), 4);
  s.append(prefix);
  s.append(text);
  s += '\0';
  if (size & 1) s += '\0';
  return s;
}

class FileWritableBytes final : public WritableBytes {
 public:
  explicit FileWritableBytes(platform::UniqueFd fd) : fd_(std::move(fd)) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_.get(), static_cast<char*>(out) + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      done += static_cast<std::size_t>(r);
    }
    return done;
  }
  std::uint64_t Size() const override {
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  }
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t r =
          ::pwrite(fd_.get(), static_cast<const char*>(data) + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      done += static_cast<std::size_t>(r);
    }
    return true;
  }

 private:
  platform::UniqueFd fd_;
};

TagSupport KindOf(const std::filesystem::path& file) { return RowForFile(file).tags; }

}  // namespace

void LAudioTagList::Set(std::string_view key, std::string_view value) {
  for (auto& e : entries_)
    if (e.first == key) {
      e.second = value;
      return;
    }
  entries_.emplace_back(key, value);
}

std::string LAudioTagList::Get(std::string_view key) const {
  for (const auto& e : entries_)
    if (e.first == key) return e.second;
  return {};
}

bool LAudioTagList::Has(std::string_view key) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
}

void LAudioTagList::Remove(std::string_view key) {
  std::erase_if(entries_, [&](const auto& e) { return e.first == key; });
}

std::span<const std::string_view> Id3Genres() { return kGenres; }

std::optional<int> GenreIndex(std::string_view name) {
  for (std::size_t i = 0; i < kGenres.size(); ++i) {
    const std::string_view g = kGenres[i];
    if (g.size() == name.size() &&
        std::equal(g.begin(), g.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return static_cast<int>(i);
  }
  return std::nullopt;
}

std::span<const TagField> TagEditorFields() { return kEditorFields; }

bool CanCarryTags(const std::filesystem::path& file) { return KindOf(file) != TagSupport::None; }

std::size_t MemoryWritableBytes::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t k = std::min<std::size_t>(n, bytes_.size() - static_cast<std::size_t>(offset));
  std::memcpy(out, bytes_.data() + offset, k);
  return k;
}

bool MemoryWritableBytes::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
  const auto at = static_cast<std::size_t>(offset);
  if (at + n > bytes_.size()) bytes_.resize(at + n, '\0');
  std::memcpy(bytes_.data() + at, data, n);
  return true;
}

bool ReadId3v1(platform::ByteSource& bytes, LAudioTagList& tags) {
  const std::uint64_t size = bytes.Size();
  unsigned char t[kId3Bytes];
  if (size < kId3Bytes || !bytes.ReadExact(size - kId3Bytes, t, kId3Bytes) || std::memcmp(t, "TAG", 3) != 0)
    return false;
  SetIfAny(tags, kTagTitle, Latin1ToUtf8(FieldText(t + 3, 30)));
  SetIfAny(tags, kTagArtist, Latin1ToUtf8(FieldText(t + 33, 30)));
  SetIfAny(tags, kTagAlbum, Latin1ToUtf8(FieldText(t + 63, 30)));
  SetIfAny(tags, kTagDate, Latin1ToUtf8(FieldText(t + 93, 4)));
  const bool v11 = t[125] == 0 && t[126] != 0;
  SetIfAny(tags, kTagComment, Latin1ToUtf8(FieldText(t + 97, v11 ? 28 : 30)));
  if (v11) tags.Set(kTagTrack, std::to_string(t[126]));
  // 255 is what taggers write for "no genre".
  const int genre = t[127];
  if (genre < static_cast<int>(kGenres.size()))
    tags.Set(kTagGenre, kGenres[static_cast<std::size_t>(genre)]);
  else if (genre != 255)
    tags.Set(kTagGenre, std::to_string(genre));
  return true;
}

bool WriteId3v1(WritableBytes& bytes, const LAudioTagList& tags) {
  const std::uint64_t size = bytes.Size();
  unsigned char t[kId3Bytes] = {};
  std::uint64_t at = size;
  if (size >= kId3Bytes && bytes.ReadExact(size - kId3Bytes, t, kId3Bytes) && std::memcmp(t, "TAG", 3) == 0) {
    at = size - kId3Bytes;  // rewritten in place
  } else {
    std::memset(t, 0, sizeof t);
    t[127] = 255;  // no genre
  }
  std::memcpy(t, "TAG", 3);
  auto field = [&](std::string_view key, std::size_t offset, std::size_t width, std::size_t maxChars) {
    const std::string v = tags.Get(key);
    if (v.empty()) return;  // an empty value leaves the field as it was
    const std::string text = Utf8ToLatin1(v, maxChars);
    std::memset(t + offset, 0, width);
    std::memcpy(t + offset, text.data(), text.size());
  };
  field(kTagTitle, 3, 30, 29);
  field(kTagArtist, 33, 30, 29);
  field(kTagAlbum, 63, 30, 29);
  field(kTagDate, 93, 4, 4);
  if (!tags.Get(kTagComment).empty()) {
    // A 30-byte comment of ID3v1.0 loses its last two bytes; a track byte stays.
    if (t[125] != 0) t[125] = t[126] = 0;
    field(kTagComment, 97, 28, 28);
  }
  if (const auto track = ByteNumber(tags.Get(kTagTrack))) {
    t[125] = 0;
    t[126] = static_cast<unsigned char>(*track);
  }
  const std::string genre = tags.Get(kTagGenre);
  if (const auto number = ByteNumber(genre))
    t[127] = static_cast<unsigned char>(*number);
  else if (const auto index = GenreIndex(genre))
    t[127] = static_cast<unsigned char>(*index);
  return bytes.WriteAt(at, t, kId3Bytes);
}

bool ReadRiffTags(platform::ByteSource& bytes, LAudioTagList& tags) {
  RiffMap map;
  if (!MapRiff(bytes, &map)) return false;
  bool any = false;
  for (const Chunk& c : map.info) {
    if (const auto key = InfoKey(c.id)) {
      tags.Set(*key, ChunkText(bytes, c.body(), c.size));
      any = true;
    }
  }
  for (const Chunk& c : map.chunks) {
    // Only a DISP of type 1 holds text; other types carry pictures and the like.
    if (Eq4(c.id, "DISP") && DispType(bytes, c) == kDispText) {
      tags.Set(kTagTitle, ChunkText(bytes, c.body() + 4, c.size - 4));
      any = true;
    }
  }
  return any;
}

bool WriteRiffTags(WritableBytes& bytes, const LAudioTagList& tags) {
  RiffMap map;
  if (!MapRiff(bytes, &map)) return false;
  const std::uint64_t fileSize = bytes.Size();

  // What the file holds, overlaid by what we are given.
  LAudioTagList merged;
  ReadRiffTags(bytes, merged);
  for (const auto& [key, value] : tags.entries()) merged.Set(key, value);

  // Where appended chunks go. A last chunk that claims more than the file holds (an
  // unfinished recording's data) is cut to what is there first, or the tags would
  // become part of it.
  if (!map.complete) return false;
  // A fragment too short to be a chunk after the last one is not kept: chunks appended
  // behind it could not be found.
  std::uint64_t appendAt = map.walkEnd;
  std::optional<std::pair<std::uint64_t, std::uint32_t>> sizeFix;
  if (!map.chunks.empty()) {
    const Chunk& last = map.chunks.back();
    if (last.body() + last.size > fileSize) {
      const std::uint64_t real = fileSize - std::min(fileSize, last.body());
      if (real > 0xFFFFFFFEull) return false;
      sizeFix = {last.header + 4, static_cast<std::uint32_t>(real)};
      appendAt = last.body() + real;
    } else if (map.walkEnd > fileSize + 1) {
      return false;
    }
  }
  appendAt += (appendAt - map.form) & 1;

  bool ok = true;
  auto write = [&](std::uint64_t at, const void* p, std::size_t n) { ok = ok && bytes.WriteAt(at, p, n); };

  // Every INFO entry of ours is freed, then refilled where a value fits exactly.
  std::vector<const Chunk*> free;
  for (const Chunk& c : map.info)
    if (InfoKey(c.id)) {
      write(c.header, "    ", 4);
      free.push_back(&c);
    }
  std::string newInfo;
  for (const auto& [key, value] : merged.entries()) {
    if (value.empty() || key == kTagTitle) continue;
    const InfoId* id = nullptr;
    for (const InfoId& i : kInfoIds)
      if (i.key == key && !Eq4(i.id, "IPRD")) id = &i;
    if (!id) continue;
    const std::size_t need = value.size() + 1;
    auto slot = std::find_if(free.begin(), free.end(), [need](const Chunk* c) { return c->size == need; });
    if (slot != free.end()) {
      write((*slot)->header, id->id, 4);
      write((*slot)->body(), value.c_str(), value.size() + 1);
      free.erase(slot);
    } else {
      newInfo += TextChunk(id->id, {}, value);
    }
  }

  // The title goes into a text DISP of its exact size; other text DISPs would still
  // show an old title, so they become filler.
  const std::string title = merged.Get(kTagTitle).substr(0, kMaxDispText - 1);
  bool titlePlaced = title.empty();
  for (const Chunk& c : map.chunks) {
    if (!Eq4(c.id, "DISP") || DispType(bytes, c) != kDispText || c.body() + c.size > fileSize) continue;
    if (!titlePlaced && c.size - 4 == title.size() + 1) {
      write(c.body() + 4, title.c_str(), title.size() + 1);
      titlePlaced = true;
    } else {
      write(c.header, "JUNK", 4);
    }
  }

  std::string tail;
  if (!newInfo.empty()) {
    tail = "LIST";
    unsigned char n[4];
    platform::StoreLE32(n, static_cast<std::uint32_t>(4 + newInfo.size()));
    tail.append(reinterpret_cast<const char*>(n), 4);
    tail += "INFO" + newInfo;
  }
  if (!titlePlaced) {
    unsigned char type[4];
    platform::StoreLE32(type, kDispText);
    tail += TextChunk("DISP", std::string_view(reinterpret_cast<const char*>(type), 4), title);
  }
  if (!tail.empty()) {
    if (sizeFix) {
      unsigned char n[4];
      platform::StoreLE32(n, sizeFix->second);
      write(sizeFix->first, n, 4);
    }
    if (appendAt > fileSize) write(fileSize, "\0", 1);  // the missing pad byte
    write(appendAt, tail.data(), tail.size());
    // Keep the RIFF size describing the whole file when it did so before.
    const std::uint64_t formEnd = map.form + 8 + map.formSize;
    const std::uint64_t newEnd = appendAt + tail.size();
    if ((formEnd == fileSize || formEnd == fileSize + 1 || formEnd == appendAt) && newEnd - map.form - 8 <= 0xFFFFFFFFull) {
      unsigned char n[4];
      platform::StoreLE32(n, static_cast<std::uint32_t>(newEnd - map.form - 8));
      write(map.form + 4, n, 4);
    }
  }
  return ok;
}

bool ReadTags(LAudioTagList& tags, const std::filesystem::path& file) {
  const TagSupport kind = KindOf(file);
  if (kind == TagSupport::None) return false;
  auto bytes = platform::FileByteSource::Open(file);
  if (!bytes) return false;
  return kind == TagSupport::Id3v1 ? ReadId3v1(*bytes, tags) : ReadRiffTags(*bytes, tags);
}

std::unique_ptr<WritableBytes> OpenWritableFile(const std::filesystem::path& file, int* err) {
  platform::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) {
    if (err) *err = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (err) *err = EINVAL;
    return nullptr;
  }
  return std::make_unique<FileWritableBytes>(std::move(fd));
}

FinishingStep TagStep(TagSupport kind, const LAudioTagList& tags) {
  if (kind == TagSupport::None || tags.empty()) return {};
  return [kind, tags](WritableBytes& bytes, std::string* why) {
    const bool ok = kind == TagSupport::Id3v1 ? WriteId3v1(bytes, tags) : WriteRiffTags(bytes, tags);
    if (!ok && why) *why = "The tags could not be written.";
    return ok;
  };
}

}  // namespace quillet::formats
