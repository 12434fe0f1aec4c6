// Moving the audio folder (the library follows its songs) and the lyric folder: message sequences,
// what stays where it was, and the space test.
#include <gtest/gtest.h>

#include "MxModule/fileops/FileOperateMoveAudioPathThread.h"
#include "MxModule/fileops/FileOperateMoveLyricPathThread.h"
#include "fileops/FileOpsFixture.h"

namespace mxtest {
namespace {

class RelocateTest : public FileOpsTest {
protected:
    void Register(const char* path, const char* song, const char* artist) {
        DBRECORD r = Rec(path, song, artist, "", "1000");
        ASSERT_EQ(1, Db()->AddSongInfo(&r, 0));
    }
    Seq Move(bool bAudio, const CString& old) {
        int id = bAudio ? manager.AsynMoveAudioPath(old, sink.GetHwnd()) : manager.AsynMoveLyricPath(old, sink.GetHwnd());
        EXPECT_GT(id, 0);
        EXPECT_TRUE(sink.PumpUntilExit(id, kPatience)) << "the worker did not end";
        return Described(id);
    }
};

TEST_F(RelocateTest, SongsUnderTheOldFolderMoveAndTheirRecordsAndEmptiedFoldersFollow) {
    Song("Sub/Deep/a.mp3", Mp3("a"));
    Register("C:\\music\\Sub\\Deep\\a.mp3", "A", "Art");
    WriteHostFile(machine.HostC("music2/c.mp3"), Mp3("c"));
    Register("C:\\music2\\c.mp3", "C", "Art");  // the backslash is part of the prefix
    Register("C:\\music\\gone.mp3", "G", "Art");  // its file is missing: no content gives no extension
    Song("Other/b.mp3", Mp3("b"));
    Register("C:\\music\\Other\\b.mp3", "B", "Art");
    Register("C:\\lib\\Art-B.mp3", "B", "Art");  // a stale record holds b's new path
    EXPECT_EQ((Seq{"BEGIN_MOVE_MULTI_FILES 3",
                   "BEGIN_MOVE_ONE_OF_MULTI_FILES(Sub\\Deep\\a.mp3|lib\\Art-A.mp3)",
                   "END_MOVE_ONE_OF_MULTI_FILES(Sub\\Deep\\a.mp3|lib\\Art-A.mp3):33",
                   "BEGIN_MOVE_ONE_OF_MULTI_FILES(gone.mp3|lib\\Art-G.)",
                   "FILEOPERATE_ERROR(gone.mp3|lib\\Art-G.)#22", "END_MOVE_ONE_OF_MULTI_FILES(gone.mp3|lib\\Art-G.):66",
                   "BEGIN_MOVE_ONE_OF_MULTI_FILES(Other\\b.mp3|lib\\Art-B.mp3)",
                   "FILEOPERATE_ERROR(Other\\b.mp3|lib\\Art-B.mp3)#24", "END_MOVE_ONE_OF_MULTI_FILES(Other\\b.mp3|lib\\Art-B.mp3):100",
                   "END_MOVE_MULTI_FILES", "THREAD_EXIT"}),
              Move(true, "c:\\MUSIC"));
    EXPECT_EQ(Mp3("a"), ReadHostFile(machine.HostC("lib/Art-A.mp3")));
    EXPECT_STREQ("A", Record("C:\\lib\\Art-A.mp3").Song);
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\Sub\\Deep\\a.mp3"));
    EXPECT_FALSE(HostExists(machine.HostC("music/Sub")));  // emptied, with its emptied parent
    // A refused record keeps its song where it was, and the folder that holds it stays.
    EXPECT_EQ(Mp3("b"), ReadHostFile(machine.HostC("music/Other/b.mp3")));
    EXPECT_FALSE(HostExists(machine.HostC("lib/Art-B.mp3")));
    Record("C:\\music\\Other\\b.mp3");
    EXPECT_TRUE(HostExists(machine.HostC("music2/c.mp3")));
    Record("C:\\music2\\c.mp3");
}

TEST_F(RelocateTest, ALyricAlreadyInTheNewFolderIsNotOverwritten) {
    Song("lrc/a.lrc", "new a");
    Song("lrc/b.lrc", "b");
    Song("lrc/empty.lrc", "");
    Song("lrc/sub.lrc/c.lrc", "in a sub-folder");
    WriteHostFile(machine.HostC("lib/a.lrc"), "old a");
    EXPECT_EQ((Seq{"BEGIN_MOVE_MULTI_FILES 2", "BEGIN_MOVE_ONE_OF_MULTI_FILES(lrc\\a.lrc|lib\\a.lrc)",
                   "FILEOPERATE_ERROR(lrc\\a.lrc|lib\\a.lrc)#22", "END_MOVE_ONE_OF_MULTI_FILES(lrc\\a.lrc|lib\\a.lrc):50",
                   "BEGIN_MOVE_ONE_OF_MULTI_FILES(lrc\\b.lrc|lib\\b.lrc)", "END_MOVE_ONE_OF_MULTI_FILES(lrc\\b.lrc|lib\\b.lrc):100",
                   "END_MOVE_MULTI_FILES", "THREAD_EXIT"}),
              Move(false, "C:\\music\\lrc\\"));
    EXPECT_EQ("old a", ReadHostFile(machine.HostC("lib/a.lrc")));
    EXPECT_EQ("new a", ReadHostFile(machine.HostC("music/lrc/a.lrc")));
    EXPECT_EQ("b", ReadHostFile(machine.HostC("lib/b.lrc")));
}

// Only a move onto another drive asks for room; within one drive the files take none.
TEST_F(RelocateTest, OnlyAMoveOntoAnotherDriveIsRefusedForLackOfSpace) {
    struct {
        const char* dest;
        char full;
        Seq seq;
    } rows[] = {
        {"C:\\lib", 'C', {"BEGIN_MOVE_MULTI_FILES 1", "BEGIN_MOVE_ONE_OF_MULTI_FILES(lrc\\a.lrc|lib\\a.lrc)",
                          "END_MOVE_ONE_OF_MULTI_FILES(lrc\\a.lrc|lib\\a.lrc):100", "END_MOVE_MULTI_FILES", "THREAD_EXIT"}},
        {"d:\\lib", 'D', {"FILEOPERATE_ERROR(|d:\\lib)#14", "THREAD_EXIT"}},
    };
    for (const auto& row : rows) {
        Song("lrc/a.lrc", "lyric");
        manager.SetFileOperateDestDirectory(row.dest);
        MxSetFreeSpaceOverride(row.full, 1);
        EXPECT_EQ(row.seq, Move(false, "C:\\music\\lrc")) << row.dest;
        MxSetFreeSpaceOverride(row.full, ~0ull);
    }
    EXPECT_EQ("lyric", ReadHostFile(machine.HostC("music/lrc/a.lrc")));  // the refused move left it
}

TEST_F(RelocateTest, PreconditionsOfBothMoves) {
    WriteHostFile(machine.HostC("file"), "x");
    CreateDirectoryA("C:\\nothing", nullptr);
    struct {
        const char *dest, *old;
        int audio, lyric;
    } rows[] = {
        {"", "C:\\music", FOR_NO_DEST_DIRECTORY, FOR_NO_DEST_DIRECTORY},
        {"C:\\lib", "", FOR_NO_VALID_PATH, FOR_NO_VALID_PATH},
        {"C:\\lib", "C:\\missing", FOR_NOT_A_FOLDER, FOR_FOLDER_NOT_FOUND},
        {"C:\\lib", "C:\\file", FOR_NOT_A_FOLDER, FOR_NOT_A_FOLDER},
        {"C:\\lib", "C:\\nothing", FOR_NO_FILES_FOUND, FOR_NO_FILES_FOUND},
    };
    for (const auto& row : rows) {
        CFileOperateMoveAudioPathThread audio;
        CFileOperateMoveLyricPathThread lyric;
        audio.m_strDestDirectory = lyric.m_strDestDirectory = row.dest;
        audio.m_strOldPath = lyric.m_strOldPath = row.old;
        EXPECT_EQ(row.audio, audio.RunInCaller()) << row.old;
        EXPECT_EQ(row.lyric, lyric.RunInCaller()) << row.old;
    }
    EXPECT_EQ(-1, manager.AsynMoveAudioPath("", sink.GetHwnd()));
    EXPECT_EQ(-1, manager.AsynMoveLyricPath("", sink.GetHwnd()));
}

}  // namespace
}  // namespace mxtest
