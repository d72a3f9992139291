// The Send File dialog: the method's fields are the only ones enabled, OK hands the
// typed values to the send and the dialog stays until a send succeeds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "fixtures/temp_dir.h"
#include "ui/send_dialog.h"

namespace quillet::ui {
namespace {

QDialog* OpenDialog(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible() && d->objectName() == name) return d;
  return nullptr;
}

TEST(SendDialog, OkSendsTheTypedValuesAndStaysUntilSent) {
  quillet::testing::TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  send::SendFileSettings values;
  values.format = "mp3";
  send::SessionPasswords session;
  std::vector<send::SendFileSettings> sent;
  bool emailFieldsOffForFtp = false;

  QTimer::singleShot(0, [&] {
    QDialog* d = OpenDialog("LSendFileDlg");
    ASSERT_NE(d, nullptr);
    auto* ftp = d->findChild<QRadioButton*>("ftp");
    ftp->setChecked(true);
    emailFieldsOffForFtp = !d->findChild<QLineEdit*>("address")->isEnabled() &&
                           !d->findChild<QPushButton*>("settings")->isEnabled() &&
                           d->findChild<QLineEdit*>("server")->isEnabled();
    d->findChild<QLineEdit*>("server")->setText("ftp.example.org");
    d->findChild<QLineEdit*>("password")->setText("pw");
    d->findChild<QCheckBox*>("secure")->setChecked(true);
    d->accept();  // refused by the send below: stays open
    EXPECT_TRUE(d->isVisible());
    d->findChild<QRadioButton*>("email")->setChecked(true);
    d->findChild<QLineEdit*>("address")->setText("a@x.test");
    d->accept();
  });
  EXPECT_TRUE(RunSendFileDialog(nullptr, s, values, session, [&](const send::SendFileSettings& v) {
    sent.push_back(v);
    return sent.size() == 2;
  }));
  EXPECT_TRUE(emailFieldsOffForFtp);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].method, send::SendMethod::Ftp);
  EXPECT_EQ(sent[0].ftpServer, "ftp.example.org");
  EXPECT_EQ(sent[0].ftpPassword, "pw");
  EXPECT_TRUE(sent[0].ftpSecure);
  EXPECT_EQ(sent[0].format, "mp3");
  EXPECT_EQ(sent[1].method, send::SendMethod::Email);
  EXPECT_EQ(sent[1].address, "a@x.test");
}

TEST(SendDialog, EmailSettingsRefuseAnEmptyHostAndStoreWithoutThePassword) {
  quillet::testing::TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  send::SessionPasswords session;
  bool refused = false;
  QTimer::singleShot(0, [&] {
    QDialog* d = OpenDialog("LEmailSettingsDlg");
    ASSERT_NE(d, nullptr);
    d->findChild<QRadioButton*>("smtp")->setChecked(true);
    // The refusal's box is answered by a second timer while accept() waits on it.
    QTimer::singleShot(0, [&] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QDialog*>(top); box && box->isVisible() && box != d) {
          refused = box->windowTitle() == "Mailhost Required";
          box->reject();
        }
    });
    d->accept();
    d->findChild<QLineEdit*>("host")->setText("smtp.example.org:joe:s3cret");
    d->findChild<QLineEdit*>("replyTo")->setText("joe@example.org");
    d->accept();
  });
  EXPECT_TRUE(RunEmailSettingsDialog(nullptr, s, session));
  EXPECT_TRUE(refused);
  EXPECT_FALSE(s.GetBool("Email", "UseMAPI", true));
  EXPECT_EQ(s.GetString("Email", "MailSMTPHost", ""), "joe@smtp.example.org");
  EXPECT_EQ(session.smtpPassword, "s3cret");
}

}  // namespace
}  // namespace quillet::ui
