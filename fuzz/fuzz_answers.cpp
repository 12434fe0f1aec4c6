// Arbitrary bytes as a search server's answer: loaded by the XML document service, then read as a song
// answer, a result document, a lyric answer and a video answer.
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/search/AudioLyricSearchThread.h"
#include "MxModule/search/AudioSongSearchThread.h"
#include "MxModule/search/VideoSearchThread.h"

namespace {

std::string g_host;

struct CQuiet : CAudioSearchCallBack, CVideoSearchCallBack {
    virtual ~CQuiet() = default;
    void OnBeginSongSearch(int, CString, AudioSearchType, CString) override {}
    void OnEndSongFirstSearch(int, CString, AudioSearchType, AUDIORESULTLIST*, unsigned long, AudioSearchResultType,
                              CString, SEARCHRESULTHINT*, CString) override {}
    void OnEndSongSearch(int, CString, AudioSearchType, AUDIORESULTLIST*, unsigned long, AudioSearchResultType, CString,
                         SEARCHRESULTHINT*, CString) override {}
    void OnBeginLyricSearch(int, CString, CString) override {}
    void OnEndLyricSearch(int, CString, CString, LYRICRESULTLIST*) override {}
    void OnAudioSearchError(int, AudioSearchErrorCode) override {}
    void OnAudioSearchThreadExit(int) override {}
    void OnBeginSearch(int, CString) override {}
    void OnEndSearchResult(int, CString, VIDEORESULTLIST*) override {}
    void OnVideoSearchError(int, VideoSearchErrorCode) override {}
    void OnVideoSearchThreadExit(int) override {}
} g_quiet;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_host = MakeFuzzMachine() + "/answer.xml";
    CoInitialize(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(g_host, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc || !XmlReader::Load(doc.Get(), "C:\\answer.xml")) return 0;
    CAudioSongSearchThread songs;
    songs.m_pCallBack = &g_quiet;
    AUDIORESULTLIST found(10);
    CString correction;
    SEARCHRESULTHINT hint;
    songs.ReadAnswer(doc.Get(), found, &correction, &hint, false);
    songs.ReadAnswer(doc.Get(), found, nullptr, nullptr, true);
    CAudioLyricSearchThread lyrics;
    lyrics.m_pCallBack = &g_quiet;
    LYRICRESULTLIST candidates(10);
    lyrics.ReadAnswer(doc.Get(), candidates);
    CVideoSearchThread videos;
    videos.m_pCallBack = &g_quiet;
    VIDEORESULTLIST entries(10);
    videos.ReadAnswer(doc.Get(), entries);
    return 0;
}
