#include "send/smtp_host.h"

#include "platform/tcp_socket.h"

namespace quillet::send {
namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port".
void TakeHostPort(std::string_view text, SmtpHost& out) {
  if (const auto hp = platform::ParseHostPort(text, kSmtpPort)) {
    out.host = hp->host;
    out.port = static_cast<std::uint16_t>(hp->port);
    return;
  }
  // A port out of range: the host is still named in the message.
  out.portValid = false;
  std::string_view host = text.substr(0, text.rfind(':'));
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  out.host = std::string(host);
}

void TakeCredentials(std::string_view text, SmtpHost& out) {
  const std::size_t colon = text.find(':');
  out.user = std::string(text.substr(0, colon));
  if (colon != std::string_view::npos) out.password = std::string(text.substr(colon + 1));
}

}  // namespace

SmtpHost ParseSmtpHost(std::string_view text) {
  SmtpHost out;
  // Host names hold no "@", passwords may: the last one ends the credentials.
  const std::size_t at = text.rfind('@');
  if (at != std::string_view::npos) {
    TakeCredentials(text.substr(0, at), out);
    TakeHostPort(text.substr(at + 1), out);
    return out;
  }
  std::size_t colon = text.find(':');
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    colon = close == std::string_view::npos ? text.npos : text.find(':', close);
  }
  if (colon == std::string_view::npos) {
    out.host = std::string(text);
    return out;
  }
  const std::string_view rest = text.substr(colon + 1);
  // "host:2525" is a port; a user name of digits alone needs the "@" form.
  if (AllDigits(rest)) {
    TakeHostPort(text, out);
    return out;
  }
  out.host = std::string(text.substr(0, colon));
  TakeCredentials(rest, out);
  return out;
}

std::string FormatSmtpHost(const SmtpHost& h, bool withPassword) {
  std::string out;
  if (!h.user.empty()) {
    out = h.user;
    if (withPassword && !h.password.empty()) out += ":" + h.password;
    out += "@";
  }
  out += h.host.find(':') == std::string::npos ? h.host : "[" + h.host + "]";
  if (h.port != kSmtpPort) out += ":" + std::to_string(h.port);
  return out;
}

}  // namespace quillet::send
