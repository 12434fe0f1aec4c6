// iTunes' playlists and music folder, for the discovery of other players, from the user's library file
// "iTunes Music Library.xml", a property list: a top dictionary of keys each followed by its value.
#include <cstdlib>
#include <cstring>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kProgramValue[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iTunes.exe\\";
const char kFileUrl[] = "file://localhost/";
const int kFileUrlLength = 17;

// iTunes' own lists, which the user did not make.
const char* const kAutomaticLists[] = {
    "\xD7\xCA\xC1\xCF\xBF\xE2",                                  // 资料库
    "25 \xB4\xF3\xBD\xF0\xC7\xFA\xC5\xC5\xD0\xD0\xB0\xF1",       // 25 大金曲排行榜
    "90 \xC4\xEA\xB4\xFA\xD2\xF4\xC0\xD6",                       // 90 年代音乐
    "Podcast",
    "\xB5\xE7\xCA\xD3\xBD\xDA\xC4\xBF",                          // 电视节目
    "\xC5\xC9\xB6\xD4\xCB\xE6\xBB\xFA\xB2\xA5\xB7\xC5",          // 派对随机播放
    "\xCE\xD2\xB5\xC4\xD7\xEE\xB0\xAE",                          // 我的最爱
    "\xD2\xF4\xC0\xD6",                                          // 音乐
    "\xD2\xF4\xC0\xD6\xCA\xD3\xC6\xB5",                          // 音乐视频
    "\xD3\xB0\xC6\xAC",                                          // 影片
    "\xD3\xD0\xC9\xF9\xB6\xC1\xCE\xEF",                          // 有声读物
    "\xD7\xEE\xBD\xFC\xB2\xA5\xB7\xC5\xB5\xC4",                  // 最近播放的
    "\xD7\xEE\xBD\xFC\xCC\xED\xBC\xD3\xB5\xC4",                  // 最近添加的
};

bool IsAutomaticList(const CString& strName) {
    for (const char* pszName : kAutomaticLists)
        if (strName == CMxPublic::GbkLiteral(pszName)) return true;
    return false;
}

// "file://localhost/C:/a%20b/c.mp3" -> "C:\a b\c.mp3"; "" for any other address.
CString UrlToPath(CString strUrl) {
    if (std::strncmp(strUrl, kFileUrl, kFileUrlLength) != 0) return CString();
    CString strRest = strUrl.Mid(kFileUrlLength);
    CString strPath = CMxPublic::UTF82GBDecode(strRest);
    strPath.Replace('/', '\\');
    return strPath;
}

// Calls fn with each "key" text of a dictionary and the element that follows it.
void ForEachEntry(IXMLDOMNode* pDict, const std::function<void(const CString&, IXMLDOMNode*, const CString&)>& fn) {
    CString strKey;
    bool bAfterKey = false;
    mxplayers::ForEachChildElement(pDict, [&](IXMLDOMNode* pNode, const CString& strName) {
        if (strName == "key") {
            strKey = XmlReader::Text(pNode);
            bAfterKey = true;
        } else if (bAfterKey) {
            bAfterKey = false;
            fn(strKey, pNode, strName);
        }
    });
}

// The string that follows the key, or "".
CString StringOf(IXMLDOMNode* pDict, LPCSTR pszKey) {
    CString strValue;
    bool bFound = false;
    ForEachEntry(pDict, [&](const CString& strKey, IXMLDOMNode* pValue, const CString& strName) {
        if (bFound || strKey != pszKey) return;
        bFound = true;
        if (strName == "string") strValue = XmlReader::Text(pValue);
    });
    return strValue;
}

}  // namespace

void CMxPublic::GetITuneDownloadPathAndPlayList(OTHERPLAYERINFO* pInfo, int& nCount) {
    nCount = 0;
    if (!pInfo) return;
    mxplayers::CComScope com;
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc || !XmlReader::Load(doc.Get(), GetMusicBoxDir(CSIDL_MYMUSIC) + "\\iTunes\\iTunes Music Library.xml")) return;
    CXmlNodePtr plist = XmlReader::Select(doc.Get(), "plist");
    CXmlNodePtr top = XmlReader::Select(plist.Get(), "dict");
    if (!top) return;

    ForEachEntry(top.Get(), [pInfo](const CString& strKey, IXMLDOMNode* pValue, const CString& strName) {
        if (strKey != "Music Folder" || strName != "string") return;
        CString strFolder = UrlToPath(XmlReader::Text(pValue));
        while (strFolder.GetLength() > 3 && mxplayers::EndsWithBackslash(strFolder)) strFolder = strFolder.Left(strFolder.GetLength() - 1);
        if (strFolder.IsEmpty()) return;
        if (HoldsAudioBelow(strFolder)) pInfo->lstMusicPath.AddTail(strFolder);
    });

    CMap<int, int, CString, LPCSTR> mapTracks;
    mapTracks.InitHashTable(4099);
    CXmlNodePtr tracks = XmlReader::Select(top.Get(), "dict");
    ForEachEntry(tracks.Get(), [&mapTracks](const CString& strKey, IXMLDOMNode* pValue, const CString& strName) {
        if (strName != "dict") return;
        CString strPath = UrlToPath(StringOf(pValue, "Location"));
        if (!strPath.IsEmpty()) mapTracks.SetAt(std::atoi(strKey), strPath);
    });

    CMap<CString, LPCSTR, int, int> mapNames;
    CXmlNodePtr playlists = XmlReader::Select(top.Get(), "array");
    mxplayers::ForEachChildElement(playlists.Get(), [&](IXMLDOMNode* pList, const CString& strName) {
        if (strName != "dict") return;
        CString strListName = StringOf(pList, "Name");
        if (IsAutomaticList(strListName)) return;
        PLAYLISTINFO info;
        CXmlNodePtr items = XmlReader::Select(pList, "array");
        mxplayers::CListPathTaker take(info, &CheckValidFile);
        mxplayers::ForEachChildElement(items.Get(), [&](IXMLDOMNode* pItem, const CString& strItemName) {
            if (strItemName != "dict") return;
            CXmlNodePtr number = XmlReader::Select(pItem, "integer");
            CString strPath;
            if (number && mapTracks.Lookup(std::atoi(XmlReader::Text(number.Get())), strPath)) take(strPath);
        });
        if (info.lstFilePath.IsEmpty()) return;
        info.strPLName = GetITunePLName("iTunes_" + strListName, &mapNames);
        pInfo->lstPlayList.AddTail(info);
        ++nCount;
    });
}

void CMxPublic::FindITune(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    CString strProgram(std::string(registry_string<std::string>(kProgramValue, HKEY_LOCAL_MACHINE)).c_str());
    if (strProgram.IsEmpty()) return;
    OTHERPLAYERINFO info;
    int nCount = 0;
    GetITuneDownloadPathAndPlayList(&info, nCount);
    if (nCount == 0) mxplayers::PostNoPlayList(hWnd, "iTunes", GetInternalProductVersion(strProgram));
    if (!info.lstPlayList.IsEmpty() || !info.lstMusicPath.IsEmpty()) pMap->SetAt(OPK_ITUNES, info);
}
