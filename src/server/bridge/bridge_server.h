// The bridge's WebSocket service: a loopback listener whose connections first pass the
// handshake rules (Host, Origin; refusals are real HTTP answers), then become WebSocket
// connections, each holding its page's controls. Every request of every connection runs on the
// main thread through one SerialQueue, one at a time, in arrival order; the answers go back to
// their connection if it is still there.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QWebSocketServer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/page_dialogs.h"
#include "bridge/serial_queue.h"
#include "control/process_state.h"
#include "host/host_services.h"

class QTcpSocket;
class QWebSocket;

namespace ruzazuv::bridge {

// A message over this (its fragments joined) closes the connection with 1009.
inline constexpr std::uint64_t kMaxMessageBytes = 64 * 1024;
// Requests a connection may have waiting; beyond it the client is not reading its answers or is
// flooding, and the connection is closed with 1008.
inline constexpr std::size_t kMaxQueuedBytesPerConnection = 4 * 1024 * 1024;
// Answers waiting to be written to a connection; beyond this it is closed with 1008.
inline constexpr std::size_t kMaxUnsentBytesPerConnection = 32 * 1024 * 1024;
// How long a client may take to send its handshake.
inline constexpr int kHandshakeTimeoutMs = 10000;

struct BridgeConfig {
  std::u16string siteAddress;
  std::vector<std::string> allowedOrigins;  // normalised
};

class BridgeServer final : public QObject {
  Q_OBJECT

 public:
  // `dialogs` is null when the bridge shows no dialogs.
  BridgeServer(BridgeConfig config, HostServices& host, PageDialogs* dialogs,
               QObject* parent = nullptr);
  ~BridgeServer() override;

  // Listens on 127.0.0.1:port, or on `inheritedFd` (a listening socket from the service
  // manager) when it is not negative. False with `*error` set on failure.
  bool listen(std::uint16_t port, int inheritedFd, std::string* error);
  std::uint16_t port() const { return port_; }

  std::size_t connectionCount() const { return connections_.size(); }

 private:
  struct Connection;

  void onTcpConnection(QTcpServer* listener);
  void inspectHandshake(QTcpSocket* socket);
  void refuse(QTcpSocket* socket, int status, const std::string& reason);
  void onWebSocket();
  void onMessage(const std::shared_ptr<Connection>& connection, const QString& text);
  void onClosed(QWebSocket* socket);
  void run(const std::shared_ptr<Connection>& connection, const std::string& message);
  ProcessState& processFor(const std::string& key);

  BridgeConfig config_;
  HostServices& host_;
  PageDialogs* dialogs_;
  QTcpServer listener_;
  QTcpServer listener6_;  // [::1] beside 127.0.0.1, where the system has it
  QWebSocketServer upgrader_;
  std::uint16_t port_ = 0;
  SerialQueue queue_;
  std::map<QWebSocket*, std::shared_ptr<Connection>> connections_;
  std::shared_ptr<Connection> running_;  // the connection whose request runs now
  std::map<std::string, std::unique_ptr<ProcessState>> processes_;  // by normalised origin
  std::uint64_t nextConnectionId_ = 1;
};

}  // namespace ruzazuv::bridge
