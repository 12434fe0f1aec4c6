// What a file operation reports, and how: the result codes, the blocks posted with the messages, the
// message numbers, and the callback interface the workers report through.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/windows.h"

// The result of an analysis, of a worker body run in the caller, and the code of every error message.
enum FileOperateResultCode {
    FOR_SUCCESS = 0,
    FOR_FILE_NOT_FOUND = 1,
    FOR_NO_FILE = 2,
    FOR_NOT_A_FILE = 3,
    FOR_FOLDER_NOT_FOUND = 4,
    FOR_NO_VALID_PATH = 5,
    FOR_NOT_A_FOLDER = 6,
    FOR_NO_FILES_FOUND = 7,
    FOR_READ_FAILED = 8,  // the file exists but cannot be opened for reading (no read access, in use)
    FOR_NOT_AUDIO = 13,
    FOR_DISK_FULL = 14,
    FOR_ALREADY_IMPORTED = 15,
    FOR_NO_DEST_DIRECTORY = 18,
    FOR_NO_DEST_NAME = 19,
    FOR_CREATE_FOLDER_FAILED = 20,
    FOR_COPY_FAILED = 21,
    FOR_MOVE_FAILED = 22,
    FOR_DB_WRITE_FAILED = 24,
    FOR_DRM_PROTECTED = 25,
    FOR_SCRIPT_COMMANDS = 26,
    FOR_NONE = 27,
    FOR_NAME_NOT_IN_CODE_PAGE = 28  // a walked name the system code page cannot hold (listed with '?'), skipped
};

// The block posted with most file-operation messages; the receiving window deletes it.
struct MX_EXPORT FILEOPERATEMSGINFO {
    CString strText1;
    CString strText2;
    CString strText3;
    CString strText4;
    int nValue = 0;
    FileOperateResultCode nCode = FOR_NONE;
};

// The block of WM_MX_DOWNLOAD_NEW_AUDIO_INFO; the receiving window deletes it.
struct MX_EXPORT NEWAUDIOINFOMSG {
    CString strText1;
    CString strText2;
    CString strText3;
};

typedef CList<CString, CString> CStringList;

// The file-operation messages. wParam is the operation identifier; lParam is a FILEOPERATEMSGINFO*
// (B), a NEWAUDIOINFOMSG* (N), a CStringList* (L), a count (C) or 0, as noted.
enum : UINT {
    WM_MX_BEGIN_COPY_SINGLE_FILE = WM_USER + 3200,           // B
    WM_MX_COPYING_SINGLE_FILE = WM_USER + 3201,              // B
    WM_MX_END_COPY_SINGLE_FILE = WM_USER + 3202,             // B
    WM_MX_BEGIN_COPY_MULTI_FILES = WM_USER + 3203,           // C
    WM_MX_BEGIN_COPY_ONE_OF_MULTI_FILES = WM_USER + 3204,    // B
    WM_MX_END_COPY_ONE_OF_MULTI_FILES = WM_USER + 3205,      // B
    WM_MX_END_COPY_MULTI_FILES = WM_USER + 3206,             // 0
    WM_MX_BEGIN_MOVE_SINGLE_FILE = WM_USER + 3207,           // B
    WM_MX_MOVING_SINGLE_FILE = WM_USER + 3208,               // B
    WM_MX_END_MOVE_SINGLE_FILE = WM_USER + 3209,             // B
    WM_MX_BEGIN_MOVE_MULTI_FILES = WM_USER + 3210,           // C
    WM_MX_BEGIN_MOVE_ONE_OF_MULTI_FILES = WM_USER + 3211,    // B
    WM_MX_END_MOVE_ONE_OF_MULTI_FILES = WM_USER + 3212,      // B
    WM_MX_END_MOVE_MULTI_FILES = WM_USER + 3213,             // 0
    WM_MX_BEGIN_DELETE_SINGLE_FILE = WM_USER + 3214,         // B
    WM_MX_END_DELETE_SINGLE_FILE = WM_USER + 3215,           // B
    WM_MX_BEGIN_DELETE_MULTI_FILES = WM_USER + 3216,         // 0
    WM_MX_BEGIN_DELETE_ONE_OF_MULTI_FILES = WM_USER + 3217,  // B
    WM_MX_END_DELETE_ONE_OF_MULTI_FILES = WM_USER + 3218,    // B
    WM_MX_END_DELETE_MULTI_FILES = WM_USER + 3219,           // 0
    WM_MX_FILEOPERATE_ERROR = WM_USER + 3220,                // B, with the code
    WM_MX_FILEOPERATE_THREAD_EXIT = WM_USER + 3221,          // 0
    WM_MX_BEGIN_COPY_ONE_OF_MULTI_PATH = WM_USER + 3222,     // B
    WM_MX_END_COPY_ONE_OF_MULTI_PATH = WM_USER + 3223,       // B
    WM_MX_BEGIN_MOVE_ONE_OF_MULTI_PATH = WM_USER + 3224,     // B
    WM_MX_END_MOVE_ONE_OF_MULTI_PATH = WM_USER + 3225,       // B
    WM_MX_BEGIN_IMPORT = WM_USER + 3226,                     // C
    WM_MX_BEGIN_IMPORT_ONE_OF_PLAYLIST = WM_USER + 3227,     // B
    WM_MX_END_IMPORT_ONE_OF_PLAYLIST = WM_USER + 3228,       // B
    WM_MX_BEGIN_IMPORT_ONE_OF_FILE = WM_USER + 3231,         // B
    WM_MX_END_IMPORT_ONE_OF_FILE = WM_USER + 3232,           // B
    WM_MX_END_IMPORT = WM_USER + 3233,                       // 0
    WM_MX_IMPORT_SEARCHING = WM_USER + 3234,                 // B
    WM_MX_DOWNLOAD_NEW_AUDIO_INFO = WM_USER + 3235,          // N
    WM_MX_END_COPY_ANALYZED_MULTI_FILES = WM_USER + 3236,    // L
    WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES = WM_USER + 3237 // L
};

// How the workers report. Every report's first argument is the operation identifier. A list passed to
// slot 15 or 16 passes to the callback with the call.
class MX_EXPORT CFileOperateCallBack {
public:
    virtual void OnImportSearching(int nID, CString strText) = 0;
    virtual void OnBeginImport(int nID, unsigned long nCount) = 0;
    virtual void OnBeginImportOneOfPlayList(int nID, CString strName) = 0;
    virtual void OnEndImportOneOfPlayList(int nID, CString strName) = 0;
    virtual void OnBeginImportOneOfFile(int nID, CString strPath) = 0;
    virtual void OnEndImportOneOfFile(int nID, CString str1, CString str2, int nValue) = 0;
    virtual void OnEndImport(int nID) = 0;
    virtual void OnBeginCopySingleFile(int nID, CString str1, CString str2) = 0;
    virtual void OnCopyingSingleFile(int nID, CString str1, CString str2, int nValue) = 0;
    virtual void OnEndCopySingleFile(int nID, CString str1, CString str2) = 0;
    virtual void OnBeginCopyMultiFiles(int nID, unsigned long nCount) = 0;
    virtual void OnBeginCopyOneOfMultiPath(int nID, CString strPath) = 0;
    virtual void OnBeginCopyOneOfMultiFiles(int nID, CString str1, CString str2) = 0;
    virtual void OnEndCopyOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) = 0;
    virtual void OnEndCopyOneOfMultiPath(int nID, CString strPath) = 0;
    virtual void OnEndCopyAnalyzedMultiFiles(int nID, CStringList* pList) = 0;
    virtual void OnEndCopyNotAnalyzedMultiFiles(int nID, CStringList* pList) = 0;
    virtual void OnEndCopyMultiFiles(int nID) = 0;
    virtual void OnBeginMoveSingleFile(int nID, CString str1, CString str2) = 0;
    virtual void OnMovingSingleFile(int nID, CString str1, CString str2, int nValue) = 0;
    virtual void OnEndMoveSingleFile(int nID, CString str1, CString str2) = 0;
    virtual void OnBeginMoveMultiFiles(int nID, unsigned long nCount) = 0;
    virtual void OnBeginMoveOneOfMultiPath(int nID, CString strPath) = 0;
    virtual void OnBeginMoveOneOfMultiFiles(int nID, CString str1, CString str2) = 0;
    virtual void OnEndMoveOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) = 0;
    virtual void OnEndMoveOneOfMultiPath(int nID, CString strPath) = 0;
    virtual void OnEndMoveMultiFiles(int nID) = 0;
    virtual void OnBeginDeleteSingleFile(int nID, CString strPath) = 0;
    virtual void OnEndDeleteSingleFile(int nID, CString strPath) = 0;
    virtual void OnBeginDeleteMultiFiles(int nID) = 0;
    virtual void OnBeginDeleteOneOfMultiFiles(int nID, CString strPath) = 0;
    virtual void OnEndDeleteOneOfMultiFiles(int nID, CString strPath, int nValue) = 0;
    virtual void OnEndDeleteMultiFiles(int nID) = 0;
    virtual void OnDownloadSetNewAudioInfo(int nID, CString str1, CString str2, CString str3) = 0;
    virtual void OnFileOperateError(int nID, CString s1, CString s2, FileOperateResultCode nCode, CString s3,
                                    CString s4) = 0;
    virtual void OnThreadExit(int nID) = 0;
    virtual ~CFileOperateCallBack() = default;
};
