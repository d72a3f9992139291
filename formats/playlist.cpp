#include "formats/playlist.h"

#include <system_error>

#include "formats/external.h"
#include "formats/format_table.h"
#include "settings/atomic_file.h"

namespace quillet::formats {
namespace {

std::string Stem(const std::filesystem::path& p) { return p.stem().string(); }

// Writes the MP3 through inner and, once it is finished, the list beside it.
class PlaylistSink final : public audio::LSoundSink {
 public:
  PlaylistSink(audio::SinkHandle inner, PlaylistEntry entry)
      : LSoundSink(inner->sampleRate(), inner->channels()), inner_(std::move(inner)),
        entry_(std::move(entry)) {
    if (inner_->failed()) Fail(inner_->failureMessage());
  }
  ~PlaylistSink() override {
    if (!done_) Abandon();
  }

  void write(const audio::Sample* buffer, audio::FrameCount frames) override {
    if (failed() || done_) return;
    inner_->write(buffer, frames);
    if (inner_->failed()) return Fail(inner_->failureMessage());
    setFramesWritten(framesWritten() + frames);
  }

  bool Finish() override {
    if (done_) return !failed();
    done_ = true;
    if (failed()) {
      inner_->Abandon();
      return false;
    }
    if (!inner_->Finish()) {
      Fail(inner_->failureMessage());
      return false;
    }
    entry_.frames = framesWritten();
    std::error_code ec;
    const auto size = std::filesystem::file_size(PlaylistMp3Path(entry_.target), ec);
    entry_.mp3Bytes = ec ? 0 : std::int64_t(size);
    if (!settings::WriteFileAtomically(entry_.target, PlaylistText(entry_))) {
      Fail("Unable to create file \"" + entry_.target.string() + "\"for saving.");
      return false;
    }
    return true;
  }

  void Abandon() override {
    done_ = true;
    inner_->Abandon();
  }

 private:
  audio::SinkHandle inner_;
  PlaylistEntry entry_;
  bool done_ = false;
};

std::string Fill(std::string_view pattern, std::initializer_list<std::string> values) {
  std::string out;
  auto next = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && next != values.end()) {
      out += *next++;
      ++i;  // %s or %d: the value is already text
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

std::filesystem::path PlaylistMp3Path(const std::filesystem::path& target) {
  std::filesystem::path p = target;
  return p.replace_extension(".mp3");
}

std::string PlaylistLocation(const std::string& rootUrl, const std::filesystem::path& mp3) {
  std::string out = rootUrl;
  if (!out.empty() && out.back() != '/') out += '/';
  return out + mp3.filename().string();
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PlaylistText(const PlaylistEntry& e) {
  const std::filesystem::path mp3 = PlaylistMp3Path(e.target);
  const std::string title = Stem(mp3);
  const std::string location = PlaylistLocation(e.rootUrl, mp3);
  const std::int64_t seconds = e.rate > 0 ? (e.frames + e.rate / 2) / e.rate : 0;
  switch (e.kind) {
    case PlaylistKind::M3u:
      return Fill("#EXTM3U\r\n#EXTINF:%d,%s\r\n%s\r\n", {std::to_string(seconds), title, location});
    case PlaylistKind::Pls:
      return Fill("[playlist]\r\nFile1=%s\r\nTitle1=%s\r\nLength1=%d\r\nNumberOfEntries=1\r\nVersion=2\r\n",
                  {location, title, std::to_string(seconds)});
    case PlaylistKind::Wpl:
      return Fill("<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <title>%s</title>\r\n"
                  "    </head>\r\n    <body>\r\n        <seq>\r\n            <media src=\"%s\"/>\r\n"
                  "        </seq>\r\n    </body>\r\n</smil>\r\n",
                  {XmlEscape(title), XmlEscape(location)});
    case PlaylistKind::Rss: {
      const std::string name = XmlEscape(Stem(e.target));
      const std::string part1 = location.substr(0, location.size() - mp3.filename().string().size());
      return Fill("<?xml version=\"1.0\" ?>\r\n<rss version=\"2.0\">\r\n  <channel>\r\n"
                  "      <title>%s</title>\r\n      <description>%s</description>\r\n"
                  "      <link>%s</link>\r\n      <item>\r\n         <title>%s</title>\r\n"
                  "         <description>%s</description>\r\n"
                  "         <enclosure url=\"%s%s\" length=\"%d\" type=\"audio/mpeg\" />\r\n"
                  "      </item>\r\n  </channel>\r\n</rss>\r\n",
                  {name, name, XmlEscape(e.rootUrl), name, name, XmlEscape(part1),
                   XmlEscape(mp3.filename().string()), std::to_string(e.mp3Bytes)});
    }
  }
  return {};
}

audio::SinkHandle MakePlaylistSink(const SinkRequest& r, PlaylistKind kind) {
  PlaylistEntry entry{kind, r.file, r.options ? r.options->Text(kPlaylistRootUrl) : std::string(),
                      0, r.rate, 0};
  const std::filesystem::path mp3 = PlaylistMp3Path(r.file);
  audio::SinkHandle inner = MakeEncoderSink(
      mp3,
      [&](const std::string& out) { return Mp3EncodePlan(*r.options, r.program, r.rate, r.channels, out); },
      r.finishing);
  return audio::SinkHandle(audio::MakeRef<PlaylistSink>(std::move(inner), std::move(entry)));
}

}  // namespace quillet::formats
