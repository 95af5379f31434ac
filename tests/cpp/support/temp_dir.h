// A fresh directory under /tmp for one test, removed with everything in it.
#ifndef VOSTREL_TESTS_SUPPORT_TEMP_DIR_H_
#define VOSTREL_TESTS_SUPPORT_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace vostrel::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = "/tmp/vostrel-test-XXXXXX";
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = std::filesystem::canonical(tmpl).string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's canonical path (empty when it could not be made).
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_TEMP_DIR_H_
