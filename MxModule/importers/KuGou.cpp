// KuGou's playlists and music folders, for the discovery of other players: the 2007 edition keeps fixed-size
// records in four files per user, the 2008 edition two XML files in its install folder.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kKuGou[] = "\xBF\xE1\xB9\xB7";                                  // KuGou's own name
const char kPrefix2007[] = "\xBF\xE1\xB9\xB7" "2007_";
const char kDefaultList2007[] = "\xBF\xE1\xB9\xB7" "2007_[\xC4\xAC\xC8\xCF]";  // the default list
const char kPrefix2008[] = "\xBF\xE1\xB9\xB7" "2008_";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kBeta2008[] = "\xBF\xE1\xB9\xB7\xD2\xF4\xC0\xD6" "2008(\xB2\xE2\xCA\xD4\xB0\xE6)";
const char kRelease2008[] = "\xBF\xE1\xB9\xB7\xD2\xF4\xC0\xD6" "2008(\xD5\xFD\xCA\xBD\xB0\xE6)";

// One record file of the 2007 edition: a header to skip, then records of one size.
struct KUGOURECORDFILE {
    const char* pszName;
    size_t nHeader;
    size_t nRecord;
};
const KUGOURECORDFILE kShareDirectories = {"\\DB4\\ShareDirectories.dat", 4352, 312};
const KUGOURECORDFILE kShareFiles = {"\\DB4\\ShareFiles.dat", 22016, 856};
const KUGOURECORDFILE kPlayListItem = {"\\DB4\\PlayListItem.dat", 6656, 352};
const KUGOURECORDFILE kPlayList = {"\\DB4\\PlayList.dat", 3584, 96};

// Calls onRecord with each whole record and its index; a partial record at the end is not one.
void ForEachRecord(const CString& strUserFolder, const KUGOURECORDFILE& file,
                   const std::function<void(const char*, int)>& onRecord) {
    std::string bytes;
    if (!mxplayers::ReadWholeFile(strUserFolder + file.pszName, bytes) || bytes.size() < file.nHeader) return;
    int nIndex = 0;
    for (size_t at = file.nHeader; bytes.size() - at >= file.nRecord; at += file.nRecord) onRecord(bytes.data() + at, nIndex++);
}

// The numbers the records use are single signed bytes.
int SignedByte(const char* pRecord, size_t at) { return static_cast<signed char>(pRecord[at]); }

// A zero-terminated text of at most nMax bytes inside the record.
CString FieldText(const char* pRecord, size_t at, size_t nMax) {
    const char* p = pRecord + at;
    const void* pZero = std::memchr(p, 0, nMax);
    return CString(p, int(pZero ? static_cast<const char*>(pZero) - p : ptrdiff_t(nMax)));
}

// The paths filed under one playlist number that are there, in file order; each path is checked once.
PLAYLISTINFO CollectList(const CMxPublic::KUGOUITEMS& items, int nNumber, CMap<CString, LPCSTR, int, int>& mapValid,
                         const std::function<int(const CString&)>& isValid) {
    PLAYLISTINFO info;
    for (const auto& item : items) {
        if (item.first != nNumber) continue;
        int bValid = 0;
        if (!mapValid.Lookup(item.second, bValid)) mapValid.SetAt(item.second, bValid = isValid(item.second));
        if (bValid) info.lstFilePath.AddTail(item.second);
    }
    return info;
}

// Calls onChild for each child element of pNode named pszName.
void ForEachChild(IXMLDOMNode* pNode, LPCSTR pszName, const std::function<void(IXMLDOMNode*)>& onChild) {
    CXmlPtr<IXMLDOMNodeList> children;
    if (!pNode || pNode->get_childNodes(children.Out()) != S_OK || !children) return;
    long nCount = 0;
    if (FAILED(children->get_length(&nCount))) return;
    for (long i = 0; i < nCount; ++i) {
        CXmlNodePtr child;
        if (children->get_item(i, child.Out()) != S_OK || !child) continue;
        if (XmlReader::Name(child.Get()) == pszName) onChild(child.Get());
    }
}

// A loaded document of the install folder; empty when it does not load.
CXmlPtr<IXMLDOMDocument> LoadDocument(const CString& strPath) {
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (doc && !XmlReader::Load(doc.Get(), strPath)) doc.Reset();
    return doc;
}

// The document service is per thread and discovery runs on the caller's.
class CComScope {
public:
    CComScope() { CoInitialize(nullptr); }
    ~CComScope() { CoUninitialize(); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
};

}  // namespace

void CMxPublic::FindKuGou(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    OTHERPLAYERINFO info;
    FindKuGou2007(&info, hWnd);
    FindKuGou2008(&info, hWnd);
    if (!info.lstPlayList.IsEmpty() || !info.lstMusicPath.IsEmpty()) pMap->SetAt(OPK_KUGOU, info);
}

void CMxPublic::FindKuGou2007(OTHERPLAYERINFO* pInfo, HWND hWnd) {
    registry_string<std::string> program("Software\\KuGoo4\\AppFileName", HKEY_CURRENT_USER);
    CString strProgram{std::string(program)};
    if (!pInfo || strProgram.IsEmpty()) return;
    CString strFolder = mxplayers::FolderOf(strProgram);
    CList<CString, CString> lstUsers;
    GetKugou2007UserDirec(strFolder, &lstUsers);
    int nListsBefore = int(pInfo->lstPlayList.GetCount());
    for (POSITION pos = lstUsers.GetHeadPosition(); pos;) {
        CString strUser = lstUsers.GetNext(pos);
        CString strDownload = GetKuGou2007DownloadPath(strUser);
        if (!strDownload.IsEmpty()) pInfo->lstMusicPath.AddTail(strDownload);
        CMap<int, int, CString, LPCSTR> mapDirs, mapFiles;
        GetKuGou2007ShareDirc(strUser, &mapDirs);
        GetKuGou2007ShareFile(strUser, &mapDirs, &mapFiles);
        KUGOUITEMS items;
        GetKuGou2007PlayListItem(strUser, &mapFiles, &items);
        GetKuGou2007PlayListName(strUser, &items, &pInfo->lstPlayList);
    }
    if (int(pInfo->lstPlayList.GetCount()) == nListsBefore) mxplayers::PostNoPlayList(hWnd, kKuGou, "2007");
}

void CMxPublic::GetKugou2007UserDirec(CString strFolder, CList<CString, CString>* pList) {
    if (!pList) return;
    for (const CString& strName : mxplayers::ListFolder(strFolder, "*", true)) pList->AddTail(strFolder + "\\" + strName);
}

CString CMxPublic::GetKuGou2007DownloadPath(CString strUserFolder) {
    static const char kKey[] = "DefaultDownPath=";
    CString strPath;
    mxplayers::ForEachLine(strUserFolder + "\\Option.ini", [&strPath](const CString& strLine) {
        int nAt = strLine.Find(kKey);
        if (nAt >= 0) strPath = strLine.Mid(nAt + int(sizeof kKey - 1));
    });
    return strPath;
}

void CMxPublic::GetKuGou2007ShareDirc(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pDirMap) {
    if (!pDirMap) return;
    ForEachRecord(strUserFolder, kShareDirectories, [pDirMap](const char* pRecord, int) {
        int nDir = SignedByte(pRecord, 26);
        if (nDir >= 1) pDirMap->SetAt(nDir, FieldText(pRecord, 31, 281));
    });
}

void CMxPublic::GetKuGou2007ShareFile(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pDirMap,
                                      CMap<int, int, CString, LPCSTR>* pFileMap) {
    if (!pDirMap || !pFileMap) return;
    ForEachRecord(strUserFolder, kShareFiles, [pDirMap, pFileMap](const char* pRecord, int nIndex) {
        int nDir = SignedByte(pRecord, 31);
        CString strDir, strName = FieldText(pRecord, 36, 820);
        if (nDir < 1 || strName.IsEmpty() || !pDirMap->Lookup(nDir, strDir)) return;
        pFileMap->SetAt(nIndex + 1, strDir + strName);
    });
}

void CMxPublic::GetKuGou2007PlayListItem(CString strUserFolder, CMap<int, int, CString, LPCSTR>* pFileMap,
                                         KUGOUITEMS* pItems) {
    if (!pFileMap || !pItems) return;
    std::vector<bool> used(128);  // entries name files by a signed byte
    ForEachRecord(strUserFolder, kPlayListItem, [&](const char* pRecord, int) {
        int nFile = SignedByte(pRecord, 36);
        CString strPath;
        if (FieldText(pRecord, 46, 306).IsEmpty() || !pFileMap->Lookup(nFile, strPath)) return;
        pItems->emplace_back(SignedByte(pRecord, 31) + 1, strPath);
        used[size_t(nFile)] = true;  // only files 1 to 127 can be in the map here
    });
    // Files no entry refers to belong to the default list, in file order.
    std::vector<int> unused;
    for (POSITION pos = pFileMap->GetStartPosition(); pos;) {
        int nFile = 0;
        CString strPath;
        pFileMap->GetNextAssoc(pos, nFile, strPath);
        if (nFile >= int(used.size()) || !used[size_t(nFile)]) unused.push_back(nFile);
    }
    std::sort(unused.begin(), unused.end());
    for (int nFile : unused) pItems->emplace_back(0, (*pFileMap)[nFile]);
}

void CMxPublic::GetKuGou2007PlayListName(CString strUserFolder, KUGOUITEMS* pItems,
                                         CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pItems || !pList) return;
    auto isValid = [](const CString& strPath) { return CheckValidFile(strPath); };
    CMap<CString, LPCSTR, int, int> mapValid;
    PLAYLISTINFO defaultList = CollectList(*pItems, 0, mapValid, isValid);
    if (!defaultList.lstFilePath.IsEmpty()) {
        defaultList.strPLName = GetUniquePLName(GbkLiteral(kDefaultList2007));
        pList->AddTail(defaultList);
    }
    std::vector<bool> taken(128);  // a number names one playlist: a repeated record adds nothing
    ForEachRecord(strUserFolder, kPlayList, [&](const char* pRecord, int) {
        int nList = SignedByte(pRecord, 26);
        if (nList < 1 || taken[size_t(nList)]) return;
        taken[size_t(nList)] = true;
        PLAYLISTINFO info = CollectList(*pItems, nList, mapValid, isValid);
        if (info.lstFilePath.IsEmpty()) return;
        info.strPLName = GetUniquePLName(GbkLiteral(kPrefix2007) + FieldText(pRecord, 36, 60));
        pList->AddTail(info);
    });
}

void CMxPublic::FindKuGou2008(OTHERPLAYERINFO* pInfo, HWND hWnd) {
    if (!pInfo) return;
    const CString strUninstall = kUninstallKey;
    const CString candidates[] = {strUninstall + GbkLiteral(kBeta2008) + "\\DisplayIcon",
                                  strUninstall + GbkLiteral(kRelease2008) + "\\DisplayIcon",
                                  strUninstall + "{3183E053-DA5C-4233-8761-AF3B5DE22A57}_is1\\InstallLocation"};
    CString strInstalled;
    for (const CString& strValue : candidates) {
        std::string value = registry_string<std::string>(strValue.str(), HKEY_LOCAL_MACHINE);
        if (!value.empty()) strInstalled = CString(value);
    }
    if (strInstalled.IsEmpty()) return;
    CString strFolder = mxplayers::FolderOf(strInstalled);
    CString strDownload = GetKuGou2008DownloadPath(strFolder);
    if (!strDownload.IsEmpty()) pInfo->lstMusicPath.AddTail(strDownload);
    int nListsBefore = int(pInfo->lstPlayList.GetCount());
    GetKuGou2008PlayList(strFolder, &pInfo->lstPlayList);
    if (int(pInfo->lstPlayList.GetCount()) == nListsBefore) mxplayers::PostNoPlayList(hWnd, kKuGou, "2008");
}

CString CMxPublic::GetKuGou2008DownloadPath(CString strFolder) {
    CComScope com;
    CXmlPtr<IXMLDOMDocument> doc = LoadDocument(strFolder + "\\KuGoo.xml");
    CString strPath;
    if (doc) XmlReader::Attribute(XmlReader::Select(XmlReader::Select(doc.Get(), "KuGoo").Get(), "Misc").Get(), "DefaultDownPath", strPath);
    return strPath;
}

void CMxPublic::GetKuGou2008PlayList(CString strFolder, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    CComScope com;
    CXmlPtr<IXMLDOMDocument> doc = LoadDocument(strFolder + "\\Library.xml");
    if (!doc) return;
    CXmlNodePtr library = XmlReader::Select(doc.Get(), "Library");
    CMap<int, int, CString, LPCSTR> mapFiles;
    ForEachChild(XmlReader::Select(library.Get(), "FilePools").Get(), "Contents", [&mapFiles](IXMLDOMNode* pContents) {
        CString strDir;
        XmlReader::Attribute(pContents, "Path", strDir);
        if (!strDir.IsEmpty() && !mxplayers::EndsWithBackslash(strDir)) strDir += "\\";
        ForEachChild(pContents, "File", [&](IXMLDOMNode* pFile) {
            int nFile = atoi(XmlReader::Text(XmlReader::Select(pFile, "FileID").Get()));
            CString strName = XmlReader::Text(XmlReader::Select(XmlReader::Select(pFile, "Basic").Get(), "FileName").Get());
            if (!strName.IsEmpty()) mapFiles.SetAt(nFile, strDir + strName);
        });
    });
    ForEachChild(XmlReader::Select(library.Get(), "ListPools").Get(), "List", [&](IXMLDOMNode* pListNode) {
        PLAYLISTINFO info;
        mxplayers::CListPathTaker take(info, &CheckValidFile);
        ForEachChild(XmlReader::Select(pListNode, "Items").Get(), "Item", [&](IXMLDOMNode* pItem) {
            CString strPath;
            if (mapFiles.Lookup(atoi(XmlReader::Text(XmlReader::Select(pItem, "FileID").Get())), strPath)) take(strPath);
        });
        if (info.lstFilePath.IsEmpty()) return;
        info.strPLName = GetUniquePLName(GbkLiteral(kPrefix2008) + XmlReader::Text(XmlReader::Select(pListNode, "ListName").Get()));
        pList->AddTail(info);
    });
}
