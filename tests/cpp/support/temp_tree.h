// A scratch directory that is also the current directory and the assets root
// for the length of one test.
#ifndef VOSTREL_TESTS_SUPPORT_TEMP_TREE_H_
#define VOSTREL_TESTS_SUPPORT_TEMP_TREE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "assets/assets.h"

namespace vostrel::testing {

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vostrel-assets-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = std::filesystem::canonical(pattern);
    previous_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    root_ = dir_ / "root";
    std::filesystem::create_directories(root_);
    assets::set_assets_root(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_cwd_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Writes `text` to `relative` under the scratch directory, making parents.
  std::filesystem::path write(std::string_view relative, std::string_view text) {
    const std::filesystem::path path = dir_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string root_text() const { return root_.string(); }

  std::filesystem::path dir_, root_, previous_cwd_;
};

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_TEMP_TREE_H_
