// Registration of the per-user service in a temporary configuration directory: one clean set
// whatever was there, and nothing touched that is not ours.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/registration.h"

namespace ruzazuv::bridge {
namespace {
namespace fs = std::filesystem;

std::string read(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// Every file below the directory, relative, symbolic links included.
std::vector<std::string> tree(const fs::path& root) {
  std::vector<std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory() || entry.is_symlink())
      files.push_back(entry.path().lexically_relative(root).string());
  std::sort(files.begin(), files.end());
  return files;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bridge-registration-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    paths = {root / "systemd" / "user", root / "autostart"};
    command = {"/opt/ruzazuv/bin/ruzazuv-bridge",
               {"--pcsc", "system", "--site-address", "https://b.example/100%", "--port", "47001"},
               47001};
  }
  void TearDown() override { fs::remove_all(root); }

  bool registerAs(bool systemd) {
    log.clear();
    return registerService(paths, systemd, command, false, &log, &error);
  }

  fs::path root;
  RegistrationPaths paths;
  ServiceCommand command;
  std::string log;
  std::string error;
};

TEST_F(RegistrationTest, SystemdTwiceLeavesOneSetListeningOnThePort) {
  ASSERT_TRUE(registerAs(true)) << error;
  ASSERT_TRUE(registerAs(true)) << error;
  EXPECT_EQ(tree(root),
            (std::vector<std::string>{"systemd/user/ruzazuv-bridge.service",
                                      "systemd/user/ruzazuv-bridge.socket",
                                      "systemd/user/sockets.target.wants/ruzazuv-bridge.socket"}));
  const std::string socket = read(paths.systemdUserDir / kSocketUnit);
  EXPECT_NE(socket.find("\nListenStream=127.0.0.1:47001\n"), std::string::npos);
  EXPECT_NE(socket.find("\nWantedBy=sockets.target\n"), std::string::npos);
  const std::string service = read(paths.systemdUserDir / kServiceUnit);
  EXPECT_NE(service.find("\nExecStart=\"/opt/ruzazuv/bin/ruzazuv-bridge\" \"--pcsc\" \"system\" "
                         "\"--site-address\" \"https://b.example/100%%\" \"--port\" \"47001\"\n"),
            std::string::npos)
      << service;
  EXPECT_EQ(fs::read_symlink(paths.systemdUserDir / "sockets.target.wants" / kSocketUnit),
            fs::path("../ruzazuv-bridge.socket"));
}

TEST_F(RegistrationTest, SwitchingKindReplacesTheOtherSet) {
  ASSERT_TRUE(registerAs(true)) << error;
  ASSERT_TRUE(registerAs(false)) << error;
  EXPECT_EQ(tree(root), (std::vector<std::string>{"autostart/ruzazuv-bridge.desktop"}));
  const std::string entry = read(paths.autostartDir / kAutostartEntry);
  EXPECT_NE(entry.find("\nExec=\"/opt/ruzazuv/bin/ruzazuv-bridge\" \"--pcsc\""), std::string::npos);
  EXPECT_NE(entry.find("\"https://b.example/100%%\""), std::string::npos);
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
  ASSERT_TRUE(registerAs(true)) << error;
  EXPECT_FALSE(fs::exists(paths.autostartDir / kAutostartEntry));
}

TEST_F(RegistrationTest, FilesThatAreNotOursAreNeverTouched) {
  const fs::path foreignService = paths.systemdUserDir / kServiceUnit;
  write(foreignService, "[Service]\nExecStart=/usr/bin/something-else\n");
  EXPECT_FALSE(registerAs(true));
  EXPECT_NE(error.find("not installed by ruzazuv-bridge"), std::string::npos);
  EXPECT_EQ(read(foreignService), "[Service]\nExecStart=/usr/bin/something-else\n");
  EXPECT_FALSE(fs::exists(paths.systemdUserDir / kSocketUnit)) << "nothing half-written";

  // Beside ours: a foreign autostart entry and a foreign enablement link of the same name.
  fs::remove(foreignService);
  ASSERT_TRUE(registerAs(false)) << error;
  write(paths.autostartDir / "other.desktop", "[Desktop Entry]\n");
  write(paths.systemdUserDir / "elsewhere.socket", "[Socket]\n");
  fs::create_directories(paths.systemdUserDir / "sockets.target.wants");
  fs::create_symlink("../elsewhere.socket",
                     paths.systemdUserDir / "sockets.target.wants" / kSocketUnit);
  log.clear();
  ASSERT_TRUE(unregisterService(paths, false, &log, &error));
  EXPECT_EQ(tree(root),
            (std::vector<std::string>{"autostart/other.desktop", "systemd/user/elsewhere.socket",
                                      "systemd/user/sockets.target.wants/ruzazuv-bridge.socket"}));
  log.clear();
  ASSERT_TRUE(unregisterService(paths, false, &log, &error));
  EXPECT_EQ(log, "nothing of ruzazuv-bridge was registered\n");
}

TEST_F(RegistrationTest, UnregisterRemovesEverySetOfOurs) {
  ASSERT_TRUE(registerAs(true)) << error;
  write(paths.autostartDir / kAutostartEntry, std::string(kRegistrationMarker) + "\n");
  ASSERT_TRUE(unregisterService(paths, false, &log, &error));
  EXPECT_TRUE(tree(root).empty()) << log;
}

TEST(RegistrationQuoting, ExecLinesKeepEveryArgumentWhole) {
  EXPECT_EQ(systemdQuote("a b"), "\"a b\"");
  EXPECT_EQ(systemdQuote("50%$HOME\"\\"), "\"50%%$$HOME\\\"\\\\\"");
  EXPECT_EQ(desktopQuote("a b"), "\"a b\"");
  // Exec= is unescaped as a string first (\\ -> \), then its quoting applies (\" -> ").
  EXPECT_EQ(desktopQuote("50%$\"\\`"), "\"50%%\\\\$\\\\\"\\\\\\\\\\\\`\"");
}

TEST(RegistrationPathsTest, HonoursXdgConfigHomeOnlyWhenAbsolute) {
  const char* savedXdg = getenv("XDG_CONFIG_HOME");
  const char* savedHome = getenv("HOME");
  const std::string xdg = savedXdg ? savedXdg : "";
  const std::string home = savedHome ? savedHome : "";
  std::string error;
  setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(registrationPaths(&error)->systemdUserDir, fs::path("/tmp/cfg/systemd/user"));
  setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
  EXPECT_EQ(registrationPaths(&error)->autostartDir, fs::path("/home/u/.config/autostart"));
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("HOME");
  EXPECT_FALSE(registrationPaths(&error).has_value());
  if (savedXdg) setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  if (savedHome) setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace ruzazuv::bridge
