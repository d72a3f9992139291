#pragma once
// The SMTP host text of the Email Settings: a host, optionally with a port and the
// credentials of servers that want authentication, in either of two forms:
// "user:password@host:port" (the user name may itself hold an "@") or
// "host:user:password"; "host:2525" names a port.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::send {

inline constexpr std::uint16_t kSmtpPort = 25;
// Servers on this port speak TLS from the first byte (RFC 8314).
inline constexpr std::uint16_t kSmtpsPort = 465;

struct SmtpHost {
  std::string host;  // a name, a dotted address or an IPv6 address (without brackets)
  std::uint16_t port = kSmtpPort;
  std::string user;  // authentication is used when this is not empty
  std::string password;
  bool portValid = true;  // false: the text after the host's colon is no port 1..65535

  bool operator==(const SmtpHost&) const = default;
};

SmtpHost ParseSmtpHost(std::string_view text);
// The text that parses back to host: "user:password@host:port" ("user@host" without
// the password when withPassword is false; the port only when it is not 25).
std::string FormatSmtpHost(const SmtpHost& host, bool withPassword);

}  // namespace quillet::send
