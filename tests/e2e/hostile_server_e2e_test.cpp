// The real quorvane-setup, through a real danted relay, against a server that
// sends files whose locations lead out of the program folder: every such file
// is refused, nothing is written outside, and the run reports the installation
// incomplete without starting the client program.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "e2e/e2e_support.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "support/danted_relay.h"
#include "transport/frame_format.h"
#include "transport/package_manifest.h"
#include "util/codec.h"
#include "wire.h"

namespace quorvane {
namespace {

using namespace quorvane::testing;
using literals::operator""_w;

struct HostileFile {
  std::string folder;
  std::string name;
  std::string data;
};

// Listens on 127.0.0.1-3 at one port; greets every connection like the real
// server, sends the scripted installation at once and then only reads.
class HostileServer {
 public:
  // before_install: frames sent between the greeting and "DebutInstall"; flood:
  // small answers sent after the files, before "Fin".
  explicit HostileServer(std::vector<HostileFile> files, const std::string& before_install = "",
                         std::size_t flood = 0)
      : flood_(flood) {
    CompleteFrameMarkers();
    std::int64_t bytes = 0;
    for (const auto& file : files)
      bytes += static_cast<std::int64_t>(file.data.size());
    script_ = server::AnswerFrames(
        protocol::kAuthentication,
        {std::string(protocol::kItemId) + "=" + std::string(protocol::kServerUserId)});
    script_ += before_install;
    script_ += server::AnswerFrames(protocol::kInstallBegin,
                                    {"", std::to_string(files.size()), std::to_string(bytes)});
    for (const auto& file : files) {
      TSOFile object;
      object.xRelativePath = file.folder;
      object.xFileName = file.name;
      object.xData = file.data;
      object.xFileSize = static_cast<std::int32_t>(file.data.size());
      script_ += server::ObjectFrames(object, 0);
    }
    flood_answer_ = server::AnswerFrames("Pad", {"x=1"});
    end_ = server::AnswerFrames(protocol::kInstallEnd, {});
    port_ = FreeLoopbackPort();
    for (const char* ip : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      const int yes = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      ::inet_pton(AF_INET, ip, &address.sin_addr);
      address.sin_port = htons(port_);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::listen(fd, 8) != 0)
        throw std::runtime_error("hostile server cannot listen on " + std::string(ip));
      listeners_.push_back(fd);
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~HostileServer() {
    stop_ = true;
    thread_.join();
    for (int fd : listeners_)
      ::close(fd);
  }
  std::uint16_t port() const { return port_; }

 private:
  void Serve() {
    std::vector<int> clients;
    while (!stop_) {
      std::vector<pollfd> fds;
      for (int fd : listeners_)
        fds.push_back({fd, POLLIN, 0});
      for (int fd : clients)
        fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (i < listeners_.size()) {
          const int client = ::accept(fds[i].fd, nullptr, nullptr);
          if (client < 0) continue;
          std::size_t sent = 0;
          while (sent < script_.size()) {
            const ssize_t n =
                ::send(client, script_.data() + sent, script_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
          }
          // Made only now, after the greeting: no child forked before holds it.
          std::string rest;
          for (std::size_t n = 0; n < flood_; ++n)
            rest += flood_answer_;
          rest += end_;
          ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);  // blocking: all or an error
          clients.push_back(client);
        } else {
          char buffer[65536];
          if (::recv(fds[i].fd, buffer, sizeof buffer, 0) <= 0) {
            ::close(fds[i].fd);
            clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
          }
        }
      }
    }
    for (int fd : clients)
      ::close(fd);
  }

  std::string script_;
  std::size_t flood_;
  std::string flood_answer_;
  std::string end_;
  std::uint16_t port_ = 0;
  std::vector<int> listeners_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HostileServerE2E, PathsLeavingTheProgramFolderAreRefusedAndTheClientIsNotStarted) {
  if (!DantedRelay::Available()) GTEST_SKIP() << "danted is not installed";
  RegisterClasses();
  DantedRelay relay;
  TempFolder root("quorvane-hostile");
  const std::string escape = "quorvane-escape-" + std::to_string(::getpid());
  const fs::path outside = root.path();  // the program folder is one below
  HostileServer server({
      {"..\\", escape + "-dotdot.txt", "x"},
      {"DB\\..\\..\\", escape + "-deep.txt", "x"},
      {outside.string() + "/", escape + "-absolute.txt", "x"},
      {"C:\\", escape + "-drive.txt", "x"},
      {"", "..\\" + escape + "-name.txt", "x"},
      {"", "sub\\" + escape + "-separator.txt", "x"},
      {"", "QuorvaneCustomer.exe", ClientScript("started.txt")},
      {"good\\", "kept.txt", "kept"},
  });
  SetupProgram setup(root.path() / "program");
  setup.Configure(relay.port(), server.port());
  int code = -2;
  const std::string output = setup.Run({"nofs"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadText(setup.folder() / "good" / "kept.txt"), "kept") << output << setup.log();
  for (const auto& entry : fs::recursive_directory_iterator(root.path()))
    EXPECT_EQ(entry.path().filename().string().find(escape), std::string::npos) << entry.path();
  for (const char* folder : {"/tmp/", "/"})
    for (const char* suffix : {"-dotdot.txt", "-deep.txt", "-absolute.txt", "-drive.txt"})
      EXPECT_FALSE(fs::exists(std::string(folder) + escape + suffix));
  EXPECT_NE(output.find("Installation incomplete"), std::string::npos) << output;
  EXPECT_NE(output.find(escape + "-dotdot.txt"), std::string::npos) << output;
  EXPECT_EQ(setup.log().find(escape + "-separator.txt\" written"), std::string::npos);
  EXPECT_NE(setup.log().find("refused"), std::string::npos);
  // The client program arrived whole but is not started: the run is incomplete.
  EXPECT_TRUE(fs::exists(setup.folder() / "quorvanecustomer.exe"));
  EXPECT_TRUE(StaysAbsent(setup.folder() / "started.txt"));
}

// The vendor's package, its manifest signed with `keys`, as manifest lines.
std::vector<std::string> VendorManifest(const std::vector<HostileFile>& files,
                                        const SigningKeys& keys, std::uint64_t version,
                                        const std::string& package = "vendor") {
  PackageManifest manifest{package, version, {}, {}};
  for (const auto& file : files)
    manifest.files.push_back(
        {file.folder, file.name, static_cast<std::int64_t>(file.data.size()), Sha256Of(file.data)});
  return SignedManifestLines(manifest, keys.secret);
}

// A server that tampers with the vendor's package in one way each; a case that
// leaves it whole shows the refusals come from the tampering.
struct TamperCase {
  const char* name;
  const char* logged;  // the check the diagnostic log names
  bool vendor_data_written;
  std::function<void(std::vector<HostileFile>& sent, std::vector<std::string>& manifest,
                     std::string& stored)>
      tamper;
};

TEST(HostileServerE2E, WithAVendorKeyOnlyWhatTheVendorSignedIsInstalledOrStarted) {
  if (!DantedRelay::Available()) GTEST_SKIP() << "danted is not installed";
  RegisterClasses();
  DantedRelay relay;
  const SigningKeys vendor = GenerateSigningKeys();
  const std::vector<HostileFile> package = {
      {"", "QuorvaneCustomer.exe", ClientScript("started.txt")}, {"DB\\", "data.prp", "vendor"}};
  const std::string updater = ClientScript("updater-started.txt");
  const TamperCase cases[] = {
      {"whole", "manifest accepted", true, [](auto&, auto&, auto&) {}},
      {"changed-byte", "\"DB\\data.prp\" refused: its SHA-256 differs", false,
       [](auto& sent, auto&, auto&) { sent[1].data[0] ^= 1; }},
      {"swapped", "\"DB\\data.prp\" refused: its size", false,
       [](auto& sent, auto&, auto&) { sent[1].data = sent[0].data; }},
      {"unlisted", "\"evil.txt\" refused: it is not listed", true,
       [](auto& sent, auto&, auto&) {
         sent.push_back({"", "evil.txt", "evil"});
       }},
      {"unlisted-updater", "\"upd.zub\" refused: it is not listed", true,
       [&](auto& sent, auto&, auto&) {
         sent.push_back({"", "upd.zub", updater});
       }},
      {"older", "is older than the accepted 8", false,
       [&](auto&, auto&, auto& stored) {
         for (const auto& line : VendorManifest(package, vendor, 8))
           stored += line + "\r\n";
       }},
      {"other-package", "names the package \"vendor\", not \"other\"", false,
       [&](auto&, auto&, auto& stored) {
         for (const auto& line : VendorManifest(package, vendor, 1, "other"))
           stored += line + "\r\n";
       }},
      {"other-key", "the signature does not verify", false,
       [&](auto&, auto& manifest, auto&) {
         manifest = VendorManifest(package, GenerateSigningKeys(), 7);
       }},
      {"no-manifest", "no signed manifest came before it", false,
       [](auto&, auto& manifest, auto&) { manifest.clear(); }},
  };
  for (const TamperCase& tamper : cases) {
    SCOPED_TRACE(tamper.name);
    std::vector<HostileFile> sent = package;
    std::vector<std::string> manifest = VendorManifest(package, vendor, 7);
    std::string stored;
    tamper.tamper(sent, manifest, stored);
    HostileServer server(sent, manifest.empty()
                                   ? std::string()
                                   : server::AnswerFrames(protocol::kPackageManifest, manifest));
    TempFolder root("quorvane-signed");
    SetupProgram setup(root.path() / "program");
    setup.Configure(relay.port(), server.port(),
                    "package_public_key = \"" + EncodeBase64(vendor.public_key) + "\"\n");
    if (!stored.empty()) WriteText(setup.folder() / "db" / "package.manifest", stored);
    const std::string output = setup.Run({"nofs"});
    EXPECT_NE(setup.log().find(tamper.logged), std::string::npos) << output << setup.log();
    const bool whole = std::string_view(tamper.name) == "whole";
    EXPECT_EQ(output.find("Installation refused: the package is not signed by its vendor.") !=
                  std::string::npos,
              !whole)
        << output;
    EXPECT_TRUE(whole ? WaitForFile(setup.folder() / "started.txt")
                      : StaysAbsent(setup.folder() / "started.txt"));
    // A tampered copy never takes the file's name.
    EXPECT_EQ(ReadText(setup.folder() / "db" / "data.prp") == "vendor", tamper.vendor_data_written);
    EXPECT_FALSE(fs::exists(setup.folder() / "evil.txt"));
    EXPECT_FALSE(fs::exists(setup.folder() / "upd.zub"));
    EXPECT_FALSE(fs::exists(setup.folder() / "updater-started.txt"));
  }
}

class HostileRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DantedRelay::Available()) GTEST_SKIP() << "danted is not installed";
    RegisterClasses();
    relay_ = std::make_unique<DantedRelay>();
  }
  std::string Run(std::vector<HostileFile> files) {
    HostileServer server(std::move(files));
    setup_.Configure(relay_->port(), server.port());
    return setup_.Run({"nofs"});
  }
  TempFolder root_{"quorvane-hostile"};
  const fs::path outside_ = root_.path() / "outside";
  SetupProgram setup_{root_.path() / "program"};
  std::unique_ptr<DantedRelay> relay_;
};

TEST_F(HostileRun, LeftTemporariesAreRemovedAndLongAndAccentedNamesWritten) {
  WriteText(setup_.folder() / "db" / "data.prp.tmp123.4", "left by a killed run");
  const std::string longest = std::string(251, 'n') + ".txt";
  const std::string output = Run({{"", longest, "long"}, {"Données\\"_w, "Café.TXT"_w, "café"}});
  EXPECT_EQ(ReadText(setup_.folder() / longest), "long") << output << setup_.log();
  EXPECT_EQ(ReadText(setup_.folder() / "données" / "café.txt"), "café");
  EXPECT_FALSE(fs::exists(setup_.folder() / "db" / "data.prp.tmp123.4"));
  EXPECT_NE(setup_.log().find("\"Données\\Café.TXT\" written"), std::string::npos);
}

TEST_F(HostileRun, AnUpdaterLeftByAKilledRunStartsAfterACompleteRun) {
  WriteText(setup_.folder() / "upd.zub", ClientScript("updated.txt"));
  fs::permissions(setup_.folder() / "upd.zub", fs::perms(0755));  // as the killed run wrote it
  Run({{"", "other.txt", "x"}});
  EXPECT_TRUE(WaitForFile(setup_.folder() / "updated.txt")) << setup_.log();
}

TEST_F(HostileRun, ADbFolderLeadingOutsideStopsTheRunAtStart) {
  fs::create_directories(outside_);
  fs::create_directory_symlink(outside_, setup_.folder() / "db");
  const std::string output = Run({{"", "a.txt", "x"}});
  EXPECT_NE(output.find("leads outside the program folder"), std::string::npos) << output;
  EXPECT_TRUE(fs::is_empty(outside_));
}

// A million small answers, then "Fin": all taken, the client started, memory bounded.
TEST(HostileServerE2E, AFloodOfSmallAnswersEndsWithTheClientStartedWithinTheBudget) {
  if (!DantedRelay::Available()) GTEST_SKIP() << "danted is not installed";
  RegisterClasses();
  DantedRelay relay;
  TempFolder root("quorvane-flood");
  HostileServer server({{"", "QuorvaneCustomer.exe", ClientScript("started.txt")}}, "", 1'000'000);
  SetupProgram setup(root.path() / "program");
  setup.Configure(relay.port(), server.port());
  const std::string output = setup.Run({"nofs"}, nullptr, std::chrono::seconds(280));
  EXPECT_TRUE(WaitForFile(setup.folder() / "started.txt")) << output << setup.log();
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "KiB at the installer's peak";
}

}  // namespace
}  // namespace quorvane
