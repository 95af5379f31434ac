// Path resolution and the path test, on a real directory tree with links.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "access/policy.h"
#include "support/temp_dir.h"

namespace vostrel {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~ScopedCwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

// root/
//   w/            the workspace
//     sub/file
//     rel -> sub            relative link
//     abs -> root/out       absolute link leading out
//     loop1 -> loop2, loop2 -> loop1
//   wx/f          a sibling whose name extends the workspace's
//   out/secret, out/secret.bak
//   data/x, database/x
//   into -> root/w/sub      a link outside that leads in
class PathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    ASSERT_FALSE(root_.empty());
    for (const char* dir : {"w/sub", "wx", "out", "data", "database"}) fs::create_directories(at(dir));
    for (const char* file : {"w/sub/file", "wx/f", "out/secret", "out/secret.bak", "data/x"})
      std::ofstream(at(file)) << "x";
    fs::create_symlink("sub", at("w/rel"));
    fs::create_symlink(at("out"), at("w/abs"));
    fs::create_symlink("loop2", at("w/loop1"));
    fs::create_symlink("loop1", at("w/loop2"));
    fs::create_symlink(at("w/sub"), at("into"));
  }
  std::string at(const std::string& rel) const { return root_ + "/" + rel; }

  AccessPolicy policy() const {
    AccessPolicyConfig config;
    config.workspace = at("w");
    config.agent_workspaces = {{"alice", at("w/sub")}};
    config.allowed_files = {at("out/secret")};
    config.allowed_dirs = {at("data")};
    return AccessPolicy::create(std::move(config));
  }

  testing::TempDir dir_;
  std::string root_;
};

TEST_F(PathTest, ExpandFollowsLinks) {
  struct Case {
    const char* name;
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"relative link resolves against its directory", at("w/rel/file"), at("w/sub/file")},
      {"absolute link restarts at the root", at("w/abs/secret"), at("out/secret")},
      {"dot-dot after a link applies to the target", at("w/abs/../w"), at("w")},
      {"dot-dot before a link is lexical", at("w/sub/../rel"), at("w/sub")},
      {"missing tail is kept", at("w/rel/none/deeper"), at("w/sub/none/deeper")},
      {"dot, doubled and trailing slashes", at("w/./sub//file/"), at("w/sub/file")},
      {"many components", [&] {
         std::string p = at("w/rel");
         for (int i = 0; i < 4000; ++i) p += "/x";
         for (int i = 0; i < 4000; ++i) p += "/..";
         return p + "/../abs/secret";
       }(), at("out/secret")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(expand_path(c.path), c.expected);
  }
}

TEST_F(PathTest, ExpandIsLexicalWhereNothingExists) {
  struct Case {
    const char* name;
    const char* path;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"dots and slashes", "/nonexistent-vq/./b//c/", "/nonexistent-vq/b/c"},
      {"dot-dot stops at the root", "/nonexistent-vq/../../b", "/b"},
      {"root's parent", "/..", "/"},
      {"root", "/", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(expand_path(c.path), c.expected);
  }
}

TEST_F(PathTest, ExpandHomeAndCurrentDirectory) {
  ScopedCwd cwd(at("w"));
  struct Case {
    const char* name;
    std::optional<std::string> home;
    const char* path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"tilde alone", "/home/a", "~", "/home/a"},
      {"home with trailing slash", "/home/a/", "~/x", "/home/a/x"},
      {"rest that is absolute replaces home", "/home/a", "~//etc", "/etc"},
      {"empty home is the current directory", "", "~", at("w")},
      {"unset home keeps the tilde", std::nullopt, "~/x", at("w/~/x")},
      {"tilde not followed by a slash", "/home/a", "~x", at("w/~x")},
      {"tilde later in the path", "/home/a", "a/~", at("w/a/~")},
      {"relative path", "/home/a", "sub/file", at("w/sub/file")},
      {"empty path", "/home/a", "", at("w")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(expand_path(c.path), c.expected);
  }
}

TEST_F(PathTest, LinkLoopEndsAndIsRefused) {
  // The walk gives up after its link budget instead of spinning ...
  ExpandedPath expanded = expand_path_checked(at("w/loop1/x"));
  EXPECT_TRUE(expanded.links_exhausted);
  EXPECT_TRUE(expanded.path.starts_with(at("w/loop"))) << expanded.path;
  // ... and the unresolved tail, which the system would refuse to open, is
  // refused rather than granted because it looks like it lies in the workspace.
  Result<std::string> r = policy().check_path("read", at("w/loop1/x"), "");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
  EXPECT_EQ(r.error().message, "read " + at("w/loop1/x") +
                                   " runs through more than 40 symbolic links, so it cannot be resolved; the path is "
                                   "refused. Remove the link loop, or name the path without it.");
  // A chain of exactly forty links still resolves.
  for (int i = 0; i < 40; ++i)
    fs::create_symlink(i == 39 ? at("w/sub") : at("c" + std::to_string(i + 1)), at("c" + std::to_string(i)));
  EXPECT_FALSE(expand_path_checked(at("c0/file")).links_exhausted);
  EXPECT_TRUE(policy().check_path("read", at("c0/file"), "").ok());
  fs::create_symlink(at("c0"), at("c-1"));
  EXPECT_FALSE(policy().check_path("read", at("c-1/file"), "").ok());
}

TEST_F(PathTest, CheckPath) {
  ScopedCwd cwd(at("w"));
  const AccessPolicy p = policy();
  struct Case {
    const char* name;
    std::string path;
    const char* actor;
    std::optional<std::string> allowed;  // resolved path, or refused
    std::string workspace_named;         // in the refusal
  };
  const std::vector<Case> cases = {
      {"workspace itself", at("w"), "", at("w"), ""},
      {"inside", at("w/sub/file"), "", at("w/sub/file"), ""},
      {"relative to the current directory", "sub/file", "", at("w/sub/file"), ""},
      {"sibling with a longer name", at("wx/f"), "", std::nullopt, at("w")},
      {"dot-dot out of the workspace", at("w/../out/secret.bak"), "", std::nullopt, at("w")},
      {"link inside leading out", at("w/abs/secret.bak"), "", std::nullopt, at("w")},
      {"dot-dot after a link leading out", at("w/abs/../wx/f"), "", std::nullopt, at("w")},
      {"link outside leading in", at("into/file"), "", at("w/sub/file"), ""},
      {"allowed file", at("out/secret"), "", at("out/secret"), ""},
      {"allowed file reached through a link", at("w/abs/secret"), "", at("out/secret"), ""},
      {"file name extended", at("out/secret.bak"), "", std::nullopt, at("w")},
      {"parent of an allowed file", at("out"), "", std::nullopt, at("w")},
      {"allowed directory", at("data"), "", at("data"), ""},
      {"inside an allowed directory", at("data/x"), "", at("data/x"), ""},
      {"directory name extended", at("database/x"), "", std::nullopt, at("w")},
      {"agent inside its own workspace", at("w/sub/file"), "alice", at("w/sub/file"), ""},
      {"agent outside its own workspace", at("w/wx"), "alice", std::nullopt, at("w/sub")},
      {"agent keeps the allowed paths", at("data/x"), "alice", at("data/x"), ""},
      {"unlisted agent uses the session workspace", at("w/wx"), "bob", at("w/wx"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::string> r = p.check_path("read", c.path, c.actor);
    if (c.allowed) {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(*r, *c.allowed);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
      EXPECT_EQ(r.error().message, "read resolves to " + expand_path(c.path) + ", which is outside the workspace " +
                                       c.workspace_named +
                                       " and every allowed path. Widen the workspace, or name it in allowed_dirs "
                                       "or allowed_files.");
    }
  }
}

TEST_F(PathTest, NulByteIsRefused) {
  Result<std::string> r = policy().check_path("read", std::string(at("w/sub/file")) + std::string("\0x", 2), "");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
  EXPECT_EQ(r.error().message,
            "read names a path with a NUL byte, which no file name may contain; the path is refused.");
}

TEST_F(PathTest, HomeWorkspace) {
  ScopedEnv home("HOME", at("w"));
  AccessPolicyConfig config;
  config.workspace = "~";
  const AccessPolicy p = AccessPolicy::create(std::move(config));
  EXPECT_EQ(p.resolved_workspace, at("w"));
  EXPECT_TRUE(p.check_path("read", "~/sub/file", "").ok());
  EXPECT_FALSE(p.check_path("read", "~/../out/secret", "").ok());
}

TEST_F(PathTest, CompileResolvesAgainstTheCurrentDirectory) {
  ScopedCwd cwd(at("w"));
  AccessPolicyConfig config;
  config.allowed_dirs = {"", "sub"};
  config.agent_workspaces = {{"Zed", "rel"}};
  AccessPolicy p = AccessPolicy::create(config);
  EXPECT_EQ(p.resolved_workspace, at("w"));
  EXPECT_EQ(p.resolved_dirs, (std::vector<std::string>{at("w"), at("w/sub")}));
  EXPECT_EQ(p.resolved_agent_workspaces.at("Zed"), at("w/sub"));
  config.workspace = "proj";
  EXPECT_EQ(AccessPolicy::create(config).resolved_workspace, at("w/proj"));

  // Grants rebuild the resolved list from the whole configured list.
  p.append_allowed_dirs({at("out")});
  EXPECT_EQ(p.resolved_dirs, (std::vector<std::string>{at("w"), at("w/sub"), at("out")}));
  EXPECT_TRUE(p.check_path("read", at("out/secret.bak"), "").ok());
}

TEST_F(PathTest, SnapshotIsIndependent) {
  AccessPolicyCell cell;
  cell.policy = policy();
  AccessPolicy copy = snapshot_access_policy(cell);
  {
    std::lock_guard<std::mutex> lock(cell.mutex);
    cell.policy.append_allowed_dirs({at("out")});
  }
  EXPECT_FALSE(copy.check_path("read", at("out/secret.bak"), "").ok());
  EXPECT_TRUE(snapshot_access_policy(cell).check_path("read", at("out/secret.bak"), "").ok());
}

}  // namespace
}  // namespace vostrel
