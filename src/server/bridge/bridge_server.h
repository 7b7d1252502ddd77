// The bridge's WebSocket service: a loopback listener whose connections first pass the
// handshake rules (Host, Origin; refusals are real HTTP answers), then speak WebSocket through
// the bridge's own framing (websocket_frames.h) on a WipedSocket, each holding its page's
// controls. Every request runs on the main thread, one at a time; the connections with work take
// turns request by request (RoundRobinQueue), and the answers go back to their connection if it
// is still there.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/page_dialogs.h"
#include "bridge/round_robin_queue.h"
#include "bridge/wiped_socket.h"
#include "control/process_state.h"
#include "host/host_services.h"
#include "rpc/secret_string.h"

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
// How long the bridge waits for the client's answer to its close frame before it drops the
// connection.
inline constexpr int kCloseTimeoutMs = 2000;

// A listener that hands over the descriptor of each connection it accepts.
class DescriptorListener final : public QTcpServer {
 public:
  std::function<void(int)> accepted;

 protected:
  void incomingConnection(qintptr fd) override;
};

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
  class MessageJob;

  struct Handshake;

  void onAccepted(int fd);
  void inspectHandshake(WipedSocket* socket);
  void refuse(WipedSocket* socket, int status, const std::string& reason);
  void open(WipedSocket* socket, const std::optional<std::string>& origin,
            std::string_view firstFrames);
  void onReadable(const std::shared_ptr<Connection>& connection);
  void onBytes(const std::shared_ptr<Connection>& connection, std::string_view bytes);
  void onMessage(const std::shared_ptr<Connection>& connection, SecretString text);
  void onClosed(WipedSocket* socket);
  // Sends a close frame and stops serving the connection; the socket closes when the client
  // answers it, or after kCloseTimeoutMs.
  void closeWith(Connection& connection, std::uint16_t code, std::string_view reason);
  void sendText(Connection& connection, std::string_view text);
  // Whether `bytes` more may be queued for the client; closes the connection when not.
  bool roomToWrite(Connection& connection, std::size_t bytes);
  void drainQueue();
  // Gives freed heap memory back to the system after large messages, once the work is done.
  void trimIfIdle();
  ProcessState& processFor(const std::string& key);

  BridgeConfig config_;
  HostServices& host_;
  PageDialogs* dialogs_;
  DescriptorListener listener_;
  DescriptorListener listener6_;  // [::1] beside 127.0.0.1, where the system has it
  std::uint16_t port_ = 0;
  RoundRobinQueue queue_;
  std::map<WipedSocket*, std::unique_ptr<Handshake>> handshakes_;  // heads still coming
  std::map<WipedSocket*, std::shared_ptr<Connection>> connections_;
  std::shared_ptr<Connection> running_;  // the connection whose request runs now
  std::map<std::string, std::unique_ptr<ProcessState>> processes_;  // by normalised origin
  std::uint64_t nextConnectionId_ = 1;
  bool trimWanted_ = false;  // a large message or answer has come and gone since the last trim
};

}  // namespace ruzazuv::bridge
