// mxbox library and mxbox playlist: the song library and its playlists.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace mxbox {
namespace {

const char* const kFieldNames[DBRECORD::kFieldCount] = {
    "FileName", "Song",  "Artist",  "Album",       "Type",        "Duration", "Opinion",  "FileLength", "Track", "Genre",
    "MD5",      "CanPlay", "GenreString", "DownloadURL", "Bitrate", "Analyzed", "Extra1", "Extra2", "Extra3"};

std::string RecordJson(const DBRECORD& r) {
    std::string out = "{\"path\": " + JsonString(Shown(r.FileName));
    for (int k = 0; k < DBRECORD::kFieldCount; ++k) out += std::string(", \"") + kFieldNames[k] + "\": " + JsonString(Utf8(r.Field(k)));
    return out + "}";
}

void PrintRecords(const DBRECORDLIST& list, bool json) {
    if (json) std::cout << "[";
    int n = 0;
    for (POSITION pos = list.GetHeadPosition(); pos; ++n) {
        const DBRECORD& r = list.GetNext(pos);
        if (json) {
            std::cout << (n ? ",\n " : "\n ") << RecordJson(r);
        } else {
            std::cout << n + 1 << ". " << Utf8(r.Song) << " - " << Utf8(r.Artist) << " - " << Utf8(r.Album) << "  ["
                      << Shown(r.FileName) << "]\n";
        }
    }
    if (json) std::cout << (n ? "\n]\n" : "]\n");
}

// A record from what the file system tells; the tags are read when the song is analysed.
DBRECORD QuickRecord(const CString& path) {
    DBRECORD r;
    r.FileName = path;
    r.Song = "";
    r.Artist = "";
    r.Album = "";
    int dot = path.ReverseFind('.');
    if (dot > path.ReverseFind('\\')) {
        r.Type = path.Mid(dot + 1);
        r.Type.MakeLower();
    }
    r.FileLength.Format("%lu", static_cast<unsigned long>(CMxPublic::GetFileLen(path)));
    return r;
}

// The playlist that always exists, first.
const std::string kDefaultName = "默认列表";
const char kNameRule[] = "the name is taken (letter case aside), or holds \\ / : * ? \" < > | or ends in a dot or space";

struct Args {
    std::vector<std::string> words;
    std::vector<std::string> paths;
    std::string playlist, name, other;
    int from = 0, to = 0, index = 0;
    bool json = false;
};

void Check(int result, const std::string& what) {
    if (!result) throw CLI::RuntimeError(Fail(what));
}

std::vector<std::string> PlaylistNames(CDBOperater* db) {
    CList<CString, CString> names;
    db->GetAllPlaylists(&names);
    std::vector<std::string> out;
    for (POSITION pos = names.GetHeadPosition(); pos;) out.push_back(Utf8(names.GetNext(pos)));
    return out;
}

}  // namespace

void AddLibraryCommands(CLI::App& app) {
    auto a = std::make_shared<Args>();
    CLI::App* lib = app.add_subcommand("library", "The song library");
    lib->require_subcommand(1);

    CLI::App* ls = lib->add_subcommand("ls", "List songs, all or those matching every keyword (title, artist, album, type)");
    ls->add_option("KEYWORD", a->words, "Keywords");
    ls->add_option("--playlist", a->playlist, "Only this playlist, in its order");
    ls->add_flag("--json", a->json, "Machine-readable output");
    ls->callback([a] {
        CList<CString, CString> words;
        for (const std::string& w : a->words) words.AddTail(Ansi(w, "keyword"));
        CString playlist = Ansi(a->playlist, "playlist");
        DBRECORDLIST results;
        Check(Library()->LocalSearch(playlist, &words, results, -1, 1), "no playlist named " + a->playlist);
        PrintRecords(results, a->json);
    });

    CLI::App* info = lib->add_subcommand("info", "Show every field of a song's record");
    info->add_option("PATH", a->name, "The song file")->required();
    info->add_flag("--json", a->json, "Machine-readable output");
    info->callback([a] {
        DBRECORD r;
        Check(Library()->GetSongInfo(SongPath(a->name), &r), a->name + ": not in the library");
        if (a->json) {
            std::cout << RecordJson(r) << "\n";
            return;
        }
        for (int k = 0; k < DBRECORD::kFieldCount; ++k) std::cout << kFieldNames[k] << ": " << Utf8(r.Field(k)) << "\n";
    });

    CLI::App* add = lib->add_subcommand("add", "Add songs as quick records (not analysed)");
    add->add_option("PATH", a->paths, "Song files")->required();
    add->callback([a] {
        CDBOperater* db = Library();
        int status = 0;
        for (const std::string& p : a->paths) {
            CString path = SongPath(p);
            DWORD attributes = GetFileAttributesA(path);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                status = Fail(p + ": no such file");
                continue;
            }
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                status = Fail(p + ": a folder, not a song file (mxbox import adds folders)");
                continue;
            }
            DBRECORD r = QuickRecord(path);
            if (db->AddSongInfo(&r, 0)) std::cout << "added " << p << "\n";
            else if (db->CheckFileImportedByFileName(path)) status = Fail(p + ": already in the library");
            else status = Fail(p + ": the library could not store it (error " + std::to_string(GetLastError()) + ")");
        }
        if (status) throw CLI::RuntimeError(status);
    });

    CLI::App* legacy = lib->add_subcommand("legacy-import", "Add the songs of an old Access library (LocalSearch.mdb) it lacks");
    legacy->add_option("FILE", a->name, "The .mdb file")->required();
    legacy->callback([a] {
        CString path = SongPath(a->name);
        Check(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES, a->name + ": no such file");
        CString why;
        int added = Library()->ImportLegacyDatabase(path, why);
        if (added < 0) throw CLI::RuntimeError(Fail(a->name + ": not read to its end: " + Utf8(why)));
        std::cout << added << " songs added\n";
    });

    CLI::App* rm = lib->add_subcommand("rm", "Remove songs from the library and every playlist");
    rm->add_option("PATH", a->paths, "Song files")->required();
    rm->callback([a] {
        CDBOperater* db = Library();
        int status = 0;
        for (const std::string& p : a->paths) {
            if (!db->DeleteSongInfo("", SongPath(p))) status = Fail(p + ": not in the library");
        }
        if (status) throw CLI::RuntimeError(status);
    });

    CLI::App* pl = app.add_subcommand("playlist", "Playlists of the library");
    pl->require_subcommand(1);
    CLI::App* pls = pl->add_subcommand("ls", "List the playlists in display order");
    pls->add_flag("--json", a->json, "Machine-readable output");
    pls->callback([a] {
        std::vector<std::string> names = PlaylistNames(Library());
        if (a->json) {
            std::cout << "[";
            for (size_t i = 0; i < names.size(); ++i) std::cout << (i ? ", " : "") << JsonString(names[i]);
            std::cout << "]\n";
            return;
        }
        for (size_t i = 0; i < names.size(); ++i) std::cout << i << ". " << names[i] << "\n";
    });
    CLI::App* pnew = pl->add_subcommand("new", "Create a playlist");
    pnew->add_option("NAME", a->name)->required();
    pnew->callback([a] {
        CString name = Ansi(a->name, "playlist name");
        Check(Library()->AddPlayList(name), "cannot create playlist '" + a->name + "': " + kNameRule);
    });
    CLI::App* pren = pl->add_subcommand("rename", "Rename a playlist");
    pren->add_option("OLD", a->name)->required();
    pren->add_option("NEW", a->other)->required();
    pren->callback([a] {
        CString from = Ansi(a->name, "playlist"), to = Ansi(a->other, "playlist name");
        CDBOperater* db = Library();
        Check(a->name != kDefaultName, "the default playlist keeps its name");
        Check(db->RenamePlayList(from, to),
              "cannot rename '" + a->name + "' to '" + a->other + "': no such playlist, or " + kNameRule);
    });
    CLI::App* prm = pl->add_subcommand("rm", "Delete a playlist (its songs stay in the library)");
    prm->add_option("NAME", a->name)->required();
    prm->callback([a] {
        CString name = Ansi(a->name, "playlist");
        CDBOperater* db = Library();
        Check(a->name != kDefaultName, "the default playlist cannot be deleted");
        Check(db->DeletePlayList(name), "no playlist named " + a->name);
    });
    CLI::App* pmove = pl->add_subcommand("move", "Move a playlist in the display order (0-based; 0 stays first)");
    pmove->add_option("FROM", a->from)->required();
    pmove->add_option("TO", a->to)->required();
    pmove->callback([a] { Check(Library()->MovePlaylist(a->from, a->to), "cannot move playlist " + std::to_string(a->from)); });
    CLI::App* pshow = pl->add_subcommand("show", "List a playlist's songs in order");
    pshow->add_option("NAME", a->name)->required();
    pshow->add_flag("--json", a->json, "Machine-readable output");
    pshow->callback([a] {
        CString name = Ansi(a->name, "playlist");
        DBRECORDLIST results;
        Check(Library()->LocalSearch(name, nullptr, results, -1, 1), "no playlist named " + a->name);
        PrintRecords(results, a->json);
    });
    CLI::App* padd = pl->add_subcommand("add", "Append songs of the library to a playlist");
    padd->add_option("NAME", a->name)->required();
    padd->add_option("PATH", a->paths)->required();
    padd->callback([a] {
        CString name = Ansi(a->name, "playlist");
        CDBOperater* db = Library();
        for (const std::string& p : a->paths) {
            Check(db->AddSongInfo2Playlist(name, SongPath(p)), p + ": not in the library, or no playlist " + a->name);
        }
    });
    CLI::App* premove = pl->add_subcommand("remove", "Remove the song at a 1-based place (it leaves the library with its last playlist)");
    premove->add_option("NAME", a->name)->required();
    premove->add_option("INDEX", a->index)->required();
    premove->callback([a] {
        CString name = Ansi(a->name, "playlist");
        int deleted = 0;
        Check(Library()->RemoveSongInfoFromPlaylist(name, a->index, deleted),
              "no song at place " + std::to_string(a->index) + " of " + a->name);
        if (deleted) std::cout << "the song left the library with its last playlist\n";
    });
    CLI::App* pms = pl->add_subcommand("move-song", "Move a song within a playlist (1-based places)");
    pms->add_option("NAME", a->name)->required();
    pms->add_option("FROM", a->from)->required();
    pms->add_option("TO", a->to)->required();
    pms->callback([a] {
        CString name = Ansi(a->name, "playlist");
        Check(Library()->MoveSongInfo(name, a->from, a->to), "cannot move that song");
    });
}

}  // namespace mxbox
