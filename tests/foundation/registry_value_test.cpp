// The typed registry values under the settings. What a save writes (types, the text's zero, four-byte
// numbers) and the paths they split into are checked by the setting tests; here, stored data of a shape
// the value did not write itself.
#include <string>

#include "support/TempMachine.h"

namespace {

class RegistryValueTest : public mxtest::MachineTest {};

TEST_F(RegistryValueTest, DataOfAnotherShapeReadsAsWindowsStoresIt) {
    registry_string<std::string> text("K\\abc", HKEY_CURRENT_USER);
    EXPECT_FALSE(text.exists());
    EXPECT_EQ("", static_cast<std::string>(text));
    text = "abc";
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &k));
    // Stored text without a zero is read whole; text with an inner zero is cut there.
    RegSetValueExA(k, "abc", 0, REG_SZ, reinterpret_cast<const BYTE*>("xyz"), 3);
    EXPECT_EQ("xyz", static_cast<std::string>(text));
    RegSetValueExA(k, "abc", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 5);
    EXPECT_EQ("ab", static_cast<std::string>(text));
    RegCloseKey(k);
    // A text in the place of a number does not fit four bytes: the reader gets 0.
    registry_int<unsigned long> number("K\\abc", HKEY_CURRENT_USER);
    EXPECT_TRUE(number.exists());
    EXPECT_EQ(0ul, static_cast<unsigned long>(number));
}

}  // namespace
