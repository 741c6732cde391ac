#include "app/installation_exchange.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "app/package_verifier.h"
#include "app/received_files.h"
#include "objects/answers.h"
#include "objects/customer.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "settings/settings.h"
#include "support/temp_folder.h"
#include "transport/data_transfer.h"
#include "ui/recording_ui.h"
#include "util/atomic_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ProgramFolderScope;
using testing::TempFolder;

// A connection manager reduced to what the exchange uses, driven by a script:
// objects waiting now, and a hook that runs at the end of each poll (when the
// stack is found empty) to let more arrive, bytes trickle or the line drop.
class ScriptedLink : public InstallSessionLink {
 public:
  ScriptedLink() {
    manager_.SetName("ByMe");
    manager_.SetDataTransfer(&transfer_);
  }
  ~ScriptedLink() override { manager_.SetDataTransfer(nullptr); }

  TZelObject& RequestParent() override { return manager_; }
  bool SendInstallRequest(std::unique_ptr<TSOFilesList> request) override {
    requests.push_back(std::move(request));
    sent.push_back("request");
    const bool accepted = send_results.empty() ? true : send_results.front();
    if (!send_results.empty()) send_results.pop_front();
    if (accepted) connected = true;
    if (accepted && on_request) on_request(*this, requests.size());
    return accepted;
  }
  std::unique_ptr<TZelObject> PopIncoming() override {
    if (incoming.empty()) {
      ++polls;
      if (on_poll) on_poll(*this, polls);
      return nullptr;
    }
    auto object = std::move(incoming.front());
    incoming.pop_front();
    return object;
  }
  // Each file is charged its size to `account`, as a connection's buffer does.
  std::unique_ptr<TZelObject> PopIncoming(MemoryCharge& charge) override {
    held_at_pop.push_back(account->Held());
    auto object = PopIncoming();
    charge = MemoryCharge();
    if (auto* file = dynamic_cast<TSOFile*>(object.get())) {
      const auto bytes = static_cast<std::int64_t>(file->xData.size());
      account->Take(bytes);
      charge = MemoryCharge(account, bytes);
    }
    return object;
  }
  void ClearReceiveProgress() override { size = received = 0; }
  std::uint32_t CurrentObjectSize() const override { return size; }
  std::uint32_t CurrentObjectReceived() const override { return received; }
  bool Hidden() const override { return hidden; }
  void SendCustomerInformation() override { sent.push_back("CustomerInformation"); }
  bool ServerConnected() const override { return connected; }

  void Answer(std::string_view word, std::vector<std::string> lines = {}) {
    auto answer = std::make_unique<TZelSObjectAnswer>();
    answer->ZelWhat = std::string(word);
    for (auto& line : lines)
      answer->ZelItems->Add(line);
    incoming.push_back(std::move(answer));
  }
  void File(std::string relative_path, std::string name, std::string data) {
    auto file = std::make_unique<TSOFile>();
    file->xRelativePath = std::move(relative_path);
    file->xFileName = std::move(name);
    file->xData = std::move(data);
    file->xFileSize = static_cast<std::int32_t>(file->xData.size());
    incoming.push_back(std::move(file));
  }

  std::deque<std::unique_ptr<TZelObject>> incoming;
  std::vector<std::unique_ptr<TSOFilesList>> requests;
  std::vector<std::string> sent;  // what was queued, in order
  std::deque<bool> send_results;
  std::function<void(ScriptedLink&, int)> on_poll;
  std::function<void(ScriptedLink&, std::size_t)> on_request;
  std::shared_ptr<MemoryAccount> account = std::make_shared<MemoryAccount>();
  std::vector<std::int64_t> held_at_pop;  // the account's charges at each pop
  int polls = 0;
  std::uint32_t size = 0;
  std::uint32_t received = 0;
  bool hidden = false;
  bool connected = false;

 private:
  TZelDataTransfer transfer_;
  TZelObject manager_;
};

ExchangeLimits FastLimits() {
  ExchangeLimits limits;
  limits.poll_ms = 1;
  limits.idle_polls = 30;
  limits.reconnect_delay_ms = 1;
  return limits;
}

MachineFacts FixedFacts() {
  MachineFacts facts;
  facts.windows_folder = "/";
  facts.computer_name = "builder";
  facts.computer_ip = "127.0.1.1";
  facts.physical_memory_bytes = 8ULL * 1024 * 1024 * 1024 + 512;  // rounds to 8,388,609 KB
  facts.memory_load_percent = 37;
  facts.version_word = 0x1A06;
  return facts;
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClasses(); }

  bool Run() {
    InstallationExchange exchange(link_, ui_, FastLimits());
    exchange.SetMachineFacts(FixedFacts());
    const bool result = exchange.RunInstallSession();
    outcome_ = exchange.Outcome();
    return result;
  }
  std::string Read(const std::string& relative) {
    return ReadWholeFile(scope_.folder() + relative).value_or("<missing>");
  }
  std::vector<RecordedCall> Messages() { return ui_.CallsNamed("ShowMessageDialog"); }

  ProgramFolderScope scope_{"quorvane-exchange"};
  ScriptedLink link_;
  RecordingUi ui_;
  ExchangeOutcome outcome_;
};

TEST_F(ExchangeTest, AFreshInstallationWritesTheFilesAndShowsThePhases) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"ignored", "3", "17"});
    link.File("", "Readme.TXT", "hello");
    link.Answer(protocol::kPhase2);
    link.File("DB\\", "Data.PRP", "db data");
    link.File("DB\\Sub\\", "x.bin", std::string("\0\1\2\3\4", 5));
    link.Answer(protocol::kPhase3);
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(Read("readme.txt"), "hello");
  EXPECT_EQ(Read("db/data.prp"), "db data");  // the whole path lower-cased
  EXPECT_EQ(Read("db/sub/x.bin"), std::string("\0\1\2\3\4", 5));
  EXPECT_EQ(outcome_.files_written, 3u);
  EXPECT_EQ(outcome_.bytes_received, 17u);

  EXPECT_EQ(ui_.CallsNamed("OpenDownloadWindow").size(), 1u);
  const auto phases = ui_.CallsNamed("SetDownloadPhase");
  ASSERT_EQ(phases.size(), 2u);
  EXPECT_EQ(phases[0].args[1], "2");
  EXPECT_EQ(phases[1].args[1], "3");
  const auto progress = ui_.CallsNamed("UpdateDownloadProgress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().args,
            (std::vector<std::string>{progress.back().args[0], "17", "17", "3", "3"}));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ui_.OpenWindowCount(), 0u);
}

// A file keeps its memory charged to the connection until it is written, so the
// receive side does not decode the next large object meanwhile; every charge is
// given back by the end.
TEST_F(ExchangeTest, AFilesMemoryIsGivenBackOnlyOnceItIsWritten) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"ignored", "2", "300"});
    link.File("", "a.bin", std::string(100, 'a'));
    link.File("", "b.bin", std::string(200, 'b'));
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  ASSERT_GE(link_.held_at_pop.size(), 4u);
  EXPECT_EQ(link_.held_at_pop[1], 0);    // a popped
  EXPECT_EQ(link_.held_at_pop[2], 100);  // b popped: a waits to be written
  EXPECT_EQ(link_.held_at_pop[3], 300);  // the end word popped before the batch is written
  EXPECT_EQ(link_.account->Held(), 0);
  EXPECT_EQ(Read("a.bin"), std::string(100, 'a'));
  EXPECT_EQ(Read("b.bin"), std::string(200, 'b'));
}

TEST_F(ExchangeTest, FinAtOnceSucceedsWithoutADownloadWindow) {
  link_.on_request = [](ScriptedLink& link, std::size_t) { link.Answer(protocol::kInstallEnd); };
  EXPECT_TRUE(Run());
  EXPECT_TRUE(ui_.CallsNamed("OpenDownloadWindow").empty());
  EXPECT_EQ(ui_.CallsNamed("CloseConnectingWindow").size(), 1u);
  EXPECT_EQ(ui_.OpenWindowCount(), 0u);
}

TEST_F(ExchangeTest, FinMessageShowsItsTextAndSucceeds) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallEndMessage, {"Welcome to Quorvane"});
  };
  EXPECT_TRUE(Run());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[2], "Welcome to Quorvane");

  // Without its line it still ends, with an empty text.
  ui_.ClearCalls();
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallEndMessage);
  };
  EXPECT_TRUE(Run());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[2], "");
}

TEST_F(ExchangeTest, NoConnectionSaysServerNotFound) {
  link_.send_results = {false};
  EXPECT_FALSE(Run());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[1], "Server not found");
  EXPECT_EQ(Messages()[0].args[2], "check your internet connexion.");
  EXPECT_EQ(ui_.OpenWindowCount(), 0u);
}

TEST_F(ExchangeTest, SilenceEndsWithServeurDontAnswerAndKeepsWhatWasWritten) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"", "2", "2"});
    link.File("", "a.txt", "a");
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(Read("a.txt"), "a");
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[1], "Serveur don't answer");
  EXPECT_EQ(Messages()[0].args[2], "Try again in few minutes.");
  EXPECT_EQ(ui_.OpenWindowCount(), 0u);  // the download window was closed
  // The loop ran out its idle polls after the last object, not earlier.
  EXPECT_GE(link_.polls, static_cast<int>(FastLimits().idle_polls));
}

TEST_F(ExchangeTest, BytesOfALargeObjectKeepTheLoopAliveAlsoBeforeTheWindow) {
  const int trickle_polls = 3 * static_cast<int>(FastLimits().idle_polls);
  link_.on_poll = [trickle_polls](ScriptedLink& link, int poll) {
    link.size = 1000000;
    if (poll < trickle_polls) link.received = static_cast<std::uint32_t>(poll * 100);
    if (poll == trickle_polls) link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_TRUE(ui_.CallsNamed("OpenDownloadWindow").empty());
}

TEST_F(ExchangeTest, AByteTrickleMeetsTheIdleLimit) {
  link_.on_poll = [](ScriptedLink& link, int poll) {
    link.size = 2'000'000'000;
    link.received = static_cast<std::uint32_t>(poll);
    if (poll == 3 * static_cast<int>(FastLimits().idle_polls)) link.Answer(protocol::kInstallEnd);
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(Messages().at(0).args[1], "Serveur don't answer");
}

TEST_F(ExchangeTest, BadCountsReadAsZeroAndASecondDebutInstallOnlyUpdatesTheCounts) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"x", "many", "-5"});
    link.Answer(protocol::kInstallBegin);  // no lines at all
    link.Answer(protocol::kInstallBegin, {"", " 2 ", "9000"});
    link.File("", "a.txt", "a");
    link.File("", "b.txt", "b");
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(ui_.CallsNamed("OpenDownloadWindow").size(), 1u);
  const auto progress = ui_.CallsNamed("UpdateDownloadProgress");
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress[0].args[1], "0");
  EXPECT_EQ(progress[0].args[3], "0");
  EXPECT_EQ(progress[1].args[1], "0");
  EXPECT_EQ(progress[2].args[1], "9000");
  EXPECT_EQ(progress[2].args[3], "2");
}

TEST_F(ExchangeTest, FewerFilesThanAnnouncedBeforeFinIsIncomplete) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"", "3", "3"});
    link.File("", "a.txt", "a");
    link.File("", "b.txt", "b");
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_FALSE(Run());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[1], "Installation incomplete");
  EXPECT_EQ(Messages()[0].args[2], "2 of 3 files arrived.");
}

TEST_F(ExchangeTest, PhasesBeforeTheWindowAndUnknownObjectsChangeNothing) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kPhase2);
    link.Answer("Something else");
    link.incoming.push_back(std::make_unique<TZelSObjectPartner>());
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  for (const auto& call : ui_.CallsNamed("SetDownloadPhase"))
    EXPECT_EQ(call.args[0], "0");
  EXPECT_TRUE(ui_.CallsNamed("OpenDownloadWindow").empty());
}

TEST_F(ExchangeTest, TheHideWordCreatesAHiddenDownloadWindow) {
  link_.hidden = true;
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.Answer(protocol::kInstallBegin, {"", "0", "0"});
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  ASSERT_EQ(ui_.CallsNamed("OpenDownloadWindow").size(), 1u);
  EXPECT_EQ(ui_.CallsNamed("OpenDownloadWindow")[0].args[0], "hidden");
}

TEST_F(ExchangeTest, ALinkInsideTheFolderCannotCarryAWriteOutside) {
  TempFolder elsewhere("quorvane-elsewhere");
  fs::create_directory_symlink(elsewhere.path(), scope_.path() / "db");
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.File("DB\\", "planted.txt", "x");
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_FALSE(Run());
  EXPECT_FALSE(fs::exists(elsewhere.path() / "planted.txt"));
  EXPECT_NE(outcome_.first_not_written.find("link"), std::string::npos)
      << outcome_.first_not_written;
}

TEST_F(ExchangeTest, AFileThatCannotBeWrittenLeavesTheOldOneAndIsReported) {
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "blocker", "a file, not a folder"));
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "old.txt", "old content"));
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.File("blocker\\", "inside.txt", "x");
    auto lying = std::make_unique<TSOFile>();  // says 100 bytes, carries 3
    lying->xFileName = "old.txt";
    lying->xData = "new";
    lying->xFileSize = 100;
    link.incoming.push_back(std::move(lying));
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(Read("old.txt"), "old content");
  EXPECT_EQ(outcome_.files_not_written, 2u);
  EXPECT_NE(outcome_.first_not_written.find("blocker\\inside.txt"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(scope_.path()))  // no temporaries left
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(ExchangeTest, AClosedConnectionIsReopenedAndAskedAgainWithAFreshInventory) {
  link_.on_request = [](ScriptedLink& link, std::size_t request) {
    if (request == 1) {
      link.Answer(protocol::kInstallBegin, {"", "2", "4"});
      link.File("", "first.txt", "11");
      link.on_poll = [](ScriptedLink& l, int) {
        l.connected = false;  // the relay dropped the line
        l.on_poll = nullptr;
      };
    } else {
      link.Answer(protocol::kInstallBegin, {"", "1", "2"});  // only what is missing
      link.File("", "second.txt", "22");
      link.Answer(protocol::kInstallEnd);
    }
  };
  EXPECT_TRUE(Run());
  ASSERT_EQ(link_.requests.size(), 2u);
  EXPECT_EQ(link_.sent, (std::vector<std::string>{"request", "CustomerInformation", "request"}));
  EXPECT_EQ(outcome_.reconnects, 1);
  const auto& names = link_.requests[1]->xFileNames->Lines();
  EXPECT_NE(std::find(names.begin(), names.end(), "FIRST.TXT"), names.end());
  EXPECT_EQ(Read("second.txt"), "22");
  EXPECT_EQ(ui_.CallsNamed("OpenDownloadWindow").size(), 1u);
  const auto progress = ui_.CallsNamed("UpdateDownloadProgress");
  EXPECT_EQ(progress.back().args[1], "4");  // 2 bytes before the drop, 2 after
  EXPECT_EQ(progress.back().args[3], "2");
}

TEST_F(ExchangeTest, AnEndWordPushedJustBeforeTheLineClosesIsNotMistakenForADrop) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.on_poll = [](ScriptedLink& l, int) {
      // The receive thread pushes "Fin" and ends, between two looks of the loop.
      l.Answer(protocol::kInstallEnd);
      l.connected = false;
      l.on_poll = nullptr;
    };
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(link_.requests.size(), 1u);
  EXPECT_EQ(outcome_.reconnects, 0);
}

TEST_F(ExchangeTest, AConnectionThatCannotBeReopenedFailsAfterThreeAttempts) {
  link_.send_results = {true, false, false, false, true};
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.on_poll = [](ScriptedLink& l, int) { l.connected = false; };
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(link_.requests.size(), 4u);
  EXPECT_NE(outcome_.failure.find("could not be opened again"), std::string::npos);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].args[1], "Serveur don't answer");
}

TEST_F(ExchangeTest, EveryWaitingObjectIsHandledInOnePoll) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    for (int i = 0; i < 3000; ++i)
      link.File("DB\\many\\", "f" + std::to_string(i) + ".txt", std::to_string(i));
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(outcome_.files_written, 3000u);
  EXPECT_EQ(link_.polls, 0);  // the end word came before the stack was ever found empty
  EXPECT_EQ(Read("db/many/f2999.txt"), "2999");
}

TEST_F(ExchangeTest, TheUpdaterCountsOnlyWhenWrittenWholeInThisRun) {
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.File("", "upd.zub", "#!/bin/sh\n");
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_TRUE(outcome_.updater_written);

  // An updater in a sub-folder is no updater.
  link_.on_request = [](ScriptedLink& link, std::size_t) {
    link.File("DB\\", "upd.zub", "x");
    link.Answer(protocol::kInstallEnd);
  };
  EXPECT_TRUE(Run());
  EXPECT_FALSE(outcome_.updater_written);
}

TEST_F(ExchangeTest, TheRequestCarriesTheWordTheFactsTheInventoryAndTheRouting) {
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "Top.dll", "12345"));
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "db/inner.dat", "1"));
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "db/deeper/deep.dat", "1"));
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "db/trm/frame.trm", "1"));
  ASSERT_TRUE(WriteFileAtomically(scope_.folder() + "sub/x/y.txt", "1"));
  {
    TZelSObjectPartner partner(&link_.RequestParent());
    partner.xsStartWeb = "  www.acme.example ";
    partner.xsCompagnyName = " ACME ";
    ASSERT_TRUE(partner.SaveToPath(TZelObject::BaseFolder() + "DB\\customer.by.zub"));
  }
  link_.on_request = [](ScriptedLink& link, std::size_t) { link.Answer(protocol::kInstallEnd); };
  WriteSetting(kSettingLanguage, kLanguageFrench);
  EXPECT_TRUE(Run());
  WriteSetting(kSettingLanguage, 7);  // German: English word
  EXPECT_TRUE(Run());
  ASSERT_EQ(link_.requests.size(), 2u);
  const TSOFilesList& french = *link_.requests[0];
  EXPECT_EQ(french.xWhat,
            "WantCustomerInstall\n\r\nWinDir =/\n\r\nCmptrName =builder\n\r\nCmptrIP =127.0.1.1"
            "\n\r\nPhysMem =8,388,609 KB\n\r\nMem =37 %\n\r\nVer =1A06"
            "\n\r\nPartnerSite =www.acme.example\n\r\nPartnerName =ACME");
  EXPECT_EQ(link_.requests[1]->xWhat.substr(0, 27), "WantCustomerInstallEnglish\n");

  const auto& dirs = french.xFileDirs->Lines();
  const auto& names = french.xFileNames->Lines();
  ASSERT_EQ(dirs.size(), names.size());
  auto listed = [&](const std::string& dir, const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (dirs[i] == dir && names[i] == name) return true;
    return false;
  };
  EXPECT_TRUE(listed("", "TOP.DLL"));
  EXPECT_TRUE(listed("DB", "INNER.DAT"));
  EXPECT_TRUE(listed("DB", "CUSTOMER.BY.ZUB"));
  // Every other folder too, so an update does not resend them, but not the
  // installer's frame folder.
  EXPECT_TRUE(listed("DB\\DEEPER", "DEEP.DAT"));
  EXPECT_TRUE(listed("SUB\\X", "Y.TXT"));
  EXPECT_FALSE(listed("DB\\TRM", "FRAME.TRM"));
  // Top folder first, then DB, then the others.
  EXPECT_EQ(dirs.front(), "");
  const auto first_db = std::find(dirs.begin(), dirs.end(), "DB");
  const auto first_deeper = std::find(dirs.begin(), dirs.end(), "DB\\DEEPER");
  EXPECT_LT(first_db, first_deeper);

  EXPECT_EQ(french.WhoTo(), protocol::kServerInstallReceiver);
  EXPECT_EQ(french.WhoServerTo(), protocol::kServerInstallReceiver);
  ASSERT_EQ(french.ZelUsersToID().Count(), 1u);
  EXPECT_EQ(french.ZelUsersToID().Lines()[0], protocol::kServerUserId);
}

TEST(AnswerCount, ReadsDecimalLinesAndZeroForAnythingElse) {
  TZelSObjectAnswer answer;
  for (const char* line : {"0", "12", " 7 ", "abc", "-3", "99999999999", "1e3", ""})
    answer.ZelItems->Add(line);
  EXPECT_EQ(AnswerCount(answer, 1), 12u);
  EXPECT_EQ(AnswerCount(answer, 2), 7u);
  EXPECT_EQ(AnswerCount(answer, 3), 0u);
  EXPECT_EQ(AnswerCount(answer, 4), 0u);
  EXPECT_EQ(AnswerCount(answer, 5), 99999999999u);
  EXPECT_EQ(AnswerCount(answer, 6), 0u);
  EXPECT_EQ(AnswerCount(answer, 7), 0u);
  EXPECT_EQ(AnswerCount(answer, 8), 0u);
}

TEST(CheckReceivedLocation, AcceptsOrdinaryNamesAndMapsSlashes) {
  std::string name;
  EXPECT_TRUE(CheckReceivedLocation("DB\\", "Data.PRP", &name).ok());
  EXPECT_EQ(name, "DB\\Data.PRP");
  EXPECT_TRUE(CheckReceivedLocation("DB/Sub/", "a.txt", &name).ok());
  EXPECT_EQ(name, "DB\\Sub\\a.txt");
  EXPECT_TRUE(CheckReceivedLocation("DB", "a.txt", &name).ok());  // separator added
  EXPECT_EQ(name, "DB\\a.txt");
  EXPECT_TRUE(CheckReceivedLocation("", "..hidden..name", &name).ok());
}

TEST(CheckReceivedLocation, RefusesEveryWayOut) {
  for (auto [folder, file] :
       std::vector<std::pair<std::string, std::string>>{{"..\\", "a"},
                                                        {"DB\\..\\", "a"},
                                                        {"\\etc\\", "a"},
                                                        {"/etc/", "a"},
                                                        {"C:\\", "a"},
                                                        {"c:", "a"},
                                                        {"DB\\\\x\\", "a"},
                                                        {"DB\\.\\", "a"},
                                                        {"", ".."},
                                                        {"", "."},
                                                        {"", ""},
                                                        {"", "a\\b"},
                                                        {"", "a/b"},
                                                        {"", "C:a"},
                                                        {"", "a:stream"},
                                                        {"", std::string("a\0b", 3)},
                                                        {"", "trailing."},
                                                        {"", "trailing "},
                                                        {"DB\\", "x|y"}}) {
    EXPECT_FALSE(CheckReceivedLocation(folder, file).ok()) << "[" << folder << "][" << file << "]";
  }
}

// The signed digest is taken beside each write, on a worker for a large file:
// a forged file never takes its name, keeps the old one and leaves no temporary.
TEST(WriteReceivedFiles, OnlyTheSignedDigestLetsAFileTakeItsName) {
  ProgramFolderScope scope("quorvane-digest");
  ASSERT_TRUE(WriteFileAtomically(scope.folder() + "forged.bin", "old"));
  const SigningKeys keys = GenerateSigningKeys();
  const std::string large(300 << 10, 'L');
  PackageManifest manifest{"bench", 1, {}, {}};
  std::vector<std::unique_ptr<TSOFile>> owned;
  std::vector<TSOFile*> files;
  for (const auto& [name, signed_bytes, bytes] :
       {std::tuple{"small.txt", std::string("small"), std::string("small")},
        {"large.bin", large, large},
        {"forged.bin", large, large.substr(1) + 'X'}}) {
    manifest.files.push_back(
        {"", name, static_cast<std::int64_t>(signed_bytes.size()), Sha256Of(signed_bytes)});
    files.push_back(owned.emplace_back(std::make_unique<TSOFile>()).get());
    files.back()->xFileName = name;
    files.back()->xData = bytes;
    files.back()->xFileSize = static_cast<std::int32_t>(bytes.size());
  }
  PackageVerifier verifier(EncodeBase64(keys.public_key));
  ASSERT_TRUE(verifier.AcceptManifest(SignedManifestLines(manifest, keys.secret)));
  for (const TSOFile* file : files)
    ASSERT_TRUE(verifier.CheckFile(*file).ok()) << file->xFileName;
  std::vector<std::size_t> released;
  ReceivedFileHooks hooks;
  hooks.before_write = [&](std::size_t i) { verifier.StartDigest(*files[i]); };
  hooks.verdict = [&](std::size_t i) { return verifier.DigestVerdict(*files[i]); };
  hooks.released = [&](std::size_t i) { released.push_back(i); };
  const auto results = WriteReceivedFiles(files, hooks);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[0].status.ok() && results[1].status.ok());
  EXPECT_EQ(results[2].status.why(), "its SHA-256 differs from the signed manifest");
  EXPECT_EQ(released, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_TRUE(ReadWholeFile(scope.folder() + "large.bin") == large);
  EXPECT_EQ(ReadWholeFile(scope.folder() + "forged.bin"), "old");
  for (const auto& entry : fs::directory_iterator(scope.folder()))
    EXPECT_FALSE(IsTemporaryName(entry.path().filename().string())) << entry.path();
  EXPECT_FALSE(verifier.Verified());
}

}  // namespace
}  // namespace quorvane
