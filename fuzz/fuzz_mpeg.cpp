// Arbitrary bytes as the start of an MP3 file: the frame scan and the play-time computation.
#include <cstdlib>

#include "MxModule/MxModule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMxFile file(reinterpret_cast<const char*>(data), int(size));
    for (int total : {-1, int(size) * 3}) {
        CMP3Info info;
        int ok = info.Calculate(&file, total);
        if (info.GetDuration() < 0 || (!ok && info.GetDuration() != 0)) std::abort();
    }
    CMP3Info::FindFirstFrame(data, int(size));
    return 0;
}
