#include "ftp_peer.h"

#include <stdio.h>
#include <string.h>

#include <chrono>

#include "test_socket.h"

namespace ftptest {
namespace {

int Listen(int *port) {
  uint16_t bound = 0;
  int fd = kvtest::ListenLoopback(0, 4, &bound);
  *port = bound;
  return fd;
}

int AcceptWithin(int listener, int bound_ms) {
  if (!kvtest::WaitReadable(listener, bound_ms)) return -1;
  return kvtest::AcceptSocket(listener);
}

// Sends all of `size` bytes unless the connection fails; the bytes sent.
size_t SendAll(int fd, const char *data, size_t size) {
  size_t sent = 0;
  while (sent < size) {
    long n = kvtest::SendBytes(fd, data + sent, size - sent);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  return sent;
}

void Replace(std::string *text, const std::string &from, const std::string &to) {
  size_t at = text->find(from);
  if (at != std::string::npos) text->replace(at, from.size(), to);
}

// True when the peer at `fd` closed its end within `bound_ms` (reading and dropping data).
bool PeerClosed(int fd, int bound_ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (std::chrono::steady_clock::now() < until) {
    if (!kvtest::WaitReadable(fd, 50)) continue;
    char chunk[4096];
    if (kvtest::RecvBytes(fd, chunk, sizeof chunk) <= 0) return true;
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
  kvtest::CloseSocket(listener_);
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
    kvtest::SetNoDelay(control);
    Session(control);
    kvtest::CloseSocket(control);
  }
}

bool Peer::Send(int fd, const std::string &text) {
  if (!plan_.split_every_byte) {
    return SendAll(fd, text.data(), text.size()) == text.size();
  }
  for (char c : text) {
    if (kvtest::SendBytes(fd, &c, 1) != 1) return false;
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
    if (stop_) return false;
    if (!kvtest::WaitReadable(fd, 100)) continue;
    char chunk[1024];
    long got = kvtest::RecvBytes(fd, chunk, sizeof chunk);
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
  kvtest::CloseSocket(data);
}

void Peer::Transfer(int control, const std::string &verb, int *data_listener) {
  int data = -1;
  if (port_target_port_ > 0) {
    data = kvtest::ConnectIPv4(port_target_address_, static_cast<uint16_t>(port_target_port_));
  } else if (*data_listener >= 0) {
    data = AcceptWithin(*data_listener, 5000);
  }
  kvtest::CloseSocket(*data_listener);
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
    long got;
    while ((got = kvtest::RecvBytes(data, chunk, sizeof chunk)) > 0) {
      stored.append(chunk, static_cast<size_t>(got));
    }
    std::lock_guard<std::mutex> lock(mu_);
    stored_ = stored;
  } else {
    std::string out = plan_.data.substr(0, plan_.data_cut);
    if (plan_.stall == "DATA") {
      SendAll(data, out.data(), out.size() / 2);
      return Stall(control, data);
    }
    SendAll(data, out.data(), out.size());
  }
  kvtest::CloseSocket(data);
  if (plan_.stall == "FINAL") return Stall(control, -1);
  if (plan_.final_reply.empty()) {
    kvtest::ShutdownSocket(control);  // hangs up instead of replying
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
      kvtest::CloseSocket(data_listener);
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
  kvtest::CloseSocket(data_listener);
}

}  // namespace ftptest
