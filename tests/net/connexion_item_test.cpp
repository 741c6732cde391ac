// A connection item over the in-memory stream pair: configuration rules, the two
// connect attempts, acknowledgement, objects both ways, and how its threads end:
// write time-out with a peer that stops reading, a peer closing mid-frame, a bad
// frame header, a stop during a blocked read.
#include "net/connexion_item.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>

#include "net/net_fixture.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "transport/frame_format.h"

namespace quorvane {
namespace {

using testing::FakeNetwork;
using testing::PeerScript;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kServerText = protocol::kServerUserId;

struct ProgressRecorder : ReceiveProgressSink {
  void SetReceiveProgress(std::int64_t position, std::int64_t size) override {
    calls.fetch_add(1);
    if (size > max_size.load()) max_size.store(size);
    last_position.store(position);
  }
  std::atomic<int> calls{0};
  std::atomic<std::int64_t> max_size{0};
  std::atomic<std::int64_t> last_position{0};
};

class ItemTest : public testing::NetTest {
 protected:
  std::unique_ptr<TZelConnexionByMeItem> MakeItem(const std::string& address, int port = 700,
                                                  std::uint8_t transport = kTransportTcp) {
    auto item = std::make_unique<TZelConnexionByMeItem>(root_.get());
    TxSocksInfo socks;
    item->Configure(transport, 'N', "Server", GuidFromString(kServerText), socks, address, port,
                    false);
    item->SetConnector(network_.Connector());
    ConnexionTimings timings;
    timings.attempt_pause_ms = 0;
    timings.acknowledge_timeout_ms = 2000;
    item->SetTimings(timings);
    item->SetOwners(&progress_, nullptr);
    item->SetDeliveryTarget(stack_.get());
    item->Open();
    return item;
  }

  static std::unique_ptr<TZelSObjectAnswer> Answer(const std::string& what) {
    auto answer = std::make_unique<TZelSObjectAnswer>();
    answer->ZelWhat = what;
    return answer;
  }

  FakeNetwork network_;
  ProgressRecorder progress_;
};

TEST_F(ItemTest, ConfigureStoresUdpPortsTenHigherAndTrimsTheAddress) {
  TxSocksInfo socks;
  TZelConnexionByMeItem item(root_.get());
  item.Configure(kTransportUdp, 'N', "Server", Guid{}, socks, "  127.0.0.2 ", 700, false);
  EXPECT_EQ(item.Port(), 710);
  EXPECT_EQ(item.Address(), "127.0.0.2");
  item.Configure(kTransportTcp, 'N', "Server", Guid{}, socks, "127.0.0.2", 700, false);
  EXPECT_EQ(item.Port(), 700);
  EXPECT_TRUE(item.IsAcknowledged() == false);  // TCP without a connection: no acknowledgement
  item.Configure(kTransportUdp, 'N', "Server", Guid{}, socks, "127.0.0.2", 700, false);
  EXPECT_TRUE(item.IsAcknowledged());
}

TEST_F(ItemTest, StartRefusesAnInvalidTargetWithoutConnecting) {
  auto item = MakeItem("127.0.0.2", 0);
  EXPECT_FALSE(item->Start());
  EXPECT_EQ(item->LastError().why(), "Not a valid target");
  EXPECT_EQ(item->Socket(), nullptr);
  auto empty = MakeItem("   ", 700);
  EXPECT_FALSE(empty->Start());
  EXPECT_EQ(empty->LastError().why(), "Not a valid target");
  EXPECT_TRUE(network_.Records().empty());
}

TEST_F(ItemTest, ARefusedTargetGetsExactlyTwoAttemptsApartByThePause) {
  network_.Script("127.0.0.2", PeerScript::kRefuse);
  std::vector<Clock::time_point> attempts;
  auto item = MakeItem("127.0.0.2");
  item->SetConnector([&](const SocketTarget& target) {
    attempts.push_back(Clock::now());
    return network_.Connector()(target);
  });
  ConnexionTimings timings = item->Timings();
  timings.attempt_pause_ms = 500;
  item->SetTimings(timings);
  item->SetPauseBetweenAttempts(true);
  EXPECT_FALSE(item->Start());
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_GE(attempts[1] - attempts[0], std::chrono::milliseconds(500));
  EXPECT_NE(item->LastError().why().find("avec l'API 'connect'"), std::string::npos)
      << item->LastError().why();
  EXPECT_FALSE(item->IsActive());
  EXPECT_EQ(item->Socket(), nullptr);
}

TEST_F(ItemTest, StartTwiceFailsAndLeavesTheFirstConnectionRunning) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->Run();
  EXPECT_FALSE(item->Start());
  EXPECT_EQ(item->LastError().why(), "Already open");
  EXPECT_TRUE(item->IsActive());
  EXPECT_TRUE(item->IsAcknowledged());
  EXPECT_EQ(network_.Records().size(), 1u);
}

TEST_F(ItemTest, AcknowledgementNeedsTheTargetsOwnIdentifierInTime) {
  network_.Script("127.0.0.1", PeerScript::kServer);
  network_.Script("127.0.0.2", PeerScript::kWrongId);
  network_.Script("127.0.0.3", PeerScript::kSilent);
  auto good = MakeItem("127.0.0.1");
  auto wrong = MakeItem("127.0.0.2");
  auto silent = MakeItem("127.0.0.3");
  ConnexionTimings quick = silent->Timings();
  quick.acknowledge_timeout_ms = 100;
  silent->SetTimings(quick);
  for (auto* item : {good.get(), wrong.get(), silent.get()}) {
    ASSERT_TRUE(item->Start());
    item->Run();
  }
  EXPECT_TRUE(good->IsAcknowledged());
  EXPECT_FALSE(wrong->IsAcknowledged());
  EXPECT_FALSE(silent->IsAcknowledged());
}

TEST_F(ItemTest, APeerThatHangsUpUnacknowledgedIsGivenUpWithoutTheWholeWait) {
  network_.Script("127.0.0.2", PeerScript::kSilent);
  auto item = MakeItem("127.0.0.2");
  ConnexionTimings timings = item->Timings();
  timings.acknowledge_timeout_ms = 600'000;  // only the hang-up can end the wait in time
  item->SetTimings(timings);
  ASSERT_TRUE(item->Start());
  item->Run();
  network_.Peer(0).Close();
  const auto before = Clock::now();
  EXPECT_FALSE(item->IsAcknowledged());
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(60));
  EXPECT_EQ(item->EndReason(), "closed by peer");
}

TEST_F(ItemTest, AnnounceSendsTheAuthenticationAnswer) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->Run();
  item->Announce();
  testing::TestPeer& server = network_.Peer(0);
  ASSERT_TRUE(Eventually([&] { return server.In().IsAuthenticated(); }));
  EXPECT_EQ(GuidToString(server.In().PeerId()), std::string(kNullIdText));
}

TEST_F(ItemTest, ObjectsQueuedBeforeRunAndAfterArriveInOrderBothWays) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  // Queued before the threads start: sent as soon as the send thread runs.
  auto early = Answer("early");
  item->Send(*early);
  item->Run();
  ASSERT_TRUE(item->IsAcknowledged());
  for (int i = 0; i < 50; ++i) {
    auto answer = Answer("n" + std::to_string(i));
    item->Send(*answer);
  }
  testing::TestPeer& server = network_.Peer(0);
  auto first = server.Pop();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*first).ZelWhat, "early");
  for (int i = 0; i < 50; ++i) {
    auto object = server.Pop();
    ASSERT_NE(object, nullptr) << i;
    EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*object).ZelWhat, "n" + std::to_string(i));
  }

  // The other way: a large object, announced, with progress reported after reads.
  TSOFile file;
  file.xFileName = "big.bin";
  file.xData.assign(600'000, 'x');
  file.SetSendCompressionLevel(0);
  ASSERT_TRUE(server.Send(file));
  auto small = Answer("after");
  ASSERT_TRUE(server.Send(*small));
  auto received = PopClient();
  ASSERT_NE(received, nullptr);
  auto* got = dynamic_cast<TSOFile*>(received.get());
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->xData, file.xData);
  auto next = PopClient();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*next).ZelWhat, "after");
  EXPECT_GT(progress_.calls.load(), 1);
  EXPECT_GE(progress_.max_size.load(), 600'000);
}

TEST_F(ItemTest, AFullMemoryBudgetStopsReadingUntilObjectsArePopped) {
  network_.SetPipeCapacity(200'000);
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->ReceiveThread()->In()->SetMemoryBudget(450'000);
  item->Run();
  ASSERT_TRUE(item->IsAcknowledged());
  testing::TestPeer& server = network_.Peer(0);
  constexpr int kObjects = 8;
  std::atomic<bool> all_sent{false};
  std::thread sender([&] {
    for (int i = 0; i < kObjects; ++i) {
      TSOFile file;
      file.xFileName = "f" + std::to_string(i);
      file.xData.assign(200'000, static_cast<char>('a' + i));
      file.SetSendCompressionLevel(0);
      server.Send(file);
    }
    all_sent.store(true);
  });
  // Nobody pops: the connection holds what fits and leaves the rest unread.
  ASSERT_TRUE(Eventually([&] { return stack_->HasObjects(); }));
  SleepMs(200);
  EXPECT_LE(item->ReceiveThread()->In()->MemoryHeld(), 450'000);
  EXPECT_FALSE(all_sent.load()) << "the socket was read past the budget";
  EXPECT_TRUE(item->IsActive());
  for (int i = 0; i < kObjects; ++i) {
    auto object = PopClient();
    ASSERT_NE(object, nullptr) << i;
    auto& file = dynamic_cast<TSOFile&>(*object);
    EXPECT_EQ(file.xFileName, "f" + std::to_string(i));
    EXPECT_EQ(file.xData, std::string(200'000, static_cast<char>('a' + i)));
  }
  sender.join();
}

// Objects of random sizes against a budget of a few, popped with random pauses: all
// arrive in order, none after the 60 s read time-out (as frames waiting at the end did).
TEST_F(ItemTest, BackPressureDeliversEveryObjectInOrderWhateverThePauses) {
  network_.SetPipeCapacity(16 << 20);  // the server sends everything at once
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->ReceiveThread()->In()->SetQueueBudget(16'000);
  item->Run();
  std::mt19937 random(20261208);
  std::vector<std::string> data(420);
  for (std::string& bytes : data)
    bytes.assign(random() % 20 == 0 ? random() % 150'000 : random() % 300, 'd');
  for (const std::string& bytes : data) {
    TSOFile file;
    file.xData = bytes;
    file.SetSendCompressionLevel(0);
    network_.Peer(0).Send(file);
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 64 ? 20 : 20'000));
    auto object = PopClient(20'000);
    ASSERT_NE(object, nullptr) << "object " << i << " never came";
    EXPECT_EQ(dynamic_cast<TSOFile&>(*object).xData.size(), data[i].size()) << i;
  }
}

TEST_F(ItemTest, AWriteThatCannotFinishEndsTheConnectionWithItsReason) {
  network_.SetPipeCapacity(4096);
  network_.Script("127.0.0.2", PeerScript::kSilent);
  auto item = MakeItem("127.0.0.2");
  ConnexionTimings timings = item->Timings();
  timings.io_timeout_ms = 150;
  item->SetTimings(timings);
  ASSERT_TRUE(item->Start());
  item->Run();
  testing::TestPeer& server = network_.Peer(0);
  server.PauseReading(true);  // stays connected but takes nothing more
  TSOFile file;
  file.xData.assign(300'000, 'y');
  file.SetSendCompressionLevel(0);
  item->Send(file);
  ASSERT_TRUE(Eventually([&] { return !item->IsActive(); }));
  EXPECT_NE(item->EndReason().find("write"), std::string::npos) << item->EndReason();
  ASSERT_TRUE(
      Eventually([&] { return item->SendThread()->Ended() && item->ReceiveThread()->Ended(); }));
}

TEST_F(ItemTest, ShortWritesAreLoopedUntilEverythingIsWritten) {
  network_.SetPipeCapacity(1000);  // every write of a chunk is cut into many pieces
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->Run();
  TSOFile file;
  file.xData.assign(250'000, 'z');
  file.SetSendCompressionLevel(0);
  item->Send(file);
  auto got = network_.Peer(0).Pop();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*got).xData, file.xData);
  EXPECT_TRUE(item->IsActive());
}

TEST_F(ItemTest, APeerClosingMidFrameDeliversWhatCameWholeAndEndsBothThreads) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->Run();
  testing::TestPeer& server = network_.Peer(0);
  auto whole = Answer("whole");
  ASSERT_TRUE(server.Send(*whole));
  auto cut = Answer("cut");
  const std::string frame = server.Encode(*cut);
  ASSERT_TRUE(server.SendRaw(frame.substr(0, frame.size() / 2)));
  server.Close();
  ASSERT_TRUE(Eventually([&] { return !item->IsActive(); }));
  EXPECT_EQ(item->EndReason(), "closed by peer");
  ASSERT_TRUE(
      Eventually([&] { return item->SendThread()->Ended() && item->ReceiveThread()->Ended(); }));
  auto first = PopClient();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*first).ZelWhat, "whole");
  EXPECT_EQ(PopClient(50), nullptr);
}

TEST_F(ItemTest, ABadFrameHeaderClosesTheConnection) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto item = MakeItem("127.0.0.2");
  ASSERT_TRUE(item->Start());
  item->Run();
  ASSERT_TRUE(item->IsAcknowledged());
  testing::TestPeer& server = network_.Peer(0);
  ASSERT_TRUE(server.SendRaw(std::string(FrameStartMarker()) + "12345xxxxxgarbage-garbage"));
  ASSERT_TRUE(Eventually([&] { return !item->IsActive(); }));
  EXPECT_NE(item->EndReason().find("bad frame"), std::string::npos) << item->EndReason();
  EXPECT_TRUE(server.WaitClosed());
}

TEST_F(ItemTest, StopDuringABlockedReadWakesAndJoinsBothThreads) {
  network_.Script("127.0.0.2", PeerScript::kSilent);
  auto item = MakeItem("127.0.0.2");
  ConnexionTimings timings = item->Timings();
  timings.io_timeout_ms = 600'000;  // only a wake-up can end the waits in time
  item->SetTimings(timings);
  ASSERT_TRUE(item->Start());
  item->Run();
  SleepMs(20);  // let both threads block in their waits
  const auto before = Clock::now();
  EXPECT_TRUE(item->Stop());
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(30));
  EXPECT_TRUE(item->SendThread()->Ended());
  EXPECT_TRUE(item->ReceiveThread()->Ended());
  EXPECT_FALSE(item->IsActive());
  EXPECT_TRUE(item->Close());
  EXPECT_EQ(item->Socket(), nullptr);
  EXPECT_TRUE(network_.Peer(0).WaitClosed());
}

}  // namespace
}  // namespace quorvane
