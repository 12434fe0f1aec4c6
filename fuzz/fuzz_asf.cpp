// Arbitrary bytes as a WMA file: the ASF header reading, then a rebuild of the header and a second reading.
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

namespace {
std::string g_host;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_host = MakeFuzzMachine() + "/song.wma";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMxFile image(reinterpret_cast<const char*>(data), int(size));
    CWMAFileParse buffer;
    AUDIOFILEINFO info;
    DWORD headerSize = 0;
    buffer.ParseBuffer(&image, &headerSize, &info, -1);
    CMxFile file;
    if (!OpenFuzzFile(g_host, "C:\\song.wma", data, size, file)) return 0;
    CWMAFileParse parser;
    if (!parser.ParseFile(&file, &info, 0)) return 0;
    info.strTitle = "fuzz";
    info.vecPicture.assign(5, 1);
    if (!parser.WriteTags(&file, &info, 0x1FFF)) return 0;
    CWMAFileParse again;
    AUDIOFILEINFO back;
    again.ParseFile(&file, &back, 0);
    return 0;
}
