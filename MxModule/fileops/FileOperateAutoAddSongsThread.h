// The worker that fills the library without being told where to look: the playlists and music folders
// of the other players on the machine, the desktop, the user's music folder and the music-named folders
// of every local fixed drive. Every song is registered where it lies, its tags read.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

class MX_TESTABLE CFileOperateAutoAddSongsThread : public CFileOperateThreadBase {
public:
    int Run(int bOwnThread) override;

private:
    // Appends the folders below strFolder whose names sound like music, depth first, without entering them.
    void SearchMusicFolders(CWalkedFolders& searched, const CString& strFolder, CStringList& folders,
                            int bOwnThread);
    // Imports one song under the playlist's name; false when the stop flag ends the body.
    bool ImportSong(const CString& strPath, const CString& strPLName, int& nDone, int nCount);
};
