// What the searches hand the front end: the result records, the codes, the blocks posted with the
// messages, and the message numbers.
#pragma once

#include <list>

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/windows.h"

enum AudioSearchType {
    AST_ONLINE_THEN_LIBRARY = 0,
    AST_LIBRARY = 1,
    AST_ONLINE = 2,
    AST_RESULT_DOCUMENT = 3,   // the keyword is the address of a result document
    AST_ALL_SONGS = 4,
    AST_ALL_LOCAL_SONGS = 5,   // library songs whose file is not a web address
    AST_PLAYLISTS = 6          // one listing for each playlist named in the keyword list
};

// Passed through to the result messages; its meaning belongs to the front end.
enum AudioSearchResultType { ASRT_DEFAULT = 0 };

// Selects the lyric request form.
enum LyricSearchResultType { LSRT_OEM = 0, LSRT_MBOX = 1, LSRT_ADDRESS = 2 };

enum AudioSearchErrorCode {
    ASE_EMPTY_KEYWORD = 0,
    ASE_LOAD_FAILED = 1,
    ASE_ELEMENT_MISSING = 2,
    ASE_LYRIC_EMPTY_KEYWORD = 3,
    ASE_LYRIC_LOAD_FAILED = 4,
    ASE_LYRIC_ELEMENT_MISSING = 5,
    ASE_NO_XML_SERVICE = 6
};

enum VideoSearchErrorCode {
    VSE_EMPTY_KEYWORD = 0,
    VSE_LOAD_FAILED = 1,
    VSE_ELEMENT_MISSING = 2,
    VSE_NO_XML_SERVICE = 3
};

// One song found, online or in the library.
struct MX_EXPORT AUDIORESULTUINT {
    int nReserved = 0;
    CString strSong;
    CString strArtist;
    CString strAlbum;
    CString strType;
    CString strTrack;
    unsigned char byGenre = 0;
    CString strSize;
    CString strSpeed;
    DWORD dwDuration = 0;
    DWORD dwOpinion = 0;
    DWORD dwFileLength = 0;
    DWORD dwReserved = 0;
    DWORD dwBitrate = 0;
    CString strMD5;
    int nCanPlay = 1;
    std::list<CString> lstURL;
    CString strGenre;
    CString strSongID;
    CString strLyric;
    CString strLyricURL;
    int bAnalyzed = 0;
    CString strExtra1;
    CString strExtra2;
    int nExtra3 = 0;
};
typedef CList<AUDIORESULTUINT, AUDIORESULTUINT> AUDIORESULTLIST;

// A follow-up suggestion of the song-search server.
struct MX_EXPORT SEARCHRESULTHINT {
    CString strHref;
    CString strText;
};

// One lyric candidate.
struct MX_EXPORT LYRICRESULTUINT {
    CString strTitle;
    CString strArtist;
    CString strAlbum;
    CString strLyric;
};
typedef CList<LYRICRESULTUINT, LYRICRESULTUINT> LYRICRESULTLIST;

// One playable video.
struct MX_EXPORT VIDEORESULTUINT {
    int nReserved = 0;
    CString strTitle;
    CString strType = "FLV";
    int nReserved2 = 0;
    CString strPicLink;
    CString strPlayInfo;
    int nWidth = 0;
    int nHeight = 0;
};
typedef CList<VIDEORESULTUINT, VIDEORESULTUINT> VIDEORESULTLIST;

// Blocks posted with the song-search messages; the receiving window deletes them.
struct MX_EXPORT AUDIOSEARCHBEGININFO {
    CString strKeyword;
    int nSearchType = 0;
    int nReserved = 0;
    CString strSubKeyword;
};

struct MX_EXPORT AUDIOSEARCHRESULTINFO {
    CString strKeyword;
    int nSearchType = 0;
    int nResultType = 0;
    CString strReserved;
    AUDIORESULTLIST listResult{10};
    unsigned long dwValue = 0;  // an online search: milliseconds the answer took
    CString strCorrection;
    SEARCHRESULTHINT hint;
    CString strSubKeyword;
};

struct MX_EXPORT LYRICSEARCHBEGININFO {
    CString strFirst;
    CString strSecond;
};

struct MX_EXPORT LYRICSEARCHRESULTINFO {
    CString strFirst;
    CString strSecond;
    LYRICRESULTLIST listResult{10};
};

// Sent (not posted) with the video results: it lives only for the call.
struct MX_EXPORT VIDEOSEARCHRESULTINFO {
    CString strKeyword;
    VIDEORESULTLIST listResult{10};
};

// wParam is the search identifier. The video error and exit numbers repeat the lyric-end and
// song-error numbers: a window serving both managers tells them apart by who started the search.
enum : UINT {
    WM_MX_BEGIN_SONG_SEARCH = WM_USER + 3100,        // AUDIOSEARCHBEGININFO*
    WM_MX_END_SONG_SEARCH = WM_USER + 3101,          // AUDIOSEARCHRESULTINFO*
    WM_MX_BEGIN_LYRIC_SEARCH = WM_USER + 3102,       // LYRICSEARCHBEGININFO*
    WM_MX_END_LYRIC_SEARCH = WM_USER + 3103,         // LYRICSEARCHRESULTINFO*
    WM_MX_AUDIOSEARCH_ERROR = WM_USER + 3104,        // AudioSearchErrorCode
    WM_MX_AUDIOSEARCH_THREAD_EXIT = WM_USER + 3105,  // 0
    WM_MX_END_SONG_FIRST_SEARCH = WM_USER + 3106,    // AUDIOSEARCHRESULTINFO*
    WM_MX_BEGIN_VIDEO_SEARCH = WM_USER + 3300,       // sent: CString* keyword
    WM_MX_VIDEO_SEARCH_RESULT = WM_USER + 3301,      // sent: VIDEOSEARCHRESULTINFO*
    WM_MX_VIDEOSEARCH_ERROR = WM_USER + 3103,        // sent: VideoSearchErrorCode
    WM_MX_VIDEOSEARCH_THREAD_EXIT = WM_USER + 3104   // 0
};
