// The origins served: allow-list files found from the XDG variables, their lines, the given
// origins and the fallback to the site address.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "host/origin_allow_list.h"

namespace ruzazuv {
namespace {
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct ParseCase {
  const char* name;
  const char* text;
  Strings origins;
  std::size_t logged;
};

class ParseAllowList : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseAllowList, KeepsOriginsAndLogsBadLines) {
  const ParseCase& c = GetParam();
  Strings log;
  EXPECT_EQ(parseAllowList(c.text, "F", &log), c.origins);
  EXPECT_EQ(log.size(), c.logged);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseAllowList,
    ::testing::Values(
        ParseCase{"Normalised", "HTTPS://Bank.Example:443/ebank/\n", {"https://bank.example"}, 0},
        ParseCase{"CommentsAndBlanks",
                  "# banks\n\n   \t\nhttps://a.example # ours\n#https://b.example\n",
                  {"https://a.example"},
                  0},
        ParseCase{"CrLfAndNoFinalNewline",
                  "https://a.example\r\nhttp://b.example:8080",
                  {"https://a.example", "http://b.example:8080"},
                  0},
        ParseCase{"BadLinesSkipped",
                  "bank.example\nnull\nhttps://a.example\nhttps://user@b.example\n",
                  {"https://a.example"},
                  3},
        ParseCase{"Duplicates",
                  "https://a.example\nhttps://A.example:443\nhttps://a.example/x\n",
                  {"https://a.example"},
                  0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ParseAllowListLog, NamesSourceAndLine) {
  Strings log;
  parseAllowList("https://a.example\n\nnot an origin\n", "/etc/x", &log);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("/etc/x:3:"), std::string::npos) << log[0];
}

struct FilesCase {
  const char* name;
  ConfigEnvironment env;
  Strings files;
};

class AllowListFiles : public ::testing::TestWithParam<FilesCase> {};

TEST_P(AllowListFiles, FollowTheBaseDirectoryRules) {
  Strings files;
  for (const fs::path& file : allowListFiles(GetParam().env)) files.push_back(file.string());
  EXPECT_EQ(files, GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, AllowListFiles,
    ::testing::Values(
        FilesCase{"Defaults",
                  {std::nullopt, "/home/u", std::nullopt},
                  {"/home/u/.config/ruzazuv/allowed-origins", "/etc/xdg/ruzazuv/allowed-origins"}},
        FilesCase{"ConfigHomeAndSeveralDirs",
                  {"/c", "/home/u", "/a:/b"},
                  {"/c/ruzazuv/allowed-origins", "/a/ruzazuv/allowed-origins",
                   "/b/ruzazuv/allowed-origins"}},
        FilesCase{"RelativeAndEmptyIgnored",
                  {"rel", "/home/u", ":rel:/b:/b"},
                  {"/home/u/.config/ruzazuv/allowed-origins", "/b/ruzazuv/allowed-origins"}},
        FilesCase{
            "EmptyDirsMeanDefault", {"", std::nullopt, ""}, {"/etc/xdg/ruzazuv/allowed-origins"}}),
    [](const auto& param) { return std::string(param.param.name); });

// Files in a temporary tree: the user's directory and two system ones.
class ServedOrigins : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/origin-allow-list-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    env = {(root / "home").string(), std::nullopt,
           (root / "sys1").string() + ":" + (root / "sys2").string()};
  }
  void TearDown() override { fs::remove_all(root); }
  void write(const std::string& dir, const std::string& text) {
    fs::create_directories(root / dir / "ruzazuv");
    std::ofstream(root / dir / "ruzazuv" / "allowed-origins") << text;
  }
  std::optional<Strings> served(const Strings& given, const char* site = "https://site.example/") {
    log.clear();
    error.clear();
    return servedOrigins(given, site, env, &log, &error);
  }

  fs::path root;
  ConfigEnvironment env;
  Strings log;
  std::string error;
};

TEST_F(ServedOrigins, UnionOfGivenAndEveryFileWithoutDuplicates) {
  write("home", "https://u.example\nhttps://both.example\n");
  write("sys1", "https://s1.example\nhttps://both.example\nbad\n");
  write("sys2", "https://s2.example\n");
  EXPECT_EQ(served({"https://given.example/", "https://u.example"}),
            (Strings{"https://given.example", "https://u.example", "https://both.example",
                     "https://s1.example", "https://s2.example"}));
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(ServedOrigins, FallbackOnlyWhenNothingIsListed) {
  EXPECT_EQ(served({}), Strings{"https://site.example"});
  write("sys2", "# none yet\nnull\n");
  EXPECT_EQ(served({}), Strings{"https://site.example"});
  EXPECT_EQ(served({}, "no address"), Strings{});
  write("sys2", "https://s2.example\n");
  EXPECT_EQ(served({}), Strings{"https://s2.example"});
}

TEST_F(ServedOrigins, BadGivenOriginIsAnError) {
  for (const char* bad : {"null", "bank.example", "https://"}) {
    EXPECT_EQ(served({"https://a.example", bad}), std::nullopt) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST_F(ServedOrigins, UnreadableFileIsLoggedAndSkipped) {
  fs::create_directories(root / "home" / "ruzazuv" / "allowed-origins");  // a directory
  write("sys1", "https://s1.example\n");
  EXPECT_EQ(served({}), Strings{"https://s1.example"});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("home"), std::string::npos) << log[0];
}

}  // namespace
}  // namespace ruzazuv
