#pragma once
// The connection to a mail server: a TCP socket that can be turned into a TLS
// stream (OpenSSL over memory buffers, so every wait stays ours: bounded, cancellable,
// and no SIGPIPE). The server's certificate must be valid for the name we connected
// to, checked against the system's authorities.

#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp_socket.h"

namespace quillet::send {

using platform::NetClock;
using platform::NetStatus;

class MailChannel {
 public:
  MailChannel();
  ~MailChannel();
  MailChannel(const MailChannel&) = delete;
  MailChannel& operator=(const MailChannel&) = delete;

  NetStatus Connect(std::string_view host, std::uint16_t port, int timeoutMs,
                    const platform::CancelFn& cancel);
  // The TLS handshake. serverName: what the certificate must name (a host name or an
  // address); caFile: an authority trusted besides the system's (empty: none).
  // Failed leaves the reason in tlsError().
  NetStatus StartTls(const std::string& serverName, const std::string& caFile,
                     NetClock::time_point deadline, const platform::CancelFn& cancel);
  NetStatus Send(std::string_view data, NetClock::time_point deadline,
                 const platform::CancelFn& cancel);
  // Appends at least one byte of the server's data.
  NetStatus Receive(std::string& out, NetClock::time_point deadline,
                    const platform::CancelFn& cancel);
  // Ends our side: TLS's close notice, then the socket's send direction.
  void ShutdownSend();

  bool encrypted() const { return tls_ != nullptr; }
  const std::string& tlsError() const { return tlsError_; }
  const platform::LIPSocketTCP& socket() const { return socket_; }

 private:
  struct Tls;
  NetStatus Flush(NetClock::time_point deadline, const platform::CancelFn& cancel);
  NetStatus Fill(NetClock::time_point deadline, const platform::CancelFn& cancel);

  platform::LIPSocketTCP socket_;
  std::unique_ptr<Tls> tls_;
  std::string tlsError_;
};

}  // namespace quillet::send
