#include "core/recovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/journal_keeper.h"
#include "core/sample_file.h"
#include "core/working_folder.h"
#include "edit_fixture.h"

namespace quillet::core {
namespace {

namespace fs = std::filesystem;
using quillet::testing::TempDir;
using testing::Contents;

// One copy of the program with journaled documents in a shared working folder; Die
// leaves its run folder behind as SIGKILL would (a copy nobody holds the lock of).
class Copy {
 public:
  explicit Copy(const fs::path& base) : session(Start(base)) {}
  SegmentStore& store() { return session->store(); }
  EditContext& ctx() { return ctx_; }

  WaveDocument& Open(int channels, const std::vector<Sample>& samples, std::string file = {}) {
    docs.push_back(std::make_unique<WaveDocument>(testing::Written(store(), channels, samples), 0, file));
    docs.back()->SetRecorder(session->journals().NewRecorder());
    return *docs.back();
  }
  WaveDocument& Adopt(std::unique_ptr<WaveDocument> doc) {
    docs.push_back(std::move(doc));
    docs.back()->SetRecorder(session->journals().NewRecorder());
    return *docs.back();
  }

  // The run folder as it is now, under a dead copy's name in the same working folder.
  fs::path Die(const std::string& name) {
    session->journals().WaitDurable();
    const fs::path dead = store().workingFolder().parent_path() / ("run-" + name);
    fs::copy(store().workingFolder(), dead, fs::copy_options::recursive);
    return dead;
  }

  std::unique_ptr<StoreSession> session;
  std::vector<std::unique_ptr<WaveDocument>> docs;

 private:
  static std::unique_ptr<StoreSession> Start(const fs::path& base) {
    std::string why;
    auto s = StoreSession::StartIn(base, &why);
    EXPECT_TRUE(s) << why;
    return s;
  }
  quillet::testing::TempDir settingsDir_;
  settings::Settings settings_{settings::FolderLocations(settingsDir_.path())};
  platform::ScriptedProgressFactory progress_;
  ProgramClipboard clipboard_{&session->store()};
  EditContext ctx_{session->store(), clipboard_, progress_, settings_, nullptr, nullptr, nullptr, nullptr, {}, {}, false};
};

// Deletes [from, to) as the Delete command does.
void DeleteRange(Copy& c, WaveDocument& doc, FramePos from, FramePos to) {
  doc.SetSelection(from, to, from);
  ASSERT_EQ(Delete(c.ctx(), doc), platform::kTaskDone) << c.ctx().message;
}

// The audio of every state the history can reach: the present, then each undo.
std::vector<std::vector<Sample>> Reachable(WaveDocument& doc) {
  std::vector<std::vector<Sample>> states{Contents(doc.chain())};
  while (doc.Undo()) states.push_back(Contents(doc.chain()));
  return states;
}

class RecoveryTest : public ::testing::Test {
 protected:
  TempDir base;
};

TEST_F(RecoveryTest, RecoveredDocumentHasItsAudioHistoryPositionsAndName) {
  std::vector<std::vector<Sample>> expected;
  std::string name;
  {
    Copy before(base.path());
    WaveDocument& doc = before.Open(2, testing::Ramp(2, 20000), "/music/interview.wav");
    for (int i = 0; i < 4; ++i) DeleteRange(before, doc, 1000 * i, 1000 * i + 300);
    doc.SetSelection(50, 60, 55);
    ASSERT_EQ(InsertSilence(before.ctx(), doc, InsertWhere::Cursor, 10), platform::kTaskDone);
    ASSERT_TRUE(doc.Undo());
    doc.SetSelection(123, 4567, 200);
    doc.SetView(100, 9000);
    before.Die("a");
    // The live copy's positions, then its history, as the recovered one must show them.
    expected = Reachable(doc);
  }

  auto runs = FindDeadRuns(base.path());
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0]->documents().size(), 1u);
  const RecoverableDocument info = runs[0]->documents()[0];
  EXPECT_TRUE(info.readable);
  EXPECT_EQ(info.name, "interview.wav");
  EXPECT_EQ(info.frames, 20000 - 4 * 300);
  EXPECT_EQ(info.sampleRate, 44100u);
  EXPECT_EQ(info.channels, 2);
  EXPECT_NEAR(static_cast<double>(info.changedAtMs), static_cast<double>(WallClockMs()), 60'000);
  EXPECT_EQ(info.problem, "");

  Copy after(base.path());
  std::string message;
  ASSERT_TRUE(RecoverDocument(*runs[0], info, after.store(), after.session->journals(),
                              [&](std::unique_ptr<WaveDocument> d) { after.docs.push_back(std::move(d)); },
                              &message))
      << message;
  WaveDocument& doc = *after.docs.back();
  EXPECT_TRUE(doc.modified());
  EXPECT_EQ(doc.file(), "/music/interview.wav");
  EXPECT_EQ(doc.selStart(), 123);
  EXPECT_EQ(doc.selEnd(), 4567);
  EXPECT_EQ(doc.cursor(), 200);
  EXPECT_EQ(doc.viewStart(), 100);
  EXPECT_TRUE(doc.history().CanRedo());  // the undone silence can come back
  // The dead copy's folder went only after the new copy's journal held the document.
  EXPECT_TRUE(runs[0]->gone());
  EXPECT_FALSE(fs::exists(runs[0]->folder()));
  EXPECT_TRUE(HoldsJournals(after.store().workingFolder()));
  // The audio lives in the new copy's folder now, history and all.
  EXPECT_EQ(Reachable(doc), expected);
}

TEST_F(RecoveryTest, EveryDocumentOfEveryDeadCopyIsOffered) {
  {
    Copy first(base.path());
    first.Open(1, testing::Ramp(1, 100), "/a/one.wav");
    first.Open(2, testing::Ramp(2, 200));
    first.Die("first");
  }
  {
    Copy second(base.path());
    second.Open(1, testing::Ramp(1, 300), "/b/three.flac");
    second.Die("second");
  }
  // A copy that is running is never offered, journals or not.
  Copy running(base.path());
  running.Open(1, testing::Ramp(1, 50), "/c/running.wav");
  running.session->journals().WaitDurable();

  std::multiset<std::pair<std::string, FrameCount>> offered;
  for (const auto& run : FindDeadRuns(base.path()))
    for (const RecoverableDocument& d : run->documents()) offered.insert({d.name, d.frames});
  const std::multiset<std::pair<std::string, FrameCount>> want{
      {"one.wav", 100}, {"Untitled 0", 200}, {"three.flac", 300}};
  EXPECT_EQ(offered, want);
}

TEST_F(RecoveryTest, DeadFoldersWithJournalsSurviveTheSweepAndAreLockedWhileOffered) {
  fs::path dead, empty, unwritten;
  {
    Copy c(base.path());
    c.Open(1, testing::Ramp(1, 100));
    dead = c.Die("journals");
    c.docs.clear();
    empty = c.Die("nothing");  // a dead copy that had no documents open
    // One whose log was made but died before a byte of it reached the disk.
    unwritten = c.Die("unwritten");
    quillet::testing::WriteFileBytes(unwritten / JournalFileName(1, 1), "");
  }
  { Copy next(base.path()); }  // its start sweeps the dead copies it may
  EXPECT_TRUE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(empty));
  EXPECT_FALSE(fs::exists(unwritten));

  auto runs = FindDeadRuns(base.path());
  ASSERT_EQ(runs.size(), 1u);
  // Another copy starting meanwhile neither sees nor sweeps it.
  EXPECT_TRUE(FindDeadRuns(base.path()).empty());
  { Copy other(base.path()); }
  EXPECT_TRUE(fs::exists(dead));
  runs[0]->Discard();
  EXPECT_FALSE(fs::exists(dead));
}

// Damage at the end of a log (a crash in the middle of a record, a power cut before it
// reached the disk): the last whole state before it comes back, and the damage is said.
TEST_F(RecoveryTest, DamagedEndOfTheLogFallsBackToTheLastWholeState) {
  struct Case {
    const char* what;
    void (*spoil)(const fs::path& log, std::uintmax_t from, const fs::path& folder);
    bool newest;  // the newest state survives
  };
  const Case cases[] = {
      {"last record cut short",
       [](const fs::path& j, std::uintmax_t from, const fs::path&) {
         fs::resize_file(j, from + (fs::file_size(j) - from) / 2);
       }, false},
      {"last record zeros (never reached the disk)",
       [](const fs::path& j, std::uintmax_t from, const fs::path&) {
         std::string b = quillet::testing::ReadFileBytes(j);
         std::fill(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), '\0');
         quillet::testing::WriteFileBytes(j, b);
       }, false},
      {"a flipped bit in the last record",
       [](const fs::path& j, std::uintmax_t from, const fs::path&) {
         std::string b = quillet::testing::ReadFileBytes(j);
         b[(from + b.size()) / 2] ^= 4;
         quillet::testing::WriteFileBytes(j, b);
       }, false},
      {"a newer log whose first record never reached the disk",
       [](const fs::path&, std::uintmax_t, const fs::path& folder) {
         quillet::testing::WriteFileBytes(folder / JournalFileName(1, 2), JournalFileHeader() + "\x40\0\0");
       }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    std::vector<Sample> older, newer;
    fs::path dead;
    std::uintmax_t olderBytes = 0;
    {
      Copy live(work.path());
      WaveDocument& doc = live.Open(1, testing::Ramp(1, 5000));
      DeleteRange(live, doc, 0, 100);
      older = Contents(doc.chain());
      olderBytes = fs::file_size(live.store().workingFolder() / JournalFileName(1, 1));
      DeleteRange(live, doc, 0, 1000);
      newer = Contents(doc.chain());
      dead = live.Die("x");
    }
    c.spoil(dead / JournalFileName(1, 1), olderBytes, dead);
    auto runs = FindDeadRuns(work.path());
    ASSERT_EQ(runs.size(), 1u);
    const RecoverableDocument d = runs[0]->documents().at(0);
    EXPECT_NE(d.problem.find("The end of its journal is damaged"), std::string::npos) << d.problem;
    Copy after(work.path());
    std::string message;
    auto doc = runs[0]->Recover(d, after.store(), &message);
    ASSERT_TRUE(doc) << message;
    EXPECT_EQ(Contents(doc->chain()), c.newest ? newer : older);
  }
}

TEST_F(RecoveryTest, MissingOrShortAudioBecomesSilenceAndIsReported) {
  fs::path dead;
  FileId first = kNoFile, second = kNoFile;
  {
    Copy live(base.path());
    WaveDocument& doc = live.Open(1, testing::Ramp(1, 1000));
    first = doc.chain().segments().front().fileId;
    // A second file, pasted after the first.
    AudioChain tail = testing::Written(live.store(), 1, testing::Dc(1, 500, 77));
    second = tail.segments().front().fileId;
    doc.PushUndo("Paste");
    ChainInsert(doc.mutableChain(), 1000, tail);
    doc.AudioChanged();
    dead = live.Die("d");
  }
  fs::remove(dead / (std::to_string(second) + ".aud"));
  {
    // 400 frames lost, whatever width the store chose for the file's samples.
    const fs::path firstFile = dead / (std::to_string(first) + ".aud");
    const int fd = ::open(firstFile.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const SampleFileLayout layout = ReadSampleFileLayout(fd);
    ::close(fd);
    fs::resize_file(firstFile, static_cast<std::uintmax_t>(layout.headerBytes + 600 * layout.width));
  }

  auto runs = FindDeadRuns(base.path());
  ASSERT_EQ(runs.size(), 1u);
  const RecoverableDocument d = runs[0]->documents().at(0);
  EXPECT_TRUE(d.readable);
  EXPECT_NE(d.problem.find("2 of its sample files are missing or short"), std::string::npos) << d.problem;
  Copy after(base.path());
  std::string message;
  auto doc = runs[0]->Recover(d, after.store(), &message);
  ASSERT_TRUE(doc) << message;
  EXPECT_EQ(doc->length(), 1500);
  EXPECT_EQ(Contents(doc->chain()),
            testing::Cat({testing::RampPart(0, 600), std::vector<Sample>(900, 0)}));
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(Contents(doc->chain()), testing::Cat({testing::RampPart(0, 600), std::vector<Sample>(400, 0)}));
}

TEST_F(RecoveryTest, ADamagedPeakFileIsBuiltAgainFromTheAudio) {
  fs::path dead;
  FileId id = kNoFile;
  {
    Copy live(base.path());
    WaveDocument& doc = live.Open(2, testing::Ramp(2, 3000));
    id = doc.chain().segments().front().fileId;
    dead = live.Die("p");
  }
  fs::resize_file(dead / (std::to_string(id) + ".grf"), 3);
  auto runs = FindDeadRuns(base.path());
  ASSERT_EQ(runs.size(), 1u);
  Copy after(base.path());
  std::string message;
  auto doc = runs[0]->Recover(runs[0]->documents().at(0), after.store(), &message);
  ASSERT_TRUE(doc) << message;
  EXPECT_EQ(Contents(doc->chain()), testing::Ramp(2, 3000));
  const FileId now = doc->chain().segments().front().fileId;
  // 3000 frames: 12 records of 2 channels x 2 bytes.
  EXPECT_EQ(fs::file_size(after.store().PeakFilePath(now)), 12u * 4);
  ASSERT_TRUE(after.store().PeakSummaryOf(now));
}

TEST_F(RecoveryTest, UnreadableDocumentIsListedAndKeptUntilDiscarded) {
  fs::path dead;
  {
    Copy live(base.path());
    live.Open(1, testing::Ramp(1, 100), "/x/lost.wav");
    dead = live.Die("u");
  }
  for (const auto& e : fs::directory_iterator(dead))
    if (e.path().extension() == kJournalExtension) quillet::testing::WriteFileBytes(e.path(), "QJNL garbage");
  {
    auto runs = FindDeadRuns(base.path());
    ASSERT_EQ(runs.size(), 1u);
    const RecoverableDocument d = runs[0]->documents().at(0);
    EXPECT_FALSE(d.readable);
    EXPECT_NE(d.problem.find("No journal of it can be read"), std::string::npos) << d.problem;
    Copy after(base.path());
    std::string message;
    EXPECT_FALSE(runs[0]->Recover(d, after.store(), &message));
    EXPECT_NE(message.find("cannot be recovered"), std::string::npos) << message;
  }
  EXPECT_TRUE(fs::exists(dead));  // nobody discarded it
  auto runs = FindDeadRuns(base.path());
  ASSERT_EQ(runs.size(), 1u);
  runs[0]->Discard();
  EXPECT_TRUE(FindDeadRuns(base.path()).empty());
}

}  // namespace
}  // namespace quillet::core
