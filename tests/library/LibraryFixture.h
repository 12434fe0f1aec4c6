// Vocabulary of the library tests: a user database folder on drive C:, records made from a few fields,
// and the bytes of the two library files.
#pragma once

#include <memory>
#include <string>

#include "MxModule/library/DBCore.h"
#include "MxModule/library/LibraryFormat.h"
#include "support/TempMachine.h"

namespace mxtest {

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

    static DBRECORD Rec(const char* path, const char* song = "", const char* artist = "", const char* album = "",
                        const char* length = "0") {
        DBRECORD r;
        r.FileName = path;
        r.Song = song;
        r.Artist = artist;
        r.Album = album;
        r.FileLength = length;
        return r;
    }
    static uint32_t U32(const std::string& bytes, size_t at) {
        return mxlib::GetU32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
    }
};

}  // namespace mxtest
