#include "bridge/wiped_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>

namespace ruzazuv::bridge {

WipedSocket::WipedSocket(int fd, QObject* parent)
    : QObject(parent),
      fd_(fd),
      readNotifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
      writeNotifier_(new QSocketNotifier(fd, QSocketNotifier::Write, this)) {
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  // A frame's header and payload are written separately; with Nagle's algorithm the payload
  // would wait for the client's delayed acknowledgement of the header, about 40 ms per answer.
  // (Not a TCP socket: the call fails and changes nothing.)
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  writeNotifier_->setEnabled(false);
  connect(readNotifier_, &QSocketNotifier::activated, this, &WipedSocket::onReadable);
  connect(writeNotifier_, &QSocketNotifier::activated, this, &WipedSocket::flush);
  linger_.setSingleShot(true);
  connect(&linger_, &QTimer::timeout, this, &WipedSocket::abort);
}

WipedSocket::~WipedSocket() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t WipedSocket::read(char* data, std::size_t size) {
  if (fd_ < 0 || closing_ || readEnded_) return 0;
  const ssize_t got = ::recv(fd_, data, size, 0);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  // The client has closed its side, or the connection failed: the connection is over.
  readEnded_ = true;
  readNotifier_->setEnabled(false);
  QMetaObject::invokeMethod(this, &WipedSocket::finish, Qt::QueuedConnection);
  return 0;
}

void WipedSocket::write(std::string_view bytes) {
  if (fd_ < 0 || shut_ || bytes.empty()) return;
  out_.emplace_back(bytes);
  queued_ += bytes.size();
  flush();
}

void WipedSocket::flush() {
  while (fd_ >= 0 && !out_.empty()) {
    const SecretString& front = out_.front();
    const ssize_t put =
        ::send(fd_, front.data() + sent_, front.size() - sent_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        writeNotifier_->setEnabled(true);
        return;
      }
      // The client is gone: what is queued can never be delivered.
      QMetaObject::invokeMethod(this, &WipedSocket::finish, Qt::QueuedConnection);
      out_.clear();
      queued_ = 0;
      sent_ = 0;
      writeNotifier_->setEnabled(false);
      return;
    }
    sent_ += static_cast<std::size_t>(put);
    queued_ -= static_cast<std::size_t>(put);
    if (sent_ == front.size()) {
      out_.pop_front();
      sent_ = 0;
    }
  }
  if (fd_ < 0) return;
  writeNotifier_->setEnabled(false);
  emit drained();
  if (closing_ && !shut_) {
    shut_ = true;
    ::shutdown(fd_, SHUT_WR);
    if (readEnded_)
      finish();
    else
      linger_.start(kLingerMs);
  }
}

void WipedSocket::closeAfterWrites() {
  if (fd_ < 0 || closing_) return;
  closing_ = true;
  if (out_.empty()) flush();
}

void WipedSocket::onReadable() {
  if (!closing_) {
    emit readyRead();
    return;
  }
  // Closing: drop what the client still sends, until it closes too.
  std::array<char, 4096> sink{};
  for (;;) {
    const ssize_t got = ::recv(fd_, sink.data(), sink.size(), 0);
    if (got > 0) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    readEnded_ = true;
    readNotifier_->setEnabled(false);
    if (out_.empty()) finish();  // else once the rest is written
    break;
  }
  secureZero(sink.data(), sink.size());
}

void WipedSocket::abort() {
  finish();
}

void WipedSocket::finish() {
  if (fd_ < 0) return;
  readNotifier_->setEnabled(false);
  writeNotifier_->setEnabled(false);
  linger_.stop();
  ::close(fd_);
  fd_ = -1;
  out_.clear();
  queued_ = 0;
  QMetaObject::invokeMethod(this, &WipedSocket::closed, Qt::QueuedConnection);
}

}  // namespace ruzazuv::bridge
