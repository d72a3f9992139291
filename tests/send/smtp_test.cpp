// The SMTP sender against aiosmtpd on loopback: the exact dialogue, HELO after a
// refused EHLO, STARTTLS, AUTH PLAIN, refused recipients, and cancelling at each step.
#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "send/smtp.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;

constexpr const char* kDate = "Tue, 04 Mar 2025 09:05:07 +0100";

class SmtpTest : public ::testing::Test {
 protected:
  // Starts aiosmtpd recording into dir/server; false when it cannot run here.
  bool StartServer(std::vector<std::string> args = {}) {
    std::filesystem::create_directory(dir_ / "server");
    args.insert(args.begin(), (dir_ / "server").string());
    return server_.Start("smtp_server.py", args);
  }
  std::string Host(const std::string& credentials = "") const {
    return credentials + (credentials.empty() ? "" : "@") + Loopback(server_.port());
  }
  std::filesystem::path Attachment(const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    if (size == 58)
      for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i);
    WriteFileBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  MailJob Job(const std::string& host, std::vector<std::filesystem::path> files) {
    return MailJob{"a@x.test,,b@y.test", "me@here.test", "", "", std::move(files), host};
  }
  SmtpOptions Options() const {
    SmtpOptions o;
    o.localName = "client.test";
    o.date = kDate;
    return o;
  }
  std::string Dialogue() const { return ReadFileBytes(dir_ / "server" / "dialogue.log"); }
  std::string Received(const std::string& file) const {
    return ReadFileBytes(dir_ / "server" / file);
  }

  TempDir dir_;
  PythonServer server_;
};

#define START_OR_FAIL(...) \
  if (!StartServer(__VA_ARGS__)) FAIL() << server_.why()

TEST_F(SmtpTest, AuthenticatedMailWithAttachmentIsTheDialogueExactly) {
  START_OR_FAIL({"--auth", "user:pass"});
  const auto clip = Attachment("clip.wav", 58);
  ScriptedProgress progress;
  const SmtpResult r = SendMail(Job(Host("user:pass"), {clip}), Options(), progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_TRUE(r.authenticated);
  EXPECT_FALSE(r.encrypted);
  const std::string b = "gc0p4Jq0M2Yt08jU534c0";
  EXPECT_EQ(Dialogue(),
            "EHLO client.test\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\n"
            "MAIL FROM:<me@here.test>\r\nRCPT TO:<a@x.test>\r\nRCPT TO:<b@y.test>\r\nDATA\r\n"
            "MIME-Version: 1.0\r\nFrom: me@here.test\r\nTo: a@x.test, b@y.test\r\nSubject: \r\n"
            "Date: " + std::string(kDate) + "\r\n"
            "X-Mailer: Quillet https://www.orvanta.com/quillet\r\n"
            "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n"
            "Content-Type: text/plain\r\n\r\n"
            "\r\n--" + b + "\r\nContent-Type: audio/wav; name=\"clip.wav\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"clip.wav\"\r\n\r\n"
            "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\n"
            "OQ==\r\n"
            "\r\n--" + b + "--\r\n"
            "\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(Received("mail1.rcpt"), "a@x.test\nb@y.test");
  EXPECT_EQ(Received("mail1.part1"), ReadFileBytes(clip));
  EXPECT_EQ(progress.fractions.back(), 1.0);
}

TEST_F(SmtpTest, RefusedEhloFallsBackToHelo) {
  START_OR_FAIL({"--no-ehlo"});
  ScriptedProgress progress;
  const SmtpResult r = SendMail(Job(Host(), {}), Options(), progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_EQ(Dialogue().substr(0, 60),
            "EHLO client.test\r\nHELO client.test\r\nMAIL FROM:<me@here.test>");
}

TEST_F(SmtpTest, BodyDotsAndSeveralAttachmentsArriveIntact) {
  START_OR_FAIL();
  const auto wav = Attachment("a.wav", 100000);
  const auto mp3 = Attachment("bü.mp3", 57 * 3);
  MailJob job = Job(Host(), {wav, mp3});
  job.body = ".first\nsecond\r\n.\n";
  job.subject = "Take two";
  ScriptedProgress progress;
  const SmtpResult r = SendMail(job, Options(), progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_EQ(Received("mail1.part1"), ReadFileBytes(wav));
  EXPECT_EQ(Received("mail1.part2"), ReadFileBytes(mp3));
  const std::string eml = Received("mail1.eml");
  EXPECT_NE(eml.find("Content-Type: text/plain\r\n\r\n.first\r\nsecond\r\n.\r\n"), std::string::npos);
  EXPECT_NE(eml.find("filename*=UTF-8''b%C3%BC.mp3"), std::string::npos);
  EXPECT_NE(Dialogue().find("\r\n..first\r\nsecond\r\n..\r\n"), std::string::npos);
  // Attachment progress climbs from 0.3 to 0.9.
  EXPECT_TRUE(std::is_sorted(progress.fractions.begin(), progress.fractions.end()));
}

TEST_F(SmtpTest, StartTlsIsUsedWhenOfferedAndTheCertificateChecked) {
  TempDir certs;
  QUILLET_REQUIRE_PROGRAMS("openssl");
  ASSERT_TRUE(MakeCertificate(certs.path()));
  START_OR_FAIL({"--auth", "u:p", "--tls", (certs / "cert.pem").string(),
                 (certs / "key.pem").string()});
  SmtpOptions o = Options();
  o.caFile = (certs / "cert.pem").string();
  ScriptedProgress progress;
  const SmtpResult r = SendMail(Job(Host("u:p"), {Attachment("c.wav", 58)}), o, progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_TRUE(r.encrypted);
  EXPECT_TRUE(r.authenticated);
  EXPECT_EQ(Dialogue().rfind("EHLO client.test\r\nSTARTTLS\r\nEHLO client.test\r\nAUTH LOGIN\r\n", 0),
            0u);
  EXPECT_EQ(Received("mail1.part1"), ReadFileBytes(dir_ / "c.wav"));

  // A certificate nobody vouches for ends the dialogue before the password is sent.
  std::filesystem::remove(dir_ / "server" / "dialogue.log");
  const SmtpResult untrusted = SendMail(Job(Host("u:p"), {}), Options(), progress);
  EXPECT_EQ(untrusted.outcome.result, platform::kTaskFailed);
  EXPECT_EQ(untrusted.outcome.message.rfind(
                "Unable to make a secure (TLS) connection to mail server \"127.0.0.1\"", 0),
            0u)
      << untrusted.outcome.message;
  EXPECT_EQ(Dialogue(), "EHLO client.test\r\nSTARTTLS\r\n");
}

TEST_F(SmtpTest, AuthPlainWhereLoginIsNotOfferedAndWrongPasswordsRefused) {
  START_OR_FAIL({"--auth", "u:p", "--no-login"});
  ScriptedProgress progress;
  SmtpResult r = SendMail(Job(Host("u:p"), {}), Options(), progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_NE(Dialogue().find("AUTH PLAIN AHUAcA==\r\nMAIL FROM"), std::string::npos);

  r = SendMail(Job(Host("u:wrong"), {}), Options(), progress);
  EXPECT_EQ(r.outcome.result, platform::kTaskFailed);
  EXPECT_EQ(r.outcome.message, "Email authentication username or password not accepted");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "server" / "mail2.eml"));
}

TEST_F(SmtpTest, OneAcceptedRecipientIsEnoughNoneIsRefused) {
  START_OR_FAIL({"--refuse-rcpt", "refuse"});
  ScriptedProgress progress;
  MailJob job = Job(Host(), {});
  job.recipients = "x@refuse.test, b@y.test";
  SmtpResult r = SendMail(job, Options(), progress);
  ASSERT_TRUE(r.outcome.done()) << r.outcome.message;
  EXPECT_EQ(Received("mail1.rcpt"), "b@y.test");

  job.recipients = "x@refuse.test,y@refuse.test";
  r = SendMail(job, Options(), progress);
  EXPECT_EQ(r.outcome.message,
            "Mail send error (RCPT TO not accepted). Your server may required authenticated "
            "email. Append :username:password to the SMTP server name for authentication.");
  EXPECT_EQ(Dialogue().find("DATA\r\nQUIT"), std::string::npos);
}

// Cancelling anywhere ends the task as cancelled, silently; once the message is sent,
// the mail is the server's and the send counts as done.
TEST_F(SmtpTest, CancelAtAnyWaitEndsWithoutMessage) {
  START_OR_FAIL();
  const auto clip = Attachment("big.wav", 400000);
  for (const char* step : {"Connecting to server", "Logon to mail server", "Sending Message Text",
                           "Sending Message Attachment(s)"}) {
    ScriptedProgress progress;
    progress.cancelAtText = step;
    const SmtpResult r = SendMail(Job(Host(), {clip}), Options(), progress);
    EXPECT_EQ(r.outcome.result, platform::kTaskCancelled) << step;
    EXPECT_EQ(r.outcome.message, "") << step;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "server" / "mail1.eml"));
  int call = 1;
  for (;; ++call) {
    ScriptedProgress progress;
    progress.cancelAtCall = call;
    const SmtpResult r = SendMail(Job(Host(), {clip}), Options(), progress);
    ASSERT_NE(r.outcome.result, platform::kTaskFailed) << "call " << call << ": " << r.outcome.message;
    if (r.outcome.done() && progress.calls < call) break;  // got through without being asked
  }
  EXPECT_GT(call, 5);
}

}  // namespace
}  // namespace quillet::send
