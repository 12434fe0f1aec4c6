// Kuwo's playlists and download folder, for the discovery of other players. Version 2.0.0.1 keeps them
// in one text layout, later versions in another; both are read line by line.
#include <string>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kKuwo[] = "\xBF\xE1\xCE\xD2\xD2\xF4\xC0\xD6\xBA\xD0";  // Kuwo's own name
const char kPrefix[] = "\xBF\xE1\xCE\xD2\xD2\xF4\xC0\xD6\xBA\xD0_";
const char kFirstLayout[] = "2.0.0.1";

// The text after "songpath=" on the last line that begins with it.
CString SettingsDownloadPath(const CString& strFile) {
    static const char kKey[] = "songpath=";
    CString strPath;
    mxplayers::ForEachLine(strFile, [&strPath](const CString& strLine) {
        if (strLine.Find(kKey) == 0) strPath = strLine.Mid(int(sizeof kKey - 1));
    });
    return strPath;
}

// The text between the first pszOpen of the line and the next pszClose after it; false without both.
bool Between(const CString& strLine, LPCSTR pszOpen, LPCSTR pszClose, CString& strText) {
    int nOpen = strLine.Find(pszOpen);
    if (nOpen < 0) return false;
    nOpen += int(std::string(pszOpen).size());
    int nClose = strLine.Find(pszClose, nOpen);
    if (nClose < 0) return false;
    strText = strLine.Mid(nOpen, nClose - nOpen);
    return true;
}

// The file name of a path.
CString FileName(const CString& strPath) { return strPath.Mid(strPath.ReverseFind('\\') + 1); }

// One of Kuwo's list files: on each line the text between the markers is a path; the list is named
// from its file's name and kept when one of its songs passes the check.
void ReadKuwoList(const CString& strFile, const CString& strName, LPCSTR pszOpen, LPCSTR pszClose, bool bUnescape,
                  int (*pfnValid)(CString), CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    PLAYLISTINFO info;
    mxplayers::CListPathTaker take(info, pfnValid);
    mxplayers::ForEachLine(strFile, [&](const CString& strLine) {
        CString strPath;
        if (!Between(strLine, pszOpen, pszClose, strPath)) return;
        if (bUnescape) strPath.Replace("&amp;", "&");
        take(strPath);
    });
    if (info.lstFilePath.IsEmpty()) return;
    info.strPLName = CMxPublic::GetUniquePLName(CMxPublic::GbkLiteral(kPrefix) + strName);
    pList->AddTail(info);
}

}  // namespace

void CMxPublic::FindKWMusic(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    registry_string<std::string> home("SOFTWARE\\KWMUSIC\\KWMUSIC_HOME", HKEY_LOCAL_MACHINE);
    CString strFolder{std::string(home)};
    if (mxplayers::EndsWithBackslash(strFolder)) strFolder = strFolder.Left(strFolder.GetLength() - 1);
    if (strFolder.IsEmpty()) return;
    CString strVersion = GetExeVersion(strFolder + "\\KwMusic.exe");
    bool bFirstLayout = strVersion == kFirstLayout;
    OTHERPLAYERINFO info;
    CString strDownload = bFirstLayout ? GetKWMusicDownloadPath_V2_0_0_1(strFolder) : GetKWMusicDownloadPath_VNormal(strFolder);
    if (!strDownload.IsEmpty()) info.lstMusicPath.AddTail(strDownload);
    CList<CString, CString> lstFiles;
    if (bFirstLayout)
        GetKWMusicPlayListFiles_V2_0_0_1(strFolder, &lstFiles);
    else
        GetKWMusicPlayListFiles_VNormal(strFolder, &lstFiles);
    for (POSITION pos = lstFiles.GetHeadPosition(); pos;) {
        CString strFile = lstFiles.GetNext(pos);
        if (bFirstLayout)
            GetKWMusicPlayList_V2_0_0_1(strFile, &info.lstPlayList);
        else
            GetKWMusicPlayList_VNormal(strFile, &info.lstPlayList);
    }
    if (info.lstPlayList.IsEmpty()) mxplayers::PostNoPlayList(hWnd, kKuwo, strVersion);
    if (!info.lstPlayList.IsEmpty() || !info.lstMusicPath.IsEmpty()) pMap->SetAt(OPK_KUWO, info);
}

CString CMxPublic::GetKWMusicDownloadPath_V2_0_0_1(CString strFolder) { return SettingsDownloadPath(strFolder + "\\config.ini"); }

CString CMxPublic::GetKWMusicDownloadPath_VNormal(CString strFolder) { return SettingsDownloadPath(strFolder + "\\conf.ini"); }

void CMxPublic::GetKWMusicPlayListFiles_V2_0_0_1(CString strFolder, CList<CString, CString>* pList) {
    if (!pList) return;
    CString strLists = strFolder + "\\playlist";
    for (const CString& strName : mxplayers::ListFolder(strLists, "*.pl", false)) pList->AddTail(strLists + "\\" + strName);
}

void CMxPublic::GetKWMusicPlayListFiles_VNormal(CString strFolder, CList<CString, CString>* pList) {
    if (!pList) return;
    CString strLists = strFolder + "\\playlist";
    for (const CString& strName : mxplayers::ListFolder(strLists, "song*.xml", false)) pList->AddTail(strLists + "\\" + strName);
}

void CMxPublic::GetKWMusicPlayList_V2_0_0_1(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    // "name.pl": the path attributes, "&amp;" written out
    CString strName = FileName(strFile);
    int nDot = strName.Find('.');
    ReadKuwoList(strFile, nDot < 0 ? strName : strName.Left(nDot), "path=\"", "\"", true, &CheckValidFile, pList);
}

void CMxPublic::GetKWMusicPlayList_VNormal(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    // "song" + name + ".xml": the <path> elements
    CString strName = FileName(strFile);
    ReadKuwoList(strFile, strName.GetLength() >= 8 ? strName.Mid(4, strName.GetLength() - 8) : CString(), "<path>", "</path>", false,
                 &CheckValidFile, pList);
}
