// CNetFtpClient: the FTP connection of a request slot of type 13: login, upload in 8 KB
// chunks with progress, download, directories, delete, listing, and "QUIT" on close.
#pragma once

#include <stdio.h>

#include "NetClientBase.h"

class CNetFtpClient : public CNetClientBase {
 public:
  CNetFtpClient() = default;
  ~CNetFtpClient() override;

  void CloseAuxHandles() override;
  void OnRequestComplete(const INTERNET_ASYNC_RESULT &result) override;
  void CloseConnect() override;

  uint32_t Connect(const char *host, const char *user, const char *password, uint32_t port,
                   uint32_t synchronous);
  uint32_t PutFile(const char *local_path, const char *remote_path, uint32_t mode,
                   uint32_t synchronous, NetClientProgressCallback progress, void *context);
  uint32_t GetFile(const char *local_path, const char *remote_path, uint32_t mode,
                   uint32_t synchronous);
  uint32_t CreateDir(const char *path, uint32_t create_parents, uint32_t synchronous);
  uint32_t ChangeDir(const char *path, uint32_t synchronous);
  uint32_t Delete(const char *name, uint32_t is_directory, uint32_t synchronous);
  uint32_t FindFirstFile(const char *pattern, NetClientFindEntry *entry, uint32_t synchronous);
  uint32_t FindNextFile(NetClientFindEntry *entry, uint32_t synchronous);
  bool IsConnected();  // m_hRequest is open

 private:
  enum ChunkResult { CHUNK_WRITTEN = 0, CHUNK_EXHAUSTED = 1, CHUNK_FAILED = -1, CHUNK_PENDING = -2 };

  bool OwnsHandle(HINTERNET handle) const override;
  void BeginOperation(NcDoing doing, uint32_t synchronous);
  int WriteChunk();
  void Progress(uint32_t code, uint32_t value);
  uint32_t UploadLoop(int64_t wait_ms);
  void AsyncUploadContinue(int chunk);
  uint32_t FinishUpload(uint32_t result);
  void OnConnectComplete(const INTERNET_ASYNC_RESULT &result);
  void OnUploadOpened(const INTERNET_ASYNC_RESULT &result);
  void OnChunkWritten(const INTERNET_ASYNC_RESULT &result);
  void OnCommandComplete(const INTERNET_ASYNC_RESULT &result, uint32_t code);
  void OnFindComplete(const INTERNET_ASYNC_RESULT &result);
  void DeliverEntry();
  uint32_t RunCommand(NcDoing doing, const char *argument, uint32_t synchronous);
  uint32_t CommandResult(NcDoing doing, DWORD error) const;
  DWORD ReplyNumberOr(DWORD error) const;

  FILE *m_pLocalFile = nullptr;
  char m_Chunk[8192] = {};
  uint32_t m_dwChunkCount = 0;
  uint32_t m_dwChunkOffset = 0;
  uint32_t m_dwWritten = 0;
  uint32_t m_dwTotal = 0;
  HINTERNET m_hFile = nullptr;
  void *m_pProgressContext = nullptr;
  NetClientProgressCallback m_pProgress = nullptr;
  char m_szDirPath[264] = {};
  char *m_pNextSep = nullptr;
  HINTERNET m_hFind = nullptr;
  WIN32_FIND_DATAA m_FindData = {};
  NetClientFindEntry *m_pEntry = nullptr;
  uint32_t m_dwFtpError = 0;
  bool m_bDeleteDirectory = false;  // which command the running delete issues
};
