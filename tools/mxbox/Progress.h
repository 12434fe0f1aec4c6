// Progress on stderr for the long mxbox commands.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace mxbox {

// Progress on stderr: one line redrawn in place on a terminal, plain lines (only on change) otherwise.
class Progress {
public:
    Progress() : m_tty(isatty(fileno(stderr)) != 0) {}
    ~Progress() { Done(); }
    bool Tty() const { return m_tty; }
    void Show(const std::string& text) {
        if (text == m_last) return;
        m_last = text;
        if (m_tty)
            std::cerr << "\r\033[K" << text << std::flush;
        else
            std::cerr << text << "\n";
    }
    void Bar(const char* what, size_t done, size_t total, const std::string& item) {
        const int width = 30;
        int filled = total ? int(done * width / total) : width;
        if (!m_tty) {
            Show(std::string(what) + " " + std::to_string(done) + "/" + std::to_string(total) + (item.empty() ? "" : ": " + item));
            return;
        }
        Show(std::string(what) + " [" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') + "] " +
             std::to_string(done) + "/" + std::to_string(total));
    }
    void Done() {
        if (m_tty && !m_last.empty()) std::cerr << "\n";
        m_last.clear();
    }

private:
    bool m_tty;
    std::string m_last;
};

}  // namespace mxbox
