#pragma once
// Playlists and podcast feeds: saving as ".m3u", ".pls", ".wpl" or ".rss" encodes the
// audio as an MP3 file beside the target and then writes a small text file pointing
// at it through the root URL ("RSSEncode"/"RootURL"). Lines end in CR LF.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "audio/sound.h"

namespace quillet::formats {

struct SinkRequest;

enum class PlaylistKind : std::uint8_t { M3u, Pls, Wpl, Rss };

struct PlaylistEntry {
  PlaylistKind kind = PlaylistKind::M3u;
  std::filesystem::path target;  // the playlist file
  std::string rootUrl;
  std::int64_t frames = 0;
  std::uint32_t rate = 0;
  std::int64_t mp3Bytes = 0;  // the finished MP3's size (the feed's enclosure length)
};

// The target with ".mp3" in place of its extension.
std::filesystem::path PlaylistMp3Path(const std::filesystem::path& target);
// The root URL, a '/' unless it is empty or ends in one, then the MP3's file name.
std::string PlaylistLocation(const std::string& rootUrl, const std::filesystem::path& mp3);
// The file's text. ".wpl" and ".rss" are XML: their texts are escaped.
std::string PlaylistText(const PlaylistEntry& e);
// & < > " and ' as XML entities.
std::string XmlEscape(std::string_view text);

// The sink of a playlist row: the MP3 sink, then the list written on Finish; a list
// that cannot be written fails the save (the MP3 stays).
audio::SinkHandle MakePlaylistSink(const SinkRequest& request, PlaylistKind kind);

}  // namespace quillet::formats
