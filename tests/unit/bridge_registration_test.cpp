// Registration of the per-user service and of the browsers' native-messaging host in a
// temporary directory: one clean set whatever was there, and nothing touched that is not ours.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "bridge/native_host_registration.h"
#include "bridge/registration.h"
#include "host/native_host_names.h"

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

// Sets the variables for one test (nullptr unsets) and puts the old values back.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, const char*>& values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(RegistrationPathsTest, HonoursXdgConfigHomeOnlyWhenAbsolute) {
  std::string error;
  ScopedEnvironment env({{"XDG_CONFIG_HOME", "/tmp/cfg"}, {"HOME", "/home/u"}});
  EXPECT_EQ(registrationPaths(&error)->systemdUserDir, fs::path("/tmp/cfg/systemd/user"));
  setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
  EXPECT_EQ(registrationPaths(&error)->autostartDir, fs::path("/home/u/.config/autostart"));
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("HOME");
  EXPECT_FALSE(registrationPaths(&error).has_value());
}

TEST(RegistrationPathsTest, NativeHostFilesFollowTheBaseDirectories) {
  struct Case {
    const char *configHome, *home, *dataHome;
    std::vector<std::string> manifestDirs;
    std::optional<std::string> launcher;
  } cases[] = {
      {"/c",
       "/h",
       "/d",
       {"/c/chromium/NativeMessagingHosts", "/c/google-chrome/NativeMessagingHosts",
        "/c/microsoft-edge/NativeMessagingHosts", "/h/.mozilla/native-messaging-hosts"},
       "/d/ruzazuv/ruzazuv-nmhost-launch"},
      {nullptr,
       "/h",
       "rel",
       {"/h/.config/chromium/NativeMessagingHosts", "/h/.config/google-chrome/NativeMessagingHosts",
        "/h/.config/microsoft-edge/NativeMessagingHosts", "/h/.mozilla/native-messaging-hosts"},
       "/h/.local/share/ruzazuv/ruzazuv-nmhost-launch"},
      // Without HOME: no Firefox manifest and no launcher, the others still go in.
      {"/c",
       nullptr,
       nullptr,
       {"/c/chromium/NativeMessagingHosts", "/c/google-chrome/NativeMessagingHosts",
        "/c/microsoft-edge/NativeMessagingHosts"},
       std::nullopt},
  };
  for (const Case& c : cases) {
    ScopedEnvironment env(
        {{"XDG_CONFIG_HOME", c.configHome}, {"HOME", c.home}, {"XDG_DATA_HOME", c.dataHome}});
    std::string error;
    const auto paths = nativeHostPaths(&error);
    ASSERT_TRUE(paths) << error;
    std::vector<std::string> dirs;
    for (const auto& location : paths->manifests) dirs.push_back(location.directory.string());
    EXPECT_EQ(dirs, c.manifestDirs);
    EXPECT_EQ(paths->launcher ? std::optional(paths->launcher->string()) : std::nullopt,
              c.launcher);
  }
}

// The native-messaging host's manifests and launcher below a temporary directory, with a host
// that writes each argument it gets followed by a NUL.
class NativeHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/native-host-registration-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    paths.manifests = {
        {"Chromium", ManifestFlavour::kChromium, root / "config/chromium/NativeMessagingHosts"},
        {"Chrome", ManifestFlavour::kChromium, root / "config/google-chrome/NativeMessagingHosts"},
        {"Edge", ManifestFlavour::kChromium, root / "config/microsoft-edge/NativeMessagingHosts"},
        {"Firefox", ManifestFlavour::kFirefox, root / "home/.mozilla/native-messaging-hosts"}};
    paths.launcher = root / "data/ruzazuv" / kNativeHostLauncher;
    command.host = root / "bin" / kNativeHostExecutable;
  }
  void TearDown() override { fs::remove_all(root); }

  void installHost() {
    write(command.host, "#!/bin/sh\nprintf '%s\\0' \"$@\"\n");
    fs::permissions(command.host, fs::perms::owner_all);
  }
  bool registerHost() {
    log.clear();
    return registerNativeHost(paths, command, &log, &error);
  }
  fs::path manifest(std::size_t i) const {
    return paths.manifests[i].directory / kNativeHostManifestFile;
  }
  // The arguments the host gets when a browser starts `program` with `browserArgs`.
  static std::vector<std::string> started(const fs::path& program,
                                          const std::vector<std::string>& browserArgs) {
    std::string line = shellQuote(program.string());
    for (const std::string& a : browserArgs) line += " " + shellQuote(a);
    FILE* pipe = popen(line.c_str(), "r");
    std::string out;
    char buffer[256];
    for (std::size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    if (pipe) pclose(pipe);
    std::vector<std::string> args;
    for (std::size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos;
         start = end + 1)
      args.push_back(out.substr(start, end - start));
    return args;
  }

  fs::path root;
  NativeHostPaths paths;
  NativeHostCommand command;
  std::string log;
  std::string error;
};

TEST_F(NativeHostTest, EveryBrowserGetsAManifestNamingOnlyOurExtension) {
  ASSERT_TRUE(registerHost()) << error;
  EXPECT_NE(log.find("warning: " + command.host.string() + " does not exist"), std::string::npos)
      << log;
  const struct {
    const char *key, *value, *absent;
  } expected[] = {{"allowed_origins", kExtensionOrigin, "allowed_extensions"},
                  {"allowed_origins", kExtensionOrigin, "allowed_extensions"},
                  {"allowed_origins", kExtensionOrigin, "allowed_extensions"},
                  {"allowed_extensions", kFirefoxExtensionId, "allowed_origins"}};
  for (std::size_t i = 0; i < paths.manifests.size(); ++i) {
    SCOPED_TRACE(paths.manifests[i].browser);
    EXPECT_NE(log.find("wrote " + manifest(i).string() + "\n"), std::string::npos);
    const auto json = nlohmann::json::parse(read(manifest(i)));
    EXPECT_EQ(json.at("name"), kNativeHostName);
    EXPECT_EQ(json.at("path"), command.host.string()) << "no options: the host itself";
    EXPECT_EQ(json.at("type"), "stdio");
    EXPECT_EQ(json.at(expected[i].key), nlohmann::json::array({expected[i].value}));
    EXPECT_FALSE(json.contains(expected[i].absent));
    EXPECT_TRUE(isOurManifest(manifest(i)));
  }
  EXPECT_FALSE(fs::exists(*paths.launcher));
}

TEST_F(NativeHostTest, LauncherPassesEveryOptionWholeAndTheManifestsNameIt) {
  installHost();
  command.arguments = {"--site-address", "https://b.example/a b", "it's",       "$HOME", "\"q\"",
                       "`id`",           "back\\slash",           "two\nlines", ""};
  ASSERT_TRUE(registerHost()) << error;
  EXPECT_EQ(log.find("warning"), std::string::npos) << log;
  EXPECT_EQ(nlohmann::json::parse(read(manifest(3))).at("path"), paths.launcher->string());
  EXPECT_EQ(fs::status(*paths.launcher).permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_NE(read(*paths.launcher).find(std::string("\n") + kRegistrationMarker + "\n"),
            std::string::npos);
  std::vector<std::string> expected = command.arguments;
  expected.insert(expected.end(), {kExtensionOrigin, "--x"});
  EXPECT_EQ(started(*paths.launcher, {kExtensionOrigin, "--x"}), expected);

  // Registered again without options: the manifests name the host, our launcher goes.
  command.arguments.clear();
  ASSERT_TRUE(registerHost()) << error;
  EXPECT_FALSE(fs::exists(*paths.launcher));
  EXPECT_EQ(nlohmann::json::parse(read(manifest(0))).at("path"), command.host.string());
}

TEST_F(NativeHostTest, TheHostGetsTheServingOptionsItUnderstands) {
  const fs::path bridge = "/opt/r/bin/ruzazuv-bridge";
  struct Case {
    std::vector<std::string> args;  // bridge options after --register
    std::vector<std::string> host;  // the host's arguments; empty with `error` set: refused
    const char* error;
  } cases[] = {
      {{"--port", "47001"}, {}, nullptr},
      {{"--pcsc", "simulated:/p.json", "--ui", "none", "--code-page", "BIG5", "--allow-origin",
        "HTTPS://B.example:443"},
       {"--pcsc", "simulated:/p.json", "--ui", "none", "--code-page", "BIG5", "--allow-origin",
        "https://b.example"},
       nullptr},
      // The demo's origin joins the site address's, which would otherwise be dropped.
      {{"--port", "47001", "--serve-demo", "web"},
       {"--allow-origin", "https://ebank.ruzazuv.example", "--allow-origin",
        "http://127.0.0.1:47002"},
       nullptr},
      {{"--site-address", "http://s.example/x", "--allow-origin", "https://o.example",
        "--serve-demo", "web", "--demo-port", "5000"},
       {"--site-address", "http://s.example/x", "--allow-origin", "https://o.example",
        "--allow-origin", "http://127.0.0.1:5000"},
       nullptr},
      {{"--allow-origin", "null"}, {}, "not an origin: null"},
      {{"--port", "65535", "--serve-demo", "web"}, {}, "needs a --demo-port"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{"--register"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    BridgeOptions options;
    ASSERT_EQ(parseBridgeOptions(argv, &options), std::nullopt) << argv[1];
    error.clear();
    const auto host = nativeHostCommand(options, bridge, &error);
    if (c.error) {
      EXPECT_FALSE(host) << argv[1];
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(host) << error;
    EXPECT_EQ(host->host, fs::path("/opt/r/bin/ruzazuv-nmhost"));
    EXPECT_EQ(host->arguments, c.host) << argv[1];
  }
}

TEST_F(NativeHostTest, ManifestsAreOursOnlyByTheMarkInTheirDescription) {
  const auto ours = hostManifestText(ManifestFlavour::kChromium, command.host);
  ASSERT_TRUE(ours);
  std::string markInName = *ours;
  markInName.replace(markInName.find("\"description\""), 13, "\"other\"");
  const struct {
    std::string text;
    bool ours;
  } cases[] = {
      {*ours, true},
      {R"({"name": "ruzazuv.nmhost", "description": "another host", "path": "/x"})", false},
      {markInName, false},
      {std::string(kRegistrationMarker) + "\n", false},
  };
  for (const auto& c : cases) {
    write(manifest(0), c.text);
    EXPECT_EQ(isOurManifest(manifest(0)), c.ours) << c.text;
  }
  EXPECT_FALSE(hostManifestText(ManifestFlavour::kFirefox, "/opt/\xff/host"))
      << "a path that is not UTF-8 has no JSON string";
}

TEST_F(NativeHostTest, FilesThatAreNotOursAreLeftAloneAndReported) {
  const std::string foreign = R"({"name": "ruzazuv.nmhost", "path": "/usr/bin/other"})";
  write(manifest(2), foreign);
  EXPECT_FALSE(registerHost());
  EXPECT_NE(error.find(manifest(2).string() + " exists and was not installed"), std::string::npos);
  EXPECT_EQ(tree(root), (std::vector<std::string>{"config/microsoft-edge/NativeMessagingHosts/" +
                                                  std::string(kNativeHostManifestFile)}))
      << "nothing written";
  log.clear();
  unregisterNativeHost(paths, &log);
  EXPECT_EQ(read(manifest(2)), foreign);
  EXPECT_NE(log.find(manifest(2).string() + " exists and was not installed"), std::string::npos);

  // A foreign launcher blocks a registration that needs one, and survives unregistering.
  fs::remove(manifest(2));
  write(*paths.launcher, "#!/bin/sh\n");
  command.arguments = {"--ui", "none"};
  EXPECT_FALSE(registerHost());
  EXPECT_NE(error.find(paths.launcher->string()), std::string::npos) << error;
  unregisterNativeHost(paths, &log);
  EXPECT_EQ(read(*paths.launcher), "#!/bin/sh\n");
}

TEST_F(NativeHostTest, UnregisterRemovesEverythingOfOursAndNothingElse) {
  command.arguments = {"--ui", "none"};
  ASSERT_TRUE(registerHost()) << error;
  write(paths.manifests[1].directory / "other.nmhost.json", "{}");
  write(root / "home/.mozilla/firefox/profiles.ini", "[General]\n");
  write(paths.launcher->parent_path() / "allowed-notes", "x");
  log.clear();
  unregisterNativeHost(paths, &log);
  EXPECT_EQ(tree(root), (std::vector<std::string>{
                            "config/google-chrome/NativeMessagingHosts/other.nmhost.json",
                            "data/ruzazuv/allowed-notes", "home/.mozilla/firefox/profiles.ini"}));
  EXPECT_FALSE(fs::exists(root / "config/chromium")) << "the directories we made go with us";
  EXPECT_NE(log.find("removed " + paths.launcher->string() + "\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace ruzazuv::bridge
