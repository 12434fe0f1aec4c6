// The searches against an HTTP server inside the test process: message sequences, results, errors.

#include "MessageSink.h"
#include "library/LibraryFixture.h"
#include "support/FixtureServer.h"

namespace mxtest {
namespace {

const char kUnknown[] = "\xCE\xB4\xD6\xAA";  // 未知

std::string Item(const std::string& type, const std::string& title, const std::string& bitrate = "<bitrate>128</bitrate>") {
    return "<item><type>" + type + "</type><title>" + title + "</title><artist> Ar </artist><album>Al</album>"
           "<size>4000</size>" + bitrate + "<duration>240</duration><speed>s</speed><lyric>l</lyric>"
           "<lyricURL>lu</lyricURL><urls>u1 u2</urls></item>";
}

std::string Answer(const std::string& inner, const char* encoding = "UTF-8") {
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?><rss><rovanresult>" + inner +
           "</rovanresult></rss>";
}

class SearchTest : public FacadeTest {
protected:
    SearchTest() {
        for (const char* name : {"SongSearch", "Lyric"})
            registry_string<std::string>(std::string("SOFTWARE\\Tamborinebox\\Servers\\") + name, HKEY_CURRENT_USER) =
                server.Base();
    }
    // The messages of a finished search, one word each: name, then the error code or the result count.
    static std::string Sequence(const std::vector<RECEIVEDMSG>& messages, CMessageSink::Source source) {
        std::string out;
        for (const RECEIVEDMSG& m : messages) {
            out += out.empty() ? "" : ",";
            out += MessageName(m.nMessage, source);
            if (m.nMessage == (source == CMessageSink::kVideoSearch ? UINT(WM_MX_VIDEOSEARCH_ERROR)
                                                                     : UINT(WM_MX_AUDIOSEARCH_ERROR)))
                out += " " + std::to_string(m.nCode);
            size_t n = m.vecSongs.size() + m.vecLyrics.size() + m.vecVideos.size();
            if (n || (source == CMessageSink::kAudioSearch &&
                      (m.nMessage == WM_MX_END_SONG_SEARCH || m.nMessage == WM_MX_END_LYRIC_SEARCH)))
                out += " " + std::to_string(n);
        }
        return out;
    }
    std::vector<RECEIVEDMSG> Songs(const std::string& keyword, AudioSearchType type, CList<CString, CString>* names = nullptr,
                                   int extra2 = -1) {
        int id = search.StartNewSearch(names, keyword.c_str(), type, sink.GetHwnd(), ASRT_DEFAULT, 0, extra2);
        EXPECT_GT(id, 0);
        EXPECT_TRUE(sink.PumpUntilExit(id, 10000));
        return sink.Messages(id);
    }
    // Song results as "title|artist|album|type|size|bitrate|duration|url" lines.
    static std::string Summary(const RECEIVEDMSG& m) {
        std::string out = m.strText[2].IsEmpty() && m.hint.strHref.IsEmpty()
                              ? ""
                              : "qc " + m.strText[2].str() + ", hint " + m.hint.strHref.str() + " " + m.hint.strText.str() + "\n";
        for (const AUDIORESULTUINT& r : m.vecSongs)
            out += r.strSong.str() + "|" + r.strArtist.str() + "|" + r.strAlbum.str() + "|" + r.strType.str() + "|" +
                   std::to_string(r.dwFileLength) + "|" + std::to_string(r.dwBitrate) + "|" +
                   std::to_string(r.dwDuration) + "|" + (r.lstURL.empty() ? "" : r.lstURL.front().str()) + "\n";
        return out;
    }

    FixtureServer server;
    CMessageSink sink{CMessageSink::kAudioSearch};
    CAudioSearch search;
};

TEST_F(SearchTest, OnlineAnswersGiveTheirResultsAndErrors) {
    struct Case {
        const char* name;
        std::string answer;  // served at /so.php unless empty
        std::string keyword;
        AudioSearchType type;
        const char* sequence;
        std::string results;
    } cases[] = {
        {"keyword of spaces", "", "   ", AST_ONLINE, "BEGIN_SONG_SEARCH,SEARCH_ERROR 0,END_SONG_SEARCH 0,THREAD_EXIT", ""},
        {"answer not found", "", "k", AST_ONLINE, "BEGIN_SONG_SEARCH,SEARCH_ERROR 1,END_SONG_SEARCH 0,THREAD_EXIT", ""},
        {"correction and hint without items", Answer("<qc> Beyond </qc><hint href=\"/so.php?key=b\"> more </hint>"),
         "beyonf", AST_ONLINE, "BEGIN_SONG_SEARCH,END_SONG_SEARCH 0,THREAD_EXIT", "qc Beyond, hint /so.php?key=b more\n"},
        {"no rovanresult", "<rss><other/></rss>", "k", AST_ONLINE,
         "BEGIN_SONG_SEARCH,SEARCH_ERROR 2,END_SONG_SEARCH 0,THREAD_EXIT", ""},
        {"types and names", Answer(Item("WMA", " a/b:c*d ") + Item("RM", "skipped") + Item("mp3", "")), "k", AST_ONLINE,
         "BEGIN_SONG_SEARCH,END_SONG_SEARCH 2,THREAD_EXIT",
         "a b c d|Ar|Al|wma|4000|128|240|u1 u2\n" + std::string(kUnknown) + "|Ar|Al|mp3|4000|128|240|u1 u2\n"},
        {"missing bitrate", Answer(Item("MP3", "t", "")), "k", AST_ONLINE,
         "BEGIN_SONG_SEARCH,SEARCH_ERROR 2,END_SONG_SEARCH 1,THREAD_EXIT", "t|Ar|Al|mp3|4000|0|240|u1 u2\n"},
        {"result document", "", server.Base() + "/doc.xml", AST_RESULT_DOCUMENT,
         "BEGIN_SONG_SEARCH,END_SONG_SEARCH 1,THREAD_EXIT", "d|Ar|Al|mp3|9|0|0|u\n"},
    };
    server.Serve("/doc.xml", Answer("<item><songid>7</songid><type>MP3</type><title>d</title><artist>Ar</artist>"
                                    "<album>Al</album><size>9</size><speed/><lyric/><lyricURL/><urls>u</urls></item>"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixtureServer answering;
        if (!c.answer.empty()) answering.Serve("/so.php", c.answer);
        registry_string<std::string>("SOFTWARE\\Tamborinebox\\Servers\\SongSearch", HKEY_CURRENT_USER) = answering.Base();
        std::vector<RECEIVEDMSG> messages = Songs(c.keyword, c.type);
        EXPECT_EQ(c.sequence, Sequence(messages, CMessageSink::kAudioSearch));
        if (messages.size() >= 2) {
            EXPECT_EQ(c.results, Summary(messages[messages.size() - 2]));
        }
    }
    // The keyword travels percent-encoded in code page 936.
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Servers\\SongSearch", HKEY_CURRENT_USER) = server.Base();
    Songs(" \xC4\xE3\xBA\xC3 x ", AST_ONLINE);
    EXPECT_EQ("/so.php?ac=so&key=%C4%E3%BA%C3%20x", server.Targets().back());
    // A flood of empty items: at most 1,000 read, at most 100 errors told.
    std::string flood;
    for (int i = 0; i < 3000; ++i) flood += "<item/>";
    server.Serve("/so.php", Answer(flood));
    std::vector<RECEIVEDMSG> messages = Songs("k", AST_ONLINE);
    ASSERT_EQ(103u, messages.size());
    EXPECT_EQ(1000u, messages[101].vecSongs.size());
}

TEST_F(SearchTest, LibrarySearchesFollowTheirTypes) {
    Start();
    ASSERT_EQ(1, Db()->AddPlayList("list"));
    StartWith({"C:\\music\\a.mp3", "http://host/b.mp3", "C:\\music\\c.mp3"}, "list");
    DBRECORD r;
    ASSERT_EQ(1, Db()->GetSongInfo("C:\\music\\a.mp3", &r));
    r.Artist = "Joe";
    r.Album = "Al";
    r.FileLength = "4000";
    r.Bitrate = "192";
    ASSERT_EQ(1, Db()->UpdateSongInfo("C:\\music\\a.mp3", &r, DBRECORD::kAllFields));
    AUDIORESULTUINT found;  // as an online result of that song would come
    found.strArtist = "Joe";
    found.strAlbum = "Al";
    found.dwFileLength = 4000;
    EXPECT_EQ(1, CFileOperateManager::CheckFileImported(&found));
    found.dwFileLength = 4001;
    EXPECT_EQ(0, CFileOperateManager::CheckFileImported(&found));
    server.Serve("/so.php", Answer(Item("MP3", "online")));
    auto urls = [](const RECEIVEDMSG& m) {
        std::string out;
        for (const AUDIORESULTUINT& x : m.vecSongs) out += x.lstURL.front().str() + ";";
        return out;
    };
    EXPECT_EQ("C:\\music\\a.mp3;", urls(Songs(" joe ", AST_LIBRARY)[1]));
    EXPECT_EQ("u1 u2;C:\\music\\a.mp3;", urls(Songs("joe", AST_ONLINE_THEN_LIBRARY)[1]));
    EXPECT_EQ("C:\\music\\a.mp3;http://host/b.mp3;C:\\music\\c.mp3;", urls(Songs("", AST_ALL_SONGS)[1]));
    EXPECT_EQ("C:\\music\\a.mp3;C:\\music\\c.mp3;", urls(Songs("x", AST_ALL_LOCAL_SONGS)[1]));
    EXPECT_EQ(192u, Songs("joe", AST_LIBRARY)[1].vecSongs.at(0).dwBitrate);

    // A batch: the first listing, then the whole list, for each named playlist.
    CList<CString, CString> names;
    names.AddTail("list");
    names.AddTail("");
    names.AddTail("list");
    std::vector<RECEIVEDMSG> batch = Songs("", AST_PLAYLISTS, &names, 1);
    EXPECT_EQ("BEGIN_SONG_SEARCH,END_SONG_FIRST_SEARCH 1,END_SONG_SEARCH 3,BEGIN_SONG_SEARCH,END_SONG_FIRST_SEARCH 1,"
              "END_SONG_SEARCH 3,THREAD_EXIT",
              Sequence(batch, CMessageSink::kAudioSearch));
    EXPECT_EQ("list", batch[2].strText[1].str());
}

TEST_F(SearchTest, LyricRequestsAndAnswers) {
    const std::string item = "<item><title>T</title><artist/><album>A</album><geci>[00:01]la\nla</geci></item>";
    server.Serve("/coo/oem/oem_lyric.so", Answer(item));
    server.Serve("/coo/rovanmbox/2008/lyric.so", Answer("<item><title>T</title><album>A</album><geci/></item>"));
    server.Serve("/doc.xml", "<nothing/>");
    struct Case {
        const char* first;
        std::string second;
        LyricSearchResultType form;
        const char* target;  // the request the server got, "" for none
        const char* sequence;
    } cases[] = {
        {"", " t ", LSRT_OEM, "/coo/oem/oem_lyric.so?query=t", "BEGIN_LYRIC_SEARCH,END_LYRIC_SEARCH 1,THREAD_EXIT"},
        {"a", "t", LSRT_MBOX, "/coo/rovanmbox/2008/lyric.so?query=a%20t&ext=mbox",
         "BEGIN_LYRIC_SEARCH,SEARCH_ERROR 5,END_LYRIC_SEARCH 1,THREAD_EXIT"},
        {"x", "  ", LSRT_OEM, "", "SEARCH_ERROR 3,THREAD_EXIT"},
        {"/doc.xml", "", LSRT_ADDRESS, "/doc.xml", "BEGIN_LYRIC_SEARCH,SEARCH_ERROR 5,THREAD_EXIT"},
        {"C:\\none.xml", "", LSRT_ADDRESS, "", "BEGIN_LYRIC_SEARCH,SEARCH_ERROR 4,THREAD_EXIT"},
        {"", "100% #1", LSRT_OEM, "/coo/oem/oem_lyric.so?query=100%25%20%231",
         "BEGIN_LYRIC_SEARCH,END_LYRIC_SEARCH 1,THREAD_EXIT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        size_t before = server.Targets().size();
        std::string first = c.form == LSRT_ADDRESS && c.first[0] == '/' ? server.Base() + c.first : c.first;
        int id = search.LyricSearch(first.c_str(), c.second.c_str(), sink.GetHwnd(), c.form);
        ASSERT_TRUE(sink.PumpUntilExit(id, 10000));
        std::vector<RECEIVEDMSG> messages = sink.Messages(id);
        EXPECT_EQ(c.sequence, Sequence(messages, CMessageSink::kAudioSearch));
        std::vector<std::string> targets = server.Targets();
        EXPECT_EQ(c.target, targets.size() > before ? targets.back() : "");
        for (const RECEIVEDMSG& m : messages)
            for (const LYRICRESULTUINT& l : m.vecLyrics) {
                EXPECT_EQ(kUnknown, l.strArtist.str());  // empty or missing
                EXPECT_EQ("T", l.strTitle.str());
                if (c.form == LSRT_OEM) {
                    EXPECT_EQ("[00:01]la\nla", l.strLyric.str());
                }
            }
    }
}

TEST_F(SearchTest, VideoAnswersStopAtTheFirstIncompleteItem) {
    const std::string item = "<item><title>v</title><piclink>p</piclink><playinfo>i</playinfo><width>w</width>";
    server.Serve("/vc/xml_play.jsp", "<rss><channel><x/>" + item + "<height>240</height></item>" + item +
                                         "</item>" + item + "<height>1</height></item></channel></rss>");
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Servers\\Video", HKEY_CURRENT_USER) = "http://127.0.0.1";
    MxSetHttpConnectTo(("127.0.0.1:8088:127.0.0.1:" + std::to_string(server.Port())).c_str());
    CMessageSink videoSink(CMessageSink::kVideoSearch);
    CVideoSearch videos;
    struct Case {
        const char* keyword;
        int failedDocuments;  // the XML service unavailable
        const char* sequence;
    } cases[] = {
        {"   ", 0, "BEGIN_VIDEO_SEARCH,SEARCH_ERROR 0,VIDEO_SEARCH_RESULT,THREAD_EXIT"},
        {"k", 0, "BEGIN_VIDEO_SEARCH,SEARCH_ERROR 2,VIDEO_SEARCH_RESULT 1,THREAD_EXIT"},
        {"k", 1, "BEGIN_VIDEO_SEARCH,SEARCH_ERROR 3,VIDEO_SEARCH_RESULT,THREAD_EXIT"},
    };
    for (const Case& c : cases) {
        MxFailNextDocumentCreations(c.failedDocuments);
        int id = videos.StartNewSearch(c.keyword, videoSink.GetHwnd());
        ASSERT_TRUE(videoSink.PumpUntilExit(id, 10000));
        std::vector<RECEIVEDMSG> messages = videoSink.Messages(id);
        EXPECT_EQ(c.sequence, Sequence(messages, CMessageSink::kVideoSearch));
        for (const RECEIVEDMSG& m : messages)
            for (const VIDEORESULTUINT& v : m.vecVideos)
                EXPECT_EQ("v FLV p i 0 240", v.strTitle.str() + " " + v.strType.str() + " " + v.strPicLink.str() + " " +
                                                 v.strPlayInfo.str() + " " + std::to_string(v.nWidth) + " " +
                                                 std::to_string(v.nHeight));
    }
    // A stop from the window's own thread, while the worker sends to that window, does not dead-lock,
    // nor one from inside the handler of the message the worker is sending.
    int id = videos.StartNewSearch("k", videoSink.GetHwnd());
    EXPECT_EQ(0, videos.StopVideoSearchThread(id));
    EXPECT_EQ(-1, videos.StopVideoSearchThread(id));
    id = videos.StartNewSearch("k", videoSink.GetHwnd());
    videoSink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        if (m.nMessage == WM_MX_BEGIN_VIDEO_SEARCH) {
            EXPECT_EQ(0, videos.StopVideoSearchThread(id));
        }
    };
    ASSERT_TRUE(videoSink.PumpUntilExit(id, 10000));
    EXPECT_EQ("BEGIN_VIDEO_SEARCH,THREAD_EXIT", Sequence(videoSink.Messages(id), CMessageSink::kVideoSearch));
    MxSetHttpConnectTo(nullptr);
}

TEST_F(SearchTest, StartAndStopRules) {
    CMessageSink other(CMessageSink::kAudioSearch);
    EXPECT_EQ(-1, search.StartNewSearch(nullptr, "k", AST_LIBRARY, nullptr, ASRT_DEFAULT, 0, 0));  // no window
    EXPECT_EQ(-1, search.StartNewSearch(nullptr, "", AST_ONLINE_THEN_LIBRARY, sink.GetHwnd(), ASRT_DEFAULT, 0, 0));
    EXPECT_EQ(-1, search.LyricSearch("a", "", sink.GetHwnd(), LSRT_OEM));
    EXPECT_EQ(-1, search.StopAudioSearchThread(998, 1));
    search.SetDefaultAudioSearchCallBackHWND(other.GetHwnd());
    int all = search.StartNewSearch(nullptr, "", AST_ALL_SONGS, nullptr, ASRT_DEFAULT, 0, 0);
    int lyric = search.LyricSearch("C:\\none.xml", "", nullptr, LSRT_ADDRESS);
    search.SetDefaultAudioSearchCallBackHWND(sink.GetHwnd());  // later changes redirect nothing
    ASSERT_TRUE(other.PumpUntilExit(all, 10000));
    ASSERT_TRUE(other.PumpUntilExit(lyric, 10000));
    EXPECT_EQ(-1, search.StopAudioSearchThread(all, 1));  // ended

    // A stop during a slow answer: no result, and a waiting stop returns with the exit message queued.
    server.SetDelay(700);
    server.Serve("/so.php", Answer(Item("MP3", "late")));
    int slow = search.StartNewSearch(nullptr, "k", AST_ONLINE, sink.GetHwnd(), ASRT_DEFAULT, 0, 0);
    for (int i = 0; i < 500 && sink.Messages(slow).empty(); ++i) sink.PumpUntilExit(slow, 10);
    EXPECT_EQ(0, search.StopAudioSearchThread(slow, 1));
    sink.PumpPending();
    EXPECT_EQ("BEGIN_SONG_SEARCH,THREAD_EXIT", Sequence(sink.Messages(slow), CMessageSink::kAudioSearch));

    // A window gone before the answer: the blocks meant for it are freed (the leak checker would tell).
    server.SetDelay(100);
    int orphan = search.StartNewSearch(nullptr, "k", AST_ONLINE, other.GetHwnd(), ASRT_DEFAULT, 0, 0);
    other.Destroy();
    Sleep(800);
    EXPECT_EQ(-1, search.StopAudioSearchThread(orphan, 1));  // it ended on its own, its result block unposted
}

TEST_F(SearchTest, XmlServiceUnavailableAndUnconfiguredServer) {
    MxFailNextDocumentCreations(2);
    EXPECT_EQ("BEGIN_SONG_SEARCH,SEARCH_ERROR 6,END_SONG_SEARCH 0,THREAD_EXIT",
              Sequence(Songs("k", AST_ONLINE), CMessageSink::kAudioSearch));
    int id = search.LyricSearch("a", "t", sink.GetHwnd(), LSRT_OEM);
    ASSERT_TRUE(sink.PumpUntilExit(id, 10000));
    EXPECT_EQ("BEGIN_LYRIC_SEARCH,SEARCH_ERROR 6,THREAD_EXIT", Sequence(sink.Messages(id), CMessageSink::kAudioSearch));
    RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Tamborinebox\\Servers");
    EXPECT_EQ("BEGIN_SONG_SEARCH,SEARCH_ERROR 1,END_SONG_SEARCH 0,THREAD_EXIT",
              Sequence(Songs("k", AST_ONLINE), CMessageSink::kAudioSearch));
}

TEST(SearchMessages, NumbersFrontEndsRelyOn) {
    const std::pair<UINT, UINT> numbers[] = {
        {WM_MX_BEGIN_SONG_SEARCH, 4124},  {WM_MX_END_SONG_SEARCH, 4125},         {WM_MX_BEGIN_LYRIC_SEARCH, 4126},
        {WM_MX_END_LYRIC_SEARCH, 4127},   {WM_MX_AUDIOSEARCH_ERROR, 4128},       {WM_MX_AUDIOSEARCH_THREAD_EXIT, 4129},
        {WM_MX_END_SONG_FIRST_SEARCH, 4130}, {WM_MX_BEGIN_VIDEO_SEARCH, 4324},   {WM_MX_VIDEO_SEARCH_RESULT, 4325},
        {WM_MX_VIDEOSEARCH_ERROR, 4127},  {WM_MX_VIDEOSEARCH_THREAD_EXIT, 4128}};
    for (const auto& n : numbers) EXPECT_EQ(n.second, n.first);
}

}  // namespace
}  // namespace mxtest
