// The closing lines of the connection list shown in a status window of the
// installation windows (recording backend), window opened and closed around them.
#include "ui/connection_status_adapter.h"

#include <gtest/gtest.h>

#include "net/connexion_manager.h"
#include "net/net_fixture.h"
#include "ui/recording_ui.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using literals::operator""_w;

class StatusAdapterTest : public testing::NetTest {};

TEST_F(StatusAdapterTest, StopShowsEachClosingLineInAStatusWindowThenClosesIt) {
  testing::FakeNetwork network;
  network.Script("127.0.0.1", testing::PeerScript::kServer);
  network.Script("127.0.0.2", testing::PeerScript::kServer);
  RecordingUi ui;
  UiConnectionStatus status(ui);
  InstallConnectionStatus(&status);
  {
    TZelConnexionsManagerByMe manager(nullptr);
    manager.SetConnector(network.Connector());
    ListTimings timings;
    timings.close_pause_ms = 0;
    manager.SetListTimings(timings);
    TxSocksInfo socks;
    for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
      ASSERT_TRUE(manager.List().AddConnection(kTransportTcp, 'N', "Server", socks, ServerUserId(),
                                               false, address, 700, false));
    }
    manager.Stop();
  }
  InstallConnectionStatus(nullptr);
  const auto lines = ui.CallsNamed("PushStatusLine");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].args.back(), "Fermeture connexion sortante N°:2"_w);
  EXPECT_EQ(lines[1].args.back(), "Fermeture connexion sortante N°:1"_w);
  EXPECT_EQ(ui.CallsNamed("OpenStatusWindow").size(), 1u);
  EXPECT_EQ(ui.OpenWindowCount(), 0u);
}

}  // namespace
}  // namespace quorvane
