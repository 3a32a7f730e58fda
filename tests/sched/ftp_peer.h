// A scripted FTP peer for the socket FTP client's tests: each test row says what the peer
// answers to each command, how it splits its replies, what goes over the data connection and
// where it falls silent. It records the commands it received and whether the client closed
// its connections, so a test sees both the outcome and what reached the wire.
#pragma once

#include <stdint.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ftptest {

struct PeerPlan {
  std::string greeting = "220 scripted peer ready\r\n";  // empty: says nothing
  // Replies by verb (USER, PASS, ACCT, TYPE, PASV, PORT...); a missing verb gets "502".
  std::map<std::string, std::string> replies = {
      {"USER", "331 password please\r\n"}, {"PASS", "230 logged in\r\n"},
      {"ACCT", "230 logged in\r\n"},       {"TYPE", "200 type set\r\n"},
      {"QUIT", "221 bye\r\n"},             {"NOOP", "200 ok\r\n"}};
  // The PASV reply; "%P1%" and "%P2%" become the data port's bytes.
  std::string pasv = "227 Entering Passive Mode (127,0,0,1,%P1%,%P2%)\r\n";
  bool split_every_byte = false;  // every reply byte in a packet of its own
  std::string data;               // sent by RETR and LIST
  size_t data_cut = std::string::npos;  // close the data connection after this many bytes
  std::string preliminary = "150 opening data connection\r\n";
  std::string final_reply = "226 transfer complete\r\n";  // empty: hangs up instead
  bool final_with_preliminary = false;  // both replies in one packet, before the data
  // Falls silent (answers nothing more, holds its connections) on this verb; "GREETING"
  // before the greeting, "DATA" after half the data, "FINAL" before the final reply.
  std::string stall;
};

class Peer {
 public:
  explicit Peer(const PeerPlan &plan);
  ~Peer();
  int port() const { return port_; }
  std::vector<std::string> Commands();
  std::string Stored();  // the bytes of the last STOR
  bool Stalled() const { return stalled_.load(); }
  // True once the client closed the control connection (and the data connection, when one
  // was open when the peer stalled).
  bool ClientClosed() const { return client_closed_.load(); }

 private:
  void Run();
  void Session(int control);
  bool Send(int fd, const std::string &text);
  bool ReadLine(int fd, std::string *buffer, std::string *line);
  void Transfer(int control, const std::string &verb, int *data_listener);
  void Stall(int control, int data);

  PeerPlan plan_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> stalled_{false};
  std::atomic<bool> client_closed_{false};
  std::mutex mu_;
  std::vector<std::string> commands_;
  std::string stored_;
  uint32_t port_target_address_ = 0;  // the last PORT command's address and port
  int port_target_port_ = 0;
  std::thread thread_;
};

}  // namespace ftptest
