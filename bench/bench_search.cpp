// Reading a song server's answer of 200 items (GB2312-declared, Chinese texts): the document load and
// the reading of every item, then the same as a whole search with its messages.
#include <benchmark/benchmark.h>

#include <fstream>

#include "BenchMachine.h"
#include "MessageSink.h"
#include "MxModule/MxModule.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/search/AudioSongSearchThread.h"

namespace {

struct CQuiet : CAudioSearchCallBack {
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
};

const char kAnswer[] = "C:\\answer.xml";

void WriteAnswer() {
    static bool written = false;
    if (written) return;
    std::string gbk = "\xBA\xA3\xC0\xAB\xCC\xEC\xBF\xD5";  // 海阔天空
    std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<rss><rovanresult><qc/><hint href=\"/so.php\">h</hint>\n";
    for (int i = 0; i < 200; ++i)
        xml += "<item><type>MP3</type><title>" + gbk + " " + std::to_string(i) + "</title><artist>Beyond</artist>"
               "<album>" + gbk + "</album><size>4123456</size><bitrate>128</bitrate><duration>326</duration>"
               "<speed>128kbps</speed><lyric>" + gbk + "</lyric><lyricURL>http://127.0.0.1:8080/files/" +
               std::to_string(i) + "</lyricURL><urls>http://127.0.0.1:8080/files/" + std::to_string(1000 + i) +
               "</urls></item>\n";
    xml += "</rovanresult></rss>\n";
    std::ofstream(mxbench::Machine().HostC("answer.xml"), std::ios::binary) << xml;
    written = true;
}

void BM_ReadSongAnswer200(benchmark::State& state) {
    WriteAnswer();
    CoInitialize(nullptr);
    CQuiet quiet;
    for (auto _ : state) {
        CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
        if (!XmlReader::Load(doc.Get(), kAnswer)) state.SkipWithError("not loaded");
        CAudioSongSearchThread reader;
        reader.m_pCallBack = &quiet;
        AUDIORESULTLIST results(10);
        CString correction;
        SEARCHRESULTHINT hint;
        reader.ReadAnswer(doc.Get(), results, &correction, &hint, false);
        if (results.GetCount() != 200) state.SkipWithError("not 200 results");
    }
    CoUninitialize();
}
BENCHMARK(BM_ReadSongAnswer200)->Unit(benchmark::kMillisecond);

// A result-document search from start to its exit message: thread, load, reading, the result block.
void BM_SearchResultDocument200(benchmark::State& state) {
    WriteAnswer();
    CMessageSink sink(CMessageSink::kAudioSearch);
    CAudioSearch search;
    for (auto _ : state) {
        int id = search.StartNewSearch(nullptr, kAnswer, AST_RESULT_DOCUMENT, sink.GetHwnd(), ASRT_DEFAULT, 0, 0);
        if (id < 0 || !sink.PumpUntilExit(id, 10000)) state.SkipWithError("search failed");
    }
}
BENCHMARK(BM_SearchResultDocument200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
