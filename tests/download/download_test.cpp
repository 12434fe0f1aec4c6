// Download jobs against an HTTP server inside the test process: the messages of a job in order, the
// resolution of download-address links, the caller's name, and a cancel that silences the job.
#include <memory>

#include "MessageSink.h"
#include "library/LibraryFixture.h"
#include "support/FixtureServer.h"

namespace mxtest {
namespace {

class DownloadTest : public FacadeTest {
protected:
    DownloadTest()
        : server([this](httplib::Server& s) {
              s.Get("/song", [this](const httplib::Request& req, httplib::Response& res) {
                  std::lock_guard<std::mutex> guard(m_lock);
                  m_agent = req.get_header_value("User-Agent");
                  res.set_content(m_song, "audio/mpeg");
              });
              s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
                  res.set_content_provider(1 << 20, "audio/mpeg", [](size_t offset, size_t, httplib::DataSink& out) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(20));
                      return offset < (1 << 19) && out.write(std::string(4096, 'w').data(), 4096);
                  });
              });
              s.Get("/djurl.php", [this](const httplib::Request& req, httplib::Response& res) {
                  std::lock_guard<std::mutex> guard(m_lock);
                  auto answer = m_answers.find(req.get_param_value("id"));
                  if (answer != m_answers.end()) res.set_content(answer->second, "text/xml");
                  res.status = answer != m_answers.end() ? 200 : 404;
              });
          }) {
        registry_string<std::string>("SOFTWARE\\Tamborinebox\\Servers\\DownloadAddress", HKEY_CURRENT_USER) =
            server.Base() + "/";
        CreateDirectoryA("C:\\dl", nullptr);
    }
    int Start(const std::vector<std::string>& urls, const std::string& caller) {
        sink = std::make_unique<CMessageSink>(CMessageSink::kDownloads);
        std::list<CString> list;
        for (const std::string& u : urls) list.push_back(CString(u.c_str()));
        return CDownloadAVFile::Instance()->AddMultiDownload(nullptr, &list, "C:\\dl\\song.mp3", sink->GetHwnd(),
                                                             caller.c_str());
    }
    // The messages of a finished job, one word each (a run of progress as one) with the failure reason,
    // size, percent or number of addresses. The job's finished message is sent, so it may pass the
    // engine's queued ones: it is checked to come once, before the end, and left out.
    std::vector<std::string> Words() {
        std::vector<std::string> words;
        int finished = 0;
        for (const RECEIVEDMSG& m : sink->Messages()) {
            std::string word = MessageName(m.nMessage, CMessageSink::kDownloads);
            finished += m.nMessage == WM_MX_DOWNLOAD_JOB_FINISHED;
            if (m.nMessage == WM_MX_DOWNLOAD_JOB_END) {
                EXPECT_EQ(1, finished);
            }
            if (m.nMessage == WM_MX_DOWNLOAD_JOB_FINISHED) continue;
            if (m.nMessage == WM_MX_DOWNLOAD_RESOLVE_FAILED) word += " " + std::to_string(m.nValue);
            if (m.nMessage == WM_MX_DOWNLOAD_SIZE || m.nMessage == WM_MX_DOWNLOAD_PROGRESS)
                word += " " + std::to_string(m.lParam);
            if (m.nMessage == WM_MX_DOWNLOAD_URL_LIST) word += " " + std::to_string(m.vecList.size());
            if (m.nMessage == WM_MX_DOWNLOAD_PROGRESS && !words.empty() && words.back().rfind("PROGRESS", 0) == 0)
                words.pop_back();
            words.push_back(word);
        }
        return words;
    }
    std::string Sequence() {
        std::string out;
        for (const std::string& w : Words()) out += (out.empty() ? "" : ",") + w;
        return out;
    }

    std::mutex m_lock;
    std::string m_song = std::string(300000, 's'), m_agent;
    std::map<std::string, std::string> m_answers;
    FixtureServer server;
    std::unique_ptr<CMessageSink> sink;
};

TEST_F(DownloadTest, JobsResolveLinksReportEachStepAndEndOnce) {
    const std::string b = server.Base();
    m_answers["7"] = "<downloadList><size> 300000 </size><urls>\n" + b + "/gone\n" + b + "/song\n</urls></downloadList>";
    m_answers["8"] = "<downloadList><size>5</size><urls> </urls></downloadList>";
    m_answers["9"] = "<downloadList><size>5</size></downloadList>";
    const std::string fetched = "STARTED,CONNECTING,STATUS_TEXT,NOTICE,NEXT_ADDRESS,CONNECTING,PROGRESS 100,COMPLETED,JOB_END";
    struct Case {
        const char* name;
        std::vector<std::string> urls;
        std::string caller, agent, sequence;
    } cases[] = {
        {"two plain addresses, the first missing", {b + "/gone", b + "/song"}, "", "Tamborinebox MiraLib/1.0",
         "FIRST_URL,SIZE 0,URL_LIST 2," + fetched},
        {"a link in any letter case is resolved", {"HTTP" + b.substr(4) + "/djurl.php?id=7"}, std::string(300, 'c'),
         std::string(256, 'c') + " MiraLib/1.0", "FIRST_URL,SIZE 300000,URL_LIST 2," + fetched},
        {"an answer with an empty address text", {b + "/djurl.php?id=8"}, "x", "", "RESOLVE_FAILED 1,NOTICE,JOB_END"},
        {"an answer without addresses", {b + "/djurl.php?id=9"}, "x", "", "RESOLVE_FAILED 0,NOTICE,JOB_END"},
        {"a link the server does not know", {b + "/djurl.php?id=404"}, "x", "", "RESOLVE_FAILED 0,NOTICE,JOB_END"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA("C:\\dl\\song.mp3");
        m_agent.clear();
        int id = Start(c.urls, c.caller);
        ASSERT_GT(id, 0);
        ASSERT_TRUE(sink->PumpUntilExit(id, 20000));
        CDownloadAVFile::Instance()->DelMultiDownload(id);
        EXPECT_EQ(c.sequence, Sequence());
        EXPECT_EQ(c.agent, m_agent);
        EXPECT_TRUE((c.agent.empty() ? "" : m_song) == ReadHostFile(machine.HostC("dl/song.mp3")));
    }
}

TEST_F(DownloadTest, CancelSilencesTheJobAndRemovesItsPart) {
    int id = Start({server.Base() + "/slow"}, "x");
    ASSERT_GT(id, 0);
    bool cancelled = false;
    sink->m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        if (m.nMessage != WM_MX_DOWNLOAD_PROGRESS || cancelled) return;
        EXPECT_LE(0, CDownloadAVFile::Instance()->GetDownloadPercent(id));
        cancelled = true;  // from inside the status window's own relay, which must not outlive it
        std::this_thread::sleep_for(std::chrono::milliseconds(350));  // more progress is queued meanwhile
        CDownloadAVFile::Instance()->DelMultiDownload(id);
    };
    ASSERT_TRUE(sink->PumpUntilExit(id, 20000));
    std::vector<std::string> after;  // every message after the first progress, the one cancelled in
    for (const RECEIVEDMSG& m : sink->Messages())
        if (!after.empty() || m.nMessage == WM_MX_DOWNLOAD_PROGRESS) after.push_back(MessageName(m.nMessage, CMessageSink::kDownloads));
    EXPECT_EQ((std::vector<std::string>{"PROGRESS", "JOB_FINISHED", "JOB_END"}), after);
    EXPECT_EQ(-1, CDownloadAVFile::Instance()->GetDownloadPercent(id));
    EXPECT_EQ(-1, CDownloadAVFile::Instance()->GetDownloadPercent(0));
    std::list<CString> none;
    EXPECT_EQ(-1, CDownloadAVFile::Instance()->AddMultiDownload(nullptr, &none, "C:\\dl\\x.mp3", sink->GetHwnd(), ""));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\dl\\song.mp3"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\dl\\song.mp3.part"));
}

}  // namespace
}  // namespace mxtest
