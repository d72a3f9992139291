// The pure parts of a mail: base64, the Date header, the boundary, dot-stuffing, the
// recipient list, the host text and the reply reader.
#include <gtest/gtest.h>

#include "send/mime.h"
#include "send/reply.h"
#include "send/smtp_host.h"

namespace quillet::send {
namespace {

// RFC 4648, section 10.
TEST(MailText, Base64MatchesTheStandardsVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64(in), out) << in;
  EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
  EXPECT_EQ(Base64(std::string(kBase64LineBytes, 'x')).size(), 76u);
}

// The zone's sign belongs to the whole offset; half and quarter hours survive.
TEST(MailText, DateHeaderPrintsEveryZone) {
  std::tm t{};
  t.tm_year = 125;  // 2025
  t.tm_mon = 2;
  t.tm_mday = 4;
  t.tm_wday = 2;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  const std::pair<long, const char*> zones[] = {
      {0, "+0000"},           {3600, "+0100"},        {-5 * 3600, "-0500"},
      {5 * 3600 + 1800, "+0530"}, {-(3 * 3600 + 1800), "-0330"}, {-1800, "-0030"},
      {5 * 3600 + 2700, "+0545"}, {14 * 3600, "+1400"}};
  for (const auto& [offset, zone] : zones)
    EXPECT_EQ(FormatMailDate(t, offset), std::string("Tue, 04 Mar 2025 09:05:07 ") + zone);
  t.tm_wday = 0;
  t.tm_mon = 11;
  EXPECT_EQ(FormatMailDate(t, 0).substr(0, 16), "Sun, 04 Dec 2025");
}

TEST(MailText, BoundaryAvoidsTheBody) {
  EXPECT_EQ(ChooseBoundary("hello"), "gc0p4Jq0M2Yt08jU534c0");
  EXPECT_EQ(ChooseBoundary("gc0p4Jq0M2Yt08jU534c0 gc0p4Jq0M2Yt08jU534c1"), "gc0p4Jq0M2Yt08jU534c2");
  std::string all;
  for (int n = 0; n < 100; ++n) all += "gc0p4Jq0M2Yt08jU534c" + std::to_string(n) + "\n";
  const std::string b = ChooseBoundary(all);
  EXPECT_EQ(all.find(b), std::string::npos) << b;
}

TEST(MailText, DotsAreStuffedAfterLineEndsAreMadeCrlf) {
  const std::pair<const char*, const char*> cases[] = {
      {".first", "..first"},  // the body's first line starts a line too
      {"a\n.b", "a\r\n..b"},
      {"a\r.b\r\n.", "a\r\n..b\r\n.."},
      {"a.b\r\n\r\n.\r\n", "a.b\r\n\r\n..\r\n"},
      {"no dots", "no dots"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(StuffDots(in), out) << in;
}

TEST(MailText, RecipientsAreTrimmedAndEmptyPartsDropped) {
  EXPECT_EQ(SplitRecipients(" a@x.test ,, b@y.test\t,"),
            (std::vector<std::string>{"a@x.test", "b@y.test"}));
  EXPECT_TRUE(SplitRecipients(" , ").empty());
  EXPECT_TRUE(HasLineBreak("a@x\r\nRCPT TO:<evil>"));
  EXPECT_TRUE(HasLineBreak(std::string("a\0b", 3)));
  EXPECT_FALSE(HasLineBreak("plain subject"));
}

TEST(MailText, AttachmentPartNamesItsTypeAndQuotesTheName) {
  EXPECT_EQ(AttachmentType("a.WAV"), "audio/wav");
  EXPECT_EQ(AttachmentType("a.mp3"), "audio/mpeg");
  EXPECT_EQ(AttachmentType("a.flac"), "application/octet-stream");
  EXPECT_EQ(AttachmentStart("B", "say \"hi\".mp3"),
            "\r\n--B\r\nContent-Type: audio/mpeg; name=\"say \\\"hi\\\".mp3\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
            "filename=\"say \\\"hi\\\".mp3\"\r\n\r\n");
}

// Text beyond ASCII cannot go raw into headers; a mail parser must give it back.
TEST(MailText, HeadersBeyondAsciiAreEncoded) {
  MailHead head{"me@x.test", {"a@x.test"}, "Grüße aus Köln, eine längere Betreffzeile mit Umlauten äöü", "d"};
  const std::string start = MessageStart(head, "", "");
  const std::size_t at = start.find("Subject: ");
  const std::string subject = start.substr(at, start.find("\r\nDate:") - at);
  EXPECT_EQ(subject.rfind("Subject: =?UTF-8?B?", 0), 0u) << subject;
  EXPECT_NE(subject.find("?=\r\n =?UTF-8?B?"), std::string::npos) << "folded into several words";
  EXPECT_EQ(AttachmentStart("B", "Müller.wav"),
            "\r\n--B\r\nContent-Type: audio/wav; name=\"=?UTF-8?B?TcO8bGxlci53YXY=?=\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
            "filename*=UTF-8''M%C3%BCller.wav\r\n\r\n");
}

TEST(SmtpHostText, BothFormsWithPortsAndCredentials) {
  struct Case {
    const char* text;
    SmtpHost want;
  };
  const Case cases[] = {
      {"mail.example.org", {"mail.example.org", 25, "", "", true}},
      {"mail.example.org:2525", {"mail.example.org", 2525, "", "", true}},  // a port, not a user
      {"mail.example.org:joe:secret", {"mail.example.org", 25, "joe", "secret", true}},
      {"mail.example.org:joe", {"mail.example.org", 25, "joe", "", true}},
      {"user:pass@127.0.0.1:2525", {"127.0.0.1", 2525, "user", "pass", true}},
      {"joe@example.org:pw@smtp.example.org", {"smtp.example.org", 25, "joe@example.org", "pw", true}},
      {"joe@example.org:p@ss@smtp.example.org:587",
       {"smtp.example.org", 587, "joe@example.org", "p@ss", true}},
      {"u:p@[::1]:2525", {"::1", 2525, "u", "p", true}},
      {"[::1]:2525", {"::1", 2525, "", "", true}},
      {"u:p@host:99999", {"host", 25, "u", "p", false}},
      {"u:p@host:0", {"host", 25, "u", "p", false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseSmtpHost(c.text), c.want);
  }
}

TEST(SmtpHostText, FormattingWithoutThePasswordParsesBack) {
  const SmtpHost h = ParseSmtpHost("mail.example.org:joe:secret");
  EXPECT_EQ(FormatSmtpHost(h, false), "joe@mail.example.org");
  const SmtpHost back = ParseSmtpHost(FormatSmtpHost(h, false));
  EXPECT_EQ(back.user, "joe");
  EXPECT_EQ(back.password, "");
  for (const char* text : {"a@b:p@h:587", "u:p@[::1]:2525"})
    EXPECT_EQ(ParseSmtpHost(FormatSmtpHost(ParseSmtpHost(text), true)), ParseSmtpHost(text)) << text;
}

std::vector<Reply> ReadAll(std::string_view bytes, std::size_t chunk, ReplyLimits limits = {},
                           int* refused = nullptr) {
  ReplyReader reader(limits);
  std::vector<Reply> out;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    std::string_view piece = bytes.substr(at, chunk);
    while (!piece.empty()) {
      const auto state = reader.Feed(piece);
      if (state == ReplyReader::State::Complete) out.push_back(reader.reply());
      if (state == ReplyReader::State::TooLong) {
        if (refused) ++*refused;
        return out;  // the caller gives up on the connection
      }
    }
  }
  return out;
}

// A server may cut its bytes anywhere: the replies must not depend on where.
TEST(ReplyReading, RepliesDoNotDependOnHowBytesArrive) {
  const std::string bytes =
      "220 ready\r\n250-loopback.test\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n"
      "53\r\n354 go ahead\nxyz 1\r\n";
  for (std::size_t chunk : {1u, 2u, 7u, 4096u}) {
    SCOPED_TRACE(chunk);
    const auto replies = ReadAll(bytes, chunk);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_EQ(replies[1].code, 250);
    EXPECT_EQ(replies[1].lines.size(), 3u);
    EXPECT_EQ(replies[2].code, 0);  // shorter than three digits
    EXPECT_EQ(replies[3].code, 354);  // a bare LF ends a line too
    EXPECT_EQ(replies[4].code, 0);
  }
}

TEST(ReplyReading, BoundedInLineLengthCountAndBytes) {
  const auto longLine = ReadAll("250 " + std::string(5000, 'x') + "\r\n", 100);
  ASSERT_EQ(longLine.size(), 1u);
  EXPECT_EQ(longLine[0].lines[0].size(), 258u);
  EXPECT_EQ(longLine[0].code, 250);

  std::string flood;
  for (int i = 0; i < 150; ++i) flood += "220-more\r\n";
  int refused = 0;
  EXPECT_TRUE(ReadAll(flood + "220 done\r\n", 64, {}, &refused).empty());
  EXPECT_EQ(refused, 1);

  refused = 0;
  ReadAll(std::string(70000, 'x'), 4096, {}, &refused);  // one endless line
  EXPECT_EQ(refused, 1);
}

TEST(ReplyReading, CapabilitiesOfAnEhloReply) {
  const auto caps = [](std::string_view bytes) {
    return ParseCapabilities(ReadAll(bytes, 4096).at(0));
  };
  Capabilities c = caps("250-hi\r\n250-starttls\r\n250 AUTH CRAM-MD5 PLAIN\r\n");
  EXPECT_TRUE(c.startTls);
  EXPECT_TRUE(c.authListed && c.authPlain && !c.authLogin);
  c = caps("250-hi\r\n250 AUTH=LOGIN\r\n");
  EXPECT_TRUE(c.authLogin && !c.startTls);
  c = caps("250 STARTTLS\r\n");  // the greeting line names no extension
  EXPECT_FALSE(c.startTls);
  EXPECT_FALSE(c.authListed);
}

}  // namespace
}  // namespace quillet::send
