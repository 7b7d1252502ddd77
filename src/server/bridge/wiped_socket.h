// A connected TCP socket that the bridge reads and writes through buffers it wipes: frames
// carry PIN blocks, and QTcpSocket would keep them in buffers it frees without wiping. The
// descriptor is driven with QSocketNotifiers on the main thread; writes are queued in
// SecretString and go out as the socket takes them.
//
// Ending a connection is a lingering close: once everything queued is written, the sending side
// is shut, what the client still sends is read and dropped until it closes too (or
// kLingerMs pass), so that the last answer is never lost to a reset.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstddef>
#include <deque>
#include <string_view>

#include "rpc/secret_string.h"

class QSocketNotifier;

namespace ruzazuv::bridge {

class WipedSocket final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLingerMs = 2000;

  // Takes ownership of the connected descriptor `fd`.
  explicit WipedSocket(int fd, QObject* parent = nullptr);
  ~WipedSocket() override;

  // Reads up to `size` bytes; 0 when nothing more has arrived (or the connection ended).
  std::size_t read(char* data, std::size_t size);
  void write(std::string_view bytes);
  std::size_t bytesToWrite() const { return queued_; }
  // Ends the connection after what is queued has gone out; from now on what arrives is dropped.
  void closeAfterWrites();
  // Ends it now.
  void abort();
  bool isClosed() const { return fd_ < 0; }

 signals:
  void readyRead();
  void drained();  // everything queued has been written
  void closed();   // the connection has ended; emitted once, from the event loop

 private:
  void flush();
  void finish();
  void onReadable();

  int fd_;
  QSocketNotifier* readNotifier_;
  QSocketNotifier* writeNotifier_;
  QTimer linger_;
  std::deque<SecretString> out_;
  std::size_t sent_ = 0;    // bytes of out_.front() already written
  std::size_t queued_ = 0;  // bytes waiting in out_
  bool closing_ = false;    // closeAfterWrites was called
  bool shut_ = false;       // our sending side is shut
  bool readEnded_ = false;  // the client's side has ended (or failed)
};

}  // namespace ruzazuv::bridge
