#include "send_fixture.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "fixtures/programs.h"

namespace quillet::send::testsupport {
namespace {

std::filesystem::path FixtureDir() {
  const char* src = std::getenv("QUILLET_SOURCE_DIR");
  return std::filesystem::path(src ? src : ".") / "tests" / "fixtures";
}

}  // namespace

bool PythonServer::Start(const std::string& script, const std::vector<std::string>& args) {
  platform::ProcessOptions p;
  p.argv = {"/usr/bin/python3", (FixtureDir() / script).string()};
  p.argv.insert(p.argv.end(), args.begin(), args.end());
  p.input = platform::StreamMode::Pipe;  // the server stops when we close it
  p.output = platform::StreamMode::Pipe;
  p.error = platform::StreamMode::Null;
  p.terminateGraceMs = 3000;
  if (!child_.Start(p)) {
    why_ = "/usr/bin/python3 cannot be started";
    return false;
  }
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    child_.WaitIo(100);
    char buffer[256];
    const platform::IoResult r = child_.Read(buffer, sizeof buffer);
    if (r.bytes > 0) out.append(buffer, r.bytes);
    if (r.bytes == 0 && r.error == 0) break;  // the script ended
  }
  if (out.rfind("PORT ", 0) != 0) {
    why_ = script + " did not start (are python3-aiosmtpd and python3-pyftpdlib installed?)";
    return false;
  }
  port_ = std::atoi(out.c_str() + 5);
  return port_ > 0;
}

bool MakeCertificate(const std::filesystem::path& dir) {
  if (!quillet::testing::ProgramAvailable("openssl")) return false;
  return quillet::testing::RunProgram(
             {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
              "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
              "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", (dir / "key.pem").string(),
              "-out", (dir / "cert.pem").string()}) == 0;
}

std::string ScriptedServer::Peer::ReadLine(int timeoutMs) {
  std::string line = ReadUntil("\n", timeoutMs);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string ScriptedServer::Peer::ReadUntil(std::string_view marker, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t at = buffer_.find(marker);
    if (at != std::string::npos) {
      std::string out = buffer_.substr(0, at + marker.size());
      buffer_.erase(0, at + marker.size());
      return out;
    }
    if (closed_ || stop_ || std::chrono::steady_clock::now() >= deadline) return {};
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool ScriptedServer::Peer::Send(std::string_view text) {
  while (!text.empty() && !stop_) {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return text.empty();
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::listen(listenFd_, 4) == 0 &&
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  ::close(listenFd_);
}

void ScriptedServer::Serve() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    Peer peer(fd, stop_);
    handler_(peer);
    ::close(fd);
  }
}

void ScriptedProgress::SetText(int line, std::string_view text) {
  texts.push_back(std::to_string(line) + ":" + std::string(text));
  if (!cancelAtText.empty() && text == cancelAtText) cancelled_ = true;
}

bool ScriptedProgress::Cancelled() {
  ++calls;
  if (cancelAtCall > 0 && calls >= cancelAtCall) cancelled_ = true;
  return cancelled_;
}

}  // namespace quillet::send::testsupport
