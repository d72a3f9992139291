#include "platform/tcp_socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillet::platform {
namespace {

// A listening loopback socket; the port is closed again with the object.
struct Listener {
  Listener() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd.get(), 4), 0);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  UniqueFd fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  std::uint16_t port = 0;
};

TEST(TcpSocket, ConnectsByNameAndAddressAndSeesTheEnd) {
  Listener listener;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    LIPSocketTCP s;
    ASSERT_EQ(s.Connect(host, listener.port, 5000, {}), NetStatus::Ok) << s.error();
    UniqueFd peer(::accept(listener.fd.get(), nullptr, nullptr));
    EXPECT_EQ(s.SendAll("ping", NetDeadline(1000), {}), NetStatus::Ok);
    char got[4];
    EXPECT_EQ(::recv(peer.get(), got, 4, MSG_WAITALL), 4);
    EXPECT_EQ(s.LocalAddressLiteral().rfind("[", 0), 0u);
    ::send(peer.get(), "pong", 4, 0);
    peer.Reset();
    std::string in;
    while (s.Receive(in, 100, NetDeadline(1000), {}) == NetStatus::Ok) {
    }
    EXPECT_EQ(in, "pong");
    EXPECT_EQ(s.Receive(in, 100, NetDeadline(1000), {}), NetStatus::Closed);
  }
}

// Refusals and time-outs of a whole exchange are tested with the mail sender.
TEST(TcpSocket, UnknownNamesFailWithTheLookupsReason) {
  LIPSocketTCP s;
  EXPECT_EQ(s.Connect("no-such-host.invalid", 25, 5000, {}), NetStatus::Failed);
  EXPECT_NE(s.lookupError(), 0);
  EXPECT_FALSE(s.connected());
}

}  // namespace
}  // namespace quillet::platform
