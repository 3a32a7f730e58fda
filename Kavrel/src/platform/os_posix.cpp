// The OS layer over POSIX threads and files.
#include <errno.h>
#include <fcntl.h>
#include <dirent.h>
#include <ftw.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/os.h"
#include "platform/os_internal.h"

// ---- Locks ----------------------------------------------------------------------------------

// Recursive, like the critical sections the rest of the library was designed around.
struct OsLockImpl {
  std::recursive_mutex mutex;
};

int OsLockCreate(OsLock *lock) {
  if (!lock) return 3;
  *lock = new (std::nothrow) OsLockImpl;
  return *lock ? 0 : 2;
}

int OsLockDestroy(OsLock *lock) {
  if (!lock || !*lock) return 3;
  delete *lock;
  *lock = nullptr;
  return 0;
}

int OsLockEnter(OsLock lock) {
  lock->mutex.lock();  // throws (and so aborts through noexcept callers) only on misuse
  return 0;
}

int OsLockLeave(OsLock lock) {
  lock->mutex.unlock();
  return 0;
}

int OsLockTryEnter(OsLock lock) { return lock->mutex.try_lock() ? 0 : -1; }

// ---- Events ---------------------------------------------------------------------------------

// A waiter that returns may close the event at once, while its setter is still inside
// OsEventSet. The setter notifies after leaving the mutex (notifying under it makes the
// woken waiter block on the mutex again, a second hand-off per signal), so both hold a
// reference and the last one out frees the event.
struct OsEventImpl {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
  std::atomic<int> refs{1};  // the creator's, plus one per OsEventSet in progress
};

static void EventUnref(OsEventImpl *event) {
  if (event->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete event;
}

int OsEventCreate(OsEvent *event, int initially_signalled) {
  if (!event) return -1;
  *event = new (std::nothrow) OsEventImpl;
  if (!*event) return -1;
  (*event)->signalled = initially_signalled != 0;
  return 0;
}

int OsEventClose(OsEvent *event) {
  if (!event) return 0;
  if (*event) EventUnref(*event);
  *event = nullptr;
  return 0;
}

int OsEventSet(OsEvent event) {
  if (!event) return -1;
  event->refs.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = true;
  }
  event->cv.notify_one();  // auto-reset: one waiter takes the signal
  EventUnref(event);
  return 0;
}

int OsEventReset(OsEvent event) {
  if (!event) return -1;
  std::lock_guard<std::mutex> hold(event->mutex);
  event->signalled = false;
  return 0;
}

int OsWait(OsEvent event, uint32_t timeout_ms) {
  if (!event) return -1;
  std::unique_lock<std::mutex> hold(event->mutex);
  auto ready = [event] { return event->signalled; };
  if (timeout_ms == OS_WAIT_FOREVER) {
    event->cv.wait(hold, ready);
  } else if (!event->cv.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready)) {
    return -1;
  }
  event->signalled = false;
  return 0;
}

void OsSleep(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int OsYield(void) { return sched_yield() == 0 ? 0 : -1; }

// ---- Threads --------------------------------------------------------------------------------

// POSIX cannot create a thread suspended, so a new thread waits at a gate until it is
// resumed; once its entry function runs it can no longer be suspended.
struct OsThread {
  pthread_t handle{};
  std::atomic<bool> has_handle{false};
  std::atomic<uint32_t> id{0};
  uint32_t priority = 0;
  std::atomic<uint32_t> suspended{1};
  uint32_t stack_size = 0;
  void *arg = nullptr;
  void *reserved = nullptr;
  OsThreadEntry entry = nullptr;
  uint32_t exit_code = 0;
  std::atomic<uint32_t> refs{2};
  // Gate and end signalling.
  std::mutex mutex;
  std::condition_variable cv;
  bool gate_open = false;
  bool running = false;  // the entry function has begun
  bool ended = false;
};

namespace {

pthread_key_t g_self_key;
std::mutex g_tls_mutex;
int g_tls_users = 0;
std::atomic<bool> g_tls_ready{false};
pthread_t g_tls_owner;

void ReleaseRef(OsThread *thread) {
  if (thread->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete thread;
}

// Windows levels to nice values: the same order, with room below and above normal.
int NiceFor(int platform_priority) {
  switch (platform_priority) {
    case -15: return 19;
    case -2: return 5;
    case -1: return 2;
    case 0: return 0;
    case 1: return -2;
    case 2: return -5;
    default: return -10;
  }
}

int ApplyPriority(uint32_t tid, uint32_t priority) {
  if (tid == 0) return 0;
  return setpriority(PRIO_PROCESS, tid, NiceFor(OsPriorityMap(priority))) == 0 ? 0 : -1;
}

void *ThreadMain(void *raw) {
  OsThread *thread = static_cast<OsThread *>(raw);
  thread->id.store(static_cast<uint32_t>(syscall(SYS_gettid)));
  if (g_tls_ready) pthread_setspecific(g_self_key, thread);
  {
    std::unique_lock<std::mutex> hold(thread->mutex);
    thread->cv.wait(hold, [thread] { return thread->gate_open; });
    thread->running = true;
  }
  // A thread may lower its own nice value only with privilege; the priority is a hint.
  ApplyPriority(thread->id.load(), thread->priority);
  uint32_t code = thread->entry(thread->arg);
  {
    std::lock_guard<std::mutex> hold(thread->mutex);
    thread->exit_code = code;
    thread->ended = true;
  }
  thread->suspended.store(1);
  thread->cv.notify_all();
  if (g_tls_ready) pthread_setspecific(g_self_key, nullptr);
  ReleaseRef(thread);
  return nullptr;
}

void OpenGate(OsThread *thread) {
  {
    std::lock_guard<std::mutex> hold(thread->mutex);
    thread->gate_open = true;
  }
  thread->cv.notify_all();
}

// Waits for the end; OS_WAIT_FOREVER waits without limit. True when it ended.
bool WaitEnded(OsThread *thread, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(thread->mutex);
  auto done = [thread] { return thread->ended; };
  if (timeout_ms == OS_WAIT_FOREVER) {
    thread->cv.wait(hold, done);
    return true;
  }
  return thread->cv.wait_for(hold, std::chrono::milliseconds(timeout_ms), done);
}

bool IsSelf(OsThread *thread) {
  return thread->has_handle.load() && pthread_equal(thread->handle, pthread_self());
}

}  // namespace

int OsThreadCreate(OsThread **out, const OsThreadParams *params) {
  if (!out || !params || !params->entry) return 3;
  OsThread *thread = new (std::nothrow) OsThread;
  if (!thread) return 2;
  thread->priority = params->priority > 255 ? 255 : params->priority;
  thread->stack_size = params->stack_size;
  thread->arg = params->arg;
  thread->entry = params->entry;
  *out = thread;
  return 0;
}

int OsThreadStart(OsThread *thread) {
  if (!thread || thread->has_handle.load()) return -1;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // Stacks are committed lazily here, so a floor costs nothing and leaves sanitizers room.
  size_t stack = thread->stack_size < 512 * 1024 ? 512 * 1024 : thread->stack_size;
  pthread_attr_setstacksize(&attr, stack);
  int rc = pthread_create(&thread->handle, &attr, ThreadMain, thread);
  pthread_attr_destroy(&attr);
  if (rc != 0) return -1;
  thread->has_handle.store(true);
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) OpenGate(thread);
  return 0;
}

int OsThreadSuspend(OsThread *thread) {
  if (!thread || !thread->has_handle.load()) return -1;
  std::lock_guard<std::mutex> hold(thread->mutex);
  if (thread->running) return -1;  // POSIX has no safe way to stop a running thread
  uint32_t expected = 0;
  if (thread->suspended.compare_exchange_strong(expected, 1)) thread->gate_open = false;
  return 0;
}

int OsThreadResume(OsThread *thread) {
  if (!thread || !thread->has_handle.load()) return -1;
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) OpenGate(thread);
  return 0;
}

int OsThreadSetPriority(OsThread *thread, uint32_t priority) {
  if (!thread) return -1;
  thread->priority = priority > 255 ? 255 : priority;
  return ApplyPriority(thread->id.load(), thread->priority);
}

int OsThreadJoin(OsThread *thread, uint32_t timeout_ms, uint32_t *exit_code) {
  if (!thread || !thread->has_handle.load()) return 0;
  if (!WaitEnded(thread, timeout_ms)) return -1;
  if (exit_code) *exit_code = thread->exit_code;
  return 0;
}

int OsThreadEnded(const OsThread *thread) {
  OsThread *t = const_cast<OsThread *>(thread);
  std::lock_guard<std::mutex> hold(t->mutex);
  return t->ended ? 1 : 0;
}

int OsThreadStop(OsThread *thread, int bounded) {
  if (!thread || !thread->has_handle.load()) return -1;
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) OpenGate(thread);
  if (IsSelf(thread)) {
    pthread_detach(thread->handle);
  } else if (WaitEnded(thread, bounded ? 3000 : OS_WAIT_FOREVER)) {
    pthread_join(thread->handle, nullptr);
  } else {
    // Still running: leave it detached. Its own reference keeps the object alive until it
    // ends; nothing is freed under it.
    pthread_detach(thread->handle);
  }
  thread->suspended.store(1);
  thread->has_handle.store(false);
  return 0;
}

int OsThreadDestroy(OsThread **thread) {
  if (!thread || !*thread) return 3;
  OsThreadStop(*thread, 1);
  ReleaseRef(*thread);
  *thread = nullptr;
  return 0;
}

OsThread *OsThreadSelf(void) {
  if (!g_tls_ready) return nullptr;
  return static_cast<OsThread *>(pthread_getspecific(g_self_key));
}

int OsThreadLocalInit(void) {
  std::lock_guard<std::mutex> hold(g_tls_mutex);
  if (g_tls_users++ > 0) return 0;
  if (pthread_key_create(&g_self_key, nullptr) != 0) {
    g_tls_users = 0;
    return -1;
  }
  g_tls_owner = pthread_self();
  g_tls_ready = true;
  return 0;
}

int OsThreadLocalFree(void) {
  std::lock_guard<std::mutex> hold(g_tls_mutex);
  if (g_tls_users == 0) return -1;
  if (--g_tls_users > 0) return 0;
  g_tls_ready = false;
  pthread_key_delete(g_self_key);
  return 0;
}

// ---- Clocks ---------------------------------------------------------------------------------

int OsClockInit(void) { return 0; }

uint64_t OsMilliseconds(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void OsPlatformLocalTime(OsDate *date) {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  date->year = static_cast<uint32_t>(local.tm_year + 1900);
  date->month = static_cast<uint32_t>(local.tm_mon + 1);
  date->day_of_week = static_cast<uint32_t>(local.tm_wday);
  date->day = static_cast<uint32_t>(local.tm_mday);
  date->hour = static_cast<uint32_t>(local.tm_hour);
  date->minute = static_cast<uint32_t>(local.tm_min);
  date->second = static_cast<uint32_t>(local.tm_sec);
}

int OsPlatformSetLocalTime(const OsDate *date) {
  struct tm local {};
  local.tm_year = static_cast<int>(date->year) - 1900;
  local.tm_mon = static_cast<int>(date->month) - 1;
  local.tm_mday = static_cast<int>(date->day);
  local.tm_hour = static_cast<int>(date->hour);
  local.tm_min = static_cast<int>(date->minute);
  local.tm_sec = static_cast<int>(date->second);
  local.tm_isdst = -1;
  struct timeval tv {};
  tv.tv_sec = mktime(&local);
  return settimeofday(&tv, nullptr) == 0 ? 0 : -1;
}

// ---- Files and directories --------------------------------------------------------------------

static std::string TempRoot() {
  const char *dir = getenv("TMPDIR");
  std::string root = (dir && *dir) ? dir : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string OsMakePrivateTempDir(const char *prefix) {
  std::string templ = TempRoot() + "/" + (prefix ? prefix : "") + "XXXXXX";
  if (templ.size() >= PATH_MAX) return std::string();
  std::string buf = templ;
  if (!mkdtemp(&buf[0])) return std::string();  // created with mode 0700
  return buf;
}

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

int OsRemoveTree(const std::string &path) {
  if (path.empty()) return -1;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
  return nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0 ? 0 : -1;
}

int OsRemoveFile(const std::string &path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
  return -1;
}

int OsMakeDir(const std::string &path) {
  if (mkdir(path.c_str(), 0700) == 0) return 0;
  struct stat st;
  return (errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 0 : -1;
}

static std::string DirectoryOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int OsReplaceFile(const std::string &from, const std::string &to) {
  if (rename(from.c_str(), to.c_str()) != 0) return -1;
  // The rename reaches the disk only with its directory.
  int dir = open(DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return 0;
}

int OsFlushFile(void *stdio_file) {
  FILE *file = static_cast<FILE *>(stdio_file);
  if (!file || fflush(file) != 0) return -1;
  return fsync(fileno(file)) == 0 ? 0 : -1;
}

std::string OsTempFileBeside(const std::string &path) {
  std::string name = path;
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  name = dir + "." + base + ".tmpXXXXXX";
  int fd = mkostemp(&name[0], O_CLOEXEC);
  if (fd < 0) return std::string();
  close(fd);
  return name;
}

OsPathKind OsPathKindOf(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return OS_PATH_NONE;
  if (S_ISREG(st.st_mode)) return OS_PATH_FILE;
  return S_ISDIR(st.st_mode) ? OS_PATH_DIR : OS_PATH_OTHER;
}

int64_t OsFileSize(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

FILE *OsCreateFileNoFollow(const std::string &path, int *refused) {
  int dummy = 0;
  if (!refused) refused = &dummy;
  *refused = 0;
  // Non-blocking so that a pipe without a reader fails at once instead of hanging; not
  // truncating until the file is known to be a regular file.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    *refused = (errno == ELOOP || errno == ENXIO) ? 1 : 0;
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *refused = 1;
    close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  FILE *file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

int OsSeekFile(FILE *file, uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : -1;
}

// ---- Directory enumeration --------------------------------------------------------------------

struct OsDirImpl {
  DIR *dir = nullptr;
};

int OsDirOpen(const std::string &path, OsDir *dir) {
  if (!dir) return -1;
  *dir = nullptr;
  DIR *handle = opendir(path.c_str());
  if (!handle) return -1;
  *dir = new (std::nothrow) OsDirImpl;
  if (!*dir) {
    closedir(handle);
    return -1;
  }
  (*dir)->dir = handle;
  return 0;
}

static int EntryIsDirectory(DIR *dir, const struct dirent *entry) {
  if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR ? 1 : 0;
  // Some file systems leave the type to a separate look-up.
  struct stat st;
  if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

int OsDirRead(OsDir dir, OsDirEntry *entry) {
  if (!dir || !entry) return -1;
  for (;;) {
    errno = 0;
    struct dirent *next = readdir(dir->dir);
    if (!next) return errno == 0 ? 0 : -1;
    size_t length = strlen(next->d_name);
    if (length >= sizeof entry->name) continue;
    memcpy(entry->name, next->d_name, length + 1);
    entry->is_directory = EntryIsDirectory(dir->dir, next);
    return 1;
  }
}

int OsDirRewind(OsDir dir) {
  if (!dir) return -1;
  rewinddir(dir->dir);
  return 0;
}

void OsDirClose(OsDir *dir) {
  if (!dir || !*dir) return;
  closedir((*dir)->dir);
  delete *dir;
  *dir = nullptr;
}

// ---- Cross-process lock -----------------------------------------------------------------------

struct OsProcessLockImpl {
  int fd = -1;
};

int OsProcessLockAcquire(const char *, const std::string &lock_file, uint32_t timeout_ms,
                         OsProcessLock *lock) {
  if (!lock) return -1;
  *lock = nullptr;
  int fd = open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  uint64_t deadline = OsMilliseconds() + timeout_ms;
  // flock has no time-out of its own: poll, which also keeps the wait interruptible.
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || OsMilliseconds() >= deadline) {
      close(fd);
      return -1;
    }
    OsSleep(10);
  }
  OsProcessLockImpl *impl = new (std::nothrow) OsProcessLockImpl;
  if (!impl) {
    close(fd);
    return -1;
  }
  impl->fd = fd;
  *lock = impl;
  return 0;
}

void OsProcessLockRelease(OsProcessLock *lock) {
  if (!lock || !*lock) return;
  flock((*lock)->fd, LOCK_UN);
  close((*lock)->fd);
  delete *lock;
  *lock = nullptr;
}

// ---- Diagnostics and sockets ------------------------------------------------------------------

void OsDebugOutput(const char *text) {
  if (text && getenv("KAVREL_DEBUG_OUTPUT")) fputs(text, stderr);
}

int OsSocketsStart(void) { return 0; }
void OsSocketsStop(void) {}
