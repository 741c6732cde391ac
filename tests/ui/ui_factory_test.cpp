#include "ui/ui_factory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "ui/console_ui.h"

namespace quorvane {
namespace {

// Each case sets the three variables the choice reads.
void Environment(const char* ui, const char* display, const char* wayland) {
  const auto set = [](const char* name, const char* value) {
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  };
  set("QUORVANE_UI", ui);
  set("DISPLAY", display);
  set("WAYLAND_DISPLAY", wayland);
}

TEST(ChooseUiBackend, DisplayDecidesUnlessForced) {
  Environment(nullptr, nullptr, nullptr);
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kConsole);
  Environment(nullptr, "", "");
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kConsole);
  Environment(nullptr, ":0", nullptr);
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kQt);
  Environment(nullptr, nullptr, "wayland-0");
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kQt);
  Environment("console", ":0", "wayland-0");
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kConsole);
  Environment("qt", nullptr, nullptr);
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kQt);
  Environment("something", nullptr, nullptr);
  EXPECT_EQ(ChooseUiBackend(), UiBackend::kConsole);
}

int g_probes = 0;
bool Answers() {
  ++g_probes;
  return true;
}
bool Silent() {
  ++g_probes;
  return false;
}

TEST(DecideUiBackend, QtOnlyWhereItCanStartOtherwiseTheTerminalWithANotice) {
  ::unsetenv("QT_QPA_PLATFORM");
  // Asked for, without any display: the terminal, and one line that says why.
  Environment("qt", nullptr, nullptr);
  g_probes = 0;
  UiDecision decision = DecideUiBackend(Silent);
  EXPECT_EQ(decision.backend, UiBackend::kConsole);
  EXPECT_EQ(decision.notice,
            "quorvane-setup: QUORVANE_UI=qt asks for windows, but no X display is set; the "
            "installation is shown on the terminal.");
  EXPECT_EQ(decision.notice.find('\n'), std::string::npos);
  // A display that does not answer, chosen by the environment.
  Environment(nullptr, ":97", nullptr);
  decision = DecideUiBackend(Silent);
  EXPECT_EQ(decision.backend, UiBackend::kConsole);
  EXPECT_EQ(decision.notice,
            "quorvane-setup: the display :97 does not answer; the installation is shown on the "
            "terminal.");
  // A display that answers, asked for or not.
  Environment("qt", ":0", nullptr);
  decision = DecideUiBackend(Answers);
  EXPECT_EQ(decision.backend, UiBackend::kQt);
  EXPECT_EQ(decision.notice, "");
  Environment(nullptr, ":0", nullptr);
  EXPECT_EQ(DecideUiBackend(Answers).backend, UiBackend::kQt);
  EXPECT_EQ(g_probes, 4);
  // A platform that needs no display is not probed.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Environment("qt", nullptr, nullptr);
  EXPECT_EQ(DecideUiBackend(Silent).backend, UiBackend::kQt);
  // The terminal chosen outright needs no probe and no notice.
  Environment("console", ":0", nullptr);
  decision = DecideUiBackend(Answers);
  EXPECT_EQ(decision.backend, UiBackend::kConsole);
  EXPECT_EQ(decision.notice, "");
  EXPECT_EQ(g_probes, 4);
}

TEST(CreateInstallationUi, DeadDisplayFallsBackToTheTerminal) {
  Environment(nullptr, ":97", nullptr);
  ::unsetenv("QT_QPA_PLATFORM");
  ::setenv("XAUTHORITY", "/nonexistent", 1);
  std::unique_ptr<InstallationUi> ui = CreateInstallationUi();
  EXPECT_NE(dynamic_cast<ConsoleUi*>(ui.get()), nullptr);
  // Neither a Wayland name nor a chosen platform makes a dead display usable:
  // Qt would end the process.
  Environment(nullptr, ":97", "wayland-97");
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ui = CreateInstallationUi();
  EXPECT_NE(dynamic_cast<ConsoleUi*>(ui.get()), nullptr);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);  // for the window tests of this program
}

}  // namespace
}  // namespace quorvane
