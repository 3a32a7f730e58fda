#include "ftp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace ftptest {
namespace {

int Listen(int *port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

int AcceptWithin(int listener, int bound_ms) {
  pollfd p = {listener, POLLIN, 0};
  if (poll(&p, 1, bound_ms) <= 0) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int ConnectTo(uint32_t address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(address);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void Replace(std::string *text, const std::string &from, const std::string &to) {
  size_t at = text->find(from);
  if (at != std::string::npos) text->replace(at, from.size(), to);
}

// True when the peer at `fd` closed its end within `bound_ms` (reading and dropping data).
bool PeerClosed(int fd, int bound_ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (std::chrono::steady_clock::now() < until) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char chunk[4096];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return true;
  }
  return false;
}

}  // namespace

Peer::Peer(const PeerPlan &plan) : plan_(plan) {
  listener_ = Listen(&port_);
  thread_ = std::thread([this] { Run(); });
}

Peer::~Peer() {
  stop_ = true;
  thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<std::string> Peer::Commands() {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

std::string Peer::Stored() {
  std::lock_guard<std::mutex> lock(mu_);
  return stored_;
}

void Peer::Run() {
  while (!stop_) {
    int control = AcceptWithin(listener_, 100);
    if (control < 0) continue;
    int one = 1;
    setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Session(control);
    close(control);
  }
}

bool Peer::Send(int fd, const std::string &text) {
  if (!plan_.split_every_byte) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  for (char c : text) {
    if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

bool Peer::ReadLine(int fd, std::string *buffer, std::string *line) {
  for (;;) {
    size_t end = buffer->find("\r\n");
    if (end != std::string::npos) {
      *line = buffer->substr(0, end);
      buffer->erase(0, end + 2);
      return true;
    }
    pollfd p = {fd, POLLIN, 0};
    if (stop_ || poll(&p, 1, 100) < 0) return false;
    if ((p.revents & (POLLIN | POLLHUP)) == 0) continue;
    char chunk[1024];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer->append(chunk, static_cast<size_t>(got));
  }
}

// Holds the connections without a word until the client closes them (or the test ends).
void Peer::Stall(int control, int data) {
  stalled_ = true;
  bool closed = PeerClosed(control, 30000);
  if (closed && data >= 0) closed = PeerClosed(data, 5000);
  client_closed_ = closed;
  if (data >= 0) close(data);
}

void Peer::Transfer(int control, const std::string &verb, int *data_listener) {
  int data = -1;
  if (port_target_port_ > 0) {
    data = ConnectTo(port_target_address_, port_target_port_);
  } else if (*data_listener >= 0) {
    data = AcceptWithin(*data_listener, 5000);
  }
  if (*data_listener >= 0) close(*data_listener);
  *data_listener = -1;
  port_target_port_ = 0;
  if (data < 0) {
    Send(control, "425 no data connection\r\n");
    return;
  }
  if (plan_.stall == verb) return Stall(control, data);
  Send(control, plan_.final_with_preliminary ? plan_.preliminary + plan_.final_reply
                                             : plan_.preliminary);
  if (verb == "STOR") {
    std::string stored;
    char chunk[8192];
    ssize_t got;
    while ((got = recv(data, chunk, sizeof chunk, 0)) > 0) stored.append(chunk, static_cast<size_t>(got));
    std::lock_guard<std::mutex> lock(mu_);
    stored_ = stored;
  } else {
    std::string out = plan_.data.substr(0, plan_.data_cut);
    if (plan_.stall == "DATA") {
      send(data, out.data(), out.size() / 2, MSG_NOSIGNAL);
      return Stall(control, data);
    }
    size_t sent = 0;
    while (sent < out.size()) {
      ssize_t n = send(data, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  close(data);
  if (plan_.stall == "FINAL") return Stall(control, -1);
  if (plan_.final_reply.empty()) {
    shutdown(control, SHUT_RDWR);  // hangs up instead of replying
    return;
  }
  if (!plan_.final_with_preliminary) Send(control, plan_.final_reply);
}

void Peer::Session(int control) {
  if (plan_.stall == "GREETING") return Stall(control, -1);
  if (!plan_.greeting.empty() && !Send(control, plan_.greeting)) return;
  std::string buffer, line;
  int data_listener = -1;
  while (ReadLine(control, &buffer, &line)) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      commands_.push_back(line);
    }
    std::string verb = line.substr(0, line.find(' '));
    if (plan_.stall == verb && verb != "RETR" && verb != "STOR" && verb != "LIST") {
      return Stall(control, -1);
    }
    if (verb == "PASV") {
      if (data_listener >= 0) close(data_listener);
      int port = 0;
      data_listener = Listen(&port);
      std::string reply = plan_.pasv;
      Replace(&reply, "%P1%", std::to_string(port / 256));
      Replace(&reply, "%P2%", std::to_string(port % 256));
      Send(control, reply);
    } else if (verb == "PORT") {
      unsigned h[6] = {0, 0, 0, 0, 0, 0};
      sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4], &h[5]);
      port_target_address_ = (h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
      port_target_port_ = static_cast<int>(h[4] * 256 + h[5]);
      Send(control, "200 port ok\r\n");
    } else if (verb == "RETR" || verb == "STOR" || verb == "LIST") {
      Transfer(control, verb, &data_listener);
      if (stalled_) break;
    } else {
      auto reply = plan_.replies.find(verb);
      Send(control, reply != plan_.replies.end() ? reply->second : "502 not implemented\r\n");
      if (verb == "QUIT") break;
    }
  }
  if (data_listener >= 0) close(data_listener);
}

}  // namespace ftptest
