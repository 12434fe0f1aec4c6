// mxbox: the command-line front end of MxModule.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "cli.h"

namespace mxbox {

CString Ansi(const std::string& utf8, const std::string& what) {
    if (utf8.empty()) return CString();
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) throw CLI::RuntimeError(Fail(what + " '" + utf8 + "' is not UTF-8 text"));
    std::u16string wide(size_t(n), u'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), &wide[0], n);
    // Under UTF-8 every character fits (and Windows refuses the flag there).
    BOOL lossy = FALSE;
    LPBOOL used = GetACP() == CP_UTF8 ? nullptr : &lossy;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr, used);
    CString out;
    if (size > 0) size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.GetBufferSetLength(size), size, nullptr, used);
    if (size <= 0 || lossy) {
        throw CLI::RuntimeError(Fail(what + " '" + utf8 + "' has characters the system code page (MX_ACP=" +
                                     std::to_string(GetACP()) + ") cannot hold"));
    }
    out.ReleaseBuffer(size);
    return out;
}

bool ToWindowsPath(const std::string& arg, CString& winPath) {
    if (arg.empty()) return false;
    bool windows = arg.size() >= 3 && ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z')) &&
                   arg[1] == ':' && (arg[2] == '\\' || arg[2] == '/');
    if (windows) {
        winPath = Ansi(arg, "path");
        winPath.Replace('/', '\\');
    } else {
        // A name the code page cannot hold would become another name (with '?'): refused here.
        Ansi(arg, "path");
        std::string host = arg;
        if (host == "~" || host.rfind("~/", 0) == 0) {
            const char* home = std::getenv("HOME");
            host = std::string(home ? home : "") + host.substr(1);
        }
        if (!MxHostPathToWindows(host, winPath)) return false;
    }
    // One spelling per file: "." and ".." resolved as Windows resolves them, so one file gets one record.
    char full[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(winPath, sizeof full, full, nullptr);
    if (n > 0 && n < sizeof full) winPath = full;
    return true;
}

CString SongPath(const std::string& arg) {
    CString path;
    if (arg.empty()) throw CLI::RuntimeError(Fail("an empty path names no file or folder"));
    if (!ToWindowsPath(arg, path)) throw CLI::RuntimeError(Fail(arg + ": no drive of the emulated machine holds this path"));
    return path;
}

std::string Shown(const CString& winPath) {
    std::string host;
    return MxWindowsPathToHost(winPath, host) ? host : Utf8(winPath);
}

double g_waitSeconds = 60;

namespace {

// The seconds as given: 0.3, not 0.
std::string WaitShown() {
    std::ostringstream out;
    out << g_waitSeconds;
    return out.str();
}

}  // namespace

CDBOperater* Library() {
    CDBOperater* db = CDBOperater::Instance();
    // Another process holding the library is waited for, up to --wait seconds.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(g_waitSeconds);
    std::minstd_rand jitter{static_cast<unsigned>(getpid())};
    bool told = false;
    // A start that sets an unreadable old library aside says so once.
    auto setAside = [db] {
        int n = 0;
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA(db->GetCurrentUserPath() + "LocalSearch.mdb.unimported*", &fd);
        for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &fd)) ++n;
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        return n;
    };
    int setAsideBefore = setAside();
    while (!db->InitLocalDataBase()) {
        if (GetLastError() != ERROR_SHARING_VIOLATION) throw CLI::RuntimeError(Fail("cannot open the music library"));
        if (std::chrono::steady_clock::now() >= deadline) {
            throw CLI::RuntimeError(Fail("the music library is still in use by another process; gave up after " +
                                         WaitShown() + " s (--wait SECONDS waits longer)"));
        }
        if (!told) {
            std::cerr << "mxbox: the music library is in use by another process; waiting for it (up to "
                      << WaitShown() << " s)\n";
            told = true;
        }
        // Two processes that keep meeting each other's open part at different moments.
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + jitter() % 100));
    }
    if (setAside() > setAsideBefore) {
        std::cerr << "mxbox: the old library LocalSearch.mdb could not be imported (the log says why); it is kept "
                     "beside the library as LocalSearch.mdb.unimported\n";
    }
    return db;
}

int Fail(const std::string& message) {
    std::cerr << "mxbox: " << message << "\n";
    return 1;
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

}  // namespace mxbox

namespace {

std::string OneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mxbox: the music box's library, tags, file operations, searches and settings from the command line"};
    app.require_subcommand(1);
    app.fallthrough();  // --wait may also follow the command
    app.add_option("--wait", mxbox::g_waitSeconds, "Seconds to wait for a library another process has open")
        ->check(CLI::Range(0.0, 86400.0));
    mxbox::AddRegCommand(app);
    mxbox::AddMd5Command(app);
    mxbox::AddLibraryCommands(app);
    mxbox::AddTagCommands(app);
    mxbox::AddImportCommands(app);
    mxbox::AddSettingsCommands(app);
    mxbox::AddSearchCommands(app);
    mxbox::AddDownloadCommands(app);
    mxbox::AddRelocateCommand(app);
    mxbox::AddPlayersCommands(app);
    mxbox::AddMachineCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help
    } catch (const CLI::RuntimeError& e) {
        return e.get_exit_code();  // the command has told what went wrong
    } catch (const CLI::ParseError& e) {
        return mxbox::Fail(OneLine(e.what()));  // a usage error: one line, like every other error
    } catch (const std::exception& e) {
        return mxbox::Fail(OneLine(e.what()));
    }
    return 0;
}
