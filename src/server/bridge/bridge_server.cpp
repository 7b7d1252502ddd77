#include "bridge/bridge_server.h"

#include <malloc.h>

#include <algorithm>
#include <array>

#include <unistd.h>

#include <QHostAddress>
#include <QTimer>
#include <QtGlobal>

#include "bridge/http_head.h"
#include "bridge/loopback_listener.h"
#include "bridge/websocket_frames.h"
#include "bridge/websocket_handshake.h"
#include "control/card_control.h"
#include "platform/text_codec.h"
#include "rpc/control_registry.h"
#include "rpc/rpc_dispatcher.h"
#include "rpc/secret_string.h"

namespace ruzazuv::bridge {

namespace ws = websocket;

struct BridgeServer::Connection {
  std::uint64_t id = 0;
  QPointer<WipedSocket> socket;
  bool open = true;        // requests are read and answered
  bool closeSent = false;  // our close frame is out: the client's answer ends the connection
  std::uint16_t closeCode = ws::close_code::kAbnormal;  // the one sent or received, for the log
  std::string origin;                                   // as sent; empty for a local program
  std::size_t queuedBytes = 0;                          // messages waiting or being served
  bool largeWrite = false;                              // a large answer is still being written out
  ws::FrameParser parser{kMaxMessageBytes};
  std::unique_ptr<ControlRegistry> controls;
  std::unique_ptr<RpcDispatcher> dispatcher;
};

namespace {

// Messages and answers from these sizes leave enough freed heap behind to be worth returning.
constexpr std::size_t kLargeMessageBytes = 16 * 1024;
constexpr std::size_t kLargeAnswerBytes = 256 * 1024;
// How long one drain of the queue may run before the event loop reads the sockets again.
constexpr auto kQueueSlice = std::chrono::milliseconds(5);

std::string describe(const std::string& origin) {
  return origin.empty() ? std::string("a local program (no Origin)") : origin;
}

unsigned long long number(std::uint64_t id) {
  return static_cast<unsigned long long>(id);
}

}  // namespace

void DescriptorListener::incomingConnection(qintptr fd) {
  if (accepted)
    accepted(static_cast<int>(fd));
  else
    ::close(static_cast<int>(fd));
}

// A connection whose head is still coming: what has arrived (possibly frames after the head).
struct BridgeServer::Handshake {
  SecretString data;
  QTimer timeout;
};

// One message of a connection: its requests run one per step; the answer goes out after the
// last. The text is kept (and wiped when done) since it may hold a PIN block.
class BridgeServer::MessageJob final : public RoundRobinQueue::Job {
 public:
  MessageJob(BridgeServer& server, std::shared_ptr<Connection> connection, SecretString text)
      : server_(server), connection_(std::move(connection)), text_(std::move(text)) {
    connection_->queuedBytes += text_.size();
  }
  ~MessageJob() override { connection_->queuedBytes -= text_.size(); }

  bool runStep() override {
    Connection& c = *connection_;
    if (!c.open) return true;  // its page has gone: nobody waits for the answer
    if (!pending_) {
      if (text_.size() >= kLargeMessageBytes) server_.trimWanted_ = true;
      pending_ = c.dispatcher->begin(text_.view());
    }
    if (!pending_->finished()) {
      server_.running_ = connection_;
      if (server_.dialogs_ != nullptr) server_.dialogs_->beginCall();
      pending_->runNext();
      server_.running_.reset();
      if (!pending_->finished()) return false;
    }
    if (std::optional<SecretString> answer = pending_->answer()) {
      if (answer->size() >= kLargeAnswerBytes) server_.trimWanted_ = true;
      server_.sendText(c, answer->view());
    }
    return true;
  }

 private:
  BridgeServer& server_;
  std::shared_ptr<Connection> connection_;
  SecretString text_;
  std::unique_ptr<PendingMessage> pending_;
};

BridgeServer::BridgeServer(BridgeConfig config, HostServices& host, PageDialogs* dialogs,
                           QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      host_(host),
      dialogs_(dialogs),
      queue_(
          [this] {
            QMetaObject::invokeMethod(this, &BridgeServer::drainQueue, Qt::QueuedConnection);
          },
          kQueueSlice) {
  listener_.accepted = [this](int fd) { onAccepted(fd); };
  listener6_.accepted = [this](int fd) { onAccepted(fd); };
}

BridgeServer::~BridgeServer() {
  for (auto& [socket, connection] : connections_) {
    connection->open = false;
    socket->disconnect(this);
    queue_.drop(connection->id);
  }
  // The controls go before the process states they use.
  connections_.clear();
  handshakes_.clear();
}

bool BridgeServer::listen(std::uint16_t port, int inheritedFd, std::string* error) {
  if (!listenOnLoopback(listener_, port, inheritedFd, error)) return false;
  port_ = listener_.serverPort();
  // "localhost" may resolve to [::1] first; serve it there too when the system offers IPv6
  // loopback (a socket handed over by the service manager stays the only one).
  if (inheritedFd < 0 && !listener6_.listen(QHostAddress(QHostAddress::LocalHostIPv6), port_))
    qInfo("ruzazuv-bridge: not serving [::1]:%u: %s", static_cast<unsigned>(port_),
          qPrintable(listener6_.errorString()));
  return true;
}

void BridgeServer::onAccepted(int fd) {
  auto* socket = new WipedSocket(fd, this);
  auto handshake = std::make_unique<Handshake>();
  handshake->timeout.setSingleShot(true);
  connect(&handshake->timeout, &QTimer::timeout, this,
          [this, socket] { refuse(socket, 408, "no complete handshake in time"); });
  handshake->timeout.start(kHandshakeTimeoutMs);
  handshakes_[socket] = std::move(handshake);
  connect(socket, &WipedSocket::readyRead, this, [this, socket] { inspectHandshake(socket); });
  connect(socket, &WipedSocket::closed, this, [this, socket] { onClosed(socket); });
  inspectHandshake(socket);
}

void BridgeServer::inspectHandshake(WipedSocket* socket) {
  auto it = handshakes_.find(socket);
  if (it == handshakes_.end()) return;
  SecretString& data = it->second->data;
  std::array<char, 4096> buffer{};
  while (data.size() < kMaxHeadBytes) {
    const std::size_t got = socket->read(buffer.data(), buffer.size());
    if (got == 0) break;
    data.append(buffer.data(), got);
  }
  secureZero(buffer.data(), buffer.size());
  HttpHead head;
  std::size_t length = 0;
  switch (parseHttpHead(data.view(), &head, &length)) {
    case HeadStatus::kIncomplete:
      return;
    case HeadStatus::kTooLarge:
      refuse(socket, 431, "handshake too large");
      return;
    case HeadStatus::kMalformed:
      refuse(socket, 400, "malformed handshake");
      return;
    case HeadStatus::kComplete:
      break;
  }
  const HandshakeVerdict verdict = judgeHandshake(head, port_, config_.allowedOrigins);
  if (verdict.status != 0) {
    refuse(socket, verdict.status, verdict.reason);
    return;
  }
  // Frames that came with the head are the connection's first input.
  const SecretString rest(data.view().substr(length));
  handshakes_.erase(it);
  socket->disconnect(this);
  const std::string answer = ws::switchingProtocolsResponse(*head.header("Sec-WebSocket-Key"));
  socket->write(answer);
  open(socket, verdict.origin, rest.view());
}

void BridgeServer::refuse(WipedSocket* socket, int status, const std::string& reason) {
  if (handshakes_.erase(socket) == 0) return;
  qInfo("ruzazuv-bridge: refused a connection (%d): %s", status, reason.c_str());
  socket->write(refusalResponse(status, reason));
  // Whatever else the client sends is dropped; the socket closes once the answer is out.
  socket->closeAfterWrites();
}

void BridgeServer::open(WipedSocket* socket, const std::optional<std::string>& origin,
                        std::string_view firstFrames) {
  auto connection = std::make_shared<Connection>();
  connection->id = nextConnectionId_++;
  connection->socket = socket;
  connection->origin = origin.value_or("");
  const std::optional<std::u16string> pageAddress =
      origin ? std::optional<std::u16string>(utf8ToUtf16(*origin + "/")) : std::nullopt;
  const std::string key = origin ? normaliseOriginHeader(*origin).value_or("") : std::string();
  ProcessState& process = processFor(key);
  connection->controls = std::make_unique<ControlRegistry>([this, &process, pageAddress] {
    auto control =
        std::make_unique<CardControl>(host_.services(dialogs_), process, config_.siteAddress);
    control->setClientSite(pageAddress);
    return control;
  });
  connection->dispatcher = std::make_unique<RpcDispatcher>(*connection->controls);
  connections_[socket] = connection;
  qInfo("ruzazuv-bridge: connection %llu from %s", number(connection->id),
        describe(connection->origin).c_str());

  std::weak_ptr<Connection> weak = connection;
  connect(socket, &WipedSocket::readyRead, this, [this, weak] {
    if (auto c = weak.lock()) onReadable(c);
  });
  connect(socket, &WipedSocket::drained, this, [this, weak] {
    auto c = weak.lock();
    if (!c || !c->largeWrite) return;
    c->largeWrite = false;
    trimWanted_ = true;
    trimIfIdle();
  });
  connect(socket, &WipedSocket::closed, this, [this, socket] { onClosed(socket); });
  if (!firstFrames.empty()) onBytes(connection, firstFrames);
  onReadable(connection);
}

void BridgeServer::onReadable(const std::shared_ptr<Connection>& connection) {
  // Read in pieces into a buffer that is wiped afterwards: frames carry PIN blocks.
  std::array<char, 16 * 1024> buffer{};
  while (connection->socket) {
    const std::size_t got = connection->socket->read(buffer.data(), buffer.size());
    if (got == 0) break;
    onBytes(connection, std::string_view(buffer.data(), got));
  }
  secureZero(buffer.data(), buffer.size());
}

void BridgeServer::onBytes(const std::shared_ptr<Connection>& connection, std::string_view bytes) {
  Connection& c = *connection;
  // After a broken rule or the client's close frame, whatever else comes is dropped.
  if (!c.socket || c.parser.failure() != 0 || c.parser.closed()) return;
  std::vector<ws::Event> events;
  const std::uint16_t failure = c.parser.feed(bytes, &events);
  for (ws::Event& event : events) {
    // Once closing, only the client's close frame matters.
    if (!c.open && event.kind != ws::Event::Kind::kClose) continue;
    switch (event.kind) {
      case ws::Event::Kind::kText:
        onMessage(connection, std::move(event.payload));
        break;
      case ws::Event::Kind::kPing: {
        const std::string pong = ws::controlFrame(ws::opcode::kPong, event.payload.view());
        if (roomToWrite(c, pong.size())) c.socket->write(pong);
        break;
      }
      case ws::Event::Kind::kPong:
        break;
      case ws::Event::Kind::kClose:
        // The client closes (or answers ours): echo its code, then end the connection.
        c.open = false;
        queue_.drop(c.id);
        if (!c.closeSent) {
          c.closeCode = event.closeCode;
          c.socket->write(event.closeCode == ws::close_code::kNoStatus
                              ? ws::controlFrame(ws::opcode::kClose, {})
                              : ws::closeFrame(event.closeCode, {}));
          c.closeSent = true;
        }
        c.socket->closeAfterWrites();
        break;
    }
  }
  if (failure != 0 && c.open) {
    qInfo("ruzazuv-bridge: connection %llu broke the WebSocket rules (%s); closing", number(c.id),
          std::string(c.parser.failureReason()).c_str());
    closeWith(c, failure, c.parser.failureReason());
  }
}

void BridgeServer::onMessage(const std::shared_ptr<Connection>& connection, SecretString text) {
  if (connection->queuedBytes + text.size() > kMaxQueuedBytesPerConnection) {
    qInfo("ruzazuv-bridge: connection %llu sends faster than it is served; closing",
          number(connection->id));
    closeWith(*connection, ws::close_code::kPolicyViolation, "too many requests waiting");
    return;
  }
  queue_.post(connection->id, std::make_unique<MessageJob>(*this, connection, std::move(text)));
}

void BridgeServer::sendText(Connection& c, std::string_view text) {
  if (!roomToWrite(c, text.size())) return;
  c.socket->write(ws::frameHeader(ws::opcode::kText, text.size()));
  c.socket->write(text);
  if (c.socket && c.socket->bytesToWrite() >= kLargeAnswerBytes) c.largeWrite = true;
}

bool BridgeServer::roomToWrite(Connection& c, std::size_t bytes) {
  if (!c.open || !c.socket) return false;
  // A client that never reads its answers (or pongs) would make them pile up without bound.
  if (c.socket->bytesToWrite() + bytes <= kMaxUnsentBytesPerConnection) return true;
  qInfo("ruzazuv-bridge: connection %llu does not read its answers; closing", number(c.id));
  closeWith(c, ws::close_code::kPolicyViolation, "answers are not being read");
  return false;
}

void BridgeServer::closeWith(Connection& c, std::uint16_t code, std::string_view reason) {
  c.open = false;
  queue_.drop(c.id);
  if (c.closeSent || !c.socket) return;
  c.closeSent = true;
  c.closeCode = code;
  c.socket->write(ws::closeFrame(code, reason));
  QPointer<WipedSocket> socket = c.socket;
  QTimer::singleShot(kCloseTimeoutMs, this, [socket] {
    if (socket) socket->abort();
  });
}

void BridgeServer::onClosed(WipedSocket* socket) {
  socket->deleteLater();
  handshakes_.erase(socket);
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  std::shared_ptr<Connection> connection = it->second;
  connections_.erase(it);
  connection->open = false;
  connection->socket = nullptr;
  queue_.drop(connection->id);
  qInfo("ruzazuv-bridge: connection %llu closed (%d)", number(connection->id),
        static_cast<int>(connection->closeCode));
  // Its controls live on while its running request does (the running job holds them).
  if (running_ == connection && dialogs_ != nullptr) dialogs_->pageGone();
}

void BridgeServer::drainQueue() {
  queue_.drain();
  trimIfIdle();
}

void BridgeServer::trimIfIdle() {
  if (!trimWanted_ || !queue_.idle()) return;
  trimWanted_ = false;
  malloc_trim(0);
}

ProcessState& BridgeServer::processFor(const std::string& key) {
  std::unique_ptr<ProcessState>& state = processes_[key];
  if (!state) state = std::make_unique<ProcessState>();
  return *state;
}

}  // namespace ruzazuv::bridge
