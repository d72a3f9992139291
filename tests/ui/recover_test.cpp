// The editor after a crash: its documents journaled as they are edited, and the
// "Recover Documents" dialog that the next start shows for them.
#include <QPushButton>
#include <QTreeWidget>

#include "core/chain_source.h"
#include "core/command_ids.h"
#include "core/recovery.h"
#include "frame_fixture.h"
#include "ui/recover_dialog.h"

namespace quillet::ui {
namespace {

using namespace testsupport;
namespace fs = std::filesystem;

std::vector<audio::Sample> Samples(const core::WaveDocument& doc) {
  core::LChainSoundSource src(doc.chain());
  std::vector<audio::Sample> out(std::size_t(src.length() * doc.channels()));
  src.read(out.data(), src.length());
  return out;
}

class Recover : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    frame_->SetJournals(&session_->journals());
  }

  // Edits a.wav and an untitled document in the frame, then leaves the run folder as
  // a copy killed at that moment would; the frame's own documents are closed unsaved.
  void Crash() {
    DocumentWindow* w = Open(8000, 1, 8000, 0.5, "a.wav");
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < 2; ++i) {
      w->doc().SetSelection(1000, 2000, 1000);
      ASSERT_TRUE(frame_->Command(core::kCmdDelete));
    }
    edited_ = Samples(w->doc());
    frame_->NewDocument(8000, 2);
    session_->journals().WaitDurable();
    fs::copy(session_->store().workingFolder(), dir_ / "work" / "run-crashed", fs::copy_options::recursive);
    answers_ = {Answer::No, Answer::No};  // "save changes?"
    ASSERT_TRUE(frame_->CloseAll());
    ASSERT_TRUE(frame_->documents().empty());
  }

  // The editor started again: a fresh frame over the same store.
  void Restart() {
    MakeFrame();
    frame_->SetJournals(&session_->journals());
  }

  int Offer(std::function<void(QDialog&)> answer) {
    auto runs = core::FindDeadRuns(dir_ / "work");
    DialogScript script("RecoverDocuments", std::move(answer));
    const int n = OfferRecovery(frame_.get(), runs, session_->store(), session_->journals(),
                                [this](std::unique_ptr<core::WaveDocument> d) {
                                  frame_->AddRecoveredDocument(std::move(d));
                                });
    EXPECT_EQ(script.shown(), 1);
    return n;
  }

  std::size_t Offered() {
    std::size_t n = 0;
    for (const auto& run : core::FindDeadRuns(dir_ / "work")) n += run->documents().size();
    return n;
  }

  std::vector<audio::Sample> edited_;
};

TEST_F(Recover, DocumentsComeBackModifiedWithTheirHistory) {
  Crash();
  Restart();
  const int recovered = Offer([](QDialog& d) {
    auto* list = d.findChild<QTreeWidget*>("documents");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "a.wav");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "0:00:00.75");  // 6000 frames at 8000 Hz
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Untitled 1");
  });
  EXPECT_EQ(recovered, 2);
  ASSERT_EQ(frame_->documents().size(), 2u);
  DocumentWindow* w = frame_->documents()[0];
  EXPECT_TRUE(w->doc().modified());
  EXPECT_EQ(w->doc().file().filename(), "a.wav");
  EXPECT_EQ(Samples(w->doc()), edited_);
  frame_->Activate(w);
  ASSERT_TRUE(frame_->Command(core::kCmdUndo));
  EXPECT_EQ(w->doc().length(), 7000);
  EXPECT_EQ(frame_->documents()[1]->doc().Title(), "Untitled 1");
  // A new untitled document does not take the number of the recovered one.
  EXPECT_EQ(frame_->NewDocument(8000, 1)->doc().Title(), "Untitled 2");
  EXPECT_EQ(Offered(), 0u);  // they are this copy's now
}

TEST_F(Recover, LaterKeepsEverythingUncheckedStaysAndDiscardAsksFirst) {
  Crash();
  Restart();
  auto click = [](const char* button) {
    return [button](QDialog& d) { d.findChild<QPushButton*>(button)->click(); };
  };
  EXPECT_EQ(Offer(click("later")), 0);
  EXPECT_EQ(Offered(), 2u);

  EXPECT_EQ(Offer([](QDialog& d) {
              d.findChild<QTreeWidget*>("documents")->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
            }),
            1);
  EXPECT_EQ(Offered(), 1u);

  answers_ = {Answer::No};  // "Discard 1 document?"
  EXPECT_EQ(Offer(click("discard")), 0);
  EXPECT_EQ(Offered(), 1u);

  answers_ = {Answer::Yes};
  boxes_.clear();
  EXPECT_EQ(Offer(click("discard")), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("Discard 1 document?"), std::string::npos) << boxes_[0];
  EXPECT_EQ(Offered(), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "work" / "run-crashed"));
  EXPECT_EQ(frame_->documents().size(), 1u);
}

}  // namespace
}  // namespace quillet::ui
