#pragma once
// One TCP connection for line protocols (CDDB, SMTP, FTP control): non-blocking,
// every wait bounded by a time-out and broken into short steps that ask whether the
// person cancelled. Lines are bounded: a longer line is cut and its tail dropped.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace quillet::platform {

struct HostPort {
  std::string host;
  int port = 0;
  bool operator==(const HostPort&) const = default;
};

// "host", "host:PORT" or "[v6]:PORT"; a remainder after the last colon that is all
// digits (1..65535) is the port, else the whole text is the host. Nullopt for an
// empty host or a port out of range.
std::optional<HostPort> ParseHostPort(std::string_view text, int defaultPort);

class TcpSocket {
 public:
  // Polled between wait steps; true stops the operation (a task's Pump).
  using CancelFn = std::function<bool()>;
  enum class Status { Ok, Failed, TimedOut, Cancelled, Closed };

  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Resolves host (a numeric address, or a name looked up on a thread of its own so
  // that the wait stays bounded and cancellable) and connects to the first address
  // that answers within timeoutMs, the lookup included. *message says why on failure.
  Status Connect(const std::string& host, int port, int timeoutMs, const CancelFn& cancel,
                 std::string* message);
  // Sends all of data within timeoutMs.
  Status Send(std::string_view data, int timeoutMs, const CancelFn& cancel);
  // The next line: a line feed ends it, carriage returns are dropped, the first
  // maxChars characters are kept. Closed when the peer ended the stream before a
  // line feed (a last unterminated line is returned first, with Ok).
  Status ReadLine(std::string* line, std::size_t maxChars, int timeoutMs, const CancelFn& cancel);
  // Appends what has arrived (what ReadLine has not taken first), at least one byte
  // and at most maxBytes; Closed at the end of the peer's data.
  Status Receive(std::string* out, std::size_t maxBytes, int timeoutMs, const CancelFn& cancel);
  // Our end's address as an SMTP address literal ("[127.0.0.1]", "[IPv6:::1]"); empty
  // when not connected.
  std::string LocalAddressLiteral() const;
  // Shuts the connection down for sending and closes it.
  void Close();
  bool open() const { return fd_.valid(); }

 private:
  // Waits for events on the socket within deadline steps; Ok when they came.
  Status WaitFor(short events, std::int64_t deadlineMs, const CancelFn& cancel);

  UniqueFd fd_;
  std::string buffer_;  // received, not yet returned
  bool peerClosed_ = false;
};

}  // namespace quillet::platform
