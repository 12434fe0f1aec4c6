#include "support/TempMachine.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testhooks.h"

namespace mxtest {

TempMachine::TempMachine() {
    char tmpl[] = "/tmp/mxtest-XXXXXX";
    m_root = mkdtemp(tmpl);
    mkdir((m_root + "/c").c_str(), 0777);
    mkdir((m_root + "/d").c_str(), 0777);
    setenv("MX_HOME", m_root.c_str(), 1);
    setenv("MX_DRIVES", ("C:=" + m_root + "/c,fixed,sata;D:=" + m_root + "/d,removable,usb").c_str(), 1);
    setenv("MX_REGISTRY", (m_root + "/registry.db").c_str(), 1);
    setenv("MX_FOLDER_DESKTOP", "C:\\users\\tester\\Desktop", 1);
    setenv("MX_FOLDER_MUSIC", "C:\\users\\tester\\Music", 1);
    setenv("MX_FOLDER_APPDATA", "C:\\users\\tester\\AppData\\Roaming", 1);
    setenv("MX_FOLDER_LOCALAPPDATA", "C:\\users\\tester\\AppData\\Local", 1);
    unsetenv("MX_ACP");
    MxPlatformReload();
}

void TempMachine::SetCodePage(const char* acp) const {
    setenv("MX_ACP", acp, 1);
    MxPlatformReload();
}

void TempMachine::RegisterOdbcDriver(const char* name, const char* library) const {
    WriteHostFile(m_root + "/odbcinst.ini", std::string("[") + name + "]\nDriver=" + library + "\n");
    setenv("MX_ODBCINST", (m_root + "/odbcinst.ini").c_str(), 1);
    MxPlatformReload();
}

int RunAsOtherUser(const TempMachine& machine, const std::function<int()>& fn) {
    chmod(machine.root().c_str(), 0755);
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(254);
        _exit(fn() & 0xFF);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

ChildHolder::ChildHolder(const std::function<bool()>& hold) {
    if (pipe(m_ready) != 0 || pipe(m_done) != 0) return;
    std::fflush(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        char c = hold() ? 1 : 0;
        (void)!write(m_ready[1], &c, 1);
        (void)!read(m_done[0], &c, 1);
        _exit(0);
    }
    char held = 0;
    m_bHeld = m_pid > 0 && read(m_ready[0], &held, 1) == 1 && held == 1;
}

void ChildHolder::Release() {
    if (m_pid <= 0) return;
    (void)!write(m_done[1], "x", 1);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

ChildHolder::~ChildHolder() {
    Release();
    for (int fd : {m_ready[0], m_ready[1], m_done[0], m_done[1]}) {
        if (fd >= 0) close(fd);
    }
}

TempMachine::~TempMachine() {
    unsetenv("MX_ACP");
    unsetenv("MX_ODBCINST");
    MxPlatformReload();  // closes the registry database before its folder goes
    std::error_code ec;
    // Files made read-only by a test must not stop the clean-up.
    for (auto& entry : std::filesystem::recursive_directory_iterator(m_root, ec)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_root, ec);
}

std::string TempMachine::EnvPrefix() const {
    std::string env;
    for (const char* name : {"MX_HOME", "MX_DRIVES", "MX_REGISTRY", "MX_FOLDER_DESKTOP", "MX_FOLDER_MUSIC",
                             "MX_FOLDER_APPDATA", "MX_FOLDER_LOCALAPPDATA", "MX_ACP"}) {
        const char* v = getenv(name);
        env += std::string(name) + "='" + (v ? v : "") + "' ";
    }
    return env;
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool HostExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

CString Gbk(const std::string& utf8) { return MxUtf8ToAnsi(utf8); }

std::string RunCommand(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace mxtest
