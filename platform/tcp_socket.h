#pragma once
// A TCP client connection on a non-blocking socket. Every wait has a deadline and
// polls the caller's cancel function between steps of at most kNetWaitStepMs, so a
// task's window stays responsive and a silent or slow peer cannot hold the caller.
// Used by the mail sender and the CDDB lookup.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/unique_fd.h"

namespace quillet::platform {

// How long one wait step lasts before cancel is polled again.
inline constexpr int kNetWaitStepMs = 50;

enum class NetStatus {
  Ok,
  Cancelled,  // cancel returned true
  TimedOut,   // the deadline passed
  Closed,     // the peer closed its side (a receive found the end)
  Failed,     // a system error, in error()
};

using NetClock = std::chrono::steady_clock;
// Now plus ms (ms < 0: no deadline).
NetClock::time_point NetDeadline(int ms);

class LIPSocketTCP {
 public:
  LIPSocketTCP() = default;
  LIPSocketTCP(LIPSocketTCP&&) = default;
  LIPSocketTCP& operator=(LIPSocketTCP&&) = default;

  // host: a numeric address (IPv4, or IPv6 with or without brackets) is taken as it
  // is; any other name is looked up. Each address is tried in turn until one accepts
  // or timeoutMs (lookup included) has passed. Failed leaves the reason in error().
  NetStatus Connect(std::string_view host, std::uint16_t port, int timeoutMs,
                    const CancelFn& cancel);

  // Sends every byte of data before the deadline.
  NetStatus SendAll(std::string_view data, NetClock::time_point deadline, const CancelFn& cancel);
  // Appends what has arrived, at least one byte and at most maxBytes; Closed at the
  // end of the peer's data.
  NetStatus Receive(std::string& out, std::size_t maxBytes, NetClock::time_point deadline,
                    const CancelFn& cancel);
  // Waits for events (POLLIN, POLLOUT) on the socket.
  NetStatus WaitFor(short events, NetClock::time_point deadline, const CancelFn& cancel);

  // No more data from us; the peer sees the end of our stream.
  void ShutdownSend();
  void Close() { fd_.Reset(); }

  bool connected() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  // errno of the last failure (a lookup failure is EHOSTUNREACH, with lookupError()).
  int error() const { return error_; }
  // The getaddrinfo code when a lookup failed; 0 otherwise.
  int lookupError() const { return lookupError_; }
  // Our end's address as an address literal ("[127.0.0.1]", "[IPv6:::1]"), empty
  // when not connected.
  std::string LocalAddressLiteral() const;

 private:
  UniqueFd fd_;
  int error_ = 0;
  int lookupError_ = 0;
};

}  // namespace quillet::platform
