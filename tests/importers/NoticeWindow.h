// For the tests of the readers of other players: the front end's window, which takes "player version"
// of each notice that an installed player gave no playlist, and the text the players' files hold.
#pragma once

#include <string>
#include <vector>

#include "MessageSink.h"
#include "MxModule/foundation/RegistryValue.h"

namespace mxtest {

inline void SetReg(HKEY root, const std::string& name, const std::string& value) { registry_string<std::string>(name, root) = value; }

// UTF-16LE of ASCII text.
inline std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{c, '\0'};
    return out;
}

class NoticeWindow {
public:
    HWND Get() const { return m_sink.GetHwnd(); }
    // The notices posted since the last call, in UTF-8.
    std::vector<std::string> Take() {
        m_sink.PumpPending();
        std::vector<std::string> out;
        for (; m_nSeen < m_sink.Messages().size(); ++m_nSeen)
            if (const RECEIVEDMSG& m = m_sink.Messages()[m_nSeen]; m.nMessage == WM_MX_FIND_PLAYER_NO_LIST)
                out.push_back(MxAnsiToUtf8(m.strText[0]) + " " + MxAnsiToUtf8(m.strText[1]));
        return out;
    }

private:
    CMessageSink m_sink;
    size_t m_nSeen = 0;
};

}  // namespace mxtest
