// Winamp's playlists, for the discovery of other players: versions 2 to 5 keep "winamp.m3u" and a media
// library index "Plugins\ml\playlists.xml" (in the install folder, or from 5.5 on in the user's
// application data), Winamp3 keeps PLS files under its install folder.
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kWinampKey[] = "Software\\Winamp\\";  // the key's default value: the install folder
const char kWinamp3Uninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp3\\UninstallString";
const char kWinamp3Version[] = "1.0.0.488";  // the only Winamp3 whose PLS layout is known
const char kDefaultListName[] = "Winamp_[\xC4\xAC\xC8\xCF]";  // Winamp_[默认]

CString ReadRegistryText(const char* pszName, HKEY hBase) {
    return CString(std::string(registry_string<std::string>(pszName, hBase)).c_str());
}

// The folder part of a path, without the last "\".
CString FolderOf(const CString& strPath) {
    int nSlash = strPath.ReverseFind('\\');
    return nSlash < 0 ? CString() : strPath.Left(nSlash);
}

void DropLineEnd(CString& strLine) {
    while (!strLine.IsEmpty() && (strLine[strLine.GetLength() - 1] == '\r' || strLine[strLine.GetLength() - 1] == '\n'))
        strLine = strLine.Left(strLine.GetLength() - 1);
}

}  // namespace

void CMxPublic::ReadWinampM3U(CString strFile, CString strName, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    CMxFile file;
    if (!file.Open(strFile, CFile::modeRead | CFile::shareDenyNone | CFile::typeText)) return;
    if (file.GetLength() > mxplayers::kMaxPlayerFile) return;
    PLAYLISTINFO info;
    info.strPLName = GetUniquePLName(strName);
    mxplayers::CListPathTaker take(info, &CheckValidFile);
    const CString strFolder = mxplayers::FolderOf(strFile);
    CString strLine;
    while (file.ReadString(strLine)) {
        DropLineEnd(strLine);
        if (strLine.Find("#EXT") < 0) take(mxplayers::ResolveListPath(strFolder, strLine));
    }
    file.Close();
    if (!info.lstFilePath.IsEmpty()) pList->AddTail(info);
}

void CMxPublic::GetWinampDefaultPlayList_VNormal(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    ReadWinampM3U(strFolder + "\\winamp.m3u", GbkLiteral(kDefaultListName), pList);
}

void CMxPublic::GetWinampUserPlayList_VNormal(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    mxplayers::CComScope com;
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    CString strLibrary = strFolder + "\\Plugins\\ml";
    if (!doc || !XmlReader::Load(doc.Get(), strLibrary + "\\playlists.xml")) return;
    CXmlNodePtr root = XmlReader::Select(doc.Get(), "playlists");
    mxplayers::ForEachChildElement(root.Get(), [&](IXMLDOMNode* pNode, const CString& strName) {
        CString strTitle, strFile;
        if (strName != "playlist" || !XmlReader::Attribute(pNode, "filename", strFile) || strFile.IsEmpty()) return;
        XmlReader::Attribute(pNode, "title", strTitle);
        ReadWinampM3U(strLibrary + "\\" + strFile, "Winamp_" + strTitle, pList);
    });
}

namespace {

// From 5.5 on the lists live in the application-data folder named like the install folder.
CString GetWinampDataFolder_V5_5(CString strInstallFolder) {
    while (mxplayers::EndsWithBackslash(strInstallFolder))
        strInstallFolder = strInstallFolder.Left(strInstallFolder.GetLength() - 1);
    int nSlash = strInstallFolder.ReverseFind('\\');
    return CMxPublic::GetMusicBoxDir(CSIDL_APPDATA) + "\\" + (nSlash < 0 ? strInstallFolder : strInstallFolder.Mid(nSlash + 1));
}

}  // namespace

void CMxPublic::GetWinampDefaultPlayList_V5_5(CString strInstallFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    GetWinampDefaultPlayList_VNormal(GetWinampDataFolder_V5_5(strInstallFolder), pList);
}

void CMxPublic::GetWinampUserPlayList_V5_5(CString strInstallFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    GetWinampUserPlayList_VNormal(GetWinampDataFolder_V5_5(strInstallFolder), pList);
}

void CMxPublic::ReadWinampPLS(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    CMxFile file;
    if (!file.Open(strFile, CFile::modeRead | CFile::shareDenyNone | CFile::typeText)) return;
    if (file.GetLength() > mxplayers::kMaxPlayerFile) return;
    PLAYLISTINFO info;
    bool bNamed = false;
    mxplayers::CListPathTaker take(info, &CheckValidFile);
    const CString strFolder = mxplayers::FolderOf(strFile);
    CString strLine;
    while (file.ReadString(strLine)) {
        DropLineEnd(strLine);
        CString strText = UTF82GBDecode(strLine);
        int nAt = strText.Find("PlaylistName=");
        if (nAt >= 0) {
            info.strPLName = strText.Mid(nAt + 13);
            bNamed = true;
            continue;
        }
        int nFile = strText.Find("File");
        int nEqual = nFile < 0 ? -1 : strText.Find('=', nFile + 4);
        if (nEqual < 0) continue;
        CString strPath = strText.Mid(nEqual + 1);
        strPath.Replace("\\\\", "\\");
        take(mxplayers::ResolveListPath(strFolder, strPath));
    }
    file.Close();
    if (!bNamed) {  // a list without its name line keeps the file's own name
        CString strName = strFile.Mid(strFile.ReverseFind('\\') + 1);
        info.strPLName = strName.Left(strName.GetLength() - 4);
    }
    if (!info.lstFilePath.IsEmpty()) pList->AddTail(info);
}

void CMxPublic::GetWinampPlayList_V3(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    mxplayers::ForEachFile(strFolder + "\\Wacs\\data\\pledit", "*.pls",
                           [pList](const CString& strPath, const CString&) { ReadWinampPLS(strPath, pList); });
}

void CMxPublic::FindWinamp(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    OTHERPLAYERINFO info;

    CString strFolder = ReadRegistryText(kWinampKey, HKEY_CURRENT_USER);
    if (!strFolder.IsEmpty()) {
        CString strVersion = GetInternalProductVersion(strFolder + "\\winamp.exe");
        CList<PLAYLISTINFO, PLAYLISTINFO&> lstFound(10);
        if (FindNoCase(strVersion, "5.5") == 0) {
            GetWinampDefaultPlayList_V5_5(strFolder, &lstFound);
            GetWinampUserPlayList_V5_5(strFolder, &lstFound);
        } else {
            GetWinampDefaultPlayList_VNormal(strFolder, &lstFound);
            GetWinampUserPlayList_VNormal(strFolder, &lstFound);
        }
        if (lstFound.IsEmpty()) mxplayers::PostNoPlayList(hWnd, "Winamp", strVersion);
        for (POSITION pos = lstFound.GetHeadPosition(); pos;) info.lstPlayList.AddTail(lstFound.GetNext(pos));
    }

    CString strUninstaller = ReadRegistryText(kWinamp3Uninstall, HKEY_LOCAL_MACHINE);
    if (!strUninstaller.IsEmpty()) {
        CString strFolder3 = FolderOf(strUninstaller);
        CString strVersion = GetInternalProductVersion(strFolder3 + "\\Studio.exe");
        CList<PLAYLISTINFO, PLAYLISTINFO&> lstFound(10);
        if (strVersion == kWinamp3Version) GetWinampPlayList_V3(strFolder3, &lstFound);
        if (lstFound.IsEmpty()) mxplayers::PostNoPlayList(hWnd, "Winamp", strVersion);
        for (POSITION pos = lstFound.GetHeadPosition(); pos;) info.lstPlayList.AddTail(lstFound.GetNext(pos));
    }

    if (!info.lstPlayList.IsEmpty()) pMap->SetAt(OPK_WINAMP, info);
}
