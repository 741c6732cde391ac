#include "util/system_info.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <optional>

#include "util/debug_output.h"
#include "util/tick.h"

namespace quorvane {
namespace {

// Sets (or clears, with nullopt) an environment variable for one test and puts
// the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value)
      ::setenv(name_, value->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Language, IsoCodesGiveWindowsPrimaryLanguages) {
  EXPECT_EQ(LanguageIdFromLocale("fr_FR.UTF-8"), 12);
  EXPECT_EQ(LanguageIdFromLocale("fr"), 12);
  EXPECT_EQ(LanguageIdFromLocale("FR_be"), 12);
  EXPECT_EQ(LanguageIdFromLocale("en_US"), 9);
  EXPECT_EQ(LanguageIdFromLocale("de_DE@euro"), 7);
  EXPECT_EQ(LanguageIdFromLocale("es_ES.ISO-8859-1"), 10);
  EXPECT_EQ(LanguageIdFromLocale("it_IT"), 16);
  EXPECT_EQ(LanguageIdFromLocale("nl_NL"), 19);
  EXPECT_EQ(LanguageIdFromLocale("pt_BR"), 22);
  EXPECT_EQ(LanguageIdFromLocale("nb_NO"), 20);
}

TEST(Language, NeutralAndUnknownLocalesAreEnglish) {
  for (const char* locale : {"C", "POSIX", "C.UTF-8", "", "xx_YY", "fra_FR", "_FR"})
    EXPECT_EQ(LanguageIdFromLocale(locale), 9) << locale;
}

TEST(Language, FirstNonEmptyVariableDecides) {
  ScopedEnv all("LC_ALL", "");
  ScopedEnv messages("LC_MESSAGES", "de_DE.UTF-8");
  ScopedEnv lang("LANG", "fr_FR.UTF-8");
  EXPECT_EQ(SystemLanguageId(), 7);
  {
    ScopedEnv override_all("LC_ALL", "fr_CA");
    EXPECT_EQ(SystemLanguageId(), 12);
  }
  {
    ScopedEnv no_messages("LC_MESSAGES", std::nullopt);
    EXPECT_EQ(SystemLanguageId(), 12);
  }
  ScopedEnv c_all("LC_ALL", "C");
  EXPECT_EQ(SystemLanguageId(), 9);
}

TEST(Language, NoVariableAtAllIsEnglish) {
  ScopedEnv all("LC_ALL", std::nullopt);
  ScopedEnv messages("LC_MESSAGES", std::nullopt);
  ScopedEnv lang("LANG", std::nullopt);
  EXPECT_EQ(SystemLanguageId(), 9);
}

TEST(VersionWord, BuiltLikeGetVersion) {
  EXPECT_EQ(VersionWordFromRelease("6.1.0-18-amd64"), 0x00000106u);
  EXPECT_EQ(VersionWordFromRelease("5.15.167.4-microsoft-standard-WSL2"),
            167u << 16 | 15u << 8 | 5u);
  EXPECT_EQ(VersionWordFromRelease("4.4"), 0x0404u);
  EXPECT_EQ(VersionWordFromRelease("3"), 3u);
}

TEST(VersionWord, OutOfRangePartsAreClampedAndTheTopBitStaysClear) {
  EXPECT_EQ(VersionWordFromRelease("300.400.99999"), 0x7FFFFFFFu);
  EXPECT_EQ(VersionWordFromRelease("1.2.99999999999999999999999"), 0x7FFF0201u);
  EXPECT_EQ(VersionWordFromRelease(""), 0u);
  EXPECT_EQ(VersionWordFromRelease("garbage"), 0u);
}

TEST(VersionWord, ThisMachineMatchesItsKernelRelease) {
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  const std::uint32_t word = OsVersionWord();
  EXPECT_EQ(word, VersionWordFromRelease(names.release));
  EXPECT_EQ(word & 0xFF, static_cast<std::uint32_t>(std::atoi(names.release)));
  EXPECT_EQ(word & 0x80000000u, 0u);
}

TEST(MemoryLoad, FromMeminfoText) {
  const char* meminfo =
      "MemTotal:       16000000 kB\n"
      "MemFree:         1000000 kB\n"
      "MemAvailable:    4000000 kB\n"
      "Buffers:          100000 kB\n";
  EXPECT_EQ(MemoryLoadFromMeminfo(meminfo), 75);
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: 100 kB\nMemAvailable: 100 kB\n"), 0);
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: 100 kB\nMemAvailable: 0 kB\n"), 100);
  // Available above total (a racing read) still gives a load within 0..100.
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: 100 kB\nMemAvailable: 150 kB\n"), 0);
}

TEST(MemoryLoad, MissingOrDamagedFieldsAreRefused) {
  EXPECT_EQ(MemoryLoadFromMeminfo(""), -1);
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: 100 kB\n"), -1);
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: 0 kB\nMemAvailable: 0 kB\n"), -1);
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotal: x kB\nMemAvailable: 5 kB\n"), -1);
  // "MemTotalX" is another field, not MemTotal.
  EXPECT_EQ(MemoryLoadFromMeminfo("MemTotalX: 100 kB\nMemAvailable: 5 kB\n"), -1);
}

TEST(MemoryLoad, ThisMachineIsAPercentage) {
  EXPECT_LE(MemoryLoadPercent(), 100u);
}

TEST(Host, ComputerNameAndWindowsFolder) {
  EXPECT_FALSE(ComputerName().empty());
  EXPECT_EQ(WindowsDirectory(), "/");
}

TEST(Tick, SleepAdvancesTheClockAtLeastThatLong) {
  const std::uint32_t start = TickCount();
  SleepMs(30);
  // Unsigned difference: correct across the 32-bit wrap as well.
  EXPECT_GE(static_cast<std::uint32_t>(TickCount() - start), 30u);
}

TEST(DebugOutput, SilentWithoutTheVariable) {
  ScopedEnv debug("QUORVANE_DEBUG", std::nullopt);
  ::testing::internal::CaptureStderr();
  DebugOutput("ZelSend Begin");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(DebugOutput, OneUtf8LinePerNotice) {
  ScopedEnv debug("QUORVANE_DEBUG", "1");
  ::testing::internal::CaptureStderr();
  DebugOutput("ZelSend Begin");
  DebugOutput("Object:Caf\xE9 Method:Two\r\nlines");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ZelSend Begin\nObject:Café Method:Two  lines\n");
}

}  // namespace
}  // namespace quorvane
