// The installer's own network classes (connection manager, list and items)
// install a package from quorvane-server through a real danted relay: the
// server listens on 127.0.0.1-3 like the three servers behind a relay; several
// hundred files and one of 50 MB arrive identical; a second run transfers no
// file; a changed file is the only one sent again.
#include <gtest/gtest.h>

#include <fstream>

#include "net/connexion_manager.h"
#include "net/net_fixture.h"
#include "objects/answers.h"
#include "objects/customer.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "server_fixture.h"
#include "settings/settings.h"
#include "settings/site.h"
#include "support/danted_relay.h"
#include "util/program_folder.h"
#include "util/text.h"

namespace quorvane::server::testing {
namespace {

struct Outcome {
  bool finished = false;
  std::int64_t expected_files = -1;
  std::vector<std::string> files;
};

class NetInstallTest : public quorvane::testing::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    std::ofstream(scope_->folder() + "site.toml") << "relay_lan_prefix = \"127.0.0.\"\n";
    ReloadSiteValues();
  }
  void TearDown() override {
    ReloadSiteValues();
    NetTest::TearDown();
  }

  // One run of the installer: a fresh manager, the request with the inventory
  // of the program folder, then every object until "Fin".
  Outcome InstallOnce(std::uint16_t relay_port, std::uint16_t port) {
    WriteSetting(kSettingInstallPort, port);
    WriteSetting(kSettingProxyPort, relay_port);
    WriteSetting(kSettingProxyAddress, std::string("127.0.0.1"));
    Outcome outcome;
    TZelSObjectCustomerIdentification customer;
    customer.xsNickName = "Alice";
    TZelConnexionsManagerByMe manager(nullptr);
    manager.SetStackManager(stack_.get());
    manager.SetIdentification(&customer);
    manager.Open();
    manager.Start();
    TSOFilesList request(nullptr);
    request.xWhat = std::string(protocol::kWantInstall) + "\n\r\nWinDir =/";
    request.AddFolder("");
    request.AddFolder("DB");
    EXPECT_TRUE(manager.SendInstallRequest(&request));
    while (auto object = PopClient(60'000)) {
      if (auto* answer = dynamic_cast<TZelSObjectAnswer*>(object.get())) {
        if (answer->ZelWhat == protocol::kInstallBegin && answer->ZelItems->Count() >= 3)
          outcome.expected_files = std::stoll(answer->ZelItems->Lines()[1]);
        if (answer->ZelWhat == protocol::kInstallEnd) {
          outcome.finished = true;
          break;
        }
      } else if (auto* file = dynamic_cast<TSOFile*>(object.get())) {
        outcome.files.push_back(file->xRelativePath + file->xFileName);
        EXPECT_TRUE(file->SaveToDisk(ProgramFolder() + file->xRelativePath + file->xFileName));
      }
    }
    ListTimings quick;
    quick.close_pause_ms = 10;
    manager.SetListTimings(quick);
    manager.Stop();
    manager.Close();
    return outcome;
  }

  std::string Difference(const fs::path& package) {
    for (auto& [path, bytes] : Tree(package)) {
      const fs::path installed = fs::path(ProgramFolder()) / LowerCase(path);
      if (!fs::exists(installed)) return "missing " + path;
      if (ReadText(installed) != bytes) return "different " + path;
    }
    return "";
  }
};

TEST_F(NetInstallTest, InstallsThroughDantedThenSendsNothingThenOnlyTheChange) {
  quorvane::testing::DantedRelay relay;
  quorvane::testing::TempFolder work("quorvane-server-net");
  const fs::path package = work.path() / "package";
  for (int i = 0; i < 150; ++i)
    WriteFile(package / ("Prog" + std::to_string(i) + ".dll"), TextBytes(1000 + i * 53, i));
  for (int i = 0; i < 150; ++i)
    WriteFile(package / "DB" / ("Table" + std::to_string(i) + ".PRP"), TextBytes(700 + i, 500 + i));
  WriteFile(package / "Media.pak", NoiseBytes(50 << 20, 3));

  const std::uint16_t port = FreeLoopbackPort();
  ServerOptions options;
  options.package = package;
  options.state = work.path() / "state";
  options.level = 1;
  options.listen = {"127.0.0.1:" + std::to_string(port), "127.0.0.2:" + std::to_string(port),
                    "127.0.0.3:" + std::to_string(port)};
  ServerProcess server(options, work.path() / "server.log");
  ASSERT_TRUE(server.started());

  const Outcome first = InstallOnce(relay.port(), port);
  ASSERT_TRUE(first.finished) << ReadText(work.path() / "server.log") << relay.log();
  EXPECT_EQ(first.files.size(), 301u);
  EXPECT_EQ(first.expected_files, 301);
  EXPECT_EQ(Difference(package), "");

  const Outcome second = InstallOnce(relay.port(), port);
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.expected_files, 0);
  EXPECT_TRUE(second.files.empty());

  WriteFile(package / "DB" / "Table42.PRP", TextBytes(9999, 42));
  const Outcome third = InstallOnce(relay.port(), port);
  ASSERT_TRUE(third.finished);
  EXPECT_EQ(third.files, std::vector<std::string>{"DB\\Table42.PRP"});
  EXPECT_EQ(Difference(package), "");
  // The connections came through the relay, from its loopback address.
  const std::string log = ReadText(work.path() / "server.log");
  EXPECT_NE(log.find("identified: customer \"Alice"), std::string::npos) << log;
  EXPECT_NE(log.find("sent 301 files"), std::string::npos) << log;
}

}  // namespace
}  // namespace quorvane::server::testing
