// Vocabulary of the library tests: a user database folder on drive C:, records made from a few fields,
// and the bytes of the two library files.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/LibraryFormat.h"
#include "support/TempMachine.h"

namespace mxtest {

// Runs fn in a child that cannot write files past `limit` bytes (-1: no limit), as on a full disk; its
// exit status, or -1 when it was killed.
inline int WithFileSizeLimit(off_t limit, const std::function<int()>& fn) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{rlim_t(limit), rlim_t(limit)};
        setrlimit(RLIMIT_FSIZE, &rl);
        std::_Exit(fn());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline DBRECORD Rec(const char* path, const char* song = "", const char* artist = "", const char* album = "",
                    const char* length = "0") {
    DBRECORD r;
    r.FileName = path;
    r.Song = song;
    r.Artist = artist;
    r.Album = album;
    r.FileLength = length;
    return r;
}

class LibraryTest : public MachineTest {
protected:
    const CString kFolder = "C:\\db\\";

    LibraryTest() { CreateDirectoryA("C:\\db", nullptr); }

    std::unique_ptr<CDBCore> Open() {
        auto core = std::make_unique<CDBCore>(kFolder);
        EXPECT_EQ(1, core->OpenLibrary());
        return core;
    }
    std::string MainBytes() const { return ReadHostFile(machine.HostC("db/LocalSearch.smdb")); }
    std::string MirrorBytes() const { return ReadHostFile(machine.HostC("db/LocalSearch.bkk")); }
    void SetMainBytes(const std::string& b) const { WriteHostFile(machine.HostC("db/LocalSearch.smdb"), b); }
    void SetMirrorBytes(const std::string& b) const { WriteHostFile(machine.HostC("db/LocalSearch.bkk"), b); }

    static uint32_t U32(const std::string& bytes, size_t at) {
        return mxlib::GetU32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
    }
};


// The library facade on a fresh machine. The facade is one object per process; each test starts with
// a new one.
class TestOperater : public CDBOperater {
public:
    static void Reset() {
        CCriticalSectionGuard guard(&m_csDBGuard);
        m_pInstance.reset();
    }
};

class FacadeTest : public MachineTest {
protected:
    FacadeTest() { TestOperater::Reset(); }
    ~FacadeTest() override { TestOperater::Reset(); }

    CDBOperater* Db() { return CDBOperater::Instance(); }
    // Opens the library as the front end does at start-up.
    void Start() {
        TestOperater::Reset();
        ASSERT_EQ(1, Db()->InitLocalDataBase());
    }
    std::string Host(const std::string& name) const {
        return machine.HostC("users/tester/AppData/Roaming/Tamborinebox/user_musicDB/" + name);
    }
    void AddSong(const char* path) {
        DBRECORD r;
        r.FileName = path;
        ASSERT_EQ(1, Db()->AddSongInfo(&r, 0));
    }
    // Opens the library with these songs, each also put at the end of the playlist when one is named.
    void StartWith(std::initializer_list<const char*> paths, const char* playlist) {
        Start();
        for (const char* p : paths) {
            if (!Db()->CheckFileImportedByFileName(p)) AddSong(p);
            if (playlist) {
                ASSERT_EQ(1, Db()->AddSongInfo2Playlist(playlist, p));
            }
        }
    }
    std::vector<std::string> Playlists() {
        CList<CString, CString> names;
        Db()->GetAllPlaylists(&names);
        std::vector<std::string> out;
        for (POSITION pos = names.GetHeadPosition(); pos;) out.push_back(MxAnsiToUtf8(names.GetNext(pos)));
        return out;
    }
    std::vector<std::string> Songs(const char* playlist) {
        DBRECORDLIST results;
        results.AddTail(DBRECORD());
        if (!Db()->LocalSearch(playlist, nullptr, results, -1, 1)) return {"<no playlist>"};
        std::vector<std::string> out;
        for (POSITION pos = results.GetHeadPosition(); pos;) out.push_back(results.GetNext(pos).FileName.str());
        return out;
    }
};

}  // namespace mxtest
