// The catalog server: query decoding, the three answers read back by an XML parser, the index's search
// and correction, video frame sizes, the served-file check, and one run of the server itself.
#include <arpa/inet.h>
#include <httplib.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/AudioBuilders.h"
#include "CatalogIndex.h"
#include "support/TempMachine.h"
#include "VideoSize.h"

using namespace mxcatalog;
namespace fs = std::filesystem;

namespace {

// The texts an XPath selects in an answer, joined by '|'; the GB2312 answer is read as GB18030, as the
// module's reader does.
std::string Texts(const std::string& xml, const char* xpath, bool gb) {
    xmlDocPtr doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, gb ? "GB18030" : nullptr, XML_PARSE_NONET);
    if (!doc) return "<unparsed>";
    xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
    xmlXPathObjectPtr found = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath), ctx);
    std::string out;
    for (int i = 0; found && found->nodesetval && i < found->nodesetval->nodeNr; ++i) {
        xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
        out += (i ? "|" : "") + std::string(reinterpret_cast<const char*>(text));
        xmlFree(text);
    }
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(ctx);
    xmlFreeDoc(doc);
    return out;
}

std::string Be32(uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }
std::string Box(const std::string& type, const std::string& body) { return Be32(uint32_t(body.size() + 8)) + type + body; }
std::string Tkhd(int version, uint32_t w, uint32_t h) {
    std::string body = std::string(1, char(version)) + std::string(3, '\0') + std::string(version ? 32 : 20, '\0');
    return Box("tkhd", body + std::string(8 + 8 + 36, '\0') + Be32(w << 16) + Be32(h << 16));
}
std::string AmfNumber(const std::string& name, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    std::string out = std::string{char(name.size() >> 8), char(name.size())} + name + '\0';
    for (int i = 7; i >= 0; --i) out += char(bits >> (i * 8));
    return out;
}
std::string Flv(double w, double h) {
    std::string data = std::string("\x02\x00\x0AonMetaData\x08", 14) + Be32(3) + AmfNumber("duration", 1.5) +
                       AmfNumber("width", w) + AmfNumber("height", h) + std::string("\0\0\x09", 3);
    std::string tag = "\x12" + Be32(uint32_t(data.size())).substr(1) + std::string(7, '\0') + data;
    return std::string("FLV\x01\x05", 5) + Be32(9) + Be32(0) + tag + Be32(uint32_t(tag.size()));
}

CATALOGROW Song(const std::string& path, const std::string& title, const std::string& artist, int kind = KIND_MP3) {
    CATALOGROW r;
    r.strPath = path, r.nKind = kind, r.strTitle = title, r.strArtist = artist, r.strAlbum = "Album", r.nSize = 1000;
    return r;
}

}  // namespace

TEST(CatalogRequest, DecodesKeysAsGbkFirstAndQueriesAsUtf8First) {
    struct ROW { const char* raw; bool song; bool ok; std::string text; } rows[] = {
        {"%C7%E5%B3%BF", true, true, "清晨"},        // GBK, as the module encodes keys
        {"%E6%B8%85", true, true, "清"},              // not GBK, but UTF-8
        {"%FF%FF", true, false, ""},                  // neither encoding
        {"%", true, false, ""}, {"%4", true, false, ""}, {"%G1", true, false, ""},
        {"%E6%B8%85%E6%99%A8", false, true, "清晨"},  // UTF-8 of the HTTP layer
        {"%C7%E5%B3%BF", false, true, "清晨"},        // raw GBK bytes the HTTP layer passed on
        {"Old+Radio", true, true, "Old Radio"}, {"a+b", false, true, "a+b"}};
    for (const auto& r : rows) {
        std::string text;
        EXPECT_EQ(r.song ? DecodeSongKey(r.raw, text) : DecodeFreeQuery(r.raw, text), r.ok) << r.raw;
        if (r.ok) { EXPECT_EQ(text, r.text) << r.raw; }
    }
    std::string text;
    EXPECT_FALSE(DecodeSongKey(std::string(MAX_QUERY_BYTES + 1, 'a'), text));
    ASSERT_TRUE(RawFreeQuery("query=Tom & Jerry Theme&ext=mbox", text));
    EXPECT_EQ(text, "Tom & Jerry Theme");
}

TEST(CatalogRequest, AnswersReadTheSameInGb2312AndUtf8) {
    SONGITEM s;
    s.nId = 7, s.strType = "MP3";
    s.strTitle = "清晨 & <晨曲>";
    s.strArtist = "合成\uE81E乐团";  // a character GB18030 has no code for
    s.strAlbum = "示例\x01曲集";  // a control byte XML cannot carry
    s.nSize = 12336, s.nBitrate = 128, s.nDuration = 261, s.nLyricId = 9, s.strLyric = "太阳升起";
    SONGITEM other = s;
    other.strArtist = "Other", other.nLyricId = 0;
    VIDEOITEM v;
    v.nId = 3, v.strTitle = "夜景";
    v.nPictureId = 4, v.nWidth = 320, v.nHeight = 240;
    for (bool gb : {true, false}) {
        std::string song = SongAnswer({other, s, s}, "", "h:1", !gb);
        EXPECT_EQ(song.find("encoding=\"GB2312\"") != std::string::npos, gb);
        EXPECT_EQ(Texts(song, "/rss/rovanresult/item[2]/*", gb),
                  "MP3|清晨 & <晨曲>|合成\uE81E乐团|示例曲集|12336|128|261|128kbps|太阳升起|http://h:1/files/9|http://h:1/files/7");
        EXPECT_EQ(Texts(song, "/rss/rovanresult/item[1]/lyricURL", gb), "");
        EXPECT_EQ(Texts(song, "/rss/rovanresult/hint", gb), "合成\uE81E乐团");
        EXPECT_EQ(Texts(song, "/rss/rovanresult/hint/@href", gb), "http://h:1/so.php?ac=so&key=%BA%CF%B3%C9%20%C0%D6%CD%C5");
        EXPECT_EQ(Texts(SongAnswer({}, "Old Radio", "h:1", !gb), "/rss/rovanresult/qc", gb), "Old Radio");
        EXPECT_EQ(Texts(LyricAnswer({{"清晨", "合成乐团", "", "[00:01]太阳\n"}}, !gb), "/rss/rovanresult/item/*", gb),
                  "清晨|合成乐团||[00:01]太阳\n");
        EXPECT_EQ(Texts(VideoAnswer({v}, "h:8088", !gb), "/rss/channel/item/*", gb),
                  "夜景|http://h:8088/files/4|http://h:8088/files/3|320|240");
        EXPECT_EQ(Texts(DownloadAnswer(12336, {"http://h:1/files/7", "http://m/?a&b"}, "清晨 & 晨曲.mp3", !gb), "/downloadList/@filename|/downloadList/*", gb),
                  "清晨 & 晨曲.mp3|12336|http://h:1/files/7\nhttp://m/?a&b");
    }
}

TEST(CatalogRequest, AnswersOneSatisfiableRangeOfTheSameVersionAndReadsDownloadRequests) {
    struct RANGEROW { const char* header; int64_t size; RangeAnswer answer; int64_t first = 0, length = 0; } ranges[] = {
        {"", 100, RANGE_WHOLE, 0, 100},           {"items=0-1", 100, RANGE_WHOLE, 0, 100},
        {"bytes=4-7", 100, RANGE_PART, 4, 4},      {"bytes=90-500", 100, RANGE_PART, 90, 10},
        {"bytes=-10", 100, RANGE_PART, 90, 10},    {"bytes=-500", 100, RANGE_PART, 0, 100},
        {"bytes=0-99999999999999999999999", 100, RANGE_PART, 0, 100},
        {"bytes=100-", 100, RANGE_UNSATISFIABLE},  {"bytes=99999999999999999999999-", 100, RANGE_UNSATISFIABLE},
        {"bytes=-0", 100, RANGE_UNSATISFIABLE},    {"bytes=0-", 0, RANGE_UNSATISFIABLE},
        {"bytes=7-4", 100, RANGE_UNSATISFIABLE},   {"bytes=0-1,5-6", 100, RANGE_UNSATISFIABLE},
        {"bytes=a-", 100, RANGE_UNSATISFIABLE},
    };
    for (const auto& r : ranges) {
        int64_t first = -1, length = -1;
        EXPECT_EQ(ResolveRange(r.header, r.size, first, length), r.answer) << r.header;
        if (r.answer != RANGE_UNSATISFIABLE) { EXPECT_EQ(std::make_pair(first, length), std::make_pair(r.first, r.length)) << r.header; }
    }
    const int64_t modified = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    struct IFRANGEROW { const char* value; bool holds; } ifRanges[] = {
        {"\"64-5\"", true},  {"W/\"64-5\"", false},  {"\"64-6\"", false},  {"", false},
        {"Sun, 06 Nov 1994 08:49:37 GMT", true}, {"Sun, 06 Nov 1994 08:49:38 GMT", false},
        {"Sunday, 06-Nov-94 08:49:37 GMT", false}, {"Sun, 31 Feb 1994 08:49:37 GMT", false},
    };
    for (const auto& r : ifRanges) EXPECT_EQ(IfRangeHolds(r.value, "\"64-5\"", modified), r.holds) << r.value;
    EXPECT_EQ(HttpDate(modified), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(HttpDate(1709208000), "Thu, 29 Feb 2024 12:00:00 GMT");
    struct IDROW { const char* query; int64_t id; /* 0: refused */ } ids[] = {{"id=7", 7}, {"key=a&id=12", 12}, {"id=", 0}, {"id=7x", 0}, {"id=-1", 0}, {"id=1234567890123456789", 0}, {"ids=7", 0}};
    for (const auto& r : ids) {
        int64_t id = 0;
        EXPECT_EQ(DownloadId(r.query, id) ? id : 0, r.id) << r.query;
    }
    EXPECT_EQ(MirrorBase("http://m:81//"), "http://m:81");
    EXPECT_EQ(MirrorBase("HTTPS://M/x"), "HTTPS://M/x");
    for (const char* bad : {"ftp://m", "http://", "http:///x", "http://m/a b", "http://m/?q", "http://m/\n"}) EXPECT_EQ(MirrorBase(bad), "") << bad;
}

TEST(CatalogIndex, FindsWordsPrefixesAndChineseRunsAndCorrectsCloseMisspellings) {
    mxtest::TempMachine machine;
    CCatalogIndex index;
    std::string error;
    {
        // Another program's database named by mistake is refused, not emptied.
        sqlite3* other = nullptr;
        sqlite3_open((machine.root() + "/other.db").c_str(), &other);
        sqlite3_exec(other, "CREATE TABLE files(id INTEGER PRIMARY KEY); INSERT INTO files VALUES(1)", nullptr, nullptr, nullptr);
        CCatalogIndex wrong;
        EXPECT_FALSE(wrong.Open(machine.root() + "/other.db", error));
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(other, "SELECT count(*) FROM files", -1, &q, nullptr);
        EXPECT_TRUE(sqlite3_step(q) == SQLITE_ROW && sqlite3_column_int(q, 0) == 1);
        sqlite3_finalize(q);
        sqlite3_close(other);
    }
    ASSERT_TRUE(index.Open(machine.root() + "/index.db", error)) << error;
    ASSERT_TRUE(index.PutRows({Song("/m/a.mp3", "Old Radio", "Tone Generator"), Song("/m/b.wma", "月亮代表我的心", "邓丽君", KIND_WMA),
                               Song("/m/c.mp3", "Morning \"Live\"", "Synth Ensemble"), Song("/m/v.flv", "Old Radio", "", KIND_VIDEO)}));
    struct ROW { const char* key; std::string titles; } rows[] = {
        {"old radio", "Old Radio"},       {"old RAD", "Old Radio"}, {"rad old", ""},  {"代表", "月亮代表我的心"}, {"邓丽君 月亮", "月亮代表我的心"},
        {"\"live\"", "Morning \"Live\""}, {"c.mp3", "Morning \"Live\""},  {"!!! ？", ""},  {"代我", ""},
    };
    for (const auto& r : rows) {
        std::string titles;
        for (const auto& s : index.SearchSongs(r.key, 10)) titles += (titles.empty() ? "" : "|") + s.strTitle;
        EXPECT_EQ(titles, r.titles) << r.key;
    }
    EXPECT_EQ(index.SearchVideos("radio", 10).size(), 1u);
    EXPECT_EQ(index.Correction("Old Radoi"), "Old Radio");
    EXPECT_EQ(index.Correction("Tone Generater"), "Tone Generator");
    EXPECT_EQ(index.Correction("邓丽军"), "邓丽君");
    EXPECT_EQ(index.Correction("Jazz"), "");
}

TEST(VideoSize, ReadsFlvMetadataAndMp4TrackHeadersAndRefusesBrokenBoxes) {
    std::string audioTrak = Box("trak", Tkhd(0, 0, 0));
    struct ROW { std::string bytes; bool ok; int w, h; } rows[] = {
        {Flv(320, 240), true, 320, 240},
        {Flv(320, 240).substr(0, 40), false, 0, 0},  // cut inside the metadata
        {Flv(-5, 1e300), false, 0, 0},
        {Box("ftyp", "isom") + Box("moov", audioTrak + Box("trak", Tkhd(0, 176, 144))), true, 176, 144},
        {Box("moov", Box("trak", Tkhd(1, 640, 360))), true, 640, 360},
        {Be32(0) + "moov" + Box("trak", Tkhd(0, 96, 64)), true, 96, 64},  // size 0: to the end
        {Box("ftyp", "isom") + Be32(4) + "free" + Box("moov", Box("trak", Tkhd(0, 8, 8))), false, 0, 0},
        {Be32(1) + "moov" + std::string(8, '\xFF'), false, 0, 0},  // 64-bit size past the end
        {Box("moov", Box("trak", Tkhd(0, 8, 8)).substr(0, 60)), false, 0, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        int w = 0, h = 0;
        auto p = reinterpret_cast<const uint8_t*>(r.bytes.data());
        bool ok = r.bytes.compare(0, 3, "FLV") == 0 ? FlvFrameSize(p, r.bytes.size(), w, h) : Mp4FrameSize(p, r.bytes.size(), w, h);
        EXPECT_EQ(ok, r.ok) << "row " << i;
        if (r.ok) { EXPECT_EQ(std::make_pair(w, h), std::make_pair(r.w, r.h)) << "row " << i; }
    }
}

TEST(CatalogIndex, ServesOnlyFilesWhoseRealPathIsInsideTheFolders) {
    mxtest::TempMachine machine;
    std::string music = machine.HostD("music"), outside = machine.HostD("secret.mp3");
    mxtest::WriteHostFile(music + "/song.mp3", "not really audio");
    mxtest::WriteHostFile(music + "/later.lrc", "[00:01]x");
    mxtest::WriteHostFile(outside, "secret");
    fs::create_symlink(outside, music + "/link.mp3");
    CCatalogIndex index;
    std::string error;
    ASSERT_TRUE(index.Open(machine.root() + "/index.db", error) && index.SetRoots({music}, error)) << error;
    REFRESHCOUNT c = index.Refresh();
    EXPECT_EQ(c.nAdded, 2);  // the link is not followed
    EXPECT_EQ(c.nUnreadable, 1);
    ASSERT_TRUE(index.PutRows({Song(music + "/../secret.mp3", "Secret", "")}));
    std::vector<SONGITEM> found = index.SearchSongs("secret", 10);
    ASSERT_EQ(found.size(), 1u);
    int64_t size;
    std::string real;
    const int64_t lastId = found[0].nId;
    EXPECT_EQ(index.OpenServable(lastId, size, real), -1);
    // The real paths of the files served under the ids 1 to `upTo`, one a line.
    auto served = [&](int64_t upTo) {
        std::string paths;
        for (int64_t id = 1; id <= upTo; ++id) {
            int fd = index.OpenServable(id, size, real);
            if (fd >= 0) paths += real + "\n", close(fd);
        }
        return paths;
    };
    // An indexed file swapped for a pipe is refused at once, by the file service and the lyric search.
    fs::remove(music + "/later.lrc");
    ASSERT_EQ(mkfifo((music + "/later.lrc").c_str(), 0600), 0);
    EXPECT_EQ(served(lastId).find("later"), std::string::npos);
    EXPECT_TRUE(index.FindLyrics("later", 10).empty());
    // An indexed file swapped for a link to the outside after indexing is refused too.
    fs::remove(music + "/later.lrc");
    fs::create_symlink(outside, music + "/later.lrc");
    EXPECT_EQ(served(4).find("secret"), std::string::npos);
    EXPECT_EQ(index.Refresh().nRemoved, 2);  // the swapped file and the row outside leave the index
    // A file added later never takes an id given before: old addresses do not name it.
    mxtest::WriteHostFile(music + "/new.lrc", "[00:01]y");
    EXPECT_EQ(index.Refresh().nAdded, 1);
    EXPECT_EQ(served(lastId).find("new.lrc"), std::string::npos);
}

TEST(CatalogServer, AnswersEachRequestOverAGeneratedFolder) {
    mxtest::TempMachine machine;
    std::string music = machine.HostD("music"), copies = machine.HostD("copies");
    auto gbkBytes = [](const char* utf8) {
        CString t = mxtest::Gbk(utf8);
        return std::string(t, size_t(t.GetLength()));
    };
    std::string gbk = gbkBytes("清晨"), artist = gbkBytes("合成乐团");
    mxtest::WriteHostFile(music + "/morning.mp3", mxtest::Tag(3, mxtest::Frame3("TIT2", '\0' + gbk) + mxtest::Frame3("TPE1", '\0' + artist)) +
                                                      mxtest::Frames(mxtest::Mpeg1Layer3Header128(), 417, 200));
    mxtest::WriteHostFile(music + "/morning.lrc", "[00:01.00]" + gbk + "\n");
    mxtest::WriteHostFile(music + "/clips/night.flv", Flv(160, 120));
    mxtest::WriteHostFile(music + "/clips/night.jpg", "\xFF\xD8\xFF");
    mxtest::WriteHostFile(copies + "/morning.mp3", mxtest::ReadHostFile(music + "/morning.mp3"));  // another folder, the same song

    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET, addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    close(probe);
    // The module asks for videos on port 8088 only; elsewhere the server is reached directly.
    probe = socket(AF_INET, SOCK_STREAM, 0);
    addr.sin_port = htons(8088);
    int videoPort = bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 8088 : port + 1;
    close(probe);
    std::string db = machine.root() + "/catalog.db", ports[] = {std::to_string(port), std::to_string(videoPort)};
    pid_t pid = fork();
    if (pid == 0) {
        execl(MXCATALOG_PATH, "mxcatalog", "serve", "--music", music.c_str(), "--port", ports[0].c_str(), "--video-port",
              ports[1].c_str(), "--index", db.c_str(), "--listen", "127.0.0.1", "--music", copies.c_str(), "--mirror",
              "http://mirror.example:81/", static_cast<char*>(nullptr));
        _exit(127);
    }
    httplib::Client songs("127.0.0.1", port), videos("127.0.0.1", videoPort);
    std::string answer;
    for (int i = 0; i < 200 && Texts(answer, "//item/title", true) != "清晨|清晨"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto res = songs.Get("/so.php?ac=so&key=%C7%E5%B3%BF");
        answer = res ? res->body : "";
    }
    EXPECT_EQ(Texts(answer, "//item[lyric!='']/*[name()!='urls' and name()!='lyricURL']", true), "MP3|清晨|合成乐团||" +
              std::to_string(fs::file_size(music + "/morning.mp3")) + "|128|5|128kbps|清晨");
    std::string url = Texts(answer, "//item[lyric!='']/urls", true), copy = Texts(answer, "//item[lyric='']/urls", true);
    ASSERT_EQ(url.rfind("http://127.0.0.1:" + ports[0] + "/files/", 0), 0u) << answer;
    const std::string path = url.substr(url.find("/files/"));
    auto file = songs.Get(path.c_str());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body, mxtest::ReadHostFile(music + "/morning.mp3"));
    // The download address lists the song's copy in the other folder, then the mirror.
    auto list = songs.Get(("/djurl.php?id=" + path.substr(7)).c_str());
    ASSERT_TRUE(list);
    EXPECT_EQ(Texts(list->body, "/downloadList/@filename|/downloadList/*", true), "morning.mp3|" + std::to_string(file->body.size()) + "|" + url +
              "\n" + copy + "\nhttp://mirror.example:81" + path);
    // One range is served, of the version the client holds; several, or one past the end, are refused
    // rather than each sent in full.
    const std::string etag = file->get_header_value("ETag"), size = std::to_string(file->body.size());
    EXPECT_EQ(file->get_header_value("Accept-Ranges"), "bytes");
    EXPECT_EQ(etag.substr(0, 1), "\"");
    struct RANGE { const char* range; std::string ifRange; int status; std::string body, contentRange; } ranges[] = {
        {"bytes=4-7", etag, 206, file->body.substr(4, 4), "bytes 4-7/" + size},
        {"bytes=4-7", file->get_header_value("Last-Modified"), 206, file->body.substr(4, 4), "bytes 4-7/" + size},
        {"bytes=4-7", "\"0-0\"", 200, file->body, ""},
        {"bytes=0-,0-", "", 416, "", "bytes */" + size},
        {"bytes=99999-", "", 416, "", "bytes */" + size},
    };
    for (const auto& r : ranges) {
        httplib::Headers headers = {{"Range", r.range}};
        if (!r.ifRange.empty()) headers.emplace("If-Range", r.ifRange);
        auto part = songs.Get(path.c_str(), headers);
        ASSERT_TRUE(part);
        EXPECT_EQ(part->status, r.status) << r.range << " " << r.ifRange;
        EXPECT_EQ(part->body, r.body) << r.range << " " << r.ifRange;
        EXPECT_EQ(part->get_header_value("Content-Range"), r.contentRange) << r.range << " " << r.ifRange;
        EXPECT_EQ(part->get_header_value("Content-Type").find("multipart"), std::string::npos) << r.range;
    }
    auto body = [](httplib::Client& client, const char* request) {
        auto res = client.Get(request);
        return res ? res->body : "<no answer to " + std::string(request) + ">";
    };
    EXPECT_EQ(Texts(body(songs, "/coo/rovanmbox/2008/lyric.so?query=合成乐团 清晨&ext=mbox"), "//item/geci", true), "[00:01.00]清晨\n");
    EXPECT_EQ(Texts(body(songs, "/coo/oem/oem_lyric.so?query=清晨 合成乐团"), "//item/artist", true), "合成乐团");
    const std::string video = body(videos, "/vc/xml_play.jsp?query=night");
    EXPECT_EQ(Texts(video, "//item/width|//item/height", true), "160|120");
    EXPECT_NE(Texts(video, "//item/piclink", true), "");
    auto bad = songs.Get("/so.php?ac=so&key=%E"), missing = songs.Get("/files/999999");
    EXPECT_EQ(bad ? bad->status : 0, 400);
    EXPECT_EQ(missing ? missing->status : 0, 404);

    // The module's searches, as mxbox runs them, find the same.
    std::string mxbox = machine.EnvPrefix() + MXBOX_PATH " ";
    int status = 0;
    auto run = [&](const std::string& args) {
        std::string out = mxtest::RunCommand(mxbox + args, &status);
        EXPECT_EQ(status, 0) << args;
        return out;
    };
    run("settings servers use 127.0.0.1:" + ports[0]);
    EXPECT_NE(run("search 清晨 --type online --json").find("\"strArtist\": \"合成乐团\""), std::string::npos);
    EXPECT_NE(run("lyrics 合成乐团 清晨 --json").find("[00:01.00]清晨"), std::string::npos);
    if (videoPort == 8088) { EXPECT_NE(run("video night --json").find("\"nWidth\": 160"), std::string::npos); }
    // A result downloaded and filed into the library; a download-address link fetched to a chosen file.
    run("settings set AudioPath 'C:\\lib'");
    EXPECT_NE(run("search 清晨 --type online --download 1").find("added to the library: "), std::string::npos);
    EXPECT_NE(run("library ls").find("/lib/合成乐团-清晨.mp3]"), std::string::npos);
    run("download '/djurl.php?id=" + path.substr(7) + "' --to " + machine.HostD("got.mp3"));
    EXPECT_TRUE(mxtest::ReadHostFile(machine.HostD("got.mp3")) == file->body);
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
