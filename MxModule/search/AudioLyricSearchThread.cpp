#include "MxModule/search/AudioLyricSearchThread.h"

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/library/LibraryFormat.h"
#include "MxModule/search/SearchCommon.h"

int CAudioLyricSearchThread::Run() {
    CString first = m_strFirst;
    CString second = m_strSecond;
    first.Trim();
    CString address, server;
    if (m_nResultType == LSRT_ADDRESS) {
        address = first;
    } else {
        second.Trim();
        if (second.IsEmpty()) {
            ReportError(ASE_LYRIC_EMPTY_KEYWORD);
            return 0;
        }
        // The texts go into the query as they are: the server reads them unencoded.
        CString query = first.IsEmpty() ? second : first + " " + second;
        server = SearchCommon::ServerAddress("Lyric");
        address = server +
                  (m_nResultType == LSRT_MBOX ? "/coo/rovanmbox/2008/lyric.so?query=" + query + "&ext=mbox"
                                              : "/coo/oem/oem_lyric.so?query=" + query);
    }
    if (m_bStop) return 0;
    m_pCallBack->OnBeginLyricSearch(m_nID, first, second);
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc) {
        ReportError(ASE_NO_XML_SERVICE);
        return 0;
    }
    bool configured = m_nResultType == LSRT_ADDRESS || !server.IsEmpty();
    if (!configured || !XmlReader::Load(doc.Get(), address)) {
        ReportError(ASE_LYRIC_LOAD_FAILED);
        return 0;
    }
    if (m_bStop) return 0;
    LYRICRESULTLIST results(10);
    if (!ReadAnswer(doc.Get(), results)) return 0;
    m_pCallBack->OnEndLyricSearch(m_nID, first, second, &results);
    return 0;
}

bool CAudioLyricSearchThread::ReadAnswer(IXMLDOMDocument* pDoc, LYRICRESULTLIST& results) {
    CXmlNodePtr rss = XmlReader::Select(pDoc, "rss");
    CXmlNodePtr answer = XmlReader::Select(rss.Get(), "rovanresult");
    CXmlPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (!answer || answer->get_childNodes(children.Out()) != S_OK || !children ||
        children->get_length(&count) != S_OK) {
        ReportError(ASE_LYRIC_ELEMENT_MISSING);
        return false;
    }
    const CString unknown = CMxPublic::GbkLiteral(mxlib::kUnknown);
    int items = 0;
    for (long i = 0; i < count; ++i) {
        CXmlNodePtr item;
        if (children->get_item(i, item.Out()) != S_OK || !item || XmlReader::Name(item.Get()) != "item") continue;
        if (++items > kMaxItems) break;
        LYRICRESULTUINT lyric;
        CString LYRICRESULTUINT::*const names[] = {&LYRICRESULTUINT::strTitle, &LYRICRESULTUINT::strArtist,
                                                   &LYRICRESULTUINT::strAlbum};
        const char* const elements[] = {"title", "artist", "album"};
        for (int k = 0; k < 3; ++k) {
            CXmlNodePtr element = XmlReader::Select(item.Get(), elements[k]);
            if (!element) ReportError(ASE_LYRIC_ELEMENT_MISSING);
            CString text = element ? SearchCommon::CleanName(XmlReader::Text(element.Get())) : CString();
            lyric.*names[k] = text.IsEmpty() ? unknown : text;
        }
        if (CXmlNodePtr geci = XmlReader::Select(item.Get(), "geci"))
            lyric.strLyric = XmlReader::Text(geci.Get());
        else
            ReportError(ASE_LYRIC_ELEMENT_MISSING);
        results.AddTail(lyric);
    }
    return true;
}
