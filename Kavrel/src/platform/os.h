// The OS layer: the only place where the library core meets the platform's kernel objects.
// One header, whole implementation files per platform (os_posix.cpp, os_win32.cpp).
//
// Every operation returns 0 for success and a negative or small positive code for failure as
// documented; none of them logs.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

// ---- Locks ------------------------------------------------------------------------------

typedef struct OsLockImpl *OsLock;  // NULL when not created

int OsLockCreate(OsLock *lock);   // 2 when allocation fails
int OsLockDestroy(OsLock *lock);  // 3 when lock or *lock is NULL; sets *lock to NULL
int OsLockEnter(OsLock lock);     // always 0; a failed platform lock aborts
int OsLockLeave(OsLock lock);     // always 0
int OsLockTryEnter(OsLock lock);  // 0 when entered, -1 when held by another thread

// ---- Events (always auto-reset) -----------------------------------------------------------

typedef struct OsEventImpl *OsEvent;  // NULL when not created

int OsEventCreate(OsEvent *event, int initially_signalled);  // -1 when creation fails
int OsEventClose(OsEvent *event);  // NULL pointer accepted; sets *event to NULL; 0
int OsEventSet(OsEvent event);     // -1 when the platform call fails
int OsEventReset(OsEvent event);

#define OS_WAIT_FOREVER 0xFFFFFFFFu
// 0 when signalled (the event is reset again), -1 on time-out or failure.
int OsWait(OsEvent event, uint32_t timeout_ms);
void OsSleep(uint32_t ms);
int OsYield(void);  // -1 when no other thread was ready (where the platform tells)

// ---- Threads ------------------------------------------------------------------------------

typedef uint32_t (*OsThreadEntry)(void *arg);

typedef struct OsThreadParams {
  uint32_t stack_size;
  void *arg;
  uint32_t priority;  // 0-255
  OsThreadEntry entry;
} OsThreadParams;

typedef struct OsThread OsThread;

// Allocates the thread object (priority clamped to 255); does not start it. 2 when
// allocation fails.
int OsThreadCreate(OsThread **thread, const OsThreadParams *params);
// -1 when already started or the platform thread cannot be created.
int OsThreadStart(OsThread *thread);
int OsThreadSuspend(OsThread *thread);
int OsThreadResume(OsThread *thread);
int OsThreadSetPriority(OsThread *thread, uint32_t priority);
// 0 when there is no platform thread or it ended within the time-out (exit code stored when
// `exit_code` is not NULL); -1 on time-out.
int OsThreadJoin(OsThread *thread, uint32_t timeout_ms, uint32_t *exit_code);
// Waits for the thread to end (3000 ms when bounded, else without limit), unless called by
// the thread itself. A bounded wait that runs out leaves the thread running, detached: no
// platform offers a safe forced termination, so the object stays alive until the thread
// ends and drops its own reference. -1 without a platform thread.
int OsThreadStop(OsThread *thread, int bounded);
// Bounded stop, drops the creator's reference and sets *thread to NULL. 3 for NULL.
int OsThreadDestroy(OsThread **thread);
// True when the thread ended (its entry function returned).
int OsThreadEnded(const OsThread *thread);
// The OsThread of the calling thread, or NULL for a thread the layer did not start.
OsThread *OsThreadSelf(void);
// The platform priority that a 0-255 priority maps to: -15 idle, -2 lowest, -1 below
// normal, 0 normal, 1 above normal, 2 highest, 15 time-critical.
int OsPriorityMap(uint32_t priority);

// Once per process; later calls find the slot set. OsThreadLocalFree releases it for the
// whole process, but only when no context still needs it (the caller counts contexts).
int OsThreadLocalInit(void);
int OsThreadLocalFree(void);

// ---- Clocks -------------------------------------------------------------------------------

int OsClockInit(void);
uint64_t OsMilliseconds(void);

typedef struct OsDate {
  uint32_t year, month, day_of_week, day, hour, minute, second;  // day_of_week: 0 = Sunday
} OsDate;

#define OS_CALENDAR_MAX_SECONDS 2082758399u  // 2035-12-31 23:59:59
int OsCalendarInit(void);
int OsCalendarNow(uint32_t *seconds, uint32_t *milliseconds);
int OsCalendarBreakDown(uint32_t seconds, OsDate *date);
int OsCalendarNowBrokenDown(OsDate *date);
uint32_t OsCalendarToSeconds(const OsDate *date);  // year clamped to 1970-2035
// Moves the calendar base so that OsCalendarNow yields `date`, then sets the platform's
// local time through the seam below; that call's result.
int OsCalendarSet(const OsDate *date);
// The seam that sets the machine's clock. Tests replace it; they never set the real clock.
typedef int (*OsSetSystemTimeFn)(const OsDate *date);
void OsCalendarSetSystemTimeHook(OsSetSystemTimeFn fn);

// ---- Files and directories ------------------------------------------------------------------

// A new private directory below the system temporary directory, named with `prefix` and a
// unique part, readable only by the user. Empty on failure. Never a fixed shared name.
std::string OsMakePrivateTempDir(const char *prefix);
// Removes a directory and everything below it (no symlink is followed). 0, or -1.
int OsRemoveTree(const std::string &path);
int OsRemoveFile(const std::string &path);  // 0 also when it did not exist
int OsMakeDir(const std::string &path);     // 0 also when it exists already
// Puts `from` in place of `to` in one step: a reader sees the old file or the new one, never
// a mix. Both must be in the same directory. 0, or -1.
int OsReplaceFile(const std::string &from, const std::string &to);
// Flushes an open file's data to the disk. 0, or -1.
int OsFlushFile(void *stdio_file);
// A name for a new temporary file in the same directory as `path` (it is created empty, so
// the name is reserved). Empty on failure.
std::string OsTempFileBeside(const std::string &path);

// Kinds of path, taken without following a symbolic link at the last component.
enum OsPathKind { OS_PATH_NONE = 0, OS_PATH_FILE = 1, OS_PATH_DIR = 2, OS_PATH_OTHER = 3 };
// OS_PATH_OTHER covers links, junctions, devices, pipes and sockets.
OsPathKind OsPathKindOf(const std::string &path);
// The size of a regular file in bytes, or -1 when it cannot be found or is not a file.
int64_t OsFileSize(const std::string &path);
// Creates `path` (or empties it when a regular file is there) for binary writing, never
// following a link and never opening a device, pipe or directory in its place. The stream,
// or NULL with *refused set to 1 when something other than a regular file is in the way and
// 0 for any other failure.
FILE *OsCreateFileNoFollow(const std::string &path, int *refused);
// Moves an open stream to an absolute offset, beyond 2 GiB too. 0, or -1.
int OsSeekFile(FILE *file, uint64_t offset);

// ---- Directory enumeration --------------------------------------------------------------------

typedef struct OsDirImpl *OsDir;  // NULL when not open
typedef struct OsDirEntry {
  char name[260];    // the entry's own name, no path
  int is_directory;  // 1 for a real directory; a link to one is not (links are not followed)
} OsDirEntry;
// Opens `path` for enumeration. 0, or -1 when it is not a directory that can be read.
int OsDirOpen(const std::string &path, OsDir *dir);
// The next entry ("." and ".." included where the platform lists them): 1 and *entry filled,
// 0 at the end, -1 on failure. A name longer than the entry holds is skipped.
int OsDirRead(OsDir dir, OsDirEntry *entry);
// Starts the enumeration again from the first entry. 0, or -1.
int OsDirRewind(OsDir dir);
void OsDirClose(OsDir *dir);  // NULL and *dir NULL accepted; sets *dir to NULL

// ---- Cross-process lock ---------------------------------------------------------------------

// A named lock shared by every process of the user: on Windows a named mutex, elsewhere an
// advisory lock on `lock_file`. Acquire returns 0 when held within `timeout_ms`, -1 when it
// could not be had in time or at all; the handle is NULL then.
typedef struct OsProcessLockImpl *OsProcessLock;
int OsProcessLockAcquire(const char *name, const std::string &lock_file, uint32_t timeout_ms,
                         OsProcessLock *lock);
void OsProcessLockRelease(OsProcessLock *lock);

// ---- Diagnostics ----------------------------------------------------------------------------

// Writes a line to the debugger output (Windows) or standard error when KAVREL_DEBUG_OUTPUT
// is set (elsewhere).
void OsDebugOutput(const char *text);

// ---- Sockets --------------------------------------------------------------------------------

// Starts and stops the platform's socket layer (nothing to do on POSIX). Start returns the
// platform's error, 0 for success.
int OsSocketsStart(void);
void OsSocketsStop(void);

