// Arbitrary bytes as the four record files and Option.ini of a KuGou 2007 user, and as the settings and
// playlist files of both Kuwo layouts: records are read whole or not at all, and nothing runs past a buffer.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <algorithm>
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

// A text field: a folder or a song that is there, or any bytes (possibly filling the field unterminated).
std::string Text(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: return "C:\\m\\";
    case 1: return "a.mp3";
    default: return in.ConsumeRandomLengthString(900);
    }
}

// A record file: raw bytes, or a header and records laid out as the reader expects them (two number
// bytes and a text at their places), possibly cut short.
size_t PutRecords(FuzzedDataProvider& in, const char* name, size_t header, size_t record, size_t numberAt, size_t secondAt,
                size_t textAt) {
    int mode = in.ConsumeIntegralInRange(0, 2);
    std::string bytes = mode ? std::string(header, '\0') : std::string();
    if (mode < 2) {
        bytes += in.ConsumeRandomLengthString(4000);
        Put(g_user + name, bytes);
        return bytes.size();
    }
    for (int n = in.ConsumeIntegralInRange(0, 200); n > 0; --n) {
        std::string r(record, '\0');
        r[numberAt] = char(in.ConsumeIntegral<uint8_t>());
        r[secondAt] = char(in.ConsumeIntegral<uint8_t>());
        std::string text = Text(in).substr(0, record - textAt);
        r.replace(textAt, text.size(), text);
        bytes += r;
    }
    bytes.resize(bytes.size() - std::min(bytes.size(), in.ConsumeIntegralInRange<size_t>(0, record)));
    Put(g_user + name, bytes);
    return bytes.size();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string c = MakeFuzzMachine();
    mkdir((c + "/u").c_str(), 0777);
    mkdir((c + "/u/DB4").c_str(), 0777);
    mkdir((c + "/kw").c_str(), 0777);
    mkdir((c + "/kw/playlist").c_str(), 0777);
    mkdir((c + "/m").c_str(), 0777);
    std::string frame(417, '\0');  // a song the records can name: MPEG-1 Layer III frames
    frame.replace(0, 4, "\xFF\xFB\x90\x00");
    Put(c + "/m/a.mp3", frame + frame + frame);
    g_user = c + "/u/";
    g_kuwo = c + "/kw/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    PutRecords(in, "DB4/ShareDirectories.dat", 4352, 312, 26, 27, 31);
    PutRecords(in, "DB4/ShareFiles.dat", 22016, 856, 31, 32, 36);
    size_t itemBytes = PutRecords(in, "DB4/PlayListItem.dat", 6656, 352, 31, 36, 46);
    PutRecords(in, "DB4/PlayList.dat", 3584, 96, 26, 27, 36);
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
    size_t records = itemBytes < 6656 ? 0 : (itemBytes - 6656) / 352;
    if (items.size() > records + size_t(files.GetCount())) std::abort();  // one per whole record or unused file
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
