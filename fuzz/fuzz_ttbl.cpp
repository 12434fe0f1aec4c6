// Arbitrary bytes as a TTPlayer .ttbl playlist: the name and both path scans must stay inside the file,
// and every path taken is on a drive.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"
#include "platform/files.h"

namespace {
std::string g_host;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string c = MakeFuzzMachine();
    g_host = c + "/list.ttbl";
    std::ofstream(c + "/a.mp3") << "x";  // a file UTF-16 paths can name
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(g_host, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    CMxPublic::m_mapPLName2Index.RemoveAll();
    CList<PLAYLISTINFO, PLAYLISTINFO&> lists;
    CMxPublic::ParseTTBLFile("C:\\list.ttbl", &lists);
    if (lists.GetCount() > 1) std::abort();
    for (POSITION pos = lists.GetHeadPosition(); pos;) {
        const PLAYLISTINFO& info = lists.GetNext(pos);
        if (info.lstFilePath.IsEmpty() || size_t(info.lstFilePath.GetCount()) > size) std::abort();
        for (POSITION p = info.lstFilePath.GetHeadPosition(); p;) {
            const CString& path = info.lstFilePath.GetNext(p);
            if (path.GetLength() < 2 || path[1] != ':') std::abort();
        }
    }
    return 0;
}
