// Vocabulary of the file-operation tests: an opened library, a manager, the front end's message window,
// songs written under C:\music, and messages described as short texts so that a whole sequence reads
// as one table row.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "MessageSink.h"
#include "library/LibraryFixture.h"
#include "support/AsfBuilders.h"
#include "support/AudioBuilders.h"

namespace mxtest {

using Seq = std::vector<std::string>;  // a message sequence, described

// Reaches the manager's lock and map, as a test must to hold workers at a report.
class TestManager : public CFileOperateManager {
public:
    // A class derived from the manager stops the workers before its own part is torn down: they call
    // the manager's reports until they end.
    ~TestManager() override { StopFileOperateThread(0, 1); }
    using CFileOperateManager::m_csLock;
    int Running() {
        CCriticalSectionGuard guard(&m_csLock);
        return m_mapThreads.GetCount();
    }
    int Suspended(int nID) {
        CCriticalSectionGuard guard(&m_csLock);
        FILEOPERATETHREADINFO info;
        return m_mapThreads.Lookup(nID, info) ? info.pThread->m_bSuspended.load() : -1;
    }
    // A handle of the operation's own that outlives the thread (null when the operation is gone).
    HANDLE ThreadHandle(int nID) {
        CCriticalSectionGuard guard(&m_csLock);
        FILEOPERATETHREADINFO info;
        HANDLE copy = nullptr;
        if (m_mapThreads.Lookup(nID, info))
            DuplicateHandle(GetCurrentProcess(), info.pThread->m_hThread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        return copy;
    }
};

class FileOpsTest : public FacadeTest {
protected:
    static constexpr DWORD kPatience = 20000;  // ms a worker may take before the test fails

    FileOpsTest() {
        Start();
        CreateDirectoryA("C:\\music", nullptr);
        manager.SetFileOperateDestDirectory("C:\\lib\\");
    }

    // An MP3 file: an ID3v2.3 tag with title and artist, then ten 128 kbit/s frames.
    static std::string Mp3(const std::string& title, const std::string& artist = "Artist") {
        return Tag(3, Frame3("TIT2", std::string(1, '\0') + title) + Frame3("TPE1", std::string(1, '\0') + artist)) +
               Frames(Mpeg1Layer3Header128(), 417, 10);
    }
    static std::string Wma(const std::vector<std::string>& objects) {
        return AsfHeader(objects) + std::string("DATAOBJECT") + std::string(200, 'd');
    }
    // Writes C:\music\<rel> (rel with forward slashes) and returns its Windows path.
    CString Song(const std::string& rel, const std::string& bytes) {
        WriteHostFile(machine.HostC("music/" + rel), bytes);
        std::string windows = "C:\\music\\" + rel;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        return CString(windows.c_str());
    }
    // Starts an import, or a copy into the destination when bImport is 0.
    int StartImport(const std::vector<CString>& paths, int nQuota, int bImport = 1) {
        CStringList list;
        for (const CString& p : paths) list.AddTail(p);
        return manager.AsynAddMultiFilePaths(&list, sink.GetHwnd(), bImport, 0, nQuota);
    }
    // Runs an import (or a copy) to its end and returns its messages, described.
    std::vector<std::string> Import(const std::vector<CString>& paths, int nQuota, int bImport = 1) {
        int id = StartImport(paths, nQuota, bImport);
        EXPECT_GT(id, 0);
        EXPECT_TRUE(sink.PumpUntilExit(id, kPatience)) << "the worker did not end";
        return Described(id);
    }
    std::vector<std::string> Copy(const std::vector<CString>& paths) { return Import(paths, 0, 0); }
    std::vector<std::string> Described(int nID) const {
        std::vector<std::string> out;
        for (const RECEIVEDMSG& m : sink.Messages(nID)) out.push_back(Describe(m));
        return out;
    }
    // NAME, NAME n, NAME(text|text|...):value#code or NAME[path,path]; C:\music\ is left out of texts
    // and C:\lib\ is shown as lib\.
    static std::string Describe(const RECEIVEDMSG& m) {
        auto shorten = [](const CString& s) {
            std::string t = s.str();
            for (const char* prefix : {"C:\\music\\", "C:\\"}) {
                for (size_t at; (at = t.find(prefix)) != std::string::npos;) t.erase(at, std::string(prefix).size());
            }
            return t;
        };
        std::string d = MessageName(m.nMessage);
        if (m.bList) {
            d += "[";
            for (size_t i = 0; i < m.vecList.size(); ++i) d += (i ? "," : "") + shorten(m.vecList[i]);
            return d + "]";
        }
        if (!m.bBlock) return m.lParam ? d + " " + std::to_string(m.lParam) : d;
        int last = 3;
        while (last >= 0 && m.strText[last].IsEmpty()) --last;
        d += "(";
        for (int i = 0; i <= last; ++i) d += (i ? "|" : "") + shorten(m.strText[i]);
        d += ")";
        if (m.nValue) d += ":" + std::to_string(m.nValue);
        if (m.nCode != FOR_NONE) d += "#" + std::to_string(m.nCode);
        return d;
    }
    DBRECORD Record(const CString& path) {
        DBRECORD r;
        EXPECT_EQ(1, Db()->GetSongInfo(path, &r)) << path.str();
        return r;
    }

    CMessageSink sink;      // outlives the manager, whose destructor waits for the workers
    TestManager manager;
};

}  // namespace mxtest
