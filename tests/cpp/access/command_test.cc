// The command and host tests, wildcards, compilation of the rules, and the
// approval step.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "access/approval.h"
#include "access/policy.h"

namespace vostrel {
namespace {

// Answers with a fixed decision and counts the requests it saw.
class CountingApprover : public Approver {
 public:
  explicit CountingApprover(bool answer) : answer_(answer) {}
  bool approve(const AccessRequest& request) override {
    ++calls;
    last = request;
    return answer_;
  }
  int calls = 0;
  AccessRequest last;

 private:
  bool answer_;
};

AccessPolicy make_policy(const std::function<void(AccessPolicyConfig&)>& fill) {
  AccessPolicyConfig config;
  config.workspace = "/";
  fill(config);
  return AccessPolicy::create(std::move(config));
}

TEST(WildcardMatch, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"abc", "a*b*c", true},   {"ac", "a*c", true},     {"a", "*", true},        {"", "*", true},
      {"ab", "a*b*c", false},   {"a", "a*a", false},     {"aa", "a*a", true},     {"abc", "abc", true},
      {"abcd", "abc", false},   {"ABC", "abc", false},   {"xaybzc", "*a*b*c", true}, {"cab", "*a*b*c", false},
      {"abab", "a*ab", true},   {"git status -s", "git status*", true}, {"git stash", "git status*", false},
      {"", "", true},           {"x", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " ~ " + c.pattern);
    EXPECT_EQ(wildcard_match(c.text, {c.pattern}), c.expected);
  }
  EXPECT_FALSE(wildcard_match("a", {}));
  EXPECT_TRUE(wildcard_match("b", {"a", "b"}));
}

TEST(PolicyCompile, TrimsDropsAndLowers) {
  AccessPolicy p = make_policy([](AccessPolicyConfig& c) {
    c.auto_approve_prefixes = {"  ", " ls ", "git"};
    c.allowed_commands = {"", "\u00a0make *\u3000"};
    c.allowed_command_patterns = {"(unbalanced", "^ok$", "*"};
    c.allowed_hosts = {"  Example.COM ", "", "\u00c4RGER.de"};
  });
  EXPECT_EQ(p.approve_prefixes, (std::vector<std::string>{"ls", "git"}));
  EXPECT_EQ(p.command_wildcards, (std::vector<std::string>{"make *"}));
  ASSERT_EQ(p.command_regexes.size(), 2u);  // the unbalanced one is left out
  EXPECT_TRUE(p.command_regexes[1]->search("anything\nat all"));
  EXPECT_EQ(p.host_wildcards, (std::vector<std::string>{"example.com", "\u00e4rger.de"}));
  // The configuration is kept as given.
  EXPECT_EQ(p.auto_approve_prefixes.size(), 3u);
}

TEST(CheckCommand, Table) {
  const std::string denied_evil =
      "https://evil.example/x names the host 'evil.example', which is not in allowed_hosts (example.com, "
      "*.test.org). Name it there to let this session reach it.";
  struct Case {
    const char* name;
    std::function<void(AccessPolicyConfig&)> fill;
    std::string command;
    const char* actor;
    // "allowed", "approval" (needs approval with `target`), or a refusal text.
    std::string expected;
    std::string target = "";
  };
  auto prefixes = [](AccessPolicyConfig& c) { c.auto_approve_prefixes = {"ls", "git"}; };
  auto wildcards = [](AccessPolicyConfig& c) { c.allowed_commands = {"git status*", "make * install"}; };
  auto patterns = [](AccessPolicyConfig& c) { c.allowed_command_patterns = {"^git (log|diff)\\b", "ls"}; };
  auto hosts = [](AccessPolicyConfig& c) {
    c.auto_approve_prefixes = {"curl"};
    c.allowed_hosts = {"example.com", "*.test.org"};
  };
  auto nothing = [](AccessPolicyConfig&) {};
  const std::vector<Case> cases = {
      // Prefixes are plain byte prefixes of the trimmed command.
      {"prefix", prefixes, "ls -la", "", "allowed"},
      {"prefix covers longer names", prefixes, "gitk", "", "allowed"},
      {"prefix after trimming", prefixes, " \t ls\n", "", "allowed"},
      {"prefix with metacharacters", prefixes, "ls; rm -rf /", "", "allowed"},
      {"no prefix", prefixes, "rm x", "", "approval", "rm x"},
      // Wildcards match the whole command.
      {"wildcard bare", wildcards, "git status", "", "allowed"},
      {"wildcard with args", wildcards, "git status -s", "", "allowed"},
      {"wildcard miss", wildcards, "git stash", "", "approval", "git stash"},
      {"wildcard in the middle", wildcards, "make -j4 install", "", "allowed"},
      {"wildcard needs the suffix", wildcards, "make -j4 install now", "", "approval", "make -j4 install now"},
      // The runner drops comments: a rule must not match through one.
      {"wildcard through a comment", wildcards, "make evil #install", "", "approval", "make evil #install"},
      {"wildcard with a quoted hash", wildcards, "make '#x' install", "", "allowed"},
      {"wildcard with a hash inside a word", wildcards, "make a#b install", "", "allowed"},
      // Expressions search anywhere unless anchored.
      {"pattern anchored", patterns, "git log --oneline", "", "allowed"},
      {"pattern word boundary", patterns, "git logs", "", "approval", "git logs"},
      {"pattern other verb", patterns, "git push", "", "approval", "git push"},
      {"pattern unanchored", patterns, "false", "", "allowed"},
      {"pattern through a comment", patterns, "rm -rf / # ls", "", "approval", "rm -rf / # ls"},
      // The URL scan comes before every allowing rule.
      {"url allowed host", hosts, "curl https://example.com/a", "", "allowed"},
      {"url wildcard host", hosts, "curl http://api.test.org", "", "allowed"},
      {"url other host beats the prefix", hosts, "curl https://evil.example/x", "", denied_evil},
      {"url with user info, port, case, path and query in quotes", hosts,
       "curl \"HTTPS://bob:pw@EXAMPLE.com:8443/p?q=1#f\"", "", "allowed"},
      {"url after a metacharacter", hosts, "echo hi|curl https://evil.example/x", "", denied_evil},
      {"url in single quotes", hosts, "curl 'https://evil.example/x'", "", denied_evil},
      {"first refusal wins", hosts, "curl https://example.com https://evil.example/x https://other.example", "",
       denied_evil},
      {"url split at unicode space", hosts, "curl https://example.com\u00a0https://evil.example/x", "", denied_evil},
      // What the program receives is scanned too: quotes and backslashes that
      // the splitter removes cannot hide a URL by breaking up its "://".
      {"url joined by single quotes", hosts, "curl https:'//'evil.example/x", "", denied_evil},
      {"url joined by double quotes", hosts, "curl \"https:\"//evil.example/x", "", denied_evil},
      {"url joined by backslashes", hosts, "curl https:\\/\\/evil.example/x", "", denied_evil},
      {"url joined across a backslash-newline", hosts, "curl https:/\\\n/evil.example/x", "", denied_evil},
      {"quoted text around an allowed url", hosts, "curl -H 'X-Note: see https://example.com now' https://example.com",
       "", "allowed"},
      {"unterminated quote is left to the splitter", hosts, "curl 'https://example.com", "", "allowed"},
      {"url names the actor", hosts, "curl ftp://nope.example", "alice",
       "ftp://nope.example names the host 'nope.example', which is not in allowed_hosts (example.com, "
       "*.test.org). Name it there to let 'alice' reach it."},
      {"empty host list allows every url", prefixes, "ls https://anywhere.example", "", "allowed"},
      // Empty commands.
      {"empty", nothing, "", "", "Empty command is not allowed."},
      {"blank", nothing, " \t\n\u3000", "", "Empty command is not allowed."},
      {"unlisted", nothing, "  rm -rf /  ", "bob", "approval", "rm -rf /"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AccessPolicy p = make_policy(c.fill);
    Result<CommandCheck> r = p.check_command(c.command, c.actor);
    if (c.expected == "allowed") {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_TRUE(r->allowed());
    } else if (c.expected == "approval") {
      ASSERT_TRUE(r.ok()) << r.error().message;
      ASSERT_FALSE(r->allowed());
      EXPECT_EQ(*r->approval, (AccessRequest{"command", "run", c.target, c.actor}));
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
      EXPECT_EQ(r.error().message, c.expected);
    }
  }
}

TEST(CheckCommand, RunawayPatternCountsAsNoMatch) {
  const AccessPolicy p = make_policy([](AccessPolicyConfig& c) {
    c.allowed_command_patterns = {"^(a+)+$", "(?=x)\\1", "^ok"};
  });
  // Exponential backtracking is cut off by the match limit, not waited out.
  Result<CommandCheck> r = p.check_command(std::string(40, 'a') + "b", "");
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(r->allowed());
  r = p.check_command("ok go", "");
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->allowed());
}

TEST(CheckHost, Reduction) {
  struct Case {
    const char* target;
    const char* allowed;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"user:pw@HOST.Example.com:99", "host.example.com", true},
      {"https://user@a@b.example/x", "b.example", true},
      {"[::1]:8080", "[::1]", true},
      {"http://[::1]:8080/path", "[::1]", true},
      {"http://[::1]/path", "[::1]", true},
      {"example.com:", "example.com", false},
      {"example.com:", "example.com:", true},
      {"example.com:80a", "example.com:80a", true},
      {"example.com?x=1", "example.com", true},
      {"example.com#frag", "example.com", true},
      {"EXAMPLE.COM", "example.com", true},
      {"\u00c4rger.DE", "\u00e4rger.de", true},
      {"\u0130stanbul.example", "i\u0307stanbul.example", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const AccessPolicy p = make_policy([&](AccessPolicyConfig& cfg) { cfg.allowed_hosts = {c.allowed}; });
    EXPECT_EQ(p.check_host(c.target, "").ok(), c.ok);
  }
}

TEST(CheckHost, RefusalQuotesLikePython) {
  const AccessPolicy p = make_policy([](AccessPolicyConfig& c) { c.allowed_hosts = {"example.com"}; });
  Status s = p.check_host("https://O'Brien.example:8080/x", "it's me");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message,
            "https://O'Brien.example:8080/x names the host \"o'brien.example\", which is not in allowed_hosts "
            "(example.com). Name it there to let \"it's me\" reach it.");
}

TEST(AuthorizeCommand, ApprovalStep) {
  auto approver_yes = std::make_shared<CountingApprover>(true);
  auto approver_no = std::make_shared<CountingApprover>(false);
  AccessPolicy p = make_policy([&](AccessPolicyConfig& c) { c.auto_approve_prefixes = {"ls"}; });

  Status s = p.authorize_command("  rm x ", "alice");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind, ErrorKind::kAccessDenied);
  EXPECT_EQ(s.error().message,
            "Approval required for rm x. No approve_prompt is configured, so unlisted access is refused \u2014 "
            "allow it in the AccessPolicy, or pass approve_prompt=prompt_on_console to ask a human.");

  p.approve_prompt = approver_no;
  s = p.authorize_command("  rm x ", "alice");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message, "Approval denied for rm x");
  EXPECT_EQ(approver_no->last, (AccessRequest{"command", "run", "rm x", "alice"}));

  p.approve_prompt = approver_yes;
  EXPECT_TRUE(p.authorize_command("rm x", "alice").ok());
  EXPECT_TRUE(p.authorize_command("ls", "alice").ok());
  EXPECT_EQ(approver_yes->calls, 1);  // the rule-allowed command never asked

  // A refusal of the command test never reaches the approver either.
  EXPECT_FALSE(p.authorize_command("   ", "alice").ok());
  EXPECT_EQ(approver_yes->calls, 1);
}

TEST(OneShotApprover, ApprovesOnce) {
  auto token = std::make_shared<std::atomic<bool>>(true);
  OneShotApprover approver("ls", "alice", token);
  EXPECT_FALSE(approver.approve({"command", "run", "ls", "bob"}));
  EXPECT_FALSE(approver.approve({"command", "run", "ls -l", "alice"}));
  EXPECT_FALSE(approver.approve({"file", "run", "ls", "alice"}));
  EXPECT_TRUE(token->load());  // refusals do not spend the token
  EXPECT_TRUE(approver.approve({"command", "run", "ls", "alice"}));
  EXPECT_FALSE(approver.approve({"command", "run", "ls", "alice"}));
  EXPECT_FALSE(token->load());
}

TEST(OneShotApprover, ConcurrentRequestsApproveExactlyOne) {
  for (int round = 0; round < 20; ++round) {
    auto token = std::make_shared<std::atomic<bool>>(true);
    OneShotApprover approver("ls", "alice", token);
    std::atomic<int> approved{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] { approved += approver.approve({"command", "run", "ls", "alice"}) ? 1 : 0; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(approved.load(), 1);
  }
}

}  // namespace
}  // namespace vostrel
