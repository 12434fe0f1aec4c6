// Arbitrary bytes as the playlist files other players leave: the first byte chooses a Winamp M3U, a
// Winamp3 PLS, a WPL, a Winamp media-library index (with an M3U beside it) or a library database
// searched for WPL paths. Reading must end cleanly and never write what it reads.
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

namespace {
std::string g_host;  // the host folder of drive C:

void Put(const std::string& rel, const std::string& bytes) {
    std::ofstream(g_host + "/" + rel, std::ios::binary | std::ios::trunc) << bytes;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_host = MakeFuzzMachine();
    for (const char* dir : {"/m", "/w", "/w/Plugins", "/w/Plugins/ml", "/w/Wacs", "/w/Wacs/data", "/w/Wacs/data/pledit"})
        mkdir((g_host + dir).c_str(), 0777);
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
    std::string song;
    for (int i = 0; i < 8; ++i) song += frame;
    Put("m/a.mp3", song);
    Put("w/Road.wpl", "<smil><body><seq><media src=\"m\\a.mp3\"/></seq></body></smil>");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    CMxPublic::m_mapPLName2Index.RemoveAll();
    CList<PLAYLISTINFO, PLAYLISTINFO&> lists;
    switch (data[0] % 5) {
    case 0:
        Put("w/winamp.m3u", bytes);
        CMxPublic::GetWinampDefaultPlayList_VNormal("C:\\w", &lists);
        break;
    case 1:
        Put("w/Wacs/data/pledit/fuzz.pls", bytes);
        CMxPublic::GetWinampPlayList_V3("C:\\w", &lists);
        break;
    case 2:
        Put("w/fuzz.wpl", bytes);
        CMxPublic::GetWMPPlayList("C:\\w\\fuzz.wpl", &lists);
        break;
    case 3:
        Put("w/Plugins/ml/playlists.xml", bytes);
        Put("w/Plugins/ml/plf.m3u", "C:\\m\\a.mp3\n");
        CMxPublic::GetWinampUserPlayList_VNormal("C:\\w", &lists);
        break;
    default: {
        Put("w/fuzz.wmdb", bytes);
        CList<CString, CString> databases, found;
        databases.AddTail(CString("C:\\w\\fuzz.wmdb"));
        CMxPublic::GetWMPUserPlayListFiles(&databases, &found);
        for (POSITION pos = found.GetHeadPosition(); pos;)
            if (found.GetNext(pos).GetLength() < 3) abort();  // every path found names a drive
        break;
    }
    }
    for (POSITION pos = lists.GetHeadPosition(); pos;)
        if (lists.GetNext(pos).lstFilePath.IsEmpty()) abort();  // an empty list is never handed out
    return 0;
}
