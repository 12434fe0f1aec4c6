// The user's settings: three copies of one record (factory defaults, last committed, current), loaded
// from the per-user registry when the manager is first used and saved section by section; and the table
// of lyric colour schemes.
#pragma once

#include <map>
#include <memory>

#include "MxModule/MxExport.h"
#include "platform/text.h"
#include "platform/threads.h"

// One lyric colour scheme: two gradients of colours (0x00BBGGRR) at positions from 0.0 to 1.0.
struct MX_EXPORT LYRICCOLORSETTING {
    COLORREF* pFirstColors = nullptr;
    float* pFirstPositions = nullptr;
    int nFirstCount = 0;
    COLORREF* pSecondColors = nullptr;
    float* pSecondPositions = nullptr;
    int nSecondCount = 0;
};

// Section "Agent\".
struct MX_EXPORT AGENTSETTING {
    AGENTSETTING();
    int UseAgentMode;
    CString AgentType;
    CString AgentAddr;
    int AgentNeedCheck;
    CString UserName;
    CString Password;  // kept in plain text
};

// Section "Network\".
struct MX_EXPORT NETSETTING {
    NETSETTING();
    CString NetServerYielder;
    CString NetCableType;
    int AdvancedSetting;
    int MaxConnectCount;
};

// Section "Audio\".
struct MX_EXPORT AUDIOSETTING {
    AUDIOSETTING();
    int AudioManagerMode;
    CString AudioPath;
    CString LyricPath;
    int ImportOperation;
    CString LyricFont;
    int LyricSize;
    CString LyricColor;
    LYRICCOLORSETTING* pLyricColor;  // the scheme named by LyricColor (borrowed from the manager)
    CString LyricLineNumber;
    int LyricTrans;
};

// Section "Video\".
struct MX_EXPORT VIDEOSETTING {
    VIDEOSETTING();
    CString CachePath;
    int CacheSpace;
};

// The whole settings record; the first eight fields are of sections "Normal\" and "Download\".
struct MX_EXPORT SETTINGINFO {
    SETTINGINFO();
    int OpenLocalAudio2Import;
    int PlayNetAudio2Import;
    int SendPlayInfoToIM;
    int PopHintWhenChangeSong;
    int MinToSysTray;
    int SaveSongByArtist;
    int AddAppLink;
    int MaxDownloadCount;
    AGENTSETTING AgentSetting;
    NETSETTING NetSetting;
    AUDIOSETTING AudioSetting;
    VIDEOSETTING VideoSetting;
};

class MX_EXPORT CSettingManager {
public:
    static CSettingManager* Instance();
    virtual ~CSettingManager();
    CSettingManager(const CSettingManager&) = delete;
    CSettingManager& operator=(const CSettingManager&) = delete;

    SETTINGINFO* GetDefaultSetting() { return &m_stDefault; }
    SETTINGINFO* GetLastSetting() { return &m_stLast; }
    SETTINGINFO* GetCurrentSetting() { return &m_stCurrent; }
    // Makes the given record current and writes all six sections; the last record is not touched.
    void SaveCurrentSetting(SETTINGINFO* pSetting);
    // Commits: the last record becomes a copy of the current one (nothing is written).
    void UpdateSetting();
    // The scheme of exactly that name, or null.
    LYRICCOLORSETTING* GetLyricColorInfo(CString strName);
    // Creates a folder and its missing parents; the last system error goes to *pError when given.
    int CreateMultiDirectory(CString strPath, unsigned long* pError = nullptr);

protected:
    CSettingManager();
    void LoadCurrentSetting();
    void LoadNormalCurrentSetting();
    void LoadDownloadCurrentSetting();
    void LoadAgentCurrentSetting();
    void LoadNetwordCurrentSetting();
    void LoadAudioCurrentSetting();
    void LoadVideoCurrentSetting();
    void SaveNormalCurrentSetting();
    void SaveDownloadCurrentSetting();
    void SaveAgentCurrentSetting();
    void SaveNetwordCurrentSetting();
    void SaveAudioCurrentSetting();
    void SaveVideoCurrentSetting();
    // The root ("X:\") of the fixed drive with the most free space, or "".
    CString GetMaxDriver();

    static CCriticalSection m_csSMGuard;
    static std::unique_ptr<CSettingManager> m_pInstance;

    SETTINGINFO m_stDefault;
    SETTINGINFO m_stLast;
    SETTINGINFO m_stCurrent;
    // Ordered by the code-page comparison of the names.
    struct NameLess {
        bool operator()(const CString& a, const CString& b) const;
    };
    std::map<CString, LYRICCOLORSETTING*, NameLess> m_mapLyricColors;

private:
    void LoadSection(int nSection);
    void SaveSection(int nSection);
    // pLyricColor of the current record from its LyricColor; with bFallBack an unknown name gives the
    // default scheme, otherwise the pointer is left alone.
    void SelectLyricColor(bool bFallBack);
};
