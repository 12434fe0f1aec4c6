// A program outside the repository: it sees only the installed headers and libraries.
#include <MxModule/MxModule.h>

#include <cstdio>
#include <string>

int main() {
    CString encoded = CMxPublic::URLEncode("a b");
    if (encoded != "a%20b") return 1;
    registry_string<std::string> value("SOFTWARE\\Tamborinebox\\Setting\\Consumer", HKEY_CURRENT_USER);
    value = "installed";
    if (static_cast<std::string>(value) != "installed") return 2;
    CMxFile file;
    if (!file.Open("C:\\consumer.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 3;
    file.Write("abc", 3);
    file.Close();
    if (CMxPublic::GetFileMD5("C:\\consumer.txt") != "900150983CD24FB0D6963F7D28E17F72") return 4;
    if (GetFileAttributesA("C:\\consumer.txt") == INVALID_FILE_ATTRIBUTES) return 5;
    std::puts("consumer ok");
    return 0;
}
