// FTP uploads against pyftpdlib on loopback: the file arrives byte for byte in its
// folder (plain and FTPS), and each failure speaks of its step.
#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "send/ftp.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;

class FtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root() / "inbox");
    std::string bytes(300'001, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 256);
    WriteFileBytes(dir_ / "clip.wav", bytes);
  }
  std::filesystem::path root() const { return dir_ / "root"; }
  bool StartServer(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {root().string(), "joe", "secret"};
    args.insert(args.end(), extra.begin(), extra.end());
    return server_.Start("ftp_server.py", args);
  }
  FtpJob Job(const std::string& folder = "inbox", const std::string& password = "secret") const {
    return FtpJob{Loopback(server_.port()), "joe", password, folder, dir_ / "clip.wav"};
  }

  TempDir dir_;
  PythonServer server_;
  FtpOptions options_;
};

#define START_OR_FAIL(...) \
  if (!StartServer(__VA_ARGS__)) FAIL() << server_.why()

TEST_F(FtpTest, UploadArrivesByteForByteInItsFolder) {
  START_OR_FAIL();
  std::filesystem::create_directories(root() / "deep" / "er");
  const std::pair<const char*, std::filesystem::path> folders[] = {
      {"inbox", root() / "inbox"}, {"/inbox/", root() / "inbox"},
      {"deep/er", root() / "deep" / "er"}, {"", root()}};
  for (const auto& [folder, where] : folders) {
    SCOPED_TRACE(folder);
    std::filesystem::remove(where / "clip.wav");
    ScriptedProgress progress;
    const platform::Outcome r = UploadFile(Job(folder), options_, progress);
    ASSERT_TRUE(r.done()) << r.message;
    EXPECT_EQ(ReadFileBytes(where / "clip.wav"), ReadFileBytes(dir_ / "clip.wav"));
    EXPECT_NE(std::find(progress.texts.begin(), progress.texts.end(), "0:Uploading..."),
              progress.texts.end());
    EXPECT_EQ(progress.fractions.back(), 1.0);
  }
}

TEST_F(FtpTest, EachFailureNamesItsStep) {
  START_OR_FAIL();
  const std::string server = Loopback(server_.port());
  const std::pair<FtpJob, std::string> cases[] = {
      {Job("inbox", "wrong"), "Unable to log onto server \"" + server + "\""},
      {Job("nope"), "Unable to change to FTP directory \"nope\""},
      {FtpJob{"", "joe", "secret", "inbox", dir_ / "clip.wav"}, "The FTP server has not be set."},
      {FtpJob{server, "joe", "secret", "inbox", dir_ / "none.wav"},
       "The file \"none.wav\" cannot be read, so it was not uploaded."},
      {FtpJob{server, "joe", "secret\r\nDELE x", "inbox", dir_ / "clip.wav"},
       "FTP user details, folder and file names cannot contain line breaks."},
  };
  for (const auto& [job, message] : cases) {
    ScriptedProgress progress;
    EXPECT_EQ(UploadFile(job, options_, progress).message, message);
  }
  EXPECT_FALSE(std::filesystem::exists(root() / "inbox" / "clip.wav"));

  // A local file that fails while it is read is not an upload.
  std::filesystem::create_directory(dir_ / "folder.wav");
  ScriptedProgress progress;
  EXPECT_EQ(UploadFile(FtpJob{server, "joe", "secret", "inbox", dir_ / "folder.wav"}, options_,
                       progress)
                .message,
            "The file \"folder.wav\" could not be read to its end, so the upload failed.");
}

TEST_F(FtpTest, UploadNeedsTheServersFinalConfirmation) {
  START_OR_FAIL({"--fail-final"});
  ScriptedProgress progress;
  const platform::Outcome r = UploadFile(Job(), options_, progress);
  EXPECT_EQ(r.result, platform::kTaskFailed);
  EXPECT_EQ(r.message.rfind("Unable to upload \"clip.wav\" to server", 0), 0u) << r.message;
}

TEST_F(FtpTest, SecureUploadChecksTheCertificate) {
  TempDir certs;
  QUILLET_REQUIRE_PROGRAMS("openssl");
  ASSERT_TRUE(MakeCertificate(certs.path()));
  START_OR_FAIL({"--tls", (certs / "cert.pem").string(), (certs / "key.pem").string()});
  FtpJob job = Job();
  job.secure = true;
  ScriptedProgress progress;
  const std::string logOn = "Unable to log onto server \"" + Loopback(server_.port()) + "\"";
  platform::Outcome r = UploadFile(job, options_, progress);
  EXPECT_EQ(r.message, logOn);  // nobody vouches for the certificate
  options_.caFile = (certs / "cert.pem").string();
  r = UploadFile(job, options_, progress);
  ASSERT_TRUE(r.done()) << r.message;
  EXPECT_EQ(ReadFileBytes(root() / "inbox" / "clip.wav"), ReadFileBytes(dir_ / "clip.wav"));
}

TEST(FtpFaults, SilentServerTimesOutAndCancelStops) {
  TempDir dir;
  WriteFileBytes(dir / "a.wav", "data");
  ScriptedServer server([](ScriptedServer::Peer& p) {
    while (!p.stopping() && !p.closed()) p.ReadLine(50);
  });
  const FtpJob job{Loopback(server.port()), "joe", "pw", "", dir / "a.wav"};
  FtpOptions o;
  o.responseMs = 1000;
  ScriptedProgress progress;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(UploadFile(job, o, progress).message,
            "Unable to log onto server \"" + Loopback(server.port()) + "\"");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  ScriptedProgress cancelling;
  cancelling.cancelAtCall = 3;
  const platform::Outcome r = UploadFile(job, {}, cancelling);
  EXPECT_EQ(r.result, platform::kTaskCancelled);
  EXPECT_EQ(r.message, "");
}

}  // namespace
}  // namespace quillet::send
