#include "CatalogRequest.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace mxcatalog {
namespace {

// iconv of a whole text; false on any invalid or incomplete sequence.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return false;
    std::string buf(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &buf[0];
    size_t dstLeft = buf.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = r != size_t(-1) && srcLeft == 0;
    if (ok) {
        // Flush any shift state.
        ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != size_t(-1);
    }
    iconv_close(cd);
    if (!ok) return false;
    out.assign(buf.data(), buf.size() - dstLeft);
    return true;
}

// The code point at s[i] and its length; false for an invalid sequence.
bool NextCodePoint(const std::string& s, size_t i, uint32_t& cp, size_t& len) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        cp = c;
        len = 1;
        return true;
    }
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (t & 0x3F);
    }
    return cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

std::vector<uint32_t> CodePoints(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t len;
        if (!NextCodePoint(s, i, cp, len)) {
            cp = 0xFFFD;
            len = 1;
        }
        if (cp < 0x80 && cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
        out.push_back(cp);
        i += len;
    }
    return out;
}

bool IsCjk(uint32_t cp) {
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0x20000 && cp <= 0x3FFFF);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

void AppendEscaped(std::string& out, const std::string& utf8) {
    for (char c : CleanUtf8(utf8)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
}

void Element(std::string& out, const char* name, const std::string& text) {
    out += '<';
    out += name;
    out += '>';
    AppendEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

std::string Finish(const std::string& body, bool bUtf8) {
    if (bUtf8) return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body;
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n" + Utf8ToGb(body);
}

std::string FileUrl(const std::string& host, int64_t id) { return "http://" + host + "/files/" + std::to_string(id); }

// Decimal digits only; saturates rather than overflows (a range past any file is as good as any other).
bool Digits(const std::string& s, int64_t& n) {
    if (s.empty()) return false;
    n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n > (INT64_MAX - 9) / 10 ? INT64_MAX : n * 10 + (c - '0');
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (no time zone, no locale involved).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

const char* const DAY_NAMES[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

bool PercentDecode(const std::string& in, bool bPlusIsSpace, std::string& out) {
    out.clear();
    out.reserve(in.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            int hi = hex(in[i + 1]);
            int lo = hex(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += char(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && bPlusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

std::string PercentEncode(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool IsUtf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp;
        size_t len;
        if (!NextCodePoint(bytes, i, cp, len)) return false;
        i += len;
    }
    return true;
}

bool GbToUtf8(const std::string& gb, std::string& utf8) { return Convert("UTF-8", "GB18030", gb, utf8); }

std::string Utf8ToGb(const std::string& utf8, bool bXml) {
    std::string clean = CleanUtf8(utf8), out;
    if (Convert("GB18030", "UTF-8", clean, out)) return out;
    // A few private-use characters whose characters have since got code points of their own have no
    // GB18030 code: the text is converted a character at a time and those are written otherwise.
    out.clear();
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == iconv_t(-1)) return out;
    for (size_t i = 0; i < clean.size();) {
        uint32_t cp = 0;
        size_t len = 1;
        NextCodePoint(clean, i, cp, len);  // valid: CleanUtf8 made it so
        char buf[16];
        char* src = &clean[i];
        size_t srcLeft = len;
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1) && srcLeft == 0) {
            out.append(buf, sizeof buf - dstLeft);
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char ref[16];
            std::snprintf(ref, sizeof ref, "&#x%X;", unsigned(cp));
            out += bXml ? ref : " ";
        }
        i += len;
    }
    iconv_close(cd);
    return out;
}

std::string CleanUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp;
        size_t len;
        if (!NextCodePoint(bytes, i, cp, len)) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        bool allowed = cp >= 0x20 ? (cp != 0x7F && cp != 0xFFFE && cp != 0xFFFF) : (cp == '\t' || cp == '\n' || cp == '\r');
        if (allowed) out.append(bytes, i, len);
        i += len;
    }
    return out;
}

bool RawParam(const std::string& query, const std::string& name, std::string& value) {
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string::npos) end = query.size();
        if (query.compare(pos, name.size() + 1, name + "=") == 0 && end - pos >= name.size() + 1) {
            value = query.substr(pos + name.size() + 1, end - pos - name.size() - 1);
            return true;
        }
        pos = end + 1;
    }
    return false;
}

bool RawFreeQuery(const std::string& query, std::string& value) {
    static const std::string head = "query=", tail = "&ext=mbox";
    if (query.compare(0, head.size(), head) != 0) return RawParam(query, "query", value);
    value = query.substr(head.size());
    if (value.size() >= tail.size() && value.compare(value.size() - tail.size(), tail.size(), tail) == 0) {
        value.resize(value.size() - tail.size());
    }
    return true;
}

bool DecodeSongKey(const std::string& raw, std::string& utf8) {
    std::string bytes;
    if (raw.size() > MAX_QUERY_BYTES || !PercentDecode(raw, true, bytes)) return false;
    if (GbToUtf8(bytes, utf8)) return true;
    if (IsUtf8(bytes)) {
        utf8 = bytes;
        return true;
    }
    return false;
}

bool DecodeFreeQuery(const std::string& raw, std::string& utf8) {
    std::string bytes;
    if (raw.size() > MAX_QUERY_BYTES || !PercentDecode(raw, false, bytes)) return false;
    if (IsUtf8(bytes)) {
        utf8 = bytes;
        return true;
    }
    return GbToUtf8(bytes, utf8);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string FoldAscii(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
    }
    return out;
}

std::string SegmentCjk(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 2);
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        size_t len;
        if (!NextCodePoint(utf8, i, cp, len)) {
            out += ' ';
            ++i;
            continue;
        }
        if (IsCjk(cp)) {
            out += ' ';
            out.append(utf8, i, len);
            out += ' ';
        } else {
            out.append(utf8, i, len);
        }
        i += len;
    }
    return out;
}

std::string BuildFtsQuery(const std::string& keywordUtf8) {
    if (keywordUtf8.size() > 512) return std::string();
    std::string text = keywordUtf8;
    // The ideographic space separates words too.
    for (size_t p; (p = text.find("\xE3\x80\x80")) != std::string::npos;) text.replace(p, 3, " ");
    std::string query;
    int words = 0;
    size_t i = 0;
    while (i < text.size() && words < 16) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        if (i == start) break;
        std::string word = CleanUtf8(text.substr(start, i - start));
        // A word of punctuation only gives the tokenizer nothing: it would make an empty phrase.
        bool searchable = false;
        for (size_t k = 0; k < word.size();) {
            uint32_t cp = 0xFFFD;
            size_t len = 1;
            if (!NextCodePoint(word, k, cp, len)) cp = 0xFFFD, len = 1;
            if ((cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') ||
                (cp >= 0xC0 && cp != 0xD7 && cp != 0xF7 && !(cp >= 0x2000 && cp <= 0x206F) && !(cp >= 0x3000 && cp <= 0x303F) &&
                 !(cp >= 0xFF00 && cp <= 0xFF0F) && !(cp >= 0xFF1A && cp <= 0xFF20))) {
                searchable = true;
                break;
            }
            k += len;
        }
        if (!searchable) continue;
        std::string phrase;
        for (char c : SegmentCjk(word)) {
            if (c == '"') phrase += '"';
            phrase += c;
        }
        if (!query.empty()) query += ' ';
        query += '"' + Trim(phrase) + '"';
        ++words;
    }
    // The last word may be typed only in part; a word before it is whole (which also spares the index
    // merging every word that begins alike).
    if (!query.empty()) query += '*';
    return query;
}

int EditDistance(const std::string& a, const std::string& b) {
    std::vector<uint32_t> x = CodePoints(a), y = CodePoints(b);
    if (x.size() > 128 || y.size() > 128) return 1 << 20;
    std::vector<int> prev(y.size() + 1), cur(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j) prev[j] = int(j);
    for (size_t i = 1; i <= x.size(); ++i) {
        cur[0] = int(i);
        for (size_t j = 1; j <= y.size(); ++j) {
            int sub = prev[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
            cur[j] = std::min(std::min(prev[j] + 1, cur[j - 1] + 1), sub);
        }
        prev.swap(cur);
    }
    return prev[y.size()];
}

std::string MostFrequentArtist(const std::vector<SONGITEM>& items) {
    std::map<std::string, int> counts;
    std::string best;
    int bestCount = 0;
    for (const auto& item : items) {
        std::string artist = Trim(item.strArtist);
        if (artist.empty()) continue;
        int n = ++counts[artist];
        if (n > bestCount) {
            best = artist;
            bestCount = n;
        }
    }
    // The first artist to reach the top count wins a tie; recount so that order decides, not arrival.
    for (const auto& item : items) {
        std::string artist = Trim(item.strArtist);
        if (!artist.empty() && counts[artist] == bestCount) return artist;
    }
    return best;
}

std::string SafeHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return std::string();
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                  c == ':' || c == '[' || c == ']';
        if (!ok) return std::string();
    }
    return host;
}

std::string SongAnswer(const std::vector<SONGITEM>& items, const std::string& strQc, const std::string& strHost, bool bUtf8) {
    std::string body = "<rss><rovanresult>";
    if (!strQc.empty()) Element(body, "qc", strQc);
    std::string artist = MostFrequentArtist(items);
    if (!artist.empty()) {
        // The follow-up search goes back to this server with the artist as the module sends keys: GBK.
        body += "<hint href=\"";
        AppendEscaped(body, "http://" + strHost + "/so.php?ac=so&key=" + PercentEncode(Utf8ToGb(artist, false)));
        body += "\">";
        AppendEscaped(body, artist);
        body += "</hint>";
    }
    for (const auto& item : items) {
        body += "<item>";
        Element(body, "type", item.strType);
        Element(body, "title", item.strTitle);
        Element(body, "artist", item.strArtist);
        Element(body, "album", item.strAlbum);
        Element(body, "size", std::to_string(item.nSize));
        Element(body, "bitrate", std::to_string(item.nBitrate));
        Element(body, "duration", std::to_string(item.nDuration));
        Element(body, "speed", item.nBitrate > 0 ? std::to_string(item.nBitrate) + "kbps" : std::string());
        Element(body, "lyric", item.nLyricId ? item.strLyric : std::string());
        Element(body, "lyricURL", item.nLyricId ? FileUrl(strHost, item.nLyricId) : std::string());
        Element(body, "urls", FileUrl(strHost, item.nId));
        body += "</item>";
    }
    body += "</rovanresult></rss>\n";
    return Finish(body, bUtf8);
}

std::string LyricAnswer(const std::vector<LYRICITEM>& items, bool bUtf8) {
    std::string body = "<rss><rovanresult>";
    for (const auto& item : items) {
        body += "<item>";
        Element(body, "title", item.strTitle);
        Element(body, "artist", item.strArtist);
        Element(body, "album", item.strAlbum);
        Element(body, "geci", item.strLyric);
        body += "</item>";
    }
    body += "</rovanresult></rss>\n";
    return Finish(body, bUtf8);
}

std::string VideoAnswer(const std::vector<VIDEOITEM>& items, const std::string& strHost, bool bUtf8) {
    std::string body = "<rss><channel>";
    for (const auto& item : items) {
        body += "<item>";
        Element(body, "title", item.strTitle);
        Element(body, "piclink", item.nPictureId ? FileUrl(strHost, item.nPictureId) : std::string());
        Element(body, "playinfo", FileUrl(strHost, item.nId));
        Element(body, "width", std::to_string(item.nWidth));
        Element(body, "height", std::to_string(item.nHeight));
        body += "</item>";
    }
    body += "</channel></rss>\n";
    return Finish(body, bUtf8);
}

std::string LyricText(const std::string& bytes) {
    std::string utf8;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return CleanUtf8(bytes.substr(3));
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 && Convert("UTF-8", "UTF-16LE", bytes.substr(2, (bytes.size() - 2) & ~size_t(1)), utf8)) return utf8;
    // Real GBK lyrics are almost never valid UTF-8, so valid UTF-8 is taken as such, BOM or not.
    if (IsUtf8(bytes)) return bytes;
    if (GbToUtf8(bytes, utf8)) return utf8;
    return CleanUtf8(bytes);
}

std::string LyricPreview(const std::string& utf8) {
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t end = utf8.find('\n', pos);
        if (end == std::string::npos) end = utf8.size();
        std::string line = Trim(utf8.substr(pos, end - pos));
        pos = end + 1;
        // Time and information tags lead the line: "[00:12.30]", "[ti:...]".
        while (!line.empty() && line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos) break;
            line = Trim(line.substr(close + 1));
        }
        if (line.empty()) continue;
        if (line.size() > 200) {
            size_t cut = 200;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
            line.resize(cut);
        }
        return line;
    }
    return std::string();
}

bool DownloadId(const std::string& query, int64_t& nId) {
    std::string digits;
    return RawParam(query, "id", digits) && digits.size() <= 18 && Digits(digits, nId);
}

std::string DownloadAnswer(int64_t nSize, const std::vector<std::string>& urls, const std::string& strFileName, bool bUtf8) {
    std::string body = "<downloadList filename=\"", lines;
    AppendEscaped(body, strFileName);
    body += "\">";
    Element(body, "size", std::to_string(nSize));
    for (const auto& url : urls) lines += (lines.empty() ? "" : "\n") + url;
    Element(body, "urls", lines);
    body += "</downloadList>\n";
    return Finish(body, bUtf8);
}

std::string MirrorBase(const std::string& url) {
    std::string lower = FoldAscii(url);
    size_t head = lower.rfind("http://", 0) == 0 ? 7 : lower.rfind("https://", 0) == 0 ? 8 : 0;
    if (head == 0) return std::string();
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F || c == '?' || c == '#') return std::string();
    }
    std::string base = url;
    while (base.size() > head && base.back() == '/') base.pop_back();
    return base.size() > head && base[head] != '/' ? base : std::string();
}

RangeAnswer ResolveRange(const std::string& header, int64_t nSize, int64_t& nFirst, int64_t& nLength) {
    nFirst = 0;
    nLength = nSize;
    std::string h = Trim(header);
    // A unit other than bytes is not ours to refuse: the whole file is the answer.
    if (FoldAscii(h.substr(0, 6)) != "bytes=") return RANGE_WHOLE;
    std::string set = Trim(h.substr(6));
    size_t dash = set.find('-');
    if (set.find(',') != std::string::npos || dash == std::string::npos) return RANGE_UNSATISFIABLE;
    std::string a = Trim(set.substr(0, dash)), b = Trim(set.substr(dash + 1));
    int64_t first = 0, last = INT64_MAX;
    if (a.empty()) {
        // The last n bytes.
        if (!Digits(b, last) || last == 0 || nSize <= 0) return RANGE_UNSATISFIABLE;
        nLength = std::min(last, nSize);
        nFirst = nSize - nLength;
        return RANGE_PART;
    }
    if (!Digits(a, first) || (!b.empty() && (!Digits(b, last) || last < first)) || first >= nSize) return RANGE_UNSATISFIABLE;
    nFirst = first;
    nLength = std::min(last, nSize - 1) - first + 1;
    return RANGE_PART;
}

std::string HttpDate(int64_t nSeconds) {
    int64_t days = nSeconds >= 0 ? nSeconds / 86400 : (nSeconds - 86399) / 86400, y;
    int64_t rest = nSeconds - days * 86400;
    int m, d;
    CivilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04lld %02d:%02d:%02d GMT", DAY_NAMES[((days % 7) + 7) % 7], d, MONTH_NAMES[m - 1],
                  static_cast<long long>(y), int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
    return buf;
}

bool ParseHttpDate(const std::string& text, int64_t& nSeconds) {
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    if (text.size() != 29 || text.compare(3, 2, ", ") != 0 || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':' || text.compare(25, 4, " GMT") != 0) {
        return false;
    }
    int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text.substr(5, 2), day) || !Digits(text.substr(12, 4), year) || !Digits(text.substr(17, 2), hour) ||
        !Digits(text.substr(20, 2), minute) || !Digits(text.substr(23, 2), second)) {
        return false;
    }
    int month = 0;
    while (month < 12 && text.compare(8, 3, MONTH_NAMES[month]) != 0) ++month;
    if (month == 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    int64_t days = DaysFromCivil(year, month + 1, day);
    int64_t y;
    int m, d;
    CivilFromDays(days, y, m, d);
    if (m != month + 1 || d != day) return false;  // 31 Feb and the like
    nSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string EntityTag(int64_t nSize, int64_t nMtimeNs) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "\"%llx-%llx\"", static_cast<unsigned long long>(nSize), static_cast<unsigned long long>(nMtimeNs));
    return buf;
}

bool IfRangeHolds(const std::string& ifRange, const std::string& strETag, int64_t nMtimeSeconds) {
    std::string value = Trim(ifRange);
    // A weak tag ("W/...") never matches: a range needs the very bytes.
    if (value.empty() || value[0] == '"' || value.rfind("W/", 0) == 0) return value == strETag;
    int64_t seconds = 0;
    return ParseHttpDate(value, seconds) && seconds == nMtimeSeconds;
}

}  // namespace mxcatalog
