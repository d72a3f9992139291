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
  int port = 0;
};

// Names are looked up off the caller's thread; raw reads take what line reads left.
TEST(TcpSocket, ConnectsByNameAndReceivesAfterLines) {
  Listener listener;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    TcpSocket s;
    std::string why;
    ASSERT_EQ(s.Connect(host, listener.port, 5000, {}, &why), TcpSocket::Status::Ok) << why;
    UniqueFd peer(::accept(listener.fd.get(), nullptr, nullptr));
    EXPECT_EQ(s.LocalAddressLiteral().rfind("[", 0), 0u);
    ::send(peer.get(), "220 hi\r\nrest", 12, 0);
    peer.Reset();
    std::string line, raw;
    EXPECT_EQ(s.ReadLine(&line, 100, 1000, {}), TcpSocket::Status::Ok);
    EXPECT_EQ(line, "220 hi");
    while (s.Receive(&raw, 2, 1000, {}) == TcpSocket::Status::Ok) {
    }
    EXPECT_EQ(raw, "rest");
  }
}

TEST(TcpSocket, UnknownNamesFailWithTheLookupsReason) {
  TcpSocket s;
  std::string why;
  EXPECT_EQ(s.Connect("no-such-host.invalid", 25, 5000, {}, &why), TcpSocket::Status::Failed);
  EXPECT_EQ(why.rfind("cannot find the host \"no-such-host.invalid\"", 0), 0u) << why;
}

}  // namespace
}  // namespace quillet::platform
