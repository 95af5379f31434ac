// The root's sources in their order of precedence. One test in its own binary:
// once bootstrap has stored a root it stays for the life of the process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "assets/assets.h"

namespace vostrel::assets {
namespace {

TEST(AssetsRoot, BootstrapThenEnvironmentThenBuildTime) {
  unsetenv("VOSTREL_ASSETS");
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path(VOSTREL_SOURCE_DIR "/assets"));
  EXPECT_EQ(builtin_dir(kRolesDir), std::filesystem::path(VOSTREL_SOURCE_DIR "/assets/roles"));

  setenv("VOSTREL_ASSETS", "/elsewhere", 1);
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path("/elsewhere"));
  setenv("VOSTREL_ASSETS", "", 1);
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path(""));
  EXPECT_EQ(builtin_dir(kRolesDir), std::filesystem::path("roles"));

  set_assets_root("/from/bootstrap");
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path("/from/bootstrap"));
  setenv("VOSTREL_ASSETS", "/ignored", 1);
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path("/from/bootstrap"));
  set_assets_root("/second");
  EXPECT_EQ(resolve_assets_root(), std::filesystem::path("/second"));
  unsetenv("VOSTREL_ASSETS");
}

}  // namespace
}  // namespace vostrel::assets
