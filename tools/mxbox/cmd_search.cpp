// mxbox search, lyrics, video: the module's searches, run as a front end runs them (a manager, a
// window, the messages), their results as a table or as JSON.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "MessageSink.h"
#include "cli.h"

namespace mxbox {
namespace {

const DWORD kSearchTimeout = 120000;  // beyond the XML service's own 30 s per load

const char* AudioErrorMeaning(int code) {
    switch (code) {
        case ASE_EMPTY_KEYWORD: return "the keyword is empty";
        case ASE_LOAD_FAILED: return "the song server's answer could not be loaded";
        case ASE_ELEMENT_MISSING: return "the song server's answer lacks an expected element";
        case ASE_LYRIC_EMPTY_KEYWORD: return "the title is empty";
        case ASE_LYRIC_LOAD_FAILED: return "the lyric server's answer could not be loaded";
        case ASE_LYRIC_ELEMENT_MISSING: return "the lyric server's answer lacks an expected element";
        case ASE_NO_XML_SERVICE: return "the XML service is not available";
        default: return "unknown error";
    }
}

const char* VideoErrorMeaning(int code) {
    switch (code) {
        case VSE_EMPTY_KEYWORD: return "the keyword is empty";
        case VSE_LOAD_FAILED: return "the video server's answer could not be loaded";
        case VSE_ELEMENT_MISSING: return "the video server's answer lacks an expected element";
        case VSE_NO_XML_SERVICE: return "the XML service is not available";
        default: return "unknown error";
    }
}

// Columns on a terminal: a CJK character takes two cells.
size_t Cells(const std::string& utf8) {
    size_t cells = 0;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        cells += n >= 3 ? 2 : 1;
        i += size_t(n);
    }
    return cells;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t k = 0; k < row.size(); ++k) {
            if (widths.size() <= k) widths.push_back(0);
            widths[k] = std::max(widths[k], std::min<size_t>(Cells(row[k]), 40));
        }
    for (const auto& row : rows) {
        std::string line;
        for (size_t k = 0; k < row.size(); ++k) {
            line += row[k];
            if (k + 1 < row.size()) line += std::string(widths[k] + 2 - std::min(Cells(row[k]), widths[k] + 1), ' ');
        }
        std::cout << line << "\n";
    }
}

std::string Duration(DWORD seconds) {
    return std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60);
}

std::string SongJson(const AUDIORESULTUINT& r) {
    std::string urls;
    for (const CString& u : r.lstURL) urls += (urls.empty() ? "" : ", ") + JsonString(Utf8(u));
    auto s = [](const char* name, const CString& v) { return std::string("\"") + name + "\": " + JsonString(Utf8(v)); };
    auto n = [](const char* name, unsigned long long v) { return std::string("\"") + name + "\": " + std::to_string(v); };
    return "{" + s("strSong", r.strSong) + ", " + s("strArtist", r.strArtist) + ", " + s("strAlbum", r.strAlbum) +
           ", " + s("strType", r.strType) + ", " + s("strTrack", r.strTrack) + ", " + n("byGenre", r.byGenre) + ", " +
           s("strSize", r.strSize) + ", " + s("strSpeed", r.strSpeed) + ", " + n("dwDuration", r.dwDuration) + ", " +
           n("dwOpinion", r.dwOpinion) + ", " + n("dwFileLength", r.dwFileLength) + ", " +
           n("dwBitrate", r.dwBitrate) + ", " + s("strMD5", r.strMD5) + ", \"nCanPlay\": " +
           std::to_string(r.nCanPlay) + ", \"lstURL\": [" + urls + "], " + s("strGenre", r.strGenre) + ", " +
           s("strSongID", r.strSongID) + ", " + s("strLyric", r.strLyric) + ", " + s("strLyricURL", r.strLyricURL) +
           ", \"bAnalyzed\": " + std::to_string(r.bAnalyzed) + ", " + s("strExtra1", r.strExtra1) + ", " +
           s("strExtra2", r.strExtra2) + ", \"nExtra3\": " + std::to_string(r.nExtra3) + "}";
}

// Runs the started search to its exit message; the error codes it reported, in order.
std::vector<int> Wait(CMessageSink& sink, int id, const char* what) {
    if (id < 0) throw CLI::RuntimeError(Fail(std::string("the ") + what + " could not be started"));
    if (!sink.PumpUntilExit(id, kSearchTimeout))
        throw CLI::RuntimeError(Fail(std::string("the ") + what + " did not end in time"));
    std::vector<int> codes;
    for (const RECEIVEDMSG& m : sink.Messages(id))
        if (m.nMessage == (what[0] == 'v' ? UINT(WM_MX_VIDEOSEARCH_ERROR) : UINT(WM_MX_AUDIOSEARCH_ERROR)))
            codes.push_back(m.nCode);
    return codes;
}

// Every error is a line; the search failed (status 1) unless all were elements missing from an answer
// that still gave results. A load that failed for want of a server says how to name one.
int Report(const std::vector<int>& codes, const char* (*meaning)(int), int missingElement, int missingLyricElement,
           bool anyResult, const char* server) {
    int status = 0;
    for (int code : codes) {
        std::cerr << "mxbox: error " << code << ": " << meaning(code) << "\n";
        if ((code != missingElement && code != missingLyricElement) || !anyResult) status = 1;
    }
    bool loadFailed = false;
    for (int code : codes)  // VSE_LOAD_FAILED has the song search's number
        loadFailed = loadFailed || code == ASE_LOAD_FAILED || code == ASE_LYRIC_LOAD_FAILED;
    if (loadFailed && server) {
        registry_string<std::string> user(std::string("SOFTWARE\\Tamborinebox\\Servers\\") + server, HKEY_CURRENT_USER),
            machine(std::string("SOFTWARE\\Tamborinebox\\Servers\\") + server, HKEY_LOCAL_MACHINE);
        if (!user.exists() && !machine.exists())
            std::cerr << "mxbox: no " << server << " server is set: mxbox settings servers use HOST[:PORT]\n";
    }
    return status;
}

struct SearchArgs {
    std::vector<std::string> words;
    std::string type = "both";
    bool json = false;
    size_t download = 0;  // the result to download and file into the library, from 1
};

int Search(const SearchArgs& a) {
    static const std::pair<const char*, AudioSearchType> kTypes[] = {
        {"both", AST_ONLINE_THEN_LIBRARY}, {"library", AST_LIBRARY},   {"online", AST_ONLINE},
        {"document", AST_RESULT_DOCUMENT}, {"all", AST_ALL_SONGS},      {"files", AST_ALL_LOCAL_SONGS},
        {"playlists", AST_PLAYLISTS}};
    AudioSearchType type = AST_ONLINE_THEN_LIBRARY;
    for (const auto& t : kTypes)
        if (a.type == t.first) type = t.second;
    CList<CString, CString> names(10);
    std::string joined;
    for (const std::string& w : a.words) {
        joined += (joined.empty() ? "" : " ") + w;
        names.AddTail(Ansi(w, "KEYWORD"));
    }
    if (type != AST_ONLINE && type != AST_RESULT_DOCUMENT) Library();
    if (type == AST_PLAYLISTS) {
        if (a.words.empty()) throw CLI::RuntimeError(Fail("name the playlists to list"));
        CList<CString, CString> known(10);
        Library()->GetAllPlaylists(&known);
        for (POSITION pos = names.GetHeadPosition(); pos;) {
            const CString& name = names.GetNext(pos);
            bool found = false;
            for (POSITION k = known.GetHeadPosition(); k && !found;) found = known.GetNext(k) == name;
            if (!found) throw CLI::RuntimeError(Fail(Utf8(name) + ": no such playlist"));
        }
    }
    // The listings take no keyword, but the module wants one for every type but two.
    if (type == AST_ALL_LOCAL_SONGS && joined.empty()) joined = "*";
    CMessageSink sink(CMessageSink::kAudioSearch);
    CAudioSearch search;
    int id = search.StartNewSearch(&names, type == AST_PLAYLISTS ? CString() : Ansi(joined, "KEYWORD"), type,
                                   sink.GetHwnd(), ASRT_DEFAULT, 0, -1);
    if (id < 0 && joined.empty()) throw CLI::RuntimeError(Fail("a keyword is needed for this search type"));
    std::vector<int> codes = Wait(sink, id, "search");
    std::vector<const RECEIVEDMSG*> ends;
    for (const RECEIVEDMSG& m : sink.Messages())
        if (m.nMessage == WM_MX_END_SONG_SEARCH) ends.push_back(&m);
    if (a.json) {
        std::cout << "[";
        for (size_t e = 0; e < ends.size(); ++e) {
            const RECEIVEDMSG& m = *ends[e];
            std::cout << (e ? ",\n " : "\n ") << "{\"keyword\": " << JsonString(Utf8(m.strText[0]))
                      << ", \"playlist\": " << JsonString(Utf8(m.strText[1])) << ", \"milliseconds\": " << m.dwValue
                      << ", \"correction\": " << JsonString(Utf8(m.strText[2])) << ", \"hint\": {\"strHref\": "
                      << JsonString(Utf8(m.hint.strHref)) << ", \"strText\": " << JsonString(Utf8(m.hint.strText))
                      << "}, \"results\": [";
            for (size_t i = 0; i < m.vecSongs.size(); ++i) std::cout << (i ? ",\n  " : "\n  ") << SongJson(m.vecSongs[i]);
            std::cout << "]}";
        }
        std::cout << "\n]\n";
    } else {
        for (const RECEIVEDMSG* m : ends) {
            if (!m->strText[1].IsEmpty()) std::cout << "[" << Utf8(m->strText[1]) << "]\n";
            if (!m->strText[2].IsEmpty()) std::cout << "Did you mean: " << Utf8(m->strText[2]) << "\n";
            std::vector<std::vector<std::string>> rows{{"#", "Title", "Artist", "Album", "Type", "Time", "kbps", "Where"}};
            for (size_t i = 0; i < m->vecSongs.size(); ++i) {
                const AUDIORESULTUINT& r = m->vecSongs[i];
                rows.push_back({std::to_string(i + 1), Utf8(r.strSong), Utf8(r.strArtist), Utf8(r.strAlbum),
                                Utf8(r.strType), Duration(r.dwDuration), std::to_string(r.dwBitrate),
                                r.lstURL.empty() ? ""
                                : CMxPublic::IsWebLink(r.lstURL.front()) ? Utf8(r.lstURL.front())
                                                                         : Shown(r.lstURL.front())});
            }
            if (m->vecSongs.empty()) std::cout << "no songs found\n";
            else PrintTable(rows);
            if (!m->hint.strText.IsEmpty())
                std::cout << "See also: " << Utf8(m->hint.strText) << " (" << Utf8(m->hint.strHref) << ")\n";
        }
    }
    bool anyResult = false;
    for (const RECEIVEDMSG* m : ends) anyResult = anyResult || !m->vecSongs.empty();
    int status = Report(codes, AudioErrorMeaning, ASE_ELEMENT_MISSING, ASE_LYRIC_ELEMENT_MISSING, anyResult,
                        type == AST_ONLINE || type == AST_ONLINE_THEN_LIBRARY ? "SongSearch" : nullptr);
    if (!a.download) return status;
    if (ends.empty() || a.download > ends.front()->vecSongs.size())
        return Fail("there is no result " + std::to_string(a.download) + " to download");
    return DownloadSearchResult(ends.front()->vecSongs[a.download - 1]);
}

struct LyricArgs {
    std::vector<std::string> words;  // [ARTIST] TITLE
    int form = 0;
    bool json = false;
};

int Lyrics(const LyricArgs& a) {
    std::string first = a.words.size() > 1 ? a.words[0] : a.form == LSRT_ADDRESS ? a.words[0] : "";
    std::string second = a.words.size() > 1 ? a.words[1] : a.form == LSRT_ADDRESS ? "" : a.words[0];
    CMessageSink sink(CMessageSink::kAudioSearch);
    CAudioSearch search;
    int id = search.LyricSearch(Ansi(first, "ARTIST"), Ansi(second, "TITLE"), sink.GetHwnd(),
                                LyricSearchResultType(a.form));
    std::vector<int> codes = Wait(sink, id, "lyric search");
    bool anyResult = false, ended = false;
    for (const RECEIVEDMSG& m : sink.Messages(id)) {
        if (m.nMessage != WM_MX_END_LYRIC_SEARCH) continue;
        ended = true;
        anyResult = !m.vecLyrics.empty();
        if (a.json) {
            std::cout << "[";
            for (size_t i = 0; i < m.vecLyrics.size(); ++i) {
                const LYRICRESULTUINT& l = m.vecLyrics[i];
                std::cout << (i ? ",\n " : "\n ") << "{\"strTitle\": " << JsonString(Utf8(l.strTitle))
                          << ", \"strArtist\": " << JsonString(Utf8(l.strArtist)) << ", \"strAlbum\": "
                          << JsonString(Utf8(l.strAlbum)) << ", \"strLyric\": " << JsonString(Utf8(l.strLyric)) << "}";
            }
            std::cout << "\n]\n";
        } else {
            if (m.vecLyrics.empty()) std::cout << "no lyrics found\n";
            for (const LYRICRESULTUINT& l : m.vecLyrics)
                std::cout << "== " << Utf8(l.strTitle) << " - " << Utf8(l.strArtist) << " - " << Utf8(l.strAlbum)
                          << "\n" << Utf8(l.strLyric) << "\n";
        }
    }
    if (!ended && a.json) std::cout << "[]\n";  // the search ended early: nothing found
    return Report(codes, AudioErrorMeaning, ASE_ELEMENT_MISSING, ASE_LYRIC_ELEMENT_MISSING, anyResult,
                  a.form == LSRT_ADDRESS ? nullptr : "Lyric");
}

int Video(const std::string& keyword, bool json) {
    CMessageSink sink(CMessageSink::kVideoSearch);
    CVideoSearch search;
    int id = search.StartNewSearch(Ansi(keyword, "KEYWORD"), sink.GetHwnd());
    std::vector<int> codes = Wait(sink, id, "video search");
    bool anyResult = false;
    for (const RECEIVEDMSG& m : sink.Messages(id)) {
        if (m.nMessage != WM_MX_VIDEO_SEARCH_RESULT) continue;
        anyResult = !m.vecVideos.empty();
        if (json) {
            std::cout << "[";
            for (size_t i = 0; i < m.vecVideos.size(); ++i) {
                const VIDEORESULTUINT& v = m.vecVideos[i];
                std::cout << (i ? ",\n " : "\n ") << "{\"strTitle\": " << JsonString(Utf8(v.strTitle))
                          << ", \"strType\": " << JsonString(Utf8(v.strType)) << ", \"strPicLink\": "
                          << JsonString(Utf8(v.strPicLink)) << ", \"strPlayInfo\": " << JsonString(Utf8(v.strPlayInfo))
                          << ", \"nWidth\": " << v.nWidth << ", \"nHeight\": " << v.nHeight << "}";
            }
            std::cout << "\n]\n";
        } else if (m.vecVideos.empty()) {
            std::cout << "no videos found\n";
        } else {
            std::vector<std::vector<std::string>> rows{{"#", "Title", "Size", "Play", "Picture"}};
            for (size_t i = 0; i < m.vecVideos.size(); ++i) {
                const VIDEORESULTUINT& v = m.vecVideos[i];
                rows.push_back({std::to_string(i + 1), Utf8(v.strTitle),
                                std::to_string(v.nWidth) + "x" + std::to_string(v.nHeight), Utf8(v.strPlayInfo),
                                Utf8(v.strPicLink)});
            }
            PrintTable(rows);
        }
    }
    return Report(codes, VideoErrorMeaning, VSE_ELEMENT_MISSING, VSE_ELEMENT_MISSING, anyResult, "Video");
}

}  // namespace

void AddSearchCommands(CLI::App& app) {
    auto search = std::make_shared<SearchArgs>();
    CLI::App* s = app.add_subcommand("search", "Search for songs online, in the library, or both");
    s->add_option("keyword", search->words, "Keywords (playlist names with --type playlists)");
    s->add_option("--type", search->type, "online, library, both, all, files, document or playlists")
        ->check(CLI::IsMember({"online", "library", "both", "all", "files", "document", "playlists"}))
        ->capture_default_str();
    s->add_flag("--json", search->json, "Machine-readable output");
    s->add_option("--download", search->download, "Download result N (of the first list) into the library")
        ->check(CLI::Range(size_t(1), size_t(100000)));
    s->callback([search] {
        int status = Search(*search);
        if (status) throw CLI::RuntimeError(status);
    });

    auto lyric = std::make_shared<LyricArgs>();
    CLI::App* l = app.add_subcommand("lyrics", "Ask the lyric server for a song's lyrics");
    l->add_option("artist_title", lyric->words, "[ARTIST] TITLE (with --form 2: the answer's address)")
        ->required()->expected(1, 2);
    l->add_option("--form", lyric->form, "Request form: 0, 1, or 2 (an address)")->check(CLI::Range(0, 2));
    l->add_flag("--json", lyric->json, "Machine-readable output");
    l->callback([lyric] {
        int status = Lyrics(*lyric);
        if (status) throw CLI::RuntimeError(status);
    });

    auto keyword = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* v = app.add_subcommand("video", "Ask the video server for videos");
    v->add_option("keyword", *keyword, "Keyword")->required();
    v->add_flag("--json", *json, "Machine-readable output");
    v->callback([keyword, json] {
        int status = Video(*keyword, *json);
        if (status) throw CLI::RuntimeError(status);
    });
}

}  // namespace mxbox
