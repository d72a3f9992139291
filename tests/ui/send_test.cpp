// File > Send... as a person uses it: the open document goes as MP3 to the loopback
// mail server, through the Send File dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include "fixtures/programs.h"
#include "fixtures/servers.h"
#include "frame_fixture.h"

namespace quillet::ui {
namespace {

using testsupport::Frame;

using quillet::testing::ReadFileBytes;

TEST_F(Frame, SendTheOpenDocumentAsMp3ByMail) {
  QUILLET_REQUIRE_PROGRAMS("lame");
  std::filesystem::create_directories(dir_ / "server");
  quillet::testing::PythonServer server;
  if (!server.Start("smtp_server.py", {(dir_ / "server").string()})) FAIL() << server.why();
  settings_->SetBool("Email", "UseMAPI", false);
  settings_->SetString("Email", "MailSMTPHost", "127.0.0.1:" + std::to_string(server.port()));
  settings_->SetString("Email", "ReplyToEmail", "me@here.test");
  ASSERT_NE(Open(44100, 2, 44100), nullptr);
  const std::string opened = ReadFileBytes(dir_ / "a.wav");

  bool dialogSeen = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<QDialog*>(top);
      if (!d || !d->isVisible() || d->objectName() != "LSendFileDlg") continue;
      dialogSeen = true;
      d->findChild<QRadioButton*>("email")->setChecked(true);
      d->findChild<QLineEdit*>("address")->setText("friend@x.test");
      auto* format = d->findChild<QComboBox*>("format");
      EXPECT_EQ(format->currentText(), "wav");  // the document's own to start with
      format->setCurrentText("mp3");
      d->accept();
    }
  });
  ASSERT_TRUE(frame_->action(core::kCmdSend)->isEnabled());
  frame_->action(core::kCmdSend)->trigger();
  EXPECT_TRUE(dialogSeen);
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  const std::string eml = ReadFileBytes(dir_ / "server" / "mail1.eml");
  EXPECT_NE(eml.find("Content-Type: audio/mpeg; name=\"a.mp3\""), std::string::npos);
  const std::string mp3 = ReadFileBytes(dir_ / "server" / "mail1.part1");
  ASSERT_GT(mp3.size(), 1000u);
  EXPECT_TRUE(mp3.rfind("ID3", 0) == 0 || static_cast<unsigned char>(mp3[0]) == 0xFF);
  EXPECT_EQ(ReadFileBytes(dir_ / "server" / "mail1.rcpt"), "friend@x.test");
  EXPECT_EQ(ReadFileBytes(dir_ / "a.wav"), opened);  // the person's file is untouched
  EXPECT_EQ(settings_->GetString("SendEmail", "Address", ""), "friend@x.test");
}

}  // namespace
}  // namespace quillet::ui
