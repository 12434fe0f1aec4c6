// A lyric search: the lyric server's candidates for a song.
#pragma once

#include "MxModule/search/AudioSearchThreadBase.h"

class MX_EXPORT CAudioLyricSearchThread : public CAudioSearchThreadBase {
public:
    int Run() override;

    CString m_strFirst;   // with LSRT_ADDRESS, the address of the answer itself
    CString m_strSecond;  // required by the other forms
    LyricSearchResultType m_nResultType = LSRT_OEM;
};
