// A fresh emulated machine for one test: MX_HOME, the drive map, the registry and the shell folders
// point into a temporary folder that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "MxModule/MxModule.h"
#include "platform/testhooks.h"

namespace mxtest {

class TempMachine {
public:
    // Drive C: is <root>/c and drive D: is <root>/d; both exist.
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::string& root() const { return m_root; }
    std::string HostC(const std::string& rel = "") const { return m_root + "/c" + (rel.empty() ? "" : "/" + rel); }
    std::string HostD(const std::string& rel = "") const { return m_root + "/d" + (rel.empty() ? "" : "/" + rel); }
    // The environment a child process needs to see the same machine.
    std::string EnvPrefix() const;
    // Sets the system code page (MX_ACP, "936" or "65001"; the default is 54936) and reloads the platform.
    void SetCodePage(const char* acp) const;
    // Registers an ODBC driver library under a name in this machine's odbcinst.ini (MX_ODBCINST).
    void RegisterOdbcDriver(const char* name, const char* library) const;

private:
    std::string m_root;
};

// A test fixture owning a TempMachine.
class MachineTest : public ::testing::Test {
protected:
    TempMachine machine;
};

// Runs fn in a child process that may not write what it does not own: as the user and group nobody
// (65534) when this process is root, as this user otherwise. The machine's folders are opened to others
// for reading first. Returns fn's result (0 to 255), or -1 when the child did not end normally.
int RunAsOtherUser(const TempMachine& machine, const std::function<int()>& fn);

// Another process holding something: a child runs hold() and keeps what it opened until released
// (by Release, the destructor, or a byte written to ReleaseFd, e.g. from a shell).
class ChildHolder {
public:
    explicit ChildHolder(const std::function<bool()>& hold);
    ~ChildHolder();
    ChildHolder(const ChildHolder&) = delete;
    ChildHolder& operator=(const ChildHolder&) = delete;
    bool Held() const { return m_bHeld; }
    int ReleaseFd() const { return m_done[1]; }
    void Release();

private:
    int m_ready[2] = {-1, -1}, m_done[2] = {-1, -1};
    pid_t m_pid = -1;
    bool m_bHeld = false;
};

// Host file helpers (UTF-8 host paths).
void WriteHostFile(const std::string& path, const std::string& bytes);
std::string ReadHostFile(const std::string& path);
bool HostExists(const std::string& path);
// GBK bytes of UTF-8 text, for literals in tests.
CString Gbk(const std::string& utf8);
// Runs a shell command and returns its standard output; the exit status goes to *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

}  // namespace mxtest
