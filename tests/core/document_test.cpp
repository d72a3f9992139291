#include "core/document.h"

#include <gtest/gtest.h>

#include "edit_fixture.h"

namespace quillet::core {
namespace {

using testing::EditFixture;

class DocumentTest : public EditFixture {
 protected:
  // n edits, each deleting the first frame under its own name; returns the lengths
  // before each edit and after the last.
  std::vector<FrameCount> Edits(WaveDocument& doc, int n) {
    std::vector<FrameCount> lengths{doc.length()};
    for (int i = 1; i <= n; ++i) {
      doc.SetSelection(0, 1, 0);
      doc.PushUndo("Edit " + std::to_string(i));
      ChainDeleteRange(doc.mutableChain(), 0, 1);
      doc.AudioChanged();
      lengths.push_back(doc.length());
    }
    return lengths;
  }
};

// Every history length around the ring size must give min(n, 5) undos, newest first,
// and redo must come back to the newest state.
TEST_F(DocumentTest, HistoryKeepsTheFiveNewestStatesWhateverItsLength) {
  for (int n : {1, 2, 5, 6, 7, 8, 9, 15, 16, 17, 20}) {
    SCOPED_TRACE(n);
    auto doc = RampDoc(100);
    const auto lengths = Edits(*doc, n);
    int undos = 0;
    for (; doc->history().CanUndo() && undos < 10; ++undos) {
      EXPECT_EQ(doc->history().UndoName(), "Edit " + std::to_string(n - undos));
      ASSERT_TRUE(doc->Undo());
      EXPECT_EQ(doc->length(), lengths[static_cast<std::size_t>(n - undos - 1)]);
    }
    EXPECT_FALSE(doc->Undo());
    EXPECT_EQ(undos, std::min(n, 5));
    int redos = 0;
    while (doc->Redo() && redos < 10) ++redos;
    EXPECT_EQ(redos, undos);
    EXPECT_EQ(testing::Contents(doc->chain()), testing::RampPart(n, 100));
  }
}

TEST_F(DocumentTest, MenuTextsAfterACutAndItsUndo) {
  auto doc = RampDoc(1000);
  EXPECT_EQ(doc->history().UndoMenuText(), "Undo \tCtrl+Z");
  doc->SetSelection(10, 20, 10);
  ASSERT_EQ(Cut(ctx, *doc), 0);
  EXPECT_EQ(doc->history().UndoMenuText(), "Undo Cut\tCtrl+Z");
  EXPECT_EQ(doc->history().RedoMenuText(), "Redo \tCtrl+Y");
  ASSERT_EQ(UndoEdit(ctx, *doc), 0);
  EXPECT_EQ(doc->history().RedoMenuText(), "Redo Cut\tCtrl+Y");
  EXPECT_EQ(doc->history().UndoMenuText(), "Undo \tCtrl+Z");
  // The Edit menu's entries say the same.
  CommandRegistry r;
  RegisterEditCommands(r);
  const CommandState state{doc.get(), &clipboard, 1, false};
  EXPECT_FALSE(IsEnabled(*r.Find(kCmdUndo), state));
  EXPECT_TRUE(IsEnabled(*r.Find(kCmdRedo), state));
  EXPECT_EQ(r.Find(kCmdRedo)->text(state), "Redo Cut\tCtrl+Y");
}

TEST_F(DocumentTest, ANewEditAfterUndosMakesRedoUnavailable) {
  auto doc = RampDoc(100);
  Edits(*doc, 4);
  ASSERT_TRUE(doc->Undo());
  ASSERT_TRUE(doc->Undo());
  EXPECT_TRUE(doc->history().CanRedo());
  Edits(*doc, 1);
  EXPECT_FALSE(doc->history().CanRedo());
  EXPECT_FALSE(doc->Redo());
  EXPECT_EQ(doc->history().RedoMenuText(), "Redo \tCtrl+Y");
  // The new edit undoes to the state the two undos had reached.
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(doc->length(), 98);
}

TEST_F(DocumentTest, UndoRestoresSelectionCursorViewAndFormatButNotMarks) {
  auto doc = RampDoc(1000);
  doc->SetSelection(100, 300, 150);
  doc->SetView(50, 600);
  doc->SetMark1(7);
  doc->PushUndo("Swap");
  doc->SetChain(testing::Written(store, 2, testing::Ramp(2, 10), 8000));
  doc->SetMark1(3);
  EXPECT_EQ(doc->selEnd(), 10);  // clamped to the new audio
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(doc->sampleRate(), 44100u);
  EXPECT_EQ(doc->channels(), 1);
  EXPECT_EQ(doc->length(), 1000);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()), std::tuple(100, 300, 150));
  EXPECT_EQ(std::tuple(doc->viewStart(), doc->viewEnd()), std::tuple(50, 600));
  EXPECT_EQ(doc->mark1(), 3);
  ASSERT_TRUE(doc->Redo());
  EXPECT_EQ(doc->sampleRate(), 8000u);
  EXPECT_EQ(doc->channels(), 2);
}

TEST_F(DocumentTest, ModifiedFollowsTheSavedVersionThroughUndoAndRedo) {
  auto doc = RampDoc(100);
  EXPECT_FALSE(doc->modified());
  Edits(*doc, 1);
  EXPECT_TRUE(doc->modified());
  ASSERT_TRUE(doc->Undo());
  EXPECT_FALSE(doc->modified());  // back to the file's audio
  ASSERT_TRUE(doc->Redo());
  EXPECT_TRUE(doc->modified());
  doc->MarkSaved();
  EXPECT_FALSE(doc->modified());
  // The file now holds the edited audio: undoing must not claim it matches the file.
  ASSERT_TRUE(doc->Undo());
  EXPECT_TRUE(doc->modified());
  ASSERT_TRUE(doc->Redo());
  EXPECT_FALSE(doc->modified());
  doc->SetModified(true);
  EXPECT_TRUE(doc->modified());
}

TEST_F(DocumentTest, PositionsStayInsideTheAudio) {
  auto doc = RampDoc(1000);
  doc->SetSelection(1500, -20, 4000);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()), std::tuple(0, 1000, 1000));
  doc->SetView(-5, 5000);
  EXPECT_EQ(std::tuple(doc->viewStart(), doc->viewEnd()), std::tuple(0, 1000));
  doc->SetSelection(0, 0, 0);
  EXPECT_FALSE(doc->HasSelection());
  doc->SetSelection(5, 5, 5);
  EXPECT_FALSE(doc->HasSelection());
}

TEST_F(DocumentTest, HistoryHoldsItsAudioUntilReleased) {
  {
    auto doc = RampDoc(1000);
    const FileId id = doc->chain().segments().front().fileId;
    doc->SetSelection(0, 1000, 0);
    ASSERT_EQ(Delete(ctx, *doc), 0);
    EXPECT_EQ(doc->length(), 0);
    EXPECT_GE(store.RefCount(id), 1u);  // the entry keeps the deleted audio alive
    ASSERT_TRUE(doc->Undo());
    EXPECT_EQ(testing::Contents(doc->chain()), testing::RampPart(0, 1000));
  }
  EXPECT_EQ(LiveIds(), 0u);
}

TEST_F(DocumentTest, TitleIsTheFileNameOrUntitled) {
  WaveDocument untitled(AudioChain(&store), 3);
  EXPECT_EQ(untitled.Title(), "Untitled 3");
  WaveDocument named(AudioChain(&store), 0, "/music/take 1.wav");
  EXPECT_EQ(named.Title(), "take 1.wav");
}

}  // namespace
}  // namespace quillet::core
