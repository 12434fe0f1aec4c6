// Other players' libraries of 50,000 songs: an iTunes library (one list of every track) and a Winamp
// M3U list, each read and then imported (quick records) into a fresh library; beside them the plain
// import of the same 50,000 files. read_ms is the reader, import_ms the import worker.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MessageSink.h"
#include "MxModule/foundation/RegistryValue.h"

namespace {

constexpr int kFolders = 500;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

// The songs (C:\music\...) and both players' files, made once.
const std::vector<CString>& Songs() {
    static const std::vector<CString> songs = [] {
        std::vector<CString> paths;
        std::string tracks, items, m3u = "#EXTM3U\r\n";
        int id = 0;
        for (const std::string& name : mxbench::MakeSongTree(mxbench::Machine().HostC("music"), kFolders, kFilesPerFolder)) {
            std::string win = "C:\\music\\" + name;
            win[win.find('/')] = '\\';
            paths.push_back(CString(win.c_str()));
            m3u += "#EXTINF:180,Song\r\n" + win + "\r\n";
            const std::string n = std::to_string(++id);
            tracks += "<key>" + n + "</key><dict><key>Track ID</key><integer>" + n + "</integer><key>Location</key><string>file://localhost/C:/music/" +
                      name + "</string></dict>\n";
            items += "<dict><key>Track ID</key><integer>" + n + "</integer></dict>\n";
        }
        std::ofstream(mxbench::Machine().HostC("list.m3u"), std::ios::binary) << m3u;
        std::filesystem::create_directories(mxbench::Machine().HostC("me/Music/iTunes"));
        std::ofstream(mxbench::Machine().HostC("me/Music/iTunes/iTunes Music Library.xml"), std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict>\n" << tracks
            << "</dict><key>Playlists</key><array><dict><key>Name</key><string>All</string><key>Playlist Items</key><array>\n"
            << items << "</array></dict></array></dict></plist>\n";
        setenv("MX_FOLDER_MUSIC", "C:\\me\\Music", 1);
        MxPlatformReload();
        registry_string<std::string>("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iTunes.exe\\", HKEY_LOCAL_MACHINE) =
            "C:\\iTunes.exe";
        return paths;
    }();
    return songs;
}

// Whether the first and the last song have their records.
bool Imported() {
    return CDBOperater::Instance()->CheckFileImportedByFileName(Songs().front()) && CDBOperater::Instance()->CheckFileImportedByFileName(Songs().back());
}

// One import by the other-player worker: its time in ms, or -1 when it did not end with the songs in.
double ImportLists(CList<PLAYLISTINFO, PLAYLISTINFO&>& lists) {
    mxbench::FreshLibrary::Make();
    CMessageSink sink;
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory("C:\\lib");
    auto start = Clock::now();
    int id = manager.AsynAddOtherPlayerInfos(&lists, nullptr, sink.GetHwnd());
    bool done = id > 0 && sink.PumpUntilExit(id, 600000);
    double ms = Ms(start);
    return done && Imported() ? ms : -1;
}

void Report(benchmark::State& state, double read, double imported) {
    state.counters["read_ms"] = read / double(state.iterations());
    state.counters["import_ms"] = imported / double(state.iterations());
}

// Reads the lists with the reader (timed as read_ms), then imports them (import_ms).
void ReadAndImport(benchmark::State& state, const std::function<void(CList<PLAYLISTINFO, PLAYLISTINFO&>&)>& read) {
    Songs();
    double readMs = 0, imported = 0;
    for (auto _ : state) {
        CMxPublic::m_mapPLName2Index.RemoveAll();
        auto start = Clock::now();
        CList<PLAYLISTINFO, PLAYLISTINFO&> lists;
        read(lists);
        readMs += Ms(start);
        if (lists.GetCount() != 1 || lists.GetHead().lstFilePath.GetCount() != kFiles) state.SkipWithError("not every entry read");
        double ms = ImportLists(lists);
        if (ms < 0) state.SkipWithError("not every song imported");
        imported += ms;
    }
    Report(state, readMs, imported);
}

void BM_ITunesLibrary(benchmark::State& state) {
    ReadAndImport(state, [](CList<PLAYLISTINFO, PLAYLISTINFO&>& lists) {
        OTHERPLAYERMAP map;
        CMxPublic::FindITune(&map, nullptr);
        OTHERPLAYERINFO info;
        if (map.Lookup(OPK_ITUNES, info)) lists.AddTail(&info.lstPlayList);
    });
}

void BM_WinampM3u(benchmark::State& state) {
    ReadAndImport(state, [](CList<PLAYLISTINFO, PLAYLISTINFO&>& lists) { CMxPublic::ReadWinampM3U("C:\\list.m3u", "Winamp_All", &lists); });
}

// The same files given to the plain import as a list, quick records only.
void BM_PlainImport(benchmark::State& state) {
    double imported = 0;
    for (auto _ : state) {
        CStringList paths;
        for (const CString& path : Songs()) paths.AddTail(path);
        mxbench::FreshLibrary::Make();
        CMessageSink sink;
        CFileOperateManager manager;
        manager.SetFileOperateDestDirectory("C:\\lib");
        auto start = Clock::now();
        int id = manager.AsynAddMultiFilePaths(&paths, sink.GetHwnd(), 1, 0, 0);
        bool done = id > 0 && sink.PumpUntilExit(id, 600000);
        imported += Ms(start);
        if (!done || !Imported()) state.SkipWithError("not every song imported");
    }
    Report(state, 0, imported);
}

}  // namespace

BENCHMARK(BM_ITunesLibrary)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WinampM3u)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
