// Arbitrary bytes as the iTunes library file, a property list: reading must end cleanly whatever the
// order of keys and values, and keep only songs that exist.
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

namespace {
std::string g_library;  // host path of the library file
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string host = MakeFuzzMachine();
    setenv("MX_FOLDER_MUSIC", "C:\\Music", 1);
    setenv("MX_FOLDER_APPDATA", "C:\\AppData", 1);
    setenv("MX_FOLDER_LOCALAPPDATA", "C:\\Local", 1);
    setenv("MX_FOLDER_DESKTOP", "C:\\Desktop", 1);
    MxPlatformReload();
    for (const char* dir : {"/Music", "/Music/iTunes", "/m"}) mkdir((host + dir).c_str(), 0777);
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
    std::string song;
    for (int i = 0; i < 8; ++i) song += frame;
    std::ofstream(host + "/m/a b.mp3", std::ios::binary) << song;
    g_library = host + "/Music/iTunes/iTunes Music Library.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(g_library, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    OTHERPLAYERINFO info;
    int nCount = -1;
    CMxPublic::GetITuneDownloadPathAndPlayList(&info, nCount);
    if (nCount != int(info.lstPlayList.GetCount())) abort();
    for (POSITION pos = info.lstPlayList.GetHeadPosition(); pos;)
        if (info.lstPlayList.GetNext(pos).lstFilePath.IsEmpty()) abort();
    return 0;
}
