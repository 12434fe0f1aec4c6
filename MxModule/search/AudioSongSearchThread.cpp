#include "MxModule/search/AudioSongSearchThread.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/LibraryFormat.h"
#include "MxModule/search/SearchCommon.h"

namespace {

DWORD Decimal(const CString& s) { return DWORD(std::atoi(s)); }

// The song server reads keys as GBK (GB18030): text of another system code page is turned into it.
CString Gbk(const CString& text) {
    UINT acp = GetACP();
    if (acp == 936 || acp == 54936 || text.IsEmpty()) return text;
    std::u16string wide(size_t(text.GetLength()), u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text, text.GetLength(), &wide[0], int(wide.size()));
    std::string out(size_t(n > 0 ? n : 0) * 4, '\0');
    int m = WideCharToMultiByte(54936, 0, wide.data(), n, &out[0], int(out.size()), nullptr, nullptr);
    out.resize(size_t(m > 0 ? m : 0));
    return CString(std::move(out));
}

}  // namespace

void CAudioSongSearchThread::FromRecord(const DBRECORD& r, AUDIORESULTUINT& result) {
    result.strSong = r.Song;
    result.strArtist = r.Artist;
    result.strAlbum = r.Album;
    result.strType = r.Type;
    result.strTrack = r.Track;
    result.byGenre = static_cast<unsigned char>(std::atoi(r.Genre));
    result.dwDuration = Decimal(r.Duration);
    result.dwOpinion = Decimal(r.Opinion);
    result.dwFileLength = Decimal(r.FileLength);
    result.dwBitrate = Decimal(r.Bitrate);
    result.strMD5 = r.MD5;
    result.nCanPlay = std::atoi(r.CanPlay);
    result.lstURL.assign(1, r.FileName);
    result.strGenre = r.GenreString;
    result.bAnalyzed = r.Analyzed != "0";
    result.strExtra1 = r.Extra1;
    result.strExtra2 = r.Extra2;
    result.nExtra3 = std::atoi(r.Extra3);
}

int CAudioSongSearchThread::Run() {
    AUDIORESULTLIST results(10);
    if (m_nSearchType == AST_PLAYLISTS) {
        RunBatch(results);
        return 0;
    }
    m_pCallBack->OnBeginSongSearch(m_nID, m_strKeyword, m_nSearchType, "");
    if (m_bStop) return 0;
    unsigned long value = 0;
    CString correction;
    SEARCHRESULTHINT hint;
    switch (m_nSearchType) {
    case AST_ONLINE_THEN_LIBRARY:
    case AST_LIBRARY: {
        if (m_nSearchType == AST_ONLINE_THEN_LIBRARY) {
            OnlineSearch(results, &value, &correction, &hint, false);
            if (m_bStop) return 0;
        }
        // The keyword's words, split at spaces.
        CList<CString, CString> words(10);
        CString rest = m_strKeyword;
        rest.Trim();
        for (int at; (at = rest.Find(' ')) >= 0;) {
            CString word = rest.Left(at);
            word.Trim();
            if (!word.IsEmpty()) words.AddTail(word);
            rest = rest.Mid(at + 1);
            rest.TrimLeft();
        }
        rest.Trim();
        if (!rest.IsEmpty()) words.AddTail(rest);
        LibrarySearch(results, "", &words, -1, 1, true);
        break;
    }
    case AST_ONLINE: OnlineSearch(results, &value, &correction, &hint, false); break;
    case AST_RESULT_DOCUMENT: OnlineSearch(results, &value, nullptr, nullptr, true); break;
    case AST_ALL_SONGS: LibrarySearch(results, "", nullptr, -1, 1, false); break;
    case AST_ALL_LOCAL_SONGS: LibrarySearch(results, "", nullptr, -1, 1, true); break;
    default: break;
    }
    if (m_bStop) return 0;
    m_pCallBack->OnEndSongSearch(m_nID, m_strKeyword, m_nSearchType, &results, value, m_nResultType, correction, &hint,
                                 "");
    return 0;
}

void CAudioSongSearchThread::RunBatch(AUDIORESULTLIST& results) {
    SEARCHRESULTHINT noHint;
    for (POSITION pos = m_listKeyword.GetHeadPosition(); pos;) {
        CString name = m_listKeyword.GetNext(pos);
        if (m_bStop) return;
        if (name.IsEmpty()) continue;
        m_pCallBack->OnBeginSongSearch(m_nID, m_strKeyword, m_nSearchType, name);
        if (m_nExtra2 != -1) {
            LibrarySearch(results, name, nullptr, m_nExtra2, 1, false);
            m_pCallBack->OnEndSongFirstSearch(m_nID, m_strKeyword, m_nSearchType, &results, 0, m_nResultType, "",
                                              &noHint, name);
            LibrarySearch(results, name, nullptr, m_nExtra2, 0, false);
        } else {
            LibrarySearch(results, name, nullptr, -1, 1, false);
        }
        m_pCallBack->OnEndSongSearch(m_nID, m_strKeyword, m_nSearchType, &results, 0, m_nResultType, "", &noHint, name);
        results.RemoveAll();
    }
}

void CAudioSongSearchThread::LibrarySearch(AUDIORESULTLIST& results, const CString& strPlaylist,
                                           CList<CString, CString>* pWords, int nLimit, int nMode,
                                           bool bSkipWebLinks) {
    DBRECORDLIST records(10);
    CDBOperater::Instance()->LocalSearch(strPlaylist, pWords, records, nLimit, nMode);
    for (POSITION pos = records.GetHeadPosition(); pos;) {
        const DBRECORD& record = records.GetNext(pos);
        if (bSkipWebLinks && CMxPublic::IsWebLink(record.FileName)) continue;
        AUDIORESULTUINT result;
        FromRecord(record, result);
        results.AddTail(result);
    }
}

void CAudioSongSearchThread::OnlineSearch(AUDIORESULTLIST& results, unsigned long* pValue, CString* pCorrection,
                                          SEARCHRESULTHINT* pHint, bool bDocument) {
    CString keyword = m_strKeyword;
    keyword.Trim();
    if (m_bStop) return;
    if (keyword.IsEmpty()) {
        ReportError(ASE_EMPTY_KEYWORD);
        return;
    }
    CString server = bDocument ? CString() : SearchCommon::ServerAddress("SongSearch");
    CString address = bDocument ? keyword : server + "/so.php" + "?ac=so&key=" + CMxPublic::URLEncode(Gbk(keyword));
    if (m_bStop) return;
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc) {
        ReportError(ASE_NO_XML_SERVICE);
        return;
    }
    if (m_bStop) return;
    DWORD start = GetTickCount();
    // Without a server the search fails as it does when the server cannot be reached.
    bool loaded = (bDocument || !server.IsEmpty()) && XmlReader::Load(doc.Get(), address);
    *pValue = GetTickCount() - start;
    if (!loaded) {
        ReportError(ASE_LOAD_FAILED);
        return;
    }
    ReadAnswer(doc.Get(), results, pCorrection, pHint, bDocument);
}

void CAudioSongSearchThread::ReadAnswer(IXMLDOMDocument* pDoc, AUDIORESULTLIST& results, CString* pCorrection,
                                        SEARCHRESULTHINT* pHint, bool bDocument) {
    CXmlNodePtr rss = XmlReader::Select(pDoc, "rss");
    CXmlNodePtr answer = XmlReader::Select(rss.Get(), "rovanresult");
    if (!answer) {
        ReportError(ASE_ELEMENT_MISSING);
        return;
    }
    if (pCorrection) {
        if (CXmlNodePtr qc = XmlReader::Select(answer.Get(), "qc")) *pCorrection = XmlReader::Text(qc.Get()).Trim();
    }
    if (pHint) {
        if (CXmlNodePtr hint = XmlReader::Select(answer.Get(), "hint")) {
            XmlReader::Attribute(hint.Get(), "href", pHint->strHref);
            pHint->strText = XmlReader::Text(hint.Get()).Trim();
        }
    }
    CXmlPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (answer->get_childNodes(children.Out()) != S_OK || !children || children->get_length(&count) != S_OK) {
        ReportError(ASE_ELEMENT_MISSING);
        return;
    }
    int items = 0;
    for (long i = 0; i < count; ++i) {
        if (m_bStop) return;
        CXmlNodePtr child;
        if (children->get_item(i, child.Out()) != S_OK || !child) {
            ReportError(ASE_ELEMENT_MISSING);
            return;
        }
        if (XmlReader::Name(child.Get()) != "item") continue;
        if (++items > kMaxItems) return;
        AUDIORESULTUINT result;
        if (ReadItem(child.Get(), bDocument, result)) results.AddTail(result);
    }
}

bool CAudioSongSearchThread::ReadItem(IXMLDOMNode* pItem, bool bDocument, AUDIORESULTUINT& result) {
    static const char* const kSongItem[] = {"type",  "title", "artist", "album", "size",    "bitrate",
                                            "duration", "speed", "lyric", "lyricURL", "urls"};
    static const char* const kDocumentItem[] = {"type",  "songid", "title", "artist",   "album",
                                                "size",  "speed",  "lyric", "lyricURL", "urls"};
    const char* const* names = bDocument ? kDocumentItem : kSongItem;
    size_t count = bDocument ? sizeof kDocumentItem / sizeof *kDocumentItem : sizeof kSongItem / sizeof *kSongItem;
    // One walk over the item's children finds the first element of each name.
    CString texts[11];
    bool found[11] = {};
    CXmlPtr<IXMLDOMNodeList> children;
    long length = 0;
    if (pItem->get_childNodes(children.Out()) == S_OK && children && children->get_length(&length) == S_OK) {
        for (long i = 0; i < length; ++i) {
            CXmlNodePtr child;
            if (children->get_item(i, child.Out()) != S_OK || !child) break;
            CString childName = XmlReader::Name(child.Get());
            for (size_t k = 0; k < count; ++k) {
                if (!found[k] && childName.str() == names[k]) {
                    found[k] = true;
                    texts[k] = XmlReader::Text(child.Get());
                    break;
                }
            }
        }
    }
    for (size_t k = 0; k < count; ++k) {
        auto is = [&](const char* name) { return std::strcmp(names[k], name) == 0; };
        if (!found[k]) {
            ReportError(ASE_ELEMENT_MISSING);
            continue;
        }
        CString text = texts[k].Trim();
        if (is("type")) {
            if (text.CompareNoCase("MP3") != 0 && text.CompareNoCase("WMA") != 0) return false;
            result.strType = text;
            result.strType.MakeLower();
        } else if (is("title")) {
            result.strSong = SearchCommon::CleanName(text);
            if (result.strSong.IsEmpty()) result.strSong = CMxPublic::GbkLiteral(mxlib::kUnknown);
        } else if (is("artist")) {
            result.strArtist = SearchCommon::CleanName(text);
        } else if (is("album")) {
            result.strAlbum = SearchCommon::CleanName(text);
        } else if (is("size")) {
            result.strSize = text;
            result.dwFileLength = Decimal(text);
        } else if (is("bitrate")) {
            result.dwBitrate = Decimal(text);
        } else if (is("duration")) {
            result.dwDuration = Decimal(text);
        } else if (is("speed")) {
            result.strSpeed = text;
        } else if (is("lyric")) {
            result.strLyric = text;
        } else if (is("lyricURL")) {
            result.strLyricURL = text;
        } else if (is("urls")) {
            result.lstURL.assign(1, text);
        } else if (is("songid")) {
            result.strSongID = text;
        }
    }
    return true;
}
