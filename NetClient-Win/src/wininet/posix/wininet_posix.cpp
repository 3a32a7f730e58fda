// The POSIX WinINet layer: handles, status notifications, asynchronous completions, and the
// FTP operations that the network client issues (see nc_wininet.h for the scope). The HTTP
// handles live in wininet_http_posix.cpp on the same registry, callbacks and threads.
//
// Each FTP connection handle owns one thread that runs its operations in order; that
// thread delivers their completions once the operation has given the wire back. Locks: the
// registry lock (with a root's children lock inside it, and nothing else), a root's callback
// lock and a connection's lock (mu) are leaves, each held only for a few statements; the
// wire is an ownership flag under mu, not a lock held across a callback wait. No layer lock
// is held while the status callback runs.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <unordered_map>
#include <memory>
#include <mutex>
#include <thread>

#include "wininet_posix_internal.h"

namespace ncwin {

thread_local DWORD t_last_error = 0;
thread_local int t_in_callback = 0;

std::mutex g_registry_mu;
std::unordered_map<HINTERNET, std::shared_ptr<Handle>> g_registry;
uintptr_t g_next_id = 0x1000;


namespace {

thread_local DWORD t_response_error = 0;
thread_local std::string t_response;
thread_local bool t_in_task = false;

struct Connection;

struct File : Handle {
  File() : Handle(Kind::File) {}
  std::shared_ptr<Connection> conn;
  int data = -1;  // guarded by conn->mu for shutdown, used by the connection's thread
  bool finished = false;
  std::atomic<int> pending_writes{0};  // queued or running writes
};

struct Find : Handle {
  Find() : Handle(Kind::Find) {}
  std::mutex mu;
  std::vector<ListEntry> entries;
  size_t next = 0;
};

struct Connection : Handle, std::enable_shared_from_this<Connection> {
  Connection() : Handle(Kind::Connection) {}
  std::string host, user, password;
  uint16_t port = 21;
  std::mutex mu;  // guards the queue, the stop flag, the wire's owner and the socket numbers
  std::condition_variable cv;
  // The wire (control connection and data connections) has one user at a time: the
  // connection's thread running an operation, or a thread closing an upload's file.
  std::condition_variable wire_cv;
  bool wire_busy = false;
  std::thread::id wire_owner;
  int wire_depth = 0;
  std::deque<std::function<void()>> tasks;
  bool stop = false;
  bool running = false;
  bool exited = false;  // the thread has ended: queued work would never run
  std::thread::id worker;
  Wire wire;
  int data = -1;  // the data connection in use, for cancellation
};

struct Deferred {
  std::shared_ptr<Handle> handle;
  INTERNET_ASYNC_RESULT result;
};
thread_local std::vector<Deferred> t_deferred;

// Delivers an operation's completion, unless the handle it was issued on has been closed:
// a cancelled operation reports nothing. Inside an operation the delivery waits until the
// operation has let go of the wire, so that the callback may close handles at once.
void Complete(Handle *h, Connection *conn, DWORD_PTR result, DWORD error) {
  if (h->closed || conn->closed) return;
  INTERNET_ASYNC_RESULT r = {result, error};
  if (t_in_task) {
    std::shared_ptr<Handle> keep = Lookup(h->id);
    if (keep) t_deferred.push_back({keep, r});
    return;
  }
  Notify(h, INTERNET_STATUS_REQUEST_COMPLETE, &r, sizeof r);
}

void DeliverDeferred(Connection *conn) {
  std::vector<Deferred> due;
  due.swap(t_deferred);
  for (Deferred &d : due) {
    if (d.handle->closed || conn->closed) continue;
    Notify(d.handle.get(), INTERNET_STATUS_REQUEST_COMPLETE, &d.result, sizeof d.result);
  }
}

// ---- The connection's thread ------------------------------------------------------------

// Takes the wire, waiting up to timeout_ms (negative: without limit). Re-entrant.
bool AcquireWire(Connection *c, int timeout_ms) {
  std::unique_lock<std::mutex> lock(c->mu);
  std::thread::id self = std::this_thread::get_id();
  if (c->wire_busy && c->wire_owner == self) {
    ++c->wire_depth;
    return true;
  }
  auto free = [c] { return !c->wire_busy; };
  if (timeout_ms < 0) {
    c->wire_cv.wait(lock, free);
  } else if (!c->wire_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), free)) {
    return false;
  }
  c->wire_busy = true;
  c->wire_owner = self;
  c->wire_depth = 1;
  return true;
}

void ReleaseWire(Connection *c) {
  std::lock_guard<std::mutex> lock(c->mu);
  if (--c->wire_depth > 0) return;
  c->wire_busy = false;
  c->wire_owner = std::thread::id();
  c->wire_cv.notify_all();
}

void Worker(std::shared_ptr<Connection> conn, std::shared_ptr<std::atomic<bool>> done) {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(conn->mu);
      conn->cv.wait(lock, [&] { return conn->stop || !conn->tasks.empty(); });
      if (conn->tasks.empty()) break;
      task = std::move(conn->tasks.front());
      conn->tasks.pop_front();
      conn->running = true;
    }
    AcquireWire(conn.get(), -1);
    t_in_task = true;
    task();
    t_in_task = false;
    ReleaseWire(conn.get());
    {
      std::lock_guard<std::mutex> lock(conn->mu);
      conn->running = false;
    }
    DeliverDeferred(conn.get());
    task = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(conn->mu);
    if (conn->wire.fd >= 0) close(conn->wire.fd);
    conn->wire.fd = -1;
    conn->exited = true;
  }
  NotifyClosing(conn.get());
  *done = true;
}

bool Queue(Connection *conn, std::function<void()> task) {
  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->exited) return false;
  conn->tasks.push_back(std::move(task));
  conn->cv.notify_one();
  return true;
}

BOOL Pending() { return Fail(ERROR_IO_PENDING); }

// ---- FTP steps, run on the connection's thread --------------------------------------

void NoteReply(DWORD error, const std::string &text) { SetLastResponse(error, text); }

DWORD Reply(Connection *c, int *code, std::string *text = nullptr) {
  Notify(c, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
  std::string reply;
  DWORD err = WireReadReply(&c->wire, c->timeout_ms, code, &reply);
  Notify(c, INTERNET_STATUS_RESPONSE_RECEIVED, nullptr, 0);
  if (err != 0) return c->closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
  NoteReply(0, reply);
  if (text != nullptr) *text = reply;
  return 0;
}

DWORD Command(Connection *c, const std::string &line, int *code, std::string *text = nullptr) {
  if (c->wire.fd < 0) return ERROR_INTERNET_CONNECTION_ABORTED;
  std::string out = line + "\r\n";
  DWORD err = WireSend(c->wire.fd, out.data(), out.size(), c->timeout_ms);
  if (err != 0) return c->closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
  return Reply(c, code, text);
}

// A command whose reply must be 2xx; a refusal is an extended error with the reply kept.
DWORD Command2xx(Connection *c, const std::string &line) {
  int code = 0;
  DWORD err = Command(c, line, &code);
  if (err != 0) return err;
  return code / 100 == 2 ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD Login(Connection *c) {
  int fd = -1;
  DWORD err = WireConnect(c->host, c->port, c->timeout_ms, &fd);
  if (err != 0) return err;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    c->wire.fd = fd;
    if (c->closed) shutdown(fd, SHUT_RDWR);
  }
  int code = 0;
  do {
    err = Reply(c, &code);
  } while (err == 0 && code / 100 == 1);
  if (err != 0) return err;
  if (code / 100 != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  err = Command(c, "USER " + c->user, &code);
  if (err != 0) return err;
  if (code / 100 == 2) return 0;
  if (code != 331 && code != 332) {
    return code == 530 ? ERROR_INTERNET_INCORRECT_USER_NAME : ERROR_INTERNET_EXTENDED_ERROR;
  }
  err = Command(c, "PASS " + c->password, &code);
  if (err != 0) return err;
  if (code / 100 == 2) return 0;
  return code == 530 ? ERROR_INTERNET_INCORRECT_PASSWORD : ERROR_INTERNET_EXTENDED_ERROR;
}

void SetData(Connection *c, int fd) {
  std::lock_guard<std::mutex> lock(c->mu);
  c->data = fd;
  if (fd >= 0 && c->closed) shutdown(fd, SHUT_RDWR);
}

void CloseData(Connection *c, int *fd) {
  std::lock_guard<std::mutex> lock(c->mu);
  if (*fd >= 0) close(*fd);
  if (c->data == *fd) c->data = -1;
  *fd = -1;
}

// TYPE, PASV, the data connection, then the transfer command with its preliminary reply.
DWORD OpenTransfer(Connection *c, bool ascii, const std::string &command, int *data) {
  DWORD err = Command2xx(c, ascii ? "TYPE A" : "TYPE I");
  if (err != 0) return err;
  int code = 0;
  std::string text;
  err = Command(c, "PASV", &code, &text);
  if (err != 0) return err;
  if (code != 227) return ERROR_INTERNET_EXTENDED_ERROR;
  uint16_t port = 0;
  if (!ParsePasvReply(text, &port)) return ERROR_INTERNET_CONNECTION_ABORTED;
  err = WireConnect(PeerAddress(c->wire.fd), port, c->timeout_ms, data);
  if (err != 0) return err;
  SetData(c, *data);
  err = Command(c, command, &code);
  if (err == 0 && code / 100 != 1) err = ERROR_INTERNET_EXTENDED_ERROR;
  if (err != 0) CloseData(c, data);
  return err;
}

// The final reply of a transfer (226 or 250).
DWORD FinishTransfer(Connection *c) {
  int code = 0;
  DWORD err = Reply(c, &code);
  if (err != 0) return err;
  return code / 100 == 2 ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FetchListing(Connection *c, const std::string &directory, std::string *body) {
  int data = -1;
  DWORD err = OpenTransfer(c, true, directory.empty() ? "LIST" : "LIST " + directory, &data);
  if (err != 0) return err;
  const size_t limit = 16u << 20;
  err = WireReadToEnd(data, c->timeout_ms, [&](const char *p, size_t n) -> DWORD {
    if (body->size() + n > limit) return ERROR_INTERNET_CONNECTION_ABORTED;
    body->append(p, n);
    return 0;
  });
  CloseData(c, &data);
  if (err != 0) return c->closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
  return FinishTransfer(c);
}

void FillFindData(const ListEntry &e, WIN32_FIND_DATAA *data) {
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = e.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  data->nFileSizeLow = static_cast<DWORD>(e.size);
  data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
  snprintf(data->cFileName, sizeof data->cFileName, "%s", e.name.c_str());
}

DWORD Download(Connection *c, const std::string &remote, const std::string &local, bool ascii) {
  FILE *out = fopen(local.c_str(), "wb");
  if (out == nullptr) return ERROR_FILE_NOT_FOUND;
  int data = -1;
  DWORD err = OpenTransfer(c, ascii, "RETR " + remote, &data);
  if (err == 0) {
    err = WireReadToEnd(data, c->timeout_ms, [&](const char *p, size_t n) -> DWORD {
      return fwrite(p, 1, n, out) == n ? 0 : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    });
    CloseData(c, &data);
    if (err != 0 && c->closed) err = ERROR_INTERNET_OPERATION_CANCELLED;
    if (err == 0) err = FinishTransfer(c);
  }
  if (fclose(out) != 0 && err == 0) err = ERROR_NOT_ENOUGH_MEMORY;
  if (err != 0) remove(local.c_str());  // never leave a partial file as if complete
  return err;
}

// Closes an upload's data connection and reads the final reply. The caller holds the wire.
DWORD FinishUpload(File *f) {
  Connection *c = f->conn.get();
  if (f->finished) return 0;
  f->finished = true;
  CloseData(c, &f->data);
  if (c->closed) return ERROR_INTERNET_OPERATION_CANCELLED;
  return FinishTransfer(c);
}

std::shared_ptr<Connection> NewConnection(const std::shared_ptr<Root> &root) {
  auto conn = std::make_shared<Connection>();
  conn->root = root;
  conn->timeout_ms = root->timeout_ms.load();
  return conn;
}

void StartWorker(const std::shared_ptr<Connection> &conn) {
  std::lock_guard<std::mutex> lock(conn->mu);
  conn->worker = StartThread(conn->root.get(), [conn](std::shared_ptr<std::atomic<bool>> done) {
    Worker(conn, done);
  });
}

void CloseConnection(Connection *c) {
  std::lock_guard<std::mutex> lock(c->mu);
  c->stop = true;
  if (c->running) {
    if (c->wire.fd >= 0) shutdown(c->wire.fd, SHUT_RDWR);
  }
  if (c->data >= 0) shutdown(c->data, SHUT_RDWR);
  c->cv.notify_all();
}

BOOL CloseFile(const std::shared_ptr<File> &f) {
  Connection *c = f->conn.get();
  bool on_worker;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    on_worker = c->worker == std::this_thread::get_id();
  }
  DWORD err = 0;
  // With no write queued or running the transfer is complete: take the wire (the
  // connection's thread may still be finishing the last write) and confirm it now, so the
  // caller learns whether the file arrived.
  bool idle = f->pending_writes == 0 && !c->closed;
  if ((on_worker || idle) && AcquireWire(c, on_worker ? -1 : c->timeout_ms.load())) {
    err = FinishUpload(f.get());
    ReleaseWire(c);
  } else {
    // An operation is running (a write in flight): cancel it; the data connection is
    // closed when its turn comes.
    {
      std::lock_guard<std::mutex> lock(c->mu);
      if (f->data >= 0) shutdown(f->data, SHUT_RDWR);
    }
    std::shared_ptr<File> keep = f;
    if (!Queue(c, [keep] { FinishUpload(keep.get()); })) CloseData(c, &f->data);
  }
  NotifyClosing(f.get());
  return err == 0 ? TRUE : Fail(err);
}

BOOL CloseRoot(const std::shared_ptr<Root> &root) {
  std::vector<HINTERNET> children;
  {
    std::lock_guard<std::mutex> lock(root->children_mu);
    children.assign(root->children.begin(), root->children.end());
  }
  for (HINTERNET child : children) InternetCloseHandle(child);
  std::vector<Root::WorkerThread> threads;
  {
    std::lock_guard<std::mutex> lock(root->threads_mu);
    threads.swap(root->threads);
  }
  for (auto &t : threads) {
    if (t.thread.get_id() == std::this_thread::get_id()) {
      t.thread.detach();
    } else {
      t.thread.join();
    }
  }
  return TRUE;
}

}  // namespace

HINTERNET Register(const std::shared_ptr<Handle> &h) {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  g_next_id += 4;
  h->id = reinterpret_cast<HINTERNET>(g_next_id);
  g_registry[h->id] = h;
  if (h->root) {
    std::lock_guard<std::mutex> children(h->root->children_mu);
    h->root->children.insert(h->id);
  }
  return h->id;
}

std::shared_ptr<Handle> Lookup(HINTERNET id) {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  auto it = g_registry.find(id);
  return it == g_registry.end() ? nullptr : it->second;
}

void Unregister(HINTERNET id) {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  auto it = g_registry.find(id);
  if (it == g_registry.end()) return;
  if (Root *root = it->second->root.get()) {
    std::lock_guard<std::mutex> children(root->children_mu);
    root->children.erase(id);
  }
  g_registry.erase(it);
}

BOOL Fail(DWORD error) {
  t_last_error = error;
  return FALSE;
}

void Notify(Handle *h, DWORD status, LPVOID info, DWORD length) {
  Root *root = h->root.get();
  if (root == nullptr || h->callback_removed) return;
  INTERNET_STATUS_CALLBACK cb;
  {
    std::lock_guard<std::mutex> lock(root->cb_mu);
    cb = root->callback;
    if (cb == nullptr) return;
    ++root->in_flight;
  }
  ++t_in_callback;
  cb(h->id, h->context, status, info, length);
  --t_in_callback;
  std::lock_guard<std::mutex> lock(root->cb_mu);
  if (--root->in_flight == 0) root->cb_cv.notify_all();
}

void NotifyCreated(Handle *h) {
  INTERNET_ASYNC_RESULT r = {reinterpret_cast<DWORD_PTR>(h->id), 0};
  Notify(h, INTERNET_STATUS_HANDLE_CREATED, &r, sizeof r);
}

void NotifyClosing(Handle *h) {
  HINTERNET id = h->id;
  Notify(h, INTERNET_STATUS_HANDLE_CLOSING, &id, sizeof id);
}

std::thread::id StartThread(Root *root, std::function<void(std::shared_ptr<std::atomic<bool>>)> run) {
  std::lock_guard<std::mutex> lock(root->threads_mu);
  for (auto it = root->threads.begin(); it != root->threads.end();) {
    if (*it->done && it->thread.get_id() != std::this_thread::get_id()) {
      it->thread.join();
      it = root->threads.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  root->threads.push_back({std::thread(run, done), done});
  return root->threads.back().thread.get_id();
}

void SetLastResponse(DWORD error, const std::string &text) {
  t_response = text;
  t_response_error = error;
}

}  // namespace ncwin

using namespace ncwin;

DWORD GetLastError(void) { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }
void OutputDebugStringA(LPCSTR) {}  // no debugger channel on POSIX

HINTERNET InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR bypass, DWORD) {
  auto root = std::make_shared<Root>();
  root->agent = agent != nullptr ? agent : "";
  if (access_type == INTERNET_OPEN_TYPE_PROXY && proxy != nullptr) {
    root->proxy = proxy;
    root->bypass = bypass != nullptr ? bypass : "";
  }
  return Register(root);
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle,
                                                   INTERNET_STATUS_CALLBACK callback) {
  std::shared_ptr<Handle> h = Lookup(handle);
  if (!h) {
    Fail(ERROR_INVALID_HANDLE);
    return INTERNET_INVALID_STATUS_CALLBACK;
  }
  if (h->kind != Kind::Root) {
    INTERNET_STATUS_CALLBACK previous = nullptr;
    {
      std::lock_guard<std::mutex> lock(h->root->cb_mu);
      previous = h->callback_removed ? nullptr : h->root->callback;
    }
    h->callback_removed = callback == nullptr;
    return previous;
  }
  auto root = std::static_pointer_cast<Root>(h);
  std::unique_lock<std::mutex> lock(root->cb_mu);
  INTERNET_STATUS_CALLBACK previous = root->callback;
  root->callback = callback;
  // Once the callback is removed, none of its calls may still be running (unless this very
  // thread is inside one), so the caller may free what the callback uses.
  if (callback == nullptr && t_in_callback == 0) {
    root->cb_cv.wait(lock, [&] { return root->in_flight == 0; });
  }
  return previous;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<Handle> h = Lookup(handle);
  if (!h || h->closed.exchange(true)) return Fail(ERROR_INVALID_HANDLE);
  Unregister(handle);
  switch (h->kind) {
    case Kind::Root:
      return CloseRoot(std::static_pointer_cast<Root>(h));
    case Kind::Connection:
      CloseConnection(static_cast<Connection *>(h.get()));
      return TRUE;  // HANDLE_CLOSING comes from the connection's thread as it ends
    case Kind::File:
      return CloseFile(std::static_pointer_cast<File>(h));
    case Kind::Find:
      NotifyClosing(h.get());
      return TRUE;
    case Kind::HttpSession:
    case Kind::HttpRequest:
      return HttpClose(h);
  }
  return TRUE;
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  if (handle == nullptr) {
    // Process-wide settings: the connection limits have no meaning here.
    return option == INTERNET_OPTION_MAX_CONNS_PER_SERVER ||
                   option == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER
               ? TRUE
               : Fail(ERROR_INVALID_PARAMETER);
  }
  std::shared_ptr<Handle> h = Lookup(handle);
  if (!h || h->closed) return Fail(ERROR_INVALID_HANDLE);
  if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_RECEIVE_TIMEOUT: {
      if (length < sizeof(DWORD)) return Fail(ERROR_INVALID_PARAMETER);
      DWORD ms = *static_cast<DWORD *>(buffer);
      h->timeout_ms = ms == 0 || ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
      return TRUE;
    }
    case INTERNET_OPTION_PROXY: {
      if (h->kind != Kind::Root || length < sizeof(INTERNET_PROXY_INFO)) {
        return Fail(ERROR_INVALID_PARAMETER);
      }
      auto *info = static_cast<INTERNET_PROXY_INFO *>(buffer);
      Root *root = static_cast<Root *>(h.get());
      std::lock_guard<std::mutex> lock(root->proxy_mu);
      root->proxy = info->lpszProxy != nullptr ? info->lpszProxy : "";
      root->bypass = info->lpszProxyBypass != nullptr ? info->lpszProxyBypass : "";
      return TRUE;
    }
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD:
      return HttpSetCredential(h, option, buffer, length);
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length) {
  if (error == nullptr || length == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string &text = t_response;
  *error = t_response_error;
  if (buffer == nullptr || *length <= text.size()) {
    *length = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

HINTERNET InternetConnectA(HINTERNET root_handle, LPCSTR host, INTERNET_PORT port, LPCSTR user,
                           LPCSTR password, DWORD service, DWORD, DWORD_PTR context) {
  auto root = LookupAs<Root>(root_handle, Kind::Root);
  if (!root) return Fail(ERROR_INVALID_HANDLE), nullptr;
  if (service == INTERNET_SERVICE_HTTP && host != nullptr) {
    return HttpConnect(root, host, port, user, password, context);
  }
  if (service != INTERNET_SERVICE_FTP || host == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER), nullptr;
  }
  std::shared_ptr<Connection> conn = NewConnection(root);
  conn->host = host;
  conn->port = port != 0 ? port : 21;
  conn->user = user != nullptr && *user != '\0' ? user : "anonymous";
  conn->password = password != nullptr ? password : "";
  conn->context = context;
  Register(conn);
  // The handle is announced before the login starts, so that options set on it in the
  // notification (the time-out) apply to the whole connection.
  NotifyCreated(conn.get());
  StartWorker(conn);
  Connection *c = conn.get();
  Queue(c, [c] {
    if (c->closed) return;
    DWORD err = Login(c);
    if (err != 0) t_response_error = err;
    Complete(c, c, err == 0 ? reinterpret_cast<DWORD_PTR>(c->id) : 0, err);
  });
  Pending();
  return nullptr;
}

BOOL FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD, LPCSTR command, DWORD_PTR,
                 HINTERNET *command_handle) {
  auto conn = LookupAs<Connection>(connection, Kind::Connection);
  if (!conn) return Fail(ERROR_INVALID_HANDLE);
  if (expect_response || command == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (command_handle != nullptr) *command_handle = nullptr;
  Connection *c = conn.get();
  std::string line = std::string(command) + "\r\n";
  // Sent even when the connection is being closed right after: a farewell such as QUIT
  // goes out before the socket is closed, unless an operation had to be cut short.
  Queue(c, [c, line] {
    if (c->wire.fd >= 0) WireSend(c->wire.fd, line.data(), line.size(), 1000);
  });
  return TRUE;
}

HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR name, DWORD access, DWORD flags,
                       DWORD_PTR context) {
  auto conn = LookupAs<Connection>(connection, Kind::Connection);
  if (!conn) return Fail(ERROR_INVALID_HANDLE), nullptr;
  if (access != GENERIC_WRITE || name == nullptr) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  std::string remote = name;
  bool ascii = (flags & 3u) == FTP_TRANSFER_TYPE_ASCII;
  Connection *c = conn.get();
  Queue(c, [conn, remote, ascii, context] {
    Connection *c = conn.get();
    if (c->closed) return;
    int data = -1;
    DWORD err = OpenTransfer(c, ascii, "STOR " + remote, &data);
    if (err != 0) return Complete(c, c, 0, err);
    if (c->closed) return CloseData(c, &data);
    auto file = std::make_shared<File>();
    file->root = c->root;
    file->conn = conn;
    file->context = context;
    file->timeout_ms = c->timeout_ms.load();
    {
      std::lock_guard<std::mutex> lock(c->mu);
      file->data = data;
    }
    Register(file);
    NotifyCreated(file.get());
    Complete(c, c, reinterpret_cast<DWORD_PTR>(file->id), 0);
  });
  Pending();
  return nullptr;
}

BOOL InternetWriteFile(HINTERNET file_handle, LPCVOID buffer, DWORD length, LPDWORD written) {
  auto file = LookupAs<File>(file_handle, Kind::File);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (buffer == nullptr && length > 0) return Fail(ERROR_INVALID_PARAMETER);
  if (written != nullptr) *written = 0;
  auto bytes = std::make_shared<std::string>(static_cast<const char *>(buffer), length);
  ++file->pending_writes;
  Queue(file->conn.get(), [file, bytes] {
    Connection *c = file->conn.get();
    struct Done {
      File *f;
      ~Done() { --f->pending_writes; }
    } done{file.get()};
    if (file->closed || c->closed || file->finished) return;
    DWORD err = WireSend(file->data, bytes->data(), bytes->size(), file->timeout_ms);
    if (err != 0) {
      if (file->closed || c->closed) return;
      return Complete(file.get(), c, 0, err);
    }
    Complete(file.get(), c, TRUE, static_cast<DWORD>(bytes->size()));
  });
  return Pending();
}

BOOL FtpGetFileA(HINTERNET connection, LPCSTR remote, LPCSTR local, BOOL fail_if_exists, DWORD,
                 DWORD flags, DWORD_PTR context) {
  auto conn = LookupAs<Connection>(connection, Kind::Connection);
  if (!conn) return Fail(ERROR_INVALID_HANDLE);
  if (remote == nullptr || local == nullptr || fail_if_exists) return Fail(ERROR_INVALID_PARAMETER);
  std::string r = remote, l = local;
  bool ascii = (flags & 3u) == FTP_TRANSFER_TYPE_ASCII;
  Connection *c = conn.get();
  (void)context;  // completions carry the connection's context, as for the other calls
  Queue(c, [c, r, l, ascii] {
    if (c->closed) return;
    DWORD err = Download(c, r, l, ascii);
    Complete(c, c, err == 0, err);
  });
  return Pending();
}

namespace {

BOOL SimpleCommand(HINTERNET connection, LPCSTR argument, const char *verb) {
  auto conn = LookupAs<Connection>(connection, Kind::Connection);
  if (!conn) return Fail(ERROR_INVALID_HANDLE);
  if (argument == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string line = std::string(verb) + " " + argument;
  Connection *c = conn.get();
  Queue(c, [c, line] {
    if (c->closed) return;
    DWORD err = Command2xx(c, line);
    Complete(c, c, err == 0, err);
  });
  return Pending();
}

}  // namespace

BOOL FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory) {
  return SimpleCommand(connection, directory, "MKD");
}
BOOL FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory) {
  return SimpleCommand(connection, directory, "CWD");
}
BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR name) {
  return SimpleCommand(connection, name, "DELE");
}
BOOL FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory) {
  return SimpleCommand(connection, directory, "RMD");
}

HINTERNET FtpFindFirstFileA(HINTERNET connection, LPCSTR pattern, LPWIN32_FIND_DATAA data,
                            DWORD, DWORD_PTR context) {
  auto conn = LookupAs<Connection>(connection, Kind::Connection);
  if (!conn) return Fail(ERROR_INVALID_HANDLE), nullptr;
  std::string directory, name;
  SplitFindPattern(pattern != nullptr ? pattern : "*", &directory, &name);
  Connection *c = conn.get();
  Queue(c, [c, directory, name, data, context] {
    if (c->closed) return;
    std::string body;
    DWORD err = FetchListing(c, directory, &body);
    if (err != 0) return Complete(c, c, 0, err);
    auto find = std::make_shared<Find>();
    for (const ListEntry &e : ParseListing(body)) {
      if (WildcardMatch(name, e.name)) find->entries.push_back(e);
    }
    if (find->entries.empty()) return Complete(c, c, 0, ERROR_NO_MORE_FILES);
    find->root = c->root;
    find->context = context;
    find->next = 1;
    if (data != nullptr) FillFindData(find->entries[0], data);
    Register(find);
    NotifyCreated(find.get());
    Complete(c, c, reinterpret_cast<DWORD_PTR>(find->id), 0);
  });
  Pending();
  return nullptr;
}

BOOL InternetFindNextFileA(HINTERNET find_handle, LPVOID data) {
  auto find = LookupAs<Find>(find_handle, Kind::Find);
  if (!find) return Fail(ERROR_INVALID_HANDLE);
  if (data == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(find->mu);
  if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  FillFindData(find->entries[find->next++], static_cast<WIN32_FIND_DATAA *>(data));
  return TRUE;
}
