// mxbox download: the module's download jobs, run as a front end runs them, with a progress bar;
// Ctrl-C pauses, and the same command continues where it stopped. With --import (and for a song the
// search found) the finished file is filed into the library.
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "MessageSink.h"
#include "MxModule/foundation/XmlReader.h"
#include "Progress.h"
#include "cli.h"
#include "mira/MiraLib.h"

namespace mxbox {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

std::string Bytes(long long n) {
    char text[32];
    if (n >= (1LL << 30)) snprintf(text, sizeof text, "%.2f GiB", double(n) / double(1LL << 30));
    else if (n >= (1LL << 20)) snprintf(text, sizeof text, "%.1f MiB", double(n) / double(1LL << 20));
    else snprintf(text, sizeof text, "%lld KiB", n >> 10);
    return text;
}

long long StatusInt(const unsigned char* status, size_t at) {
    long long value = 0;
    std::memcpy(&value, status + at, 8);
    return value;
}

// The file name a download-address link's answer gives, or "".
CString AnswerFileName(const CString& link) {
    CoInitialize(nullptr);
    CString name;
    {
        CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
        CXmlNodePtr root;
        if (doc && XmlReader::Load(doc.Get(), link)) root = XmlReader::Select(doc.Get(), "downloadList");
        if (root) XmlReader::Attribute(root.Get(), "filename", name);
    }
    CoUninitialize();
    return name;
}

// The file name an address suggests: the name a download-address server gives, else the address's last
// path part, else "download".
CString NameOf(const CString& url) {
    CString name;
    if (url.Find("/djurl.php") >= 0) name = AnswerFileName(url);
    if (name.IsEmpty()) {
        CString path = url.SpanExcluding("?#");
        int slash = path.ReverseFind('/');
        if (path.Find("://") + 3 <= slash) name = path.Mid(slash + 1);
    }
    return CFileOperateThreadBase::MakeLegalFileName(name.IsEmpty() || name == "djurl.php" ? CString("download") : name);
}

CString TempFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    CString folder = CString(temp) + "mxbox-download";
    CreateDirectoryA(folder, nullptr);
    return folder;
}

// Runs one job to its end, drawing its progress; Ctrl-C pauses it. 0 when the file is complete, 130
// when paused, else 1 after saying why.
int RunJob(const std::vector<CString>& urls, const CString& target) {
    CDownloadAVFile* engine = CDownloadAVFile::Instance();
    CMessageSink sink(CMessageSink::kDownloads);
    std::list<CString> list(urls.begin(), urls.end());
    void* task = nullptr;
    int id = engine->AddMultiDownload(&task, &list, target, sink.GetHwnd(), "mxbox");
    if (id < 0) return Fail("the download could not start (the download engine is not available)");

    struct sigaction action {}, previous{};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, &previous);
    g_interrupted = 0;
    Progress progress;
    DWORD start = GetTickCount();
    int shown = -1;  // the last tenth shown when stderr is not a terminal
    while (!sink.PumpUntilExit(id, 200)) {
        // Asked again each time: a pause before the transfer began (still resolving) must not be lost.
        if (g_interrupted) engine->PauseMultiDownload(id);
        unsigned char status[MIRA_STATUS_SIZE] = {};
        if (!MiraGetStatusInfo(task, status)) continue;
        long long total = StatusInt(status, 800), done = StatusInt(status, 808), found = StatusInt(status, 24);
        double seconds = (GetTickCount() - start) / 1000.0;
        double rate = seconds > 0.5 ? double(done - found) / seconds : 0;
        std::string line = "downloading " + Bytes(done);
        if (total > 0) {
            int percent = int(done * 100 / total);
            const int width = 30;
            line = "[" + std::string(size_t(percent * width / 100), '#') + std::string(size_t(width - percent * width / 100), ' ') +
                   "] " + std::to_string(percent) + "% of " + Bytes(total);
            if (rate > 0) line += ", " + Bytes((long long)rate) + "/s, " + std::to_string((long long)((total - done) / rate)) + " s left";
        }
        if (!progress.Tty() && (total <= 0 || int(done * 10 / total) == shown)) continue;
        if (total > 0) shown = int(done * 10 / total);
        progress.Show(line);
    }
    progress.Done();
    sigaction(SIGINT, &previous, nullptr);
    engine->DelMultiDownload(id);

    std::string why;
    for (const RECEIVEDMSG& m : sink.Messages()) {
        switch (m.nMessage) {
            case WM_MX_DOWNLOAD_COMPLETED: return 0;
            case WM_MX_DOWNLOAD_PAUSED:
                std::cerr << "mxbox: paused; the same command continues the download\n";
                return 130;
            case WM_MX_DOWNLOAD_RESOLVE_FAILED:
                why = m.nValue ? "the download-address server knows no address for " + Utf8(m.strText[0])
                               : "the download-address server could not be asked for " + Utf8(m.strText[0]);
                break;
            case WM_MX_DOWNLOAD_STATUS_TEXT:
                if (m.nValue) why = Utf8(m.strText[0]);
                break;
            default: break;
        }
    }
    if (why.empty()) {  // how the engine ended it, e.g. a target it cannot write
        unsigned char status[MIRA_STATUS_SIZE] = {};
        MiraGetStatusInfo(task, status);
        why = reinterpret_cast<const char*>(status + 512);
    }
    return Fail(why.empty() ? "the download failed" : why);
}

// Files a downloaded song into the library under the tag rule; the record of its address becomes the
// local file's. 0, or 1 after saying why.
int Import(const CString& path, AUDIOFILEINFO* preferred, const CString& address) {
    Library();
    CMessageSink sink;
    CFileOperateManager manager;
    CString folder = CSettingManager::Instance()->GetCurrentSetting()->AudioSetting.AudioPath;
    if (folder.IsEmpty()) return Fail("no audio folder is set (mxbox settings set AudioPath FOLDER)");
    manager.SetFileOperateDestDirectory(folder);
    int id = manager.AsynAddDownloadFile(path, preferred, sink.GetHwnd(), address, address);
    if (id < 0 || !sink.PumpUntilExit(id, INFINITE)) return Fail("the download could not be added to the library");
    int status = 0;
    for (const RECEIVEDMSG& m : sink.Messages(id)) {
        if (m.nMessage == WM_MX_END_COPY_SINGLE_FILE) std::cout << "added to the library: " << Shown(m.strText[1]) << "\n";
        if (m.nMessage != WM_MX_FILEOPERATE_ERROR) continue;
        Fail(Shown(m.strText[0]) + ": " + FileOperateText(m.nCode) +
             (m.nCode != FOR_SCRIPT_COMMANDS && !m.strText[1].IsEmpty() ? " (" + Shown(m.strText[1]) + ")" : ""));
        status = m.nCode == FOR_SCRIPT_COMMANDS ? status : 1;
    }
    return status;
}

struct DownloadArgs {
    std::vector<std::string> urls;
    std::string to;
    bool import = false;
};

int Download(const DownloadArgs& a) {
    registry_string<std::string> configured("SOFTWARE\\Tamborinebox\\Servers\\DownloadAddress", HKEY_CURRENT_USER);
    CString server = configured.exists() ? CString(static_cast<std::string>(configured)) : CString();
    std::vector<CString> urls;
    for (const std::string& u : a.urls) {
        // "/djurl.php?id=N" is asked of the configured download-address server.
        if (!u.empty() && u[0] == '/') {
            if (server.IsEmpty()) return Fail("no DownloadAddress server is set: mxbox settings servers use HOST[:PORT]");
            urls.push_back(server + Ansi(u, "URL"));
        } else {
            urls.push_back(Ansi(u, "URL"));
        }
    }
    bool temporary = a.to.empty() && a.import;
    CString target;
    if (!a.to.empty()) {
        target = SongPath(a.to);
    } else if (temporary) {
        // Filed by content: a name without a type is taken as MP3, and corrected when it is not.
        CString name = NameOf(urls.front());
        target = TempFolder() + "\\" + name + (name.Find('.') < 0 ? ".mp3" : "");
        DeleteFileA(target);  // a finished copy an earlier run could not file; a ".part" stays
    } else {
        target = SongPath(Utf8(NameOf(urls.front())));
    }
    if (GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES)
        return Fail(Shown(target) + " exists: choose another name with --to");
    int status = RunJob(urls, target);
    if (status || !a.import) {
        if (!status) std::cout << "downloaded: " << Shown(target) << "\n";
        return status;
    }
    status = Import(target, nullptr, urls.front());
    if (temporary) DeleteFileA(target);
    return status;
}

}  // namespace

int DownloadSearchResult(const AUDIORESULTUINT& r) {
    if (r.lstURL.empty() || !CMxPublic::IsWebLink(r.lstURL.front())) return Fail("that song is not an online result");
    CString name = CFileOperateThreadBase::MakeLegalFileName(r.strArtist + "-" + r.strSong);
    CString target = TempFolder() + "\\" + name + "." + (r.strType.IsEmpty() ? CString("mp3") : r.strType);
    DeleteFileA(target);  // a finished copy left by an earlier run that was not filed; a ".part" stays
    std::vector<CString> urls(r.lstURL.begin(), r.lstURL.end());
    int status = RunJob(urls, target);
    if (status) return status;
    AUDIOFILEINFO preferred;
    preferred.strTitle = r.strSong;
    preferred.strArtist = r.strArtist;
    preferred.strAlbum = r.strAlbum;
    status = Import(target, &preferred, urls.front());
    DeleteFileA(target);
    return status;
}

void AddDownloadCommands(CLI::App& app) {
    auto args = std::make_shared<DownloadArgs>();
    CLI::App* d = app.add_subcommand("download", "Download a file from one or more addresses (tried in turn)");
    d->add_option("url", args->urls, "Addresses of the same file; /djurl.php?id=N asks the download-address server")
        ->required();
    d->add_option("--to", args->to, "The file to write (default: the address's name, here)");
    d->add_flag("--import", args->import, "File the song into the library afterwards");
    d->callback([args] {
        int status = Download(*args);
        if (status) throw CLI::RuntimeError(status);
    });
}

}  // namespace mxbox
