// SPDX-License-Identifier: GPL-3.0-or-later
// UDP sockets on 127.0.0.1 for the loopback tests and benchmarks.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// A UDP socket bound to 127.0.0.1 on a port the system picks (TYPE may add flags such as
// SOCK_NONBLOCK); `port` is set to it. -1 when there is none.
inline int BindLoopbackUdp(uint16_t& port, int type = SOCK_DGRAM) {
  const int fd = socket(AF_INET, type, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof at;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(at.sin_port);
  return fd;
}

// A port free on 127.0.0.1 when asked.
inline uint16_t FreeUdpPort() {
  uint16_t port = 0;
  const int fd = BindLoopbackUdp(port);
  if (fd >= 0) close(fd);
  return port;
}
