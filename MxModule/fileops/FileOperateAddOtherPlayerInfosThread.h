// The worker that takes what the user chose from other players into the library: the songs of their
// playlists and of their music folders, each registered where it lies. It builds no playlist: every
// report carries the playlist's name, and the front end builds the playlists from them.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"
#include "MxModule/importers/OtherPlayerInfo.h"

class MX_TESTABLE CFileOperateAddOtherPlayerInfosThread : public CFileOperateThreadBase {
public:
    // Copies of the lists; a null list counts as empty.
    CFileOperateAddOtherPlayerInfosThread(const CList<PLAYLISTINFO, PLAYLISTINFO&>* pPlaylists,
                                          const CStringList* pFolders);
    int Run(int bOwnThread) override;

    CList<PLAYLISTINFO, PLAYLISTINFO&> m_lstPlayList{10};
    CStringList m_lstFolder;

private:
    // Imports one song under the playlist's name; false when the stop flag ends the body.
    bool ImportSong(const CString& strPath, const CString& strPLName, int& nDone, int nCount);
};
