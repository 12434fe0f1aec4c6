#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

class RegistryTest : public mxtest::MachineTest {
protected:
    static HKEY Create(const char* path, HKEY root = HKEY_CURRENT_USER) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        return key;
    }
    static LONG SetString(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    }
    static std::string GetString(HKEY root, const char* path, const char* name, LONG* rc = nullptr) {
        HKEY key = nullptr;
        LONG r = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
        char buf[256] = {};
        DWORD size = sizeof buf, type = 0;
        if (r == ERROR_SUCCESS) r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
        if (key) RegCloseKey(key);
        if (rc) *rc = r;
        return r == ERROR_SUCCESS ? std::string(buf) : std::string();
    }
};

TEST_F(RegistryTest, KeyAndValueNamesIgnoreLetterCase) {
    HKEY key = Create("SOFTWARE\\Tamborinebox\\Setting");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "AudioPath", "C:\\Music"));
    RegCloseKey(key);
    EXPECT_EQ("C:\\Music", GetString(HKEY_CURRENT_USER, "software\\TAMBORINEBOX\\setting", "audiopath"));
    // The first spelling of a name is kept when it is written again in another case.
    HKEY setting = Create("SOFTWARE\\Tamborinebox\\Setting");
    ASSERT_EQ(ERROR_SUCCESS, SetString(setting, "AUDIOPATH", "D:\\x"));
    char name[64];
    DWORD cch = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(setting, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("AudioPath", name);
    RegCloseKey(setting);
}

TEST_F(RegistryTest, QueryFollowsWin32SizeRules) {
    HKEY key = Create("K");
    const BYTE raw[3] = {'a', 'b', 'c'};  // no terminating zero
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "raw", 0, REG_SZ, raw, 3));
    DWORD n = 1234;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "num", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4));
    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "raw", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(3u, size);
    BYTE small[2];
    DWORD out = 0;
    size = sizeof out;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "NUM", nullptr, &type, reinterpret_cast<LPBYTE>(&out), &size));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(1234u, out);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "num", nullptr, &type, small, nullptr));
    // The default value has the empty name.
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, "default"));
    EXPECT_EQ("default", GetString(HKEY_CURRENT_USER, "K", ""));
    RegCloseKey(key);
}

TEST_F(RegistryTest, RootsAreSeparateAndMissingKeysAreReported) {
    HKEY key = Create("SOFTWARE\\Shared", HKEY_LOCAL_MACHINE);
    SetString(key, "v", "machine");
    RegCloseKey(key);
    LONG rc = 0;
    EXPECT_EQ("", GetString(HKEY_CURRENT_USER, "SOFTWARE\\Shared", "v", &rc));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, rc);
    EXPECT_EQ("machine", GetString(HKEY_LOCAL_MACHINE, "software\\shared", "V"));
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
    HKEY parent = Create("A\\B");
    RegCloseKey(parent);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "A"));  // it has a subkey
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "a\\b", 0, KEY_ALL_ACCESS, &child));
    SetString(child, "v", "x");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(child, "V"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(child, "V"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "A\\B"));
    RegCloseKey(child);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "A"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "A"));
}

TEST_F(RegistryTest, EnumerationIsInNameOrder) {
    HKEY key = Create("E");
    for (const char* sub : {"zeta", "Alpha", "mid"}) RegCloseKey(Create((std::string("E\\") + sub).c_str()));
    std::vector<std::string> names;
    char name[32];
    DWORD cch = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
        EXPECT_EQ(std::strlen(name), cch);
        cch = sizeof name;
    }
    EXPECT_EQ((std::vector<std::string>{"Alpha", "mid", "zeta"}), names);
    cch = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key, 3, name, &cch, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

TEST_F(RegistryTest, ConcurrentWritersFromManyThreadsAllLand) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i) {
                HKEY key = nullptr;
                std::string path = "Threads\\T" + std::to_string(t);
                if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return;
                DWORD v = DWORD(i);
                RegSetValueExA(key, ("v" + std::to_string(i)).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
                RegCloseKey(key);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, ("Threads\\T" + std::to_string(t)).c_str(), 0, KEY_READ, &key));
        DWORD count = 0, cch = 0;
        char name[16];
        while (cch = sizeof name, RegEnumValueA(key, count, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) ++count;
        EXPECT_EQ(25u, count);
        RegCloseKey(key);
    }
}

}  // namespace
