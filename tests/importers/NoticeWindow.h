// The front end's window for the readers of other players: "player version" of each notice that an
// installed player gave no playlist.
#pragma once

#include <string>
#include <vector>

#include "MessageSink.h"

namespace mxtest {

class NoticeWindow {
public:
    HWND Get() const { return m_sink.GetHwnd(); }
    // The notices posted since the last call, in UTF-8.
    std::vector<std::string> Take() {
        m_sink.PumpPending();
        std::vector<std::string> out;
        for (; m_nSeen < m_sink.Messages().size(); ++m_nSeen) {
            const RECEIVEDMSG& m = m_sink.Messages()[m_nSeen];
            if (m.nMessage == WM_MX_FIND_PLAYER_NO_LIST) out.push_back(MxAnsiToUtf8(m.strText[0]) + " " + MxAnsiToUtf8(m.strText[1]));
        }
        return out;
    }

private:
    CMessageSink m_sink;
    size_t m_nSeen = 0;
};

}  // namespace mxtest
