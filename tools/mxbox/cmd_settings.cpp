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

// The servers of the online searches and downloads: deployment settings, per user.
const char* const kServers[] = {"SongSearch", "Lyric", "Video", "DownloadAddress"};
const char kServersKey[] = "SOFTWARE\\Tamborinebox\\Servers\\";

void ShowServers(bool json) {
    if (json) std::cout << "{";
    for (size_t i = 0; i < 4; ++i) {
        // The module falls back to the machine's setting when the user has none.
        registry_string<std::string> user(std::string(kServersKey) + kServers[i], HKEY_CURRENT_USER),
            machine(std::string(kServersKey) + kServers[i], HKEY_LOCAL_MACHINE);
        std::string address = user.exists() ? std::string(user) : machine.exists() ? std::string(machine) : "";
        if (json) std::cout << (i ? ", " : "") << JsonString(kServers[i]) << ": " << JsonString(address);
        else std::cout << kServers[i] << std::string(17 - std::string(kServers[i]).size(), ' ')
                       << (address.empty() ? "(not set)" : address) << "\n";
    }
    if (json) std::cout << "}\n";
}

void SetServer(const std::string& name, std::string address) {
    const char* known = nullptr;
    for (const char* s : kServers)
        if (CString(s).CompareNoCase(name.c_str()) == 0) known = s;
    if (!known) throw CLI::RuntimeError(Fail(name + ": no such server (SongSearch, Lyric, Video, DownloadAddress)"));
    while (!address.empty() && address.back() == '/') address.pop_back();
    if (address.find("://") == std::string::npos) address = "http://" + address;
    size_t host = address.find("://") + 3;
    if (address.compare(0, 7, "http://") != 0 && address.compare(0, 8, "https://") != 0)
        throw CLI::RuntimeError(Fail(address + ": a server address is http:// or https://"));
    if (address.find('/', host) != std::string::npos || address.size() == host)
        throw CLI::RuntimeError(Fail(address + ": a server address is a scheme, a host and a port, nothing more"));
    if (std::string(known) == "Video" && address.find(':', host) != std::string::npos)
        throw CLI::RuntimeError(Fail(address + ": the video server takes no port (the module adds 8088)"));
    registry_string<std::string>(std::string(kServersKey) + known, HKEY_CURRENT_USER) = address;
}

void UseCatalog(std::string hostPort) {
    if (hostPort.find("://") != std::string::npos) hostPort = hostPort.substr(hostPort.find("://") + 3);
    while (!hostPort.empty() && hostPort.back() == '/') hostPort.pop_back();
    size_t colon = hostPort.rfind(':');
    bool hasPort = colon != std::string::npos && hostPort.find(']', colon) == std::string::npos;
    std::string host = hasPort ? hostPort.substr(0, colon) : hostPort;
    std::string port = hasPort ? hostPort.substr(colon + 1) : "8080";
    for (const char* s : {"SongSearch", "Lyric", "DownloadAddress"}) SetServer(s, "http://" + host + ":" + port);
    SetServer("Video", "http://" + host);
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

    auto serversJson = std::make_shared<bool>(false);
    CLI::App* servers = settings->add_subcommand("servers", "The servers of the online searches and downloads");
    servers->add_flag("--json", *serversJson, "Machine-readable output");
    servers->callback([servers, serversJson] {
        if (servers->get_subcommands().empty()) ShowServers(*serversJson);
    });
    auto server = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* serverSet = servers->add_subcommand("set", "Set one server's address, e.g. http://192.168.1.20:8080");
    serverSet->add_option("name", server->first, "SongSearch, Lyric, Video or DownloadAddress")->required();
    serverSet->add_option("address", server->second, "Scheme, host and port (Video: no port)")->required();
    serverSet->callback([server] { SetServer(server->first, server->second); });
    auto catalog = std::make_shared<std::string>();
    CLI::App* use = servers->add_subcommand("use", "Point every server at one mxcatalog");
    use->add_option("host", *catalog, "HOST[:PORT] (port 8080 when left out)")->required();
    use->callback([catalog] { UseCatalog(*catalog); });

    CLI::App* reset = settings->add_subcommand("reset", "Save the factory defaults");
    reset->callback([] {
        CSettingManager* manager = CSettingManager::Instance();
        manager->SaveCurrentSetting(manager->GetDefaultSetting());
        manager->UpdateSetting();
    });
}

}  // namespace mxbox
