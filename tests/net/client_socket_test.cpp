// The client socket's setter rules and activation over an in-memory connector,
// and the French message texts of socket failures.
#include "net/client_socket.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "net/pipe_stream.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using literals::operator""_w;

struct Recorder {
  int calls = 0;
  std::string address;
  int port = 0;
  ConnectPoint point;
  std::unique_ptr<testing::PipeEnd> far_end;
};

SocketConnector PipeConnector(Recorder& recorder) {
  return [&recorder](const SocketTarget& target) -> std::unique_ptr<ByteStream> {
    ++recorder.calls;
    recorder.address = target.address;
    recorder.port = target.port;
    recorder.point = ConnectPointOf(target);
    auto [near, far] = testing::MakePipePair();
    recorder.far_end = std::move(far);
    return std::move(near);
  };
}

TEST(SocketErrorText, UsesTheSystemTemplates) {
  const std::string text = WinSockErrorText(ECONNREFUSED, "connect");
  EXPECT_EQ(text.rfind("Erreur socket Windows : ", 0), 0u) << text;
  EXPECT_NE(text.find("(" + std::to_string(ECONNREFUSED) + "), avec l'API 'connect'"),
            std::string::npos)
      << text;
  EXPECT_EQ(SocketAlreadyOpenText(), "Socket déjà ouvert"_w);
  EXPECT_EQ(NoAddressText(), "Aucune adresse spécifiée"_w);
  EXPECT_EQ(AsyncSocketErrorText(7), "Erreur socket asynchrone 7");
}

TEST(ClientSocket, SettersRefuseChangesWhileActiveButNotSameTextInOtherCase) {
  Recorder recorder;
  TZelClientSocket socket(nullptr, PipeConnector(recorder));
  socket.SetPort(700);
  socket.SetAddress("127.0.0.2");
  socket.SetService("abc");
  socket.ActivateSocket();
  ASSERT_TRUE(socket.Active());
  EXPECT_NO_THROW(socket.SetService("ABC"));
  EXPECT_NO_THROW(socket.SetAddress("127.0.0.2"));
  EXPECT_NO_THROW(socket.SetPort(700));
  try {
    socket.SetAddress("127.0.0.3");
    ADD_FAILURE() << "address changed while active";
  } catch (const ESocketError& error) {
    EXPECT_EQ(std::string(error.what()), CannotChangeWhileActiveText());
  }
  EXPECT_THROW(socket.SetPort(701), ESocketError);
  EXPECT_EQ(socket.Address(), "127.0.0.2");
  EXPECT_EQ(socket.Port(), 700);

  socket.DeactivateSocket();
  EXPECT_FALSE(socket.Active());
  EXPECT_NO_THROW(socket.SetPort(701));
}

TEST(ClientSocket, PortOutOfRangeFailsBeforeAnyConnect) {
  Recorder recorder;
  TZelClientSocket socket(nullptr, PipeConnector(recorder));
  socket.SetAddress("127.0.0.2");
  socket.SetPort(65536);
  EXPECT_THROW(socket.ActivateSocket(), std::out_of_range);
  socket.SetPort(-1);
  EXPECT_THROW(socket.ActivateSocket(), std::out_of_range);
  EXPECT_EQ(recorder.calls, 0);
  EXPECT_FALSE(socket.Active());
}

TEST(ClientSocket, AFailedOpenLeavesItInactiveAndReportsTheError) {
  TZelClientSocket socket(nullptr, [](const SocketTarget&) -> std::unique_ptr<ByteStream> {
    throw ESocketOpenError(WinSockErrorText(ECONNREFUSED, "connect"), SocketFailure::kRefused);
  });
  std::string reported;
  bool connected = false;
  socket.on_error = [&](TZelClientSocket&, const std::string& text) { reported = text; };
  socket.on_connect = [&](TZelClientSocket&) { connected = true; };
  socket.SetAddress("127.0.0.2");
  socket.SetPort(700);
  EXPECT_THROW(socket.ActivateSocket(), ESocketOpenError);
  EXPECT_FALSE(socket.Active());
  EXPECT_FALSE(connected);
  EXPECT_NE(reported.find("'connect'"), std::string::npos);
  EXPECT_EQ(socket.Stream(), nullptr);
}

TEST(ClientSocket, PassesTargetAndRelaySettingsToTheConnector) {
  Recorder recorder;
  TZelClientSocket socket(nullptr, PipeConnector(recorder));
  socket.SetAddress("127.0.0.3");
  socket.SetPort(699);
  socket.Socks().Version = toprx_Sockets4;
  socket.Socks().Address = "127.0.0.1";
  socket.Socks().Port = 1080;
  bool connected = false;
  socket.on_connect = [&](TZelClientSocket&) { connected = true; };
  socket.ActivateSocket();
  EXPECT_TRUE(connected);
  EXPECT_EQ(recorder.address, "127.0.0.3");
  EXPECT_EQ(recorder.port, 699);
  const ConnectPoint& point = recorder.point;
  EXPECT_TRUE(point.through_relay);
  EXPECT_EQ(point.address, "127.0.0.1");
  EXPECT_EQ(point.port, 1080);
  EXPECT_EQ(socket.LocalAddress(), "127.0.0.9");
}

TEST(ConnectPoint, UdpAndNoProxyGoStraightToTheTarget) {
  SocketTarget target;
  target.address = "127.0.0.2";
  target.port = 700;
  target.socks.Version = toprx_Sockets4;
  target.socks.Address = "127.0.0.1";
  target.socks.Port = 1080;
  target.transport = kTransportUdp;
  EXPECT_FALSE(ConnectPointOf(target).through_relay);
  EXPECT_EQ(ConnectPointOf(target).port, 700);
  target.transport = kTransportTcp;
  target.socks.Version = toprx_Nop;
  EXPECT_FALSE(ConnectPointOf(target).through_relay);
  target.socks.Version = toprx_Sockets5;
  EXPECT_TRUE(ConnectPointOf(target).through_relay);
}

}  // namespace
}  // namespace quorvane
