// The real quorvane-setup, copied into a temporary program folder and run as a
// user would, with the console windows.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/instance_lock.h"
#include "settings/settings.h"
#include "ui/hermetic_folder.h"

#ifndef QUORVANE_SETUP_PROGRAM
#error "QUORVANE_SETUP_PROGRAM must name the quorvane-setup program"
#endif
#ifndef QUORVANE_RECORDING_CLIENT
#error "QUORVANE_RECORDING_CLIENT must name the stand-in client program"
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// A loopback port nobody listens on: bound, then let go.
int ClosedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class SetupProgramTest : public HermeticFolderTest {
 protected:
  void SetUp() override {
    HermeticFolderTest::SetUp();
    program_ = Folder() + "quorvane-setup";
    fs::copy_file(QUORVANE_SETUP_PROGRAM, program_);
    fs::copy_file(QUORVANE_RECORDING_CLIENT, Folder() + "quorvanecustomer.exe");
  }
  // Every address the run may reach is on the loopback, and the relay's port is
  // closed, so a run fails quickly without leaving the machine.
  void KeepTheRunOnTheLoopback() {
    std::ofstream(Folder() + "site.toml")
        << "relay_lan_prefix = \"127.0.0.\"\n"
           "address_page_url = \"http://127.0.0.1:1/ip.htm\"\n"
           "owner_page_url = \"http://127.0.0.1:1/getowner.htm\"\n"
           "install_idle_seconds = 2\n";
    const int port = ClosedLoopbackPort();
    ASSERT_GT(port, 0);
    WriteSetting(kSettingProxyAddress, "127.0.0.1");
    WriteSetting(kSettingProxyPort, port);
  }
  // Runs the program (with the console windows unless `environment` says
  // otherwise); returns its exit status and fills `err` and `out` with what it
  // wrote on stderr and stdout.
  int Run(const std::string& arguments, std::string& err, std::string* out = nullptr,
          const std::string& environment = "QUORVANE_UI=console") {
    const std::string log = Folder() + "stderr.txt";
    const std::string printed = Folder() + "stdout.txt";
    const std::string command = environment + " LC_ALL=fr_FR.UTF-8 timeout 60 '" + program_ + "' " +
                                arguments + " </dev/null >'" + printed + "' 2>'" + log + "'";
    const int status = std::system(command.c_str());
    err = ReadFile(log);
    if (out != nullptr) *out = ReadFile(printed);
    fs::remove(log);
    fs::remove(printed);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string program_;
};

TEST_F(SetupProgramTest, RunsSettlesTheLanguageAndStartsNothingWhenTheRunFails) {
  KeepTheRunOnTheLoopback();
  std::ofstream(Folder() + "upd.exe") << "stale";
  std::string err;
  EXPECT_EQ(Run("nofs", err), 0);
  EXPECT_FALSE(err.empty());  // the console told what happened
  EXPECT_TRUE(fs::exists(Folder() + "merx"));
  EXPECT_FALSE(fs::exists(Folder() + "upd.exe"));
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
  EXPECT_FALSE(fs::exists(Folder() + "client-args.txt"));
}

TEST_F(SetupProgramTest, SecondInstanceEndsSilentlyWhileTheFirstHoldsTheLock) {
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  std::ofstream(Folder() + "upd.exe") << "kept while another instance runs";
  std::string err;
  EXPECT_EQ(Run("english", err), 0);
  EXPECT_EQ(err, "");
  EXPECT_TRUE(fs::exists(Folder() + "upd.exe"));
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), 0);
}

TEST_F(SetupProgramTest, ASecondInstanceSaysSoOnATerminalOnly) {
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  // stderr on a pseudo-terminal: one line, still exit 0
  const std::string typescript = Folder() + "typescript.txt";
  const std::string command = "QUORVANE_UI=console timeout 60 script -qec \"'" + program_ +
                              "' english\" '" + typescript + "' </dev/null >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string seen = ReadFile(typescript);
  EXPECT_NE(seen.find("another installation is running in " + Folder()), std::string::npos) << seen;
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), 0);  // nothing else was done
}

TEST_F(SetupProgramTest, HelpAndVersionPrintAndTouchNothing) {
  std::string err;
  std::string out;
  EXPECT_EQ(Run("--version", err, &out), 0);
  EXPECT_EQ(out, "quorvane-setup 0.1.0\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Run("english --help", err, &out), 0);
  EXPECT_EQ(out.rfind("usage: quorvane-setup", 0), 0u) << out;
  EXPECT_FALSE(fs::exists(Folder() + "merx"));
  EXPECT_FALSE(fs::exists(Folder() + "settings.toml"));
  EXPECT_FALSE(fs::exists(Folder() + "client-args.txt"));
}

TEST_F(SetupProgramTest, QtAskedForWithoutADisplayFallsBackToTheTerminal) {
  KeepTheRunOnTheLoopback();
  std::string err;
  const int status =
      Run("nofs", err, nullptr,
          "QUORVANE_UI=qt DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= XAUTHORITY=/nonexistent");
  EXPECT_EQ(status, 0) << err;  // Qt would have ended the process (134)
  EXPECT_EQ(err.rfind("quorvane-setup: QUORVANE_UI=qt asks for windows, but no X display is set; "
                      "the installation is shown on the terminal.\n",
                      0),
            0u)
      << err;
  EXPECT_NE(err.find("Connecting ..."), std::string::npos) << err;  // the console's windows
}

}  // namespace
}  // namespace quorvane
