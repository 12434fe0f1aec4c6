#include "MxModule/search/VideoSearchThread.h"

#include <cstdlib>

#include "MxModule/foundation/XmlReader.h"
#include "MxModule/search/SearchCommon.h"

int CVideoSearchThread::Run() {
    m_pCallBack->OnBeginSearch(m_nID, m_strKeyword);
    VIDEORESULTLIST results(10);
    Fetch(results);
    if (!m_bStop) m_pCallBack->OnEndSearchResult(m_nID, m_strKeyword, &results);
    return 0;
}

void CVideoSearchThread::Fetch(VIDEORESULTLIST& results) {
    CString keyword = m_strKeyword;
    if (m_bStop) return;
    keyword.Trim();
    if (keyword.IsEmpty()) {
        m_pCallBack->OnVideoSearchError(m_nID, VSE_EMPTY_KEYWORD);
        return;
    }
    // The video server listens on its own port; the keyword goes in unencoded.
    CString server = SearchCommon::ServerAddress("Video");
    CString address = server + ":8088/vc/xml_play.jsp?query=" + keyword;
    if (m_bStop) return;
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc) {
        m_pCallBack->OnVideoSearchError(m_nID, VSE_NO_XML_SERVICE);
        return;
    }
    if (m_bStop) return;
    if (server.IsEmpty() || !XmlReader::Load(doc.Get(), address)) {
        m_pCallBack->OnVideoSearchError(m_nID, VSE_LOAD_FAILED);
        return;
    }
    if (m_bStop) return;
    ReadAnswer(doc.Get(), results);
}

void CVideoSearchThread::ReadAnswer(IXMLDOMDocument* pDoc, VIDEORESULTLIST& results) {
    CXmlNodePtr rss = XmlReader::Select(pDoc, "rss");
    CXmlNodePtr channel = XmlReader::Select(rss.Get(), "channel");
    CXmlPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (!channel || channel->get_childNodes(children.Out()) != S_OK || !children ||
        children->get_length(&count) != S_OK) {
        m_pCallBack->OnVideoSearchError(m_nID, VSE_ELEMENT_MISSING);
        return;
    }
    int items = 0;
    for (long i = 0; i < count; ++i) {
        if (m_bStop) return;
        CXmlNodePtr item;
        if (children->get_item(i, item.Out()) != S_OK || !item) {
            m_pCallBack->OnVideoSearchError(m_nID, VSE_ELEMENT_MISSING);
            return;
        }
        if (XmlReader::Name(item.Get()) != "item") continue;
        if (++items > kMaxItems) return;
        VIDEORESULTUINT video;
        const char* const elements[] = {"title", "piclink", "playinfo", "width", "height"};
        CString texts[5];
        for (int k = 0; k < 5; ++k) {
            CXmlNodePtr element = XmlReader::Select(item.Get(), elements[k]);
            if (!element) {
                m_pCallBack->OnVideoSearchError(m_nID, VSE_ELEMENT_MISSING);
                return;  // the entries before stay
            }
            texts[k] = XmlReader::Text(element.Get());
        }
        video.strTitle = texts[0];
        video.strPicLink = texts[1];
        video.strPlayInfo = texts[2];
        video.nWidth = std::atoi(texts[3]);
        video.nHeight = std::atoi(texts[4]);
        results.AddTail(video);
    }
}
