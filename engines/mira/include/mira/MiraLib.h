// The download engine, its share companion and the machine identity, as C functions.
//
// Engine: a task downloads one file from a list of HTTP(S) addresses to a target given as a Windows
// path (seen through the drive map). Bytes go to TARGET + ".part"; only a complete file is renamed to
// TARGET, so the final name never holds a partial file. That rename never replaces a file (in any letter
// case) already at TARGET: the task then fails with MIRA_ERR_EXISTS and the finished ".part" stays.
// A ".part" left behind (a pause, a cut connection, a killed process) is continued with a range request
// by the next task on the same target.
// An address that fails hands over to the next one; the task fails when the last one has failed.
// Validator: a ".part" keeps, in its extended attribute "user.mira.validator" ("TOTAL VALIDATOR"), the
// total size and the strong ETag (else the Last-Modified date) of the answer that began it; a range
// request for it carries If-Range with that validator. A whole answer (200) to it, a total that differs,
// or another ETag / date in the range answer starts the ".part" over (MIRA_MSG_RESTARTING), so the
// bytes of another file are never joined to it. A ".part" without the attribute (its server sent
// neither header, its file system keeps no attributes, or an older task made it) cannot be checked and
// is continued by its length alone. The finished file does not keep the attribute.
// A failed task removes its ".part" when it holds no byte, and after MIRA_ERR_LONGER or MIRA_ERR_DISKFULL
// (bytes of a server that miscounts, or a file that cannot fit); otherwise it stays to be continued.
//
// Messages: posted (PostMessageA) to the window given to MiraSetCallback, wParam 0 unless stated:
//   0x2400 MIRA_MSG_STARTED      the task began working on its list
//   0x2434 MIRA_MSG_CONNECTING   an address is being asked (lParam: its index in the list)
//   0x2410 MIRA_MSG_SIZEKNOWN    the server announced the total size (status buffer: total, done)
//   0x2432 MIRA_MSG_RESUMING     the server accepted a range: the ".part" is continued
//   0x2433 MIRA_MSG_RESTARTING   the ".part" could not be continued and was started over
//   0x2411 MIRA_MSG_PROGRESS     bytes arrived; at most one every 100 ms per task
//   0x2412 MIRA_MSG_DATADONE     every announced byte arrived (always sent, 100 %)
//   0x2401 MIRA_MSG_STATUSTEXT   the status text changed; lParam 0, or the MIRA_ERR_ code it reports
//   0x2431 MIRA_MSG_NEXTADDRESS  an address failed (after its MIRA_MSG_STATUSTEXT); the next one follows
//   0x2402 MIRA_MSG_COMPLETED    the file is complete under its final name          (last message)
//   0x2420 MIRA_MSG_PAUSED       paused; the ".part" stays for a later task          (last message)
//   0x2430 MIRA_MSG_FAILED       every address failed, or the target was taken; lParam: the MIRA_ERR_
//                                (last message)
// In order: STARTED; for each address tried CONNECTING, then [RESTARTING] SIZEKNOWN [RESUMING] PROGRESS...
// DATADONE when it delivers, or STATUSTEXT (with the error) and NEXTADDRESS when it fails; then exactly
// one of COMPLETED, PAUSED or FAILED, posted before MiraWaitDownload can return (so a caller that
// destroys the task as soon as the wait returns still receives it). A cut transfer is continued from
// the same address at once.
// At most the settings' MaxDownloadCount (HKEY_CURRENT_USER SOFTWARE\Tamborinebox\Setting\Download, 1 to 5)
// transfers run at once; with no such value, all do. A task waiting for its turn is running (its ".part"
// held, its status text saying so) between STARTED and its first CONNECTING.
// A cancelled task posts nothing once MiraCancelDownloadUrllist has returned. MiraSetBlockMessage with
// a non-zero value silences a task.
// Asked of an idle task (before its first MiraDownloadUrllist, e.g. while the caller is still preparing
// the list), a cancel sticks: the task is cancelled at once and never starts. A pause asked of an idle
// task makes the next MiraDownloadUrllist take the list and end the task paused at once, posting only
// MIRA_MSG_PAUSED (and touching no file); MiraResumeDownloadUrllist starts it later.
//
// Status buffer (MiraGetStatusInfo, MIRA_STATUS_SIZE bytes, integers little-endian, unused bytes 0):
//   0..3     int32  state: MIRA_STATE_*
//   4..7     int32  last error: MIRA_ERR_*
//   8..11    int32  index of the address in use (-1 before the first)
//   12..15   int32  number of addresses
//   16..23   int64  bytes per second over the last second
//   24..31   int64  bytes the ".part" held when the task found it (0 for a fresh download)
//   32..287  char[256] the address in use, zero-terminated (cut when longer)
//   512..767 char[256] status text, zero-terminated, ASCII
//   800..807 int64  total size announced by the server (0 while unknown)
//   808..815 int64  bytes done (including those of a continued ".part")
//
// Share companion: keeps one record per committed file under the share folder (MiraShareSetID3Path):
//   MD5.rec  three lines: the file's Windows path and the commit text (both as given, code page bytes),
//            then "TAIL HEADER", the tag lengths of the file as it is now (decimal)
//   MD5.id3  "MXID3" 0x01, int32 tail length, int32 header length, the tail block, the header block
// MD5 is the lower-cased MD5 text. Records are replaced whole (written aside, then renamed).
// MiraShareEditID3 moves every record of a path (exact bytes) to a new path with the new tag lengths; it
// finds them through an index by path, read again whenever the folder's time shows another process wrote
// there (a write in the very clock tick of one of ours may go unseen until the next). The
// registry key of MiraShareSetRegPath receives "IPCPort" (REG_DWORD) and "ID3Path" (REG_SZ).
//
// Ports: MiraShareGetIPCPort and MiraGetPort report loopback TCP ports the libraries hold open (bound and
// listening) from start to finish, so no other program takes them; nothing is served on them yet.
//
// GenHWID: MD5 of "MxMiraHWID:" + the first line of /etc/machine-id (else /var/lib/dbus/machine-id, else
// the host name), as four little-endian 32-bit values: stable per machine, not the raw machine id.
#pragma once

#include "platform/registry.h"
#include "platform/windows.h"

#define MIRA_STATUS_SIZE 832

#define MIRA_MSG_STARTED 0x2400
#define MIRA_MSG_STATUSTEXT 0x2401
#define MIRA_MSG_COMPLETED 0x2402
#define MIRA_MSG_SIZEKNOWN 0x2410
#define MIRA_MSG_PROGRESS 0x2411
#define MIRA_MSG_DATADONE 0x2412
#define MIRA_MSG_PAUSED 0x2420
#define MIRA_MSG_FAILED 0x2430
#define MIRA_MSG_NEXTADDRESS 0x2431
#define MIRA_MSG_RESUMING 0x2432
#define MIRA_MSG_RESTARTING 0x2433
#define MIRA_MSG_CONNECTING 0x2434

#define MIRA_STATE_IDLE 0
#define MIRA_STATE_RUNNING 1
#define MIRA_STATE_PAUSED 2
#define MIRA_STATE_COMPLETED 3
#define MIRA_STATE_FAILED 4
#define MIRA_STATE_CANCELLED 5

#define MIRA_ERR_NONE 0
#define MIRA_ERR_ARGUMENTS 1   // no address, no target, or a target the drive map does not hold
#define MIRA_ERR_CONNECT 2     // the transfer failed (connection, time-out, protocol)
#define MIRA_ERR_HTTP 3        // the server answered with an error status
#define MIRA_ERR_SHORTER 4     // the server sent fewer bytes than it announced
#define MIRA_ERR_LONGER 5      // the server sent more bytes than it announced
#define MIRA_ERR_WRITE 6       // the ".part" cannot be written or renamed
#define MIRA_ERR_DISKFULL 7    // the target's drive lacks room for the announced size
#define MIRA_ERR_BUSY 8        // another task (of any process) is writing the same target
#define MIRA_ERR_EXISTS 9      // a file is at the target already: it is not replaced, the ".part" stays

// Download modes of MiraSetDownloadMode; the module asks for 2.
#define MIRA_MODE_HTTP 2

typedef void* MIRATASK;

#define MIRA_API __attribute__((visibility("default")))

extern "C" {

// ---- engine ----
// 1 when the engine runs (its port is open), 0 otherwise. Several calls are fine.
MIRA_API int MiraInitLibrary(void);
// Stops every task (as a cancel without removing their ".part") and closes the port.
MIRA_API void MiraFiniLibrary(void);
MIRA_API void MiraSetIPCPort(int nPort);
MIRA_API void MiraSetUserID(const char* pszUserID);
// The engine's port, 0 when not started.
MIRA_API int MiraGetPort(void);

// A new idle task, or null when out of resources.
MIRA_API MIRATASK CreateMiraTask(void);
// Cancels a running task (keeping its ".part"), waits for it, and frees the handle.
MIRA_API void DestroyMiraTask(MIRATASK hTask);
MIRA_API void MiraSetCallback(MIRATASK hTask, HWND hWnd, int nReserved);
MIRA_API void MiraSetBlockMessage(MIRATASK hTask, int bBlock);
MIRA_API void MiraSetDownloadMode(MIRATASK hTask, int nMode);
// The caller's name goes into the User-Agent; longer names are cut to 256 bytes.
MIRA_API void MiraSetCaller(MIRATASK hTask, const char* pszCaller);
// Starts the transfer on the task's own thread and returns at once: 1 when started (or, after a pause
// asked before the start, ended paused at once), 0 when the task is unknown, busy or cancelled before
// it started, or the arguments are unusable (then the task has ended failed, and waiting returns).
// The strings are copied.
MIRA_API int MiraDownloadUrllist(MIRATASK hTask, const char** ppszUrls, int nCount, const char* pszTarget);
// Starts again with the last list after a pause or a failure; 0 when there is nothing to resume.
MIRA_API int MiraResumeDownloadUrllist(MIRATASK hTask);
// Blocks until the task is not running; returns its state (MIRA_STATE_*), -1 for an unknown handle.
MIRA_API int MiraWaitDownload(MIRATASK hTask);
// Stops the transfer and keeps the ".part"; the task ends paused.
MIRA_API void MiraPauseDownloadUrllist(MIRATASK hTask);
// Stops the transfer and removes its ".part"; nothing is posted afterwards.
MIRA_API void MiraCancelDownloadUrllist(MIRATASK hTask);
// Fills MIRA_STATUS_SIZE bytes; 0 (buffer zeroed when not null) for an unknown handle, else 1. The last
// 64 tasks destroyed keep their final status here, for the messages still queued for their windows.
MIRA_API int MiraGetStatusInfo(MIRATASK hTask, void* pBuffer);

// ---- share companion ----
MIRA_API int MiraShareSetRegPath(HKEY hRoot, const char* pszKeyPath);
MIRA_API void MiraShareSetUserID(const char* pszUserID);
MIRA_API void MiraShareStart(void);
MIRA_API int MiraShareGetIPCPort(void);
MIRA_API void MiraShareSetID3Path(const char* pszFolder);
// Records a file by its MD5 text (32 hexadecimal digits); false without a share folder or on bad input.
MIRA_API bool MiraShareCommitFile(const char* pszText, const char* pszPath, const char* pszMD5);
// Stores the raw tag blocks of a committed MD5: 1, or 0 on failure.
MIRA_API int MiraShareSetID3(const char* pszMD5, const char* pTail, int nTailLen, const char* pHeader, int nHeaderLen);
// The file of a record moved (or was rewritten): 1, or 0 when no record has that path.
MIRA_API int MiraShareEditID3(const char* pszOldPath, const char* pszNewPath, int nTailLen, int nHeaderLen);
MIRA_API void MiraShareFinish(void);

// ---- machine identity ----
MIRA_API void GenHWID(DWORD* pdwID);

}  // extern "C"
