// The catalog server's request and answer texts, kept free of sockets so that tests and the fuzz
// target drive them directly. Texts inside are UTF-8; the answer is encoded at the very end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mxcatalog {

// A query longer than this (raw, before decoding) is refused with a 400.
constexpr size_t MAX_QUERY_BYTES = 2048;
// Items in one song or video answer.
constexpr int MAX_ANSWER_ITEMS = 50;

// %XX to bytes; '+' to a space when bPlusIsSpace. False on a broken escape ("%", "%4", "%G1").
bool PercentDecode(const std::string& in, bool bPlusIsSpace, std::string& out);
// Percent-encoding of bytes as a query value: unreserved characters stay, everything else is %XX.
std::string PercentEncode(const std::string& bytes);
bool IsUtf8(const std::string& bytes);
// Strict GB18030 (a superset of GBK) to UTF-8; false when the bytes are not valid GB18030.
bool GbToUtf8(const std::string& gb, std::string& utf8);
// UTF-8 to GB18030 bytes; invalid UTF-8 is first made valid (U+FFFD). A character GB18030 cannot
// encode becomes a character reference (&#xE81E;) when bXml, else a blank (a search key then still
// finds the words around it).
std::string Utf8ToGb(const std::string& utf8, bool bXml = true);
// Valid UTF-8 without the characters XML 1.0 forbids (invalid bytes become U+FFFD, control characters
// other than tab, line feed and carriage return are dropped).
std::string CleanUtf8(const std::string& bytes);

// The raw value of name= in a query string (up to the next '&'); false when absent.
bool RawParam(const std::string& query, const std::string& name, std::string& value);
// The raw query of a lyric or video request: everything after "query=", less a final "&ext=mbox", so
// that a title holding '&' survives (these queries arrive unencoded).
bool RawFreeQuery(const std::string& query, std::string& value);
// The song-search key: percent-decoded ('+' is a space), then GBK, or UTF-8 when the bytes are not
// GBK but are UTF-8. False for a broken escape, an over-long key or bytes that are neither.
bool DecodeSongKey(const std::string& raw, std::string& utf8);
// A lyric or video query: percent-decoded ('+' stays), then UTF-8 when valid, else GBK.
bool DecodeFreeQuery(const std::string& raw, std::string& utf8);
// Trimmed of ASCII blanks at both ends.
std::string Trim(const std::string& s);
// ASCII letters lower-cased; other bytes kept.
std::string FoldAscii(const std::string& s);

// East Asian characters each made a word of its own, so that the word index finds a run of them
// anywhere inside a longer title (Chinese titles carry no spaces).
std::string SegmentCjk(const std::string& utf8);
// The full-text query of a keyword: each blank-separated word a quoted phrase, all required; the last
// word's last token is a prefix. Empty when the keyword holds nothing searchable (or is absurdly long).
std::string BuildFtsQuery(const std::string& keywordUtf8);
// Levenshtein distance over code points, letters compared without regard to ASCII case.
int EditDistance(const std::string& a, const std::string& b);

// One song of an answer.
struct SONGITEM {
    int64_t nId = 0;
    std::string strType;     // "MP3" or "WMA"
    std::string strTitle, strArtist, strAlbum;
    int64_t nSize = 0;       // bytes
    int nBitrate = 0;        // kbit/s
    int nDuration = 0;       // whole seconds
    int64_t nLyricId = 0;    // the .lrc beside the song, 0 when none
    std::string strLyric;    // first line of the lyric, as a preview
};

struct LYRICITEM {
    std::string strTitle, strArtist, strAlbum, strLyric;
};

struct VIDEOITEM {
    int64_t nId = 0;
    std::string strTitle;
    int64_t nPictureId = 0;  // the .jpg beside the video, 0 when none
    int nWidth = 0, nHeight = 0;
};

// The artist most results share (ties: the one met first); empty when no result names one.
std::string MostFrequentArtist(const std::vector<SONGITEM>& items);
// Answers as sent: declared GB2312 and encoded GB18030, or UTF-8 when bUtf8. strHost ("host:port")
// starts the addresses of files on this server; it has passed SafeHost.
std::string SongAnswer(const std::vector<SONGITEM>& items, const std::string& strQc, const std::string& strHost, bool bUtf8);
std::string LyricAnswer(const std::vector<LYRICITEM>& items, bool bUtf8);
std::string VideoAnswer(const std::vector<VIDEOITEM>& items, const std::string& strHost, bool bUtf8);
// A Host header fit to put into addresses (letters, digits, '.', '-', ':', '[', ']'), else empty.
std::string SafeHost(const std::string& host);

// The file of a download-address request: id=DIGITS (at most 18); false when absent or not a number.
bool DownloadId(const std::string& query, int64_t& nId);
// The download-address answer: downloadList with the file's name (attribute filename), its size and its
// addresses, one a line.
std::string DownloadAnswer(int64_t nSize, const std::vector<std::string>& urls, const std::string& strFileName, bool bUtf8);
// A mirror's base address as given on the command line, without a final '/'; empty when it is not an
// http or https address or holds blanks or control characters (it ends up in an answer's address list).
std::string MirrorBase(const std::string& url);

// What a Range header asks of a file of nSize bytes. Several ranges are refused: each may be as large
// as the file.
enum RangeAnswer { RANGE_WHOLE, RANGE_PART, RANGE_UNSATISFIABLE };
RangeAnswer ResolveRange(const std::string& header, int64_t nSize, int64_t& nFirst, int64_t& nLength);
// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") and back; the parse takes that form only.
std::string HttpDate(int64_t nSeconds);
bool ParseHttpDate(const std::string& text, int64_t& nSeconds);
// The strong entity tag of a file's version: its size and modification time, quoted.
std::string EntityTag(int64_t nSize, int64_t nMtimeNs);
// Whether an If-Range value still names the file: its entity tag (strong comparison) or its
// modification date to the second.
bool IfRangeHolds(const std::string& ifRange, const std::string& strETag, int64_t nMtimeSeconds);

// The text of a lyric file: UTF-8 after a byte-order mark or when valid, UTF-16 after its mark, else GBK.
std::string LyricText(const std::string& bytes);
// The first line of a lyric that holds words, without its time tags: the preview of song answers.
std::string LyricPreview(const std::string& utf8);

}  // namespace mxcatalog
