#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace quillet::platform {
namespace {

constexpr int kStepMs = 200;

// A name lookup can take many seconds and getaddrinfo cannot be interrupted, so it
// runs on a thread of its own. The thread shares ownership of everything it
// touches, so a caller that stops waiting leaves it to finish alone.
struct Lookup {
  std::mutex lock;
  bool done = false;
  int code = 0;
  addrinfo* result = nullptr;
  ~Lookup() {
    if (result) ::freeaddrinfo(result);
  }
};

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::optional<HostPort> ParseHostPort(std::string_view text, int defaultPort) {
  const auto allDigits = [](std::string_view s) {
    return !s.empty() && s.size() <= 5 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  std::string_view host = text;
  std::string_view port;
  if (text.starts_with("[")) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':' || !allDigits(rest.substr(1))) return std::nullopt;
      port = rest.substr(1);
    }
  } else {
    const std::size_t colon = text.rfind(':');
    // One colon followed by digits only: a port. More colons: a bare IPv6 address.
    if (colon != std::string_view::npos && text.find(':') == colon &&
        allDigits(text.substr(colon + 1))) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
    }
  }
  HostPort hp{std::string(host), defaultPort};
  if (!port.empty()) hp.port = std::stoi(std::string(port));
  if (hp.host.empty() || hp.port < 1 || hp.port > 65535) return std::nullopt;
  return hp;
}

TcpSocket::Status TcpSocket::WaitFor(short events, std::int64_t deadlineMs,
                                     const CancelFn& cancel) {
  for (;;) {
    if (cancel && cancel()) return Status::Cancelled;
    const std::int64_t left = deadlineMs - NowMs();
    if (left <= 0) return Status::TimedOut;
    pollfd p{fd_.get(), events, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, kStepMs)));
    if (rc < 0 && errno != EINTR) return Status::Failed;
    if (rc > 0) return Status::Ok;
  }
}

TcpSocket::Status TcpSocket::Connect(const std::string& host, int port, int timeoutMs,
                                     const CancelFn& cancel, std::string* message) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  // A dotted address is taken as it is; only a name needs the resolver.
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  const std::int64_t deadline = NowMs() + timeoutMs;
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, service] {
      addrinfo h{};
      h.ai_family = AF_UNSPEC;
      h.ai_socktype = SOCK_STREAM;
      h.ai_flags = AI_NUMERICSERV;
      addrinfo* r = nullptr;
      const int code = ::getaddrinfo(host.c_str(), service.c_str(), &h, &r);
      std::lock_guard<std::mutex> hold(lookup->lock);
      lookup->code = code;
      lookup->result = r;
      lookup->done = true;
    }).detach();
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lookup->lock);
        if (lookup->done) {
          rc = lookup->code;
          found = std::exchange(lookup->result, nullptr);
          break;
        }
      }
      if (cancel && cancel()) return Status::Cancelled;
      if (NowMs() >= deadline) {
        *message = "cannot find the host \"" + host + "\": timed out";
        return Status::TimedOut;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (rc != 0) {
    *message = "cannot find the host \"" + host + "\": " + ::gai_strerror(rc);
    return Status::Failed;
  }
  Status status = Status::Failed;
  *message = "cannot connect to " + host + ":" + service;
  for (addrinfo* a = found; a; a = a->ai_next) {
    fd_.Reset(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd_) continue;
    if (::connect(fd_.get(), a->ai_addr, a->ai_addrlen) == 0) {
      status = Status::Ok;
      break;
    }
    if (errno != EINPROGRESS) {
      *message += std::string(": ") + std::strerror(errno);
      fd_.Reset();
      continue;
    }
    status = WaitFor(POLLOUT, deadline, cancel);
    if (status == Status::Ok) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len);
      if (err == 0) break;
      *message += std::string(": ") + std::strerror(err);
      status = Status::Failed;
    }
    fd_.Reset();
    if (status == Status::Cancelled || status == Status::TimedOut) break;
  }
  ::freeaddrinfo(found);
  if (status == Status::TimedOut) *message += ": timed out";
  if (status != Status::Ok) fd_.Reset();
  buffer_.clear();
  peerClosed_ = false;
  return status;
}

TcpSocket::Status TcpSocket::Send(std::string_view data, int timeoutMs, const CancelFn& cancel) {
  if (!fd_) return Status::Failed;
  const std::int64_t deadline = NowMs() + timeoutMs;
  while (!data.empty()) {
    const std::size_t piece = std::min<std::size_t>(data.size(), 1024);
    const ssize_t n = ::send(fd_.get(), data.data(), piece, MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Status::Failed;
    const Status s = WaitFor(POLLOUT, deadline, cancel);
    if (s != Status::Ok) return s;
  }
  return Status::Ok;
}

TcpSocket::Status TcpSocket::ReadLine(std::string* line, std::size_t maxChars, int timeoutMs,
                                      const CancelFn& cancel) {
  line->clear();
  if (!fd_) return Status::Failed;
  const std::int64_t deadline = NowMs() + timeoutMs;
  bool dropping = false;  // the kept part is full; the rest of the line is read and dropped
  for (;;) {
    const std::size_t nl = buffer_.find('\n');
    const std::size_t take = nl == std::string::npos ? buffer_.size() : nl;
    for (std::size_t i = 0; i < take; ++i) {
      if (buffer_[i] == '\r') continue;
      if (line->size() < maxChars) {
        line->push_back(buffer_[i]);
      } else {
        dropping = true;
      }
    }
    buffer_.erase(0, nl == std::string::npos ? take : nl + 1);
    if (nl != std::string::npos) return Status::Ok;
    if (peerClosed_) return line->empty() && !dropping ? Status::Closed : Status::Ok;
    const Status s = WaitFor(POLLIN, deadline, cancel);
    if (s != Status::Ok) return s;
    char chunk[4096];
    const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (n == 0) {
      peerClosed_ = true;
    } else if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Status::Failed;
    } else {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
}

TcpSocket::Status TcpSocket::Receive(std::string* out, std::size_t maxBytes, int timeoutMs,
                                     const CancelFn& cancel) {
  if (!fd_) return Status::Failed;
  maxBytes = std::max<std::size_t>(maxBytes, 1);
  const std::int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    if (!buffer_.empty()) {
      const std::size_t n = std::min(maxBytes, buffer_.size());
      out->append(buffer_, 0, n);
      buffer_.erase(0, n);
      return Status::Ok;
    }
    if (peerClosed_) return Status::Closed;
    char chunk[4096];
    const ssize_t n = ::recv(fd_.get(), chunk, std::min(sizeof chunk, maxBytes), 0);
    if (n > 0) {
      out->append(chunk, static_cast<std::size_t>(n));
      return Status::Ok;
    }
    if (n == 0) return Status::Closed;
    if (errno == ECONNRESET) return Status::Closed;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Status::Failed;
    const Status s = WaitFor(POLLIN, deadline, cancel);
    if (s != Status::Ok) return s;
  }
}

std::string TcpSocket::LocalAddressLiteral() const {
  if (!fd_) return {};
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET &&
      ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, text, sizeof text))
    return "[" + std::string(text) + "]";
  if (addr.ss_family == AF_INET6 &&
      ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text))
    return "[IPv6:" + std::string(text) + "]";
  return {};
}

void TcpSocket::Close() {
  if (!fd_) return;
  ::shutdown(fd_.get(), SHUT_WR);
  fd_.Reset();
  buffer_.clear();
  peerClosed_ = false;
}

}  // namespace quillet::platform
