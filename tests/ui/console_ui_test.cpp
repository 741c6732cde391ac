#include "ui/console_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ui/hermetic_folder.h"
#include "util/codec.h"

#ifndef QUORVANE_CONSOLE_DEMO
#error "QUORVANE_CONSOLE_DEMO must name the console demo program"
#endif

namespace quorvane {
namespace {

using namespace quorvane::literals;

std::uint32_t g_now = 0;
std::uint32_t FakeTick() {
  return g_now;
}

class ConsoleUiTest : public HermeticFolderTest {
 protected:
  void SetUp() override {
    HermeticFolderTest::SetUp();
    out_ = std::tmpfile();
    in_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
    ASSERT_NE(in_, nullptr);
    g_now = 5000;
  }
  void TearDown() override {
    std::fclose(out_);
    std::fclose(in_);
    HermeticFolderTest::TearDown();
  }
  ConsoleStreams Streams(bool terminal, int columns = 100) {
    return ConsoleStreams{out_, terminal, in_, terminal, columns};
  }
  void Answer(const char* text) {
    std::fclose(in_);
    in_ = std::tmpfile();
    std::fputs(text, in_);
    std::rewind(in_);
  }
  std::string Output() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out_)) > 0)
      text.append(buffer, n);
    return text;
  }

  std::FILE* out_ = nullptr;
  std::FILE* in_ = nullptr;
};

TEST_F(ConsoleUiTest, PlainLinesWithoutATerminal) {
  SetLanguage(kLanguageFrench);
  {
    ConsoleUi ui(Streams(false), FakeTick);
    WindowRef connecting = ui.ShowConnectingWindow();
    ui.CloseConnectingWindow(connecting);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.SetDownloadPhase(download, 2);
    g_now += 10'999;
    ui.UpdateDownloadProgress(download, 1'000'000, 123'450, 5, 1);
    ui.UpdateDownloadProgress(download, 1'000'000, 123'460, 5, 1);  // same percent: no line
    ui.UpdateItemProgress(download, 200, 100);
    ui.UpdateItemProgress(download, 200, 101);  // same tenth: no line
    ui.UpdateItemProgress(download, 0, 0);      // between two objects: no line
    ui.SetDownloadPhase(download, 7);           // not a phase: nothing
    ui.SetDownloadPhase(download, 2);           // told already
    ui.CloseDownloadWindow(download);
  }
  const std::string expected = Cp1252ToUtf8(
      "Connecting ...\n"
      "Quorvane installation: Processus d'installation de Quorvane en cours, patientez ...\n"
      "[1/3] Mise à jour de la base de données\n"_w
      "[2/3] Agencement des services\n"
      "Total  12%  1 fichiers sur 5  123 ko/1000  Temps restant :00:01:11  12.345  ko/s\n"
      "File   50%\n");
  EXPECT_EQ(Output(), expected);
}

TEST_F(ConsoleUiTest, TerminalRedrawsBarsInPlace) {
  SetLanguage(kLanguageEnglish);
  {
    ConsoleUi ui(Streams(true), FakeTick);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.UpdateDownloadProgress(download, 1000, 370, 10, 3);
    ui.UpdateItemProgress(download, 10, 5);
  }
  const std::string out = Output();
  // Two live lines: each redraw returns to the first column, climbs one line and clears.
  EXPECT_NE(out.find("\r\x1b[1A\x1b[J"), std::string::npos) << out;
  EXPECT_NE(out.find("Total [#######-------------]  37%  3 files of 10  0 ko/1  Time :00:00:00  "
                     "0.000  ko/s"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("File  [##########----------]  50%"), std::string::npos) << out;
  EXPECT_NE(out.find("[1/3] Installing database\n"), std::string::npos);
}

TEST_F(ConsoleUiTest, TerminalLinesAreCutToItsWidth) {
  {
    ConsoleUi ui(Streams(true, 40), FakeTick);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.UpdateDownloadProgress(download, 1000, 370, 10, 3);
  }
  // A wrapped live line would break the climb back to the first live line.
  std::istringstream lines(Output());
  int live_lines_seen = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t last = line.rfind("\x1b[J");
    if (last == std::string::npos) continue;
    ++live_lines_seen;
    EXPECT_LT(line.size() - (last + 3), 40u) << line;
  }
  EXPECT_GT(live_lines_seen, 0);
}

TEST_F(ConsoleUiTest, TheLastUpdateReadsAHundredPercent) {
  SetLanguage(kLanguageEnglish);
  {
    ConsoleUi ui(Streams(false), FakeTick);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.UpdateDownloadProgress(download, 4000, 3000, 4, 3);
    ui.UpdateDownloadProgress(download, 4000, 4000, 4, 4);
    ui.UpdateDownloadProgress(download, 4000, 4000, 4, 4);  // told already
    ui.CloseDownloadWindow(download);
  }
  const std::string out = Output();
  EXPECT_NE(out.find("Total  75%  3 files of 4  3 ko/4"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("Total 100%  4 files of 4  4 ko/4\n")) << out;
  {
    ConsoleUi ui(Streams(true), FakeTick);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.UpdateDownloadProgress(download, 4000, 3000, 4, 3);
    ui.UpdateDownloadProgress(download, 4000, 3500, 4, 4);  // the last file, short of the estimate
  }
  const std::string terminal = Output().substr(out.size());
  const std::size_t last = terminal.rfind("Total ");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(terminal.substr(last, 55), "Total [####################] 100%  4 files of 4  3 ko/4")
      << terminal;
}

TEST_F(ConsoleUiTest, HiddenDownloadWindowShowsNothing) {
  ConsoleUi ui(Streams(false), FakeTick);
  WindowRef download = ui.OpenDownloadWindow(true);
  EXPECT_EQ(ui.OpenDownloadWindow(false), download);  // the existing window again
  ui.SetDownloadPhase(download, 3);
  ui.UpdateDownloadProgress(download, 1000, 500, 2, 1);
  ui.UpdateItemProgress(download, 10, 10);
  EXPECT_EQ(Output(), "");
}

TEST_F(ConsoleUiTest, StatusLinesMessagesAndEmptyReferences) {
  ConsoleUi ui(Streams(false), FakeTick);
  WindowRef status = ui.OpenStatusWindow();
  ui.PushStatusLine(status, "Fermeture connexion sortante N°:2"_w);
  ui.PushStatusLine(kNoWindow, "never shown");
  ui.UpdateDownloadProgress(status, 10, 5, 2, 1);  // not a download window
  ui.ShowMessageDialog(kColourButtonFace, "Serveur don't answer", "Try again in few minutes.");
  WindowRef none = kNoWindow;
  ui.CloseDownloadWindow(none);
  ui.CloseConnectingWindow(status);
  EXPECT_EQ(status, kNoWindow);
  EXPECT_EQ(Output(), Cp1252ToUtf8("Fermeture connexion sortante N°:2\n"_w) +
                          "Serveur don't answer: Try again in few minutes.\n");
}

TEST_F(ConsoleUiTest, WorkerThreadsGetNoStatusWindowAndTouchNothing) {
  ConsoleUi ui(Streams(false), FakeTick);
  std::thread worker([&ui] {
    for (int i = 0; i < 200; ++i) {
      WindowRef status = ui.OpenStatusWindow();
      EXPECT_EQ(status, kNoWindow);
      ui.PushStatusLine(status, "Fermeture connexion sortante");
      ui.CloseConnectingWindow(status);
    }
  });
  for (int i = 0; i < 200; ++i) {
    WindowRef connecting = ui.ShowConnectingWindow();
    ui.CloseConnectingWindow(connecting);
  }
  worker.join();
  EXPECT_EQ(Output().find("Fermeture"), std::string::npos);
}

TEST_F(ConsoleUiTest, ControlCharactersNeverReachTheTerminal) {
  {
    ConsoleUi ui(Streams(true), FakeTick);
    ui.ShowMessageDialog(kColourButtonFace, "Erreur\x1b]0;owned\x07",
                         std::string("two\nlines\r\x9d") + "\x90" + "q");
  }
  EXPECT_EQ(Output(), "Erreur ]0;owned : two lines   q\n");
}

TEST_F(ConsoleUiTest, QuestionsReadTheTerminalAndAnswerNoWithoutOne) {
  {
    Answer("oui\n");
    ConsoleUi ui(Streams(true), FakeTick);
    EXPECT_EQ(ui.AskQuestionDialog(kColourButtonFace, "Confirmation", "Remplacer ?"),
              DialogResult::kYes);
  }
  EXPECT_NE(Output().find("Confirmation: Remplacer ? [y/n] "), std::string::npos);
  {
    Answer("n\n");
    ConsoleUi ui(Streams(true), FakeTick);
    EXPECT_EQ(ui.AskQuestionDialog(kColourButtonFace, "Q", "?"), DialogResult::kNo);
  }
  {
    Answer("y\n");  // there, but not a terminal: never read
    ConsoleUi ui(Streams(false), FakeTick);
    EXPECT_EQ(ui.AskQuestionDialog(kColourButtonFace, "Q", "?"), DialogResult::kNo);
  }
}

// The demo program drives the console windows through stderr as the installer
// would; run it under a pseudo-terminal and with stderr in a file.
std::string RunCommand(const std::string& command) {
  std::string output;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      output.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
  }
  return output;
}

TEST_F(ConsoleUiTest, DemoUnderAPseudoTerminal) {
  SetLanguage(kLanguageEnglish);
  const std::string out = RunCommand("printf 'y\\n' | timeout 60 script -qec '" +
                                     std::string(QUORVANE_CONSOLE_DEMO) + "' /dev/null");
  EXPECT_NE(out.find("\x1b[J"), std::string::npos) << out;
  EXPECT_NE(out.find("Connecting ..."), std::string::npos);
  EXPECT_NE(out.find("[3/3] Installing kernel"), std::string::npos);
  EXPECT_NE(out.find("100%"), std::string::npos);
  EXPECT_NE(out.find("answer=yes"), std::string::npos) << out;
}

TEST_F(ConsoleUiTest, DemoWithStderrInAFile) {
  SetLanguage(kLanguageFrench);
  const std::string log = Folder() + "stderr.txt";
  RunCommand("timeout 60 " + std::string(QUORVANE_CONSOLE_DEMO) + " </dev/null 2>" + log);
  std::ifstream file(log);
  const std::string out((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_NE(out.find("[3/3] Mise en place du noyau\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Total  75%  3 fichiers sur 4  3 ko/4  "), std::string::npos) << out;
  EXPECT_NE(out.find("Total 100%  4 fichiers sur 4  4 ko/4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Question: Continuer ? [y/n] n (no terminal to answer)\n"), std::string::npos)
      << out;
}

}  // namespace
}  // namespace quorvane
