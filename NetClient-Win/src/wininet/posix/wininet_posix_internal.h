// Internals of the POSIX WinINet layer: the FTP wire (control replies, passive data
// connections, listings) and the small helpers that wininet_posix.cpp builds its handles on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "nc_wininet.h"

namespace ncwin {

// ---- Handles, notifications and threads (wininet_posix.cpp) ------------------------------

const int kDefaultTimeoutMs = 30000;

enum class Kind { Root, Connection, File, Find, HttpSession, HttpRequest };

struct Root;

struct Handle {
  Kind kind;
  HINTERNET id = nullptr;
  DWORD_PTR context = 0;
  std::shared_ptr<Root> root;
  std::atomic<bool> closed{false};
  std::atomic<bool> callback_removed{false};
  std::atomic<int> timeout_ms{kDefaultTimeoutMs};
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
};

struct Root : Handle {
  Root() : Handle(Kind::Root) {}
  std::mutex cb_mu;
  std::condition_variable cb_cv;
  INTERNET_STATUS_CALLBACK callback = nullptr;
  int in_flight = 0;
  std::string agent;  // set once by InternetOpenA
  std::mutex proxy_mu;
  std::string proxy, bypass;
  // The threads of connections and requests; those that have ended are joined when the
  // next one starts, the rest when the root closes.
  struct WorkerThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex threads_mu;
  std::vector<WorkerThread> threads;
  // The handles opened below this root and not yet closed, which closing the root closes:
  // kept here so that the close costs the same whatever the number of roots in the process.
  // Guarded by children_mu, taken inside the registry lock.
  std::mutex children_mu;
  std::unordered_set<HINTERNET> children;
};

// Gives the handle a value never used before in this process and makes it findable (and,
// below a root, one of the root's children).
HINTERNET Register(const std::shared_ptr<Handle> &h);
std::shared_ptr<Handle> Lookup(HINTERNET id);
void Unregister(HINTERNET id);

template <typename T>
std::shared_ptr<T> LookupAs(HINTERNET id, Kind kind) {
  std::shared_ptr<Handle> h = Lookup(id);
  if (!h || h->kind != kind || h->closed) return nullptr;
  return std::static_pointer_cast<T>(h);
}

// Sets this thread's last error and returns FALSE.
BOOL Fail(DWORD error);
// Calls the root's status callback for handle h (no layer lock is held while it runs).
void Notify(Handle *h, DWORD status, LPVOID info, DWORD length);
void NotifyCreated(Handle *h);
void NotifyClosing(Handle *h);
// Starts a thread owned by root; run receives the flag to set as it ends.
std::thread::id StartThread(Root *root, std::function<void(std::shared_ptr<std::atomic<bool>>)> run);

// ---- HTTP (wininet_http_posix.cpp) -------------------------------------------------------

// InternetConnectA for INTERNET_SERVICE_HTTP.
HINTERNET HttpConnect(const std::shared_ptr<Root> &root, LPCSTR host, INTERNET_PORT port,
                      LPCSTR user, LPCSTR password, DWORD_PTR context);
// InternetCloseHandle for the HTTP kinds (the handle is already marked closed).
BOOL HttpClose(const std::shared_ptr<Handle> &h);
// InternetSetOptionA for the credential options of HTTP handles.
BOOL HttpSetCredential(const std::shared_ptr<Handle> &h, DWORD option, LPVOID buffer,
                       DWORD length);

// ---- The FTP wire (wininet_wire_posix.cpp) -----------------------------------------------

// The reply text of the last FTP reply read on this thread, and the error it led to.
void SetLastResponse(DWORD error, const std::string &text);

// A connected TCP socket with its read buffer. Only the owning connection's thread reads,
// writes or closes it; other threads may only shut it down (to cancel blocked I/O).
struct Wire {
  int fd = -1;
  std::string inbuf;
};

// Connects to host:port within timeout_ms. 0 or a WinINet error.
DWORD WireConnect(const std::string &host, uint16_t port, int timeout_ms, int *fd);

// Sends everything within timeout_ms (per wait). 0, 12002, 12031 (reset or closed).
DWORD WireSend(int fd, const void *data, size_t length, int timeout_ms);

// One FTP reply (multi-line replies included) as its lines arrive: its code (-1 until the
// first line is in), and its lines so far joined by CR LF without the last line end.
struct ReplyReader {
  int code = -1;
  std::string text;
  std::string end;  // a multi-line reply's last-line prefix, such as "211 "
};

// Moves the whole lines at the front of `buffer` into `reader` until its reply is whole
// (kReplyWhole, the bytes behind it left in the buffer) or no whole line is left
// (kReplyPartial: call again once more bytes came). A line longer than 4 KB, more than 64 KB
// of reply, or a first line that does not begin with a three-digit code is kReplyBad. Reads
// nothing else, so any bytes a server sends can be tried on it alone.
enum ReplyFrame { kReplyWhole, kReplyPartial, kReplyBad };
ReplyFrame WireTakeReply(std::string *buffer, ReplyReader *reader);

// Reads one complete FTP reply from the wire (WireTakeReply). 0, 12002, or 12030 for a reply
// it refuses or a connection that ends first.
DWORD WireReadReply(Wire *wire, int timeout_ms, int *code, std::string *text);

// Reads until the peer closes, handing every piece to sink; a sink error stops the read
// at once with the (non-zero) error that it returns.
// 0, 12002, 12031, or the error the sink returned (non-zero).
template <typename Sink>
DWORD WireReadToEnd(int fd, int timeout_ms, Sink sink);

// The port from a 227 reply "(h1,h2,h3,h4,p1,p2)". False when malformed.
bool ParsePasvReply(const std::string &text, uint16_t *port);

// The peer's numeric address of a connected socket ("127.0.0.1").
std::string PeerAddress(int fd);

// One entry of a directory listing.
struct ListEntry {
  std::string name;
  bool directory = false;
  uint64_t size = 0;
};

// Parses a LIST reply body (Unix "ls -l" or DOS lines); lines of neither kind are skipped.
std::vector<ListEntry> ParseListing(const std::string &body);

// Windows wildcard matching, without regard to case: '*' any run, '?' one character, and a
// pattern ending in ".*" also matches names without an extension ("*.*" matches all).
bool WildcardMatch(const std::string &pattern, const std::string &name);

// Splits a find pattern into the directory to list ("" for the current one) and the name
// pattern ("*" when none).
void SplitFindPattern(const std::string &pattern, std::string *directory, std::string *name);

// Maps errno of a failed socket call to a WinINet error.
DWORD ErrnoToInternet(int err);

}  // namespace ncwin

#include "wininet_wire_posix.inl"
