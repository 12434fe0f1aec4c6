#include "MxModule/foundation/SettingManager.h"

#include <string>

#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

// GBK literals.
const char kAgentTypeDefault[] = "\xC7\xEB\xD1\xA1\xD4\xF1\xB4\xFA\xC0\xED\xB7\xFE\xCE\xF1\xC6\xF7\xC0\xE0\xD0\xCD";  // 请选择代理服务器类型
const char kAutoSelect[] = "\xD7\xD4\xB6\xAF\xD1\xA1\xD4\xF1";                                            // 自动选择
const char kUnknownType[] = "\xCE\xB4\xD6\xAA\xC0\xE0\xD0\xCD";                                            // 未知类型
const char kYouYuan[] = "\xD3\xD7\xD4\xB2";                                                                // 幼圆
const char kFreshBlue[] = "\xC7\xE5\xD0\xC2\xC0\xB6";                                                      // 清新蓝
const char kSingleLine[] = "\xB5\xA5\xD0\xD0";                                                             // 单行

const char kSettingKey[] = "SOFTWARE\\Tamborinebox\\Setting\\";
const char* const kSections[] = {"Normal\\", "Download\\", "Agent\\", "Network\\", "Audio\\", "Video\\"};
enum Section { kNormal, kDownload, kAgent, kNetwork, kAudio, kVideo, kSectionCount };
enum Kind { kFlag, kInt, kText };

// One registry-backed field of SETTINGINFO, in the record's order.
struct Field {
    Section section;
    const char* name;
    Kind kind;
    int* (*number)(SETTINGINFO&);
    CString* (*text)(SETTINGINFO&);
};

#define MX_NUMBER(section, kind, member) {section, #member, kind, [](SETTINGINFO& s) { return &s.member; }, nullptr}
#define MX_NESTED(section, kind, record, member) \
    {section, #member, kind, [](SETTINGINFO& s) { return &s.record.member; }, nullptr}
#define MX_TEXT(section, record, member) \
    {section, #member, kText, nullptr, [](SETTINGINFO& s) { return &s.record.member; }}

const Field kFields[] = {
    MX_NUMBER(kNormal, kFlag, OpenLocalAudio2Import),
    MX_NUMBER(kNormal, kFlag, PlayNetAudio2Import),
    MX_NUMBER(kNormal, kFlag, SendPlayInfoToIM),
    MX_NUMBER(kNormal, kFlag, PopHintWhenChangeSong),
    MX_NUMBER(kNormal, kFlag, MinToSysTray),
    MX_NUMBER(kNormal, kFlag, SaveSongByArtist),
    MX_NUMBER(kNormal, kFlag, AddAppLink),
    MX_NUMBER(kDownload, kInt, MaxDownloadCount),
    MX_NESTED(kAgent, kInt, AgentSetting, UseAgentMode),
    MX_TEXT(kAgent, AgentSetting, AgentType),
    MX_TEXT(kAgent, AgentSetting, AgentAddr),
    MX_NESTED(kAgent, kFlag, AgentSetting, AgentNeedCheck),
    MX_TEXT(kAgent, AgentSetting, UserName),
    MX_TEXT(kAgent, AgentSetting, Password),
    MX_TEXT(kNetwork, NetSetting, NetServerYielder),
    MX_TEXT(kNetwork, NetSetting, NetCableType),
    MX_NESTED(kNetwork, kFlag, NetSetting, AdvancedSetting),
    MX_NESTED(kNetwork, kInt, NetSetting, MaxConnectCount),
    MX_NESTED(kAudio, kInt, AudioSetting, AudioManagerMode),
    MX_TEXT(kAudio, AudioSetting, AudioPath),
    MX_TEXT(kAudio, AudioSetting, LyricPath),
    MX_NESTED(kAudio, kInt, AudioSetting, ImportOperation),
    MX_TEXT(kAudio, AudioSetting, LyricFont),
    MX_NESTED(kAudio, kInt, AudioSetting, LyricSize),
    MX_TEXT(kAudio, AudioSetting, LyricColor),
    MX_TEXT(kAudio, AudioSetting, LyricLineNumber),
    MX_NESTED(kAudio, kInt, AudioSetting, LyricTrans),
    MX_TEXT(kVideo, VideoSetting, CachePath),
    MX_NESTED(kVideo, kInt, VideoSetting, CacheSpace),
};

#undef MX_NUMBER
#undef MX_NESTED
#undef MX_TEXT

std::string ValuePath(const Field& f) { return std::string(kSettingKey) + kSections[f.section] + f.name; }

bool Is(const Field& f, const char* name) { return std::string(f.name) == name; }

// The seven schemes, in the order they are made.
struct Stop {
    COLORREF color;
    float position;
};
struct Scheme {
    const char* name;
    std::initializer_list<Stop> first;
    std::initializer_list<Stop> second;
};

LYRICCOLORSETTING* MakeScheme(std::initializer_list<Stop> first, std::initializer_list<Stop> second) {
    auto* s = new LYRICCOLORSETTING;
    auto fill = [](std::initializer_list<Stop> stops, COLORREF*& colors, float*& positions, int& count) {
        count = int(stops.size());
        colors = new COLORREF[stops.size()];
        positions = new float[stops.size()];
        int i = 0;
        for (const Stop& stop : stops) {
            colors[i] = stop.color;
            positions[i++] = stop.position;
        }
    };
    fill(first, s->pFirstColors, s->pFirstPositions, s->nFirstCount);
    fill(second, s->pSecondColors, s->pSecondPositions, s->nSecondCount);
    return s;
}

void FreeScheme(LYRICCOLORSETTING* s) {
    delete[] s->pFirstColors;
    delete[] s->pFirstPositions;
    delete[] s->pSecondColors;
    delete[] s->pSecondPositions;
    delete s;
}

}  // namespace

AGENTSETTING::AGENTSETTING() : UseAgentMode(0), AgentType(CMxPublic::GbkLiteral(kAgentTypeDefault)), AgentNeedCheck(0) {}
NETSETTING::NETSETTING() : NetServerYielder(CMxPublic::GbkLiteral(kAutoSelect)), NetCableType(CMxPublic::GbkLiteral(kUnknownType)), AdvancedSetting(0), MaxConnectCount(8) {}
AUDIOSETTING::AUDIOSETTING()
    : AudioManagerMode(0),
      ImportOperation(1),
      LyricFont(CMxPublic::GbkLiteral(kYouYuan)),
      LyricSize(30),
      LyricColor(CMxPublic::GbkLiteral(kFreshBlue)),
      pLyricColor(nullptr),
      LyricLineNumber(CMxPublic::GbkLiteral(kSingleLine)),
      LyricTrans(255) {}
VIDEOSETTING::VIDEOSETTING() : CacheSpace(200) {}
SETTINGINFO::SETTINGINFO()
    : OpenLocalAudio2Import(1),
      PlayNetAudio2Import(0),
      SendPlayInfoToIM(1),
      PopHintWhenChangeSong(1),
      MinToSysTray(1),
      SaveSongByArtist(0),
      AddAppLink(1),
      MaxDownloadCount(1) {}

CCriticalSection CSettingManager::m_csSMGuard;
std::unique_ptr<CSettingManager> CSettingManager::m_pInstance;

bool CSettingManager::NameLess::operator()(const CString& a, const CString& b) const {
    return _mbscmp(reinterpret_cast<const unsigned char*>(static_cast<LPCSTR>(a)),
                   reinterpret_cast<const unsigned char*>(static_cast<LPCSTR>(b))) < 0;
}

CSettingManager* CSettingManager::Instance() {
    CCriticalSectionGuard guard(&m_csSMGuard);
    if (!m_pInstance) m_pInstance.reset(new CSettingManager);
    return m_pInstance.get();
}

CSettingManager::CSettingManager() {
    static const Scheme kSchemes[] = {
        {kFreshBlue,
         {{0xFFFFFF, 0.0f}, {0xE6E644, 0.2f}, {0xE5AC00, 0.43f}, {0xC97701, 0.45f}, {0xDCAF25, 0.7f}, {0xFFE792, 1.0f}},
         {{0xDAF4F9, 0.0f}, {0x65DAF7, 0.2f}, {0x2CAED4, 0.43f}, {0x56DDED, 0.45f}, {0x60EBFB, 0.7f}, {0x0BF7FE, 1.0f}}},
        {"\xC7\xE0\xB2\xDD\xC2\xCC",  // 青草绿
         {{0xF8F7C9, 0.0f}, {0xBDBD2B, 0.5f}, {0xF8F7C9, 1.0f}},
         {{0xFFFFFF, 0.0f}, {0x17F288, 0.5f}, {0xFFFFFF, 1.0f}}},
        {"\xC9\xEE\xB3\xC1\xD7\xD8",  // 深沉棕
         {{0xB2000A, 0.0f}, {0x0000FF, 0.5f}, {0x00FCFF, 1.0f}},
         {{0xFFFFFF, 0.0f}, {0xC5C5C5, 0.5f}, {0xFFFFFF, 1.0f}}},
        {"\xC7\xE0\xBB\xC6\xC5\xE4",  // 青黄配: position 0.5 twice makes a hard edge
         {{0xCC8929, 0.0f}, {0xFFFFFF, 0.5f}, {0x00B8FB, 0.5f}, {0xFFFFFF, 1.0f}},
         {{0x00B8FB, 0.0f}, {0xFFFFFF, 0.5f}, {0xCC8929, 0.5f}, {0xFFFFFF, 1.0f}}},
        {"\xCF\xCA\xD1\xDE\xBA\xEC",  // 鲜艳红
         {{0x9000FF, 0.0f}, {0xA5EB89, 1.0f}},
         {{0xFFFFFF, 0.0f}, {0x910DF9, 1.0f}}},
        {"\xBB\xEE\xC1\xA6\xB3\xC8",  // 活力橙: gradients of 4 and 3 stops
         {{0x00E6F9, 0.0f}, {0x007CFD, 0.33f}, {0x5811CD, 0.66f}, {0x00E6F9, 1.0f}},
         {{0xFFFFFF, 0.0f}, {0xC8D535, 0.5f}, {0xFFFFFF, 1.0f}}},
        {"\xBF\xC9\xB0\xAE\xB7\xDB",  // 可爱粉
         {{0xFFFFFF, 0.0f}, {0xC5C5C5, 0.5f}, {0xFFFFFF, 1.0f}},
         {{0xFFFFFF, 0.0f}, {0xC69FF7, 0.5f}, {0xFFFFFF, 1.0f}}},
    };
    for (const Scheme& s : kSchemes) m_mapLyricColors[CMxPublic::GbkLiteral(s.name)] = MakeScheme(s.first, s.second);
    CString root = GetMaxDriver();
    m_stDefault.AudioSetting.AudioPath = root + "Direduzizi";
    m_stDefault.AudioSetting.LyricPath = root + "Direduzizi\\Lyric";
    LoadCurrentSetting();
}

CSettingManager::~CSettingManager() {
    for (auto& entry : m_mapLyricColors) FreeScheme(entry.second);
}

void CSettingManager::LoadCurrentSetting() {
    LoadNormalCurrentSetting();
    LoadDownloadCurrentSetting();
    LoadAgentCurrentSetting();
    LoadNetwordCurrentSetting();
    LoadAudioCurrentSetting();
    LoadVideoCurrentSetting();
    m_stLast = m_stCurrent;
}

void CSettingManager::LoadNormalCurrentSetting() { LoadSection(kNormal); }
void CSettingManager::LoadDownloadCurrentSetting() { LoadSection(kDownload); }
void CSettingManager::LoadAgentCurrentSetting() { LoadSection(kAgent); }
void CSettingManager::LoadNetwordCurrentSetting() { LoadSection(kNetwork); }
void CSettingManager::LoadAudioCurrentSetting() { LoadSection(kAudio); }
void CSettingManager::LoadVideoCurrentSetting() { LoadSection(kVideo); }
void CSettingManager::SaveNormalCurrentSetting() { SaveSection(kNormal); }
void CSettingManager::SaveDownloadCurrentSetting() { SaveSection(kDownload); }
void CSettingManager::SaveAgentCurrentSetting() { SaveSection(kAgent); }
void CSettingManager::SaveNetwordCurrentSetting() { SaveSection(kNetwork); }
void CSettingManager::SaveAudioCurrentSetting() { SaveSection(kAudio); }
void CSettingManager::SaveVideoCurrentSetting() { SaveSection(kVideo); }

void CSettingManager::LoadSection(int nSection) {
    for (const Field& f : kFields) {
        if (f.section != nSection) continue;
        std::string path = ValuePath(f);
        if (f.kind == kText) {
            registry_string<std::string> value(path, HKEY_CURRENT_USER);
            CString& field = *f.text(m_stCurrent);
            if (!value.exists()) {
                field = *f.text(m_stDefault);
            } else {
                field = CString(static_cast<std::string>(value));
                if (Is(f, "AudioPath") || Is(f, "LyricPath")) CreateMultiDirectory(field);
            }
            if (Is(f, "LyricColor")) SelectLyricColor(true);
            continue;
        }
        registry_int<unsigned long> value(path, HKEY_CURRENT_USER);
        int& field = *f.number(m_stCurrent);
        if (!value.exists()) {
            field = Is(f, "AddAppLink") ? 0 : *f.number(m_stDefault);
            continue;
        }
        field = int(static_cast<unsigned long>(value));
        if (f.kind == kFlag) field = field != 0;
        if (Is(f, "MaxDownloadCount") && field > 5) {
            field = 5;
            value = 5;
        } else if (Is(f, "LyricTrans") && field < 80) {
            field = 80;
            value = 80;
        }
    }
}

void CSettingManager::SaveSection(int nSection) {
    for (const Field& f : kFields) {
        if (f.section != nSection) continue;
        std::string path = ValuePath(f);
        if (f.kind != kText) {
            registry_int<unsigned long> value(path, HKEY_CURRENT_USER);
            value = static_cast<unsigned long>(static_cast<DWORD>(*f.number(m_stCurrent)));
            continue;
        }
        registry_string<std::string> value(path, HKEY_CURRENT_USER);
        const CString& field = *f.text(m_stCurrent);
        value = field.str();
        if (Is(f, "AudioPath") || Is(f, "LyricPath")) CreateMultiDirectory(field);
        if (Is(f, "LyricColor")) SelectLyricColor(false);
    }
}

void CSettingManager::SelectLyricColor(bool bFallBack) {
    AUDIOSETTING& audio = m_stCurrent.AudioSetting;
    LYRICCOLORSETTING* scheme = GetLyricColorInfo(audio.LyricColor);
    if (!scheme && bFallBack) scheme = GetLyricColorInfo(CMxPublic::GbkLiteral(kFreshBlue));
    if (scheme) audio.pLyricColor = scheme;
}

void CSettingManager::SaveCurrentSetting(SETTINGINFO* pSetting) {
    if (!pSetting) return;
    m_stCurrent = *pSetting;
    SaveNormalCurrentSetting();
    SaveDownloadCurrentSetting();
    SaveAgentCurrentSetting();
    SaveNetwordCurrentSetting();
    SaveAudioCurrentSetting();
    SaveVideoCurrentSetting();
}

void CSettingManager::UpdateSetting() { m_stLast = m_stCurrent; }

LYRICCOLORSETTING* CSettingManager::GetLyricColorInfo(CString strName) {
    auto it = m_mapLyricColors.find(strName);
    return it == m_mapLyricColors.end() ? nullptr : it->second;
}

int CSettingManager::CreateMultiDirectory(CString strPath, unsigned long* pError) {
    if (strPath.Right(1) == "\\") strPath = strPath.Left(strPath.GetLength() - 1);
    int colon = strPath.Find(':');
    if (colon < 0) return FALSE;
    if (strPath.GetLength() == 2 && colon == 1) return TRUE;
    int slash = strPath.Find('\\', colon + 2);
    while (true) {
        CString prefix = slash < 0 ? strPath : strPath.Left(slash);
        if (!CreateDirectoryA(prefix, nullptr)) {
            DWORD error = GetLastError();
            if (pError) *pError = error;
            if (error != ERROR_ALREADY_EXISTS) return FALSE;
        }
        if (slash < 0) return TRUE;
        slash = strPath.Find('\\', slash + 1);
    }
}

CString CSettingManager::GetMaxDriver() {
    CString best;
    ULONGLONG bestFree = 0;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char drive[3] = {letter, ':', '\0'};
        if (GetDriveTypeA(drive) != DRIVE_FIXED) continue;
        CString root;
        root.Format("%c:\\", letter);
        ULARGE_INTEGER available{};
        ULONGLONG freeBytes = GetDiskFreeSpaceExA(root, &available, nullptr, nullptr) ? available.QuadPart : 0;
        if (best.IsEmpty() || freeBytes > bestFree) {
            best = root;
            bestFree = freeBytes;
        }
    }
    return best;
}
