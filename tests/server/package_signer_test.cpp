#include "package_signer.h"

#include <gtest/gtest.h>

#include "server_fixture.h"

namespace quorvane::server {
namespace {

using namespace quorvane::server::testing;

// One manifest per listing; its version grows when the newest file goes away.
TEST(PackageSigner, SignsEachListingOnceAndItsVersionNeverGoesBack) {
  ::quorvane::testing::TempFolder root("quorvane-signer");
  const fs::path package = root.path() / "package";
  WriteFile(package / "a.txt", "old");
  WriteFile(package / "DB" / "b.txt", "newest");
  const auto old = fs::last_write_time(package / "a.txt") - std::chrono::hours(24 * 365);
  for (const fs::path& path : {package / "a.txt", package / "DB", package})
    fs::last_write_time(path, old);
  fs::last_write_time(package / "DB" / "b.txt", old + std::chrono::hours(1));
  PackageCatalogue catalogue(package, std::nullopt);
  const SigningKeys keys = GenerateSigningKeys();
  PackageSigner signer(keys.secret, catalogue, "pkg", std::nullopt);
  auto manifest = [&](const std::shared_ptr<const SignedManifest>& signed_manifest) {
    std::string error;
    auto read = VerifyManifestLines(signed_manifest->lines, keys.public_key, &error);
    EXPECT_TRUE(read) << error;
    return read.value_or(PackageManifest{});
  };
  const auto first = signer.Sign(catalogue.Scan(), nullptr);
  EXPECT_EQ(signer.Sign(catalogue.Scan(), nullptr), first);
  const PackageManifest before = manifest(first);
  EXPECT_EQ(before.Find("DB\\", "b.txt")->sha256, Sha256Of("newest"));

  fs::remove(package / "DB" / "b.txt");
  const PackageManifest after = manifest(signer.Sign(catalogue.Scan(), nullptr));
  EXPECT_GT(after.version, before.version);
  EXPECT_EQ(after.files.size(), 1u);

  const std::vector<PackageFile> listed = catalogue.Scan();
  fs::remove(package / "a.txt");
  std::string error;
  EXPECT_EQ(PackageSigner(keys.secret, catalogue, "pkg", {}).Sign(listed, &error), nullptr);
  EXPECT_NE(error.find("a.txt"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorvane::server
