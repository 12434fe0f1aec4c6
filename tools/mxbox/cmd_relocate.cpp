// mxbox relocate: moving the audio folder (its library songs, whose records follow) or the lyric folder
// to a new place; the setting follows once the move has ended.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "MessageSink.h"
#include "cli.h"

namespace mxbox {
namespace {

const char* CodeText(int code) {
    switch (code) {
        case FOR_NO_DEST_DIRECTORY: return "no new folder is given";
        case FOR_NO_VALID_PATH: return "no old folder is set";
        case FOR_NOT_A_FOLDER: return "the old folder is missing or not a folder";
        case FOR_FOLDER_NOT_FOUND: return "the old folder is missing";
        case FOR_NO_FILES_FOUND: return "nothing to move";
        case FOR_DISK_FULL: return "not enough free space on the new drive";
        case FOR_NO_DEST_NAME: return "no name in the new folder";
        case FOR_CREATE_FOLDER_FAILED: return "the new folder cannot be made";
        case FOR_MOVE_FAILED: return "not moved (a file of that name is there, or it is gone or in use)";
        case FOR_DB_WRITE_FAILED: return "the library refused the new path";
        default: return "failed";
    }
}

struct RelocateArgs {
    std::string audio;
    std::string lyrics;
};

// Moves one folder's contents with the module's worker; true when the move ran to its end. Files that
// stayed behind are counted in `failed`.
bool Move(bool bAudio, const CString& oldFolder, const CString& newFolder, size_t& failed) {
    CMessageSink sink;
    const bool tty = isatty(fileno(stderr)) != 0;
    unsigned long total = 0;
    bool ended = false;
    std::string fatal;
    sink.m_fnOnMessage = [&](const RECEIVEDMSG& m) {
        switch (m.nMessage) {
            case WM_MX_BEGIN_MOVE_MULTI_FILES: total = static_cast<unsigned long>(m.lParam); break;
            case WM_MX_FILEOPERATE_ERROR:
                if (m.strText[0].IsEmpty() || m.nCode == FOR_NO_FILES_FOUND) {
                    fatal = CodeText(m.nCode);
                } else {
                    ++failed;
                    if (tty) std::cerr << "\r\033[K";
                    Fail(Shown(m.strText[0]) + ": " + CodeText(m.nCode));
                }
                break;
            case WM_MX_END_MOVE_ONE_OF_MULTI_FILES:
                if (tty)
                    std::cerr << "\r\033[Kmoving " << m.nValue << "% of " << total << " files" << std::flush;
                else
                    std::cerr << "moving " << m.nValue << "%: " << Shown(m.strText[1]) << "\n";
                break;
            case WM_MX_END_MOVE_MULTI_FILES: ended = true; break;
            default: break;
        }
    };
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory(newFolder);
    int id = bAudio ? manager.AsynMoveAudioPath(oldFolder, sink.GetHwnd()) : manager.AsynMoveLyricPath(oldFolder, sink.GetHwnd());
    if (id == -1) throw CLI::RuntimeError(Fail("the move could not start"));
    sink.PumpUntilExit(id, INFINITE);
    if (tty && total) std::cerr << "\n";
    if (!fatal.empty() && fatal != CodeText(FOR_NO_FILES_FOUND)) throw CLI::RuntimeError(Fail(fatal));
    std::cout << (bAudio ? "audio" : "lyric") << " folder: moved " << (total > failed ? total - failed : 0) << " of " << total << " files to "
              << Shown(newFolder) << "\n";
    // An old folder with nothing to move still gives way to the new one.
    return ended || fatal == CodeText(FOR_NO_FILES_FOUND);
}

// Makes the folder and its missing parents.
bool MakeFolder(const CString& folder) {
    for (int at = folder.Find('\\', 3);; at = folder.Find('\\', at + 1)) {
        CString part = at < 0 ? folder : folder.Left(at);
        if (GetFileAttributesA(part) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryA(part, nullptr)) return false;
        if (at < 0) return true;
    }
}

void RunRelocate(const RelocateArgs& a) {
    if (a.audio.empty() == a.lyrics.empty()) throw CLI::RuntimeError(Fail("give one of --audio NEW and --lyrics NEW"));
    const bool audio = !a.audio.empty();
    if (audio) Library();
    CString newFolder = SongPath(audio ? a.audio : a.lyrics);
    if (newFolder.Right(1) == "\\") newFolder = newFolder.Left(newFolder.GetLength() - 1);
    CSettingManager* settings = CSettingManager::Instance();
    SETTINGINFO s = *settings->GetCurrentSetting();
    CString& setting = audio ? s.AudioSetting.AudioPath : s.AudioSetting.LyricPath;
    if (setting.IsEmpty()) throw CLI::RuntimeError(Fail(std::string("no ") + (audio ? "AudioPath" : "LyricPath") + " is set"));
    if (setting.CompareNoCase(newFolder) == 0) throw CLI::RuntimeError(Fail("that is the current folder already"));
    // The new folder must be one, or one that can be made, before anything moves.
    DWORD attributes = GetFileAttributesA(newFolder);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CLI::RuntimeError(Fail(Shown(newFolder) + ": a file, not a folder"));
    if (attributes == INVALID_FILE_ATTRIBUTES && !MakeFolder(newFolder))
        throw CLI::RuntimeError(Fail(Shown(newFolder) + ": the folder cannot be made"));
    size_t failed = 0;
    // An old folder that was never made holds nothing to move.
    if (GetFileAttributesA(setting) == INVALID_FILE_ATTRIBUTES)
        std::cout << Shown(setting) << " does not exist: nothing to move\n";
    else if (!Move(audio, setting, newFolder, failed))
        throw CLI::RuntimeError(1);
    // The setting follows once every file has: until then the same command moves the rest.
    if (failed)
        throw CLI::RuntimeError(Fail(std::to_string(failed) + " files stayed in " + Shown(setting) + ", which stays the " +
                                     (audio ? "AudioPath" : "LyricPath") + "; the same command moves the rest"));
    setting = newFolder;
    settings->SaveCurrentSetting(&s);
    settings->UpdateSetting();
}

}  // namespace

void AddRelocateCommand(CLI::App& app) {
    auto args = std::make_shared<RelocateArgs>();
    CLI::App* relocate = app.add_subcommand("relocate", "Move the audio folder (the library follows) or the lyric folder");
    relocate->add_option("--audio", args->audio, "The new audio folder");
    relocate->add_option("--lyrics", args->lyrics, "The new lyric folder");
    relocate->callback([args] { RunRelocate(*args); });
}

}  // namespace mxbox
