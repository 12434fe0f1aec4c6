// mxbox settings: the user's settings as the module loads and saves them.
#include <iostream>
#include <memory>
#include <string>

#include "cli.h"

namespace mxbox {
namespace {

// The settings a person can see and change, in the record's order.
struct SettingRow {
    const char* name;
    int* (*number)(SETTINGINFO&);
    CString* (*text)(SETTINGINFO&);
};

#define MX_N(path, name) {name, [](SETTINGINFO& s) { return &s.path; }, nullptr}
#define MX_T(path, name) {name, nullptr, [](SETTINGINFO& s) { return &s.path; }}
const SettingRow kRows[] = {
    MX_N(OpenLocalAudio2Import, "OpenLocalAudio2Import"),   MX_N(PlayNetAudio2Import, "PlayNetAudio2Import"),
    MX_N(SendPlayInfoToIM, "SendPlayInfoToIM"),             MX_N(PopHintWhenChangeSong, "PopHintWhenChangeSong"),
    MX_N(MinToSysTray, "MinToSysTray"),                     MX_N(SaveSongByArtist, "SaveSongByArtist"),
    MX_N(AddAppLink, "AddAppLink"),                         MX_N(MaxDownloadCount, "MaxDownloadCount"),
    MX_N(AgentSetting.UseAgentMode, "UseAgentMode"),        MX_T(AgentSetting.AgentType, "AgentType"),
    MX_T(AgentSetting.AgentAddr, "AgentAddr"),              MX_N(AgentSetting.AgentNeedCheck, "AgentNeedCheck"),
    MX_T(AgentSetting.UserName, "UserName"),                MX_T(AgentSetting.Password, "Password"),
    MX_T(NetSetting.NetServerYielder, "NetServerYielder"),  MX_T(NetSetting.NetCableType, "NetCableType"),
    MX_N(NetSetting.AdvancedSetting, "AdvancedSetting"),    MX_N(NetSetting.MaxConnectCount, "MaxConnectCount"),
    MX_N(AudioSetting.AudioManagerMode, "AudioManagerMode"), MX_T(AudioSetting.AudioPath, "AudioPath"),
    MX_T(AudioSetting.LyricPath, "LyricPath"),              MX_N(AudioSetting.ImportOperation, "ImportOperation"),
    MX_T(AudioSetting.LyricFont, "LyricFont"),              MX_N(AudioSetting.LyricSize, "LyricSize"),
    MX_T(AudioSetting.LyricColor, "LyricColor"),            MX_T(AudioSetting.LyricLineNumber, "LyricLineNumber"),
    MX_N(AudioSetting.LyricTrans, "LyricTrans"),            MX_T(VideoSetting.CachePath, "CachePath"),
    MX_N(VideoSetting.CacheSpace, "CacheSpace"),
};
#undef MX_N
#undef MX_T

const SettingRow& Row(const std::string& name) {
    for (const SettingRow& r : kRows)
        if (CString(r.name).CompareNoCase(name.c_str()) == 0) return r;
    throw CLI::RuntimeError(Fail(name + ": no such setting (mxbox settings show lists them)"));
}

void Show(bool json) {
    SETTINGINFO* s = CSettingManager::Instance()->GetCurrentSetting();
    if (json) std::cout << "{";
    bool first = true;
    for (const SettingRow& r : kRows) {
        std::string value = r.number ? std::to_string(*r.number(*s)) : Utf8(*r.text(*s));
        if (json) {
            std::cout << (first ? "" : ", ") << JsonString(r.name) << ": " << (r.number ? value : JsonString(value));
        } else {
            std::cout << r.name << std::string(22 - std::string(r.name).size(), ' ') << value << "\n";
        }
        first = false;
    }
    if (json) std::cout << "}\n";
}

void Set(const std::string& name, const std::string& value) {
    const SettingRow& r = Row(name);
    CSettingManager* manager = CSettingManager::Instance();
    SETTINGINFO s = *manager->GetCurrentSetting();
    if (r.number) {
        size_t used = 0;
        long long n = 0;
        try {
            n = std::stoll(value, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != value.size() || n < INT32_MIN || n > INT32_MAX)
            throw CLI::RuntimeError(Fail(std::string(r.name) + " takes a whole number, not '" + value + "'"));
        *r.number(s) = int(n);
    } else {
        *r.text(s) = Ansi(value, r.name);
    }
    manager->SaveCurrentSetting(&s);
    manager->UpdateSetting();
}

}  // namespace

void AddSettingsCommands(CLI::App& app) {
    CLI::App* settings = app.add_subcommand("settings", "The user's settings (registry, per user)");
    settings->require_subcommand(1);
    auto json = std::make_shared<bool>(false);
    CLI::App* show = settings->add_subcommand("show", "Every setting as the module loads it");
    show->add_flag("--json", *json, "Machine-readable output");
    show->callback([json] { Show(*json); });

    auto args = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* set = settings->add_subcommand("set", "Change one setting and save");
    set->add_option("name", args->first, "Setting name (any letter case)")->required();
    set->add_option("value", args->second, "New value")->required();
    set->callback([args] { Set(args->first, args->second); });

    CLI::App* reset = settings->add_subcommand("reset", "Save the factory defaults");
    reset->callback([] {
        CSettingManager* manager = CSettingManager::Instance();
        manager->SaveCurrentSetting(manager->GetDefaultSetting());
        manager->UpdateSetting();
    });
}

}  // namespace mxbox
