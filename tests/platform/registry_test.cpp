#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

class RegistryTest : public mxtest::MachineTest {
protected:
    static HKEY Create(const std::string& path, HKEY root = HKEY_CURRENT_USER) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        return key;
    }
    static LONG SetString(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    }
    static std::string GetString(HKEY root, const char* path, const char* name) {
        HKEY key = nullptr;
        LONG r = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
        char buf[256] = {};
        DWORD size = sizeof buf, type = 0;
        if (r == ERROR_SUCCESS) r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
        if (key) RegCloseKey(key);
        return r == ERROR_SUCCESS ? std::string(buf) : "(error " + std::to_string(r) + ")";
    }
    // The names of a key's values (or subkeys) in the order enumeration gives them.
    static std::vector<std::string> Names(HKEY key, bool values) {
        std::vector<std::string> names;
        char name[64];
        DWORD cch = sizeof name;
        for (DWORD i = 0; (values ? RegEnumValueA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)
                                  : RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS;
             ++i, cch = sizeof name) {
            EXPECT_EQ(std::strlen(name), cch);
            names.push_back(name);
        }
        EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key, 99, name, &cch, nullptr, nullptr, nullptr, nullptr));
        return names;
    }
};

// Names ignore letter case and keep their first spelling; each root is a tree of its own.
TEST_F(RegistryTest, NamesIgnoreLetterCaseEnumerateInNameOrderAndRootsAreSeparate) {
    HKEY key = Create("SOFTWARE\\Tamborinebox\\Setting");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "AudioPath", "C:\\Music"));
    EXPECT_EQ("C:\\Music", GetString(HKEY_CURRENT_USER, "software\\TAMBORINEBOX\\setting", "audiopath"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "AUDIOPATH", "D:\\x"));
    EXPECT_EQ((std::vector<std::string>{"AudioPath"}), Names(key, true));
    for (const char* sub : {"zeta", "Alpha", "mid"}) RegCloseKey(Create(std::string("SOFTWARE\\Tamborinebox\\Setting\\") + sub));
    EXPECT_EQ((std::vector<std::string>{"Alpha", "mid", "zeta"}), Names(key, false));
    RegCloseKey(key);
    key = Create("SOFTWARE\\Shared", HKEY_LOCAL_MACHINE);
    SetString(key, "v", "machine");
    RegCloseKey(key);
    EXPECT_EQ("(error 2)", GetString(HKEY_CURRENT_USER, "SOFTWARE\\Shared", "v"));
    EXPECT_EQ("machine", GetString(HKEY_LOCAL_MACHINE, "software\\shared", "V"));
}

TEST_F(RegistryTest, QueryFollowsWin32SizeRules) {
    HKEY key = Create("K");
    const BYTE raw[3] = {'a', 'b', 'c'};  // no terminating zero
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "raw", 0, REG_SZ, raw, 3));
    DWORD n = 1234, type = 0, size = 0, out = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "num", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "raw", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(3u, size);
    size = sizeof out;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "NUM", nullptr, &type, reinterpret_cast<LPBYTE>(&out), &size));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(1234u, out);
    // The default value has the empty name.
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, "default"));
    EXPECT_EQ("default", GetString(HKEY_CURRENT_USER, "K", ""));
    RegCloseKey(key);
}

// Each call in turn, on keys A and A\B and a value v of A\B, with the code it must return.
TEST_F(RegistryTest, DeletingAndFailedCallsGiveTheWin32Codes) {
    HKEY key = Create("A\\B");
    SetString(key, "v", "x");
    DWORD type = 0, size = 0;
    BYTE small[2];
    const std::vector<std::pair<std::function<LONG()>, LONG>> calls = {
        {[&] { return RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size); }, ERROR_FILE_NOT_FOUND},
        {[&] { return RegQueryValueExA(key, "v", nullptr, &type, small, nullptr); }, ERROR_INVALID_PARAMETER},
        {[] { return RegDeleteKeyA(HKEY_CURRENT_USER, "A"); }, ERROR_ACCESS_DENIED},  // it has a subkey
        {[&] { return RegDeleteValueA(key, "V"); }, ERROR_SUCCESS},
        {[&] { return RegDeleteValueA(key, "V"); }, ERROR_FILE_NOT_FOUND},
        {[] { return RegDeleteKeyA(HKEY_CURRENT_USER, "a\\b"); }, ERROR_SUCCESS},  // while a handle is open
        {[] { return RegDeleteKeyA(HKEY_CURRENT_USER, "A"); }, ERROR_SUCCESS},
        {[] { return RegDeleteKeyA(HKEY_CURRENT_USER, "A"); }, ERROR_FILE_NOT_FOUND},
    };
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].second, calls[i].first()) << "call " << i;
    RegCloseKey(key);
}

TEST_F(RegistryTest, ConcurrentWritersFromManyThreadsAllLand) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (DWORD i = 0; i < 25; ++i) {
                HKEY key = Create("Threads\\T" + std::to_string(t));
                RegSetValueExA(key, ("v" + std::to_string(i)).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
                RegCloseKey(key);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        HKEY key = Create("Threads\\T" + std::to_string(t));
        EXPECT_EQ(25u, Names(key, true).size());
        RegCloseKey(key);
    }
}

}  // namespace
