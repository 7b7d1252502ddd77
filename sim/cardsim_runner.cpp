#include "cardsim_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "cardsim_script.h"
#include "fisc_card.h"
#include "sim_hex.h"
#include "vpcd_link.h"

namespace ruzazuv::sim {

namespace {

using Clock = std::chrono::steady_clock;

int gStopPipe[2] = {-1, -1};

void onStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(gStopPipe[1], &byte, 1);
}

// The command as it may appear in a log: PIN blocks (VERIFY, WRITE RECORD) are never shown.
std::string describeCommand(std::span<const std::uint8_t> apdu) {
  if (apdu.size() > 5 && (apdu[1] == 0x20 || apdu[1] == 0xD2)) {
    return toHex(apdu.first(5)) + " <" + std::to_string(apdu.size() - 5) + " bytes hidden>";
  }
  return toHex(apdu);
}

}  // namespace

std::filesystem::path resolveProfile(const std::string& name) {
  std::filesystem::path given(name);
  if (std::filesystem::exists(given)) return given;
  if (!given.has_parent_path()) {
    auto builtin = builtinProfilePath(name);
    if (std::filesystem::exists(builtin)) return builtin;
  }
  throw std::runtime_error("no profile " + name);
}

struct CardSimRunner::State {
  struct Client {
    int id;
    int fd;
    std::string input;
  };
  struct Timer {
    Clock::time_point due;
    std::function<void()> run;
  };
  struct Step {
    ScriptStep step;
    int group = 0;
    int seen = 0;
    bool armed = false;
    bool fired = false;
    Clock::time_point due;
  };

  CardSimOptions options;
  VpcdLink link;
  std::shared_ptr<FiscCard> card;
  std::shared_ptr<FiscCard> nextCard;  // brought by the next insertion (load, swap)
  bool inserted = true;
  bool quit = false;
  bool reportedOutage = false;
  Clock::time_point reconnectAt{};
  int listenFd = -1;
  int nextClientId = 1;
  std::vector<Client> clients;
  std::vector<Timer> timers;
  std::vector<Step> steps;
  int nextGroup = 1;
  std::vector<std::vector<std::uint8_t>> received;  // every command APDU, for `count`
  // Messages from vpcd not yet answered, in arrival order; with an answer delay the first
  // command APDU waits here until `answerDue`.
  std::deque<std::vector<std::uint8_t>> unanswered;
  std::optional<Clock::time_point> answerDue;

  explicit State(CardSimOptions o)
      : options(std::move(o)), link(options.vpcdHost, options.vpcdPort) {}

  void log(const std::string& text) const {
    std::cerr << "ruzazuv-cardsim[" << options.vpcdPort << "]: " << text << std::endl;
  }

  std::shared_ptr<FiscCard> loadCard(const std::string& name) {
    return std::make_shared<FiscCard>(loadCardProfile(resolveProfile(name)));
  }

  // ---- the card ------------------------------------------------------------------------------

  void remove() {
    if (!inserted) return;
    inserted = false;
    link.close();
    dropUnanswered();
    card->reset();
    log("card removed");
  }

  void insert() {
    if (inserted) return;
    if (nextCard) card = std::move(nextCard);
    inserted = true;
    reconnectAt = Clock::now();
    log("card inserted: " + card->profile().name);
  }

  void keepConnected(Clock::time_point now) {
    if (!inserted || link.connected() || now < reconnectAt) return;
    std::string error;
    if (link.connect(&error)) {
      log("connected to vpcd at " + options.vpcdHost + ":" + std::to_string(options.vpcdPort));
      reportedOutage = false;
      return;
    }
    if (!reportedOutage) log("vpcd not reachable (" + error + "); retrying");
    reportedOutage = true;
    reconnectAt = now + options.reconnectInterval;
  }

  void dropUnanswered() {
    unanswered.clear();
    answerDue.reset();
  }

  void serveVpcd() {
    std::vector<std::vector<std::uint8_t>> messages;
    const bool open = link.receive(messages);
    for (auto& m : messages) unanswered.push_back(std::move(m));
    if (open) answerWaiting(Clock::now());
    if (!open || !link.connected()) {
      dropUnanswered();
      if (inserted) {
        log("vpcd closed the connection; reconnecting");
        reconnectAt = Clock::now() + options.reconnectInterval;
      }
    }
  }

  // Answers the waiting messages in order; a command APDU under an answer delay holds back
  // itself and everything after it until its time has come.
  void answerWaiting(Clock::time_point now) {
    while (!unanswered.empty() && link.connected()) {
      const bool command = unanswered.front().size() > 1;
      if (command && options.answerDelay.count() > 0) {
        if (!answerDue) answerDue = now + options.answerDelay;
        if (now < *answerDue) return;
      }
      answerDue.reset();
      const std::vector<std::uint8_t> m = std::move(unanswered.front());
      unanswered.pop_front();
      if (command) {
        // An at-apdu step acts before the card answers: a card pulled then never answers.
        noteCommand(m, ScriptStep::Trigger::kAtApdu);
        runDueSteps(Clock::now());
        if (!link.connected()) {
          received.push_back(m);
          if (options.verbose) log("> " + describeCommand(m) + "  < - (pulled before answering)");
          return;
        }
      }
      auto reply = vpcd::answer(*card, m);
      if (command) {
        received.push_back(m);
        if (options.verbose) {
          log("> " + describeCommand(m) + "  < " + (reply ? toHex(*reply) : std::string("-")));
        }
      }
      if (reply && !link.send(*reply)) {
        dropUnanswered();
        return;
      }
      if (command) noteCommand(m, ScriptStep::Trigger::kOnApdu);
    }
  }

  // ---- the script ----------------------------------------------------------------------------

  void loadScript(const std::vector<ScriptStep>& parsed) {
    const int group = nextGroup++;
    const auto now = Clock::now();
    for (const auto& s : parsed) {
      Step step;
      step.step = s;
      step.group = group;
      if (s.trigger == ScriptStep::Trigger::kAfter) {
        step.armed = true;
        step.due = now + s.delay;
      }
      steps.push_back(std::move(step));
    }
  }

  void noteCommand(std::span<const std::uint8_t> apdu, ScriptStep::Trigger trigger) {
    const auto now = Clock::now();
    for (auto& s : steps) {
      if (s.armed || s.fired || s.step.trigger != trigger) continue;
      if (apdu.size() < s.step.prefix.size() ||
          !std::equal(s.step.prefix.begin(), s.step.prefix.end(), apdu.begin())) {
        continue;
      }
      if (++s.seen == s.step.occurrence) {
        s.armed = true;
        s.due = now + s.step.delay;
      }
    }
  }

  void runDueSteps(Clock::time_point now) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (!steps[i].armed || steps[i].fired || steps[i].due > now) continue;
      steps[i].fired = true;
      perform(steps[i].step);
      if (i + 1 < steps.size() && steps[i + 1].group == steps[i].group &&
          steps[i + 1].step.trigger == ScriptStep::Trigger::kThen) {
        steps[i + 1].armed = true;
        steps[i + 1].due = Clock::now() + steps[i + 1].step.delay;
      }
    }
  }

  void perform(const ScriptStep& s) {
    try {
      switch (s.action) {
        case ScriptStep::Action::kRemove:
          remove();
          break;
        case ScriptStep::Action::kInsert:
          insert();
          break;
        case ScriptStep::Action::kLoad:
          nextCard = loadCard(s.argument);
          log("loaded " + nextCard->profile().name + " for the next insertion");
          break;
        case ScriptStep::Action::kSwap:
          swap(s.argument, options.swapHold, nullptr);
          break;
        case ScriptStep::Action::kDelay:
          options.answerDelay = s.answerDelay;
          log("answering commands after " + std::to_string(s.answerDelay.count()) + " ms");
          break;
        case ScriptStep::Action::kQuit:
          quit = true;
          break;
      }
    } catch (const std::exception& e) {
      log(std::string("script action failed: ") + e.what());
    }
  }

  void swap(const std::string& profile, std::chrono::milliseconds hold,
            std::function<void(const std::string&)> done) {
    auto other = loadCard(profile);  // throws before anything changes
    remove();
    nextCard = std::move(other);
    timers.push_back({Clock::now() + hold, [this, done] {
                        insert();
                        if (done) done("ok swapped " + card->profile().name);
                      }});
  }

  void runDueTimers(Clock::time_point now) {
    std::vector<std::function<void()>> due;
    for (auto it = timers.begin(); it != timers.end();) {
      if (it->due <= now) {
        due.push_back(std::move(it->run));
        it = timers.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& run : due) run();
  }

  // ---- the control channel -------------------------------------------------------------------

  void openControl() {
    if (options.controlPort < 0) return;
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options.controlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd, 8) != 0) {
      throw std::runtime_error("control port " + std::to_string(options.controlPort) + ": " +
                               std::strerror(errno));
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    log("control channel on 127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  }

  void reply(int clientId, const std::string& line) {
    for (const auto& c : clients) {
      if (c.id != clientId) continue;
      const std::string text = line + "\n";
      [[maybe_unused]] auto n = ::send(c.fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
  }

  void acceptClient() {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) clients.push_back({nextClientId++, fd, {}});
  }

  // Returns false when the client has gone.
  bool serveClient(Client& client) {
    char buffer[1024];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n > 0) client.input.append(buffer, static_cast<std::size_t>(n));
    if (client.input.size() > 65536) return false;  // no line is that long
    std::size_t newline;
    while (!quit && (newline = client.input.find('\n')) != std::string::npos) {
      std::string line = client.input.substr(0, newline);
      client.input.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      command(client.id, line);  // never adds or drops clients
    }
    return true;
  }

  void command(int clientId, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    if (auto start = rest.find_first_not_of(' '); start != std::string::npos) {
      rest = rest.substr(start);
    } else {
      rest.clear();
    }
    try {
      if (verb == "remove") {
        remove();
        reply(clientId, "ok removed");
      } else if (verb == "insert") {
        insert();
        reply(clientId, "ok inserted " + card->profile().name);
      } else if (verb == "load") {
        nextCard = loadCard(rest);
        reply(clientId, "ok loaded " + nextCard->profile().name);
      } else if (verb == "swap") {
        std::istringstream args(rest);
        std::string profile;
        long hold = options.swapHold.count();
        args >> profile;
        if (profile.empty()) throw std::invalid_argument("swap needs a profile");
        if (!(args >> hold)) hold = options.swapHold.count();
        swap(profile, std::chrono::milliseconds(std::max(hold, 0L)),
             [this, clientId](const std::string& text) { reply(clientId, text); });
      } else if (verb == "script") {
        auto parsed = parseScript(rest);
        loadScript(parsed);
        reply(clientId, "ok " + std::to_string(parsed.size()) + " steps");
      } else if (verb == "count") {
        auto prefix = parseHex(rest);
        if (!prefix) throw std::invalid_argument("count takes hex");
        const auto n = std::ranges::count_if(received, [&](const auto& apdu) {
          return apdu.size() >= prefix->size() &&
                 std::equal(prefix->begin(), prefix->end(), apdu.begin());
        });
        reply(clientId, "ok " + std::to_string(n));
      } else if (verb == "delay") {
        long ms = -1;
        std::istringstream args(rest);
        if (!(args >> ms) || ms < 0 || ms > 600000 || !(args >> std::ws).eof()) {
          throw std::invalid_argument("delay takes a number of ms from 0 to 600000");
        }
        options.answerDelay = std::chrono::milliseconds(ms);
        reply(clientId, "ok delay " + std::to_string(ms));
      } else if (verb == "status") {
        reply(clientId, "ok inserted=" + std::to_string(inserted ? 1 : 0) +
                            " connected=" + std::to_string(link.connected() ? 1 : 0) + " card=" +
                            card->profile().name + " commands=" + std::to_string(received.size()));
      } else if (verb == "quit") {
        reply(clientId, "ok bye");
        quit = true;
      } else {
        std::string shown = verb.substr(0, 40);
        for (char& ch : shown) {
          if (ch < 0x20 || ch > 0x7E) ch = '?';
        }
        reply(clientId, "error unknown command: " + shown);
      }
    } catch (const std::exception& e) {
      reply(clientId, std::string("error ") + e.what());
    }
  }

  // ---- the loop ------------------------------------------------------------------------------

  int loop() {
    while (!quit) {
      auto now = Clock::now();
      runDueTimers(now);
      runDueSteps(now);
      if (quit) break;
      keepConnected(now);
      answerWaiting(now);

      std::vector<pollfd> fds;
      fds.push_back({gStopPipe[0], POLLIN, 0});
      const std::size_t linkIndex = fds.size();
      if (link.connected()) fds.push_back({link.fd(), POLLIN, 0});
      const std::size_t listenIndex = fds.size();
      if (listenFd >= 0) fds.push_back({listenFd, POLLIN, 0});
      const std::size_t clientsIndex = fds.size();
      for (const auto& c : clients) fds.push_back({c.fd, POLLIN, 0});

      auto wake = Clock::time_point::max();
      for (const auto& t : timers) wake = std::min(wake, t.due);
      for (const auto& s : steps) {
        if (s.armed && !s.fired) wake = std::min(wake, s.due);
      }
      if (inserted && !link.connected()) wake = std::min(wake, reconnectAt);
      if (answerDue && link.connected()) wake = std::min(wake, *answerDue);
      int timeout = -1;
      if (wake != Clock::time_point::max()) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(ms + 1, 0, 60000));
      }
      if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
        log(std::string("poll: ") + std::strerror(errno));
        return 1;
      }
      if (fds[0].revents) {
        log("stopping");
        break;
      }
      if (link.connected() && fds.size() > linkIndex && fds[linkIndex].fd == link.fd() &&
          fds[linkIndex].revents) {
        serveVpcd();
      }
      if (listenFd >= 0 && fds[listenIndex].revents) acceptClient();
      std::vector<int> gone;
      const std::size_t known = fds.size() - clientsIndex;
      for (std::size_t i = 0; i < known && i < clients.size(); ++i) {
        if (!fds[clientsIndex + i].revents) continue;
        const int id = clients[i].id;
        if (!serveClient(clients[i])) gone.push_back(id);
      }
      for (int id : gone) {
        auto it = std::ranges::find_if(clients, [&](const Client& c) { return c.id == id; });
        if (it != clients.end()) {
          ::close(it->fd);
          clients.erase(it);
        }
      }
    }
    link.close();
    for (const auto& c : clients) ::close(c.fd);
    clients.clear();
    if (listenFd >= 0) ::close(listenFd);
    return 0;
  }
};

CardSimRunner::CardSimRunner(CardSimOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

CardSimRunner::~CardSimRunner() = default;

int CardSimRunner::run() {
  State& s = *state_;
  if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  s.card = s.loadCard(s.options.profile.string());
  s.log("card " + s.card->profile().name + (s.options.startRemoved ? " (not inserted)" : ""));
  s.inserted = !s.options.startRemoved;
  if (!s.options.script.empty()) s.loadScript(parseScript(s.options.script));
  s.openControl();
  return s.loop();
}

}  // namespace ruzazuv::sim
