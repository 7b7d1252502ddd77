#include "bridge/demo_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "bridge/http_head.h"
#include "bridge/loopback_listener.h"

namespace ruzazuv::bridge {
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxFileBytes = 16 * 1024 * 1024;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding of the path; nothing for bad escapes or a decoded zero byte.
std::optional<std::string> decodePath(std::string_view path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      out += path[i];
      continue;
    }
    if (i + 2 >= path.size()) return std::nullopt;
    const int hi = hexValue(path[i + 1]);
    const int lo = hexValue(path[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

}  // namespace

std::optional<fs::path> resolveDemoPath(const fs::path& root, std::string_view target) {
  if (target.empty() || target.front() != '/') return std::nullopt;
  target = target.substr(0, target.find_first_of("?#"));
  const std::optional<std::string> path = decodePath(target);
  if (!path) return std::nullopt;
  fs::path relative;
  std::string_view rest = *path;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == ".." || part.find('\\') != std::string_view::npos) return std::nullopt;
    if (!part.empty() && part != ".") relative /= std::string(part);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  std::error_code ec;
  const fs::path base = fs::canonical(root, ec);
  if (ec) return std::nullopt;
  fs::path file = fs::canonical(base / relative, ec);
  if (ec) return std::nullopt;
  if (fs::is_directory(file, ec)) file = fs::canonical(file / "index.html", ec);
  if (ec || !fs::is_regular_file(file, ec)) return std::nullopt;
  // Symbolic links are resolved above; what they lead to must still be inside the root.
  const auto [end, unused] = std::mismatch(base.begin(), base.end(), file.begin(), file.end());
  if (end != base.end()) return std::nullopt;
  return file;
}

std::string contentTypeFor(const fs::path& file) {
  const std::string ext = file.extension().string();
  if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
  if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".json") return "application/json";
  if (ext == ".svg") return "image/svg+xml";
  if (ext == ".png") return "image/png";
  if (ext == ".ico") return "image/x-icon";
  if (ext == ".ts") return "text/plain; charset=utf-8";
  return "application/octet-stream";
}

DemoServer::DemoServer(fs::path root, QObject* parent) : QObject(parent), root_(std::move(root)) {
  connect(&listener_, &QTcpServer::newConnection, this, &DemoServer::onConnection);
}

bool DemoServer::listen(std::uint16_t port, int inheritedFd, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(root_, ec)) {
    *error = "--serve-demo: " + root_.string() + " is no directory";
    return false;
  }
  if (!listenOnLoopback(listener_, port, inheritedFd, error)) return false;
  port_ = listener_.serverPort();
  return true;
}

std::string DemoServer::origin() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void DemoServer::onConnection() {
  while (QTcpSocket* socket = listener_.nextPendingConnection()) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    QTimer::singleShot(10000, socket, [socket] { socket->abort(); });
  }
}

void DemoServer::serve(QTcpSocket* socket) {
  const QByteArray data = socket->peek(static_cast<qint64>(kMaxHeadBytes));
  HttpHead head;
  std::size_t length = 0;
  const HeadStatus status = parseHttpHead(
      std::string_view(data.constData(), static_cast<std::size_t>(data.size())), &head, &length);
  if (status == HeadStatus::kIncomplete) return;
  socket->disconnect(this);
  socket->readAll();
  auto answer = [socket](int code, const std::string& type, const std::string& body,
                         bool withBody) {
    std::ostringstream out;
    out << "HTTP/1.1 " << code << " " << (code == 200 ? "OK" : std::string(statusText(code)))
        << "\r\nContent-Type: " << type << "\r\nContent-Length: " << body.size()
        << "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
        << "Connection: close\r\n\r\n";
    if (withBody) out << body;
    const std::string text = out.str();
    socket->write(text.data(), static_cast<qint64>(text.size()));
    socket->disconnectFromHost();
  };
  if (status != HeadStatus::kComplete) return answer(400, "text/plain", "bad request\n", true);
  const bool headOnly = head.method == "HEAD";
  if (head.method != "GET" && !headOnly)
    return answer(405, "text/plain", "GET or HEAD only\n", true);
  // A page under another name (DNS rebinding) must not reach the bridge's files.
  if (head.count("Host") != 1 || !hostAllowed(*head.header("Host"), port_))
    return answer(403, "text/plain", "foreign Host\n", !headOnly);
  const std::optional<fs::path> file = resolveDemoPath(root_, head.target);
  std::error_code ec;
  if (!file || fs::file_size(*file, ec) > kMaxFileBytes || ec)
    return answer(404, "text/plain", "not found\n", !headOnly);
  std::ifstream in(*file, std::ios::binary);
  std::ostringstream body;
  body << in.rdbuf();
  answer(200, contentTypeFor(*file), body.str(), !headOnly);
}

}  // namespace ruzazuv::bridge
