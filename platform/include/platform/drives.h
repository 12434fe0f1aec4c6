// Drives as devices: a volume handle ("\\.\X:" or "\\?\X:") and the storage property query that tells
// how the drive is attached. Type and bus come from the drive map (MX_DRIVES); GetDriveTypeA is with the
// other file functions.
#pragma once

#include <string>

#include "platform/threads.h"
#include "platform/windef.h"

typedef BYTE BOOLEAN;

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define OPEN_EXISTING 3
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400UL

enum STORAGE_PROPERTY_ID { StorageDeviceProperty = 0, StorageAdapterProperty = 1 };
enum STORAGE_QUERY_TYPE { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};
typedef STORAGE_PROPERTY_QUERY* PSTORAGE_PROPERTY_QUERY;

enum STORAGE_BUS_TYPE {
    BusTypeUnknown = 0,
    BusTypeScsi,
    BusTypeAtapi,
    BusTypeAta,
    BusType1394,
    BusTypeSsa,
    BusTypeFibre,
    BusTypeUsb,
    BusTypeRAID,
    BusTypeiScsi,
    BusTypeSas,
    BusTypeSata,
    BusTypeSd,
    BusTypeMmc,
    BusTypeVirtual,
    BusTypeFileBackedVirtual,
    BusTypeSpaces,
    BusTypeNvme,
    BusTypeSCM,
    BusTypeUfs
};

struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;  // the whole descriptor with its strings, even when the caller's buffer held less
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;  // offsets of zero-terminated texts from the descriptor's start; 0 for none
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};
typedef STORAGE_DEVICE_DESCRIPTOR* PSTORAGE_DEVICE_DESCRIPTOR;

// Opens only volumes of the drive map: "\\.\X:" or "\\?\X:" with OPEN_EXISTING. Other names fail with
// ERROR_NOT_SUPPORTED (files are opened through CFile), an unknown drive with ERROR_FILE_NOT_FOUND.
// The handle is closed with CloseHandle.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void* lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// IOCTL_STORAGE_QUERY_PROPERTY for the device property: the standard query fills as much of a
// STORAGE_DEVICE_DESCRIPTOR as the buffer holds (at least its 8-byte header, else
// ERROR_INSUFFICIENT_BUFFER); the exists query only succeeds. Other codes: ERROR_INVALID_FUNCTION.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, void* lpOverlapped);

// The drive map in use, one item a line ("X:=HOSTPATH,type,bus" for a drive, "X:\\FOLDER=HOSTPATH" for a
// folder served from another host folder; UTF-8).
std::string MxGetDriveMap();
// Keeps a drive map for this machine in MX_HOME/drives, replacing the kept one whole; it is used from the
// next start (or MxPlatformReload) when MX_DRIVES is not set. FALSE with the error of the failed write.
BOOL MxSaveDriveMap(const std::string& items);
