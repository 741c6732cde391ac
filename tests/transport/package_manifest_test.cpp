#include "transport/package_manifest.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

// A manifest changed after signing, or signed wrongly, is refused with its reason.
TEST(PackageManifest, OnlyAnUntouchedManifestSignedByTheKeyIsRead) {
  const SigningKeys vendor = GenerateSigningKeys();
  PackageManifest manifest{"vendor", 7, {}, {}};
  manifest.files = {{"", "Setup.exe", 3, Sha256Of("abc")}, {"DB\\", "data.prp", 0, Sha256Of("")}};
  auto sign = [&](const std::function<void(PackageManifest&)>& change) {
    PackageManifest copy = manifest;
    change(copy);
    return SignedManifestLines(copy, vendor.secret);
  };
  const std::vector<std::string> good = sign([](auto&) {});
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    const char* error;
  } cases[] = {
      {"a changed line",
       [&] {
         auto l = good;
         l[2][0] = 's';
         return l;
       }(),
       "does not verify"},
      {"another key", SignedManifestLines(manifest, GenerateSigningKeys().secret),
       "does not verify"},
      {"no signature", {good.begin(), good.end() - 1}, "not a signature"},
      {"a name twice", sign([](auto& m) {
         m.files[1] = {"", "SETUP.EXE", 3, {}};
       }),
       "twice"},
      {"a folder cut", sign([](auto& m) { m.files[1].folder = "DB"; }), "trailing backslash"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(VerifyManifestLines(c.lines, vendor.public_key, &error)) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
  }
  std::string error;
  const std::optional<PackageManifest> read = VerifyManifestLines(good, vendor.public_key, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->version, 7u);
  const ManifestFile* data = read->Find("db\\", "DATA.PRP");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->sha256, Sha256Of(""));
  EXPECT_EQ(HexOf(Sha256Of("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace quorvane
