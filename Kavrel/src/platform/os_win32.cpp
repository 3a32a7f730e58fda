// The OS layer over Win32 kernel objects.
#include <winsock2.h>
#include <windows.h>
#include <sddl.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>
#include <vector>

#include "platform/os.h"
#include "platform/os_internal.h"

// ---- Locks ----------------------------------------------------------------------------------

struct OsLockImpl {
  CRITICAL_SECTION section;
};

int OsLockCreate(OsLock *lock) {
  if (!lock) return 3;
  *lock = new (std::nothrow) OsLockImpl;
  if (!*lock) return 2;
  InitializeCriticalSection(&(*lock)->section);
  return 0;
}

int OsLockDestroy(OsLock *lock) {
  if (!lock || !*lock) return 3;
  DeleteCriticalSection(&(*lock)->section);
  delete *lock;
  *lock = nullptr;
  return 0;
}

int OsLockEnter(OsLock lock) {
  EnterCriticalSection(&lock->section);
  return 0;
}

int OsLockLeave(OsLock lock) {
  LeaveCriticalSection(&lock->section);
  return 0;
}

int OsLockTryEnter(OsLock lock) { return TryEnterCriticalSection(&lock->section) ? 0 : -1; }

// ---- Events ---------------------------------------------------------------------------------

struct OsEventImpl {
  HANDLE handle;
};

int OsEventCreate(OsEvent *event, int initially_signalled) {
  if (!event) return -1;
  HANDLE h = CreateEventA(nullptr, FALSE, initially_signalled ? TRUE : FALSE, nullptr);
  if (!h) return -1;
  *event = new (std::nothrow) OsEventImpl{h};
  if (!*event) {
    CloseHandle(h);
    return -1;
  }
  return 0;
}

int OsEventClose(OsEvent *event) {
  if (!event || !*event) return 0;
  CloseHandle((*event)->handle);
  delete *event;
  *event = nullptr;
  return 0;
}

int OsEventSet(OsEvent event) { return event && SetEvent(event->handle) ? 0 : -1; }
int OsEventReset(OsEvent event) { return event && ResetEvent(event->handle) ? 0 : -1; }

int OsWait(OsEvent event, uint32_t timeout_ms) {
  if (!event) return -1;
  DWORD wait = timeout_ms == OS_WAIT_FOREVER ? INFINITE : timeout_ms;
  return WaitForSingleObject(event->handle, wait) == WAIT_OBJECT_0 ? 0 : -1;
}

void OsSleep(uint32_t ms) { Sleep(ms); }
int OsYield(void) { return SwitchToThread() ? 0 : -1; }

// ---- Threads --------------------------------------------------------------------------------

struct OsThread {
  HANDLE handle = nullptr;
  std::atomic<uint32_t> id{0};
  uint32_t priority = 0;
  std::atomic<uint32_t> suspended{1};
  uint32_t stack_size = 0;
  void *arg = nullptr;
  void *reserved = nullptr;
  OsThreadEntry entry = nullptr;
  uint32_t exit_code = 0;
  std::atomic<uint32_t> refs{2};
  std::atomic<bool> ended{false};
};

namespace {

std::atomic<DWORD> g_tls_index{TLS_OUT_OF_INDEXES};
CRITICAL_SECTION *TlsGuard() {
  static CRITICAL_SECTION section;
  static bool ready = [] {
    InitializeCriticalSection(&section);
    return true;
  }();
  (void)ready;
  return &section;
}
int g_tls_users = 0;
HANDLE g_tls_owner = nullptr;
DWORD g_tls_owner_id = 0;

void ReleaseRef(OsThread *thread) {
  if (thread->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete thread;
}

DWORD WINAPI ThreadMain(LPVOID raw) {
  OsThread *thread = static_cast<OsThread *>(raw);
  DWORD index = g_tls_index.load();
  if (index != TLS_OUT_OF_INDEXES) TlsSetValue(index, thread);
  uint32_t code = thread->entry(thread->arg);
  thread->exit_code = code;
  thread->suspended.store(1);
  thread->ended.store(true);
  if (index != TLS_OUT_OF_INDEXES) TlsSetValue(index, nullptr);
  ReleaseRef(thread);
  return code;
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
  if (!thread || thread->handle) return -1;
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, thread->stack_size, ThreadMain, thread,
                          CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!h) return -1;
  thread->handle = h;
  thread->id.store(id);
  SetThreadPriority(h, OsPriorityMap(thread->priority));
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) ResumeThread(h);
  return 0;
}

int OsThreadSuspend(OsThread *thread) {
  if (!thread || !thread->handle) return -1;
  uint32_t expected = 0;
  if (thread->suspended.compare_exchange_strong(expected, 1)) SuspendThread(thread->handle);
  return 0;
}

int OsThreadResume(OsThread *thread) {
  if (!thread || !thread->handle) return -1;
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) ResumeThread(thread->handle);
  return 0;
}

int OsThreadSetPriority(OsThread *thread, uint32_t priority) {
  if (!thread) return -1;
  thread->priority = priority > 255 ? 255 : priority;
  if (!thread->handle) return 0;
  return SetThreadPriority(thread->handle, OsPriorityMap(thread->priority)) ? 0 : -1;
}

int OsThreadJoin(OsThread *thread, uint32_t timeout_ms, uint32_t *exit_code) {
  if (!thread || !thread->handle) return 0;
  DWORD wait = timeout_ms == OS_WAIT_FOREVER ? INFINITE : timeout_ms;
  if (WaitForSingleObject(thread->handle, wait) != WAIT_OBJECT_0) return -1;
  if (exit_code) *exit_code = thread->exit_code;
  return 0;
}

int OsThreadEnded(const OsThread *thread) { return thread->ended.load() ? 1 : 0; }

int OsThreadStop(OsThread *thread, int bounded) {
  if (!thread || !thread->handle) return -1;
  uint32_t expected = 1;
  if (thread->suspended.compare_exchange_strong(expected, 0)) ResumeThread(thread->handle);
  if (GetCurrentThreadId() != thread->id.load()) {
    // A thread that does not end in time is left running rather than terminated: forced
    // termination leaves its locks held and its memory in an unknown state. Its own
    // reference keeps the object alive until it ends.
    WaitForSingleObject(thread->handle, bounded ? 3000 : INFINITE);
  }
  thread->suspended.store(1);
  CloseHandle(thread->handle);
  thread->handle = nullptr;
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
  DWORD index = g_tls_index.load();
  return index == TLS_OUT_OF_INDEXES ? nullptr : static_cast<OsThread *>(TlsGetValue(index));
}

int OsThreadLocalInit(void) {
  EnterCriticalSection(TlsGuard());
  int rc = 0;
  if (g_tls_users++ == 0) {
    DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) {
      g_tls_users = 0;
      rc = -1;
    } else {
      g_tls_index.store(index);
      g_tls_owner = GetCurrentThread();
      g_tls_owner_id = GetCurrentThreadId();
    }
  }
  LeaveCriticalSection(TlsGuard());
  return rc;
}

int OsThreadLocalFree(void) {
  EnterCriticalSection(TlsGuard());
  int rc = 0;
  if (g_tls_users == 0) {
    rc = -1;
  } else if (--g_tls_users == 0) {
    TlsFree(g_tls_index.exchange(TLS_OUT_OF_INDEXES));
  }
  LeaveCriticalSection(TlsGuard());
  return rc;
}

// ---- Clocks ---------------------------------------------------------------------------------

namespace {
std::atomic<int64_t> g_counts_per_ms{0};
}

int OsClockInit(void) {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000) {
    g_counts_per_ms.store(frequency.QuadPart / 1000);
  }
  return 0;
}

uint64_t OsMilliseconds(void) {
  int64_t per_ms = g_counts_per_ms.load();
  LARGE_INTEGER now;
  if (per_ms > 0 && QueryPerformanceCounter(&now)) return static_cast<uint64_t>(now.QuadPart / per_ms);
  return GetTickCount64();
}

void OsPlatformLocalTime(OsDate *date) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  date->year = st.wYear;
  date->month = st.wMonth;
  date->day_of_week = st.wDayOfWeek;
  date->day = st.wDay;
  date->hour = st.wHour;
  date->minute = st.wMinute;
  date->second = st.wSecond;
}

int OsPlatformSetLocalTime(const OsDate *date) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(date->year);
  st.wMonth = static_cast<WORD>(date->month);
  st.wDayOfWeek = static_cast<WORD>(date->day_of_week);
  st.wDay = static_cast<WORD>(date->day);
  st.wHour = static_cast<WORD>(date->hour);
  st.wMinute = static_cast<WORD>(date->minute);
  st.wSecond = static_cast<WORD>(date->second);
  return SetLocalTime(&st) ? 0 : -1;
}

// ---- Files and directories --------------------------------------------------------------------

namespace {

// The calling user's SID in its text form ("S-1-5-21-..."), or empty.
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<char> user(size ? size : 1);
  std::string sid;
  char *text = nullptr;
  if (size && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

// A directory that only the user may open, and everything made in it after: full control for
// the user's SID alone, inherited by files and folders inside, and protected from the entries
// of the folder above (the temporary folder may let others in). False when it is not made.
bool MakeOwnerOnlyDir(const char *path, const std::string &sid) {
  std::string sddl = "D:P(A;OICI;FA;;;" + sid + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  BOOL made = CreateDirectoryA(path, &attributes);
  LocalFree(descriptor);
  return made != 0;
}

}  // namespace

std::string OsMakePrivateTempDir(const char *prefix) {
  // Without the user's identity there is no private directory to make.
  std::string sid = CurrentUserSid();
  if (sid.empty()) return std::string();
  char root[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(root), root);
  if (n == 0 || n > MAX_PATH) return std::string();
  // The unique-name request creates a file; it is replaced by the directory of that name.
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(root, prefix ? prefix : "", 0, name) == 0) return std::string();
    DeleteFileA(name);
    if (MakeOwnerOnlyDir(name, sid)) return name;
  }
  return std::string();
}

int OsRemoveTree(const std::string &path) {
  if (path.empty()) return -1;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return DeleteFileA(path.c_str()) || RemoveDirectoryA(path.c_str()) ? 0 : -1;
  }
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      OsRemoveTree(path + "\\" + name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryA(path.c_str()) ? 0 : -1;
}

int OsRemoveFile(const std::string &path) {
  if (DeleteFileA(path.c_str())) return 0;
  DWORD error = GetLastError();
  return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? 0 : -1;
}

int OsMakeDir(const std::string &path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return 0;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) ? 0 : -1;
}

int OsReplaceFile(const std::string &from, const std::string &to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : -1;
}

int OsFlushFile(void *stdio_file) {
  FILE *file = static_cast<FILE *>(stdio_file);
  if (!file || fflush(file) != 0) return -1;
  return _commit(_fileno(file)) == 0 ? 0 : -1;
}

std::string OsTempFileBeside(const std::string &path) {
  size_t slash = path.find_last_of("\\/");
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  char name[MAX_PATH + 1];
  if (GetTempFileNameA(dir.c_str(), "tmp", 0, name) == 0) return std::string();
  return name;
}

static OsPathKind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return OS_PATH_OTHER;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? OS_PATH_DIR : OS_PATH_FILE;
}

OsPathKind OsPathKindOf(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return OS_PATH_NONE;
  return KindOfAttributes(attributes);
}

int64_t OsFileSize(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FILE *OsCreateFileNoFollow(const std::string &path, int *refused) {
  int dummy = 0;
  if (!refused) refused = &dummy;
  *refused = 0;
  OsPathKind kind = OsPathKindOf(path);
  if (kind == OS_PATH_DIR) return nullptr;
  if (kind == OS_PATH_OTHER) {
    *refused = 1;
    return nullptr;
  }
  // Opening the reparse point itself: a link planted after the check is not followed.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      KindOfAttributes(info.dwFileAttributes) != OS_PATH_FILE) {
    *refused = 1;
    CloseHandle(handle);
    return nullptr;
  }
  if (!SetEndOfFile(handle)) {
    CloseHandle(handle);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE *file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}

int OsSeekFile(FILE *file, uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 ? 0 : -1;
}

// ---- Directory enumeration --------------------------------------------------------------------

struct OsDirImpl {
  std::string pattern;
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  bool pending = false;  // `data` holds the first entry, not yet delivered
};

static int DirStart(OsDirImpl *dir) {
  if (dir->find != INVALID_HANDLE_VALUE) FindClose(dir->find);
  dir->find = FindFirstFileA(dir->pattern.c_str(), &dir->data);
  dir->pending = dir->find != INVALID_HANDLE_VALUE;
  return dir->pending ? 0 : -1;
}

int OsDirOpen(const std::string &path, OsDir *dir) {
  if (!dir) return -1;
  *dir = nullptr;
  if (OsPathKindOf(path) != OS_PATH_DIR) return -1;
  OsDirImpl *impl = new (std::nothrow) OsDirImpl;
  if (!impl) return -1;
  char last = path.empty() ? '\0' : path.back();
  impl->pattern = path + ((last == '/' || last == '\\' || last == ':') ? "*.*" : "\\*.*");
  if (DirStart(impl) != 0) {
    delete impl;
    return -1;
  }
  *dir = impl;
  return 0;
}

int OsDirRead(OsDir dir, OsDirEntry *entry) {
  if (!dir || !entry) return -1;
  for (;;) {
    if (!dir->pending && !FindNextFileA(dir->find, &dir->data))
      return GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
    dir->pending = false;
    size_t length = strlen(dir->data.cFileName);
    if (length >= sizeof entry->name) continue;
    memcpy(entry->name, dir->data.cFileName, length + 1);
    entry->is_directory = KindOfAttributes(dir->data.dwFileAttributes) == OS_PATH_DIR ? 1 : 0;
    return 1;
  }
}

int OsDirRewind(OsDir dir) {
  if (!dir) return -1;
  return DirStart(dir);
}

void OsDirClose(OsDir *dir) {
  if (!dir || !*dir) return;
  if ((*dir)->find != INVALID_HANDLE_VALUE) FindClose((*dir)->find);
  delete *dir;
  *dir = nullptr;
}

// ---- Cross-process lock -----------------------------------------------------------------------

struct OsProcessLockImpl {
  HANDLE mutex;
};

int OsProcessLockAcquire(const char *name, const std::string &, uint32_t timeout_ms,
                         OsProcessLock *lock) {
  if (!lock) return -1;
  *lock = nullptr;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (!mutex) return -1;
  DWORD wait = WaitForSingleObject(mutex, timeout_ms);
  // An abandoned mutex is owned now; its previous owner died, the file stays whole because
  // every writer replaces it atomically.
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return -1;
  }
  *lock = new (std::nothrow) OsProcessLockImpl{mutex};
  if (!*lock) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return -1;
  }
  return 0;
}

void OsProcessLockRelease(OsProcessLock *lock) {
  if (!lock || !*lock) return;
  ReleaseMutex((*lock)->mutex);
  CloseHandle((*lock)->mutex);
  delete *lock;
  *lock = nullptr;
}

// ---- Diagnostics and sockets ------------------------------------------------------------------

void OsDebugOutput(const char *text) {
  if (text) OutputDebugStringA(text);
}

int OsSocketsStart(void) {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data);
}

void OsSocketsStop(void) { WSACleanup(); }
