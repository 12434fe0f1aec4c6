// Hooks for tests only: they cost nothing when unused.
#pragma once

#include "platform/windef.h"

// Re-reads MX_HOME, MX_DRIVES, MX_REGISTRY, MX_ACP and the shell folders from the environment and closes
// the registry database, so that a test can give each case a fresh emulated machine. Call it only while
// no other thread uses the platform layer.
void MxPlatformReload();

// Makes GetDiskFreeSpaceExA report `freeBytes` free (and available) on the drive of `driveLetter`;
// a value of ~0ull removes the override.
void MxSetFreeSpaceOverride(char driveLetter, ULONGLONG freeBytes);

// Calls the hook at each step of a move onto another device (0 the unnamed copy is made, 1 its bytes are
// written, 2 they are on disk, 3 it has the target's name, 4 the source is gone), and of CopyFileA
// (steps 0 to 3), so that a test can cut the move or copy short there; null removes it.
void MxSetMoveStepHook(void (*pfnHook)(int nStep));

// Makes the next `count` CreateThread calls fail with error 8, as a machine out of resources would.
void MxFailNextThreadCreations(int count);

// Makes the next `count` creations of an XML document fail, as on a machine without the XML service.
void MxFailNextDocumentCreations(int count);

// Time limits of the XML service's HTTP loads (0 restores 10 s to connect, 30 s in all).
void MxSetHttpTimeouts(DWORD connectMs, DWORD totalMs);

// Makes the XML service's HTTP loads connect elsewhere: "HOST:PORT:CONNECT-HOST:CONNECT-PORT" (libcurl's
// CONNECT_TO form), e.g. "127.0.0.1:8088:127.0.0.1:40123"; null or "" removes it.
void MxSetHttpConnectTo(const char* mapping);
