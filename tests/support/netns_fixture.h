// Two network namespaces of the test's own, joined by a veth pair, for tests of a device
// that goes away and comes back. Neither end of the pair ever sits in the machine's own
// namespace, and the addresses exist only inside the two namespaces, so nothing the test
// does is visible to the machine's network.
//
//   namespace "<prefix><pid>-<n>-host": link "kvh0", address HostAddress()
//   namespace "<prefix><pid>-<n>-dev":  link "kvd0", address DeviceAddress() (answers pings)
//
// Making them needs root (or CAP_SYS_ADMIN and CAP_NET_ADMIN) and the `ip` program; without
// them Create() fails with a reason for GTEST_SKIP. The pair is removed by the destructor, by
// an exit handler when the process exits without unwinding, and, after a crash, by the next
// Create() of any test (namespaces with the prefix whose process is gone are stale).
#pragma once

#include <functional>
#include <string>

namespace kvtest {

class NetnsPair {
 public:
  enum Side { kHost, kDevice };

  NetnsPair() = default;
  NetnsPair(const NetnsPair &) = delete;
  NetnsPair &operator=(const NetnsPair &) = delete;
  ~NetnsPair() { Remove(); }

  // Makes both namespaces and the link, both ends up. False with *why set when impossible.
  bool Create(std::string *why);
  void Remove();

  const std::string &Name(Side side) const { return side == kHost ? host_ : device_; }
  static const char *HostAddress() { return "10.77.0.1"; }
  static const char *DeviceAddress() { return "10.77.0.2"; }
  static const char *LinkName(Side side) { return side == kHost ? "kvh0" : "kvd0"; }

  // Takes one end of the veth pair down or up. True when `ip` succeeded.
  bool SetLink(Side side, bool up);

  // Routes every address the side does not know to the other end, which forwards nothing:
  // a connect to such an address, or a name server's, is never answered.
  bool RouteAwayToTheOtherEnd(Side side);

  // Runs `fn` on a new thread that has entered the side's namespace (so every socket it
  // makes lives there) and returns once the thread has ended. False with *why when the
  // namespace could not be entered.
  bool RunIn(Side side, const std::function<void()> &fn, std::string *why);

  // Removes namespaces left behind by test processes that no longer exist.
  static void RemoveStale();
  static const char *Prefix() { return "kvtest-"; }

 private:
  bool Ip(const std::string &args);
  std::string host_, device_, log_;
};

// Moves the calling thread into a named namespace and back to its own when it goes out of
// scope. ok() tells whether the move happened.
class NetnsEnter {
 public:
  NetnsEnter(const std::string &name, std::string *why);
  ~NetnsEnter();
  NetnsEnter(const NetnsEnter &) = delete;
  NetnsEnter &operator=(const NetnsEnter &) = delete;
  bool ok() const { return ok_; }

 private:
  int own_ = -1;
  bool ok_ = false;
};

}  // namespace kvtest
