// Arbitrary bytes as the library files and as a playlist file. The first byte chooses: 0 a main file
// without mirror (salvage), 1 main and mirror alike, 2 main and mirror of different halves, 3 a ".upl"
// file beside a small library. Every open must end in a usable or a refused library, never a crash.
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "MxModule/MxModule.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/DBPLFile.h"
#include "FuzzMachine.h"

namespace {
std::string g_host;  // the host folder of the library folder on drive C:

void Put(const char* name, const std::string& bytes) {
    std::ofstream(g_host + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
}

void Exercise(CDBCore& core) {
    DBRECORDLIST all;
    core.Search(nullptr, nullptr, all, -1, 1);
    for (POSITION pos = all.GetHeadPosition(); pos;) {
        DBRECORD r;
        core.GetRecord(all.GetNext(pos).FileName, &r);
    }
    DBRECORD r;
    r.FileName = "C:\\fuzz.mp3";
    core.AddRecord(&r);
    r.Extra1 = CString(std::string(300, 'x'));
    if (!all.IsEmpty()) core.UpdateRecord(all.GetHead().FileName, &r, 1u << 16);
    if (!all.IsEmpty()) core.DeleteRecord(all.GetTail().FileName);
    core.IsImportedBySongInfo("a", "b", 1);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_host = MakeFuzzMachine() + "/db";
    mkdir(g_host.c_str(), 0777);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int mode = data[0] % 4;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    DeleteFileA("C:\\db\\LocalSearch.smdb");
    DeleteFileA("C:\\db\\LocalSearch.bkk");
    DeleteFileA("C:\\db\\fuzz.upl");
    if (mode == 3) {
        CDBCore core("C:\\db\\");
        if (!core.OpenLibrary()) abort();  // a fresh library always opens
        for (const char* p : {"C:\\1.mp3", "C:\\2.mp3", "C:\\3.mp3"}) {
            DBRECORD r;
            r.FileName = p;
            core.AddRecord(&r);
        }
        Put("fuzz.upl", bytes);
        CDBPLFile playlist("C:\\db\\");
        if (!playlist.Load("fuzz", core)) return 0;
        CList<int, int> ids;
        playlist.GetSongIds(ids);
        playlist.AddSong(2);
        playlist.MoveSong(1, playlist.GetCount());
        playlist.RemoveAt(1, playlist.GetSongIdAt(1));
        playlist.RemoveSong(2);
        return 0;
    }
    if (mode == 0) {
        Put("LocalSearch.smdb", bytes);
    } else if (mode == 1) {
        Put("LocalSearch.smdb", bytes);
        Put("LocalSearch.bkk", bytes);
    } else {
        Put("LocalSearch.smdb", bytes.substr(0, bytes.size() / 2));
        Put("LocalSearch.bkk", bytes.substr(bytes.size() / 2));
    }
    CDBCore core("C:\\db\\");
    if (core.OpenLibrary()) Exercise(core);
    return 0;
}
