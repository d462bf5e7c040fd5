// Test support: syslog receivers on 127.0.0.1, on ports the kernel picks.
//
// UdpReceiver takes datagrams; TcpReceiver listens (or, before Listen, only
// holds its port so that connects are refused), accepts one connection and
// reads whole lines. Every wait is bounded (a few seconds) and ends early
// when data arrives. Used from one test thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

inline sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Binds a new socket of `type` to 127.0.0.1:port (0: any free port).
inline int BoundSocket(int type, unsigned short port, unsigned short* bound) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address = Loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *bound = ntohs(address.sin_port);
  return fd;
}

inline bool Readable(int fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, milliseconds) == 1;
}

class UdpReceiver {
 public:
  UdpReceiver() { fd_ = BoundSocket(SOCK_DGRAM, 0, &port_); }
  ~UdpReceiver() { close(fd_); }
  unsigned short port() const { return port_; }
  // The next datagram, "" when none came within 5 s.
  std::string Receive() {
    if (!Readable(fd_, 5000)) return "";
    char buffer[4096];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, got) : "";
  }
  // True when nothing is waiting.
  bool Empty() { return !Readable(fd_, 0); }

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

class TcpReceiver {
 public:
  // Holds a port without listening: connects to it are refused.
  TcpReceiver() { listener_ = BoundSocket(SOCK_STREAM, 0, &port_); }
  ~TcpReceiver() { Close(); }
  unsigned short port() const { return port_; }

  bool Listen() {
    if (listener_ < 0) listener_ = BoundSocket(SOCK_STREAM, port_, &port_);
    return listener_ >= 0 && listen(listener_, 4) == 0;
  }
  // Waits (bounded) for the connection.
  bool Accept() {
    if (!Readable(listener_, 5000)) return false;
    connection_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
  }
  // The next whole line with its "\n"; "" when none came within 5 s.
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        return line;
      }
      if (!Readable(connection_, 5000)) return "";
      char buffer[4096];
      const ssize_t got = recv(connection_, buffer, sizeof buffer, 0);
      if (got <= 0) return "";
      pending_.append(buffer, got);
    }
  }
  // Closes the connection and the listener; the port stays known.
  void Close() {
    if (connection_ >= 0) close(connection_);
    if (listener_ >= 0) close(listener_);
    connection_ = listener_ = -1;
    pending_.clear();
  }

 private:
  int listener_ = -1;
  int connection_ = -1;
  unsigned short port_ = 0;
  std::string pending_;
};
