// HTTP loads over libcurl: bounded in time, in redirects and in size, and never anything but HTTP(S).
#include "http.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/testhooks.h"

namespace {

std::atomic<long> g_connectMs{10000};
std::atomic<long> g_totalMs{30000};
std::mutex g_connectToLock;
std::string g_connectTo;

struct Sink {
    std::string* body;
    size_t maxBytes;
};

size_t Write(char* data, size_t size, size_t count, void* user) {
    Sink* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->body->size() + n > sink->maxBytes) return 0;  // aborts the transfer
    sink->body->append(data, n);
    return n;
}

std::string Escaped(const std::string& url) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (size_t i = 0; i < url.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        // A '%' that starts no escape is the text's own, and '#' would end the address.
        bool escape = c == '%' && i + 2 < url.size() && isxdigit(static_cast<unsigned char>(url[i + 1])) &&
                      isxdigit(static_cast<unsigned char>(url[i + 2]));
        bool plain = c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' && c != '^' &&
                     c != '`' && c != '{' && c != '|' && c != '}' && c != '#' && (c != '%' || escape);
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

void MxSetHttpConnectTo(const char* mapping) {
    std::lock_guard<std::mutex> guard(g_connectToLock);
    g_connectTo = mapping ? mapping : "";
}

void MxSetHttpTimeouts(DWORD connectMs, DWORD totalMs) {
    g_connectMs = connectMs ? long(connectMs) : 10000;
    g_totalMs = totalMs ? long(totalMs) : 30000;
}

namespace mxp {

bool HttpGet(const std::string& utf8Url, size_t maxBytes, std::string& body) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    body.clear();
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    std::string url = Escaped(utf8Url);
    Sink sink{&body, maxBytes};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, g_connectMs.load());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, g_totalMs.load());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "MxModule");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_slist* connectTo = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_connectToLock);
        if (!g_connectTo.empty()) connectTo = curl_slist_append(nullptr, g_connectTo.c_str());
    }
    if (connectTo) curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
    CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(connectTo);
    curl_easy_cleanup(curl);
    // The TLS library keeps state per thread; a search thread's is freed here, not at a process exit
    // that may come before the thread is gone.
    OPENSSL_thread_stop();
    if (code != CURLE_OK) {
        body.clear();
        return false;
    }
    return true;
}

}  // namespace mxp
