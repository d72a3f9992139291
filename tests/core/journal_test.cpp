#include "core/journal.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "core/journal_keeper.h"
#include "edit_fixture.h"

namespace quillet::core {
namespace {

namespace fs = std::filesystem;
using testing::EditFixture;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class JournalTest : public EditFixture {
 protected:
  // A document with a history: deletes, a silence, an undo, a file name and marks.
  std::unique_ptr<WaveDocument> EditedDoc() {
    auto doc = Doc(2, testing::Ramp(2, 5000), 22050);
    doc->SetFile("/music/take 3.wav");
    for (int i = 0; i < 3; ++i) {
      doc->SetSelection(100 * i, 100 * i + 50, 0);
      EXPECT_EQ(Delete(ctx, *doc), platform::kTaskDone);
    }
    doc->SetSelection(10, 20, 15);
    EXPECT_EQ(InsertSilence(ctx, *doc, InsertWhere::Cursor, 5), platform::kTaskDone);
    EXPECT_EQ(UndoEdit(ctx, *doc), platform::kTaskDone);
    doc->SetMark1(7);
    doc->SetMark2(900);
    doc->SetView(3, 2000);
    return doc;
  }

  // The journal files of the run folder and their sizes.
  std::map<std::string, std::uintmax_t> Journals() const {
    std::map<std::string, std::uintmax_t> found;
    for (const auto& e : fs::directory_iterator(store.workingFolder()))
      if (e.is_regular_file() && e.path().extension() == kJournalExtension) found[e.path().filename().string()] = e.file_size();
    return found;
  }
  // The state the newest log adds up to.
  JournalImage Newest() const {
    std::uint64_t best = 0;
    std::string bytes;
    for (const auto& [name, size] : Journals()) {
      int doc;
      std::uint64_t generation;
      EXPECT_TRUE(ParseJournalFileName(name, &doc, &generation)) << name;
      if (generation >= best) {
        best = generation;
        bytes = quillet::testing::ReadFileBytes(store.workingFolder() / name);
      }
    }
    std::string error;
    auto image = DecodeJournal(Bytes(bytes), &error);
    EXPECT_TRUE(image) << error;
    return image.value_or(JournalImage{});
  }
  // The image without what differs between two writes of the same state.
  static JournalImage Comparable(JournalImage j) {
    j.sequence = 0;
    j.changedAtMs = 0;
    return j;
  }
};

TEST_F(JournalTest, EncodingRoundTripsAWholeDocumentWithItsUndoRing) {
  auto doc = EditedDoc();
  const JournalImage image = ImageOf(*doc, 42, 1'700'000'000'123);
  int usedEntries = 0;
  for (const UndoImage& e : image.undo) usedEntries += !e.name.empty();
  ASSERT_GE(usedEntries, 4);  // three deletes, the silence and the kept Redo state
  std::string error;
  const auto back = DecodeJournal(Bytes(EncodeJournal(image)), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, image);
  EXPECT_EQ(DocumentName(*back), "take 3.wav");
  EXPECT_EQ(ImageLength(back->present.chain), doc->length());
}

// Every cut, every flipped byte and every impossible field is refused with a reason;
// nothing is read past the bytes (ASan watches).
TEST_F(JournalTest, DecodingRefusesDamageWithAReason) {
  auto doc = EditedDoc();
  const std::string good = EncodeJournal(ImageOf(*doc, 1, 0));
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::string error;
    EXPECT_FALSE(DecodeJournal(Bytes(good.substr(0, n)), &error)) << "cut at " << n;
    EXPECT_FALSE(error.empty());
  }
  for (std::size_t at = 0; at < good.size(); at += 7) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x10);
    std::string error;
    EXPECT_FALSE(DecodeJournal(Bytes(bad), &error)) << "flip at " << at;
  }

  // Well-formed files whose content cannot be a document (the checksum is right).
  struct Case {
    const char* what;
    void (*spoil)(JournalImage&);
    const char* message;
  };
  const Case cases[] = {
      {"no channels", [](JournalImage& j) { j.present.chain.channels = 0; }, "0 channels"},
      {"too many channels", [](JournalImage& j) { j.present.chain.channels = 256; }, "256 channels"},
      {"rate 0", [](JournalImage& j) { j.present.chain.sampleRate = 0; }, "sample rate 0"},
      {"empty segment", [](JournalImage& j) { j.present.chain.segments[0].frameCount = 0; }, "length 0"},
      {"negative start", [](JournalImage& j) { j.present.chain.segments[0].startFrame = -3; }, "frame -3"},
      {"negative cursor", [](JournalImage& j) { j.present.cursor = -1; }, "negative (-1)"},
      {"undo index 8", [](JournalImage& j) { j.undoIndex = 8; }, "undo position 8"},
      {"long undo name", [](JournalImage& j) { j.undo[1].name = std::string(300, 'x'); }, "300 bytes"},
      {"overflowing length",
       [](JournalImage& j) {
         j.present.chain.segments.assign(2, AudioSegment{kNoFile, INT64_MAX - 5, kUnityGain, 0});
       },
       "longer than any audio"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JournalImage j = ImageOf(*doc, 1, 0);
    c.spoil(j);
    std::string error;
    EXPECT_FALSE(DecodeJournal(Bytes(EncodeJournal(j)), &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }

  // Bytes changed behind a right checksum: a segment count larger than the bytes left
  // (refused before allocating), and reserved header bits (found by the fuzzer: they
  // would not survive a rewrite).
  const std::size_t record = kJournalHeaderBytes;
  const std::size_t countAt = record + kRecordHeaderBytes + 8 + 4 + 4 + doc->file().string().size() + 8 * 4 +
                              8 * 6 + 4 + 1 + 4 + 2;
  const std::tuple<std::size_t, std::string, const char*> patches[] = {
      {countAt, std::string("\xff\xff\xff\x7f", 4), "2147483647 segments"},
      {6, std::string("\x06\x00", 2), "flags"},
  };
  for (const auto& [at, patch, message] : patches) {
    std::string bad = good;
    bad.replace(at, patch.size(), patch);
    const std::uint32_t crc = Crc32(Bytes(bad.substr(record + 8)));
    bad.replace(record + 4, 4, std::string(reinterpret_cast<const char*>(&crc), 4));
    std::string error;
    EXPECT_FALSE(DecodeJournal(Bytes(bad), &error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

// A log: a whole record, then records of what changed. Replaying gives the state after
// each; a torn or reordered record ends the log there and the states before it stand.
TEST_F(JournalTest, ReplayAddsUpChangeRecordsAndStopsAtTheFirstBadOne) {
  auto doc = EditedDoc();
  JournalImage a = ImageOf(*doc, 1, 10);
  JournalImage b = a;
  b.sequence = 2;
  b.present.selStart = 3;
  b.present.cursor = 4;
  JournalImage c = b;
  c.sequence = 3;
  c.present.chain.segments.resize(1);
  c.undo[5] = UndoImage{"Cut", b.present};
  c.undoIndex = 5;
  const std::string log = JournalFileHeader() + EncodeRecord(a) + EncodeRecord(b, {false, 0}) +
                          EncodeRecord(c, {true, 1u << 5});
  EXPECT_LT(EncodeRecord(b, {false, 0}).size(), 200u);  // a selection change is small

  std::vector<JournalImage> seen;
  std::string error = "unset";
  EXPECT_EQ(ReplayJournal(Bytes(log), [&](const JournalImage& j) { seen.push_back(j); }, &error), 3u);
  EXPECT_EQ(error, "");
  EXPECT_EQ(seen, (std::vector<JournalImage>{a, b, c}));

  struct Case {
    const char* what;
    std::string bytes;
    std::size_t records;
    const char* message;
  };
  const std::string head = JournalFileHeader() + EncodeRecord(a);
  JournalImage stale = c;
  stale.sequence = 1;
  const Case cases[] = {
      {"torn last record", log.substr(0, log.size() - 5), 2, "record 3"},
      {"changes before any whole record", JournalFileHeader() + EncodeRecord(b, {false, 0}), 0, "never recorded whole"},
      {"sequence going back", head + EncodeRecord(stale, {false, 0}), 1, "sequence 1 after 1"},
      {"zeros after the records (a power cut)", head + std::string(64, '\0'), 1, "wrong checksum"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::string why;
    EXPECT_EQ(ReplayJournal(Bytes(k.bytes), {}, &why), k.records);
    EXPECT_NE(why.find(k.message), std::string::npos) << why;
  }
}

// The standard's check values, through both the eight-byte and the byte-wise paths.
TEST(JournalCrc, MatchesTheCrc32CheckValues) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"", 0},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& [text, crc] : cases) EXPECT_EQ(Crc32(Bytes(text)), crc) << text;
}

TEST_F(JournalTest, FileNamesParseOnlyWhenWhole) {
  int doc = 0;
  std::uint64_t seq = 0;
  EXPECT_TRUE(ParseJournalFileName(JournalFileName(12, 345), &doc, &seq));
  EXPECT_EQ(doc, 12);
  EXPECT_EQ(seq, 345u);
  for (const char* bad : {"doc-1.jnl", "doc--1-2.jnl", "doc-1-2.jnl.tmp", "doc-1-x.jnl", "1.aud",
                          "doc-1-2", "doc-a-2.jnl", "doc-99999999999-1.jnl"})
    EXPECT_FALSE(ParseJournalFileName(bad, &doc, &seq)) << bad;
}

TEST_F(JournalTest, RecorderWritesAtOnceAndAfterEachEditButNeverHalfwayThroughOne) {
  JournalKeeper keeper(store);
  auto doc = RampDoc(1000);
  doc->SetRecorder(keeper.NewRecorder());
  EXPECT_EQ(Comparable(Newest()), Comparable(ImageOf(*doc, 0, 0)));

  {
    // An edit pushes its entry before it changes the audio: while the document is
    // busy nothing is written, so no journal holds the entry without the change.
    platform::BusyGuard guard(doc->busyFlag());
    const auto before = Journals();
    doc->PushUndo("Half");
    ChainDeleteRange(doc->mutableChain(), 0, 100);
    doc->AudioChanged();
    EXPECT_EQ(Journals(), before);
  }
  const JournalImage after = Newest();
  EXPECT_EQ(Comparable(after), Comparable(ImageOf(*doc, 0, 0)));
  EXPECT_EQ(ImageLength(after.present.chain), 900);
  EXPECT_EQ(after.undo[static_cast<std::size_t>(after.undoIndex)].name, "Half");

  doc->SetSelection(5, 50, 5);
  EXPECT_EQ(Newest().present.selEnd, 50);  // written at once, flushed later
}

TEST_F(JournalTest, FlushedJournalSupersedesOlderOnesAndKeepsItsFilesAlive) {
  JournalKeeper keeper(store);
  auto doc = RampDoc(1000);
  const FileId original = doc->chain().segments().front().fileId;
  doc->SetRecorder(keeper.NewRecorder());
  for (int i = 0; i < 12; ++i) {
    doc->SetSelection(0, 10, 0);
    ASSERT_EQ(Delete(ctx, *doc), platform::kTaskDone);
  }
  keeper.WaitDurable();
  EXPECT_EQ(Journals().size(), 1u);
  EXPECT_EQ(keeper.TakeFailure(), "");

  // The journal holds the files it names: detaching it gives exactly one back.
  const std::uint32_t held = store.RefCount(original);
  doc->SetRecorder(nullptr);
  EXPECT_TRUE(Journals().empty());
  EXPECT_EQ(store.RefCount(original), held - 1);

  doc->SetRecorder(keeper.NewRecorder());
  doc.reset();  // closed: journals and files go
  EXPECT_TRUE(Journals().empty());
  EXPECT_EQ(store.RefCount(original), 0u);
  EXPECT_FALSE(fs::exists(store.SampleFilePath(original)));
}

// Once the undo ring lets go of audio a log names, a new log starts; the old one and
// the audio go when the new one is on the disk.
TEST_F(JournalTest, LettingGoOfAudioStartsANewLogAndFreesTheFilesOnceItIsFlushed) {
  JournalKeeper keeper(store);
  auto doc = RampDoc(1000);
  const FileId first = doc->chain().segments().front().fileId;
  doc->SetRecorder(keeper.NewRecorder());
  // Each change brings new audio; after a ring's worth the first file is let go.
  for (int i = 0; i < kUndoEntries && store.RefCount(first) > 0; ++i) {
    doc->PushUndo("Replace");
    doc->SetChain(testing::Written(store, 1, testing::Dc(1, 100, i + 1)));
    keeper.WaitDurable();
  }
  keeper.WaitDurable();
  EXPECT_EQ(store.RefCount(first), 0u);
  EXPECT_FALSE(fs::exists(store.SampleFilePath(first)));
  const auto logs = Journals();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs.begin()->first, JournalFileName(1, 1));
  EXPECT_EQ(Comparable(Newest()), Comparable(ImageOf(*doc, 0, 0)));
  EXPECT_EQ(keeper.TakeFailure(), "");
}

TEST_F(JournalTest, AFailedJournalWriteIsReportedAndTheEditStillHappens) {
  JournalKeeper keeper(store);
  auto doc = RampDoc(1000);
  // The second log's name is taken by a folder: starting it fails.
  fs::create_directory(store.workingFolder() / JournalFileName(1, 2));
  doc->SetRecorder(keeper.NewRecorder());
  for (int i = 0; i < kUndoEntries; ++i) {
    doc->PushUndo("Replace");
    doc->SetChain(testing::Written(store, 1, testing::Dc(1, 100, i + 1)));
  }
  EXPECT_EQ(doc->length(), 100);
  const std::string failure = keeper.TakeFailure();
  EXPECT_NE(failure.find("Cannot write the recovery journal"), std::string::npos) << failure;
  EXPECT_EQ(keeper.TakeFailure(), "");  // reported once
  doc->SetSelection(0, 10, 0);  // later changes went into a log started after the failure
  keeper.WaitDurable();
  EXPECT_EQ(Comparable(Newest()), Comparable(ImageOf(*doc, 0, 0)));
}

}  // namespace
}  // namespace quillet::core
