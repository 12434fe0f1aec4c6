// One audio file on drive C: driven through a format parser, for the parser tests.
#pragma once

#include <string>

#include "support/TempMachine.h"

namespace mxtest {

template <class Parser>
class TagFile {
public:
    TagFile(const TempMachine& machine, const std::string& name) : m_host(machine.HostC(name)), m_win(("C:\\" + name).c_str()) {}

    // Writes the bytes as the file and parses them (with `parser` when given, else a fresh one) through
    // a handle that may only read, as the facade opens it.
    AUDIOFILEINFO Parse(const std::string& bytes, int* result = nullptr, Parser* parser = nullptr) {
        WriteHostFile(m_host, bytes);
        CMxFile file;
        EXPECT_TRUE(file.Open(m_win, 0x8020));
        Parser local;
        AUDIOFILEINFO info;
        int r = (parser ? *parser : local).ParseFile(&file, &info, 0);
        if (result) *result = r;
        return info;
    }
    int Write(AUDIOFILEINFO info, DWORD mask) {
        CMxFile file;
        EXPECT_TRUE(file.Open(m_win, 0x8002));
        Parser parser;
        return parser.WriteTags(&file, &info, mask);
    }
    std::string Bytes() const { return ReadHostFile(m_host); }

private:
    std::string m_host;
    CString m_win;
};

}  // namespace mxtest
