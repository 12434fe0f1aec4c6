// Discovery of the other players on the machine: the readers in key order, the progress messages to the
// front end, and the names that keep the playlists of one discovery apart.
#include <mutex>

#include "MxModule/foundation/MxPublic.h"

CMap<CString, LPCSTR, int, int> CMxPublic::m_mapPLName2Index;

namespace {

// The cancel flag belongs to the front end, which may set it from another thread at any time.
bool Cancelled(const int* pCancel) {
    return pCancel && __atomic_load_n(pCancel, __ATOMIC_RELAXED) != 0;
}

void Post(HWND hWnd, UINT nMsg, WPARAM wParam) {
    if (hWnd) PostMessageA(hWnd, nMsg, wParam, 0);
}

// Discovery runs on the front end's thread and on the automatic-discovery worker: one at a time, and
// the readers it calls take names under the same lock.
std::recursive_mutex& DiscoveryLock() {
    static std::recursive_mutex lock;
    return lock;
}

CString UniqueName(const CString& strName, CMap<CString, LPCSTR, int, int>* pMap) {
    if (!pMap) return strName;
    int nAsked = 0;
    if (!pMap->Lookup(strName, nAsked)) {
        pMap->SetAt(strName, 0);
        return strName;
    }
    pMap->SetAt(strName, nAsked + 1);
    CString strUnique;
    strUnique.Format("%s_%d", static_cast<LPCSTR>(strName), nAsked + 1);
    return strUnique;
}

}  // namespace

void CMxPublic::FindOtherPlayerInfo(OTHERPLAYERMAP* pMap, HWND hWnd, int* pCancel) {
    std::lock_guard<std::recursive_mutex> guard(DiscoveryLock());
    if (!pMap) return;
    m_mapPLName2Index.RemoveAll();
    pMap->RemoveAll();
    if (Cancelled(pCancel)) return;
    struct Step {
        int nKey;
        void (*pfnFind)(OTHERPLAYERMAP*, HWND);
        int nPercent;
    };
    static const Step kSteps[] = {
        {OPK_TTPLAYER, &CMxPublic::FindTTPlayer, 16}, {OPK_KUGOU, &CMxPublic::FindKuGou, 33},
        {OPK_KUWO, &CMxPublic::FindKWMusic, 50},      {OPK_WMP, &CMxPublic::FindWMP, 66},
        {OPK_ITUNES, &CMxPublic::FindITune, 83},      {OPK_WINAMP, &CMxPublic::FindWinamp, 100}};
    bool bFirst = true;
    for (const Step& step : kSteps) {
        if (!bFirst && Cancelled(pCancel)) return;
        bFirst = false;
        Post(hWnd, WM_MX_FIND_PLAYER_BEGIN, WPARAM(step.nKey));
        step.pfnFind(pMap, hWnd);
        Post(hWnd, WM_MX_FIND_PLAYER_PROGRESS, WPARAM(step.nPercent));
    }
}

void CMxPublic::FindOtherPlayerInfo(CList<OTHERPLAYERINFO, OTHERPLAYERINFO&>* pList, HWND hWnd,
                                    int* pCancel) {
    if (!pList) return;
    OTHERPLAYERMAP map(10);
    map.InitHashTable(17);
    FindOtherPlayerInfo(&map, hWnd, pCancel);
    // The last player found comes first.
    for (int nKey = OPK_WINAMP; nKey >= OPK_TTPLAYER; --nKey) {
        OTHERPLAYERINFO info;
        if (map.Lookup(nKey, info)) pList->AddTail(info);
    }
}

CString CMxPublic::GetUniquePLName(CString strName) {
    std::lock_guard<std::recursive_mutex> guard(DiscoveryLock());
    return UniqueName(strName, &m_mapPLName2Index);
}

CString CMxPublic::GetITunePLName(CString strName, CMap<CString, LPCSTR, int, int>* pMap) {
    return UniqueName(strName, pMap);
}
