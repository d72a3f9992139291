// The desktop mail hand-off through a stand-in xdg-email, and the dialogs' stored
// values: passwords stay out of the settings file unless asked for, and then the file
// is its owner's alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "send/desktop_mail.h"
#include "send/send_settings.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;

// An xdg-email that logs its arguments, one call a line, fails for addresses holding
// "fail" and keeps running for those holding "hang".
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto script = dir_ / "bin" / "xdg-email";
    std::filesystem::create_directories(script.parent_path());
    WriteFileBytes(script, "#!/bin/sh\necho \"$*\" >> '" + (dir_ / "calls.log").string() +
                               "'\ncase \"$*\" in *fail*) exit 4;; *hang*) exec sleep 3;; esac\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    options_.searchPath = (dir_ / "bin").string();
    options_.handOffMs = 300;
  }
  std::string Calls() const { return ReadFileBytes(dir_ / "calls.log"); }

  TempDir dir_;
  DesktopMailOptions options_;
};

TEST_F(DesktopTest, OneCallPerRecipientEachMustSucceed) {
  ScriptedProgress progress;
  EXPECT_TRUE(SendThroughDesktop(" a@x.test,,b@y.test ", "Hi", {"/tmp/a.wav"}, options_, progress).done());
  EXPECT_EQ(Calls(), "--subject Hi --attach /tmp/a.wav a@x.test\n--subject Hi --attach /tmp/a.wav b@y.test\n");

  std::filesystem::remove(dir_ / "calls.log");
  const platform::Outcome r = SendThroughDesktop("fail@x.test,b@y.test", "", {"/tmp/a.wav"}, options_, progress);
  EXPECT_EQ(r.message,
            "The mail to \"fail@x.test\" could not be handed to the desktop's email program "
            "(xdg-email ended with code 4).");
  EXPECT_EQ(Calls(), "--attach /tmp/a.wav fail@x.test\n");  // not judged on the last call alone
}

TEST_F(DesktopTest, ComposerStillOpenCountsAsHandedOff) {
  ScriptedProgress progress;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(SendThroughDesktop("hang@x.test", "", {"/tmp/a.wav"}, options_, progress).done());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(DesktopTest, UnsafeAddressesAndAMissingProgramAreRefused) {
  ScriptedProgress progress;
  for (const char* a : {"a@x.test?attach=/etc/passwd", "-x@y", "a b@x.test"})
    EXPECT_EQ(SendThroughDesktop(a, "", {}, options_, progress).message,
              "The email address \"" + std::string(a) +
                  "\" cannot be handed to the desktop's email program.");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "calls.log"));
  options_.searchPath = (dir_ / "nowhere").string();
  EXPECT_FALSE(DesktopMailAvailable(options_));
  EXPECT_EQ(SendThroughDesktop("a@x.test", "", {}, options_, progress).message.rfind(
                "No desktop email program was found", 0),
            0u);
}

class SendSettingsTest : public ::testing::Test {
 protected:
  mode_t FileMode() const {
    struct stat st{};
    return ::stat(settings_.locations().userFile.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
  }
  std::string FileText() const { return ReadFileBytes(settings_.locations().userFile); }

  TempDir dir_;
  settings::Settings settings_{settings::FolderLocations(dir_.path())};
  SessionPasswords session_;
};

TEST_F(SendSettingsTest, PasswordsAreStoredOnlyWhenAskedAndThenPrivately) {
  SendFileSettings ftp;
  ftp.method = SendMethod::Ftp;
  ftp.ftpServer = "ftp.example.org";
  ftp.ftpUser = "joe";
  ftp.ftpPassword = "hunter2";
  ftp.ftpDirectory = "in";
  ftp.Store(settings_, session_);
  EXPECT_EQ(FileText().find("hunter2"), std::string::npos);
  EXPECT_EQ(SendFileSettings::Load(settings_, session_).ftpPassword, "hunter2");  // the session's
  EXPECT_EQ(SendFileSettings::Load(settings_).ftpPassword, "");

  ftp.rememberPasswords = true;
  ftp.Store(settings_, session_);
  EXPECT_NE(FileText().find("FtpPassword=hunter2"), std::string::npos);
  EXPECT_EQ(FileMode(), 0600u);
  EXPECT_EQ(SendFileSettings::Load(settings_).ftpPassword, "hunter2");

  ftp.rememberPasswords = false;  // forgetting removes it from the file
  ftp.Store(settings_, session_);
  EXPECT_EQ(FileText().find("hunter2"), std::string::npos);

  EmailSettings mail;
  mail.useDesktop = false;
  mail.smtpHost = "smtp.example.org:joe:s3cret";
  mail.replyTo = "joe@example.org";
  mail.Store(settings_, session_);
  EXPECT_EQ(settings_.GetString("Email", "MailSMTPHost", ""), "joe@smtp.example.org");
  EXPECT_EQ(FileText().find("s3cret"), std::string::npos);
  EXPECT_EQ(EmailSettings::Load(settings_, session_).smtpHost, "joe:s3cret@smtp.example.org");
  mail.rememberPassword = true;
  mail.Store(settings_, session_);
  EXPECT_EQ(settings_.GetString("Email", "MailSMTPHost", ""), "smtp.example.org:joe:s3cret");
  // Unticking the shared box in Send File forgets the mail password as well.
  ftp.Store(settings_, session_);
  EXPECT_EQ(FileText().find("s3cret"), std::string::npos);
  EXPECT_EQ(session_.smtpPassword, "s3cret");
}

TEST_F(SendSettingsTest, DialogsRefuseWithTheirMessages) {
  SendFileSettings send;
  EXPECT_EQ(send.Validate()->text, "Please enter the email address of the recipient.");
  send.address = "a@x.test";
  EXPECT_FALSE(send.Validate());
  send.method = SendMethod::Ftp;
  send.ftpServer = send.ftpUser = send.ftpPassword = "x";
  EXPECT_EQ(send.Validate()->text,
            "FTP Server or user details are required. If you don't know what they are, contact "
            "the ftp server hosting company.");
  send.ftpDirectory = "/";
  EXPECT_FALSE(send.Validate());

  EmailSettings mail;
  EXPECT_EQ(mail.Validate(false)->caption, "Desktop Email Not Detected");
  EXPECT_FALSE(mail.Validate(true));
  mail.useDesktop = false;
  EXPECT_EQ(mail.Validate(true)->caption, "Mailhost Required");
  mail.smtpHost = "smtp.example.org";
  EXPECT_EQ(mail.Validate(true)->caption, "Reply Email Required");
  mail.replyTo = "me@example.org";
  EXPECT_FALSE(mail.Validate(true));
}

}  // namespace
}  // namespace quillet::send
