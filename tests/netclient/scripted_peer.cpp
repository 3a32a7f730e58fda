#include "scripted_peer.h"

#include <string.h>

#include <chrono>

#include "test_socket.h"

namespace nctest {
namespace {

int Listen(int *port) {
  uint16_t bound = 0;
  int fd = kvtest::ListenLoopback(0, 4, &bound);
  *port = bound;
  return fd;
}

// Accepts within bound_ms; -1 otherwise.
int AcceptWithin(int listener, int bound_ms) {
  if (!kvtest::WaitReadable(listener, bound_ms)) return -1;
  return kvtest::AcceptSocket(listener);
}

std::string PasvReply(int port) {
  return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
         std::to_string(port % 256) + ")\r\n";
}

}  // namespace

ScriptedPeer::ScriptedPeer(const PeerScript &script) : script_(script) {
  listener_ = Listen(&port_);
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  thread_.join();
  kvtest::CloseSocket(listener_);
}

std::vector<std::string> ScriptedPeer::Commands() {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

std::string ScriptedPeer::Stored() {
  std::lock_guard<std::mutex> lock(mu_);
  return stored_;
}

void ScriptedPeer::Run() {
  while (!stop_) {
    int control = AcceptWithin(listener_, 100);
    if (control < 0) continue;
    kvtest::SetNoDelay(control);
    Session(control);
    kvtest::CloseSocket(control);
  }
}

bool ScriptedPeer::Send(int fd, const std::string &text) {
  if (!script_.split_every_byte) {
    return kvtest::SendBytes(fd, text.data(), text.size()) == static_cast<long>(text.size());
  }
  for (char c : text) {
    if (kvtest::SendBytes(fd, &c, 1) != 1) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool ScriptedPeer::ReadLine(int fd, std::string *buffer, std::string *line) {
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

void ScriptedPeer::Session(int control) {
  if (!script_.greeting.empty() && !Send(control, script_.greeting)) return;
  std::string buffer, line;
  int data_listener = -1;
  auto close_listener = [&] {
    kvtest::CloseSocket(data_listener);
    data_listener = -1;
  };
  while (ReadLine(control, &buffer, &line)) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      commands_.push_back(line);
    }
    std::string verb = line.substr(0, line.find(' '));
    if (verb == "USER") {
      Send(control, "331 password please\r\n");
    } else if (verb == "PASS") {
      Send(control, "230 logged in\r\n");
    } else if (verb == "TYPE") {
      Send(control, "200 type set\r\n");
    } else if (verb == "PASV") {
      close_listener();
      int port = 0;
      data_listener = Listen(&port);
      if (script_.refuse_data) close_listener();  // the port is free again: nothing listens
      Send(control, script_.pasv_reply.empty() ? PasvReply(port) : script_.pasv_reply);
    } else if (verb == "STOR" || verb == "LIST" || verb == "RETR") {
      int data = data_listener >= 0 ? AcceptWithin(data_listener, 5000) : -1;
      close_listener();
      if (data < 0) {
        Send(control, "425 no data connection\r\n");
        continue;
      }
      Send(control, "150 opening data connection\r\n");
      if (verb == "LIST") {
        Send(data, "-rw-r--r-- 1 owner group 5 Jan 01 00:00 file.txt\r\n");
      } else if (verb == "STOR") {
        std::string stored;
        char chunk[8192];
        long got;
        bool cut = false;
        while ((got = kvtest::RecvBytes(data, chunk, sizeof chunk)) > 0) {
          stored.append(chunk, static_cast<size_t>(got));
          if (script_.close_control_after >= 0 &&
              static_cast<long>(stored.size()) >= script_.close_control_after && !cut) {
            cut = true;
            kvtest::ShutdownSocket(control);
            if (script_.close_data_too) break;
          }
        }
        std::lock_guard<std::mutex> lock(mu_);
        stored_ = stored;
        if (cut) {
          kvtest::CloseSocket(data);
          close_listener();
          return;
        }
      }
      kvtest::CloseSocket(data);
      Send(control, script_.transfer_end);
    } else if (verb == "QUIT") {
      Send(control, "221 bye\r\n");
      break;
    } else if (verb == "MKD") {
      Send(control, "257 created\r\n");
    } else if (verb == "CWD" || verb == "DELE" || verb == "RMD") {
      Send(control, "250 ok\r\n");
    } else {
      Send(control, "502 not implemented\r\n");
    }
  }
  close_listener();
}

}  // namespace nctest
