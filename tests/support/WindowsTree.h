// A user's old Windows installation as a folder, with the six players installed and used: the hives
// (made with the hive library), the programs with their version resources, the players' files and the
// songs they list. For the tests of `mxbox machine adopt` and for the demo.
#pragma once

#include <string>
#include <vector>

namespace mxtest {

struct HIVEVALUE {
    std::string key;   // below the hive's root, '\' separated, UTF-8
    std::string name;  // "" for the key's default value
    int type;          // REG_SZ 1, REG_EXPAND_SZ 2, REG_DWORD 4
    std::string data;  // UTF-8 text for the string types, the bytes otherwise
};

// Writes a hive file holding these keys and values.
bool WriteHive(const std::string& path, const std::vector<HIVEVALUE>& values);

// The installation under root (its C: drive, user "Lin") and a second drive under second (its D:).
// The players' lists also name a missing song on C: and a song on E:, which no folder stands for.
bool BuildWindowsTree(const std::string& root, const std::string& second);

}  // namespace mxtest
