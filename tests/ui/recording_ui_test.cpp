#include "ui/recording_ui.h"

#include <gtest/gtest.h>

#include <thread>

namespace quorvane {
namespace {

TEST(RecordingUi, RecordsCallsWithTheirArguments) {
  RecordingUi ui;
  WindowRef connecting = ui.ShowConnectingWindow();
  WindowRef download = ui.OpenDownloadWindow(true);
  ui.SetDownloadPhase(download, 2);
  ui.UpdateDownloadProgress(download, 4500, 1000, 3, 1);
  ui.UpdateItemProgress(download, 200, 50);
  ui.CloseConnectingWindow(connecting);
  EXPECT_EQ(connecting, kNoWindow);

  const std::vector<RecordedCall> calls = ui.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[1], (RecordedCall{"OpenDownloadWindow", {"hidden", std::to_string(download)}}));
  EXPECT_EQ(calls[3], (RecordedCall{"UpdateDownloadProgress",
                                    {std::to_string(download), "4500", "1000", "3", "1"}}));
  EXPECT_EQ(ui.CallsNamed("SetDownloadPhase").at(0).args.at(1), "2");
  EXPECT_EQ(ui.OpenWindowCount(), 1u);
}

TEST(RecordingUi, StatusWindowOnlyOnTheMainThread) {
  RecordingUi ui;
  WindowRef from_worker = 99;
  std::thread([&] { from_worker = ui.OpenStatusWindow(); }).join();
  EXPECT_EQ(from_worker, kNoWindow);
  EXPECT_NE(ui.OpenStatusWindow(), kNoWindow);
}

}  // namespace
}  // namespace quorvane
