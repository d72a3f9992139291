#pragma once
// The CDDB lookup: one short dialogue with a CDDB-protocol server over TCP that
// names a disc's tracks. Everything from the server is bounded: each step waits at
// most kCddbStepMs, lines are cut to 259 characters, match lists and entries are
// cut to a fixed number of lines, the whole lookup to kCddbTotalMs.

#include <functional>
#include <string>
#include <string_view>

#include "cd/disc.h"
#include "platform/tcp_socket.h"
#include "settings/settings.h"

namespace quillet::cd {

inline constexpr std::string_view kDefaultCddbHost = "gnudb.gnudb.org";
inline constexpr int kDefaultCddbPort = 8880;
inline constexpr int kCddbStepMs = 10000;
inline constexpr int kCddbTotalMs = 60000;
inline constexpr int kMaxMatchLines = 100;
inline constexpr int kMaxEntryLines = 2000;

// The server of the settings ("CD"/"CDDBServer", HOST[:PORT]); the default when the
// stored text is not a host.
platform::HostPort CddbServer(const settings::Settings& s);

struct CddbOutcome {
  enum Kind { Found, NoMatch, Failed, Cancelled } kind = Failed;
  std::string message;  // for Failed: what went wrong, for logs and quillet-cli
};

struct CddbHooks {
  platform::TcpSocket::CancelFn cancel;                    // true: stop now
  std::function<void(std::string_view text)> connected;  // the host, once connected
};

// The category after a query reply's code: "200 rock 0c025803 Title" gives "rock".
std::string CategoryOfQueryReply(std::string_view line);

// Looks disc up on server and, when found, fills its category, titles, artist,
// year and extended data. Nothing of disc changes unless an entry was read.
CddbOutcome CddbLookup(CdDisc& disc, const platform::HostPort& server, const CddbHooks& hooks);

}  // namespace quillet::cd
