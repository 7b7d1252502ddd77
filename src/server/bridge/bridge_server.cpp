#include "bridge/bridge_server.h"

#include <algorithm>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QtGlobal>

#include "bridge/http_head.h"
#include "control/card_control.h"
#include "platform/text_codec.h"
#include "rpc/control_registry.h"
#include "rpc/rpc_dispatcher.h"

namespace ruzazuv::bridge {

struct BridgeServer::Connection {
  std::uint64_t id = 0;
  QPointer<QWebSocket> socket;
  bool open = true;
  std::string origin;  // as sent; empty for a local program
  std::size_t queuedBytes = 0;
  std::size_t unsentBytes = 0;  // answers handed to the socket and not yet written out
  std::unique_ptr<ControlRegistry> controls;
  std::unique_ptr<RpcDispatcher> dispatcher;
};

namespace {

constexpr const char* kHandedOver = "ruzazuvHandedOver";

std::string describe(const std::string& origin) {
  return origin.empty() ? std::string("a local program (no Origin)") : origin;
}

}  // namespace

BridgeServer::BridgeServer(BridgeConfig config, HostServices& host, PageDialogs* dialogs,
                           QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      host_(host),
      dialogs_(dialogs),
      upgrader_(QStringLiteral("ruzazuv-bridge"), QWebSocketServer::NonSecureMode),
      queue_([this] {
        QMetaObject::invokeMethod(
            this, [this] { queue_.drain(); }, Qt::QueuedConnection);
      }) {
  listener_.setMaxPendingConnections(128);
  listener6_.setMaxPendingConnections(128);
  upgrader_.setHandshakeTimeout(kHandshakeTimeoutMs);
  connect(&listener_, &QTcpServer::newConnection, this, [this] { onTcpConnection(&listener_); });
  connect(&listener6_, &QTcpServer::newConnection, this, [this] { onTcpConnection(&listener6_); });
  connect(&upgrader_, &QWebSocketServer::newConnection, this, &BridgeServer::onWebSocket);
}

BridgeServer::~BridgeServer() {
  for (auto& [socket, connection] : connections_) {
    connection->open = false;
    socket->disconnect(this);
  }
}

bool BridgeServer::listen(std::uint16_t port, int inheritedFd, std::string* error) {
  if (inheritedFd >= 0) {
    if (!listener_.setSocketDescriptor(inheritedFd)) {
      *error = "cannot use the inherited socket: " + listener_.errorString().toStdString();
      return false;
    }
    if (!listener_.serverAddress().isLoopback()) {
      *error = "the inherited socket listens on " +
               listener_.serverAddress().toString().toStdString() +
               ", not on the loopback address; refusing to serve";
      listener_.close();
      return false;
    }
  } else if (!listener_.listen(QHostAddress(QHostAddress::LocalHost), port)) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
             listener_.errorString().toStdString();
    return false;
  }
  port_ = listener_.serverPort();
  // "localhost" may resolve to [::1] first; serve it there too when the system offers IPv6
  // loopback (a socket handed over by the service manager stays the only one).
  if (inheritedFd < 0 && !listener6_.listen(QHostAddress(QHostAddress::LocalHostIPv6), port_))
    qInfo("ruzazuv-bridge: not serving [::1]:%u: %s", static_cast<unsigned>(port_),
          qPrintable(listener6_.errorString()));
  return true;
}

void BridgeServer::onTcpConnection(QTcpServer* listener) {
  while (QTcpSocket* socket = listener->nextPendingConnection()) {
    auto* timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket,
            [this, socket] { refuse(socket, 408, "no complete handshake in time"); });
    timeout->start(kHandshakeTimeoutMs);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspectHandshake(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, [socket] {
      if (!socket->property(kHandedOver).toBool()) socket->deleteLater();
    });
    inspectHandshake(socket);
  }
}

void BridgeServer::inspectHandshake(QTcpSocket* socket) {
  if (socket->property(kHandedOver).toBool()) return;
  // Peeked, not read: the WebSocket layer reads the same head again when it takes over.
  const QByteArray data = socket->peek(static_cast<qint64>(kMaxHeadBytes));
  HttpHead head;
  std::size_t length = 0;
  switch (parseHttpHead(std::string_view(data.constData(), static_cast<std::size_t>(data.size())),
                        &head, &length)) {
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
  socket->setProperty(kHandedOver, true);
  socket->disconnect(this);
  for (QTimer* timer : socket->findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) delete timer;
  upgrader_.handleConnection(socket);
}

void BridgeServer::refuse(QTcpSocket* socket, int status, const std::string& reason) {
  if (socket->property(kHandedOver).toBool()) return;
  socket->setProperty(kHandedOver, false);
  socket->disconnect(this);
  for (QTimer* timer : socket->findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) delete timer;
  qInfo("ruzazuv-bridge: refused a connection (%d): %s", status, reason.c_str());
  const std::string answer = refusalResponse(status, reason);
  socket->write(answer.data(), static_cast<qint64>(answer.size()));
  // Whatever else the client sends is dropped; the socket closes once the answer is out.
  connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
  socket->disconnectFromHost();
}

void BridgeServer::onWebSocket() {
  while (QWebSocket* socket = upgrader_.nextPendingConnection()) {
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    auto connection = std::make_shared<Connection>();
    connection->id = nextConnectionId_++;
    connection->socket = socket;
    connection->origin = socket->origin().toStdString();
    const std::optional<std::u16string> pageAddress =
        connection->origin.empty()
            ? std::nullopt
            : std::optional<std::u16string>(utf8ToUtf16(connection->origin + "/"));
    const std::string key = connection->origin.empty()
                                ? std::string()
                                : normaliseOrigin(connection->origin).value_or("");
    ProcessState& process = processFor(key);
    connection->controls = std::make_unique<ControlRegistry>([this, &process, pageAddress] {
      auto control =
          std::make_unique<CardControl>(host_.services(dialogs_), process, config_.siteAddress);
      control->setClientSite(pageAddress);
      return control;
    });
    connection->dispatcher = std::make_unique<RpcDispatcher>(*connection->controls);
    connections_[socket] = connection;
    qInfo("ruzazuv-bridge: connection %llu from %s",
          static_cast<unsigned long long>(connection->id), describe(connection->origin).c_str());

    std::weak_ptr<Connection> weak = connection;
    connect(socket, &QWebSocket::textMessageReceived, this, [this, weak](const QString& text) {
      if (auto c = weak.lock()) onMessage(c, text);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [socket] {
      socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported,
                    QStringLiteral("JSON-RPC goes in text messages"));
    });
    connect(socket, &QWebSocket::bytesWritten, this, [weak](qint64 written) {
      if (auto c = weak.lock())
        c->unsentBytes -= std::min(c->unsentBytes, static_cast<std::size_t>(written));
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { onClosed(socket); });
  }
}

void BridgeServer::onMessage(const std::shared_ptr<Connection>& connection, const QString& text) {
  if (!connection->open) return;
  std::string message = text.toStdString();
  connection->queuedBytes += message.size();
  if (connection->queuedBytes > kMaxQueuedBytesPerConnection) {
    qInfo("ruzazuv-bridge: connection %llu sends faster than it is served; closing",
          static_cast<unsigned long long>(connection->id));
    connection->open = false;
    if (connection->socket)
      connection->socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                                QStringLiteral("too many requests waiting"));
    return;
  }
  queue_.post([this, connection, message = std::move(message)] { run(connection, message); });
}

void BridgeServer::run(const std::shared_ptr<Connection>& connection, const std::string& message) {
  connection->queuedBytes -= message.size();
  if (!connection->open) return;  // its page has gone: nobody waits for the answer
  running_ = connection;
  if (dialogs_ != nullptr) dialogs_->beginCall();
  std::optional<std::string> answer = connection->dispatcher->handle(message);
  running_.reset();
  if (!answer || !connection->open || !connection->socket) return;
  // A client that never reads its answers would make them pile up here without bound.
  if (connection->unsentBytes + answer->size() > kMaxUnsentBytesPerConnection) {
    qInfo("ruzazuv-bridge: connection %llu does not read its answers; closing",
          static_cast<unsigned long long>(connection->id));
    connection->open = false;
    connection->socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                              QStringLiteral("answers are not being read"));
    return;
  }
  connection->unsentBytes += answer->size();
  connection->socket->sendTextMessage(QString::fromStdString(*answer));
}

void BridgeServer::onClosed(QWebSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  std::shared_ptr<Connection> connection = it->second;
  connections_.erase(it);
  connection->open = false;
  connection->socket = nullptr;
  qInfo("ruzazuv-bridge: connection %llu closed (%d)",
        static_cast<unsigned long long>(connection->id), static_cast<int>(socket->closeCode()));
  // Its controls live on while its running request does (the queue's job holds them).
  if (running_ == connection && dialogs_ != nullptr) dialogs_->pageGone();
  socket->deleteLater();
}

ProcessState& BridgeServer::processFor(const std::string& key) {
  std::unique_ptr<ProcessState>& state = processes_[key];
  if (!state) state = std::make_unique<ProcessState>();
  return *state;
}

}  // namespace ruzazuv::bridge
