// The FTP connection object. Every operation either waits for its completion on the calling
// thread (m_bWait) or returns once started and reports through the slot's callback; the
// wait flag alone decides which thread carries an upload on, so exactly one thread writes
// its chunks.
#include "NetFtpClient.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

namespace {

const uint32_t kLongUploadWaitMs = 180000;
const int kChunkPaceMs = 16;

DWORD TransferType(uint32_t mode) {
  return (mode & 0x0F) == NETCLIENT_FTP_MODE_ASCII ? FTP_TRANSFER_TYPE_ASCII
                                                   : FTP_TRANSFER_TYPE_BINARY;
}

bool IsLoginRefused(DWORD error, const char *reply) {
  return error == ERROR_INTERNET_INCORRECT_USER_NAME ||
         error == ERROR_INTERNET_INCORRECT_PASSWORD || strstr(reply, "530") != nullptr;
}

// The server answered with a permanent negative reply (5xx). A transient one (4xx, 421 "closing
// control connection" among them) or no reply at all is no refusal.
bool IsRefusal(DWORD error, DWORD reply_number) {
  return error == ERROR_INTERNET_EXTENDED_ERROR && reply_number >= 500 && reply_number <= 599;
}

// The server's last reply on this thread (empty when there is none or it is too long).
void LastReply(DWORD *error, char (&text)[260]) {
  DWORD length = sizeof text;
  *error = 0;
  if (!InternetGetLastResponseInfoA(error, text, &length)) text[0] = '\0';
}

}  // namespace

CNetFtpClient::~CNetFtpClient() { CloseConnect(); }

bool CNetFtpClient::OwnsHandle(HINTERNET handle) const {
  return handle != nullptr && (handle == m_hRequest || handle == m_hFile || handle == m_hFind);
}

bool CNetFtpClient::IsConnected() {
  NcLock lock(m_pRequest->m_Lock);
  return m_hRequest != nullptr;
}

void CNetFtpClient::BeginOperation(NcDoing doing, uint32_t synchronous) {
  m_bWait = (synchronous != 0 || !HasCallback()) ? 1 : 0;
  m_eDoing = doing;
  m_dwLastError = 0;
  m_evRequestComplete.Reset();
}

void CNetFtpClient::CloseAuxHandles() {
  CloseAuxHandle(&m_hFind, false);
  CloseAuxHandle(&m_hFile, true);
}

void CNetFtpClient::CloseConnect() {
  {
    NcLock lock(m_pRequest->m_Lock);
    if (m_hRequest != nullptr) {
      FtpCommandA(m_hRequest, FALSE, FTP_TRANSFER_TYPE_BINARY, "QUIT", 0, nullptr);
    }
  }
  CloseConnectCommon();
  NcLock lock(m_pRequest->m_Lock);
  if (m_pLocalFile != nullptr) fclose(m_pLocalFile);
  m_pLocalFile = nullptr;
  m_pEntry = nullptr;
}

// ---- Connect ---------------------------------------------------------------------------

uint32_t CNetFtpClient::Connect(const char *host, const char *user, const char *password,
                                uint32_t port, uint32_t synchronous) {
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_E_ABORTING;
    m_dwLastError = 0;
    m_phPending = &m_hRequest;
  }
  bool at_once = false;
  uint32_t r = CommonConnect(host, user, password, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE,
                             port, synchronous, &m_hRequest, &at_once);
  if (r != 0) return r;
  m_pRequest->SetConnectPhase(2);
  if (!m_bWait) {
    // Finished inside the call: the outcome is reported here, as its completion would have.
    if (at_once) {
      NcLock lock(m_pRequest->m_Lock);
      INTERNET_ASYNC_RESULT result = {reinterpret_cast<DWORD_PTR>(m_hRequest), m_dwLastError};
      OnConnectComplete(result);
    }
    return 0;
  }
  if (!at_once && !IsConnected()) {
    NcWait w = WaitCreated(m_dwTimeout);
    if (w != NcWait::Done) return w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT;
  }
  NcWait w = at_once ? NcWait::Done : WaitComplete(m_dwTimeout);
  if (w == NcWait::Aborted) return NETCLIENT_ABORTED;
  NcLock lock(m_pRequest->m_Lock);
  if (w == NcWait::TimedOut) {
    m_bTimedOut = 1;
    return NETCLIENT_E_TIMEOUT;
  }
  if (m_dwLastError == ERROR_INTERNET_TIMEOUT) return NETCLIENT_E_TIMEOUT;
  if (m_dwLastError == ERROR_INTERNET_INCORRECT_USER_NAME ||
      m_dwLastError == ERROR_INTERNET_INCORRECT_PASSWORD) {
    return NETCLIENT_E_AUTH;
  }
  if (m_hRequest == nullptr) {
    DWORD error = 0;
    char reply[260];
    LastReply(&error, reply);
    return IsLoginRefused(error, reply) ? NETCLIENT_E_AUTH : NETCLIENT_E_CONNECT;
  }
  return m_dwLastError == 0 ? 0 : NETCLIENT_E_CONNECT;
}

void CNetFtpClient::OnConnectComplete(const INTERNET_ASYNC_RESULT &result) {
  m_dwLastError = result.dwError;
  m_eDoing = NC_IDLE;
  m_evRequestComplete.Set();
  if (m_bWait || result.dwError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  if (result.dwError == 0) {
    Report(m_hRequest != nullptr ? NETCLIENT_EV_FTP_CONNECTED : NETCLIENT_EV_FTP_CONNECT_FAIL);
    return;
  }
  DWORD error = 0;
  char reply[260];
  LastReply(&error, reply);
  Report(IsLoginRefused(result.dwError, reply) ? NETCLIENT_EV_FTP_AUTH_FAIL
                                               : NETCLIENT_EV_FTP_CONNECT_FAIL);
}

// ---- Upload ----------------------------------------------------------------------------

void CNetFtpClient::Progress(uint32_t code, uint32_t value) {
  NetClientProgressCallback progress;
  void *context;
  {
    NcLock lock(m_pRequest->m_Lock);
    progress = m_pProgress;
    context = m_pProgressContext;
  }
  if (progress != nullptr) progress(m_pRequest, context, code, value);
}

// Refills the chunk when it has been sent and writes its unsent part. Caller holds the lock.
int CNetFtpClient::WriteChunk() {
  if (m_pLocalFile == nullptr) return CHUNK_FAILED;
  if (m_dwChunkOffset >= m_dwChunkCount) {
    m_dwChunkCount = static_cast<uint32_t>(fread(m_Chunk, 1, sizeof m_Chunk, m_pLocalFile));
    m_dwChunkOffset = 0;
    if (m_dwChunkCount == 0) return ferror(m_pLocalFile) ? CHUNK_FAILED : CHUNK_EXHAUSTED;
  }
  m_dwWritten = 0;
  DWORD written = 0;
  if (InternetWriteFile(m_hFile, m_Chunk + m_dwChunkOffset, m_dwChunkCount - m_dwChunkOffset,
                        &written)) {
    m_dwWritten = written;
    return CHUNK_WRITTEN;
  }
  m_dwFtpError = GetLastError();
  return m_dwFtpError == ERROR_IO_PENDING ? CHUNK_PENDING : CHUNK_FAILED;
}

// Closes the local file and the remote file; the remote close confirms that the server has
// the whole file, so a clean end whose close fails is a failed write.
uint32_t CNetFtpClient::FinishUpload(uint32_t result) {
  HINTERNET file;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (m_pLocalFile != nullptr) fclose(m_pLocalFile);
    m_pLocalFile = nullptr;
    m_eDoing = NC_IDLE;
    file = m_hFile;
    m_hFile = nullptr;
  }
  if (file != nullptr) {
    m_evHandleClosing.Reset();
    BOOL closed = InternetCloseHandle(file);
    m_evHandleClosing.Wait(1000);
    if (!closed && result == 0) result = NETCLIENT_E_WRITE;
  }
  return result;
}

uint32_t CNetFtpClient::PutFile(const char *local_path, const char *remote_path, uint32_t mode,
                                uint32_t synchronous, NetClientProgressCallback progress,
                                void *context) {
  if (local_path == nullptr || remote_path == nullptr) return NETCLIENT_E_INVALIDARG;
  long size = 0;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    m_bWait = (synchronous != 0 || !HasCallback()) ? 1 : 0;
    if (m_pLocalFile != nullptr) fclose(m_pLocalFile);
    m_pLocalFile = fopen(local_path, "rb");
    if (m_pLocalFile == nullptr) return NETCLIENT_E_LOCAL_FILE;
    fseek(m_pLocalFile, 0, SEEK_END);
    size = ftell(m_pLocalFile);
    fseek(m_pLocalFile, 0, SEEK_SET);
    m_dwChunkCount = m_dwChunkOffset = m_dwTotal = 0;
    m_pProgress = progress;
    m_pProgressContext = context;
  }
  Progress(NETCLIENT_PROGRESS_SIZE, static_cast<uint32_t>(size));
  int64_t wait_ms = m_dwTimeout;
  if ((mode & NETCLIENT_FTP_MODE_LONG_WAIT) != 0 && wait_ms < kLongUploadWaitMs) {
    wait_ms = kLongUploadWaitMs;
  }
  bool opened;
  {
    NcLock lock(m_pRequest->m_Lock);
    BeginOperation(NC_OPENING_FILE, synchronous);
    m_phPending = &m_hFile;
    HINTERNET file = FtpOpenFileA(m_hRequest, remote_path, GENERIC_WRITE, TransferType(mode),
                                  reinterpret_cast<DWORD_PTR>(m_pRequest));
    DWORD error = GetLastError();
    opened = file != nullptr;
    if (opened) {
      m_hFile = file;
      m_phPending = nullptr;
    } else if (error != ERROR_IO_PENDING) {
      m_phPending = nullptr;
      m_eDoing = NC_IDLE;
      fclose(m_pLocalFile);
      m_pLocalFile = nullptr;
      return NETCLIENT_E_WRITE;
    }
    if (!m_bWait) {
      if (opened) {
        m_eDoing = NC_WRITING;
        AsyncUploadContinue(WriteChunk());
      }
      return 0;
    }
  }
  if (!opened) {
    NcWait w = WaitComplete(wait_ms);
    if (w != NcWait::Done) {
      return FinishUpload(w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT);
    }
  }
  return FinishUpload(UploadLoop(wait_ms));
}

// The waiting upload: this thread writes every chunk.
uint32_t CNetFtpClient::UploadLoop(int64_t wait_ms) {
  int chunk;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    if (m_hFile == nullptr) return NETCLIENT_E_WRITE;  // the server refused the file
    m_evRequestComplete.Reset();
    m_eDoing = NC_WRITING;
    chunk = WriteChunk();
  }
  for (;;) {
    if (chunk == CHUNK_EXHAUSTED) return 0;
    if (chunk == CHUNK_FAILED) return IsAborted() ? NETCLIENT_ABORTED : NETCLIENT_E_WRITE;
    if (chunk == CHUNK_PENDING) {
      NcWait w = WaitComplete(wait_ms);
      if (w == NcWait::Aborted) return NETCLIENT_ABORTED;
      if (w == NcWait::TimedOut) return NETCLIENT_E_TIMEOUT;
      NcLock lock(m_pRequest->m_Lock);
      if (m_dwLastError == ERROR_INTERNET_CONNECTION_RESET) {
        Progress(NETCLIENT_PROGRESS_RESET, 0);
        return NETCLIENT_E_RESET;
      }
      if (m_dwLastError != 0) return NETCLIENT_E_WRITE;
    }
    uint32_t total;
    {
      NcLock lock(m_pRequest->m_Lock);
      m_dwChunkOffset += m_dwWritten;
      m_dwTotal += m_dwWritten;
      total = m_dwTotal;
    }
    Progress(NETCLIENT_PROGRESS_SENT, total);
    std::this_thread::sleep_for(std::chrono::milliseconds(kChunkPaceMs));
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    m_evRequestComplete.Reset();
    chunk = WriteChunk();
  }
}

// The asynchronous upload after a chunk result: written chunks go on at once, the end
// closes the remote file and reports 204, a failure reports 207. Caller holds the lock.
void CNetFtpClient::AsyncUploadContinue(int chunk) {
  bool first = m_dwTotal == 0;
  while (chunk == CHUNK_WRITTEN) {
    m_dwChunkOffset += m_dwWritten;
    m_dwTotal += m_dwWritten;
    Progress(NETCLIENT_PROGRESS_SENT, m_dwTotal);
    chunk = WriteChunk();
    first = false;
  }
  if (chunk == CHUNK_PENDING) {
    if (first) Report(NETCLIENT_EV_FTP_PUT_PENDING);
    return;
  }
  if (chunk == CHUNK_EXHAUSTED) {
    uint32_t r = FinishUpload(0);
    Report(r == 0 ? NETCLIENT_EV_FTP_PUT_DONE : NETCLIENT_EV_FTP_PUT_FAIL);
    return;
  }
  FinishUpload(NETCLIENT_E_WRITE);
  Report(first ? NETCLIENT_EV_FTP_CONNECT_FAIL : NETCLIENT_EV_FTP_PUT_FAIL);
}

void CNetFtpClient::OnUploadOpened(const INTERNET_ASYNC_RESULT &result) {
  m_dwLastError = result.dwError;
  m_eDoing = NC_IDLE;
  if (result.dwResult != 0 && m_hFile == nullptr) m_hFile = reinterpret_cast<HINTERNET>(result.dwResult);
  m_phPending = nullptr;
  m_evRequestComplete.Set();
  if (m_bWait || IsAborted() || result.dwError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  if (result.dwResult == 0) {
    FinishUpload(NETCLIENT_E_WRITE);
    Report(NETCLIENT_EV_FTP_CONNECT_FAIL);
    return;
  }
  m_eDoing = NC_WRITING;
  AsyncUploadContinue(WriteChunk());
}

void CNetFtpClient::OnChunkWritten(const INTERNET_ASYNC_RESULT &result) {
  if (result.dwResult != 0) {
    m_dwLastError = 0;
    m_dwWritten = result.dwError;
  } else {
    m_dwLastError = result.dwError;
  }
  m_evRequestComplete.Set();
  if (m_bWait || IsAborted() || result.dwError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  if (m_dwLastError != 0) {
    if (m_dwLastError == ERROR_INTERNET_CONNECTION_RESET) Progress(NETCLIENT_PROGRESS_RESET, 0);
    FinishUpload(NETCLIENT_E_WRITE);
    Report(NETCLIENT_EV_FTP_PUT_FAIL);
    return;
  }
  AsyncUploadContinue(CHUNK_WRITTEN);
}

// ---- Download --------------------------------------------------------------------------

uint32_t CNetFtpClient::GetFile(const char *local_path, const char *remote_path, uint32_t mode,
                                uint32_t synchronous) {
  if (local_path == nullptr || remote_path == nullptr) return NETCLIENT_E_INVALIDARG;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    BeginOperation(NC_READING, synchronous);
    BOOL ok = FtpGetFileA(m_hRequest, remote_path, local_path, FALSE, FILE_ATTRIBUTE_NORMAL,
                          TransferType(mode) | INTERNET_FLAG_RELOAD,
                          reinterpret_cast<DWORD_PTR>(m_pRequest));
    DWORD error = GetLastError();
    if (ok || error != ERROR_IO_PENDING) {
      INTERNET_ASYNC_RESULT done = {static_cast<DWORD_PTR>(ok ? 1 : 0), ok ? 0 : error};
      OnRequestComplete(done);
      if (!m_bWait) return 0;
      return ok ? 0 : NETCLIENT_E_DOWNLOAD;
    }
    if (!m_bWait) return 0;
  }
  int64_t wait_ms = (mode & NETCLIENT_FTP_MODE_LONG_WAIT) != 0 ? -1 : m_dwTimeout;
  NcWait w = WaitComplete(wait_ms);
  if (w != NcWait::Done) return w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT;
  NcLock lock(m_pRequest->m_Lock);
  return m_dwLastError == 0 ? 0 : NETCLIENT_E_DOWNLOAD;
}

// ---- Directory commands ----------------------------------------------------------------

DWORD CNetFtpClient::ReplyNumberOr(DWORD error) const {
  if (error != ERROR_INTERNET_EXTENDED_ERROR) return error;
  DWORD ignored = 0;
  char reply[260];
  LastReply(&ignored, reply);
  if (strlen(reply) < 3) return error;
  char number[4] = {reply[0], reply[1], reply[2], '\0'};
  return static_cast<DWORD>(strtoul(number, nullptr, 10));
}

uint32_t CNetFtpClient::CommandResult(NcDoing doing, DWORD error) const {
  if (error == 0) return 0;
  switch (doing) {
    case NC_CREATING_DIR:
      return m_dwFtpError == 550 ? NETCLIENT_E_DIR_EXISTS : NETCLIENT_E_MKDIR;
    case NC_CHANGING_DIR:
      // Only a refusal says the directory is not there; callers act on that difference. The
      // service's own time-out reads as the wait's, whichever of the two ran out first.
      if (IsRefusal(error, m_dwFtpError)) return NETCLIENT_E_CHDIR;
      return error == ERROR_INTERNET_TIMEOUT ? NETCLIENT_E_TIMEOUT : NETCLIENT_E_NO_ANSWER;
    default:
      return NETCLIENT_E_DELETE;
  }
}

// Create directory, change directory, delete: one command, one reply.
uint32_t CNetFtpClient::RunCommand(NcDoing doing, const char *argument, uint32_t synchronous) {
  if (argument == nullptr) return NETCLIENT_E_INVALIDARG;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    BeginOperation(doing, synchronous);
    m_dwFtpError = 0;
    BOOL ok;
    switch (doing) {
      case NC_CREATING_DIR:
        ok = FtpCreateDirectoryA(m_hRequest, argument);
        break;
      case NC_CHANGING_DIR:
        ok = FtpSetCurrentDirectoryA(m_hRequest, argument);
        break;
      default:
        ok = m_bDeleteDirectory ? FtpRemoveDirectoryA(m_hRequest, argument)
                                : FtpDeleteFileA(m_hRequest, argument);
        break;
    }
    DWORD error = GetLastError();
    if (ok || error != ERROR_IO_PENDING) {
      // Finished at once: report it as the completion would have.
      INTERNET_ASYNC_RESULT done = {static_cast<DWORD_PTR>(ok ? 1 : 0), ok ? 0 : error};
      OnRequestComplete(done);
      if (!m_bWait) return 0;
      return CommandResult(doing, m_dwLastError);
    }
    if (!m_bWait) return 0;
  }
  NcWait w = WaitComplete(m_dwTimeout);
  if (w != NcWait::Done) return w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT;
  NcLock lock(m_pRequest->m_Lock);
  return CommandResult(doing, m_dwLastError);
}

void CNetFtpClient::OnCommandComplete(const INTERNET_ASYNC_RESULT &result, uint32_t code) {
  m_dwLastError = result.dwResult != 0 ? 0 : result.dwError;
  if (m_dwLastError != 0 && m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED) {
    m_dwFtpError = ReplyNumberOr(m_dwLastError);
  }
  m_eDoing = NC_IDLE;
  m_evRequestComplete.Set();
  if (m_dwLastError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  if (!m_bWait) Report(code);
}

uint32_t CNetFtpClient::CreateDir(const char *path, uint32_t create_parents, uint32_t synchronous) {
  if (path == nullptr) return NETCLIENT_E_INVALIDARG;
  {
    NcLock lock(m_pRequest->m_Lock);
    NcCopy(m_szDirPath, sizeof m_szDirPath, path);
    m_pNextSep = nullptr;
  }
  if (create_parents != 0) {
    // Each leading level first, waiting, whatever it answers (it may exist already); the
    // last level then runs as the caller asked.
    char level[264];
    NcCopy(level, sizeof level, path);
    const char *seps = strchr(level, '/') != nullptr ? "/" : "\\";
    for (char *sep = strpbrk(level + 1, seps); sep != nullptr; sep = strpbrk(sep + 1, seps)) {
      *sep = '\0';
      uint32_t r = RunCommand(NC_CREATING_DIR, level, 1);
      if (r == NETCLIENT_ABORTED || r == NETCLIENT_E_TIMEOUT) return r;
      *sep = seps[0];
    }
  }
  return RunCommand(NC_CREATING_DIR, path, synchronous);
}

uint32_t CNetFtpClient::ChangeDir(const char *path, uint32_t synchronous) {
  return RunCommand(NC_CHANGING_DIR, path, synchronous);
}

uint32_t CNetFtpClient::Delete(const char *name, uint32_t is_directory, uint32_t synchronous) {
  {
    NcLock lock(m_pRequest->m_Lock);
    m_bDeleteDirectory = is_directory != 0;
  }
  return RunCommand(NC_DELETING, name, synchronous);
}

// ---- Listing ---------------------------------------------------------------------------

// Copies the found entry to the caller's entry, if one is remembered. Caller holds the lock.
void CNetFtpClient::DeliverEntry() {
  if (m_pEntry == nullptr) return;
  NcCopy(m_pEntry->name, sizeof m_pEntry->name, m_FindData.cFileName);
  m_pEntry->is_directory = (m_FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

uint32_t CNetFtpClient::FindFirstFile(const char *pattern, NetClientFindEntry *entry,
                                      uint32_t synchronous) {
  if (pattern == nullptr || entry == nullptr) return NETCLIENT_E_INVALIDARG;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    BeginOperation(NC_FIND_FIRST, synchronous);
    CloseAuxHandle(&m_hFind, true);
    m_evRequestComplete.Reset();
    memset(&m_FindData, 0, sizeof m_FindData);
    m_pEntry = entry;
    m_dwFtpError = 0;
    m_phPending = &m_hFind;
    HINTERNET find = FtpFindFirstFileA(m_hRequest, pattern, &m_FindData,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE,
                                       reinterpret_cast<DWORD_PTR>(m_pRequest));
    DWORD error = GetLastError();
    if (find != nullptr || error != ERROR_IO_PENDING) {
      m_phPending = nullptr;
      INTERNET_ASYNC_RESULT done = {reinterpret_cast<DWORD_PTR>(find), find != nullptr ? 0 : error};
      OnRequestComplete(done);
      if (!m_bWait) return 0;
      if (m_dwLastError == 0) return 0;
      return m_dwFtpError == ERROR_NO_MORE_FILES ? NETCLIENT_E_NO_MORE_FILES : NETCLIENT_E_FIND_FIRST;
    }
    if (!m_bWait) return 0;
  }
  NcWait w = WaitComplete(m_dwTimeout);
  NcLock lock(m_pRequest->m_Lock);
  if (w != NcWait::Done) {
    m_pEntry = nullptr;  // the caller's entry is not to be written after it gave up
    return w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT;
  }
  m_pEntry = nullptr;
  if (m_dwLastError == 0) return 0;
  return m_dwFtpError == ERROR_NO_MORE_FILES ? NETCLIENT_E_NO_MORE_FILES : NETCLIENT_E_FIND_FIRST;
}

uint32_t CNetFtpClient::FindNextFile(NetClientFindEntry *entry, uint32_t synchronous) {
  if (entry == nullptr) return NETCLIENT_E_INVALIDARG;
  std::unique_lock<std::recursive_mutex> lock(m_pRequest->m_Lock);
  if (IsAborted()) return NETCLIENT_ABORTED;
  BeginOperation(NC_FIND_NEXT, synchronous);
  m_pEntry = entry;
  m_dwFtpError = 0;
  memset(&m_FindData, 0, sizeof m_FindData);
  BOOL ok = InternetFindNextFileA(m_hFind, &m_FindData);
  DWORD error = ok ? 0 : GetLastError();
  if (ok || error != ERROR_IO_PENDING) {
    // Answered at once from the listing that find first fetched.
    INTERNET_ASYNC_RESULT done = {static_cast<DWORD_PTR>(ok ? 1 : 0), error};
    OnRequestComplete(done);
  } else {
    if (!m_bWait) return 0;
    lock.unlock();
    NcWait w = WaitComplete(m_dwTimeout);
    lock.lock();
    if (w != NcWait::Done) {
      m_pEntry = nullptr;
      return w == NcWait::Aborted ? NETCLIENT_ABORTED : NETCLIENT_E_TIMEOUT;
    }
  }
  m_pEntry = nullptr;
  if (!m_bWait) return 0;
  if (m_dwLastError == 0) return 0;
  return m_dwFtpError == ERROR_NO_MORE_FILES || m_dwLastError == ERROR_NO_MORE_FILES
             ? NETCLIENT_E_NO_MORE_FILES
             : NETCLIENT_E_FIND_NEXT;
}

void CNetFtpClient::OnFindComplete(const INTERNET_ASYNC_RESULT &result) {
  bool first = m_eDoing == NC_FIND_FIRST;
  bool success = result.dwError == 0 && result.dwResult != 0;
  m_dwLastError = success ? 0 : (result.dwError != 0 ? result.dwError : ERROR_NO_MORE_FILES);
  if (success) {
    if (first && m_hFind == nullptr) m_hFind = reinterpret_cast<HINTERNET>(result.dwResult);
    DeliverEntry();
  } else if (m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED) {
    m_dwFtpError = m_dwLastError;
  }
  m_phPending = nullptr;
  m_eDoing = NC_IDLE;
  m_evRequestComplete.Set();
  if (m_bWait || m_dwLastError == ERROR_INTERNET_OPERATION_CANCELLED) return;
  uint32_t code;
  if (success) {
    code = first ? NETCLIENT_EV_FTP_FIND_FIRST : NETCLIENT_EV_FTP_FIND_NEXT;
  } else if (m_dwLastError == ERROR_NO_MORE_FILES) {
    code = first ? NETCLIENT_EV_FTP_FIND_FIRST_END : NETCLIENT_EV_FTP_FIND_NEXT_END;
  } else {
    code = first ? NETCLIENT_EV_FTP_FIND_FIRST_FAIL : NETCLIENT_EV_FTP_FIND_NEXT_FAIL;
  }
  m_pEntry = nullptr;
  Report(code);
}

// ---- Completion dispatch -----------------------------------------------------------------

void CNetFtpClient::OnRequestComplete(const INTERNET_ASYNC_RESULT &result) {
  switch (m_eDoing) {
    case NC_CONNECT_ISSUED:
    case NC_CONNECTING:
      return OnConnectComplete(result);
    case NC_READING:
      m_dwLastError = result.dwResult != 0 ? 0 : result.dwError;
      m_eDoing = NC_IDLE;
      m_evRequestComplete.Set();
      if (m_bWait || m_dwLastError == ERROR_INTERNET_OPERATION_CANCELLED) return;
      return Report(m_dwLastError == 0 ? NETCLIENT_EV_FTP_GET_DONE : NETCLIENT_EV_FTP_GET_FAIL);
    case NC_OPENING_FILE:
      return OnUploadOpened(result);
    case NC_WRITING:
      return OnChunkWritten(result);
    case NC_CREATING_DIR:
      return OnCommandComplete(result, NETCLIENT_EV_FTP_MKDIR_DONE);
    case NC_CHANGING_DIR:
      return OnCommandComplete(result, NETCLIENT_EV_FTP_CHDIR_DONE);
    case NC_DELETING:
      return OnCommandComplete(result, NETCLIENT_EV_FTP_DELETE_DONE);
    case NC_FIND_FIRST:
    case NC_FIND_NEXT:
      return OnFindComplete(result);
    default:
      return;
  }
}
