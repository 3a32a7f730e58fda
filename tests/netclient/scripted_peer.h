// A scripted FTP peer on loopback: a small FTP server written for the tests, whose replies
// can be malformed, oversized, sent one byte per packet, or cut off, and whose data
// connection can be refused or whose control connection can close in the middle of a
// transfer.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nctest {

struct PeerScript {
  std::string greeting = "220 scripted peer ready\r\n";
  bool split_every_byte = false;      // every reply byte in a packet of its own
  bool refuse_data = false;           // PASV names a port where nothing listens
  std::string pasv_reply;             // replaces the PASV reply when not empty
  long close_control_after = -1;      // STOR: close the control connection after this many bytes
  bool close_data_too = false;        // ... and the data connection with it
  std::string transfer_end = "226 transfer complete\r\n";  // the final reply of a transfer
};

class ScriptedPeer {
 public:
  explicit ScriptedPeer(const PeerScript &script);
  ~ScriptedPeer();
  int port() const { return port_; }
  std::vector<std::string> Commands();  // every command line received, in order
  std::string Stored();                 // the bytes of the last STOR

 private:
  void Run();
  void Session(int control);
  bool Send(int fd, const std::string &text);
  bool ReadLine(int fd, std::string *buffer, std::string *line);

  PeerScript script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<std::string> commands_;
  std::string stored_;
  std::thread thread_;
};

}  // namespace nctest
