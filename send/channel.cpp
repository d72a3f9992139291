#include "send/channel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>

namespace quillet::send {
namespace {

struct CtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};

bool IsAddress(const std::string& name) {
  unsigned char buf[16];
  return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

std::string LastSslError() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "the handshake failed";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

// What is left of deadline, at least 1 ms so that a passed deadline still times out
// through the socket's own wait.
int MsLeft(NetClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - NetClock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 1, 1 << 30));
}

}  // namespace

struct MailChannel::Tls {
  std::unique_ptr<SSL_CTX, CtxFree> ctx;
  std::unique_ptr<SSL, SslFree> ssl;
  BIO* in = nullptr;   // what the server sent, for OpenSSL to read (owned by ssl)
  BIO* out = nullptr;  // what OpenSSL wrote, for us to send (owned by ssl)
};

MailChannel::MailChannel() = default;
MailChannel::~MailChannel() = default;

NetStatus MailChannel::Connect(const std::string& host, int port, int timeoutMs,
                               const CancelFn& cancel, std::string* message) {
  tls_.reset();
  return socket_.Connect(host, port, timeoutMs, cancel, message);
}

NetStatus MailChannel::Flush(NetClock::time_point deadline, const CancelFn& cancel) {
  char buffer[16384];
  while (BIO_ctrl_pending(tls_->out) > 0) {
    const int n = BIO_read(tls_->out, buffer, sizeof buffer);
    if (n <= 0) break;
    const NetStatus s =
        socket_.Send(std::string_view(buffer, static_cast<std::size_t>(n)), MsLeft(deadline), cancel);
    if (s != NetStatus::Ok) return s;
  }
  return NetStatus::Ok;
}

NetStatus MailChannel::Fill(NetClock::time_point deadline, const CancelFn& cancel) {
  std::string got;
  const NetStatus s = socket_.Receive(&got, 16384, MsLeft(deadline), cancel);
  if (s != NetStatus::Ok) return s;
  if (BIO_write(tls_->in, got.data(), static_cast<int>(got.size())) != static_cast<int>(got.size()))
    return NetStatus::Failed;
  return NetStatus::Ok;
}

NetStatus MailChannel::StartTls(const std::string& serverName, const std::string& caFile,
                                NetClock::time_point deadline, const CancelFn& cancel) {
  tlsError_.clear();
  ERR_clear_error();
  auto tls = std::make_unique<Tls>();
  tls->ctx.reset(SSL_CTX_new(TLS_client_method()));
  if (!tls->ctx) {
    tlsError_ = LastSslError();
    return NetStatus::Failed;
  }
  SSL_CTX_set_min_proto_version(tls->ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(tls->ctx.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_default_verify_paths(tls->ctx.get());
  if (!caFile.empty() && SSL_CTX_load_verify_locations(tls->ctx.get(), caFile.c_str(), nullptr) != 1) {
    tlsError_ = "the authority file " + caFile + " cannot be read";
    return NetStatus::Failed;
  }
  tls->ssl.reset(SSL_new(tls->ctx.get()));
  tls->in = BIO_new(BIO_s_mem());
  tls->out = BIO_new(BIO_s_mem());
  if (!tls->ssl || !tls->in || !tls->out) {
    BIO_free(tls->in);
    BIO_free(tls->out);
    tlsError_ = LastSslError();
    return NetStatus::Failed;
  }
  SSL_set_bio(tls->ssl.get(), tls->in, tls->out);
  SSL* ssl = tls->ssl.get();
  if (IsAddress(serverName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), serverName.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, serverName.c_str());
    SSL_set1_host(ssl, serverName.c_str());
  }
  SSL_set_connect_state(ssl);
  tls_ = std::move(tls);

  for (;;) {
    const int r = SSL_do_handshake(ssl);
    const int err = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
    NetStatus s = Flush(deadline, cancel);
    if (s != NetStatus::Ok) break;
    if (r == 1) return NetStatus::Ok;
    if (err == SSL_ERROR_WANT_READ) {
      s = Fill(deadline, cancel);
      if (s == NetStatus::Ok) continue;
      if (s == NetStatus::Closed) tlsError_ = "the server closed the connection";
      tls_.reset();
      return s == NetStatus::Closed ? NetStatus::Failed : s;
    }
    const long verify = SSL_get_verify_result(ssl);
    tlsError_ = verify != X509_V_OK ? X509_verify_cert_error_string(verify) : LastSslError();
    tls_.reset();
    return NetStatus::Failed;
  }
  tls_.reset();
  return NetStatus::Failed;
}

NetStatus MailChannel::Send(std::string_view data, NetClock::time_point deadline,
                            const CancelFn& cancel) {
  if (!tls_) return socket_.Send(data, MsLeft(deadline), cancel);
  while (!data.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 16384));
    const int n = SSL_write(tls_->ssl.get(), data.data(), chunk);
    if (n <= 0) {
      if (SSL_get_error(tls_->ssl.get(), n) != SSL_ERROR_WANT_READ) return NetStatus::Failed;
      const NetStatus s = Fill(deadline, cancel);
      if (s != NetStatus::Ok) return s;
      continue;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    const NetStatus s = Flush(deadline, cancel);
    if (s != NetStatus::Ok) return s;
  }
  return NetStatus::Ok;
}

NetStatus MailChannel::Receive(std::string& out, NetClock::time_point deadline,
                               const CancelFn& cancel) {
  if (!tls_) return socket_.Receive(&out, 4096, MsLeft(deadline), cancel);
  char buffer[4096];
  for (;;) {
    const int n = SSL_read(tls_->ssl.get(), buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      return NetStatus::Ok;
    }
    const int err = SSL_get_error(tls_->ssl.get(), n);
    if (err == SSL_ERROR_ZERO_RETURN) return NetStatus::Closed;
    if (err != SSL_ERROR_WANT_READ) return NetStatus::Failed;
    NetStatus s = Flush(deadline, cancel);
    if (s == NetStatus::Ok) s = Fill(deadline, cancel);
    if (s != NetStatus::Ok) return s;
  }
}

void MailChannel::Close() {
  if (tls_) {
    SSL_shutdown(tls_->ssl.get());
    Flush(NetDeadline(1000), {});
    tls_.reset();
  }
  socket_.Close();
}

}  // namespace quillet::send
