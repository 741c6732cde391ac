// The two seam adapters over the recording backend: the connection list's closing
// lines in a status window, and the object base's message boxes in the dialog.
#include "app/connection_status_adapter.h"

#include <gtest/gtest.h>

#include "app/message_box_adapter.h"
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

TEST(UiMessageBoxService, ShowsMessagesAndAsksQuestionsInTheDialog) {
  RecordingUi ui;
  UiMessageBoxService service(ui);
  service.ShowMessage("Server not found", "check your internet connexion.");
  EXPECT_EQ(ui.CallsNamed("ShowMessageDialog").at(0),
            (RecordedCall{"ShowMessageDialog",
                          {std::to_string(kColourButtonFace), "Server not found",
                           "check your internet connexion."}}));
  EXPECT_FALSE(service.AskQuestion("Confirmation", "Remplacer ?"));
  ui.SetQuestionAnswer(DialogResult::kYes);
  EXPECT_TRUE(service.AskQuestion("Confirmation", "Remplacer ?"));
  ui.SetQuestionAnswer(DialogResult::kNone);  // closed without an answer
  EXPECT_FALSE(service.AskQuestion("Confirmation", "Remplacer ?"));
}

}  // namespace
}  // namespace quorvane
