#include "cli/doctor_setup_checks.h"

#include <nlohmann/json.hpp>

#include "bridge/registration.h"
#include "cli/doctor_system.h"
#include "control/card_control.h"
#include "host/native_host_names.h"
#include "host/origin_allow_list.h"
#include "platform/text_codec.h"

namespace ruzazuv::doctor {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

// The value of the first "KEY=" line, as written after the "=".
std::optional<std::string> keyLine(std::string_view text, std::string_view key) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.rfind(key, 0) == 0 && line.size() > key.size() && line[key.size()] == '=')
      return std::string(line.substr(key.size() + 1));
    at = end + 1;
  }
  return std::nullopt;
}

// A desktop entry's string value with its escapes (\s \n \t \r \\) resolved.
std::string desktopValue(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out.push_back(raw[i]);
      continue;
    }
    const char c = raw[++i];
    out.push_back(c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c);
  }
  return out;
}

// Splits a command line into words: double-quoted words take backslash escapes, single-quoted
// ones (systemd only) are literal, "%%" is "%" and (systemd only) "$$" is "$".
std::vector<std::string> splitWords(std::string_view line, bool systemd) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == 0 && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (quote == 0 && (c == '"' || (systemd && c == '\''))) {
      quote = c;
    } else if (quote != 0 && c == quote) {
      quote = 0;
    } else if (c == '\\' && quote != '\'' && i + 1 < line.size()) {
      const char e = line[++i];
      word.push_back(systemd && e == 'n' ? '\n' : systemd && e == 't' ? '\t' : e);
    } else if ((c == '%' || (systemd && c == '$')) && i + 1 < line.size() && line[i + 1] == c) {
      word.push_back(c);
      ++i;
    } else {
      word.push_back(c);
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

fs::path configHome() {
  if (auto xdg = environment("XDG_CONFIG_HOME"); xdg && xdg->front() == '/') return *xdg;
  return fs::path(environment("HOME").value_or("/")) / ".config";
}

struct ServiceFile {
  fs::path path;
  bool desktopEntry = false;
};

// The file that starts the bridge for this user: the user's own registration, else a unit
// installed for every user.
std::optional<ServiceFile> registeredService() {
  const std::vector<ServiceFile> candidates = {
      {configHome() / "systemd/user" / bridge::kServiceUnit, false},
      {configHome() / "autostart" / bridge::kAutostartEntry, true},
      {fs::path("/etc/systemd/user") / bridge::kServiceUnit, false},
      {fs::path("/usr/lib/systemd/user") / bridge::kServiceUnit, false},
  };
  std::error_code ec;
  for (const ServiceFile& c : candidates)
    if (fs::exists(c.path, ec)) return c;
  return std::nullopt;
}

struct BrowserPlace {
  const char* name;
  std::vector<const char*> programs;
  fs::path userDir;
  fs::path systemDir;
  bool firefox;
};

std::vector<BrowserPlace> browserPlaces() {
  const fs::path config = configHome();
  const fs::path home = environment("HOME").value_or("/");
  return {
      {"Chromium",
       {"chromium", "chromium-browser"},
       config / "chromium/NativeMessagingHosts",
       "/etc/chromium/native-messaging-hosts",
       false},
      {"Chrome",
       {"google-chrome", "google-chrome-stable"},
       config / "google-chrome/NativeMessagingHosts",
       "/etc/opt/chrome/native-messaging-hosts",
       false},
      {"Edge",
       {"microsoft-edge", "microsoft-edge-stable"},
       config / "microsoft-edge/NativeMessagingHosts",
       "/etc/opt/edge/native-messaging-hosts",
       false},
      {"Firefox",
       {"firefox", "firefox-esr"},
       home / ".mozilla/native-messaging-hosts",
       "/usr/lib/mozilla/native-messaging-hosts",
       true},
  };
}

}  // namespace

std::optional<std::vector<std::string>> serviceCommandLine(std::string_view fileText,
                                                           bool desktopEntry) {
  auto line = keyLine(fileText, desktopEntry ? "Exec" : "ExecStart");
  if (!line) return std::nullopt;
  std::vector<std::string> words =
      desktopEntry ? splitWords(desktopValue(*line), false) : splitWords(*line, true);
  // systemd's prefixes before the program ("-", "@", ":", "+", "!").
  if (!desktopEntry && !words.empty()) {
    const std::size_t skip = words.front().find_first_not_of("-@:+!");
    words.front().erase(0, skip == std::string::npos ? words.front().size() : skip);
  }
  return words;
}

std::vector<std::string> optionValues(const std::vector<std::string>& args,
                                      std::string_view option) {
  std::vector<std::string> values;
  const std::string withEquals = std::string(option) + "=";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == option && i + 1 < args.size())
      values.push_back(args[++i]);
    else if (args[i].rfind(withEquals, 0) == 0)
      values.push_back(args[i].substr(withEquals.size()));
  }
  return values;
}

std::optional<std::string> manifestProblem(std::string_view text, bool firefox,
                                           fs::path* hostPath) {
  const nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
  if (!manifest.is_object()) return "it is not a JSON object";
  if (manifest.value("name", "") != kNativeHostName)
    return std::string("its name is not ") + kNativeHostName;
  if (manifest.value("type", "") != "stdio") return "its type is not stdio";
  const auto path = manifest.find("path");
  if (path == manifest.end() || !path->is_string() || path->get<std::string>().empty() ||
      path->get<std::string>().front() != '/')
    return "it names no absolute program path";
  *hostPath = path->get<std::string>();
  const char* listKey = firefox ? "allowed_extensions" : "allowed_origins";
  const char* wanted = firefox ? kFirefoxExtensionId : kExtensionOrigin;
  const auto list = manifest.find(listKey);
  if (list == manifest.end() || !list->is_array()) return std::string("it has no ") + listKey;
  for (const auto& entry : *list)
    if (entry.is_string() && entry.get<std::string>() == wanted) return std::nullopt;
  return std::string("its ") + listKey + " leave out the extension";
}

Finding checkOrigins() {
  std::vector<std::string> given;
  std::string siteAddress = utf16ToUtf8(std::u16string(kDefaultSiteAddress));
  std::string from;
  if (auto service = registeredService()) {
    if (auto text = readSmallFile(service->path)) {
      if (auto args = serviceCommandLine(*text, service->desktopEntry)) {
        given = optionValues(*args, "--allow-origin");
        if (auto sites = optionValues(*args, "--site-address"); !sites.empty())
          siteAddress = sites.back();
      }
      from = "the service " + service->path.string();
    }
  }
  std::vector<std::string> log;
  std::string error;
  const auto origins = servedOrigins(given, siteAddress, processConfigEnvironment(), &log, &error);
  if (!origins)
    return {"origins",
            Verdict::kFail,
            "the bridge will not start: " + error,
            "correct the --allow-origin argument in " + from,
            exit_code::kNoBridge,
            ""};
  // The files that name an origin: a file of comments only (as installed) names none, and the
  // origins then come from the site address.
  std::vector<std::string> sources;
  for (const fs::path& f : allowListFiles(processConfigEnvironment())) {
    std::vector<std::string> ignored;
    if (auto text = readSmallFile(f); text && !parseAllowList(*text, "", &ignored).empty())
      sources.push_back(f.string());
  }
  if (!given.empty()) sources.push_back(from);
  std::string found = origins->empty() ? "no page may use the bridge"
                                       : "pages of " + joined(*origins) + " may use the bridge";
  found += sources.empty() ? " (the site address's, none being listed)"
                           : " (from " + joined(sources) + ")";
  if (!log.empty())
    return {"origins",
            Verdict::kWarn,
            found + "; " + joined(log),
            "correct or remove the lines named",
            0,
            ""};
  if (origins->empty())
    return {"origins", Verdict::kWarn,
            found,     "add the bank's address to ~/.config/ruzazuv/allowed-origins, one per line",
            0,         ""};
  return {"origins", Verdict::kOk, found, "", 0, ""};
}

BrowserFindings checkBrowsers() {
  BrowserFindings out;
  bool chromiumFamily = false;
  bool chromiumHost = false;
  for (const BrowserPlace& browser : browserPlaces()) {
    bool installed = false;
    for (const char* program : browser.programs) installed = installed || findProgram(program);
    if (!installed) continue;
    if (!browser.firefox) chromiumFamily = true;

    Finding f{"manifest", Verdict::kOk, "", "", 0, browser.name};
    std::error_code ec;
    std::optional<fs::path> manifest;
    for (const fs::path& dir : {browser.userDir, browser.systemDir})
      if (fs::exists(dir / kNativeHostManifestFile, ec) && !manifest)
        manifest = dir / kNativeHostManifestFile;
    if (!manifest) {
      f.verdict = Verdict::kWarn;
      f.found = "the extension's host is not registered with " + std::string(browser.name) +
                " (no " + kNativeHostManifestFile + " in " + browser.userDir.string() + " or " +
                browser.systemDir.string() + ")";
      f.advice = "run ruzazuv-bridge --register, or install the ruzazuv package again";
      out.manifests.push_back(std::move(f));
      continue;
    }
    fs::path host;
    auto text = readSmallFile(*manifest);
    std::optional<std::string> problem = text ? manifestProblem(*text, browser.firefox, &host)
                                              : std::optional<std::string>("it cannot be read");
    if (!problem && !isExecutableFile(host))
      problem = "the program it names, " + host.string() + ", is missing or not executable";
    if (problem) {
      f.verdict = Verdict::kWarn;
      f.found = manifest->string() + " is unusable: " + *problem;
      f.advice = "run ruzazuv-bridge --register, or install the ruzazuv package again";
    } else {
      f.found = manifest->string() + " starts " + host.string();
      out.extensionHostInstalled = true;
      if (!browser.firefox) chromiumHost = true;
    }
    out.manifests.push_back(std::move(f));
  }
  if (out.manifests.empty())
    out.manifests.push_back({"manifest", Verdict::kSkip,
                             "none of Chromium, Chrome, Edge or Firefox is installed", "", 0, ""});

  if (!chromiumFamily) {
    out.localNetwork = {"local-network",
                        Verdict::kSkip,
                        "no Chromium-family browser: no local-network prompt to expect",
                        "",
                        0,
                        ""};
  } else if (chromiumHost) {
    out.localNetwork = {"local-network",
                        Verdict::kOk,
                        "pages with the extension reach the card through its host, without the "
                        "browser's local-network permission prompt",
                        "",
                        0,
                        ""};
  } else {
    out.localNetwork = {
        "local-network",
        Verdict::kWarn,
        "without the extension's host, bank pages on public HTTPS sites reach the bridge on "
        "ws://127.0.0.1 only after the browser asks for local-network access",
        "when the bank's page asks to access devices on your local network, choose Allow; "
        "the browser extension avoids the question",
        0,
        ""};
  }
  return out;
}

}  // namespace ruzazuv::doctor
