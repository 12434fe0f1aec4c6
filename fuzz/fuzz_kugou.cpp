// Arbitrary bytes as the four record files and Option.ini of a KuGou 2007 user, and as the settings and
// playlist files of both Kuwo layouts: records are read whole or not at all, and nothing runs past a buffer.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

namespace {
std::string g_user, g_kuwo;

void Put(const std::string& host, const std::string& bytes) {
    std::ofstream(host, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

// A record file: usually the header is there and the input is the records.
void PutRecords(FuzzedDataProvider& in, const char* name, size_t header) {
    std::string bytes = in.ConsumeBool() ? std::string(header, '\0') : std::string();
    Put(g_user + name, bytes + in.ConsumeRandomLengthString(20000));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string c = MakeFuzzMachine();
    mkdir((c + "/u").c_str(), 0777);
    mkdir((c + "/u/DB4").c_str(), 0777);
    mkdir((c + "/kw").c_str(), 0777);
    mkdir((c + "/kw/playlist").c_str(), 0777);
    g_user = c + "/u/";
    g_kuwo = c + "/kw/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    PutRecords(in, "DB4/ShareDirectories.dat", 4352);
    PutRecords(in, "DB4/ShareFiles.dat", 22016);
    PutRecords(in, "DB4/PlayListItem.dat", 6656);
    PutRecords(in, "DB4/PlayList.dat", 3584);
    Put(g_user + "Option.ini", in.ConsumeRandomLengthString(2000));
    Put(g_kuwo + "config.ini", in.ConsumeRandomLengthString(2000));
    Put(g_kuwo + "conf.ini", in.ConsumeRandomLengthString(2000));
    Put(g_kuwo + "playlist/a.b.pl", in.ConsumeRandomLengthString(4000));
    Put(g_kuwo + "playlist/song1.xml", in.ConsumeRemainingBytesAsString());

    CMxPublic::m_mapPLName2Index.RemoveAll();
    CMxPublic::GetKuGou2007DownloadPath("C:\\u");
    CMap<int, int, CString, LPCSTR> dirs, files;
    CMxPublic::GetKuGou2007ShareDirc("C:\\u", &dirs);
    CMxPublic::GetKuGou2007ShareFile("C:\\u", &dirs, &files);
    CMxPublic::KUGOUITEMS items;
    CMxPublic::GetKuGou2007PlayListItem("C:\\u", &files, &items);
    if (items.size() > size / 352 + size_t(files.GetCount())) std::abort();  // one per whole record or unused file
    CList<PLAYLISTINFO, PLAYLISTINFO&> lists;
    CMxPublic::GetKuGou2007PlayListName("C:\\u", &items, &lists);

    CMxPublic::GetKWMusicDownloadPath_V2_0_0_1("C:\\kw");
    CMxPublic::GetKWMusicDownloadPath_VNormal("C:\\kw");
    for (bool first : {true, false}) {
        CList<CString, CString> playlists;
        if (first)
            CMxPublic::GetKWMusicPlayListFiles_V2_0_0_1("C:\\kw", &playlists);
        else
            CMxPublic::GetKWMusicPlayListFiles_VNormal("C:\\kw", &playlists);
        if (playlists.GetCount() != 1) std::abort();
        if (first)
            CMxPublic::GetKWMusicPlayList_V2_0_0_1(playlists.GetHead(), &lists);
        else
            CMxPublic::GetKWMusicPlayList_VNormal(playlists.GetHead(), &lists);
    }
    return 0;
}
