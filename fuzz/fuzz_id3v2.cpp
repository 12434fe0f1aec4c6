// Arbitrary bytes as an MP3 file: the ID3v2/ID3v1 reading, then a rebuild of the tag and a second reading
// of what was written.
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

namespace {
std::string g_host;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_host = MakeFuzzMachine() + "/song.mp3";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMxFile file;
    if (!OpenFuzzFile(g_host, "C:\\song.mp3", data, size, file)) return 0;
    {
        CMP3FileParse parser;
        AUDIOFILEINFO info;
        if (!parser.ParseFile(&file, &info, 0)) return 0;
        BYTE *tail = nullptr, *header = nullptr;
        DWORD tailLen = 0, headerLen = 0;
        parser.GetRawTags(&file, &tail, &tailLen, &header, &headerLen);
        delete[] tail;
        delete[] header;
        info.strTitle = "fuzz";
        info.vecPicture.assign(3, 7);
        if (!parser.WriteTags(&file, &info, 0x1FFF)) return 0;
    }
    CMP3FileParse again;
    AUDIOFILEINFO back;
    again.ParseFile(&file, &back, 0);
    if (back.strTitle != "fuzz") __builtin_trap();  // a rebuilt tag reads back as written
    DWORD headerSize = 0;
    CMxFile image(reinterpret_cast<const char*>(data), int(size));
    CMP3FileParse buffer;
    buffer.ParseBuffer(&image, &headerSize, &back, int(size) * 2);
    return 0;
}
