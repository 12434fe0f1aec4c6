// Version resources of program files: the fixed file information (VS_FIXEDFILEINFO) of a PE file's
// RT_VERSION resource. Only the root block "\" can be queried.
#pragma once

#include "platform/windef.h"

#define VS_FFI_SIGNATURE 0xFEEF04BDUL
#define ERROR_BAD_FORMAT 11L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The size of the file's version block, 0 with the last error set when the file cannot be read, is no
// PE file (ERROR_BAD_FORMAT) or has no usable version resource (ERROR_RESOURCE_TYPE_NOT_FOUND).
// *lpdwHandle, when given, is set to 0.
DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
// Copies at most dwLen bytes of the version block into lpData; a shorter copy has its length word cut
// to what was copied, so VerQueryValueA never reads past it.
BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// "\" gives the block's VS_FIXEDFILEINFO; anything else, or a block without one, FALSE.
BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);
