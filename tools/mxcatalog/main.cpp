// mxcatalog: the server behind the music box's online song, lyric and video searches, over folders of
// music indexed in SQLite.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CatalogIndex.h"
#include "CatalogRequest.h"

using namespace mxcatalog;

namespace {

struct SERVEARGS {
    std::vector<std::string> vecMusic;
    int nPort = 8080;
    int nVideoPort = 8088;
    std::string strIndex;
    std::string strListen = "0.0.0.0";
    bool bUtf8 = false;
    std::vector<std::string> vecMirrors;
};

std::mutex g_csLog;
thread_local std::chrono::steady_clock::time_point t_start;
thread_local bool t_bStarted = false;  // false for a request refused before routing (no time to tell)

int Fail(const std::string& message) {
    std::cerr << "mxcatalog: " << message << "\n";
    return 1;
}

std::string DefaultIndexPath() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string dir = cache && *cache ? std::string(cache) : std::string(home ? home : ".") + "/.cache";
    mkdir(dir.c_str(), 0700);
    dir += "/mxcatalog";
    mkdir(dir.c_str(), 0700);
    return dir + "/index.db";
}

bool OpenIndex(CCatalogIndex& index, const std::vector<std::string>& music, std::string path) {
    std::string error;
    if (path.empty()) path = DefaultIndexPath();
    if (!index.SetRoots(music, error)) return Fail(error), false;
    if (!index.Open(path, error)) return Fail(path + ": " + error), false;
    return true;
}

// Printable for the log: control bytes and quotes escaped, long targets cut.
std::string Shown(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size() && i < 300; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    if (s.size() > 300) out += "...";
    return out;
}

void PrintCount(const char* what, const REFRESHCOUNT& c, double seconds) {
    std::lock_guard<std::mutex> lock(g_csLog);
    for (const auto& failed : c.vecFailed) std::fprintf(stderr, "mxcatalog: cannot read %s\n", Shown(failed).c_str());
    if (c.nFailed) {
        std::fprintf(stderr, "mxcatalog: %d folders or files could not be read; %d indexed files below them kept\n", c.nFailed, c.nKept);
    }
    std::fprintf(stderr, "mxcatalog: %s: %d added, %d updated, %d removed, %d unchanged, %d unreadable (%.2f s)\n", what,
                 c.nAdded, c.nUpdated, c.nRemoved, c.nUnchanged, c.nUnreadable, seconds);
}

std::string RawQuery(const httplib::Request& req) {
    size_t q = req.target.find('?');
    return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

std::string HostOf(const httplib::Request& req, int port) {
    std::string host = SafeHost(req.get_header_value("Host"));
    return host.empty() ? "127.0.0.1:" + std::to_string(port) : host;
}

void SendXml(httplib::Response& res, const std::string& xml, bool bUtf8) {
    res.set_content(xml, bUtf8 ? "text/xml; charset=UTF-8" : "text/xml; charset=GB2312");
}

void BadRequest(httplib::Response& res, const char* why) {
    res.status = 400;
    res.set_content(std::string(why) + "\n", "text/plain");
}

const char* MimeOf(const std::string& path) {
    std::string ext = FoldAscii(path.substr(path.rfind('.') == std::string::npos ? path.size() : path.rfind('.')));
    if (ext == ".mp3") return "audio/mpeg";
    if (ext == ".wma") return "audio/x-ms-wma";
    if (ext == ".flv") return "video/x-flv";
    if (ext == ".mp4") return "video/mp4";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".lrc") return "text/plain";
    return "application/octet-stream";
}

void ServeFile(CCatalogIndex& index, const httplib::Request& req, httplib::Response& res) {
    // The range is answered here, whole or refused; the library must not cut the answer again (nor label
    // a refusal multipart).
    const_cast<httplib::Request&>(req).ranges.clear();
    const std::string& digits = req.matches[1];
    if (digits.size() > 18) {
        res.status = 404;
        return;
    }
    int64_t size = 0;
    std::string real;
    int fd = index.OpenServable(std::stoll(digits), size, real);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) != 0) close(fd), fd = -1;
    if (fd < 0) {
        res.status = 404;
        res.set_content("no such file\n", "text/plain");
        return;
    }
    const int64_t mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    const std::string etag = EntityTag(size, mtimeNs);
    int64_t first = 0, length = size;
    RangeAnswer answer = RANGE_WHOLE;
    if (req.has_header("Range")) {
        answer = req.get_header_value_count("Range") > 1 ? RANGE_UNSATISFIABLE : ResolveRange(req.get_header_value("Range"), size, first, length);
        // A client holding another version would splice two files together: it gets the whole new one.
        if (req.has_header("If-Range") && !IfRangeHolds(req.get_header_value("If-Range"), etag, int64_t(st.st_mtim.tv_sec))) {
            answer = RANGE_WHOLE, first = 0, length = size;
        }
    }
    if (answer == RANGE_UNSATISFIABLE) {
        close(fd);
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", HttpDate(int64_t(st.st_mtim.tv_sec)));
    if (answer == RANGE_PART) {
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(first + length - 1) + "/" + std::to_string(size));
    }
    res.set_content_provider(
        size_t(length), MimeOf(real),
        [fd, first](size_t offset, size_t want, httplib::DataSink& sink) {
            char buf[64 * 1024];
            ssize_t n = pread(fd, buf, std::min(want, sizeof buf), off_t(first + int64_t(offset)));
            if (n <= 0) return false;  // the file shrank under us: the connection ends
            return sink.write(buf, size_t(n));
        },
        [fd](bool) { close(fd); });
}

// The addresses of a file: this server's, then its copies under the other folders (same relative name,
// same size), then the mirrors'. None when the id names no servable file.
void ServeDownloadList(CCatalogIndex& index, const std::vector<std::string>& mirrors, const std::string& host, bool bUtf8,
                       const httplib::Request& req, httplib::Response& res) {
    int64_t id = 0;
    if (!DownloadId(RawQuery(req), id)) return BadRequest(res, "expected id=");
    int64_t size = 0;
    std::string real;
    std::vector<std::string> urls;
    int fd = index.OpenServable(id, size, real);
    if (fd >= 0) {
        close(fd);
        urls.push_back("http://" + host + "/files/" + std::to_string(id));
        for (int64_t other : index.SameNameIds(id)) {
            int64_t otherSize = -1;
            std::string otherReal;
            int otherFd = index.OpenServable(other, otherSize, otherReal);
            if (otherFd < 0) continue;
            close(otherFd);
            if (otherSize == size) urls.push_back("http://" + host + "/files/" + std::to_string(other));
        }
        for (const auto& mirror : mirrors) urls.push_back(mirror + "/files/" + std::to_string(id));
    }
    SendXml(res, DownloadAnswer(fd >= 0 ? size : 0, urls, fd >= 0 ? real.substr(real.rfind('/') + 1) : std::string(), bUtf8), bUtf8);
}

void Setup(httplib::Server& server, int port) {
    // Address reuse only: with port reuse a second server could share the port and take half the requests.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Slow or idle clients must not hold every worker: many workers, and short waits for each read
    // and between requests on one connection.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_read_timeout(3, 0);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(20);
    server.set_payload_max_length(64 * 1024);
    server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_start = std::chrono::steady_clock::now();
        t_bStarted = true;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        double ms = t_bStarted ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t_start).count() : 0.0;
        t_bStarted = false;
        size_t bytes = res.body.size();
        if (bytes == 0 && res.has_header("Content-Length")) bytes = std::strtoull(res.get_header_value("Content-Length").c_str(), nullptr, 10);
        char when[32];
        std::time_t now = std::time(nullptr);
        struct tm tmNow;
        gmtime_r(&now, &tmNow);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tmNow);
        std::lock_guard<std::mutex> lock(g_csLog);
        std::fprintf(stderr, "%s %s %s \"%s\" %d %zu %.1fms\n", when, req.remote_addr.empty() ? "-" : req.remote_addr.c_str(),
                     req.method.empty() ? "-" : Shown(req.method).c_str(),
                     Shown(req.target).c_str(), res.status, bytes, ms);
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("internal error\n", "text/plain");
    });
    (void)port;
}

int Serve(const SERVEARGS& a) {
    // The signals are taken by the main thread alone, with sigwait; every other thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    auto started = std::chrono::steady_clock::now();
    std::vector<std::string> mirrors;
    for (const auto& given : a.vecMirrors) {
        mirrors.push_back(MirrorBase(given));
        if (mirrors.back().empty()) return Fail("--mirror " + given + ": not an http or https address");
    }
    CCatalogIndex index;
    if (!OpenIndex(index, a.vecMusic, a.strIndex)) return 1;

    httplib::Server songs, videos;
    Setup(songs, a.nPort);
    Setup(videos, a.nVideoPort);
    const bool utf8 = a.bUtf8;
    const int songPort = a.nPort, videoPort = a.nVideoPort;

    songs.Get("/so.php", [&index, utf8, songPort](const httplib::Request& req, httplib::Response& res) {
        std::string query = RawQuery(req), ac, raw, key;
        if (query.size() > MAX_QUERY_BYTES + 16) return BadRequest(res, "query too long");
        if (!RawParam(query, "ac", ac) || ac != "so" || !RawParam(query, "key", raw)) return BadRequest(res, "expected ac=so&key=");
        if (!DecodeSongKey(raw, key)) return BadRequest(res, "bad key");
        key = Trim(key);
        std::vector<SONGITEM> items;
        std::string qc;
        if (!key.empty()) {
            items = index.SearchSongs(key, MAX_ANSWER_ITEMS);
            if (items.empty()) qc = index.Correction(key);
        }
        SendXml(res, SongAnswer(items, qc, HostOf(req, songPort), utf8), utf8);
    });
    auto lyric = [&index, utf8](const httplib::Request& req, httplib::Response& res) {
        std::string raw, text;
        if (!RawFreeQuery(RawQuery(req), raw)) return BadRequest(res, "expected query=");
        if (!DecodeFreeQuery(raw, text)) return BadRequest(res, "bad query");
        std::vector<LYRICITEM> items;
        if (!Trim(text).empty()) items = index.FindLyrics(Trim(text), 10);
        SendXml(res, LyricAnswer(items, utf8), utf8);
    };
    songs.Get("/coo/oem/oem_lyric.so", lyric);
    songs.Get("/coo/rovanmbox/2008/lyric.so", lyric);
    videos.Get("/vc/xml_play.jsp", [&index, utf8, videoPort](const httplib::Request& req, httplib::Response& res) {
        std::string raw, text;
        if (!RawFreeQuery(RawQuery(req), raw)) return BadRequest(res, "expected query=");
        if (!DecodeFreeQuery(raw, text)) return BadRequest(res, "bad query");
        std::vector<VIDEOITEM> items;
        if (!Trim(text).empty()) items = index.SearchVideos(Trim(text), MAX_ANSWER_ITEMS);
        SendXml(res, VideoAnswer(items, HostOf(req, videoPort), utf8), utf8);
    });
    songs.Get("/djurl.php", [&index, &mirrors, utf8, songPort](const httplib::Request& req, httplib::Response& res) {
        ServeDownloadList(index, mirrors, HostOf(req, songPort), utf8, req, res);
    });
    videos.Get("/djurl.php", [&index, &mirrors, utf8, videoPort](const httplib::Request& req, httplib::Response& res) {
        ServeDownloadList(index, mirrors, HostOf(req, videoPort), utf8, req, res);
    });
    auto file = [&index](const httplib::Request& req, httplib::Response& res) { ServeFile(index, req, res); };
    songs.Get(R"(/files/(\d+))", file);
    videos.Get(R"(/files/(\d+))", file);

    if (!songs.bind_to_port(a.strListen, a.nPort)) return Fail("cannot listen on port " + std::to_string(a.nPort));
    if (!videos.bind_to_port(a.strListen, a.nVideoPort)) return Fail("cannot listen on port " + std::to_string(a.nVideoPort));
    std::thread songThread([&songs] { songs.listen_after_bind(); });
    std::thread videoThread([&videos] { videos.listen_after_bind(); });
    {
        std::lock_guard<std::mutex> lock(g_csLog);
        std::fprintf(stderr, "mxcatalog: serving %lld indexed files on port %d (songs, lyrics) and %d (videos), ready in %.0f ms\n",
                     static_cast<long long>(index.Count()), a.nPort, a.nVideoPort,
                     std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }

    // The folders are brought up to date behind the listener: answers come from the index as it stands.
    std::atomic<bool> stop{false};
    std::thread refresher([&index, &stop] {
        auto t0 = std::chrono::steady_clock::now();
        REFRESHCOUNT c = index.Refresh(&stop);
        if (!stop) PrintCount("index up to date", c, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    });

    int sig = 0;
    sigwait(&signals, &sig);
    stop = true;
    songs.stop();
    videos.stop();
    songThread.join();
    videoThread.join();
    refresher.join();
    std::lock_guard<std::mutex> lock(g_csLog);
    std::fprintf(stderr, "mxcatalog: stopped (%s)\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    return 0;
}

int Index(const std::vector<std::string>& music, const std::string& indexPath) {
    CCatalogIndex index;
    if (!OpenIndex(index, music, indexPath)) return 1;
    auto t0 = std::chrono::steady_clock::now();
    REFRESHCOUNT c = index.Refresh();
    PrintCount("indexed", c, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mxcatalog: the catalog server of the music box's online searches"};
    app.require_subcommand(1);
    SERVEARGS serve;
    CLI::App* cmdServe = app.add_subcommand("serve", "Index the music folders and answer song, lyric and video searches");
    cmdServe->add_option("--music", serve.vecMusic, "Music folders (served with everything below them)")->required()->expected(1, -1);
    cmdServe->add_option("--port", serve.nPort, "Port of the song and lyric searches and of the files")->check(CLI::Range(0, 65535));
    cmdServe->add_option("--video-port", serve.nVideoPort, "Port of the video search")->check(CLI::Range(0, 65535));
    cmdServe->add_option("--index", serve.strIndex, "Index file (default $XDG_CACHE_HOME/mxcatalog/index.db)");
    cmdServe->add_option("--listen", serve.strListen, "Address to listen on (default 0.0.0.0)");
    cmdServe->add_flag("--utf8", serve.bUtf8, "Answer in UTF-8 instead of GB2312");
    cmdServe->add_option("--mirror", serve.vecMirrors, "Another server holding the same files (URL; its address of a file is URL/files/ID)")
        ->allow_extra_args(false);
    std::vector<std::string> indexDirs;
    std::string indexFile;
    CLI::App* cmdIndex = app.add_subcommand("index", "Bring the index up to date with the music folders and exit");
    cmdIndex->add_option("dirs", indexDirs, "Music folders")->required()->expected(1, -1);
    cmdIndex->add_option("--index", indexFile, "Index file (default $XDG_CACHE_HOME/mxcatalog/index.db)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int status = app.exit(e);  // --help is 0; a usage error is 1, as every other failure
        return status == 0 ? 0 : 1;
    }
    try {
        if (*cmdServe) return Serve(serve);
        return Index(indexDirs, indexFile);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
