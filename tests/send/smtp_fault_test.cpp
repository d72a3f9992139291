// Servers that misbehave: silence, floods, trickles, a dropped connection mid-DATA,
// data injected before TLS; and mails refused before any connection is made. Each ends
// with its message within the time-out, and the attachment is never changed.
#include <gtest/gtest.h>

#include <chrono>

#include "send/smtp.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;
using Peer = ScriptedServer::Peer;
using Clock = std::chrono::steady_clock;

MailJob OneMail(const std::string& host, std::vector<std::filesystem::path> files = {}) {
  return {"a@x.test", "me@here.test", "", "", std::move(files), host};
}

// Waits out the client.
void Idle(Peer& peer) {
  while (!peer.stopping() && !peer.closed()) peer.ReadLine(50);
}

// A server that takes the mail up to DATA, then runs then.
ScriptedServer::Handler UpToData(std::function<void(Peer&)> then) {
  return [then](Peer& p) {
    p.Send("220 hi\r\n");
    for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
      p.ReadLine();
      p.Send(reply);
    }
    then(p);
  };
}

struct FaultCase {
  const char* name;
  ScriptedServer::Handler handler;
  std::vector<std::string> messages;  // any of these
};

TEST(SmtpFaults, MisbehavingServersEndWithTheirMessageInTime) {
  const std::string lost = "The connection to mail server \"127.0.0.1\" was lost while sending the message.";
  const std::string endRefused = "Mail host server error (data terminator not accepted)";
  const FaultCase cases[] = {
      {"silent", Idle, {"Mail server not responding"}},
      {"flood of lines",
       [](Peer& p) {
         while (!p.stopping() && p.Send("220-flood flood flood flood\r\n")) {
         }
       },
       {"Mail server not responding"}},
      {"one endless line",
       [](Peer& p) {
         p.Send("220");
         while (!p.stopping() && p.Send(std::string(1000, ' '))) {
         }
       },
       {"Mail server not responding"}},
      {"trickle",
       [](Peer& p) {
         while (!p.stopping() && p.Send("2")) std::this_thread::sleep_for(std::chrono::milliseconds(50));
       },
       {"Mail server not responding"}},
      {"EHLO and HELO refused",
       [](Peer& p) {
         p.Send("220 hi\r\n");
         while (!p.stopping() && !p.closed()) p.Send(p.ReadLine(50).empty() ? "" : "502 no\r\n");
       },
       {"Mail host server error (HELO not accepted)"}},
      {"dropped mid-DATA", UpToData([](Peer& p) { p.ReadUntil("Content-Type"); }), {lost, endRefused}},
      {"silent after DATA", UpToData(Idle), {lost, endRefused}},
      {"injection before TLS",
       [](Peer& p) {
         p.Send("220 hi\r\n");
         p.ReadLine();
         p.Send("250-hi\r\n250 STARTTLS\r\n");
         p.ReadLine();
         p.Send("220 go ahead\r\n250 injected\r\n");
         Idle(p);
       },
       {"Unable to make a secure (TLS) connection to mail server \"127.0.0.1\": the server sent "
        "data before the handshake."}},
  };
  TempDir dir;
  std::string bytes(2'000'000, 'q');
  WriteFileBytes(dir / "big.wav", bytes);
  SmtpOptions o;
  o.replyMs = 600;
  o.commandMs = 600;
  o.bodyMs = 600;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.handler);
    ScriptedProgress progress;
    const auto start = Clock::now();
    const SmtpResult r = SendMail(OneMail(Loopback(server.port()), {dir / "big.wav"}), o, progress);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.outcome.result, platform::kTaskFailed);
    EXPECT_NE(std::find(c.messages.begin(), c.messages.end(), r.outcome.message), c.messages.end())
        << r.outcome.message;
  }
  EXPECT_EQ(ReadFileBytes(dir / "big.wav"), bytes);
}

// Refusals that need no server, and a server that is not there: nothing reaches the
// listening one.
TEST(SmtpFaults, BadMailsAreRefusedBeforeConnecting) {
  TempDir dir;
  ScriptedServer server(Idle);
  const std::string host = Loopback(server.port());
  int closedPort = 0;  // nobody listens there
  { ScriptedServer gone(Idle); closedPort = gone.port(); }
  const std::string lineBreaks = "Email addresses, the subject and attachment names cannot contain line breaks.";
  struct Case {
    MailJob job;
    std::string message;
  };
  const Case cases[] = {
      {{"a@x.test", "me@here.test", "Hi\r\nBcc: all@x.test", "", {}, host}, lineBreaks},
      {{"a@x.test\r\nRCPT TO:<b@y.test>", "me@here.test", "", "", {}, host}, lineBreaks},
      {OneMail(host, {dir / "a\nb.wav"}), lineBreaks},
      {{" , ", "me@here.test", "", "", {}, host}, "Please enter the email address of the recipient."},
      {{"a@x.test", " ", "", "", {}, host},
       "If you choose SMTP you must enter a valid reply-to address. Enter your email address."},
      {OneMail(""),
       "Unable to send email because you have not entered your SMTP host using Email Settings."},
      {OneMail(host, {dir / "missing.wav"}),
       "The file \"missing.wav\" cannot be read, so no mail was sent."},
      {OneMail("127.0.0.1:0"), "Unable to connect to mail server \"127.0.0.1\"."},
      {OneMail(Loopback(closedPort)), "Unable to connect to mail server \"127.0.0.1\"."},
  };
  for (const Case& c : cases) {
    ScriptedProgress progress;
    const SmtpResult r = SendMail(c.job, {}, progress);
    EXPECT_EQ(r.outcome.message, c.message);
  }
  EXPECT_EQ(server.connections(), 0);
}

// An attachment that cannot be read to its end must not go out as a shorter file:
// the message is never ended, so the server discards it.
TEST(SmtpFaults, UnreadableAttachmentNeverEndsTheData) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.wav");  // opens, but reading fails
  bool terminated = false;
  ScriptedServer server(UpToData([&](Peer& p) {
    terminated = !p.ReadUntil("\r\n.\r\n", 1500).empty();
    Idle(p);
  }));
  ScriptedProgress progress;
  const SmtpResult r = SendMail(OneMail(Loopback(server.port()), {dir / "folder.wav"}), {}, progress);
  EXPECT_EQ(r.outcome.message, "The file \"folder.wav\" could not be read to its end; the mail was not sent.");
  EXPECT_FALSE(terminated);
}

TEST(SmtpFaults, CancelWhileTheServerIsSilent) {
  ScriptedServer server(Idle);
  ScriptedProgress progress;
  progress.cancelAtCall = 5;  // a second into the 40 s wait (200 ms steps)
  const auto start = Clock::now();
  const SmtpResult r = SendMail(OneMail(Loopback(server.port())), {}, progress);
  EXPECT_EQ(r.outcome.result, platform::kTaskCancelled);
  EXPECT_EQ(r.outcome.message, "");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace quillet::send
