// What other players bring: their playlists and music folders, found by the discovery of CMxPublic and
// imported by CFileOperateAddOtherPlayerInfosThread.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/windows.h"

// One playlist of another player; its name carries the player's prefix and is unique within a discovery.
struct MX_EXPORT PLAYLISTINFO {
    CString strPLName;
    CList<CString, CString> lstFilePath{10};

    PLAYLISTINFO() = default;
    PLAYLISTINFO(const PLAYLISTINFO& other) { *this = other; }
    PLAYLISTINFO& operator=(const PLAYLISTINFO& other) {
        if (this == &other) return *this;
        strPLName = other.strPLName;
        lstFilePath.RemoveAll();
        lstFilePath.AddTail(const_cast<CList<CString, CString>*>(&other.lstFilePath));
        return *this;
    }
};

// What one player contributes: its playlists and the folders where it keeps music.
struct MX_EXPORT OTHERPLAYERINFO {
    CList<PLAYLISTINFO, PLAYLISTINFO&> lstPlayList{10};
    CList<CString, CString> lstMusicPath{10};

    OTHERPLAYERINFO() = default;
    OTHERPLAYERINFO(const OTHERPLAYERINFO& other) { *this = other; }
    OTHERPLAYERINFO& operator=(const OTHERPLAYERINFO& other) {
        if (this == &other) return *this;
        lstPlayList.RemoveAll();
        for (POSITION pos = other.lstPlayList.GetHeadPosition(); pos;) {
            PLAYLISTINFO copy = other.lstPlayList.GetNext(pos);
            lstPlayList.AddTail(copy);
        }
        lstMusicPath.RemoveAll();
        lstMusicPath.AddTail(const_cast<CList<CString, CString>*>(&other.lstMusicPath));
        return *this;
    }
};

typedef CMap<int, int, OTHERPLAYERINFO, OTHERPLAYERINFO&> OTHERPLAYERMAP;

// Player keys of the discovery map, in the order they are looked for.
enum OtherPlayerKey { OPK_TTPLAYER = 1, OPK_KUGOU = 2, OPK_KUWO = 3, OPK_WMP = 4, OPK_ITUNES = 5, OPK_WINAMP = 6 };

// Discovery's messages to its window (posted).
#define WM_MX_FIND_PLAYER_PROGRESS (WM_USER + 3401)  // wParam: percent done, 16 to 100
#define WM_MX_FIND_PLAYER_BEGIN (WM_USER + 3402)     // wParam: the player key now looked for
#define WM_MX_FIND_PLAYER_NO_LIST (WM_USER + 3404)   // lParam: new CString[2], player name and version; the receiver deletes it
