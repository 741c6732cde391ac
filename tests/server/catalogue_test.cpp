// The package catalogue: wire names and folders, phases and order, and the
// files it refuses (links out of the package, hidden, unwritable, case twins).
#include "catalogue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "frame_cache.h"

#include "objects/protocol.h"
#include "server_fixture.h"

namespace quorvane::server::testing {
namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  std::vector<std::string> Names(const std::vector<PackageFile>& files) {
    std::vector<std::string> names;
    for (const PackageFile& file : files)
      names.push_back(file.folder + file.name);
    return names;
  }
  std::vector<std::string> logged_;
  PackageCatalogue Catalogue(std::optional<fs::path> updater = std::nullopt) {
    return PackageCatalogue(root_, updater, [this](const std::string& t) { logged_.push_back(t); });
  }
  bool Logged(const std::string& part) {
    for (const std::string& line : logged_)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  quorvane::testing::TempFolder temp_{"quorvane-server-catalogue"};
  fs::path root_ = temp_.path() / "package";
};

TEST_F(CatalogueTest, OrdersDbThenSubFoldersThenTopWithBackslashFolders) {
  WriteFile(root_ / "Setup.exe", "x");
  WriteFile(root_ / "a.txt", "x");
  WriteFile(root_ / "DB" / "Data.PRP", "xx");
  WriteFile(root_ / "DB" / "TRM" / "deep.bin", "x");
  WriteFile(root_ / "Images" / "Big" / "b.png", "x");
  WriteFile(root_ / "Images" / "a.png", "x");
  auto catalogue = Catalogue();
  const std::vector<PackageFile> files = catalogue.Scan();
  EXPECT_EQ(Names(files),
            (std::vector<std::string>{"DB\\Data.PRP", "DB\\TRM\\deep.bin", "Images\\a.png",
                                      "Images\\Big\\b.png", "a.txt", "Setup.exe"}));
  EXPECT_EQ(files[0].phase, InstallPhase::kDatabase);
  EXPECT_EQ(files[1].phase, InstallPhase::kDatabase);
  EXPECT_EQ(files[2].phase, InstallPhase::kSubFolders);
  EXPECT_EQ(files[4].phase, InstallPhase::kTopLevel);
  EXPECT_EQ(files[4].folder, "");
  EXPECT_EQ(files[0].size, 2);
  EXPECT_EQ(files[0].version, "NF");
}

TEST_F(CatalogueTest, RefusesLinksLeavingThePackageButKeepsLinksInsideIt) {
  WriteFile(temp_.path() / "secret.txt", "outside");
  WriteFile(root_ / "inside.txt", "inside");
  fs::create_directories(temp_.path() / "outdir");
  WriteFile(temp_.path() / "outdir" / "x.txt", "outside too");
  fs::create_symlink(temp_.path() / "secret.txt", root_ / "leak.txt");
  fs::create_symlink(root_ / "inside.txt", root_ / "alias.txt");
  fs::create_directory_symlink(temp_.path() / "outdir", root_ / "outdir");
  fs::create_symlink("../../../../../../../../etc/passwd", root_ / "passwd");
  auto catalogue = Catalogue();
  EXPECT_EQ(Names(catalogue.Scan()), (std::vector<std::string>{"alias.txt", "inside.txt"}));
  EXPECT_TRUE(Logged("leak.txt"));
  EXPECT_TRUE(Logged("passwd"));
  EXPECT_TRUE(Logged("outdir"));
  EXPECT_FALSE(catalogue.Contains(temp_.path() / "secret.txt"));
  EXPECT_FALSE(catalogue.Contains(root_ / "leak.txt"));
  EXPECT_TRUE(catalogue.Contains(root_ / "alias.txt"));
}

TEST_F(CatalogueTest, RefusesHiddenUnwritableAndCaseTwinNames) {
  WriteFile(root_ / ".git" / "config", "x");
  WriteFile(root_ / ".hidden", "x");
  WriteFile(root_ / "back\\slash.txt", "x");
  WriteFile(root_ / "tab\tname", "x");
  WriteFile(root_ / "what?.txt", "x");
  WriteFile(root_ / "trailing.", "x");
  WriteFile(root_ / "aux.txt", "x");
  WriteFile(root_ / "Com3", "x");
  WriteFile(root_ / "Com0.txt", "x");              // not a device
  WriteFile(root_ / "snow\xe2\x98\x83.txt", "x");  // a snowman: not in Windows-1252
  WriteFile(root_ / "caf\xc3\xa9.txt", "x");       // é: in Windows-1252
  WriteFile(root_ / "Readme.TXT", "x");
  WriteFile(root_ / "README.txt", "y");
  ::mkfifo((root_ / "fifo").c_str(), 0600);
  auto catalogue = Catalogue();
  const std::vector<PackageFile> files = catalogue.Scan();
  EXPECT_EQ(Names(files), (std::vector<std::string>{"caf\xe9.txt", "Com0.txt", "README.txt"}));
  EXPECT_TRUE(Logged("differs only in case"));
  EXPECT_TRUE(Logged("cannot be written"));
  EXPECT_TRUE(Logged("not a plain file"));
  // Each refusal is logged once, not at every scan.
  const std::size_t lines = logged_.size();
  catalogue.Scan();
  EXPECT_EQ(logged_.size(), lines);
}

TEST_F(CatalogueTest, TheUpdaterGoesOutAsUpdZubAtTheTopInsteadOfAPackageFile) {
  WriteFile(root_ / "UPD.ZUB", "old");
  WriteFile(root_ / "z.txt", "z");
  WriteFile(temp_.path() / "updater.bin", "new updater");
  auto catalogue = Catalogue(temp_.path() / "updater.bin");
  const std::vector<PackageFile> files = catalogue.Scan();
  ASSERT_EQ(Names(files),
            (std::vector<std::string>{std::string(protocol::kDeliveredUpdater), "z.txt"}));
  EXPECT_TRUE(files[0].updater);
  EXPECT_EQ(files[0].size, 11);
}

TEST_F(CatalogueTest, AMissingPackageFolderIsAnErrorNotAnEmptyPackage) {
  auto catalogue = Catalogue();
  std::string error;
  EXPECT_TRUE(catalogue.Scan(&error).empty());
  EXPECT_FALSE(error.empty());
  fs::create_directories(root_);
  error.clear();
  EXPECT_TRUE(catalogue.Scan(&error).empty());
  EXPECT_EQ(error, "");
}

TEST_F(CatalogueTest, AReadAskedToStopPartWayKeepsNothing) {
  const std::string contents = TextBytes(9 << 20, 3);  // three chunks
  WriteFile(root_ / "big.txt", contents);
  PackageCatalogue catalogue = Catalogue();
  const PackageFile file = catalogue.Scan().at(0);
  for (const int stop_at : {0, 2}) {  // never; at the second look
    int looks = 0;
    std::string data = "old", error;
    const auto stop = [&] { return ++looks == stop_at; };
    EXPECT_EQ(ReadPackageFile(catalogue, file, data, error, stop), stop_at == 0);
    EXPECT_TRUE(data == (stop_at == 0 ? contents : std::string()));
    EXPECT_EQ(error, stop_at == 0 ? "" : "abandoned");
    EXPECT_EQ(looks, stop_at == 0 ? 3 : 2);
  }
}

// A package folder swapped again and again with a link to an outside folder
// whose file has the same name, size and time: no read ever leaves the package.
TEST_F(CatalogueTest, NoReadLeavesThePackageWhileAFolderIsSwappedForALink) {
  const fs::path outside = root_.parent_path() / "outside";
  WriteFile(root_ / "Sub" / "f.txt", "inside!!");
  WriteFile(outside / "f.txt", "OUTSIDE!");
  fs::last_write_time(outside / "f.txt", fs::last_write_time(root_ / "Sub" / "f.txt"));
  PackageCatalogue catalogue = Catalogue();
  const std::vector<PackageFile> files = catalogue.Scan();
  ASSERT_EQ(Names(files), std::vector<std::string>{"Sub\\f.txt"});
  fs::create_directory_symlink(outside, root_ / ".swap");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop)
      ::renameat2(AT_FDCWD, (root_ / "Sub").c_str(), AT_FDCWD, (root_ / ".swap").c_str(),
                  RENAME_EXCHANGE);
  });
  int inside = 0, escaped = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string data, error;
    if (ReadPackageFile(catalogue, files[0], data, error))
      ++(data == "inside!!" ? inside : escaped);
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(escaped, 0);
  EXPECT_GT(inside, 0);
}

}  // namespace
}  // namespace quorvane::server::testing
