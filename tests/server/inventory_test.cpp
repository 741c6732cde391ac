// The comparison of the installer's inventory with the package.
#include "inventory.h"

#include <gtest/gtest.h>

#include "objects/files.h"
#include "server_fixture.h"
#include "util/pe_builder.h"

namespace quorvane::server {
namespace {

PackageFile File(std::string folder, std::string name, std::int64_t size,
                 std::string version = "NF") {
  PackageFile file;
  file.folder = std::move(folder);
  file.name = std::move(name);
  file.size = size;
  file.version = std::move(version);
  file.native = "/nonexistent/" + file.name;
  return file;
}

TEST(InventoryTest, MatchesFolderAndNameRegardlessOfCaseAndSize) {
  TSOFilesList list;
  list.AddFile("", "setup.exe", "1.2.0.0", 100);
  list.AddFile("DB", "data.prp", "NF", 20);
  list.AddFile("db ", "other.prp", "NF", 5);
  const Inventory inventory = Inventory::FromFilesList(list);
  EXPECT_TRUE(inventory.Holds(File("", "Setup.EXE", 100, "1.2.0.0")));
  EXPECT_TRUE(inventory.Holds(File("DB\\", "Data.PRP", 20)));
  EXPECT_TRUE(inventory.Holds(File("Db\\", "OTHER.prp", 5)));
  EXPECT_FALSE(inventory.Holds(File("", "Setup.EXE", 101, "1.2.0.0")));
  EXPECT_FALSE(inventory.Holds(File("", "Setup.EXE", 100, "1.3.0.0")));
  EXPECT_FALSE(inventory.Holds(File("", "data.prp", 20)));  // another folder
  EXPECT_FALSE(inventory.Holds(File("DB\\X\\", "data.prp", 20)));
}

TEST(InventoryTest, AVersionOnlyCountsWhenThePackageFileHasOne) {
  TSOFilesList list;
  list.AddFile("", "readme.txt", "whatever", 3);
  EXPECT_TRUE(Inventory::FromFilesList(list).Holds(File("", "readme.txt", 3, "NF")));
}

TEST(InventoryTest, HostileListsAreOnlyKeys) {
  TSOFilesList list;
  list.xFileDirs->Add("..\\..\\etc");
  list.xFileNames->Add("passwd");
  list.xFileSizes->Add("12");
  list.xFileVersions->Add("NF");
  // A name without size or version: lists of unequal length.
  list.xFileDirs->Add("");
  list.xFileNames->Add("lonely.txt");
  // Sizes that are not plain numbers never match.
  list.AddFile("", "neg.txt", "NF", 1);
  list.xFileSizes->Lines().back() = "-1";
  list.AddFile("", "junk.txt", "NF", 1);
  list.xFileSizes->Lines().back() = "1x";
  const Inventory inventory = Inventory::FromFilesList(list);
  EXPECT_EQ(inventory.Size(), 1u);
  EXPECT_FALSE(inventory.Holds(File("", "lonely.txt", 0)));
  EXPECT_FALSE(inventory.Holds(File("", "junk.txt", 1)));

  // The plan holds the package's own entries, whatever the inventory said.
  std::vector<PackageFile> package = {File("", "a.txt", 4), File("DB\\", "b.prp", 6)};
  const InstallPlan plan = PlanInstallation(package, inventory);
  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].native, package[0].native);
  EXPECT_EQ(plan.bytes, 10);
  EXPECT_EQ(plan.package_files, 2u);
}

TEST(InventoryTest, PlanLeavesOutWhatTheInstallerHoldsAndCountsTheRest) {
  TSOFilesList list;
  list.AddFile("", "a.txt", "NF", 4);
  std::vector<PackageFile> package = {File("", "A.TXT", 4), File("", "b.txt", 7),
                                      File("DB\\", "c", 9)};
  const InstallPlan plan = PlanInstallation(package, Inventory::FromFilesList(list));
  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].name, "b.txt");
  EXPECT_EQ(plan.bytes, 16);
}

TEST(InventoryTest, ListsBeyondTheLimitAreCut) {
  TSOFilesList list;
  for (int i = 0; i < 10; ++i)
    list.AddFile("", "f" + std::to_string(i), "NF", i);
  EXPECT_EQ(Inventory::FromFilesList(list, 4).Size(), 4u);
}

}  // namespace
}  // namespace quorvane::server

namespace quorvane::server::testing {
namespace {

// The version the catalogue reads from a real PE file decides, with its size.
TEST(InventoryVersionTest, AProgramOfTheSameSizeInAnotherVersionIsSentAgain) {
  quorvane::testing::TempFolder temp("quorvane-server-version");
  const std::string image = quorvane::testing::SampleImage();  // version 1.0.0.12
  WriteFile(temp.path() / "package" / "Setup.exe", image);
  PackageCatalogue catalogue(temp.path() / "package", std::nullopt);
  const std::vector<PackageFile> package = catalogue.Scan();
  ASSERT_EQ(package.size(), 1u);
  EXPECT_EQ(package[0].version, "1.0.0.12");
  const auto size = static_cast<std::int64_t>(image.size());
  TSOFilesList older;
  older.AddFile("", "setup.exe", "1.0.0.11", size);
  EXPECT_EQ(PlanInstallation(package, Inventory::FromFilesList(older)).files.size(), 1u);
  TSOFilesList same;
  same.AddFile("", "setup.exe", "1.0.0.12", size);
  EXPECT_TRUE(PlanInstallation(package, Inventory::FromFilesList(same)).files.empty());
}

}  // namespace
}  // namespace quorvane::server::testing
