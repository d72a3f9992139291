// The project file: its exact size and layout, a round trip bit for bit, and a
// corrupt or cut file that yields nothing.
#include <gtest/gtest.h>

#include <limits>

#include "batch/bookmarks.h"
#include "batch/project_file.h"
#include "batch_fixture.h"
#include "platform/byte_source.h"
#include "platform/record_file.h"

namespace quillet::batch {
namespace {

using testsupport::AudioOf;
using testsupport::ChainOf;
using testsupport::SameAudio;

class ProjectFile : public ::testing::Test {
 protected:
  std::string Write(const ProjectContents& c, const char* name = "p.qlp") {
    auto w = platform::SafeFileWriter::Create(dir / name);
    EXPECT_TRUE(WriteProject(c, *w).done());
    EXPECT_TRUE(w->Commit());
    return testing::ReadFileBytes(dir / name);
  }
  platform::Outcome Read(std::string bytes, ProjectContents& out, core::SegmentStore* s) {
    platform::MemoryByteSource src(std::move(bytes));
    return ReadProject(src, s, out);
  }
  // Sample files in use by the store.
  int FilesInUse() {
    int n = 0;
    for (core::FileId id = 0; id < 64; ++id) n += store.RefCount(id) > 0;
    return n;
  }

  testing::TempDir dir, storeDir;
  core::SegmentStore store{storeDir.path()};
};

TEST_F(ProjectFile, AnEmptyProjectIsFiveBytesAndLoads) {
  const std::string bytes = Write({});
  EXPECT_EQ(bytes, std::string("\x01\0\0\0\0", 5));
  ProjectContents back;
  ASSERT_TRUE(Read(bytes, back, &store).done());
  EXPECT_TRUE(back.documents.empty() && back.bookmarks.empty() && back.regions.empty());
}

TEST_F(ProjectFile, OneStereoDocumentIs554Plus8FBytesAndReloadsBitForBit) {
  // Block edges and a gain below unity: what is stored is what the chain plays.
  for (core::FrameCount frames : {0, 1, 8191, 8192, 8193, 20000}) {
    SCOPED_TRACE(frames);
    ProjectContents c;
    core::AudioChain audio = ChainOf(store, testing::Noise(2, frames, 7), 48000);
    core::ChainScaleGain(audio, 70);
    c.documents.push_back({{"/music/take.wav", "/music/old.wav", 5, 3, 9, 1, 12}, audio});
    const std::string bytes = Write(c);
    // 2 counts, the 540-byte record, the 9-byte audio head, then 3 more counts.
    ASSERT_EQ(bytes.size(), 554u + 8u * static_cast<std::uint64_t>(frames));
    EXPECT_EQ(ProjectFileSize(c), bytes.size());
    EXPECT_EQ(bytes.substr(0, 2), "\x01\x01");
    EXPECT_EQ(bytes.substr(2, 15), "/music/take.wav");
    ProjectContents back;
    ASSERT_TRUE(Read(bytes, back, &store).done());
    ASSERT_EQ(back.documents.size(), 1u);
    const ProjectDocument& d = back.documents[0];
    EXPECT_EQ(d.audio.sampleRate, 48000u);
    EXPECT_EQ(d.audio.channels, 2);
    EXPECT_TRUE(SameAudio(AudioOf(d.audio), AudioOf(audio)));
    EXPECT_EQ(d.record.previousPath, "/music/old.wav");
    // Positions are kept inside the audio.
    const auto len = static_cast<std::uint32_t>(frames);
    EXPECT_EQ(d.record.cursor, std::min(5u, len));
    EXPECT_EQ(d.record.selEnd, std::min<std::int32_t>(9, frames));
  }
}

TEST_F(ProjectFile, BookmarksAndRegionsRoundTripAndFindTheirDocuments) {
  ProjectContents c;
  c.documents.push_back({{"/a/take.wav"}, ChainOf(store, testing::Noise(1, 500, 1), 8000)});
  c.documents.push_back({{""}, ChainOf(store, testing::Noise(1, 300, 2), 8000)});
  c.documents.push_back({{"/b/take.wav"}, ChainOf(store, testing::Noise(1, 400, 3), 8000)});
  c.active = 2;
  // Same display name twice: each group stays with its own document.
  c.bookmarks = {{"a1", "take.wav", 10, 2, 3}, {"u1", "Untitled 4", 20, 1, 3},
                 {"b1", "take.wav", 30, 1, 3}, {"b2", "take.wav", 40, 9, 3}};
  core::Region r;
  r.name = "chorus";
  r.path = "/a/take.wav";
  r.startMs = 5;
  r.endMs = 25;
  r.audio = ChainOf(store, testing::Noise(2, 160, 4), 8000);
  c.regions.push_back(r);
  const std::string bytes = Write(c);
  ProjectContents back;
  ASSERT_TRUE(Read(bytes, back, &store).done());
  EXPECT_EQ(back.active, 2);
  ASSERT_EQ(back.bookmarks.size(), 4u);
  EXPECT_EQ(back.bookmarkDocuments, (std::vector<int>{0, 1, 2, 2}));
  EXPECT_EQ(back.bookmarks[3].name, "b2");
  EXPECT_EQ(back.bookmarks[3].timesVisited, 9);
  ASSERT_EQ(back.regions.size(), 1u);
  EXPECT_EQ(back.regions[0].name, "chorus");
  EXPECT_EQ(back.regions[0].endMs, 25u);
  EXPECT_TRUE(SameAudio(AudioOf(back.regions[0].audio), AudioOf(r.audio)));

  // Without a store the audio is checked and skipped: lengths only.
  ProjectContents listing;
  ASSERT_TRUE(Read(bytes, listing, nullptr).done());
  EXPECT_EQ(core::ChainLength(listing.documents[2].audio), 400);
  EXPECT_EQ(core::ChainLength(listing.regions[0].audio), 160);
}

TEST_F(ProjectFile, ACutOrCorruptProjectGivesNothingAndKeepsNoAudio) {
  ProjectContents c;
  c.documents.push_back({{"/a.wav"}, ChainOf(store, testing::Noise(2, 100, 1), 8000)});
  c.bookmarks = {{"m", "a.wav", 1, 1, 1}};
  core::Region r;
  r.name = "r";
  r.audio = ChainOf(store, testing::Noise(1, 50, 2), 8000);
  c.regions.push_back(r);
  const std::string good = Write(c);
  const int before = FilesInUse();
  // Every place the file can end early.
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{300}, std::size_t{542},
                          std::size_t{551}, std::size_t{700}, good.size() - 1 - 529 - 1 - 528 - 209,
                          good.size() - 1 - 528 - 209, good.size() - 209, good.size() - 1}) {
    SCOPED_TRACE(cut);
    ProjectContents out;
    const platform::Outcome o = Read(good.substr(0, cut), out, &store);
    EXPECT_EQ(o.result, platform::kTaskFailed);
    EXPECT_FALSE(o.message.empty());
    EXPECT_TRUE(out.documents.empty() && out.regions.empty());
    EXPECT_EQ(FilesInUse(), before);  // the loaded part went again
  }
  auto patched = [&](std::size_t at, std::string bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  const std::size_t head = 2 + 540;  // the first AudioBlock
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"version 2", patched(0, "\x02"), "This file does not have the same version"},
      {"rate 0", patched(head, std::string(4, '\0')), "sample rate 0"},
      {"no channels", patched(head + 4, std::string(1, '\0')), "no channels"},
      {"a frame count beyond the file", patched(head + 5, "\xff\xff\xff\x7f"), "more than the file holds"},
      {"255 documents", patched(1, "\xff"), ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ProjectContents out;
    const platform::Outcome o = Read(k.bytes, out, &store);
    EXPECT_EQ(o.result, platform::kTaskFailed);
    EXPECT_NE(o.message.find(k.message), std::string::npos) << o.message;
    EXPECT_EQ(FilesInUse(), before);
  }
}

TEST_F(ProjectFile, PositionsAndTheActiveIndexAreClampedToWhatWasLoaded) {
  ProjectContents c;
  c.documents.push_back({{"/a.wav", "", 1000, 700, -5, -9, 5000}, ChainOf(store, testing::Noise(1, 600, 1), 8000)});
  std::string bytes = Write(c);
  bytes[bytes.size() - 3] = '\x07';  // active index 7 of one document
  ProjectContents back;
  ASSERT_TRUE(Read(bytes, back, &store).done());
  const DocumentRecord& d = back.documents[0].record;
  EXPECT_EQ(back.active, 0);
  EXPECT_EQ(d.cursor, 600u);
  EXPECT_EQ(d.selStart, 600u);
  EXPECT_EQ(d.selEnd, 600);
  EXPECT_EQ(d.viewStart, 0);
  EXPECT_EQ(d.viewEnd, 600u);
}

TEST_F(ProjectFile, WhatAProjectCannotHoldIsRefusedBeforeWriting) {
  ProjectContents c;
  c.bookmarks.resize(256);
  EXPECT_NE(CheckProjectContents(c).find("255 bookmarks"), std::string::npos);
  c.bookmarks.resize(255);
  EXPECT_EQ(CheckProjectContents(c), "");
  c.regions.resize(256);
  EXPECT_NE(CheckProjectContents(c).find("255 regions"), std::string::npos);
  c.regions.clear();
  c.documents.push_back({{"/" + std::string(259, 'p')}, core::AudioChain(&store)});
  EXPECT_NE(CheckProjectContents(c).find("259 characters"), std::string::npos);
  auto w = platform::SafeFileWriter::Create(dir / "x.qlp");
  EXPECT_EQ(WriteProject(c, *w).result, platform::kTaskFailed);
  EXPECT_EQ(w->size(), 0u);
}

TEST_F(ProjectFile, ACancelledSaveLeavesThePreviousProject) {
  testing::WriteFileBytes(dir / "keep.qlp", "previous");
  ProjectContents c;
  c.documents.push_back({{"/a.wav"}, ChainOf(store, testing::Noise(2, 30000, 1), 8000)});
  platform::ScriptedProgressFactory progress;
  progress.CancelAtPump(2);
  SaveProjectTask task(c, dir / "keep.qlp");
  task.Run(progress);
  EXPECT_EQ(task.result, platform::kTaskCancelled);
  EXPECT_EQ(testing::ReadFileBytes(dir / "keep.qlp"), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left
}

}  // namespace
}  // namespace quillet::batch
