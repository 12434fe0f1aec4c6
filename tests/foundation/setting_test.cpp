// The settings: defaults on an empty registry, the per-field load rules, what a save writes, the colour
// schemes, folder creation and the choice of the default drive.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/TempMachine.h"

namespace mxtest {
namespace {

class TestSettings : public CSettingManager {
public:
    static void Reset() {
        CCriticalSectionGuard guard(&m_csSMGuard);
        m_pInstance.reset();
    }
    // The protected parts of the one manager.
    static CString MaxDriver() { return (Instance()->*(&TestSettings::GetMaxDriver))(); }
    static const auto& Schemes() { return Instance()->*(&TestSettings::m_mapLyricColors); }
};

const std::string kKey = "SOFTWARE\\Tamborinebox\\Setting\\";

class SettingTest : public MachineTest {
protected:
    SettingTest() { TestSettings::Reset(); }
    ~SettingTest() override { TestSettings::Reset(); }
    CSettingManager* Settings() { return CSettingManager::Instance(); }
    static void SetDword(const std::string& path, unsigned long v) {
        registry_int<unsigned long> r(kKey + path, HKEY_CURRENT_USER);
        r = v;
    }
    static void SetText(const std::string& path, const CString& v) {
        registry_string<std::string> r(kKey + path, HKEY_CURRENT_USER);
        r = v.str();
    }
    // The type and bytes of a stored value; type 0 when missing.
    static std::pair<DWORD, std::string> Stored(const std::string& section, const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (kKey + section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {0, ""};
        DWORD type = 0, size = 0;
        std::string bytes;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            bytes.resize(size);
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&bytes[0]), &size);
        }
        RegCloseKey(key);
        return {type, bytes};
    }
    static std::string Dword(unsigned long v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
};

TEST_F(SettingTest, AnEmptyRegistryGivesTheDefaultsWithoutTheAppLink) {
    SETTINGINFO* d = Settings()->GetDefaultSetting();
    SETTINGINFO* c = Settings()->GetCurrentSetting();
    struct {
        const char* name;
        int def, cur, expected;
    } numbers[] = {
#define MX_DEFAULT(field, value) {#field, d->field, c->field, value}
        MX_DEFAULT(OpenLocalAudio2Import, 1), MX_DEFAULT(PlayNetAudio2Import, 0), MX_DEFAULT(SendPlayInfoToIM, 1),
        MX_DEFAULT(PopHintWhenChangeSong, 1), MX_DEFAULT(MinToSysTray, 1), MX_DEFAULT(SaveSongByArtist, 0),
        MX_DEFAULT(MaxDownloadCount, 1), MX_DEFAULT(AgentSetting.UseAgentMode, 0), MX_DEFAULT(AgentSetting.AgentNeedCheck, 0),
        MX_DEFAULT(NetSetting.AdvancedSetting, 0), MX_DEFAULT(NetSetting.MaxConnectCount, 8), MX_DEFAULT(AudioSetting.LyricSize, 30),
        MX_DEFAULT(AudioSetting.AudioManagerMode, 0), MX_DEFAULT(AudioSetting.ImportOperation, 1),
        MX_DEFAULT(AudioSetting.LyricTrans, 255), MX_DEFAULT(VideoSetting.CacheSpace, 200),
#undef MX_DEFAULT
    };
    for (const auto& n : numbers) {
        EXPECT_EQ(n.expected, n.def) << n.name;
        EXPECT_EQ(n.expected, n.cur) << n.name;
    }
    EXPECT_EQ(1, d->AddAppLink);
    EXPECT_EQ(0, c->AddAppLink);  // a missing value is 0, not the default
    EXPECT_EQ(nullptr, d->AudioSetting.pLyricColor);
    EXPECT_EQ(Settings()->GetLyricColorInfo(Gbk("清新蓝")), c->AudioSetting.pLyricColor);
    EXPECT_FALSE(HostExists(machine.HostC("Direduzizi")));  // a default is not created at load
    EXPECT_EQ(c->AudioSetting.AudioPath, Settings()->GetLastSetting()->AudioSetting.AudioPath);
    EXPECT_EQ(0, Settings()->GetLastSetting()->AddAppLink);
}

// The text defaults, seen under UTF-8 to show they follow the system code page.
TEST_F(SettingTest, TextDefaultsFollowTheSystemCodePage) {
    machine.SetCodePage("65001");
    SETTINGINFO* c = Settings()->GetCurrentSetting();
    EXPECT_STREQ("请选择代理服务器类型", c->AgentSetting.AgentType);
    EXPECT_STREQ("自动选择", c->NetSetting.NetServerYielder);
    EXPECT_STREQ("未知类型", c->NetSetting.NetCableType);
    EXPECT_STREQ("幼圆", c->AudioSetting.LyricFont);
    EXPECT_STREQ("清新蓝", c->AudioSetting.LyricColor);
    EXPECT_STREQ("单行", c->AudioSetting.LyricLineNumber);
    EXPECT_NE(nullptr, c->AudioSetting.pLyricColor);
    EXPECT_NE(nullptr, Settings()->GetLyricColorInfo("可爱粉"));
}

TEST_F(SettingTest, StoredNumbersLoadWithTheirRules) {
    auto count = [](SETTINGINFO* c) { return c->MaxDownloadCount; };
    auto trans = [](SETTINGINFO* c) { return c->AudioSetting.LyricTrans; };
    struct Row {
        const char* path;
        unsigned long stored;
        int loaded;
        bool writtenBack;  // a clamped value is saved again
        std::function<int(SETTINGINFO*)> field;
    };
    for (const Row& r : std::vector<Row>{{"Download\\MaxDownloadCount", 9, 5, true, count},
                                         {"Download\\MaxDownloadCount", 0, 0, false, count},
                                         {"Download\\MaxDownloadCount", 0xFFFFFFFE, -2, false, count},
                                         {"Download\\MaxDownloadCount", 5, 5, false, count},
                                         {"Audio\\LyricTrans", 10, 80, true, trans},
                                         {"Audio\\LyricTrans", 80, 80, false, trans},
                                         {"Audio\\LyricTrans", 300, 300, false, trans},
                                         {"Normal\\MinToSysTray", 7, 1, false, [](SETTINGINFO* c) { return c->MinToSysTray; }},
                                         {"Normal\\AddAppLink", 0, 0, false, [](SETTINGINFO* c) { return c->AddAppLink; }},
                                         // taken as stored, as a signed number
                                         {"Network\\MaxConnectCount", 0xFFFFFFFF, -1, false,
                                          [](SETTINGINFO* c) { return c->NetSetting.MaxConnectCount; }}}) {
        SetDword(r.path, r.stored);
        TestSettings::Reset();
        EXPECT_EQ(r.loaded, r.field(Settings()->GetCurrentSetting())) << r.path << " " << r.stored;
        std::string path = r.path, section = path.substr(0, path.find('\\') + 1);
        if (r.writtenBack) {
            EXPECT_EQ(Dword(r.loaded), Stored(section, path.substr(section.size()).c_str()).second) << r.path;
        }
    }
}

TEST_F(SettingTest, StoredTextsLoadWithTheirRules) {
    SetText("Audio\\LyricColor", "NoSuchScheme");
    SetText("Audio\\AudioPath", Gbk("C:\\我的歌\\新"));
    SetText("Agent\\Password", "secret");
    SETTINGINFO* c = Settings()->GetCurrentSetting();
    EXPECT_STREQ("NoSuchScheme", c->AudioSetting.LyricColor);
    EXPECT_EQ(Settings()->GetLyricColorInfo(Gbk("清新蓝")), c->AudioSetting.pLyricColor);
    EXPECT_EQ(nullptr, Settings()->GetLyricColorInfo("NoSuchScheme"));
    EXPECT_STREQ(Gbk("C:\\我的歌\\新"), c->AudioSetting.AudioPath);
    EXPECT_TRUE(HostExists(machine.HostC("我的歌/新")));  // a stored folder is created
    EXPECT_STREQ("secret", c->AgentSetting.Password);
}

TEST_F(SettingTest, SavingWritesEveryValueWithItsTypeAndASecondLoadSeesIt) {
    SETTINGINFO s = *Settings()->GetCurrentSetting();
    s.SaveSongByArtist = 1;
    s.AddAppLink = 1;
    s.MaxDownloadCount = 9;  // no clamping on save
    s.AgentSetting.AgentAddr = "10.0.0.1:8080";
    s.AudioSetting.LyricColor = Gbk("活力橙");
    s.AudioSetting.AudioPath = "C:\\Songs";
    Settings()->SaveCurrentSetting(&s);
    EXPECT_EQ(Settings()->GetLyricColorInfo(Gbk("活力橙")), Settings()->GetCurrentSetting()->AudioSetting.pLyricColor);
    EXPECT_EQ(0, Settings()->GetLastSetting()->SaveSongByArtist);  // not committed yet
    Settings()->UpdateSetting();
    EXPECT_EQ(1, Settings()->GetLastSetting()->SaveSongByArtist);
    EXPECT_TRUE(HostExists(machine.HostC("Songs")));

    const char* dwords[][2] = {{"Normal\\", "OpenLocalAudio2Import"}, {"Normal\\", "AddAppLink"}, {"Download\\", "MaxDownloadCount"},
                               {"Agent\\", "UseAgentMode"},           {"Agent\\", "AgentNeedCheck"}, {"Network\\", "AdvancedSetting"},
                               {"Network\\", "MaxConnectCount"},      {"Audio\\", "LyricTrans"},     {"Video\\", "CacheSpace"}};
    for (const auto& v : dwords) EXPECT_EQ(DWORD(REG_DWORD), Stored(v[0], v[1]).first) << v[1];
    EXPECT_EQ(Dword(9), Stored("Download\\", "MaxDownloadCount").second);
    EXPECT_EQ(Dword(1), Stored("Normal\\", "SaveSongByArtist").second);
    auto addr = Stored("Agent\\", "AgentAddr");
    EXPECT_EQ(DWORD(REG_SZ), addr.first);
    EXPECT_EQ(std::string("10.0.0.1:8080", 14), addr.second);  // the length counts the terminating zero
    EXPECT_EQ(DWORD(REG_SZ), Stored("Video\\", "CachePath").first);
    EXPECT_EQ(std::string(1, '\0'), Stored("Video\\", "CachePath").second);
    EXPECT_EQ(0u, Stored("Audio\\", "pLyricColor").first);  // the pointer is not a setting

    TestSettings::Reset();
    SETTINGINFO* again = Settings()->GetCurrentSetting();
    EXPECT_EQ(5, again->MaxDownloadCount);  // clamped at load
    EXPECT_EQ(1, again->AddAppLink);
    EXPECT_STREQ("10.0.0.1:8080", again->AgentSetting.AgentAddr);
    EXPECT_STREQ(Gbk("活力橙"), again->AudioSetting.LyricColor);
}

TEST_F(SettingTest, SevenColourSchemesInCodePageOrder) {
    const auto& map = TestSettings::Schemes();
    std::vector<std::string> names;
    for (const auto& entry : map) names.push_back(entry.first.str());
    std::vector<std::string> expected;
    for (const char* n : {"活力橙", "可爱粉", "青草绿", "青黄配", "清新蓝", "深沉棕", "鲜艳红"}) expected.push_back(Gbk(n).str());
    EXPECT_EQ(expected, names);  // GBK byte order: huo, ke, qing (C7E0 < C7E5), shen, xian
    LYRICCOLORSETTING* orange = Settings()->GetLyricColorInfo(Gbk("活力橙"));
    ASSERT_NE(nullptr, orange);
    EXPECT_EQ(4, orange->nFirstCount);
    EXPECT_EQ(3, orange->nSecondCount);
    EXPECT_EQ(0x5811CDu, orange->pFirstColors[2]);
    EXPECT_FLOAT_EQ(0.66f, orange->pFirstPositions[2]);
}

TEST_F(SettingTest, CreateMultiDirectoryMakesEveryParentAndReportsTheLastError) {
    unsigned long error = 0;
    EXPECT_TRUE(Settings()->CreateMultiDirectory("C:\\a\\b\\c\\", &error));
    EXPECT_TRUE(HostExists(machine.HostC("a/b/c")));
    EXPECT_TRUE(Settings()->CreateMultiDirectory("C:\\a\\b\\c\\", &error));
    EXPECT_EQ(183u, error);
    EXPECT_FALSE(Settings()->CreateMultiDirectory("no colon\\here", &error));
    EXPECT_TRUE(Settings()->CreateMultiDirectory("C:", nullptr));
    WriteHostFile(machine.HostC("file"), "x");
    EXPECT_FALSE(Settings()->CreateMultiDirectory("C:\\file\\sub", &error));
}

TEST_F(SettingTest, TheDefaultFoldersAreOnTheFixedDriveWithTheMostFreeSpace) {
    RunCommand("mkdir -p '" + machine.root() + "/e'");
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ",fixed,sata;D:=" + machine.HostD() + ",fixed,sata;E:=" + machine.root() +
                         "/e,removable,usb").c_str(), 1);
    MxPlatformReload();
    MxSetFreeSpaceOverride('C', 1000);
    MxSetFreeSpaceOverride('D', 1000);
    MxSetFreeSpaceOverride('E', 5000);  // removable: never chosen
    EXPECT_STREQ("C:\\", TestSettings::MaxDriver());  // a tie keeps the earlier letter
    EXPECT_STREQ("C:\\Direduzizi", Settings()->GetDefaultSetting()->AudioSetting.AudioPath);
    MxSetFreeSpaceOverride('D', 1001);
    TestSettings::Reset();
    EXPECT_STREQ("D:\\Direduzizi\\Lyric", Settings()->GetDefaultSetting()->AudioSetting.LyricPath);
    for (char d : {'C', 'D', 'E'}) MxSetFreeSpaceOverride(d, ~0ull);
}

// The typed registry values under the settings, on stored data of a shape the value did not write itself.
using RegistryValueTest = MachineTest;
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
}  // namespace mxtest
