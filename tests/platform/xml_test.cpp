#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "MxModule/foundation/XmlReader.h"
#include "support/FixtureServer.h"
#include "support/TempMachine.h"

namespace mxtest {
namespace {

class XmlTest : public MachineTest {
protected:
    XmlTest() { CoInitialize(nullptr); }
    ~XmlTest() override {
        MxSetHttpTimeouts(0, 0);
        CoUninitialize();
    }
    // Loads the address; the text of rss/a, or "(not loaded)".
    static std::string TextOfA(const std::string& address) {
        CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
        if (!doc || !XmlReader::Load(doc.Get(), CString(address.c_str()))) return "(not loaded)";
        CXmlNodePtr rss = XmlReader::Select(doc.Get(), "rss");
        return XmlReader::Text(XmlReader::Select(rss.Get(), "a").Get()).str();
    }
    FixtureServer server;
};

TEST_F(XmlTest, DeclaredEncodingsGiveTheSameSystemCodePageText) {
    // 你好, a character GBK has but GB2312 lacks, and a four-byte one of GB18030 only (ö).
    const std::string gbk = "\xC4\xE3\xBA\xC3\x81\x40\x81\x30\x8B\x32";
    const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x82\xC3\xB6";
    struct Case {
        const char* path;
        std::string body;
    } cases[] = {
        {"/gb2312", "<?xml version=\"1.0\" encoding=\"GB2312\"?><rss><a> " + gbk + " </a></rss>"},
        {"/gbk", "<?xml version='1.0' encoding='gbk'?><rss><a>" + gbk + "</a></rss>"},
        {"/utf8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><a>" + utf8 + "</a></rss>"},
        {"/plain", "<rss>\n  <a><![CDATA[" + utf8 + "]]></a>\n</rss>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.Serve(c.path, c.body);
        EXPECT_EQ(gbk, TextOfA(server.Base() + c.path));
    }
}

TEST_F(XmlTest, HostileOrBrokenAnswersAreNotLoaded) {
    // Ten levels of ten references each: 10^10 bytes if anything expanded them.
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a0 \"laugh\">";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    bomb += "]><rss><a>&a9;</a></rss>";
    WriteHostFile(machine.HostC("secret.txt"), "secret");
    struct Case {
        const char* path;
        std::string body;
        int status;
    } cases[] = {
        {"/bomb", bomb, 200},
        {"/external", "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY s SYSTEM \"file://" + machine.HostC("secret.txt") +
                          "\">]><rss><a>&s;</a></rss>", 200},
        {"/truncated", "<?xml version=\"1.0\"?><rss><a>text</a>", 200},
        {"/undeclared", "<rss><a>&nothing;</a></rss>", 200},
        {"/error", "<rss><a>an error page</a></rss>", 500},
        {"/empty", "", 200},
        {"/flood", "<rss>" + [] {
             std::string a;
             for (int i = 0; i < 250000; ++i) a += "<a/>";
             return a;
         }() + "</rss>", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server.Serve(c.path, c.body, c.status);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ("(not loaded)", TextOfA(server.Base() + c.path));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
    EXPECT_EQ("(not loaded)", TextOfA("http://127.0.0.1:1/nothing-listens"));
    EXPECT_EQ("(not loaded)", TextOfA("C:\\no such file.xml"));
}

TEST_F(XmlTest, EndlessAnswerIsCutAtTheSizeCapAndASilentServerTimesOut) {
    std::atomic<size_t> sent{0};
    FixtureServer huge([&sent](httplib::Server& s) {
        s.Get("/huge", [&sent](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/xml", [&sent](size_t offset, httplib::DataSink& sink) {
                static const std::string chunk = "<rss>" + std::string(65536 - 5, ' ');
                sent = offset;
                if (offset >= (size_t(1) << 30)) {  // 1 GiB
                    sink.done();
                    return true;
                }
                return sink.write(chunk.data(), chunk.size());
            });
        });
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("(not loaded)", TextOfA(huge.Base() + "/huge"));
    EXPECT_GT(sent.load(), size_t(2) << 20);  // the answer really came, and was given up past the cap
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&a), len));
    ASSERT_EQ(0, listen(s, 4));  // connections complete in the backlog and are never answered
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    MxSetHttpTimeouts(500, 1000);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ("(not loaded)", TextOfA("http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/so.php"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    close(s);
}

TEST_F(XmlTest, NodesReadLikeTheSystemDocument) {
    WriteHostFile(machine.HostC("list.xml"),
                  "<?xml version=\"1.0\"?>\n<rss>\n  <!-- note -->\n  <item n=\"1\">x<b>y</b></item>\n"
                  "  <other/>\n  <item>second</item>\n</rss>\n");
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    ASSERT_TRUE(doc);
    ASSERT_TRUE(XmlReader::Load(doc.Get(), "C:\\list.xml"));
    CXmlNodePtr rss = XmlReader::Select(doc.Get(), "rss");
    EXPECT_FALSE(XmlReader::Select(doc.Get(), "item"));  // children only, not descendants
    CXmlPtr<IXMLDOMNodeList> children;
    long count = 0;
    ASSERT_EQ(S_OK, rss->get_childNodes(children.Out()));
    ASSERT_EQ(S_OK, children->get_length(&count));
    std::vector<std::string> names;
    for (long i = 0; i < count; ++i) {
        CXmlNodePtr child;
        ASSERT_EQ(S_OK, children->get_item(i, child.Out()));
        names.push_back(XmlReader::Name(child.Get()).str());
    }
    EXPECT_EQ((std::vector<std::string>{"#comment", "item", "other", "item"}), names);  // no white-space nodes
    CXmlNodePtr out;
    EXPECT_EQ(S_FALSE, children->get_item(count, out.Out()));
    CXmlNodePtr item = XmlReader::Select(rss.Get(), "item");
    EXPECT_EQ("xy", XmlReader::Text(item.Get()).str());
    CString value;
    EXPECT_TRUE(XmlReader::Attribute(item.Get(), "n", value));
    EXPECT_EQ("1", value.str());
    EXPECT_FALSE(XmlReader::Attribute(item.Get(), "m", value));
    // A node outlives the document it came from.
    doc.Reset();
    EXPECT_EQ("xy", XmlReader::Text(item.Get()).str());
}

// Failures on request: SearchTest.XmlServiceUnavailableAndUnconfiguredServer.
TEST_F(XmlTest, DocumentCreationNeedsCom) {
    EXPECT_TRUE(XmlReader::CreateDocument());
    std::thread([] {
        IXMLDOMDocument* doc = nullptr;
        EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                                        IID_IXMLDOMDocument, reinterpret_cast<void**>(&doc)));
        EXPECT_EQ(nullptr, doc);
    }).join();
}

}  // namespace
}  // namespace mxtest
