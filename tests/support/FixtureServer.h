// An HTTP server inside the test process, on 127.0.0.1 and a free port, answering fixed documents by
// path and recording every request target it got.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mxtest {

class FixtureServer {
public:
    // extraRoutes may add handlers of its own; they come before the fixed documents.
    explicit FixtureServer(const std::function<void(httplib::Server&)>& extraRoutes = nullptr) {
        if (extraRoutes) extraRoutes(m_server);
        m_server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::string answer;
            int status = 404;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_targets.push_back(req.target);
                for (const auto& d : m_documents)
                    if (d.path == req.path) {
                        answer = d.body;
                        status = d.status;
                    }
            }
            for (int waited = 0; waited < m_delayMs && !m_stopping; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            res.status = status;
            res.set_content(answer, "text/xml");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // A stop before the listener runs would be lost, and the join below would wait for ever.
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FixtureServer() {
        m_stopping = true;
        m_server.stop();
        m_thread.join();
    }
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    // "http://127.0.0.1:PORT", without a trailing slash.
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    int Port() const { return m_port; }
    void Serve(const std::string& path, const std::string& body, int status = 200) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_documents.push_back({path, body, status});
    }
    // Every answer waits this long first (cut short when the server stops).
    void SetDelay(int ms) { m_delayMs = ms; }
    // Raw request targets (path and query) in arrival order.
    std::vector<std::string> Targets() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_targets;
    }

private:
    struct Document {
        std::string path, body;
        int status;
    };
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_lock;
    std::vector<Document> m_documents;
    std::vector<std::string> m_targets;
    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_stopping{false};
};

}  // namespace mxtest
