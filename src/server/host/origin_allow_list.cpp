#include "host/origin_allow_list.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "bridge/http_head.h"

namespace ruzazuv {
namespace {

namespace fs = std::filesystem;

// A configuration file larger than this is not an allow-list someone wrote.
constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

std::optional<std::string> variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

void addOnce(std::vector<std::string>* origins, const std::string& origin) {
  if (std::find(origins->begin(), origins->end(), origin) == origins->end())
    origins->push_back(origin);
}

}  // namespace

ConfigEnvironment processConfigEnvironment() {
  return {variable("XDG_CONFIG_HOME"), variable("HOME"), variable("XDG_CONFIG_DIRS")};
}

std::vector<fs::path> allowListFiles(const ConfigEnvironment& env) {
  const fs::path tail = fs::path("ruzazuv") / "allowed-origins";
  std::vector<fs::path> files;
  if (env.configHome && fs::path(*env.configHome).is_absolute())
    files.push_back(fs::path(*env.configHome) / tail);
  else if (env.home && fs::path(*env.home).is_absolute())
    files.push_back(fs::path(*env.home) / ".config" / tail);
  const std::string dirs =
      env.configDirs && !env.configDirs->empty() ? *env.configDirs : std::string("/etc/xdg");
  std::string_view rest = dirs;
  while (true) {
    const std::size_t colon = rest.find(':');
    const fs::path dir(std::string(rest.substr(0, colon)));
    if (dir.is_absolute()) {
      const fs::path file = dir / tail;
      if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return files;
}

std::optional<std::string> givenOrigin(std::string_view text) {
  auto origin = bridge::normaliseOrigin(text);
  // "null" is what sandboxed frames and local files send, from any site: never an origin to
  // trust with a card.
  if (!origin || *origin == "null") return std::nullopt;
  return origin;
}

std::vector<std::string> parseAllowList(std::string_view text, std::string_view source,
                                        std::vector<std::string>* log) {
  std::vector<std::string> origins;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    line = trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    if (auto origin = givenOrigin(line))
      addOnce(&origins, *origin);
    else if (log)
      log->push_back(std::string(source) + ":" + std::to_string(number) +
                     ": not an origin, skipped: " + std::string(line));
  }
  return origins;
}

std::optional<std::vector<std::string>> servedOrigins(const std::vector<std::string>& given,
                                                      std::string_view siteAddress,
                                                      const ConfigEnvironment& env,
                                                      std::vector<std::string>* log,
                                                      std::string* error) {
  std::vector<std::string> origins;
  for (const std::string& text : given) {
    auto origin = givenOrigin(text);
    if (!origin) {
      if (error) *error = "--allow-origin: not an origin: " + text;
      return std::nullopt;
    }
    addOnce(&origins, *origin);
  }
  for (const fs::path& file : allowListFiles(env)) {
    std::error_code ec;
    if (!fs::exists(file, ec)) continue;
    const bool regular = fs::is_regular_file(file, ec);
    const std::uintmax_t size = regular && !ec ? fs::file_size(file, ec) : 0;
    std::ifstream in;
    if (regular && !ec && size <= kMaxFileBytes) in.open(file, std::ios::binary);
    if (!in.is_open() || !in) {
      if (log) log->push_back(file.string() + ": not a readable allow-list file, skipped");
      continue;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const std::string& origin : parseAllowList(text, file.string(), log))
      addOnce(&origins, origin);
  }
  if (origins.empty())
    if (auto origin = givenOrigin(siteAddress)) origins.push_back(*origin);
  return origins;
}

}  // namespace ruzazuv
