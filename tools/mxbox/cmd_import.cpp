// mxbox import, mxbox analyze and mxbox library stats: registering songs where they lie, reading their
// tags later, and what the library holds.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MessageSink.h"
#include "Progress.h"
#include "cli.h"

namespace mxbox {
namespace {

// Walked names the system code page could not hold; the command then ends with status 1.
size_t g_nSkippedNames = 0;

void FailOnSkippedNames() {
    if (g_nSkippedNames) {
        throw CLI::RuntimeError(Fail(std::to_string(g_nSkippedNames) + " files skipped: names the system code page cannot hold"));
    }
}

// A path as the library compares it: without regard to letter case.
std::string Folded(const CString& path) { return MxFoldCase(path).str(); }


// The folder a front end files songs into; an import only needs one to be set.
CString LibraryFolder() {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, 0x0D, nullptr, 0, path)) || !path[0]) return "C:\\Music";
    return path;
}

struct ImportArgs {
    std::vector<std::string> paths;
    std::string to;
    int quota = std::numeric_limits<int>::max();  // every new song
    bool quick = false;
    bool analyzeRest = false;
    bool copyFirst = false;
};

// Copies the audio files among the paths into the folder with the module's copy worker; returns the
// copies made. Each file that could not be copied is an error line, and counted in `failures`.
std::vector<CString> RunCopy(CStringList& list, const CString& folder, Progress& progress, size_t& failures) {
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CLI::RuntimeError(Fail(Shown(folder) + ": a file, not a folder to copy into"));
    }
    CMessageSink sink;
    size_t total = 0, done = 0;
    std::vector<CString> copies;
    std::string fatal;
    CString failed;  // the source of the last failed copy
    sink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        switch (m.nMessage) {
            case WM_MX_BEGIN_COPY_MULTI_FILES: total = size_t(m.lParam); break;
            case WM_MX_FILEOPERATE_ERROR:
                if (m.strText[0].IsEmpty()) {
                    fatal = FileOperateText(m.nCode);
                } else {
                    failed = m.strText[0];
                    progress.Done();
                    Fail(Shown(m.strText[0]) + ": " + FileOperateText(m.nCode));
                    if (m.nCode == FOR_NAME_NOT_IN_CODE_PAGE) ++g_nSkippedNames;
                }
                break;
            case WM_MX_END_COPY_ONE_OF_MULTI_FILES:
                ++done;
                if (m.strText[0] != failed) copies.push_back(m.strText[1]);
                break;
            default: break;
        }
        if (m.nMessage == WM_MX_BEGIN_COPY_MULTI_FILES) progress.Bar("copying", 0, total, "");
        if (m.nMessage == WM_MX_END_COPY_ONE_OF_MULTI_FILES) progress.Bar("copying", done, total, Shown(m.strText[1]));
    };
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory(folder);
    int id = manager.AsynAddMultiFilePaths(&list, sink.GetHwnd(), 0, 0, 0);
    if (id == -1) throw CLI::RuntimeError(Fail("the copy could not start"));
    sink.PumpUntilExit(id, INFINITE);
    progress.Done();
    if (!fatal.empty()) throw CLI::RuntimeError(Fail(fatal));
    std::cout << "copied " << copies.size() << " of " << total << " files to " << Shown(folder) << "\n";
    failures = total - copies.size();
    return copies;
}

// Analyses each path with the front end's own thread, with a progress bar; counts the failures.
int AnalyseAll(const std::vector<CString>& paths, Progress& progress, bool report) {
    int failed = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        progress.Bar("analysing", i, paths.size(), Shown(paths[i]));
        FileOperateResultCode code = CFileOperateManager::AnalyzingFile(paths[i], nullptr);
        if (code != FOR_SUCCESS) {
            ++failed;
            progress.Done();
            Fail(Shown(paths[i]) + ": " + (code == FOR_DB_WRITE_FAILED ? "not in the library" : FileOperateText(code)));
        } else if (report) {
            progress.Done();
            DBRECORD r;
            CDBOperater::Instance()->GetSongInfo(paths[i], &r);
            std::cout << Shown(paths[i]) << ": " << Utf8(r.Song) << " - " << Utf8(r.Artist) << " (" << Utf8(r.Duration) << " s)\n";
        }
    }
    progress.Bar("analysing", paths.size(), paths.size(), "");
    progress.Done();
    return failed;
}

void RunImport(const ImportArgs& a) {
    Library();
    size_t failures = 0;  // copies or analyses that failed; what did succeed is still imported
    CStringList list;
    for (const std::string& arg : a.paths) list.AddTail(SongPath(arg));
    if (a.copyFirst) {
        // Filing first: copies in the audio folder of the settings, then those copies are imported.
        CString folder = CSettingManager::Instance()->GetCurrentSetting()->AudioSetting.AudioPath;
        if (folder.IsEmpty()) throw CLI::RuntimeError(Fail("no audio folder is set (mxbox settings set AudioPath FOLDER)"));
        Progress copying;
        std::vector<CString> copies = RunCopy(list, folder, copying, failures);
        list.RemoveAll();
        for (const CString& copy : copies) list.AddTail(copy);
        if (copies.empty()) throw CLI::RuntimeError(failures ? 1 : Fail("no audio file to copy"));
    }

    CMessageSink sink;
    // The main window is where the module tells of files it renamed to match their content; it is
    // unset on every way out, also a failure.
    struct MainWindow {
        explicit MainWindow(HWND hWnd) {
            m_wnd.m_hWnd = hWnd;
            AfxGetThread()->m_pMainWnd = &m_wnd;
        }
        ~MainWindow() { AfxGetThread()->m_pMainWnd = nullptr; }
        CWnd m_wnd;
    } mainWnd(sink.GetHwnd());
    Progress progress;
    size_t already = 0, refused = 0, unreadable = 0, notStored = 0, analysing = 0;
    std::vector<CString> analysed, notAnalysed;
    std::vector<std::string> notes;
    std::string fatal;
    sink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        switch (m.nMessage) {
            case WM_MX_FILEOPERATE_ERROR:
                if (m.nCode == FOR_NO_VALID_PATH || m.nCode == FOR_NO_DEST_DIRECTORY) {
                    fatal = FileOperateText(m.nCode);
                    break;
                }
                if (m.nCode == FOR_NAME_NOT_IN_CODE_PAGE) ++g_nSkippedNames;
                if (m.nCode == FOR_DB_WRITE_FAILED) ++notStored;
                if (m.nCode == FOR_ALREADY_IMPORTED) ++already;
                else if (m.nCode == FOR_READ_FAILED || m.nCode == FOR_NOT_AUDIO || m.nCode == FOR_FILE_NOT_FOUND) ++unreadable;
                else if (m.nCode != FOR_SCRIPT_COMMANDS) ++refused;
                notes.push_back(Shown(m.strText[0]) + ": " + FileOperateText(m.nCode));
                break;
            case WM_MX_BEGIN_COPY_MULTI_FILES: analysing = size_t(m.lParam); break;
            case WM_MX_END_COPY_ANALYZED_MULTI_FILES: analysed.insert(analysed.end(), m.vecList.begin(), m.vecList.end()); break;
            case WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES:
                notAnalysed.insert(notAnalysed.end(), m.vecList.begin(), m.vecList.end());
                break;
            case WM_MX_EXTENSION_CORRECTED:
                notes.push_back(Shown(m.strText[0]) + ": renamed to " + Shown(m.strText[1]) + " to match its content");
                break;
            default: break;
        }
        std::string line = "importing";
        if (analysing) line += ", analysing " + std::to_string(analysing) + " files";
        if (already) line += ", " + std::to_string(already) + " already in the library";
        if (refused) line += ", " + std::to_string(refused) + " refused";
        if (unreadable) line += ", " + std::to_string(unreadable) + " unreadable";
        progress.Show(line);
    };

    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory(LibraryFolder());
    int quota = a.quick ? 0 : std::max(a.quota, 0);
    int id = manager.AsynAddMultiFilePaths(&list, sink.GetHwnd(), 1, 0, quota);
    if (id == -1) throw CLI::RuntimeError(Fail("the import could not start"));
    progress.Show("importing");
    sink.PumpUntilExit(id, INFINITE);
    progress.Done();
    if (!fatal.empty()) throw CLI::RuntimeError(Fail(fatal));

    for (const std::string& note : notes) std::cout << note << "\n";
    std::cout << "imported " << analysed.size() + notAnalysed.size() << " songs: " << analysed.size() << " analysed, "
              << notAnalysed.size() << " to analyse later";
    if (already) std::cout << "; " << already << " already in the library";
    if (refused) std::cout << "; " << refused << " refused";
    if (unreadable) std::cout << "; " << unreadable << " could not be read";
    std::cout << "\n";
    if (a.analyzeRest && !notAnalysed.empty()) {
        int failed = AnalyseAll(notAnalysed, progress, false);
        std::cout << "analysed the other " << notAnalysed.size() - size_t(failed) << " songs\n";
        if (failed) failures = 1;
    }
    FailOnSkippedNames();
    if (notStored) throw CLI::RuntimeError(Fail(std::to_string(notStored) + " songs could not be stored in the library (a full disk?)"));
    if (unreadable) throw CLI::RuntimeError(Fail(std::to_string(unreadable) + (unreadable == 1 ? " song" : " songs") + " could not be read"));
    if (failures) throw CLI::RuntimeError(1);  // each failure told above
}

struct AnalyzeArgs {
    std::vector<std::string> paths;
    bool pending = false;
};

// The songs an analysis works on: the given files, the library songs under the given folders, and with
// --pending every song not analysed yet; each once, in library order after the files.
std::vector<CString> SongsToAnalyse(const AnalyzeArgs& a) {
    CDBOperater* db = Library();
    std::vector<CString> files, folders;
    for (const std::string& arg : a.paths) {
        CString path = SongPath(arg);
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            path.TrimRight('\\');
            folders.push_back(path + "\\");
        } else {
            files.push_back(path);
        }
    }
    std::vector<CString> out = files;
    if (folders.empty() && !a.pending) return out;
    std::set<std::string> seen;
    for (const CString& f : files) seen.insert(Folded(f));
    std::vector<size_t> found(folders.size(), 0);
    DBRECORDLIST all;
    db->LocalSearch("", nullptr, all, -1, 1);
    for (POSITION pos = all.GetHeadPosition(); pos;) {
        const DBRECORD& r = all.GetNext(pos);
        bool chosen = a.pending && r.Analyzed != "1" && r.FileName.Find("://") < 0;
        for (size_t k = 0; k < folders.size(); ++k) {
            if (r.FileName.GetLength() > folders[k].GetLength() && Folded(r.FileName.Left(folders[k].GetLength())) == Folded(folders[k])) {
                chosen = true;
                ++found[k];
            }
        }
        if (chosen && seen.insert(Folded(r.FileName)).second) out.push_back(r.FileName);
    }
    for (size_t k = 0; k < folders.size(); ++k) {
        if (!found[k]) throw CLI::RuntimeError(Fail(Shown(folders[k]) + ": no library song in this folder"));
    }
    return out;
}

struct Stats {
    size_t songs = 0, analysed = 0, urls = 0;
    unsigned long long bytes = 0, seconds = 0;
    std::map<std::string, size_t> types;
};

void PrintStats(bool json) {
    CDBOperater* db = Library();
    DBRECORDLIST all;
    db->LocalSearch("", nullptr, all, -1, 1);
    Stats s;
    for (POSITION pos = all.GetHeadPosition(); pos;) {
        const DBRECORD& r = all.GetNext(pos);
        ++s.songs;
        if (r.Analyzed == "1") ++s.analysed;
        if (r.FileName.Find("://") > 0) ++s.urls;
        s.bytes += std::strtoull(r.FileLength, nullptr, 10);
        long long d = std::strtoll(r.Duration, nullptr, 10);
        if (d > 0) s.seconds += static_cast<unsigned long long>(d);
        std::string type = Utf8(r.Type);
        ++s.types[type == " " || type.empty() ? "?" : type];
    }
    CStringList playlists;
    db->GetAllPlaylists(&playlists);
    if (json) {
        std::cout << "{\"songs\": " << s.songs << ", \"analysed\": " << s.analysed << ", \"addresses\": " << s.urls
                  << ", \"bytes\": " << s.bytes << ", \"seconds\": " << s.seconds << ", \"playlists\": " << playlists.GetCount()
                  << ", \"types\": {";
        bool first = true;
        for (const auto& t : s.types) {
            std::cout << (first ? "" : ", ") << JsonString(t.first) << ": " << t.second;
            first = false;
        }
        std::cout << "}}\n";
        return;
    }
    std::cout << "songs:      " << s.songs << " (" << s.analysed << " analysed, " << s.songs - s.analysed << " not analysed)\n";
    if (s.urls) std::cout << "addresses:  " << s.urls << "\n";
    std::cout << "types:     ";
    for (const auto& t : s.types) std::cout << " " << t.first << " " << t.second;
    std::cout << "\nsize:       " << s.bytes << " bytes\n";
    std::cout << "play time:  " << s.seconds / 3600 << ":" << (s.seconds / 600) % 6 << (s.seconds / 60) % 10 << ":"
              << (s.seconds % 60) / 10 << s.seconds % 10 << " (of the analysed songs)\n";
    std::cout << "playlists:  " << playlists.GetCount() << "\n";
}

}  // namespace

void AddImportCommands(CLI::App& app) {
    auto a = std::make_shared<ImportArgs>();
    CLI::App* imp = app.add_subcommand("import", "Register songs in the library where they lie (folders are walked)");
    imp->add_option("paths", a->paths, "Files and folders")->required();
    CLI::Option* quota = imp->add_option("--quota", a->quota, "Analyse only the first N new songs during the import (default: all)");
    imp->add_flag("--quick", a->quick, "Read no tags: quick records only, to analyse later")->excludes(quota);
    imp->add_flag("--analyze-rest", a->analyzeRest, "Then analyse the songs the import left out");
    imp->add_flag("--copy-first", a->copyFirst, "Copy the songs into the audio folder of the settings and import the copies");
    imp->callback([a] { RunImport(*a); });

    auto c = std::make_shared<ImportArgs>();
    CLI::App* copy = app.add_subcommand("copy", "Copy the audio files among files and folders into a folder, under their own names");
    copy->add_option("paths", c->paths, "Files and folders")->required();
    copy->add_option("--to", c->to, "Destination folder")->required();
    copy->callback([c] {
        CStringList list;
        for (const std::string& arg : c->paths) list.AddTail(SongPath(arg));
        Progress progress;
        size_t failures = 0;
        RunCopy(list, SongPath(c->to), progress, failures);
        FailOnSkippedNames();
        if (failures) throw CLI::RuntimeError(1);  // each failure told above
    });

    auto an = std::make_shared<AnalyzeArgs>();
    CLI::App* ana = app.add_subcommand("analyze", "Read the tags of library songs into their records");
    ana->add_option("paths", an->paths, "Song files of the library, or folders: every library song under them");
    ana->add_flag("--pending", an->pending, "Every library song not analysed yet (e.g. after an interrupted import)");
    ana->callback([an] {
        if (an->paths.empty() && !an->pending) throw CLI::RuntimeError(Fail("give song files, folders or --pending"));
        std::vector<CString> paths = SongsToAnalyse(*an);
        if (paths.empty()) {
            std::cout << "nothing to analyse\n";
            return;
        }
        Progress progress;
        if (AnalyseAll(paths, progress, true)) throw CLI::RuntimeError(1);  // each failure told above
    });

    // "library stats" joins the library command made by AddLibraryCommands.
    CLI::App* lib = app.get_subcommand("library");
    auto json = std::make_shared<bool>(false);
    CLI::App* stats = lib->add_subcommand("stats", "Count the songs, types, size and play time of the library");
    stats->add_flag("--json", *json, "Machine-readable output");
    stats->callback([json] { PrintStats(*json); });
}

const char* FileOperateText(int code) {
    switch (code) {
        case FOR_SUCCESS: return "analysed";
        case FOR_NO_VALID_PATH: return "none of the given paths exists";
        case FOR_NO_FILES_FOUND: return "no audio file to copy";
        case FOR_DISK_FULL: return "not enough free space for the copies";
        case FOR_NO_DEST_NAME: return "no name for the copy";
        case FOR_CREATE_FOLDER_FAILED: return "the destination folder cannot be made";
        case FOR_COPY_FAILED: return "the copy failed";
        case FOR_NO_DEST_DIRECTORY: return "no library folder is set";
        case FOR_ALREADY_IMPORTED: return "already in the library";
        case FOR_DB_WRITE_FAILED: return "the library refused the record";
        case FOR_DRM_PROTECTED: return "DRM-protected, left out";
        case FOR_SCRIPT_COMMANDS: return "carries script commands (imported anyway)";
        case FOR_NAME_NOT_IN_CODE_PAGE: return "skipped: its name has characters the system code page or a Windows name cannot hold";
        case FOR_FILE_NOT_FOUND: return "the file is gone";
        case FOR_READ_FAILED: return "cannot be read (no read access, or in use)";
        case FOR_NOT_AUDIO: return "not a readable MP3 or WMA file";
        default: return "failed";
    }
}

}  // namespace mxbox
