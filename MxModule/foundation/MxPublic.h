// Stateless utilities of the module: URL coding, code-page repair and conversion, case-blind search,
// the web-address test, file digests and sizes, and disk, folder and program-version helpers.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/importers/OtherPlayerInfo.h"
#include "platform/collections.h"
#include "platform/drives.h"
#include "platform/text.h"

class MX_EXPORT CMxPublic {
public:
    // 0-15 for a hexadecimal digit, -1 for anything else.
    static int HexDigit(char c);
    // Every byte outside A-Z a-z 0-9 ! $ ( ) * , - . _ becomes %XX (a space too).
    static CString URLEncode(const CString& strText);
    // "+" becomes a space; %XX with two hexadecimal digits becomes its byte; any other "%" stays.
    static CString URLDecode(CString strText);
    // Percent-decoded UTF-8 converted to the system code page; "" when it is not UTF-8 or too long.
    static CString UTF82GBDecode(CString& strText);
    // The file's MD5 as 32 upper-case hexadecimal digits; "" when it cannot be opened.
    static CString GetFileMD5(CString strPath);
    // The file's length; 0 when it cannot be opened.
    static DWORD GetFileLen(CString strPath);
    // Index of part in text with both upper-cased, or -1.
    static int FindNoCase(CString strText, CString strPart);
    // 0 when the first n bytes match with ASCII letters compared without case (n < 1 matches), else -1.
    static int MemCmpNoCase(const char* a, const char* b, int n);
    // Drops a lead byte left dangling when double-byte text was cut.
    static void CheckStringValidTail(char* pBuffer, int nLength);
    static void CheckStringValidTail(CString& strText);
    // 0 for a text shorter than 3 characters or one that starts with a drive letter and ":", else 1.
    static int IsWebLink(CString strText);
    // One of the module's GBK literals in the system code page: the same bytes under 936 and 54936
    // (GB18030 extends GBK), converted once per code page otherwise.
    static CString GbkLiteral(const char* pszGbk);

    // "%d.%d.%d.%d" of the file or product version in a program's version resource; "" without one.
    static CString GetExeVersion(CString strPath);
    static CString GetInternalProductVersion(CString strPath);
    // 1 when the folder holds nothing but hidden or system entries, or cannot be listed; else 0.
    static int IsEmptyDirectory(CString strFolder);
    // Removes the folder and then each parent up to, not including, strTop. 0 when a removal fails or
    // the folder has no drive.
    static int RemoveMultiDirectory(CString strTop, CString strFolder);
    // A shell folder (CSIDL number) without a trailing ""; the program's folder when the shell does not
    // know it, "" when it has no file-system path.
    static CString GetMusicBoxDir(int nFolder);
    // The storage device property of a volume handle into pDevDesc (its Size field says how much fits).
    static BOOL GetDisksProperty(HANDLE hDevice, PSTORAGE_DEVICE_DESCRIPTOR pDevDesc);
    // 1 for a fixed drive that is not attached by USB ("C:" or "C:\..."), else 0.
    static int IsLocalDriver(CString strDrive);
    // The desktop, the music folder, then the music folders found on each local drive from A to Z.
    static void GetNeedSearchPaths(CList<CString, CString>* pList);
    // Appends each folder below strFolder whose name holds a music keyword; other folders are searched.
    static void GetNeedSearchPaths(CString strFolder, CList<CString, CString>* pList);

    // ---- other players: discovery (the readers of each player follow) ----
    // Fills the map with the players found, key 1 to 6, reporting to hWnd (may be null); a set cancel
    // flag ends it between players.
    static void FindOtherPlayerInfo(OTHERPLAYERMAP* pMap, HWND hWnd, int* pCancel);
    // The same, appended to the list in reverse key order, without the keys.
    static void FindOtherPlayerInfo(CList<OTHERPLAYERINFO, OTHERPLAYERINFO&>* pList, HWND hWnd, int* pCancel);
    // The name the first time, then name_1, name_2, ... within one discovery.
    static CString GetUniquePLName(CString strName);
    static CString GetITunePLName(CString strName, CMap<CString, LPCSTR, int, int>* pMap);
    static void FindTTPlayer(OTHERPLAYERMAP* pMap, HWND hWnd);
    static void FindKuGou(OTHERPLAYERMAP* pMap, HWND hWnd);
    static void FindKWMusic(OTHERPLAYERMAP* pMap, HWND hWnd);
    static void FindWMP(OTHERPLAYERMAP* pMap, HWND hWnd);
    static void FindITune(OTHERPLAYERMAP* pMap, HWND hWnd);
    static void FindWinamp(OTHERPLAYERMAP* pMap, HWND hWnd);

    // ---- Winamp, Windows Media Player and iTunes readers ----
    // Winamp 2 to 5: "winamp.m3u" of the folder, then the lists named in "Plugins\ml\playlists.xml".
    static void GetWinampDefaultPlayList_VNormal(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    static void GetWinampUserPlayList_VNormal(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    // Winamp 5.5 and later: the same, from the application-data folder named like the install folder.
    static void GetWinampDefaultPlayList_V5_5(CString strInstallFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    static void GetWinampUserPlayList_V5_5(CString strInstallFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    // Winamp3: every "Wacs\data\pledit\*.pls" of the install folder.
    static void GetWinampPlayList_V3(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    // One M3U file as a list of that name (made unique), and one PLS file; kept when a song exists.
    static void ReadWinampM3U(CString strFile, CString strName, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    static void ReadWinampPLS(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    // Windows Media Player's library databases, other than its folder list.
    static void GetWMDBFiles(CList<CString, CString>* pList);
    // The existing ".wpl" files the databases mention, sample lists left out, each once.
    static void GetWMPUserPlayListFiles(CList<CString, CString>* pDBFiles, CList<CString, CString>* pPLFiles);
    // The ".wpl" files of the player's application-data folder.
    static void GetWMPDefaultPlayListFiles(CList<CString, CString>* pList);
    // One WPL file as a list "WMP_" + title; its relative songs are found from its folder.
    static void GetWMPPlayList(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    // The music folder and the user's own playlists of the iTunes library file; nCount gets the lists read.
    static void GetITuneDownloadPathAndPlayList(OTHERPLAYERINFO* pInfo, int& nCount);


    // ---- KuGou, TTPlayer and Kuwo readers ----
    // KuGou 2007: per-user record files below the install folder; 2008: XML files in it.
    static void FindKuGou2007(OTHERPLAYERINFO* pInfo, HWND hWnd);
    static void FindKuGou2008(OTHERPLAYERINFO* pInfo, HWND hWnd);
    // The sub-folders of strFolder (full paths), one per KuGou 2007 user.
    static void GetKugou2007UserDirec(CString strFolder, CList<CString, CString>* pList);
    // The user's download folder from Option.ini; "" without one.
    static CString GetKuGou2007DownloadPath(CString strUserFolder);
    // Shared folder number -> folder path (ending in "\").
    static void GetKuGou2007ShareDirc(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pDirMap);
    // Shared file number (record index + 1) -> full path.
    static void GetKuGou2007ShareFile(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pDirMap,
                                      CMap<int, int, CString, LPCSTR>* pFileMap);
    // (playlist number, path) in file order, several per number; 0 is the default list, which also gets
    // every file no entry refers to.
    typedef std::vector<std::pair<int, CString>> KUGOUITEMS;
    static void GetKuGou2007PlayListItem(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pFileMap,
                                         KUGOUITEMS* pItems);
    // Appends the default list and the named playlists, each only with songs that are there.
    static void GetKuGou2007PlayListName(CString strUserFolder, KUGOUITEMS* pItems,
                                         CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    static CString GetKuGou2008DownloadPath(CString strFolder);
    static void GetKuGou2008PlayList(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);

    // TTPlayer: the .ttbl files of its PlayList folder (full paths), and one such file read.
    static void GetTTPlayerPlayListFiles(CString strFolder, CList<CString, CString>* pList);
    static void ParseTTBLFile(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);

    // Kuwo: version 2.0.0.1 keeps config.ini and playlist\*.pl, later ones conf.ini and playlist\song*.xml.
    static CString GetKWMusicDownloadPath_V2_0_0_1(CString strFolder);
    static CString GetKWMusicDownloadPath_VNormal(CString strFolder);
    static void GetKWMusicPlayListFiles_V2_0_0_1(CString strFolder, CList<CString, CString>* pList);
    static void GetKWMusicPlayListFiles_VNormal(CString strFolder, CList<CString, CString>* pList);
    static void GetKWMusicPlayList_V2_0_0_1(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);
    static void GetKWMusicPlayList_VNormal(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList);


    // ---- end of the player readers ----

    static CMap<CString, LPCSTR, int, int> m_mapPLName2Index;

protected:
    // Whether the file exists and is a supported audio file by its content.
    static int CheckValidFile(CString strPath);
    // Adds the audio files (by content) at any depth below the folder to nCount.
    static void CheckDownloadPathInfo(CString strFolder, DWORD& nCount);
    // Whether CheckDownloadPathInfo would count an audio file: stops at the first one, and gives up after
    // 100,000 entries (a folder given as a drive's root).
    static bool HoldsAudioBelow(CString strFolder);
};
