#pragma once
// Shared by the send tests: the loopback servers (aiosmtpd and pyftpdlib from
// tests/fixtures/*.py, and a scripted server for the misbehaving ones), a throwaway
// certificate, and a progress script.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/temp_dir.h"
#include "platform/process.h"
#include "send/progress.h"

namespace quillet::send::testsupport {

// A test server script run by /usr/bin/python3 (Debian's modules load only there).
class PythonServer {
 public:
  // Starts tests/fixtures/<script> with args and waits for its "PORT n" line; false
  // (with why()) when it cannot run here.
  bool Start(const std::string& script, const std::vector<std::string>& args);
  int port() const { return port_; }
  const std::string& why() const { return why_; }

 private:
  platform::ChildProcess child_;
  int port_ = 0;
  std::string why_;
};

// A self-signed certificate for 127.0.0.1 (cert.pem, key.pem in dir); false when
// openssl is missing.
bool MakeCertificate(const std::filesystem::path& dir);

// One connection at a time on 127.0.0.1, answered by a handler on the server's thread.
class ScriptedServer {
 public:
  class Peer {
   public:
    explicit Peer(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
    // The next line without its line end; empty once closed() or after the time-out.
    std::string ReadLine(int timeoutMs = 5000);
    // Everything up to and including marker.
    std::string ReadUntil(std::string_view marker, int timeoutMs = 5000);
    bool Send(std::string_view text);
    bool stopping() const { return stop_; }
    bool closed() const { return closed_; }

   private:
    int fd_;
    const std::atomic<bool>& stop_;
    std::string buffer_;
    bool closed_ = false;
  };
  using Handler = std::function<void(Peer&)>;

  explicit ScriptedServer(Handler handler);
  ~ScriptedServer();
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void Serve();
  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Records what a transfer shows; cancels at the n-th Cancelled() or once a text shows.
class ScriptedProgress final : public SendProgress {
 public:
  void SetText(int line, std::string_view text) override;
  void SetProgress(double fraction) override { fractions.push_back(fraction); }
  bool Cancelled() override;

  int cancelAtCall = 0;        // 0: never
  std::string cancelAtText;    // empty: never
  std::vector<std::string> texts;  // "0:text" and "1:text", in order
  std::vector<double> fractions;
  int calls = 0;

 private:
  bool cancelled_ = false;
};

}  // namespace quillet::send::testsupport
