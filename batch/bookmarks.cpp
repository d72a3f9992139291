#include "batch/bookmarks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "core/time_text.h"
#include "platform/frame_time.h"
#include "platform/paths.h"

namespace quillet::batch {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string FitTextField(std::string text) {
  const std::size_t limit = platform::kTextFieldBytes - 1;
  if (text.find('\0') != std::string::npos) text.erase(text.find('\0'));
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  // Back to the start of a character: continuation bytes are 10xxxxxx.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

std::string BookmarkTimeText(std::int64_t ms) { return core::FormatTimeHundredths(ms); }

std::string LastVisitedText(std::uint32_t secondsSince1970) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (!localtime_r(&t, &local)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

BookmarkRow BookmarkRowOf(const Bookmark& b) {
  return {b.name, BookmarkTimeText(b.positionMs), std::to_string(b.timesVisited),
          LastVisitedText(b.lastVisited)};
}

int FindBookmark(const std::vector<Bookmark>& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (SameName(list[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::vector<const Bookmark*> BookmarksOf(const std::vector<Bookmark>& list,
                                         const core::WaveDocument& doc) {
  std::vector<const Bookmark*> out;
  for (const Bookmark& b : list)
    if (b.document == &doc) out.push_back(&b);
  return out;
}

std::uint32_t MsOfFrame(std::int64_t frame, std::uint32_t rate) {
  const std::int64_t ms = platform::MsFromFrames(std::max<std::int64_t>(frame, 0), rate);
  return static_cast<std::uint32_t>(std::min<std::int64_t>(ms, UINT32_MAX));
}

bool SetBookmark(std::vector<Bookmark>& list, core::WaveDocument& doc,
                 platform::Prompter& prompter, std::uint32_t now) {
  const std::uint32_t ms = MsOfFrame(doc.cursor(), doc.sampleRate());
  std::string proposed = doc.Title() + "@" + BookmarkTimeText(ms);
  for (;;) {
    const std::optional<std::string> typed =
        prompter.AskText("Bookmark name:", "Enter Bookmark Name", proposed);
    if (!typed) return false;
    const std::string name = FitTextField(*typed);
    const int existing = FindBookmark(list, name);
    if (existing >= 0) {
      const platform::Answer a =
          prompter.Message("This bookmark name already exist. Do you want to replace it?",
                           "BookMark Exist", platform::MessageIcon::Question,
                           platform::MessageButtons::YesNoCancel);
      if (a == platform::Answer::No) {
        proposed = name;
        continue;
      }
      if (a != platform::Answer::Yes) return false;
      DeleteBookmarks(list, {static_cast<std::size_t>(existing)});
    }
    list.push_back({name, FitTextField(doc.Title()), ms, 1, now, &doc});
    doc.SetModified(true);
    return true;
  }
}

void CountVisit(Bookmark& b, std::uint32_t now) {
  if (b.timesVisited < 255) ++b.timesVisited;
  b.lastVisited = now;
}

namespace {
// A change of a bookmark is a change of the document it marks (its ".qbm" and the
// project follow the document's save).
void Touch(const Bookmark& b) {
  if (b.document) b.document->SetModified(true);
}
}  // namespace

void RenameBookmark(std::vector<Bookmark>& list, std::size_t i, std::string name) {
  if (i >= list.size()) return;
  list[i].name = FitTextField(std::move(name));
  Touch(list[i]);
}

void DeleteBookmarks(std::vector<Bookmark>& list, std::vector<std::size_t> indexes) {
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
    if (*it >= list.size()) continue;
    Touch(list[*it]);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(*it));
  }
}

void AttachBookmarks(std::vector<Bookmark>& list, core::WaveDocument& doc) {
  const std::string title = doc.Title();
  for (Bookmark& b : list)
    if (!b.document && SameName(b.documentKey, title)) b.document = &doc;
}

void RekeyBookmarks(std::vector<Bookmark>& list, const core::WaveDocument& doc) {
  const std::string key = FitTextField(doc.Title());
  for (Bookmark& b : list)
    if (b.document == &doc) b.documentKey = key;
}

void DetachBookmarks(std::vector<Bookmark>& list, const core::WaveDocument& doc) {
  for (Bookmark& b : list)
    if (b.document == &doc) b.document = nullptr;
}

void WriteBookmarkRecord(platform::RecordWriter& w, const Bookmark& b) {
  w.Text(b.name);
  w.Text(b.documentKey);
  w.U32(b.positionMs);
  w.U8(b.timesVisited);
  w.U32(b.lastVisited);
}

Bookmark ReadBookmarkRecord(platform::RecordReader& r) {
  Bookmark b;
  b.name = r.Text();
  b.documentKey = r.Text();
  b.positionMs = r.U32();
  b.timesVisited = r.U8();
  b.lastVisited = r.U32();
  return b;
}

std::filesystem::path BookmarkFileFor(const std::filesystem::path& audioFile) {
  return platform::ReplaceExtension(audioFile.string(), kBookmarkExtension);
}

std::string BookmarkFileBytes(const std::vector<const Bookmark*>& marks) {
  platform::RecordWriter w;
  w.U8(kBookmarkFileVersion);
  w.U8(static_cast<std::uint8_t>(std::min<std::size_t>(marks.size(), 255)));
  for (std::size_t i = 0; i < marks.size() && i < 255; ++i) WriteBookmarkRecord(w, *marks[i]);
  return w.ok() ? w.bytes() : std::string();
}

platform::Outcome ParseBookmarkFile(std::string_view bytes, std::vector<Bookmark>& out) {
  platform::RecordReader r(bytes);
  const std::uint8_t version = r.U8();
  const std::uint8_t count = r.U8();
  if (!r.ok() || version != kBookmarkFileVersion || r.remaining() < count * kBookmarkRecordBytes)
    return platform::Outcome::Failed(std::string(platform::kFileVersionMessage));
  std::vector<Bookmark> read;
  for (int i = 0; i < count; ++i) read.push_back(ReadBookmarkRecord(r));
  out = std::move(read);
  return platform::Outcome::Done();
}

platform::Outcome LoadBookmarksBeside(std::vector<Bookmark>& list, core::WaveDocument& doc) {
  if (doc.file().empty()) return platform::Outcome::Done();
  const std::filesystem::path file = BookmarkFileFor(doc.file());
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return platform::Outcome::Done();
  std::string bytes;
  // More than the largest file (255 records) is never needed.
  constexpr std::size_t kMaxBytes = 2 + 255 * kBookmarkRecordBytes;
  if (!settings::ReadWholeFile(file, bytes, kMaxBytes))
    return platform::Outcome::Failed(std::string(platform::kFileVersionMessage));
  std::vector<Bookmark> read;
  if (platform::Outcome o = ParseBookmarkFile(bytes, read); !o.done()) return o;
  const std::string key = FitTextField(doc.Title());
  for (Bookmark& b : read) {
    const bool known = std::any_of(list.begin(), list.end(), [&](const Bookmark& have) {
      return have.document == &doc && SameName(have.name, b.name);
    });
    if (known) continue;
    b.documentKey = key;
    b.document = &doc;
    list.push_back(std::move(b));
  }
  return platform::Outcome::Done();
}

platform::Outcome SaveBookmarksBeside(const std::vector<Bookmark>& list,
                                      const core::WaveDocument& doc) {
  if (doc.file().empty()) return platform::Outcome::Done();
  const std::filesystem::path file = BookmarkFileFor(doc.file());
  const std::vector<const Bookmark*> mine = BookmarksOf(list, doc);
  if (mine.empty()) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (ec) return platform::Outcome::Failed("Cannot delete " + file.string() + ": " + ec.message());
    return platform::Outcome::Done();
  }
  const std::string bytes = BookmarkFileBytes(mine);
  if (bytes.empty() || !platform::WriteFileAtomically(file, bytes))
    return platform::Outcome::Failed("Cannot write the bookmarks to " + file.string() + ": " +
                                     std::strerror(errno));
  return platform::Outcome::Done();
}

}  // namespace quillet::batch
