#pragma once
// Bookmarks: the rules of the program-wide list (names compared without regard to
// case, each bookmark belonging to one open document), the texts of the list window,
// the 529-byte record and the bookmark file (".qbm") kept beside each audio file.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.h"
#include "core/marks.h"
#include "platform/prompter.h"
#include "platform/record_file.h"
#include "platform/result.h"

namespace quillet::batch {

using core::Bookmark;

inline constexpr std::size_t kBookmarkRecordBytes = 529;
inline constexpr std::uint8_t kBookmarkFileVersion = 0;
inline constexpr std::string_view kBookmarkExtension = ".qbm";

// ASCII letters compared without regard to case, as names and keys are.
bool SameName(std::string_view a, std::string_view b);
// text cut to what a 260-byte text field holds, without splitting a UTF-8 character.
std::string FitTextField(std::string text);

// The list window's columns.
struct BookmarkRow {
  std::string name, time, visits, lastVisited;
};
BookmarkRow BookmarkRowOf(const Bookmark& b);
// "h:mm:ss.hh" (5 ms added for rounding).
std::string BookmarkTimeText(std::int64_t ms);
// "yyyy-mm-dd hh:mm:ss" in local time.
std::string LastVisitedText(std::uint32_t secondsSince1970);

// Index of the bookmark called name, -1 when none.
int FindBookmark(const std::vector<Bookmark>& list, std::string_view name);
// The bookmarks of doc, in list order.
std::vector<const Bookmark*> BookmarksOf(const std::vector<Bookmark>& list,
                                         const core::WaveDocument& doc);
// Milliseconds of a frame position, clamped to the 32-bit field.
std::uint32_t MsOfFrame(std::int64_t frame, std::uint32_t rate);

// Set Bookmark on doc's cursor: asks for the name ("%s@%s": the display name and the
// cursor time), asks before replacing one of the same name (No asks again), appends
// the bookmark and marks doc modified. False when the person cancelled.
bool SetBookmark(std::vector<Bookmark>& list, core::WaveDocument& doc,
                 platform::Prompter& prompter, std::uint32_t now);
// Go To: the visit is counted (at most 255) and dated now.
void CountVisit(Bookmark& b, std::uint32_t now);
// Renames bookmark i (cut to the field) and marks its document modified.
void RenameBookmark(std::vector<Bookmark>& list, std::size_t i, std::string name);
// Removes the bookmarks at indexes (any order); their documents count as modified.
void DeleteBookmarks(std::vector<Bookmark>& list, std::vector<std::size_t> indexes);

// Bookmarks left without a document whose key is doc's display name become doc's.
void AttachBookmarks(std::vector<Bookmark>& list, core::WaveDocument& doc);
// doc was saved under a new name: its bookmarks take the new display name.
void RekeyBookmarks(std::vector<Bookmark>& list, const core::WaveDocument& doc);
// doc is closing: its bookmarks stay in the list, keyed by its name, without it.
void DetachBookmarks(std::vector<Bookmark>& list, const core::WaveDocument& doc);

// One record. A name or key that does not fit its field fails the writer.
void WriteBookmarkRecord(platform::RecordWriter& w, const Bookmark& b);
Bookmark ReadBookmarkRecord(platform::RecordReader& r);

// The audio file's path with its extension replaced by ".qbm".
std::filesystem::path BookmarkFileFor(const std::filesystem::path& audioFile);
// Version 0, the count and the records.
std::string BookmarkFileBytes(const std::vector<const Bookmark*>& marks);
// The records of a bookmark file, or nothing: a wrong version, a count the bytes do
// not hold or a record cut short fail the whole file (the "File Error" message).
platform::Outcome ParseBookmarkFile(std::string_view bytes, std::vector<Bookmark>& out);

// Open File's step: the bookmarks of doc's ".qbm" join the list as doc's, keyed with
// its display name (so a file renamed with its ".qbm" keeps them); a name doc already
// has is not added twice. A missing file is no failure.
platform::Outcome LoadBookmarksBeside(std::vector<Bookmark>& list, core::WaveDocument& doc);
// After doc was saved to its file: its ".qbm" holds its bookmarks, replaced without
// ever losing the previous file; without bookmarks the file is deleted.
platform::Outcome SaveBookmarksBeside(const std::vector<Bookmark>& list,
                                      const core::WaveDocument& doc);

}  // namespace quillet::batch
