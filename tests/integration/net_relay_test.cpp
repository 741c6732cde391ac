// Connections through a real SOCKS 4 relay (danted on 127.0.0.1) to in-test
// servers on 127.0.0.1-3: connecting, the relay refusing a closed target at once,
// an unreachable relay, the manager's server search with a silent and a missing
// server, and objects both ways (many small ones, 50 MB ones with and without
// compression) arriving in order and identical. Every failure is in the log.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "integration/loopback_server.h"
#include "net/connexion_manager.h"
#include "objects/customer.h"
#include "objects/protocol.h"
#include "settings/settings.h"
#include "settings/site.h"
#include "support/danted_relay.h"
#include "util/diagnostic_log.h"

namespace quorvane {
namespace {

using testing::LoopbackServer;
using testing::PeerScript;
using Clock = std::chrono::steady_clock;

class RelayTest : public testing::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    std::ofstream(scope_->folder() + "site.toml") << "relay_lan_prefix = \"127.0.0.\"\n";
    ReloadSiteValues();
    log_path_ = scope_->folder() + "setup.log";
    SetDiagnosticLogFile(log_path_);
    port_ = testing::FreePortOnAllTargets();
  }
  void TearDown() override {
    SetDiagnosticLogFile(std::string());
    ReloadSiteValues();
    NetTest::TearDown();
  }

  std::string Log() const {
    std::ifstream in(log_path_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<TZelConnexionByMeItem> RelayItem(const std::string& address,
                                                   std::uint16_t relay_port) {
    auto item = std::make_unique<TZelConnexionByMeItem>(root_.get());
    TxSocksInfo socks;
    socks.Version = toprx_Sockets4;
    socks.Address = "127.0.0.1";
    socks.Port = relay_port;
    item->Configure(kTransportTcp, 'N', "Server", ServerUserId(), socks, address, port_, false);
    item->SetPauseBetweenAttempts(true);
    item->Open();
    return item;
  }

  std::string log_path_;
  std::uint16_t port_ = 0;
};

TEST_F(RelayTest, ConnectsThroughTheRelayAndAuthenticatesBothWays) {
  testing::DantedRelay relay;
  LoopbackServer server("127.0.0.2", port_, PeerScript::kServer);
  auto item = RelayItem("127.0.0.2", relay.port());
  ASSERT_TRUE(item->Start()) << item->LastError().why() << "\n" << relay.log();
  item->Run();
  EXPECT_TRUE(item->IsAcknowledged());
  item->Announce();
  ASSERT_EQ(server.PeerCount(), 1u);
  ASSERT_TRUE(Eventually([&] { return server.Peer(0).In().IsAuthenticated(); }));
  EXPECT_EQ(item->Socket()->LocalAddress(), "127.0.0.1");
}

TEST_F(RelayTest, ARefusedTargetFailsAtOnceTwiceAndIsLogged) {
  testing::DantedRelay relay;
  auto item = RelayItem("127.0.0.3", relay.port());  // nothing listens there
  const auto before = Clock::now();
  EXPECT_FALSE(item->Start());
  // At least the pause between the two attempts (a sleep cannot end early); the
  // relay's refusal code, not a time-out, shows the reply was not waited out.
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(500));
  EXPECT_NE(item->LastError().why().find("91"), std::string::npos) << item->LastError().why();
  const std::string log = Log();
  EXPECT_NE(log.find("connect attempt 2/2 to 127.0.0.3:" + std::to_string(port_)),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("relay refused the target"), std::string::npos) << log;
}

TEST_F(RelayTest, AnUnreachableRelayIsToldApartFromARefusal) {
  const std::uint16_t closed = testing::FreePortOnAllTargets();
  auto item = RelayItem("127.0.0.2", closed);
  EXPECT_FALSE(item->Start());
  EXPECT_NE(item->LastError().why().find("avec l'API 'connect'"), std::string::npos)
      << item->LastError().why();
  const std::string log = Log();
  EXPECT_NE(log.find("via relay 127.0.0.1:" + std::to_string(closed) + ": refused"),
            std::string::npos)
      << log;
}

TEST_F(RelayTest, TheManagerFindsTheServerBehindTheRelay) {
  testing::DantedRelay relay;
  LoopbackServer silent("127.0.0.1", port_, PeerScript::kSilent);
  LoopbackServer server("127.0.0.2", port_, PeerScript::kServer);
  WriteSetting(kSettingInstallPort, port_);
  WriteSetting(kSettingProxyPort, relay.port());
  WriteSetting(kSettingProxyAddress, std::string("127.0.0.1"));
  TZelSObjectCustomerIdentification customer;
  customer.xsNickName = "Alice";
  {
    TZelConnexionsManagerByMe manager(nullptr);
    manager.SetStackManager(stack_.get());
    manager.SetIdentification(&customer);
    ConnexionTimings timings;
    timings.acknowledge_timeout_ms = 500;
    manager.SetTimings(timings);
    manager.Open();
    manager.Start();
    ASSERT_EQ(manager.List().Count(), 1) << Log() << relay.log();
    EXPECT_EQ(manager.List().ItemAt(0)->Address(), "127.0.0.2");
    ASSERT_EQ(server.PeerCount(), 1u);
    auto identification = server.Peer(0).Pop();
    ASSERT_NE(identification, nullptr);
    EXPECT_EQ(dynamic_cast<TZelSObjectCustomerIdentification&>(*identification).xsNickName,
              "Alice");
    auto information = server.Peer(0).Pop();
    ASSERT_NE(information, nullptr);
    EXPECT_EQ(dynamic_cast<TSOFilesList&>(*information).xWhat, protocol::kCustomerInformation);
    ListTimings quick;
    quick.close_pause_ms = 10;
    manager.SetListTimings(quick);
    manager.Stop();
    manager.Close();
    EXPECT_TRUE(server.Peer(0).WaitClosed());
  }
  const std::string log = Log();
  if (silent.PeerCount() > 0) {
    EXPECT_NE(log.find("server silent"), std::string::npos) << log;
  }
  EXPECT_NE(log.find("Fermeture connexion sortante"), std::string::npos) << log;
}

std::string PseudoText(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789 ";
  std::string text(size, ' ');
  for (char& c : text)
    c = kLetters[random() % (sizeof kLetters - 1)];
  return text;
}

TEST_F(RelayTest, ObjectsCrossTheRelayBothWaysInOrderAndIdentical) {
  testing::DantedRelay relay;
  LoopbackServer server("127.0.0.2", port_, PeerScript::kServer);
  auto item = RelayItem("127.0.0.2", relay.port());
  ASSERT_TRUE(item->Start()) << item->LastError().why();
  item->Run();
  ASSERT_TRUE(item->IsAcknowledged());
  testing::TestPeer& peer = server.Peer(0);

  // Client to server: small answers around a 50 MB file sent plain.
  TSOFile big_plain;
  big_plain.xFileName = "plain.bin";
  big_plain.xData = PseudoText(50u << 20, 1);
  big_plain.SetSendCompressionLevel(0);
  for (int i = 0; i < 200; ++i) {
    TZelSObjectAnswer answer;
    answer.ZelWhat = "up" + std::to_string(i);
    item->Send(answer);
    if (i == 100) item->Send(big_plain);
  }
  for (int i = 0; i < 201; ++i) {
    auto object = peer.Pop(60'000);
    ASSERT_NE(object, nullptr) << i;
    if (i == 101) {
      ASSERT_TRUE(object->TypeCode() == big_plain.TypeCode());
      EXPECT_TRUE(dynamic_cast<TSOFile&>(*object).xData == big_plain.xData);
      continue;
    }
    const int n = i > 101 ? i - 1 : i;
    EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*object).ZelWhat, "up" + std::to_string(n));
  }

  // Server to client: a 50 MB file compressed, then small answers, some compressed.
  TSOFile big_packed;
  big_packed.xFileName = "packed.bin";
  big_packed.xData = PseudoText(50u << 20, 2);
  big_packed.SetSendCompressionLevel(1);
  ASSERT_TRUE(peer.Send(big_packed));
  for (int i = 0; i < 100; ++i) {
    TZelSObjectAnswer answer;
    answer.ZelWhat = "down" + std::to_string(i);
    answer.SetSendCompressionLevel(i % 2 == 0 ? 0 : 9);
    ASSERT_TRUE(peer.Send(answer));
  }
  auto packed = PopClient(120'000);
  ASSERT_NE(packed, nullptr);
  auto* file = dynamic_cast<TSOFile*>(packed.get());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->xData == big_packed.xData);
  for (int i = 0; i < 100; ++i) {
    auto object = PopClient();
    ASSERT_NE(object, nullptr) << i;
    EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*object).ZelWhat, "down" + std::to_string(i));
  }
  EXPECT_TRUE(item->IsActive());
}

TEST_F(RelayTest, AConnectThatGetsNoAnswerIsBoundedAndLoggedAsATimeOut) {
  // A listener that never accepts: once its queue is full the kernel drops new
  // SYNs, as a host that drops packets would.
  const int listener = testing::BindLoopback("127.0.0.2", port_);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port_);
    ::inet_pton(AF_INET, "127.0.0.2", &where.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
    fillers.push_back(fd);
  }
  SleepMs(50);
  auto item = std::make_unique<TZelConnexionByMeItem>(root_.get());
  TxSocksInfo direct;
  item->Configure(kTransportTcp, 'N', "Server", ServerUserId(), direct, "127.0.0.2", port_, false);
  ConnexionTimings timings;
  timings.connect_timeout_ms = 300;
  timings.attempt_pause_ms = 0;
  item->SetTimings(timings);
  item->Open();
  EXPECT_FALSE(item->Start());
  const std::string log = Log();
  EXPECT_NE(log.find("connect attempt 2/2 to 127.0.0.2:" + std::to_string(port_) + ": timed out"),
            std::string::npos)
      << log;
  for (int fd : fillers)
    ::close(fd);
  ::close(listener);
}

TEST_F(RelayTest, ASocks5RelayIsConnectedWithoutAnyExchange) {
  // The program carries SOCKS 5 settings but negotiates only SOCKS 4: with version
  // 5 the socket connects to the relay and sends nothing of its own.
  const int listener = testing::BindLoopback("127.0.0.2", port_);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  SocketTarget target;
  target.address = "127.0.0.3";
  target.port = 700;
  target.socks.Version = toprx_Sockets5;
  target.socks.Address = "127.0.0.2";
  target.socks.Port = port_;
  std::unique_ptr<ByteStream> client = OpenSocketStream(target);
  const int accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  std::unique_ptr<ByteStream> relay_side = AdoptConnectedSocket(accepted);
  char byte = 0;
  EXPECT_EQ(relay_side->ReadSome(&byte, 1, 50).status, IoStatus::kTimeout);
  ASSERT_EQ(client->WriteAll("K", 1, 1000).status, IoStatus::kOk);
  ASSERT_EQ(relay_side->ReadSome(&byte, 1, 1000).status, IoStatus::kOk);
  EXPECT_EQ(byte, 'K');
  ::close(listener);
}

}  // namespace
}  // namespace quorvane
