// Arbitrary bytes as catalog requests: query decoding, the full-text query built from a key (which
// SQLite must accept), the answers (which must be well-formed XML), download requests, ranges and
// dates, lyric texts and video sizes.
#include <libxml/parser.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "CatalogRequest.h"
#include "VideoSize.h"

using namespace mxcatalog;

namespace {

sqlite3* g_db = nullptr;
sqlite3_stmt* g_match = nullptr;

void MustParse(const std::string& xml, bool gb) {
    xmlDocPtr doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, gb ? "GB18030" : nullptr, XML_PARSE_NONET);
    if (!doc) abort();
    xmlFreeDoc(doc);
}

void Quiet(void*, const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sqlite3_open(":memory:", &g_db);
    sqlite3_exec(g_db, "CREATE VIRTUAL TABLE w USING fts5(title, artist, album, name, prefix='1 2');"
                       "INSERT INTO w VALUES('a b','c','d','e.mp3')", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(g_db, "SELECT rowid FROM w WHERE w MATCH ?1", -1, &g_match, nullptr);
    xmlSetGenericErrorFunc(nullptr, Quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string raw(reinterpret_cast<const char*>(data), size);
    std::string key, text;
    if (DecodeSongKey(raw, key)) {
        std::string fts = BuildFtsQuery(Trim(key));
        if (!fts.empty()) {
            sqlite3_bind_text(g_match, 1, fts.data(), int(fts.size()), SQLITE_TRANSIENT);
            int rc;
            while ((rc = sqlite3_step(g_match)) == SQLITE_ROW) {
            }
            sqlite3_reset(g_match);
            if (rc != SQLITE_DONE) abort();  // a keyword must never make a broken query
        }
        SONGITEM item;
        item.strTitle = item.strArtist = item.strAlbum = item.strLyric = key;
        item.nLyricId = 1;
        for (bool utf8 : {false, true}) MustParse(SongAnswer({item}, key, "h", utf8), !utf8);
        EditDistance(key, raw);
    }
    if (RawFreeQuery(raw, text) && DecodeFreeQuery(text, text)) {
        MustParse(LyricAnswer({{text, text, text, LyricText(raw)}}, false), true);
        VIDEOITEM v;
        v.strTitle = text;
        MustParse(VideoAnswer({v}, "h", true), false);
    }
    int64_t id = 0, first = 0, length = 0, seconds = 0;
    if (DownloadId(raw, id) && id < 0) abort();
    std::string mirror = MirrorBase(raw);
    MustParse(DownloadAnswer(int64_t(size), {raw, mirror}, raw, false), true);
    // A range answered always lies inside the file.
    const int64_t fileSize = int64_t(size % 1000);
    if (ResolveRange(raw, fileSize, first, length) == RANGE_PART && (first < 0 || length < 1 || first + length > fileSize)) abort();
    if (ParseHttpDate(raw, seconds) && HttpDate(seconds).substr(5) != raw.substr(5)) abort();  // the day name is not checked
    IfRangeHolds(raw, EntityTag(int64_t(size), seconds), seconds);
    LyricPreview(LyricText(raw));
    int w = 0, h = 0;
    FlvFrameSize(data, size, w, h);
    Mp4FrameSize(data, size, w, h);
    return 0;
}
