// Sending a document's audio: saved in the chosen format into a private temporary
// file named after the document, sent by each route, the temporary file gone after
// (kept in the outbox for a desktop hand-off); the person's own file never touched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "core/clipboard.h"
#include "core/segment_store.h"
#include "fixtures/programs.h"
#include "formats/document_io.h"
#include "formats/wav_writer.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"
#include "send/send_command.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;

class SendAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    std::filesystem::create_directories(dir_ / "tmp");
    std::filesystem::create_directories(dir_ / "server");
    // The document: one second of a 16-bit stereo ramp, from the person's own file.
    formats::LWavePCMSoundSink sink(own_, 22050, 0, 16, 2);
    std::vector<audio::Sample> block(22050 * 2);
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<audio::Sample>((static_cast<int>(i % 4001) - 2000) * 16);
    sink.write(block.data(), 22050);
    ASSERT_TRUE(sink.Finish());
    ownBytes_ = ReadFileBytes(own_);
    formats::LoadFileTask load(own_, store_, formats::DispatchEnv(settings_));
    load.Run(owner_);
    ASSERT_EQ(load.result, platform::kTaskDone);
    chain_ = load.chain();
  }
  void TearDown() override {
    for (const char* v : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"}) unsetenv(v);
    EXPECT_EQ(ReadFileBytes(own_), ownBytes_);  // the person's file is never written
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
  }
  SendRequest SmtpRequest(int port) const {
    SendRequest r;
    r.recipients = "a@x.test";
    r.email.useDesktop = false;
    r.email.smtpHost = Loopback(port);
    r.email.replyTo = "me@here.test";
    return r;
  }

  TempDir dir_;
  std::filesystem::path own_ = dir_ / "song.wav";
  std::string ownBytes_;
  core::SegmentStore store_{dir_.path()};
  core::ProgramClipboard clipboard_{&store_};
  platform::ScriptedProgressFactory owner_;
  settings::Settings settings_{settings::FolderLocations(dir_ / "settings")};
  core::EditContext ctx_{store_, clipboard_, owner_, settings_};
  core::AudioChain chain_{&store_};
  SendRoutes routes_;
  PythonServer server_;
};

TEST_F(SendAudioTest, DocumentArrivesByMailInEachFormat) {
  if (!server_.Start("smtp_server.py", {(dir_ / "server").string()})) FAIL() << server_.why();
  ASSERT_EQ(SendAudio(ctx_, chain_, "song.wav", "wav", SmtpRequest(server_.port()), routes_),
            platform::kTaskDone)
      << ctx_.message;
  EXPECT_EQ(ReadFileBytes(dir_ / "server" / "mail1.part1"), ownBytes_);
  EXPECT_NE(ReadFileBytes(dir_ / "server" / "mail1.eml").find("filename=\"song.wav\""), std::string::npos);
  EXPECT_NE(std::find(owner_.log().begin(), owner_.log().end(), "caption Sending File..."),
            owner_.log().end());

  QUILLET_REQUIRE_PROGRAMS("lame");
  ASSERT_EQ(SendAudio(ctx_, chain_, "song.wav", "MP3", SmtpRequest(server_.port()), routes_),
            platform::kTaskDone)
      << ctx_.message;
  const std::string eml = ReadFileBytes(dir_ / "server" / "mail2.eml");
  EXPECT_NE(eml.find("Content-Type: audio/mpeg; name=\"song.mp3\""), std::string::npos);
  const std::string mp3 = ReadFileBytes(dir_ / "server" / "mail2.part1");
  ASSERT_GT(mp3.size(), 1000u);
  EXPECT_TRUE(mp3.rfind("ID3", 0) == 0 || static_cast<unsigned char>(mp3[0]) == 0xFF);
}

TEST_F(SendAudioTest, UploadAndHandOffKeepTheirCopyOnlyWhereNeeded) {
  std::filesystem::create_directories(dir_ / "root");
  if (!server_.Start("ftp_server.py", {(dir_ / "root").string(), "joe", "pw"}))
    FAIL() << server_.why();
  SendRequest ftp;
  ftp.method = SendMethod::Ftp;
  ftp.ftp = FtpJob{Loopback(server_.port()), "joe", "pw", "/", {}};
  ASSERT_EQ(SendAudio(ctx_, chain_, "Untitled 2", "wav", ftp, routes_), platform::kTaskDone)
      << ctx_.message;
  EXPECT_EQ(ReadFileBytes(dir_ / "root" / "Untitled 2.wav"), ownBytes_);

  // The mail program reads its attachment whenever the person sends: the copy stays.
  std::filesystem::create_directories(dir_ / "bin");
  WriteFileBytes(dir_ / "bin" / "xdg-email", "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(dir_ / "bin" / "xdg-email", std::filesystem::perms::owner_all);
  routes_.desktop.searchPath = (dir_ / "bin").string();
  SendRequest desktop;
  desktop.recipients = "a@x.test";
  ASSERT_EQ(SendAudio(ctx_, chain_, "song.wav", "wav", desktop, routes_), platform::kTaskDone)
      << ctx_.message;
  const auto outbox = dir_ / "cache" / "Orvanta" / "Quillet" / "Outbox";
  ASSERT_EQ(OutboxFolder(), outbox);
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(outbox)) {
    EXPECT_EQ(ReadFileBytes(entry.path() / "song.wav"), ownBytes_);
    ++kept;
  }
  EXPECT_EQ(kept, 1);
}

TEST_F(SendAudioTest, FailuresAreShownOnceAndLeaveNothingBehind) {
  EXPECT_EQ(SendAudio(ctx_, chain_, "song.wav", "m3u", SmtpRequest(1), routes_), platform::kTaskFailed);
  EXPECT_EQ(ctx_.message, "Files cannot be sent as \"m3u\".");
  EXPECT_FALSE(ctx_.messageShown);

  int port = 0;
  { ScriptedServer gone([](auto&) {}); port = gone.port(); }
  EXPECT_EQ(SendAudio(ctx_, chain_, "song.wav", "wav", SmtpRequest(port), routes_), platform::kTaskFailed);
  EXPECT_EQ(ctx_.message, "Unable to connect to mail server \"127.0.0.1\".");
  EXPECT_TRUE(ctx_.messageShown);
  EXPECT_EQ(std::count(owner_.log().begin(), owner_.log().end(),
                       "message Error: Unable to connect to mail server \"127.0.0.1\"."),
            1);
}

// The editor's side in a script: each OK of the dialog sends the next values.
struct ScriptedFront final : SendFront {
  std::vector<SendFileSettings> oks;
  std::function<void(int)> beforeOk;  // what the person changes before the n-th OK
  int shown = 0;
  int tries = 0;
  bool RunSendDialog(SendFileSettings&, SessionPasswords&, const SendAction& send) override {
    ++shown;
    for (const SendFileSettings& v : oks) {
      if (beforeOk) beforeOk(++tries);
      if (send(v)) return true;
    }
    return false;  // cancelled after the last try
  }
  bool SaveDocument(core::WaveDocument&) override { return false; }
  SessionPasswords& sessionPasswords() override { return session; }
  SessionPasswords session;
};

TEST_F(SendAudioTest, CommandAsksToSaveThenKeepsTheDialogUntilSent) {
  if (!server_.Start("smtp_server.py", {(dir_ / "server").string()})) FAIL() << server_.why();
  platform::ScriptedPrompter prompter;
  ctx_.prompter = &prompter;
  settings_.SetBool("Email", "UseMAPI", false);
  settings_.SetString("Email", "ReplyToEmail", "me@here.test");
  core::WaveDocument doc(chain_, 3);
  doc.SetModified(true);

  ScriptedFront front;
  prompter.QueueAnswer(platform::Answer::Cancel);
  EXPECT_EQ(SendCommand(ctx_, doc, front, routes_), platform::kTaskCancelled);
  EXPECT_EQ(front.shown, 0);
  EXPECT_EQ(prompter.shown().at(0).text, "Save changes to \"Untitled 3\"?");

  // An empty address is refused, an unreachable server fails; the dialog stays for
  // both and the person fixes the host before the third OK.
  SendFileSettings empty, good;
  good.address = "a@x.test";
  good.format = "mp3x";  // not a format: the document's own (WAVE) is used
  front.oks = {empty, good, good};
  front.beforeOk = [&](int n) {
    settings_.SetString("Email", "MailSMTPHost", Loopback(n == 3 ? server_.port() : 1));
  };
  prompter.QueueAnswer(platform::Answer::No);
  EXPECT_EQ(SendCommand(ctx_, doc, front, routes_), platform::kTaskDone) << ctx_.message;
  EXPECT_EQ(front.tries, 3);
  EXPECT_EQ(prompter.shown().at(2).text, "Please enter the email address of the recipient.");
  EXPECT_EQ(settings_.GetString("SendEmail", "Address", ""), "a@x.test");
  EXPECT_EQ(ReadFileBytes(dir_ / "server" / "mail1.part1"), ownBytes_);
  EXPECT_NE(ReadFileBytes(dir_ / "server" / "mail1.eml").find("name=\"Untitled 3.wav\""),
            std::string::npos);
  EXPECT_TRUE(prompter.problems().empty());
}

TEST(SendFormatChoice, WritableSingleFileFormatsOnly) {
  const std::vector<std::string> formats = SendFormats();
  for (const char* ext : {"wav", "mp3", "ogg", "flac", "aiff"})
    EXPECT_NE(std::find(formats.begin(), formats.end(), ext), formats.end()) << ext;
  for (const char* ext : {"m3u", "xyz"})
    EXPECT_EQ(std::find(formats.begin(), formats.end(), ext), formats.end()) << ext;
  EXPECT_EQ(ChooseSendFormat("MP3", "a.wav"), "mp3");
  EXPECT_EQ(ChooseSendFormat("", "a.FLAC"), "flac");
  EXPECT_EQ(ChooseSendFormat("m3u", "a.m3u"), "wav");
}

}  // namespace
}  // namespace quillet::send
