#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

namespace quillet::platform {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* a) const {
    if (a) ::freeaddrinfo(a);
  }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

int MsUntil(NetClock::time_point deadline) {
  if (deadline == NetClock::time_point::max()) return kNetWaitStepMs;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - NetClock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, kNetWaitStepMs));
}

// A name lookup can take many seconds and getaddrinfo cannot be interrupted, so it
// runs on a thread of its own. The thread owns (shares) everything it touches, so a
// caller that stops waiting may leave it to finish alone.
struct Lookup {
  std::mutex lock;
  bool done = false;
  int code = 0;
  addrinfo* result = nullptr;
  ~Lookup() {
    if (result) ::freeaddrinfo(result);
  }
};

addrinfo Hints(int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  return hints;
}

}  // namespace

NetClock::time_point NetDeadline(int ms) {
  if (ms < 0) return NetClock::time_point::max();
  return NetClock::now() + std::chrono::milliseconds(ms);
}

NetStatus LIPSocketTCP::WaitFor(short events, NetClock::time_point deadline,
                                const CancelFn& cancel) {
  for (;;) {
    if (cancel && cancel()) return NetStatus::Cancelled;
    pollfd p{fd_.get(), events, 0};
    const int n = ::poll(&p, 1, MsUntil(deadline));
    if (n > 0) return NetStatus::Ok;  // ready, or an error the next call reports
    if (n < 0 && errno != EINTR) {
      error_ = errno;
      return NetStatus::Failed;
    }
    if (NetClock::now() >= deadline) return NetStatus::TimedOut;
  }
}

NetStatus LIPSocketTCP::Connect(std::string_view hostText, std::uint16_t port, int timeoutMs,
                                const CancelFn& cancel) {
  Close();
  error_ = 0;
  lookupError_ = 0;
  const NetClock::time_point deadline = NetDeadline(timeoutMs);
  std::string host(hostText);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty() || host.find('\0') != std::string::npos) {
    error_ = EHOSTUNREACH;
    lookupError_ = EAI_NONAME;
    return NetStatus::Failed;
  }
  const std::string service = std::to_string(port);

  AddrList list;
  addrinfo hints = Hints(AI_NUMERICHOST | AI_NUMERICSERV);
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) == 0) {
    list.reset(found);
  } else {
    auto lookup = std::make_shared<Lookup>();
    try {
      std::thread([lookup, host, service] {
        addrinfo h = Hints(AI_NUMERICSERV | AI_ADDRCONFIG);
        addrinfo* r = nullptr;
        const int code = ::getaddrinfo(host.c_str(), service.c_str(), &h, &r);
        std::lock_guard<std::mutex> hold(lookup->lock);
        lookup->code = code;
        lookup->result = r;
        lookup->done = true;
      }).detach();
    } catch (const std::system_error& e) {
      error_ = e.code().value();
      return NetStatus::Failed;
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lookup->lock);
        if (lookup->done) {
          if (lookup->code != 0) {
            lookupError_ = lookup->code;
            error_ = EHOSTUNREACH;
            return NetStatus::Failed;
          }
          list.reset(std::exchange(lookup->result, nullptr));
          break;
        }
      }
      if (cancel && cancel()) return NetStatus::Cancelled;
      if (NetClock::now() >= deadline) return NetStatus::TimedOut;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, MsUntil(deadline))));
    }
  }

  NetStatus last = NetStatus::Failed;
  error_ = EHOSTUNREACH;
  for (const addrinfo* a = list.get(); a; a = a->ai_next) {
    UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         a->ai_protocol));
    if (!fd) {
      error_ = errno;
      continue;
    }
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error_ = errno;
        continue;
      }
      fd_ = std::move(fd);
      last = WaitFor(POLLOUT, deadline, cancel);
      fd = std::move(fd_);
      if (last != NetStatus::Ok) {
        if (last == NetStatus::TimedOut) error_ = ETIMEDOUT;
        if (last == NetStatus::Cancelled || last == NetStatus::TimedOut) return last;
        continue;
      }
      int soError = 0;
      socklen_t len = sizeof soError;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
      if (soError != 0) {
        error_ = soError;
        last = NetStatus::Failed;
        continue;
      }
    }
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = std::move(fd);
    error_ = 0;
    return NetStatus::Ok;
  }
  return NetStatus::Failed;
}

NetStatus LIPSocketTCP::SendAll(std::string_view data, NetClock::time_point deadline,
                                const CancelFn& cancel) {
  if (!fd_) {
    error_ = ENOTCONN;
    return NetStatus::Failed;
  }
  while (!data.empty()) {
    const ssize_t n = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const NetStatus s = WaitFor(POLLOUT, deadline, cancel);
      if (s != NetStatus::Ok) return s;
      continue;
    }
    error_ = n < 0 ? errno : EPIPE;
    return error_ == EPIPE || error_ == ECONNRESET ? NetStatus::Closed : NetStatus::Failed;
  }
  return NetStatus::Ok;
}

NetStatus LIPSocketTCP::Receive(std::string& out, std::size_t maxBytes,
                                NetClock::time_point deadline, const CancelFn& cancel) {
  if (!fd_) {
    error_ = ENOTCONN;
    return NetStatus::Failed;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n =
        ::recv(fd_.get(), buffer, std::clamp<std::size_t>(maxBytes, 1, sizeof buffer), 0);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      return NetStatus::Ok;
    }
    if (n == 0) return NetStatus::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const NetStatus s = WaitFor(POLLIN, deadline, cancel);
      if (s != NetStatus::Ok) return s;
      continue;
    }
    error_ = errno;
    return errno == ECONNRESET ? NetStatus::Closed : NetStatus::Failed;
  }
}

void LIPSocketTCP::ShutdownSend() {
  if (fd_) ::shutdown(fd_.get(), SHUT_WR);
}

std::string LIPSocketTCP::LocalAddressLiteral() const {
  if (!fd_) return {};
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return {};
    return "[" + std::string(text) + "]";
  }
  if (addr.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
    if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) return {};
    return "[IPv6:" + std::string(text) + "]";
  }
  return {};
}

}  // namespace quillet::platform
