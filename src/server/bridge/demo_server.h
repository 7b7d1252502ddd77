// `--serve-demo DIR`: serves the files under DIR over plain HTTP on 127.0.0.1, so that a browser
// can load the demo page from an origin the bridge allows. GET and HEAD only, loopback Host
// only, nothing outside DIR (no "..", no symbolic links leading out), no directory listings.
#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <filesystem>
#include <string>

class QTcpSocket;

namespace ruzazuv::bridge {

class DemoServer final : public QObject {
  Q_OBJECT

 public:
  explicit DemoServer(std::filesystem::path root, QObject* parent = nullptr);
  // Listens on 127.0.0.1:port, or on `inheritedFd` (a listening socket from the service
  // manager) when it is not negative. False with `*error` set on failure.
  bool listen(std::uint16_t port, int inheritedFd, std::string* error);
  std::uint16_t port() const { return port_; }
  // The origin pages served here have: http://127.0.0.1:PORT.
  std::string origin() const;

 private:
  void onConnection();
  void serve(QTcpSocket* socket);

  std::filesystem::path root_;
  QTcpServer listener_;
  std::uint16_t port_ = 0;
};

// The file a request target names under `root`, or nothing when it names none or leads out of
// it. "/" and directories give their index.html.
std::optional<std::filesystem::path> resolveDemoPath(const std::filesystem::path& root,
                                                     std::string_view target);
std::string contentTypeFor(const std::filesystem::path& file);

}  // namespace ruzazuv::bridge
