#include <string>

#include "support/TempMachine.h"

namespace {

class RegistryValueTest : public mxtest::MachineTest {
protected:
    static bool Raw(const char* key, const char* name, DWORD& type, std::string& data) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
        char buf[256];
        DWORD size = sizeof buf;
        bool ok = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size) == ERROR_SUCCESS;
        RegCloseKey(k);
        if (ok) data.assign(buf, size);
        return ok;
    }
};

TEST_F(RegistryValueTest, PathSplitsAtTheLastBackslash) {
    registry_string<std::string> audio(std::string("SOFTWARE\\Tamborinebox\\Setting\\") + "Normal\\AudioPath",
                                       HKEY_CURRENT_USER);
    audio = "C:\\Music";
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Raw("SOFTWARE\\Tamborinebox\\Setting\\Normal", "AudioPath", type, data));
    EXPECT_EQ(std::string("C:\\Music\0", 9), data);
    // Without a backslash the text names both the key and the value.
    registry_string<std::string> flat("Flat", HKEY_CURRENT_USER);
    flat = "x";
    ASSERT_TRUE(Raw("Flat", "Flat", type, data));
}

TEST_F(RegistryValueTest, StringWritesTextWithItsZeroAndReadsToTheFirstZero) {
    registry_string<std::string> v("K\\abc", HKEY_CURRENT_USER);
    EXPECT_FALSE(v.exists());
    EXPECT_EQ("", static_cast<std::string>(v));
    v = "abc";
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Raw("K", "abc", type, data));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(4u, data.size());
    EXPECT_TRUE(v.exists());
    EXPECT_EQ("abc", static_cast<std::string>(v));
    // Stored data without a zero is read whole; data with an inner zero is cut there.
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &k));
    RegSetValueExA(k, "abc", 0, REG_SZ, reinterpret_cast<const BYTE*>("xyz"), 3);
    EXPECT_EQ("xyz", static_cast<std::string>(v));
    RegSetValueExA(k, "abc", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 5);
    EXPECT_EQ("ab", static_cast<std::string>(v));
    RegCloseKey(k);
}

TEST_F(RegistryValueTest, IntIsAFourByteDword) {
    registry_int<unsigned long> v("SOFTWARE\\Tamborinebox\\Setting\\Normal\\Volume", HKEY_CURRENT_USER);
    EXPECT_FALSE(v.exists());
    EXPECT_EQ(0ul, static_cast<unsigned long>(v));
    v = 0xFFFFFFFFul;
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Raw("SOFTWARE\\Tamborinebox\\Setting\\Normal", "Volume", type, data));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(std::string("\xFF\xFF\xFF\xFF", 4), data);
    EXPECT_EQ(0xFFFFFFFFul, static_cast<unsigned long>(v));
    // A text in the place of a number does not fit four bytes: the reader gets 0.
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Setting\\Normal\\Volume", HKEY_CURRENT_USER) = "loud";
    EXPECT_TRUE(v.exists());
    EXPECT_EQ(0ul, static_cast<unsigned long>(v));
}

TEST_F(RegistryValueTest, RemovingValuesAndKeys) {
    registry_int<unsigned long> v("A\\B\\n", HKEY_CURRENT_USER);
    v = 5;
    registry_int<unsigned long> copy(v);
    EXPECT_TRUE(copy.exists());
    copy.remove_value();
    EXPECT_FALSE(v.exists());
    v.remove_key();
    HKEY k = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "A\\B", 0, KEY_READ, &k));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &k));
    RegCloseKey(k);
    registry_string<std::string> missing("No\\Such\\value", HKEY_CURRENT_USER);
    missing.remove_key();  // nothing there: nothing happens
    EXPECT_FALSE(missing.exists());
}

}  // namespace
