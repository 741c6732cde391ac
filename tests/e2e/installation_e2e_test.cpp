// End-to-end installations: the real quorvane-setup in a temporary program
// folder, a real danted relay, a real quorvane-server on 127.0.0.1-3 and real
// discovery pages, everything on the loopback.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <random>

#include "e2e/e2e_support.h"
#include "objects/customer.h"
#include "objects/register_classes.h"
#include "settings/settings.h"
#include "support/danted_relay.h"
#include "support/http_pages.h"
#include "transport/data_transfer.h"
#include "util/text.h"

namespace quorvane {
namespace {

using namespace quorvane::testing;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string TextBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* words[] = {"quorvane ", "install ", "package ", "file\n", "data "};
  std::string text;
  while (text.size() < size)
    text += words[random() % 5];
  text.resize(size);
  return text;
}

// What the installer itself keeps in its folder, beside what it installed.
bool IsInstallerOwn(const std::string& name) {
  static const char* own[] = {"quorvane-setup",     "settings.toml", "settings.toml.lock",
                              "site.toml",          "merx",          "db/byme.identification.zub",
                              "db/customer.by.zub", "db/setup.log",  "db/setup.log.1",
                              "started.txt"};
  return std::find(std::begin(own), std::end(own), name) != std::end(own) ||
         name.rfind("db/trm/", 0) == 0 || name.rfind("db/package.", 0) == 0;
}

std::map<std::string, std::string> Installed(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (auto& [name, bytes] : Tree(folder))
    if (!IsInstallerOwn(name)) files[name] = bytes;
  return files;
}

std::map<std::string, std::string> Expected(const fs::path& package) {
  std::map<std::string, std::string> files;
  for (auto& [name, bytes] : Tree(package))
    files[LowerCase(name)] = bytes;
  return files;
}

// The files a run's log reports written, sorted.
std::vector<std::string> WrittenFiles(const std::string& log) {
  std::vector<std::string> written;
  for (std::size_t at = log.find("file \""); at != std::string::npos;
       at = log.find("file \"", at + 1)) {
    const std::size_t end = log.find('"', at + 6);
    if (log.compare(end, 9, "\" written") == 0) written.push_back(log.substr(at + 6, end - at - 6));
  }
  std::sort(written.begin(), written.end());
  return written;
}

// A vendor's key pair made by the server's keygen; returns the installer's site line.
std::string VendorKey(const fs::path& key) {
  const pid_t pid = SpawnProcess({QUORVANE_SERVER_PROGRAM, "keygen", "--key", key.string()},
                                 key.string() + ".out");
  EXPECT_EQ(WaitForExit(pid, std::chrono::seconds(30)), 0) << ReadText(key.string() + ".out");
  return "package_public_key = \"" + Trim(ReadText(key.string() + ".pub")) + "\"\n";
}

class InstallationE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DantedRelay::Available()) GTEST_SKIP() << "danted is not installed";
    relay_ = std::make_unique<DantedRelay>();
    WriteText(package() / "QuorvaneCustomer.exe", ClientScript("started.txt"));
    fs::permissions(package() / "QuorvaneCustomer.exe", fs::perms::owner_all);
    WriteText(package() / "readme.txt", TextBytes(5000, 1));
    WriteText(package() / "DB" / "data.prp", TextBytes(20000, 2));
    WriteText(package() / "DB" / "tables" / "t1.dat", RandomBytes(70000, 3));
    WriteText(package() / "Sub" / "MixedCase.TXT", "mixed");
    WriteText(package() / "Sub" / "empty.bin", "");
    for (int i = 0; i < 40; ++i)
      WriteText(package() / "Sub" / "many" / ("f" + std::to_string(i) + ".txt"),
                TextBytes(300 + i, 10 + i));
  }

  fs::path package() const { return root_.path() / "package"; }
  fs::path program_folder() const { return root_.path() / "program"; }

  // The server and a configured installer.
  void StartServer(const std::vector<std::string>& options = {}) {
    server_ = std::make_unique<ServerProcess>(package(), options);
  }
  SetupProgram& Setup(const std::string& site_extra = "", int language = 9) {
    setup_ = std::make_unique<SetupProgram>(program_folder());
    setup_->Configure(relay_->port(), server_->port(), site_extra, language);
    return *setup_;
  }
  std::string Diagnostics() const {
    return "\n--- setup log:\n" + setup_->log() + "\n--- server:\n" + server_->output() +
           "\n--- relay:\n" + relay_->log();
  }
  std::string LogSince(std::size_t offset) const { return setup_->log().substr(offset); }

  TempFolder root_{"quorvane-e2e"};
  std::unique_ptr<DantedRelay> relay_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<SetupProgram> setup_;
};

TEST_F(InstallationE2E, AFreshInstallationWritesThePackageShowsThePhasesAndStartsTheClient) {
  StartServer();
  SetupProgram& setup = Setup();
  int code = -2;
  const std::string output = setup.Run({"nofs", "alpha", "beta"}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Installed(program_folder()), Expected(package())) << output << Diagnostics();
  for (const char* phase : {"[1/3]", "[2/3]", "[3/3]"})
    EXPECT_NE(output.find(phase), std::string::npos) << phase << "\n" << output;
  // The client program got the installer's own arguments.
  WaitForFile(program_folder() / "started.txt");
  EXPECT_EQ(ReadText(program_folder() / "started.txt"), "nofs alpha beta\n") << Diagnostics();
  EXPECT_NE(setup.log().find("installation finished"), std::string::npos);
  // The connections are closed one by one with a status line each.
  EXPECT_NE(output.find("Fermeture connexion sortante"), std::string::npos) << output;
}

TEST_F(InstallationE2E, AnUpdateSendsOnlyTheChangedAndMissingFiles) {
  StartServer();
  SetupProgram& setup = Setup();
  setup.Run({"nofs"});
  ASSERT_EQ(Installed(program_folder()), Expected(package())) << Diagnostics();
  const std::size_t first_run = setup.log().size();

  // Nothing changed: nothing is sent again.
  fs::remove(program_folder() / "started.txt");
  setup.Run({"nofs"});
  std::string second = LogSince(first_run);
  EXPECT_EQ(second.find("\" written"), std::string::npos) << second;
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));

  // One file changed in the package, one deleted locally, one new.
  WriteText(package() / "DB" / "data.prp", TextBytes(21000, 99));
  fs::remove(program_folder() / "sub" / "many" / "f7.txt");
  WriteText(package() / "Sub" / "new.txt", "new");
  const std::size_t before = setup.log().size();
  setup.Run({"nofs"});
  const std::string third = LogSince(before);
  EXPECT_EQ(WrittenFiles(third),
            (std::vector<std::string>{"DB\\data.prp", "Sub\\many\\f7.txt", "Sub\\new.txt"}))
      << third;
  EXPECT_EQ(Installed(program_folder()), Expected(package()));
}

TEST_F(InstallationE2E, ASignedPackageInstallsUpdatesAndRepairsAFileChangedOnDisk) {
  const std::string site = VendorKey(root_.path() / "vendor.key");
  StartServer({"--sign-key", (root_.path() / "vendor.key").string()});
  SetupProgram& setup = Setup(site);
  setup.Run({"nofs"});
  ASSERT_EQ(Installed(program_folder()), Expected(package())) << Diagnostics();
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));

  WriteText(package() / "DB" / "data.prp", TextBytes(21000, 99));
  std::size_t before = setup.log().size();
  setup.Run({"nofs"});
  EXPECT_NE(LogSince(before).find("manifest accepted"), std::string::npos) << LogSince(before);
  EXPECT_EQ(WrittenFiles(LogSince(before)), std::vector<std::string>{"DB\\data.prp"});

  // One byte changed on disk, the size kept: the inventory alone would not show it.
  std::string bytes = ReadText(program_folder() / "readme.txt");
  bytes[100] ^= 1;
  WriteText(program_folder() / "readme.txt", bytes);
  fs::remove(program_folder() / "started.txt");
  before = setup.log().size();
  setup.Run({"nofs"});
  EXPECT_EQ(WrittenFiles(LogSince(before)), std::vector<std::string>{"readme.txt"})
      << LogSince(before);
  EXPECT_EQ(Installed(program_folder()), Expected(package()));
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, AnInstallerWithoutAKeyIgnoresTheManifestOfASigningServer) {
  VendorKey(root_.path() / "vendor.key");
  StartServer({"--sign-key", (root_.path() / "vendor.key").string()});
  SetupProgram& setup = Setup();
  setup.Run({"nofs"});
  EXPECT_EQ(Installed(program_folder()), Expected(package())) << Diagnostics();
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));
  EXPECT_NE(setup.log().find("answer \"PackageManifest\" ignored"), std::string::npos);
}

TEST_F(InstallationE2E, TheRequestWordFollowsTheLanguage) {
  StartServer();
  SetupProgram& setup = Setup("", 12);
  setup.Run({"nofs"});
  EXPECT_NE(setup.log().find("request WantCustomerInstall with"), std::string::npos) << setup.log();
  const std::size_t before = setup.log().size();
  setup.Run({"nofs", "english"});
  EXPECT_NE(LogSince(before).find("request WantCustomerInstallEnglish with"), std::string::npos);
  const std::size_t again = setup.log().size();
  setup.Run({"nofs", "french"});
  EXPECT_NE(LogSince(again).find("request WantCustomerInstall with"), std::string::npos);
}

TEST_F(InstallationE2E, DiscoveryReadsThePagesAndNofsFetchesNone) {
  StartServer();
  HttpPages pages;
  // The relay address comes from the page; the stored one is wrong on purpose.
  pages.Write("ip.htm", "<html><head><title>ip.fic:127.0.0.1/relay</title></head></html>");
  pages.Write("getowner.htm", "<title>Acme Resellerqrvnewww.acme.exampleqrvne</title>");
  SetupProgram& setup = Setup("install_idle_seconds = 20\n");
  WriteText(program_folder() / "site.toml",
            "relay_lan_prefix = \"127.0.0.\"\naddress_page_url = \"" + pages.Url("ip.htm") +
                "\"\nowner_page_url = \"" + pages.Url("getowner.htm") + "\"\n");
  std::string settings = ReadText(setup.settings());
  settings.replace(settings.find("PROXYIP = \"127.0.0.1\""), 21, "PROXYIP = \"127.0.0.77\"");
  WriteText(setup.settings(), settings);

  setup.Run({"nofs"});
  EXPECT_TRUE(StaysAbsent(program_folder() / "started.txt"));  // no relay at 127.0.0.77
  EXPECT_EQ(pages.RequestLog().find("GET "), std::string::npos) << pages.RequestLog();
  setup.Run({});
  EXPECT_EQ(Installed(program_folder()), Expected(package())) << Diagnostics();
  EXPECT_NE(ReadText(setup.settings()).find("PROXYIP = '127.0.0.1'"), std::string::npos)
      << ReadText(setup.settings());
  EXPECT_NE(pages.RequestLog().find("GET /ip.htm"), std::string::npos) << pages.RequestLog();

  RegisterClasses();
  TZelDataTransfer transfer;
  TZelSObjectPartner partner;
  ASSERT_TRUE(transfer.LoadObject(partner, (program_folder() / "db" / "customer.by.zub").string()));
  EXPECT_EQ(partner.xsCompagnyName, "Acme Reseller");
  EXPECT_EQ(partner.xsStartWeb, "www.acme.example");
}

TEST_F(InstallationE2E, DiscoveryEdgeCasesWithTheRealInstaller) {
  StartServer();
  HttpPages pages;
  // An address without "/" after it, and an owner page that answers NULL.
  pages.Write("ip.htm", "<title>ip.fic:127.0.0.1</title>");
  pages.Write("getowner.htm", "<title>NULLqrvnewww.somewhere.exampleqrvne</title>");
  SetupProgram& setup = Setup();
  WriteText(program_folder() / "site.toml",
            "relay_lan_prefix = \"127.0.0.\"\naddress_page_url = \"" + pages.Url("ip.htm") +
                "\"\nowner_page_url = \"" + pages.Url("getowner.htm") + "\"\n");
  std::string settings = ReadText(setup.settings());
  settings.replace(settings.find("PROXYIP = \"127.0.0.1\""), 21, "PROXYIP = \"127.0.0.78\"");
  WriteText(setup.settings(), settings);
  setup.Run({});
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt")) << Diagnostics();
  RegisterClasses();
  TZelDataTransfer transfer;
  const std::string partner_file = (program_folder() / "db" / "customer.by.zub").string();
  TZelSObjectPartner cleared;
  ASSERT_TRUE(transfer.LoadObject(cleared, partner_file));
  EXPECT_EQ(cleared.xsCompagnyName, "");
  EXPECT_EQ(cleared.xsStartWeb, "");
  EXPECT_FALSE(cleared.IdIsNull());

  // A stored partner with the maker's name is cleared at the next start, and the
  // owner page is not asked again (the partner has its identifier).
  cleared.xsCompagnyName = " FarnWick ";
  cleared.xsStartWeb = "www.farnwick.example";
  ASSERT_TRUE(transfer.SaveObject(cleared, partner_file, FileSaveMode::Compressed, 9));
  const std::size_t asked = pages.RequestLog().size();
  setup.Run({});
  TZelSObjectPartner again;
  ASSERT_TRUE(transfer.LoadObject(again, partner_file));
  EXPECT_EQ(again.xsCompagnyName, "");
  EXPECT_EQ(again.xsStartWeb, "");
  EXPECT_EQ(again.GetId(), cleared.GetId());
  EXPECT_EQ(pages.RequestLog().substr(asked).find("getowner"), std::string::npos);
}

TEST_F(InstallationE2E, FinMessageIsShown) {
  StartServer({"--fin-message", "Welcome to Quorvane"});
  SetupProgram& setup = Setup();
  const std::string output = setup.Run({"nofs"});
  EXPECT_NE(output.find("Welcome to Quorvane"), std::string::npos) << output << Diagnostics();
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, ADeliveredUpdaterIsStartedInsteadOfTheClient) {
  // The updater notes its arguments and whether the installer's lock was free.
  const fs::path updater = root_.path() / "updater.sh";
  WriteText(updater,
            "#!/bin/sh\nd=\"$(dirname \"$0\")\"\n"
            "if flock -n \"$d/merx\" true; then echo free > \"$d/lock.txt\"; "
            "else echo held > \"$d/lock.txt\"; fi\n"
            "echo \"$@\" > \"$d/updater-args.txt\"\n");
  StartServer({"--updater", updater.string()});
  SetupProgram& setup = Setup();
  setup.Run({"nofs", "x"});
  // Started once the installer is gone: wait a moment for the script's file.
  WaitForFile(program_folder() / "updater-args.txt");
  EXPECT_EQ(ReadText(program_folder() / "updater-args.txt"), "nofs x\n") << Diagnostics();
  EXPECT_EQ(ReadText(program_folder() / "lock.txt"), "free\n");
  EXPECT_TRUE(fs::exists(program_folder() / "upd.exe"));
  EXPECT_FALSE(fs::exists(program_folder() / "upd.zub"));
  EXPECT_TRUE(StaysAbsent(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, NoRelaySaysServerNotFound) {
  StartServer();
  SetupProgram& setup = Setup();
  relay_->Stop();
  const std::string output = setup.Run({"nofs"});
  EXPECT_NE(output.find("Server not found"), std::string::npos) << output;
  EXPECT_TRUE(StaysAbsent(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, AStalledServerEndsWithServeurDontAnswer) {
  WriteText(package() / "Sub" / "big.bin", RandomBytes(40 * 1024 * 1024, 7));
  StartServer();
  SetupProgram& setup = Setup("install_idle_seconds = 3\n");
  const pid_t pid = setup.Start({"nofs"});
  for (int i = 0; i < 600 && setup.log().find("DebutInstall") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  server_->Signal(SIGSTOP);  // the connection stays open, nothing more comes
  WaitForExit(pid, std::chrono::seconds(120));
  server_->Signal(SIGCONT);
  const std::string output = setup.LastOutput();
  if (setup.log().find("installation finished") != std::string::npos)
    GTEST_SKIP() << "the installation finished before the server could be stopped";
  EXPECT_NE(output.find("Serveur don't answer"), std::string::npos) << output << Diagnostics();
  EXPECT_TRUE(StaysAbsent(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, TheIdentificationIsCreatedOnceAndKeptWithItsNickName) {
  StartServer();
  SetupProgram& setup = Setup();
  setup.Run({"nofs"});
  RegisterClasses();
  TZelDataTransfer transfer;
  const std::string file = (program_folder() / "db" / "byme.identification.zub").string();
  TZelSObjectCustomerIdentification first;
  ASSERT_TRUE(transfer.LoadObject(first, file)) << Diagnostics();
  EXPECT_FALSE(first.IdIsNull());
  EXPECT_EQ(first.xsNickName, "Farnwick");

  // A nick name the customer chose survives the next run, and so does the id.
  first.xsNickName = "Alice";
  ASSERT_TRUE(transfer.SaveObject(first, file, FileSaveMode::Compressed, 9));
  setup.Run({"nofs"});
  TZelSObjectCustomerIdentification second;
  ASSERT_TRUE(transfer.LoadObject(second, file));
  EXPECT_EQ(second.GetId(), first.GetId());
  EXPECT_EQ(second.xsNickName, "Alice");
}

// Waits until the window shows a file's bytes arriving. The bound only ends a
// hung run: on a loaded machine the server may take long to prepare the file.
bool WaitForFileBytes(SetupProgram& setup) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  while (setup.LastOutput().find("File ") == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST_F(InstallationE2E, AServerKilledInTheMiddleOfALargeFileLeavesTheOldCopyWhole) {
  const std::string old_copy = RandomBytes(1000, 5);
  WriteText(program_folder() / "sub" / "big.bin", old_copy);
  WriteText(package() / "Sub" / "big.bin", RandomBytes(60 * 1024 * 1024, 8));
  StartServer({"--level", "1"});
  SetupProgram& setup = Setup("install_idle_seconds = 10\n");
  const pid_t pid = setup.Start({"nofs"});
  // Kill once bytes of the large file are arriving.
  ASSERT_TRUE(WaitForFileBytes(setup)) << Diagnostics();
  server_->Kill();
  WaitForExit(pid, std::chrono::seconds(120));
  if (setup.log().find("installation finished") != std::string::npos)
    GTEST_SKIP() << "the installation finished before the server could be killed";
  const std::string now = ReadText(program_folder() / "sub" / "big.bin");
  EXPECT_EQ(now, old_copy) << "big.bin holds " << now.size() << " bytes";
  for (const auto& [name, bytes] : Tree(program_folder()))
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  EXPECT_TRUE(StaysAbsent(program_folder() / "started.txt"));
  EXPECT_NE(setup.log().find("connection closed before the end"), std::string::npos) << setup.log();
}

TEST_F(InstallationE2E, AfterAServerRestartOnlyWhatIsStillMissingComesAgain) {
  WriteText(package() / "Sub" / "big.bin", RandomBytes(60 * 1024 * 1024, 12));
  StartServer({"--level", "1"});
  SetupProgram& setup = Setup("install_idle_seconds = 20\n");
  const pid_t pid = setup.Start({"nofs"});
  ASSERT_TRUE(WaitForFileBytes(setup)) << Diagnostics();
  server_->Restart();
  WaitForExit(pid, std::chrono::seconds(120));
  const std::string log = setup.log();
  if (log.find("connection closed before the end") == std::string::npos)
    GTEST_SKIP() << "the installation finished before the server could be restarted";
  EXPECT_EQ(Installed(program_folder()), Expected(package())) << Diagnostics();
  EXPECT_NE(log.find("installation finished"), std::string::npos) << log;
  // The second request carried what had been written before the restart.
  const std::size_t again = log.rfind("request WantCustomerInstall");
  ASSERT_NE(again, std::string::npos);
  EXPECT_EQ(log.find("file \"DB\\data.prp\" written", again), std::string::npos) << log;
  EXPECT_TRUE(WaitForFile(program_folder() / "started.txt"));
}

TEST_F(InstallationE2E, AFullDiskLeavesTheOldFilesAndSaysSo) {
  // The program folder on a small file system of its own, with room for the
  // (stripped) installer and 6 MiB more.
  const fs::path stripped = root_.path() / "quorvane-setup";
  const std::string strip = "strip -o '" + stripped.string() + "' '" + QUORVANE_SETUP_PROGRAM + "'";
  ASSERT_EQ(std::system(strip.c_str()), 0);
  const auto megabytes = fs::file_size(stripped) / (1024 * 1024) + 7;
  const fs::path small = root_.path() / "small";
  fs::create_directories(small);
  const std::string size = "size=" + std::to_string(megabytes) + "m";
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  const fs::path folder = small / "program";
  fs::create_directories(folder);
  fs::copy_file(stripped, folder / "quorvane-setup");
  WriteText(folder / "readme.txt", "old readme");
  WriteText(package() / "Sub" / "huge.bin", RandomBytes(16 * 1024 * 1024, 9));
  StartServer();
  SetupProgram setup(folder, false);  // the stripped copy is already there
  setup.Configure(relay_->port(), server_->port());
  const std::string output = setup.Run({"nofs"});
  EXPECT_NE(output.find("Installation incomplete"), std::string::npos)
      << output << setup.log() << server_->output();
  // Named when its write failed; counted missing when its frame could not even
  // be kept on the full disk.
  EXPECT_TRUE(output.find("huge.bin") != std::string::npos ||
              output.find("files arrived") != std::string::npos)
      << output;
  EXPECT_FALSE(fs::exists(folder / "sub" / "huge.bin"));
  EXPECT_TRUE(StaysAbsent(folder / "started.txt"));
  for (const auto& [name, bytes] : Tree(folder))
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

}  // namespace
}  // namespace quorvane
