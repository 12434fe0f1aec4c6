// mxbox players: what other players on the machine hold, and bringing it into the library (the songs,
// then the playlists built from the worker's reports, as a front end does); mxbox autoscan: the
// automatic search of the machine's music folders, or the library folder's own songs.
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MessageSink.h"
#include "Progress.h"
#include "cli.h"

namespace mxbox {
namespace {

const char* PlayerName(int key) {
    static const char* const kNames[] = {"",       "TTPlayer", "KuGou", "Kuwo", "Windows Media Player",
                                         "iTunes", "Winamp"};
    return key >= 1 && key <= 6 ? kNames[key] : "?";
}

// The song folder of the settings, else the user's music folder.
CString LibraryFolder() {
    CString folder = CSettingManager::Instance()->GetCurrentSetting()->AudioSetting.AudioPath;
    if (!folder.IsEmpty()) return folder;
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, 0x0D, nullptr, 0, path)) || !path[0]) return "C:\\Music";
    return path;
}

struct Found {
    std::map<int, OTHERPLAYERINFO> players;
    std::vector<std::pair<std::string, std::string>> withoutPlaylists;  // name, version
};

// Runs discovery on its own thread so that its progress shows here as it is posted.
Found Discover() {
    CMessageSink sink;
    Progress progress;
    Found found;
    const int kDone = 1;  // the exit this pump waits for, posted when discovery has returned
    sink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        if (m.nMessage == WM_MX_FIND_PLAYER_BEGIN) {
            progress.Show("looking for " + std::string(PlayerName(int(m.wParam))));
        } else if (m.nMessage == WM_MX_FIND_PLAYER_NO_LIST) {
            found.withoutPlaylists.emplace_back(Utf8(m.strText[0]), Utf8(m.strText[1]));
        }
    };
    OTHERPLAYERMAP map;
    HWND window = sink.GetHwnd();
    std::thread worker([&map, window] {
        CMxPublic::FindOtherPlayerInfo(&map, window, nullptr);
        PostMessageA(window, WM_MX_FILEOPERATE_THREAD_EXIT, kDone, 0);
    });
    sink.PumpUntilExit(kDone, INFINITE);
    worker.join();
    progress.Done();
    for (int key = OPK_TTPLAYER; key <= OPK_WINAMP; ++key) {
        OTHERPLAYERINFO info;
        if (map.Lookup(key, info)) found.players[key] = info;
    }
    return found;
}

std::string Songs(size_t n) { return std::to_string(n) + (n == 1 ? " song" : " songs"); }

// A JSON array of the texts.
std::string JsonArray(const CList<CString, CString>& list) {
    std::string out = "[";
    for (POSITION pos = list.GetHeadPosition(); pos;) out += (out.size() > 1 ? "," : "") + JsonString(Utf8(list.GetNext(pos)));
    return out + "]";
}

void PrintJson(const Found& found) {
    std::cout << "{\"players\":[";
    bool firstPlayer = true;
    for (const auto& [key, info] : found.players) {
        std::cout << (firstPlayer ? "" : ",") << "{\"key\":" << key
                  << ",\"player\":" << JsonString(PlayerName(key)) << ",\"playlists\":[";
        firstPlayer = false;
        bool firstList = true;
        for (POSITION pos = info.lstPlayList.GetHeadPosition(); pos;) {
            const PLAYLISTINFO& playlist = info.lstPlayList.GetNext(pos);
            std::cout << (firstList ? "" : ",") << "{\"name\":" << JsonString(Utf8(playlist.strPLName))
                      << ",\"songs\":" << JsonArray(playlist.lstFilePath) << "}";
            firstList = false;
        }
        std::cout << "],\"folders\":" << JsonArray(info.lstMusicPath) << "}";
    }
    std::cout << "],\"installedWithoutPlaylists\":[";
    bool first = true;
    for (const auto& [name, version] : found.withoutPlaylists) {
        std::cout << (first ? "" : ",") << "{\"player\":" << JsonString(name)
                  << ",\"version\":" << JsonString(version) << "}";
        first = false;
    }
    std::cout << "]}\n";
}

void PrintText(const Found& found) {
    if (found.players.empty() && found.withoutPlaylists.empty()) std::cout << "no other player found\n";
    for (const auto& [key, info] : found.players) {
        std::cout << key << " " << PlayerName(key) << "\n";
        for (POSITION pos = info.lstPlayList.GetHeadPosition(); pos;) {
            const PLAYLISTINFO& playlist = info.lstPlayList.GetNext(pos);
            std::cout << "  playlist " << Utf8(playlist.strPLName) << ": " << Songs(size_t(playlist.lstFilePath.GetCount())) << "\n";
        }
        for (POSITION pos = info.lstMusicPath.GetHeadPosition(); pos;) std::cout << "  folder " << Utf8(info.lstMusicPath.GetNext(pos)) << "\n";
    }
    for (const auto& [name, version] : found.withoutPlaylists)
        std::cout << name << (version.empty() ? "" : " " + version) << ": installed, no playlist\n";
}

struct PlayersArgs {
    bool json = false;
    std::vector<int> keys;
};

// Follows an import-style worker to its end with progress; the playlist songs it reports are kept.
struct ImportRun {
    std::vector<std::pair<CString, CString>> songs;  // playlist, path, as reported
    std::vector<std::string> notes;
    std::string fatal;
    unsigned long total = 0;
    size_t failed = 0;
    size_t already = 0;
    size_t again = 0;                // songs named again by a later list of the same run
    std::set<std::string> reported;  // folded paths whose import has ended
};

// What did not become a new record, after "imported N".
void PrintCounts(const ImportRun& run) {
    if (run.already) std::cout << "; " << run.already << " already in the library";
    if (run.again) std::cout << "; " << run.again << " named again by another list";
    if (run.failed) std::cout << "; " << run.failed << " not imported";
}

// The failures that end a run, for the terminal.
std::string FatalText(int code) {
    switch (code) {
        case FOR_FOLDER_NOT_FOUND:
            return "the library folder does not exist";
        case FOR_NOT_A_FOLDER:
            return "the library folder is not a folder";
        case FOR_NO_FILES_FOUND:
            return "no song in the library folder";
        default:
            return FileOperateText(code);
    }
}

// A song on a drive the map lacks is not gone: the drive is not there (an old Windows' second disk).
std::string NoteText(const CString& path, int code) {
    const char letter = path.GetLength() > 2 && path[1] == ':' ? char(std::toupper(static_cast<unsigned char>(path[0]))) : 0;
    if (code == FOR_FILE_NOT_FOUND && letter >= 'A' && letter <= 'Z' && !(GetLogicalDrives() & (1u << (letter - 'A'))))
        return std::string("no drive ") + letter + ": on this machine (mxbox machine adopt ... --drive " + letter + ":=PATH)";
    return FileOperateText(code);
}

void Follow(CMessageSink& sink, int id, ImportRun& run) {
    if (id == -1) throw CLI::RuntimeError(Fail("the import could not start"));
    Progress progress;
    size_t done = 0;
    sink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        switch (m.nMessage) {
            case WM_MX_IMPORT_SEARCHING:
                progress.Show("searching " + Shown(m.strText[0]));
                break;
            case WM_MX_BEGIN_IMPORT:
            case WM_MX_BEGIN_COPY_MULTI_FILES:
                run.total = static_cast<unsigned long>(m.lParam);
                break;
            case WM_MX_END_IMPORT_ONE_OF_FILE:
                run.songs.emplace_back(m.strText[1], m.strText[0]);
                run.reported.insert(MxFoldCase(m.strText[0]).str());
                progress.Bar("importing", ++done, run.total, Shown(m.strText[0]));
                break;
            case WM_MX_END_COPY_ONE_OF_MULTI_FILES:
                progress.Bar("importing", ++done, run.total, Shown(m.strText[0]));
                break;
            case WM_MX_FILEOPERATE_ERROR:
                if (m.strText[0].IsEmpty()) {
                    run.fatal = FatalText(m.nCode);
                } else {
                    if (m.nCode == FOR_ALREADY_IMPORTED && run.reported.count(MxFoldCase(m.strText[0]).str())) {
                        ++run.again;
                        break;
                    }
                    if (m.nCode == FOR_ALREADY_IMPORTED)
                        ++run.already;
                    else if (m.nCode != FOR_SCRIPT_COMMANDS)
                        ++run.failed;
                    run.notes.push_back(Shown(m.strText[0]) + ": " + NoteText(m.strText[0], m.nCode));
                }
                break;
            default:
                break;
        }
    };
    sink.PumpUntilExit(id, INFINITE);
    progress.Done();
    for (const std::string& note : run.notes) std::cout << note << "\n";
    if (!run.fatal.empty()) throw CLI::RuntimeError(Fail(run.fatal));
}

void RunPlayers(const PlayersArgs& a) {
    Found found = Discover();
    if (a.json)
        PrintJson(found);
    else
        PrintText(found);
}

void RunPlayersImport(const PlayersArgs& a) {
    CDBOperater* db = Library();
    Found found = Discover();
    std::set<int> wanted(a.keys.begin(), a.keys.end());
    CList<PLAYLISTINFO, PLAYLISTINFO&> playlists;
    CStringList folders;
    for (auto& [key, info] : found.players) {
        if (!wanted.empty() && !wanted.count(key)) continue;
        for (POSITION pos = info.lstPlayList.GetHeadPosition(); pos;)
            playlists.AddTail(info.lstPlayList.GetNext(pos));
        folders.AddTail(&info.lstMusicPath);
    }
    if (playlists.IsEmpty() && folders.IsEmpty())
        throw CLI::RuntimeError(Fail("nothing to import: no such player found"));

    CMessageSink sink;
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory(LibraryFolder());
    ImportRun run;
    Follow(sink, manager.AsynAddOtherPlayerInfos(&playlists, &folders, sink.GetHwnd()), run);

    // The worker stores the songs only; the playlists are built from its reports, in their order. A
    // playlist that was there before (an import run again) takes only the songs it lacks.
    struct FILLED {
        size_t added = 0, held = 0;
        std::set<std::string> before;  // folded paths of an existing playlist; empty for a new one
    };
    std::map<std::string, FILLED> filled;
    size_t notPlaced = 0;
    for (const auto& [name, path] : run.songs) {
        if (!db->CheckFileImportedByFileName(path)) continue;  // reported above
        std::string key = Utf8(name);
        if (!filled.count(key)) {
            FILLED& f = filled[key];
            DBRECORDLIST held;
            if (!db->AddPlayList(name) && db->LocalSearch(name, nullptr, held, -1, 1)) {
                for (POSITION pos = held.GetHeadPosition(); pos;) f.before.insert(MxFoldCase(held.GetNext(pos).FileName).str());
            }
        }
        FILLED& f = filled[key];
        if (f.before.count(MxFoldCase(path).str()))
            ++f.held;
        else if (db->AddSongInfo2Playlist(name, path))
            ++f.added;
        else
            ++notPlaced;
    }
    for (const auto& [name, f] : filled) {
        std::cout << "playlist " << name << ": " << Songs(f.added);
        if (f.held) std::cout << " added, " << f.held << " already there";
        std::cout << "\n";
    }
    size_t skipped = run.failed + run.already + run.again;
    std::cout << "imported " << (run.total > skipped ? run.total - skipped : 0) << " of " << run.total
              << " songs";
    PrintCounts(run);
    if (notPlaced) std::cout << "; " << notPlaced << " could not be placed in their playlist";
    std::cout << "\n";
    if (notPlaced) throw CLI::RuntimeError(1);
}

void RunAutoscan(bool library) {
    Library();
    CMessageSink sink;
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory(LibraryFolder());
    ImportRun run;
    Follow(sink,
           library ? manager.AsynAddSelfDircFiles(sink.GetHwnd(), nullptr)
                   : manager.AsynAutoAddSongs(sink.GetHwnd()),
           run);
    size_t skipped = run.failed + run.already + run.again;
    std::cout << "found " << run.total << " songs; imported "
              << (run.total > skipped ? run.total - skipped : 0);
    PrintCounts(run);
    std::cout << "\n";
}

}  // namespace

void AddPlayersCommands(CLI::App& app) {
    auto args = std::make_shared<PlayersArgs>();
    CLI::App* players = app.add_subcommand(
        "players", "List the other players on the machine, their playlists and music folders");
    players->add_flag("--json", args->json, "As JSON");
    CLI::App* import =
        players->add_subcommand("import", "Import the other players' songs, then build their playlists");
    const std::map<std::string, int> kKeys = {{"TTPlayer", 1}, {"KuGou", 2}, {"Kuwo", 3}, {"WMP", 4}, {"iTunes", 5}, {"Winamp", 6}};
    import->add_option("--player", args->keys, "Only these players, by name or number (1 TTPlayer ... 6 Winamp)")
        ->transform(CLI::CheckedTransformer(kKeys, CLI::ignore_case));
    players->callback([args, import] {
        if (import->parsed())
            RunPlayersImport(*args);
        else
            RunPlayers(*args);
    });

    auto library = std::make_shared<bool>(false);
    CLI::App* autoscan =
        app.add_subcommand("autoscan", "Import the songs of the machine's music folders and other players");
    autoscan->add_flag("--library", *library,
                       "Import the library folder's songs that the library lacks instead");
    autoscan->callback([library] { RunAutoscan(*library); });
}

}  // namespace mxbox
