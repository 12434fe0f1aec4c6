// The engine: tasks, each with its own thread running libcurl transfers into TARGET.part.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MiraCommon.h"
#include "mira/MiraLib.h"
#include "platform/files.h"

namespace {

typedef std::chrono::steady_clock Clock;

enum StopKind { kRun = 0, kPause, kCancel, kAbandon };

// What one request at one address came to.
enum AttemptEnd { kDone, kStopped, kRetryFromZero, kFailed };

struct CMiraTask {
    std::mutex m_mutex;
    std::condition_variable m_cvEnded;
    // Settings, under m_mutex.
    HWND m_hWnd = nullptr;
    bool m_bBlock = false;
    bool m_bSilent = false;  // cancelled or abandoned: nothing more is posted
    bool m_bCancelled = false;     // cancelled before it ever started: it never starts
    bool m_bPausePending = false;  // paused before it started: the next start ends paused at once
    int m_nMode = MIRA_MODE_HTTP;
    std::string m_strCaller = "MiraLib";
    std::vector<std::string> m_vecUrls;
    std::string m_strTarget;
    // Status, under m_mutex.
    int m_nState = MIRA_STATE_IDLE;
    int m_nError = MIRA_ERR_NONE;
    int m_nIndex = -1;
    long long m_nRate = 0, m_nFound = 0, m_nTotal = 0, m_nDone = 0;
    std::string m_strUrl, m_strText;

    std::atomic<int> m_nStop{kRun};  // read by the transfer's progress callback
    std::thread m_thread;            // joined only by threads other than itself
    std::mutex m_joinLock;
};

std::mutex g_lock;
std::map<uintptr_t, std::shared_ptr<CMiraTask>> g_mapTasks;
uintptr_t g_nNextHandle = 1;
int g_nPort = 0, g_nPortFd = -1, g_nIPCPort = 0;
std::string g_strUserID;
std::once_flag g_curlOnce;

// The last tasks destroyed, newest last: their status stays readable for the messages still queued
// for their windows. Handles are never reused, so an old one cannot name a new task.
constexpr size_t kEndedKept = 64;
std::deque<std::pair<uintptr_t, std::shared_ptr<CMiraTask>>> g_dequeEnded;

std::shared_ptr<CMiraTask> Find(MIRATASK hTask) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_mapTasks.find(reinterpret_cast<uintptr_t>(hTask));
    return it == g_mapTasks.end() ? nullptr : it->second;
}

std::shared_ptr<CMiraTask> FindEnded(MIRATASK hTask) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const auto& ended : g_dequeEnded)
        if (ended.first == reinterpret_cast<uintptr_t>(hTask)) return ended.second;
    return nullptr;
}

// With m_mutex held.
void PostLocked(CMiraTask& task, UINT nMsg, LPARAM lParam = 0) {
    if (task.m_bSilent || task.m_bBlock || !task.m_hWnd) return;
    PostMessageA(task.m_hWnd, nMsg, 0, lParam);
}

void Post(CMiraTask& task, UINT nMsg, LPARAM lParam = 0) {
    std::lock_guard<std::mutex> guard(task.m_mutex);
    PostLocked(task, nMsg, lParam);
}

void SetText(CMiraTask& task, const std::string& text) {
    std::lock_guard<std::mutex> guard(task.m_mutex);
    task.m_strText = text;
}

// Stops a running task the given way and waits for its thread.
void StopAndJoin(CMiraTask& task, StopKind kind) {
    {
        std::lock_guard<std::mutex> guard(task.m_mutex);
        if (kind != kPause) task.m_bSilent = true;
        if (task.m_nState == MIRA_STATE_RUNNING) task.m_nStop = kind;
    }
    std::lock_guard<std::mutex> join(task.m_joinLock);
    if (task.m_thread.joinable()) task.m_thread.join();
}

// The validator kept with a ".part" in an extended attribute: "TOTAL VALIDATOR", the total size and the
// strong ETag (else the Last-Modified date) of the answer that began it.
const char kValidatorName[] = "user.mira.validator";

bool ReadValidator(int fd, long long& total, std::string& validator) {
    char buf[320];
    ssize_t n = fgetxattr(fd, kValidatorName, buf, sizeof buf - 1);
    if (n <= 0) return false;
    buf[n] = 0;
    char* end = nullptr;
    total = strtoll(buf, &end, 10);
    if (end == buf || *end != ' ' || total <= 0 || !end[1]) return false;
    validator = end + 1;
    // It goes into a request header: no control bytes.
    for (char c : validator)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

// Without a validator (or where the file system keeps no attributes) the ".part" is continued by its length.
void WriteValidator(int fd, long long total, const std::string& validator) {
    if (total <= 0 || validator.empty() || validator.size() > 256) {
        fremovexattr(fd, kValidatorName);
        return;
    }
    std::string value = std::to_string(total) + " " + validator;
    fsetxattr(fd, kValidatorName, value.data(), value.size(), 0);
}

// One transfer from one address into the open ".part".
class CTransfer {
public:
    CTransfer(CMiraTask& task, int fd, const std::string& winTarget) : m_task(task), m_fd(fd), m_winTarget(winTarget) {
        if (!ReadValidator(m_fd, m_nPartTotal, m_strValidator)) m_nPartTotal = 0, m_strValidator.clear();
    }

    AttemptEnd Run(const std::string& url, bool& bProgressed, int& nError, std::string& strWhy) {
        struct stat st {};
        if (fstat(m_fd, &st) != 0) return Fail(MIRA_ERR_WRITE, "the partial file cannot be read", nError, strWhy);
        m_nOffset = m_nSynced = st.st_size;
        m_nWritten = 0;
        m_bDecided = false;
        m_nReason = MIRA_ERR_NONE;
        m_strContentRange.clear();
        m_strETag.clear();
        m_strLastModified.clear();

        CURL* curl = curl_easy_init();
        if (!curl) return Fail(MIRA_ERR_CONNECT, "no transfer handle", nError, strWhy);
        std::string agent, range = std::to_string(m_nOffset) + "-";
        {
            std::lock_guard<std::mutex> guard(m_task.m_mutex);
            agent = m_task.m_strCaller + " MiraLib/1.0";
        }
        char error[CURL_ERROR_SIZE] = "";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);  // fewer receive and write calls than with 16 KiB
        struct curl_slist* headers = nullptr;
        if (m_nOffset > 0) {
            curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
            // The rest of the same file, or the whole of a changed one.
            if (!m_strValidator.empty()) {
                headers = curl_slist_append(nullptr, ("If-Range: " + m_strValidator).c_str());
                curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
            }
        }
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &CTransfer::OnHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CTransfer::OnData);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CTransfer::OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        m_curl = curl;
        CURLcode res = curl_easy_perform(curl);
        if (!m_bDecided && res == CURLE_OK) Decide();  // an empty body
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
        m_curl = nullptr;
        bProgressed = m_nWritten > 0;

        if (m_task.m_nStop != kRun) return kStopped;
        if (m_nReason == kRestartMark) return kRetryFromZero;
        if (m_nReason != MIRA_ERR_NONE) return Fail(m_nReason, m_strWhy, nError, strWhy);
        if (code == 416) {
            // The range starts at or past the end: a ".part" that already holds the whole file is done.
            long long total = ParseTotal(m_strContentRange);
            if (total > 0 && total == m_nOffset) {
                SetTotal(total);
                return kDone;
            }
            if (!Forget()) return Fail(MIRA_ERR_WRITE, "the partial file cannot be cut", nError, strWhy);
            Post(m_task, MIRA_MSG_RESTARTING);
            return kRetryFromZero;
        }
        if (res != CURLE_OK) {
            int reason = res == CURLE_PARTIAL_FILE ? MIRA_ERR_SHORTER : MIRA_ERR_CONNECT;
            return Fail(reason, error[0] ? error : curl_easy_strerror(res), nError, strWhy);
        }
        if (m_nTotal > 0 && m_nOffset + m_nWritten < m_nTotal)
            return Fail(MIRA_ERR_SHORTER, "the server sent fewer bytes than it announced", nError, strWhy);
        if (m_nTotal <= 0) SetTotal(m_nOffset + m_nWritten);
        return kDone;
    }

    long long Total() const { return m_nTotal; }

    // Empties the ".part" and drops its validator: what it held is not continued.
    bool Forget() {
        if (ftruncate(m_fd, 0) != 0) return false;
        WriteValidator(m_fd, 0, "");
        m_strValidator.clear();
        m_nPartTotal = 0;
        return true;
    }

private:
    static constexpr int kRestartMark = -1;
    static constexpr long long kWriteBackStep = 8LL << 20;

    static AttemptEnd Fail(int reason, const std::string& why, int& nError, std::string& strWhy) {
        nError = reason;
        strWhy = why;
        return kFailed;
    }

    static long long ParseTotal(const std::string& contentRange) {
        size_t slash = contentRange.rfind('/');
        if (slash == std::string::npos || slash + 1 >= contentRange.size() || contentRange[slash + 1] == '*') return -1;
        return atoll(contentRange.c_str() + slash + 1);
    }

    void SetTotal(long long total) {
        bool changed;
        {
            std::lock_guard<std::mutex> guard(m_task.m_mutex);
            changed = m_task.m_nTotal != total;
            m_task.m_nTotal = total;
        }
        m_nTotal = total;
        if (changed) Post(m_task, MIRA_MSG_SIZEKNOWN);
    }

    // Stops the transfer for a reason of ours (the write callback's short count aborts it).
    size_t Abort(int reason, const std::string& why) {
        m_nReason = reason;
        m_strWhy = why;
        return 0;
    }

    // At the first body byte: is this answer the file, from where, and how long?
    size_t Decide() {
        m_bDecided = true;
        long code = 0;
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
        curl_off_t length = -1;
        curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        long long total = 0;
        if (code == 206) {
            long long first = -1;
            size_t space = m_strContentRange.find(' ');
            if (space != std::string::npos) first = atoll(m_strContentRange.c_str() + space + 1);
            total = ParseTotal(m_strContentRange);
            std::string answer = AnswerValidator();
            bool otherFile = (m_nTotal > 0 && total != m_nTotal) || (m_nPartTotal > 0 && total != m_nPartTotal) ||
                             (!answer.empty() && !m_strValidator.empty() &&
                              (answer[0] == '"') == (m_strValidator[0] == '"') && answer != m_strValidator);
            if (first != m_nOffset || total <= 0 || otherFile) {
                // Not the range asked for, or not the file the ".part" began: start over.
                if (!Forget()) return Abort(MIRA_ERR_WRITE, "the partial file cannot be cut");
                Post(m_task, MIRA_MSG_RESTARTING);
                m_nReason = kRestartMark;
                return 0;
            }
            if (length >= 0 && first + length > total)
                return Abort(MIRA_ERR_LONGER, "the range answered does not end at the announced size");
        } else if (code == 200) {
            if (m_nOffset > 0) {
                // The server ignored the range, or the file changed since the ".part" began: it comes whole.
                if (!Forget()) return Abort(MIRA_ERR_WRITE, "the partial file cannot be cut");
                Post(m_task, MIRA_MSG_RESTARTING);
                m_nOffset = 0;
                std::lock_guard<std::mutex> guard(m_task.m_mutex);
                m_task.m_nDone = 0;
            }
            total = length >= 0 ? length : 0;
            m_strValidator = AnswerValidator();
            m_nPartTotal = total;
            WriteValidator(m_fd, m_nPartTotal, m_strValidator);
        } else if (code == 416) {
            return 0;  // judged after the transfer, with the announced size
        } else {
            return Abort(MIRA_ERR_HTTP, "the server answered " + std::to_string(code));
        }
        if (total > 0) {
            // Room for what is still to come.
            ULARGE_INTEGER avail{}, all{}, freeBytes{};
            std::string root = m_winTarget.substr(0, 3);
            if (GetDiskFreeSpaceExA(root.c_str(), &avail, &all, &freeBytes) &&
                static_cast<long long>(avail.QuadPart) < total - m_nOffset)
                return Abort(MIRA_ERR_DISKFULL, "not enough room on " + root);
            SetTotal(total);
        }
        if (code == 206) {
            Post(m_task, MIRA_MSG_RESUMING);
            SetText(m_task, "continuing at byte " + std::to_string(m_nOffset));
        } else {
            SetText(m_task, "receiving");
        }
        return 1;
    }

    // The answer's strong ETag, else its Last-Modified date; "" when it has neither. A weak ETag cannot
    // vouch for a range.
    std::string AnswerValidator() const {
        if (m_strETag.size() >= 2 && m_strETag[0] == '"') return m_strETag;
        return m_strLastModified;
    }

    static std::string HeaderValue(const std::string& line, size_t from) {
        size_t b = line.find_first_not_of(" \t", from), e = line.find_last_not_of(" \t\r\n");
        return b == std::string::npos || e < b ? "" : line.substr(b, e - b + 1);
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<CTransfer*>(user);
        std::string line(data, size * count);
        if (line.size() > 14 && strncasecmp(line.c_str(), "content-range:", 14) == 0) {
            self->m_strContentRange = HeaderValue(line, 14);
        } else if (line.size() > 5 && strncasecmp(line.c_str(), "etag:", 5) == 0) {
            self->m_strETag = HeaderValue(line, 5);
        } else if (line.size() > 14 && strncasecmp(line.c_str(), "last-modified:", 14) == 0) {
            self->m_strLastModified = HeaderValue(line, 14);
        } else if (line.compare(0, 5, "HTTP/") == 0) {
            // A redirect's headers do not count.
            self->m_strContentRange.clear();
            self->m_strETag.clear();
            self->m_strLastModified.clear();
        }
        return size * count;
    }

    static size_t OnData(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<CTransfer*>(user);
        size_t n = size * count;
        if (!self->m_bDecided && self->Decide() == 0) return 0;
        if (self->m_nReason != MIRA_ERR_NONE) return 0;
        long long at = self->m_nOffset + self->m_nWritten;
        if (self->m_nTotal > 0 && at + static_cast<long long>(n) > self->m_nTotal)
            return self->Abort(MIRA_ERR_LONGER, "the server sent more bytes than it announced");
        for (size_t put = 0; put < n;) {
            ssize_t w = pwrite(self->m_fd, data + put, n - put, at + static_cast<long long>(put));
            if (w <= 0) return self->Abort(errno == ENOSPC ? MIRA_ERR_DISKFULL : MIRA_ERR_WRITE, strerror(errno));
            put += static_cast<size_t>(w);
        }
        self->m_nWritten += static_cast<long long>(n);
        self->StartWriteBack(at + static_cast<long long>(n));
        {
            std::lock_guard<std::mutex> guard(self->m_task.m_mutex);
            self->m_task.m_nDone = self->m_nOffset + self->m_nWritten;
        }
        auto now = Clock::now();
        if (now - self->m_lastPost >= std::chrono::milliseconds(100)) {
            self->m_lastPost = now;
            Post(self->m_task, MIRA_MSG_PROGRESS);
        }
        return n;
    }

    // The finished file is flushed before its rename; starting the write-back as the bytes arrive lets the
    // disk work beside the network instead of after it. Only a hint: the final fsync reports the errors.
    void StartWriteBack(long long end) {
        if (m_nSynced > end) m_nSynced = 0;  // the part was started over
        if (end - m_nSynced < kWriteBackStep) return;
        sync_file_range(m_fd, m_nSynced, end - m_nSynced, SYNC_FILE_RANGE_WRITE);
        m_nSynced = end;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* self = static_cast<CTransfer*>(user);
        auto now = Clock::now();
        long long done = self->m_nOffset + self->m_nWritten;
        if (now - self->m_rateStart >= std::chrono::seconds(1)) {
            double secs = std::chrono::duration<double>(now - self->m_rateStart).count();
            std::lock_guard<std::mutex> guard(self->m_task.m_mutex);
            self->m_task.m_nRate = static_cast<long long>((done - self->m_nRateBytes) / secs);
            self->m_rateStart = now;
            self->m_nRateBytes = done;
        }
        return self->m_task.m_nStop != kRun ? 1 : 0;
    }

    CMiraTask& m_task;
    int m_fd;
    std::string m_winTarget;
    CURL* m_curl = nullptr;
    long long m_nOffset = 0, m_nWritten = 0, m_nTotal = 0, m_nRateBytes = 0, m_nSynced = 0;
    bool m_bDecided = false;
    int m_nReason = MIRA_ERR_NONE;
    std::string m_strWhy, m_strContentRange, m_strETag, m_strLastModified;
    // The ".part"'s validator and total; empty and 0 when it has none.
    std::string m_strValidator;
    long long m_nPartTotal = 0;
    Clock::time_point m_lastPost{}, m_rateStart = Clock::now();
};

void End(CMiraTask& task, int state, int error, const std::string& text) {
    // The last message goes out in the same locked step as the state: a waiter that destroys the task
    // as soon as it sees the end cannot silence it in between.
    std::lock_guard<std::mutex> guard(task.m_mutex);
    task.m_nState = state;
    task.m_nError = error;
    task.m_strText = text;
    task.m_nRate = 0;
    if (state == MIRA_STATE_COMPLETED) PostLocked(task, MIRA_MSG_COMPLETED);
    if (state == MIRA_STATE_PAUSED) PostLocked(task, MIRA_MSG_PAUSED);
    if (state == MIRA_STATE_FAILED) PostLocked(task, MIRA_MSG_FAILED, error);
    task.m_cvEnded.notify_all();
}

// Transfers running at once: the settings' MaxDownloadCount (1 to 5) when the user has one; without
// it every task runs at once. A task waiting for its turn holds its ".part" and can be paused or cancelled.
std::mutex g_slotLock;
std::condition_variable g_slotFree;
int g_nRunning = 0;

int SlotLimit() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tamborinebox\\Setting\\Download", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return INT_MAX;
    DWORD type = 0, value = 0, size = sizeof value;
    LONG result = RegQueryValueExA(key, "MaxDownloadCount", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD) return INT_MAX;
    return std::min(std::max(static_cast<int>(value), 1), 5);
}

class CSlot {
public:
    explicit CSlot(CMiraTask& task) {
        const int limit = SlotLimit();
        std::unique_lock<std::mutex> lock(g_slotLock);
        if (g_nRunning >= limit) SetText(task, "waiting for a free download slot");
        while (g_nRunning >= limit && task.m_nStop == kRun) g_slotFree.wait_for(lock, std::chrono::milliseconds(100));
        m_bHeld = task.m_nStop == kRun;
        g_nRunning += m_bHeld;
    }
    ~CSlot() {
        if (!m_bHeld) return;
        std::lock_guard<std::mutex> lock(g_slotLock);
        --g_nRunning;
        g_slotFree.notify_all();
    }
    CSlot(const CSlot&) = delete;
    CSlot& operator=(const CSlot&) = delete;

private:
    bool m_bHeld = false;
};

// Opens and locks the ".part": its descriptor, -1 when it cannot be made, -2 when another task holds it.
// One that the holder removed while this task waited for the lock is opened again, so that no byte goes
// to a file without a name.
int OpenPart(const std::string& hostPart) {
    for (int tries = 0; tries < 5; ++tries) {
        int fd = open(hostPart.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        // The lock covers other tasks of this process as well as other processes.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return -2;
        }
        struct stat held {}, named {};
        if (fstat(fd, &held) == 0 && stat(hostPart.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        close(fd);
    }
    return -1;
}

void RunTask(CMiraTask& task) {
    std::vector<std::string> urls;
    std::string winTarget;
    {
        std::lock_guard<std::mutex> guard(task.m_mutex);
        urls = task.m_vecUrls;
        winTarget = task.m_strTarget;
    }
    Post(task, MIRA_MSG_STARTED);
    // Both names are looked up the Windows way, so "A.MP3" finds the ".part" of "a.mp3".
    std::string hostTarget, hostPart;
    if (winTarget.size() < 3 || !MxWindowsPathToHost(winTarget.c_str(), hostTarget) ||
        !MxWindowsPathToHost((winTarget + ".part").c_str(), hostPart))
        return End(task, MIRA_STATE_FAILED, MIRA_ERR_ARGUMENTS, "the target is not a path of this machine");
    int fd = OpenPart(hostPart);
    if (fd == -2) return End(task, MIRA_STATE_FAILED, MIRA_ERR_BUSY, "another download writes this target");
    if (fd < 0) return End(task, MIRA_STATE_FAILED, MIRA_ERR_WRITE, "the partial file cannot be made");
    struct stat st {};
    fstat(fd, &st);
    {
        std::lock_guard<std::mutex> guard(task.m_mutex);
        task.m_nFound = task.m_nDone = st.st_size;
    }

    CSlot slot(task);
    CTransfer transfer(task, fd, winTarget);
    int error = MIRA_ERR_NONE;
    bool done = false;
    std::string lastWhy;
    for (size_t i = 0; i < urls.size() && !done && task.m_nStop == kRun; ++i) {
        {
            std::lock_guard<std::mutex> guard(task.m_mutex);
            task.m_nIndex = static_cast<int>(i);
            task.m_strUrl = urls[i];
            task.m_strText = "connecting to address " + std::to_string(i + 1) + " of " + std::to_string(urls.size());
        }
        Post(task, MIRA_MSG_CONNECTING, static_cast<LPARAM>(i));
        // A cut transfer that brought bytes is continued at once; an address that cannot be reached, or
        // is cut three times running before any byte, is left for the next one.
        int fruitless = 0, restarts = 0;
        std::string why;
        for (;;) {
            bool progressed = false;
            AttemptEnd end = transfer.Run(urls[i], progressed, error, why);
            if (end == kDone) {
                done = true;
                break;
            }
            if (end == kStopped) break;
            if (end == kRetryFromZero) {
                if (++restarts <= 2) continue;
                error = MIRA_ERR_HTTP;
                why = "the server does not answer ranges consistently";
            } else if ((error == MIRA_ERR_SHORTER || error == MIRA_ERR_CONNECT) && progressed) {
                fruitless = 0;
                continue;
            } else if (error == MIRA_ERR_SHORTER && ++fruitless <= 2) {
                continue;  // answered, then cut before any byte: worth another try
            }
            if (error == MIRA_ERR_LONGER) transfer.Forget();  // bytes of a server that miscounts: not continued
            lastWhy = why;
            SetText(task, "address " + std::to_string(i + 1) + " failed: " + why);
            Post(task, MIRA_MSG_STATUSTEXT, error);
            if (i + 1 < urls.size() && task.m_nStop == kRun) Post(task, MIRA_MSG_NEXTADDRESS);
            break;
        }
    }

    int stop = task.m_nStop;
    if (stop == kCancel) {
        unlink(hostPart.c_str());
        close(fd);
        return End(task, MIRA_STATE_CANCELLED, MIRA_ERR_NONE, "cancelled");
    }
    if (stop != kRun) {
        close(fd);
        return End(task, MIRA_STATE_PAUSED, MIRA_ERR_NONE, "paused");
    }
    if (!done) {
        // A ".part" with nothing in it, or one that would only hold a full disk, is not kept.
        if (fstat(fd, &st) == 0 && (st.st_size == 0 || error == MIRA_ERR_DISKFULL || error == MIRA_ERR_LONGER))
            unlink(hostPart.c_str());
        close(fd);
        return End(task, MIRA_STATE_FAILED, error, "failed: " + lastWhy);
    }
    Post(task, MIRA_MSG_DATADONE);
    // A file of the target's name (in any letter case) is never replaced: the finished ".part" stays.
    int named = !MxWindowsPathToHost(winTarget.c_str(), hostTarget) ? EINVAL
                : fsync(fd) != 0                                    ? errno
                                                                    : MxRenameNoReplace(hostPart, hostTarget);
    if (named == EEXIST) {
        close(fd);
        return End(task, MIRA_STATE_FAILED, MIRA_ERR_EXISTS, "the target exists; the finished file stays as its .part");
    }
    if (named != 0) {
        close(fd);
        return End(task, MIRA_STATE_FAILED, MIRA_ERR_WRITE, "the finished file cannot be put in place");
    }
    fremovexattr(fd, kValidatorName);  // the finished file does not carry it
    close(fd);
    End(task, MIRA_STATE_COMPLETED, MIRA_ERR_NONE, "completed");
}

// Starts the task's thread, on a new list when one is given, else on its last: false when it is running
// already or was cancelled before it ever started. A pause asked before the start ends it paused at once.
bool Start(const std::shared_ptr<CMiraTask>& task, const std::vector<std::string>* urls = nullptr,
           const char* target = nullptr) {
    std::lock_guard<std::mutex> join(task->m_joinLock);
    {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        if (task->m_nState == MIRA_STATE_RUNNING || task->m_bCancelled) return false;
    }
    if (task->m_thread.joinable()) task->m_thread.join();
    {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        if (task->m_bCancelled) return false;
        if (urls) {
            task->m_vecUrls = *urls;
            task->m_strTarget = target;
        }
        task->m_nError = MIRA_ERR_NONE;
        task->m_nIndex = -1;
        task->m_nTotal = task->m_nDone = task->m_nFound = task->m_nRate = 0;
        task->m_strUrl.clear();
        task->m_bSilent = false;
        if (task->m_bPausePending) {
            task->m_bPausePending = false;
            task->m_nState = MIRA_STATE_PAUSED;
            task->m_strText = "paused";
            PostLocked(*task, MIRA_MSG_PAUSED);
            task->m_cvEnded.notify_all();
            return true;
        }
        task->m_nState = MIRA_STATE_RUNNING;
        task->m_strText = "starting";
        task->m_nStop = kRun;
    }
    try {
        task->m_thread = std::thread([task] { RunTask(*task); });
    } catch (...) {
        End(*task, MIRA_STATE_FAILED, MIRA_ERR_ARGUMENTS, "no thread for the task");
        return false;
    }
    return true;
}

void PutInt(unsigned char* p, long long value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(static_cast<unsigned long long>(value) >> (8 * i));
}

}  // namespace

extern "C" {

int MiraInitLibrary(void) {
    std::call_once(g_curlOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_nPortFd < 0) g_nPort = mira::OpenPort(g_nPortFd);
    return g_nPort != 0 ? 1 : 0;
}

void MiraFiniLibrary(void) {
    std::vector<std::shared_ptr<CMiraTask>> tasks;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (auto& entry : g_mapTasks) tasks.push_back(entry.second);
        mira::ClosePort(g_nPortFd);
        g_nPort = 0;
    }
    for (auto& task : tasks) StopAndJoin(*task, kAbandon);
}

void MiraSetIPCPort(int nPort) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_nIPCPort = nPort;
}

void MiraSetUserID(const char* pszUserID) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_strUserID = pszUserID ? pszUserID : "";
}

int MiraGetPort(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_nPort;
}

MIRATASK CreateMiraTask(void) {
    std::call_once(g_curlOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    try {
        auto task = std::make_shared<CMiraTask>();
        std::lock_guard<std::mutex> guard(g_lock);
        uintptr_t handle = g_nNextHandle++;
        g_mapTasks[handle] = task;
        return reinterpret_cast<MIRATASK>(handle);
    } catch (...) {
        return nullptr;
    }
}

void DestroyMiraTask(MIRATASK hTask) {
    std::shared_ptr<CMiraTask> task;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_mapTasks.find(reinterpret_cast<uintptr_t>(hTask));
        if (it == g_mapTasks.end()) return;
        task = it->second;
        g_mapTasks.erase(it);
    }
    StopAndJoin(*task, kAbandon);
    std::lock_guard<std::mutex> guard(g_lock);
    g_dequeEnded.emplace_back(reinterpret_cast<uintptr_t>(hTask), task);
    if (g_dequeEnded.size() > kEndedKept) g_dequeEnded.pop_front();
}

void MiraSetCallback(MIRATASK hTask, HWND hWnd, int) {
    if (auto task = Find(hTask)) {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        task->m_hWnd = hWnd;
    }
}

void MiraSetBlockMessage(MIRATASK hTask, int bBlock) {
    if (auto task = Find(hTask)) {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        task->m_bBlock = bBlock != 0;
    }
}

void MiraSetDownloadMode(MIRATASK hTask, int nMode) {
    if (auto task = Find(hTask)) {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        task->m_nMode = nMode;
    }
}

void MiraSetCaller(MIRATASK hTask, const char* pszCaller) {
    if (auto task = Find(hTask)) {
        std::string caller = pszCaller ? std::string(pszCaller).substr(0, 256) : "";
        // Header text: no line breaks or other control bytes.
        for (char& c : caller)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        std::lock_guard<std::mutex> guard(task->m_mutex);
        task->m_strCaller = caller.empty() ? "MiraLib" : caller;
    }
}

int MiraDownloadUrllist(MIRATASK hTask, const char** ppszUrls, int nCount, const char* pszTarget) {
    auto task = Find(hTask);
    if (!task) return 0;
    std::vector<std::string> urls;
    if (ppszUrls)
        for (int i = 0; i < nCount; ++i)
            if (ppszUrls[i] && *ppszUrls[i]) urls.push_back(ppszUrls[i]);
    {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        if (task->m_nState == MIRA_STATE_RUNNING || task->m_bCancelled) return 0;
        if (urls.empty() || !pszTarget || !*pszTarget) {
            task->m_nState = MIRA_STATE_FAILED;
            task->m_nError = MIRA_ERR_ARGUMENTS;
            task->m_strText = "no address or no target";
            task->m_cvEnded.notify_all();
            return 0;
        }
    }
    return Start(task, &urls, pszTarget) ? 1 : 0;
}

int MiraResumeDownloadUrllist(MIRATASK hTask) {
    auto task = Find(hTask);
    if (!task) return 0;
    {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        if (task->m_vecUrls.empty() || (task->m_nState != MIRA_STATE_PAUSED && task->m_nState != MIRA_STATE_FAILED))
            return 0;
    }
    return Start(task) ? 1 : 0;
}

int MiraWaitDownload(MIRATASK hTask) {
    auto task = Find(hTask);
    if (!task) return -1;
    std::unique_lock<std::mutex> lock(task->m_mutex);
    task->m_cvEnded.wait(lock, [&] { return task->m_nState != MIRA_STATE_RUNNING; });
    return task->m_nState;
}

void MiraPauseDownloadUrllist(MIRATASK hTask) {
    if (auto task = Find(hTask)) {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        if (task->m_nState == MIRA_STATE_RUNNING && task->m_nStop == kRun) task->m_nStop = kPause;
        if (task->m_nState == MIRA_STATE_IDLE) task->m_bPausePending = true;  // asked before the start
    }
}

void MiraCancelDownloadUrllist(MIRATASK hTask) {
    if (auto task = Find(hTask)) {
        std::lock_guard<std::mutex> guard(task->m_mutex);
        task->m_bSilent = true;
        if (task->m_nState == MIRA_STATE_RUNNING) task->m_nStop = kCancel;
        if (task->m_nState == MIRA_STATE_IDLE) {
            // Asked before the start (the caller may still be preparing the list): the task never starts.
            task->m_bCancelled = true;
            task->m_nState = MIRA_STATE_CANCELLED;
            task->m_strText = "cancelled";
            task->m_cvEnded.notify_all();
        }
    }
}

int MiraGetStatusInfo(MIRATASK hTask, void* pBuffer) {
    if (!pBuffer) return 0;
    auto* p = static_cast<unsigned char*>(pBuffer);
    memset(p, 0, MIRA_STATUS_SIZE);
    auto task = Find(hTask);
    if (!task) task = FindEnded(hTask);
    if (!task) return 0;
    std::lock_guard<std::mutex> guard(task->m_mutex);
    PutInt(p + 0, task->m_nState, 4);
    PutInt(p + 4, task->m_nError, 4);
    PutInt(p + 8, task->m_nIndex, 4);
    PutInt(p + 12, static_cast<long long>(task->m_vecUrls.size()), 4);
    PutInt(p + 16, task->m_nRate, 8);
    PutInt(p + 24, task->m_nFound, 8);
    mira::CopyField(reinterpret_cast<char*>(p + 32), 256, task->m_strUrl);
    mira::CopyField(reinterpret_cast<char*>(p + 512), 256, task->m_strText);
    PutInt(p + 800, task->m_nTotal, 8);
    PutInt(p + 808, task->m_nDone, 8);
    return 1;
}

}  // extern "C"
