#pragma once
// The connection to a mail server: a TCP socket that can be turned into a TLS
// stream (OpenSSL over memory buffers, so every wait stays ours: bounded, cancellable,
// and no SIGPIPE). The server's certificate must be valid for the name we connected
// to, checked against the system's authorities.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp_socket.h"

namespace quillet::send {

using NetStatus = platform::TcpSocket::Status;
using NetClock = std::chrono::steady_clock;
using CancelFn = platform::TcpSocket::CancelFn;
// Now plus ms.
inline NetClock::time_point NetDeadline(int ms) {
  return NetClock::now() + std::chrono::milliseconds(ms);
}

class MailChannel {
 public:
  MailChannel();
  ~MailChannel();
  MailChannel(const MailChannel&) = delete;
  MailChannel& operator=(const MailChannel&) = delete;

  // *message says why it failed (never with credentials: only the host is given).
  NetStatus Connect(const std::string& host, int port, int timeoutMs, const CancelFn& cancel,
                    std::string* message);
  // The TLS handshake. serverName: what the certificate must name (a host name or an
  // address); caFile: an authority trusted besides the system's (empty: none).
  // Failed leaves the reason in tlsError().
  NetStatus StartTls(const std::string& serverName, const std::string& caFile,
                     NetClock::time_point deadline, const CancelFn& cancel);
  NetStatus Send(std::string_view data, NetClock::time_point deadline,
                 const CancelFn& cancel);
  // Appends at least one byte of the server's data.
  NetStatus Receive(std::string& out, NetClock::time_point deadline,
                    const CancelFn& cancel);
  // Ends our side (TLS's close notice first) and closes the connection.
  void Close();

  bool encrypted() const { return tls_ != nullptr; }
  const std::string& tlsError() const { return tlsError_; }
  const platform::TcpSocket& socket() const { return socket_; }

 private:
  struct Tls;
  NetStatus Flush(NetClock::time_point deadline, const CancelFn& cancel);
  NetStatus Fill(NetClock::time_point deadline, const CancelFn& cancel);

  platform::TcpSocket socket_;
  std::unique_ptr<Tls> tls_;
  std::string tlsError_;
};

}  // namespace quillet::send
