// The settings file itself: where it lives, what a failed or corrupt write
// leaves, and concurrent writers in several processes and threads.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "settings/settings.h"
#include "settings/settings_backend_toml.h"
#include "settings_fixture.h"

namespace quorvane::testing {
namespace {

using SettingsFileTest = SettingsTest;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process and returns its exit status (-1 when it did
// not exit normally). The child leaves with _exit so no test machinery runs twice.
int RunInChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST_F(SettingsFileTest, PathFollowsTheEnvironment) {
  const ScopedEnv home("HOME");
  const ScopedEnv xdg("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsFilePath(), settings_path_);

  ::unsetenv("QUORVANE_SETTINGS");
  ::setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), 1);
  EXPECT_EQ(SettingsFilePath(), folder_ + "/config/quorvane/settings.toml");

  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);  // ignored: not absolute
  ::setenv("HOME", folder_.c_str(), 1);
  EXPECT_EQ(SettingsFilePath(), folder_ + "/.config/quorvane/settings.toml");

  // The default location works end to end, creating its folders.
  ::unsetenv("XDG_CONFIG_HOME");
  WriteSetting(kSettingServerPort, 709);
  EXPECT_EQ(ReadText(folder_ + "/.config/quorvane/settings.toml"), "[Server]\nPORT = 709\n");
}

TEST_F(SettingsFileTest, CorruptFileReadsEmptyAndTheNextWriteReplacesIt) {
  const std::string garbage = "[Server\nPORT = = 709\n\xff\xfe";
  WriteText(settings_path_, garbage);

  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(0));
  EXPECT_EQ(ReadSetting(13), SettingValue(0));
  EXPECT_EQ(ReadText(settings_path_), garbage);  // reads never rewrite it

  WriteSetting(kSettingInstallPort, 700);
  EXPECT_EQ(ParsedFile()["Server"]["PORTINST"].value<std::int64_t>(), 700);
  EXPECT_EQ(ReadSetting(kSettingInstallPort), SettingValue(700));
  // What could not be read is kept for the user, not thrown away.
  EXPECT_EQ(ReadText(settings_path_ + ".bad"), garbage);
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFileAndNoTemporaryFile) {
  WriteSetting(kSettingServerPort, 709);
  const std::string before = ReadText(settings_path_);
  const auto entries_before = FolderEntries(folder_);

  // The child may write no more than 64 bytes per file, so the new file cannot
  // be written: a disk-full failure that root cannot bypass either.
  const int status = RunInChild([] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    const std::string long_value(4096, 'x');
    try {
      TomlSettingsBackend().WriteString("SQL", "ServerName", long_value);
      return 11;  // the failure went unreported
    } catch (const ESettingsError& error) {
      if (std::string(error.what()).find("cannot write") == std::string::npos) return 12;
    }
    WriteSetting(1, long_value);  // swallowed, no crash
    return ReadSetting(kSettingServerPort) == SettingValue(709) ? 0 : 13;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadText(settings_path_), before);
  EXPECT_EQ(FolderEntries(folder_), entries_before);
}

TEST_F(SettingsFileTest, UnusableLocationIsReportedByTheBackendAndSwallowedByTheRoutines) {
  WriteText(folder_ + "/plain", "not a folder");
  const std::string path = folder_ + "/plain/settings.toml";
  ::setenv("QUORVANE_SETTINGS", path.c_str(), 1);

  EXPECT_THROW(TomlSettingsBackend().WriteInteger("Server", "PORT", 709), ESettingsError);
  EXPECT_THROW(TomlSettingsBackend().ReadInteger("Server", "PORT"), ESettingsError);
  WriteSetting(kSettingServerPort, 709);
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(0));
}

TEST_F(SettingsFileTest, SymbolicLinkIsUpdatedInPlace) {
  std::filesystem::create_directory(folder_ + "/real");
  const std::string real = folder_ + "/real/settings.toml";
  WriteText(real, "[Server]\nPORT = 1\n");
  std::filesystem::create_symlink(real, settings_path_);

  WriteSetting(kSettingServerPort, 709);
  EXPECT_TRUE(std::filesystem::is_symlink(settings_path_));
  EXPECT_EQ(ReadText(real), "[Server]\nPORT = 709\n");
}

TEST_F(SettingsFileTest, DanglingLinkCreatesItsTargetAndStaysALink) {
  std::filesystem::create_directory(folder_ + "/real");
  std::filesystem::create_symlink("real/settings.toml", settings_path_);  // relative, dangling

  WriteSetting(kSettingServerPort, 709);
  EXPECT_TRUE(std::filesystem::is_symlink(settings_path_));
  EXPECT_EQ(ReadText(folder_ + "/real/settings.toml"), "[Server]\nPORT = 709\n");
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(709));
}

TEST_F(SettingsFileTest, WritesKeepTheFileMode) {
  WriteText(settings_path_, "[Server]\nPORT = 1\n");
  ASSERT_EQ(::chmod(settings_path_.c_str(), 0644), 0);
  WriteSetting(kSettingServerPort, 709);
  struct stat info {};
  ASSERT_EQ(::stat(settings_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  ASSERT_EQ(::chmod(settings_path_.c_str(), 0640), 0);
  WriteSetting(kSettingServerPort, 710);
  ASSERT_EQ(::stat(settings_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// Each writer owns one setting and checks, before every write, that its own
// previous value is still there: a writer that overwrote the file from a stale
// copy would roll it back.
int WriteSequence(int number, int count, bool as_text) {
  int lost = 0;
  for (int i = 1; i <= count; ++i) {
    const SettingValue previous = as_text ? SettingValue("v" + std::to_string(i - 1))
                                          : SettingValue(static_cast<std::int32_t>(i - 1));
    const SettingValue current = ReadSetting(number);
    if (i > 1 && current != previous) ++lost;
    WriteSetting(number, as_text ? SettingValue("v" + std::to_string(i))
                                 : SettingValue(static_cast<std::int32_t>(i)));
  }
  return lost;
}

TEST_F(SettingsFileTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWrites = 1000;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  auto spawn = [&](int number, bool as_text) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      char go = 0;
      ::close(start[1]);
      if (::read(start[0], &go, 1) != 1) ::_exit(2);
      ::_exit(WriteSequence(number, kWrites, as_text) == 0 ? 0 : 1);
    }
    return pid;
  };
  const pid_t writers[] = {spawn(kSettingServerPort, false), spawn(14, true)};
  ::close(start[0]);
  ASSERT_GT(writers[0], 0);
  ASSERT_GT(writers[1], 0);
  ASSERT_EQ(::write(start[1], "gg", 2), 2);
  ::close(start[1]);

  // Watch the file while they write: it must parse every single time.
  int parsed = 0;
  int unparsable = 0;
  int running = 2;
  int statuses[2] = {-1, -1};
  while (running > 0) {
    // Samples, not a wait: a short pause keeps the watcher off the writers' CPU.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (std::filesystem::exists(settings_path_)) {
      try {
        (void)toml::parse(ReadText(settings_path_));
        ++parsed;
      } catch (const toml::parse_error&) {
        ++unparsable;
      }
    }
    for (int i = 0; i < 2; ++i) {
      if (statuses[i] != -1) continue;
      int status = 0;
      if (::waitpid(writers[i], &status, WNOHANG) == writers[i]) {
        statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        --running;
      }
    }
  }
  EXPECT_EQ(statuses[0], 0) << "the port writer saw a lost update";
  EXPECT_EQ(statuses[1], 0) << "the database name writer saw a lost update";
  EXPECT_EQ(unparsable, 0);
  EXPECT_GT(parsed, 0);
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(kWrites));
  EXPECT_EQ(ReadSetting(14), SettingValue("v" + std::to_string(kWrites)));
  EXPECT_FALSE(std::filesystem::exists(settings_path_ + ".bad"));
}

// Separate backend objects, as two libraries in one process would have: the
// file lock, not the backend slot, keeps them apart.
TEST_F(SettingsFileTest, ThreadsWithTheirOwnBackendsLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kWrites = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      TomlSettingsBackend backend;
      const std::string name = "T" + std::to_string(t);
      for (int i = 1; i <= kWrites; ++i)
        backend.WriteInteger("Threads", name, i);
    });
  }
  for (auto& thread : threads)
    thread.join();

  const toml::table file = ParsedFile();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(file["Threads"]["T" + std::to_string(t)].value<std::int64_t>(), kWrites) << t;
  }
}

}  // namespace
}  // namespace quorvane::testing
