// The connection list and manager over the in-memory network of net_fixture.h:
// the server search (random order, each relay target once, develop mode), the
// acknowledgement rule, reuse and replacement of connections, the identification,
// clean-up of idle and dead connections, CloseAll's lines, progress, and the
// manager's frame folders and start-up message.
#include "net/connexion_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "net/connection_status.h"
#include "net/connexion_manager.h"
#include "net/net_fixture.h"
#include "objects/customer.h"
#include "objects/protocol.h"
#include "settings/settings.h"
#include "settings/site.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using testing::FakeNetwork;
using testing::PeerScript;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kOtherUserText = testing::kOtherUserIdText;

class ListTest : public testing::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    std::ofstream(scope_->folder() + "site.toml") << "relay_lan_prefix = \"127.0.0.\"\n";
    ReloadSiteValues();
    WriteSetting(kSettingInstallPort, 7000);
    WriteSetting(kSettingProxyPort, 1080);
    WriteSetting(kSettingProxyAddress, std::string("127.0.0.1"));
    manager_ = std::make_unique<TZelConnexionsManagerByMe>(nullptr);
    manager_->SetStackManager(stack_.get());
    manager_->SetConnector(network_.Connector());
    ConnexionTimings timings;
    timings.attempt_pause_ms = 0;
    timings.acknowledge_timeout_ms = 300;
    manager_->SetTimings(timings);
    ListTimings list_timings;
    list_timings.close_pause_ms = 0;
    manager_->SetListTimings(list_timings);
    manager_->Open();
  }
  void TearDown() override {
    manager_.reset();
    ReloadSiteValues();
    NetTest::TearDown();
  }

  TZelConnexionsListByMe& List() { return manager_->List(); }

  bool AddServer(const std::string& address,
                 const std::string& target = std::string(protocol::kServerUserId),
                 char kind = 'N') {
    TxSocksInfo socks;
    return List().AddConnection(kTransportTcp, kind, "Server", socks, GuidFromString(target), false,
                                address, 7000, false);
  }

  static std::unique_ptr<TSOFilesList> FileList(const std::string& what) {
    auto files = std::make_unique<TSOFilesList>();
    files->xWhat = what;
    files->SetUsersTo(protocol::kServerUserNumber);
    return files;
  }

  // Addresses tried, one per connect attempt.
  std::vector<std::string> Tried() const {
    std::vector<std::string> addresses;
    for (const auto& record : network_.Records())
      addresses.push_back(record.address);
    return addresses;
  }

  FakeNetwork network_;
  std::unique_ptr<TZelConnexionsManagerByMe> manager_;
};

TEST(ShuffledCandidates, EveryCandidateOnceInEveryOrder) {
  std::mt19937 random(12345);
  std::set<std::vector<int>> orders;
  int first_is_one = 0;
  for (int run = 0; run < 600; ++run) {
    std::vector<int> order = ShuffledCandidates(3, random);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<int>{1, 2, 3}));
    orders.insert(order);
    first_is_one += order.front() == 1;
  }
  EXPECT_EQ(orders.size(), 6u);
  EXPECT_GT(first_is_one, 120);
  EXPECT_LT(first_is_one, 280);
  EXPECT_EQ(ShuffledCandidates(1000, random).size(), 255u);
  EXPECT_TRUE(ShuffledCandidates(0, random).empty());
}

TEST_F(ListTest, ServerSearchTriesEachRelayTargetOnceInRandomOrder) {
  std::set<std::vector<std::string>> orders;
  for (int run = 0; run < 40; ++run) {
    network_.ClearRecords();
    EXPECT_FALSE(List().OpenConnection(ServerUserId(), kTransportTcp, false, 'N'));
    const std::vector<std::string> tried = Tried();
    ASSERT_EQ(tried.size(), 6u);  // three targets, two attempts each
    std::vector<std::string> order;
    for (std::size_t i = 0; i < tried.size(); i += 2) {
      EXPECT_EQ(tried[i], tried[i + 1]);
      order.push_back(tried[i]);
    }
    std::vector<std::string> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(List().LastTargets(), order);
    orders.insert(order);
  }
  EXPECT_GT(orders.size(), 1u) << "the order never changes";
  const auto records = network_.Records();
  EXPECT_EQ(records.front().port, 7000);
  EXPECT_EQ(records.front().relay_address, "127.0.0.1");
  EXPECT_EQ(records.front().relay_port, 1080);
  EXPECT_EQ(records.front().relay_version, toprx_Sockets4);
  EXPECT_EQ(List().Count(), 0);
}

TEST_F(ListTest, DevelopModeTriesOnlyItsTargetAtThePortBelow) {
  manager_->SetDevelop(true);
  manager_->SetTargetNumber(3);
  EXPECT_FALSE(List().OpenConnection(ServerUserId(), kTransportTcp, false, 'N'));
  auto records = network_.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].address, "127.0.0.3");
  EXPECT_EQ(records[0].port, 6999);
  EXPECT_EQ(manager_->ScanCount(), 1);

  // Without a target number, the computer-name rule (2 for an unknown name).
  network_.ClearRecords();
  manager_->SetTargetNumber(-1);
  EXPECT_FALSE(List().OpenConnection(ServerUserId(), kTransportTcp, false, 'N'));
  records = network_.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].address, "127.0.0." + std::to_string(manager_->TZelObject::TargetNumber()));
}

TEST_F(ListTest, OnlyTcpObjectConnectionsReachTheServer) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  EXPECT_FALSE(List().OpenConnection(ServerUserId(), kTransportUdp, false, 'N'));
  EXPECT_FALSE(List().OpenConnection(ServerUserId(), kTransportTcp, false, 'W'));
  EXPECT_FALSE(List().OpenConnection(GuidFromString(kOtherUserText), kTransportTcp, false, 'N'));
  EXPECT_TRUE(network_.Records().empty());
  // Forcing TCP turns a UDP request into a TCP connection.
  manager_->SetForceTcp(true);
  TZelConnexionByMeItem* item = List().FindOrOpen(ServerUserId(), true, false, 'N', kTransportUdp);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Transport(), kTransportTcp);
}

TEST_F(ListTest, SilentAndMisnamedServersAreDroppedAndTheNextTargetTried) {
  network_.Script("127.0.0.1", PeerScript::kSilent);
  network_.Script("127.0.0.2", PeerScript::kWrongId);
  network_.Script("127.0.0.3", PeerScript::kServer);
  for (int run = 0; run < 6; ++run) {
    network_.ClearRecords();
    ASSERT_TRUE(List().OpenConnection(ServerUserId(), kTransportTcp, false, 'N'));
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().ItemAt(0)->Address(), "127.0.0.3");
    EXPECT_EQ(Tried().back(), "127.0.0.3");
    // Each dropped target was tried before it, never after.
    const std::vector<std::string> targets = List().LastTargets();
    EXPECT_EQ(targets.back(), "127.0.0.3");
    List().CloseAll();
  }
}

TEST_F(ListTest, SendFileListReusesTheLiveConnectionAfterTheIdentification) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  TZelSObjectCustomerIdentification customer;
  customer.xsNickName = "Bob";
  manager_->SetIdentification(&customer);
  auto first = FileList("one");
  auto second = FileList("two");
  ASSERT_TRUE(manager_->SendInstallRequest(first.get()));
  ASSERT_TRUE(manager_->SendInstallRequest(second.get()));
  EXPECT_EQ(network_.PeerCount(), 1u);
  EXPECT_EQ(List().Count(), 1);
  testing::TestPeer& server = network_.Peer(0);
  ASSERT_TRUE(Eventually([&] { return server.In().IsAuthenticated(); }));
  auto identification = server.Pop();
  ASSERT_NE(identification, nullptr);
  auto* got = dynamic_cast<TZelSObjectCustomerIdentification*>(identification.get());
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->xsNickName, "Bob");
  EXPECT_EQ(got->xsConIP, "127.0.0.9");  // the local address of the connection
  EXPECT_EQ(got->WhoTo(), protocol::kServerIdentificationReceiver);
  for (const char* what : {"one", "two"}) {
    auto object = server.Pop();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(dynamic_cast<TSOFilesList&>(*object).xWhat, what);
  }
  manager_->SetIdentification(nullptr);
}

TEST_F(ListTest, ADeadConnectionIsReplacedRatherThanSwallowingTheRequest) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  auto first = FileList("one");
  ASSERT_TRUE(manager_->SendInstallRequest(first.get()));
  TZelConnexionByMeItem* dead = List().ItemAt(0);
  network_.Peer(0).Close();
  ASSERT_TRUE(Eventually([&] { return !dead->IsActive(); }));
  auto second = FileList("two");
  ASSERT_TRUE(manager_->SendInstallRequest(second.get()));
  ASSERT_EQ(network_.PeerCount(), 2u);
  EXPECT_EQ(List().Count(), 1);
  EXPECT_TRUE(List().ItemAt(0)->IsActive());
  auto object = network_.Peer(1).Pop();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFilesList&>(*object).xWhat, "two");
}

TEST_F(ListTest, NoServerMeansFalseAndNothingQueued) {
  auto files = FileList("one");
  EXPECT_FALSE(manager_->SendInstallRequest(files.get()));
  EXPECT_FALSE(manager_->SendInstallRequest(nullptr));
  EXPECT_EQ(List().Count(), 0);
}

TEST_F(ListTest, AFailedAcknowledgementRemovesTheNewItemNotTheFirstMatch) {
  network_.Script("127.0.0.1", PeerScript::kServer);
  network_.Script("127.0.0.3", PeerScript::kSilent);
  ASSERT_TRUE(AddServer("127.0.0.1"));
  TZelConnexionByMeItem* first = List().ItemAt(0);
  EXPECT_FALSE(AddServer("127.0.0.3"));
  ASSERT_EQ(List().Count(), 1);
  EXPECT_EQ(List().ItemAt(0), first);
  EXPECT_TRUE(first->IsActive());
  EXPECT_TRUE(network_.Peer(1).WaitClosed());
}

struct StatusRecorder : ConnectionStatus {
  void ShowClosing() override { events.push_back("show"); }
  void StatusLine(const std::string& text) override {
    events.push_back(text);
    times.push_back(Clock::now());
  }
  void CloseClosing() override { events.push_back("close"); }
  void TraceNotice(const std::string& text) override { notices.push_back(text); }
  std::vector<std::string> events;
  std::vector<std::string> notices;
  std::vector<Clock::time_point> times;
};

TEST_F(ListTest, StopClosesConnectionsOneByOneWithTheirLines) {
  using literals::operator""_w;
  StatusRecorder status;
  InstallConnectionStatus(&status);
  for (const char* address : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
    network_.Script(address, PeerScript::kServer);
    ASSERT_TRUE(AddServer(address));
  }
  ListTimings timings;
  timings.close_pause_ms = 100;
  manager_->SetListTimings(timings);
  manager_->Stop();
  InstallConnectionStatus(nullptr);
  const std::string line = "Fermeture connexion sortante N°:"_w;
  EXPECT_EQ(status.events,
            (std::vector<std::string>{"show", line + "3", line + "2", line + "1", "close"}));
  ASSERT_EQ(status.times.size(), 3u);
  EXPECT_GE(status.times[1] - status.times[0], std::chrono::milliseconds(100));
  EXPECT_GE(status.times[2] - status.times[1], std::chrono::milliseconds(100));
  EXPECT_EQ(List().Count(), 0);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_TRUE(network_.Peer(i).WaitClosed());
  EXPECT_EQ(std::count(status.notices.begin(), status.notices.end(), "Autentified"), 3);
  EXPECT_EQ(std::count(status.notices.begin(), status.notices.end(), "Waiting autentification .."),
            3);
}

TEST_F(ListTest, IdleAndDeadConnectionsAreDroppedButNotTheServers) {
  network_.Script("127.0.0.1", PeerScript::kServer);
  network_.Script("127.0.0.2", PeerScript::kWrongId);  // names the other user
  network_.Script("127.0.0.3", PeerScript::kWrongId);
  ASSERT_TRUE(AddServer("127.0.0.1"));
  ASSERT_TRUE(AddServer("127.0.0.2", std::string(kOtherUserText)));
  ASSERT_TRUE(AddServer("127.0.0.3", std::string(kOtherUserText), 'W'));
  const auto long_ago = Clock::now() - std::chrono::seconds(301);
  for (int i = 0; i < 3; ++i)
    List().ItemAt(i)->SetLastActivity(long_ago);
  List().DeleteDeadItems();
  ASSERT_EQ(List().Count(), 2);
  EXPECT_EQ(List().ItemAt(0)->Address(), "127.0.0.1");
  EXPECT_EQ(List().ItemAt(1)->Address(), "127.0.0.3");
  EXPECT_TRUE(network_.Peer(1).WaitClosed());

  // A dead connection goes at the next clean-up, which Animate runs every 21 ticks.
  network_.Peer(2).Close();
  TZelConnexionByMeItem* dying = List().ItemAt(1);
  ASSERT_TRUE(Eventually([&] { return !dying->IsActive(); }));
  for (int tick = 0; tick < 20; ++tick)
    List().Animate();
  EXPECT_EQ(List().Count(), 2);
  List().Animate();
  EXPECT_EQ(List().Count(), 1);
}

TEST(SumProgress, AddsSizesAndAveragesPercents) {
  const ConnexionProgress two = SumProgress({{40, 100, 40}, {300, 500, 60}});
  EXPECT_TRUE(two.found);
  EXPECT_EQ(two.percent, 50);
  EXPECT_EQ(two.size, 600);
  EXPECT_EQ(two.position, 340);
  const ConnexionProgress none = SumProgress({});
  EXPECT_TRUE(none.found);
  EXPECT_EQ(none.percent, 0);
}

TEST_F(ListTest, ProgressFollowsTheAnnouncedObjectBeingReceived) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  ASSERT_TRUE(AddServer("127.0.0.2"));
  testing::TestPeer& server = network_.Peer(0);
  TSOFile file;
  file.SetId(NewGuid());
  file.xData.assign(400'000, 'p');
  file.SetSendCompressionLevel(0);
  const std::string wire = server.Encode(file);
  ASSERT_TRUE(server.SendRaw(wire.substr(0, wire.size() / 2)));
  ConnexionProgress progress;
  // The item's counters move before the receive thread reports them: wait for both.
  ASSERT_TRUE(Eventually([&] {
    progress = manager_->Progress(file.GetId());
    return progress.found && progress.position > 0 && manager_->CurrentObjectReceived() > 0;
  }));
  EXPECT_GE(progress.size, 400'000);
  EXPECT_LT(progress.position, progress.size);
  EXPECT_GT(progress.percent, 0);
  EXPECT_FALSE(manager_->Progress(GuidToString(NewGuid())).found);
  EXPECT_GE(manager_->CurrentObjectSize(), 400'000);
  EXPECT_GT(manager_->CurrentObjectReceived(), 0);

  ASSERT_TRUE(server.SendRaw(wire.substr(wire.size() / 2)));
  auto got = PopClient();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*got).xData, file.xData);
}

TEST_F(ListTest, StartSendsExactlyOneCustomerInformation) {
  network_.Script("127.0.0.2", PeerScript::kServer);
  manager_->Start();
  ASSERT_EQ(network_.PeerCount(), 1u);
  auto object = network_.Peer(0).Pop();
  ASSERT_NE(object, nullptr);
  auto& files = dynamic_cast<TSOFilesList&>(*object);
  EXPECT_EQ(files.xWhat, protocol::kCustomerInformation);
  EXPECT_EQ(files.WhoTo(), protocol::kServerInstallReceiver);
  EXPECT_EQ(network_.Peer(0).Pop(100), nullptr);
}

TEST_F(ListTest, ReceiveProgressCountersStayWithinTheirRange) {
  manager_->SetReceiveProgress(5'000'000'000LL, 6'000'000'000LL);
  EXPECT_EQ(manager_->CurrentObjectSize(), std::numeric_limits<std::int32_t>::max());
  manager_->SetReceiveProgress(10, 20);
  EXPECT_EQ(manager_->CurrentObjectSize(), 20);
  EXPECT_EQ(manager_->CurrentObjectReceived(), 10);
}

TEST_F(ListTest, TheManagerEmptiesTheFrameFoldersWhenMadeAndDestroyed) {
  manager_.reset();
  namespace fs = std::filesystem;
  fs::remove_all(NativePath("DB\\TRM"));
  {
    TZelConnexionsManagerByMe manager(nullptr);
    EXPECT_TRUE(fs::is_directory(NativePath("DB\\TRM")));
    EXPECT_TRUE(fs::is_directory(NativePath("DB\\TRM\\FST")));
    std::ofstream(NativePath("DB\\TRM\\old.trm")) << "x";
    std::ofstream(NativePath("DB\\TRM\\FST\\old.trm")) << "x";
  }
  EXPECT_FALSE(fs::exists(NativePath("DB\\TRM\\old.trm")));
  EXPECT_FALSE(fs::exists(NativePath("DB\\TRM\\FST\\old.trm")));
  std::ofstream(NativePath("DB\\TRM\\left.trm")) << "x";
  TZelConnexionsManagerByMe again(nullptr);
  EXPECT_FALSE(fs::exists(NativePath("DB\\TRM\\left.trm")));
  EXPECT_EQ(again.TargetNumber(), -1);
  EXPECT_FALSE(again.Develop());
  EXPECT_FALSE(again.Hidden());
  EXPECT_EQ(again.ScanCount(), 3);
}

TEST_F(ListTest, FrameFilesGoToTheFoldersTheManagerIsGiven) {
  namespace fs = std::filesystem;
  testing::TempFolder other("qv_net_frames");
  const FrameFolders folders = FrameFolders::Below(other.folder());
  fs::create_directories(NativePath(folders.frames));
  std::ofstream(NativePath(folders.frames) + "/stale.trm") << "x";
  manager_->SetFrameFolders(folders);
  EXPECT_FALSE(fs::exists(NativePath(folders.frames) + "/stale.trm"));
  EXPECT_TRUE(fs::is_directory(NativePath(folders.prepared)));

  network_.Script("127.0.0.2", PeerScript::kServer);
  ASSERT_TRUE(AddServer("127.0.0.2"));
  testing::TestPeer& server = network_.Peer(0);
  TSOFile file;
  file.xData.assign(300'000, 'f');
  file.SetSendCompressionLevel(0);
  const std::string wire = server.Encode(file);
  ASSERT_TRUE(server.SendRaw(wire.substr(0, wire.size() / 2)));  // a frame being received
  auto count_files = [](const std::string& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  };
  ASSERT_TRUE(Eventually([&] { return count_files(NativePath(folders.frames)) > 0; }));
}

}  // namespace
}  // namespace quorvane
