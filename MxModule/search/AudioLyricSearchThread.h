// A lyric search: the lyric server's candidates for a song.
#pragma once

#include "MxModule/search/AudioSearchThreadBase.h"

struct IXMLDOMDocument;

class MX_EXPORT CAudioLyricSearchThread : public CAudioSearchThreadBase {
public:
    int Run() override;
    // Reads a loaded answer's candidates; false when it has no "rss"/"rovanresult" to read.
    bool ReadAnswer(IXMLDOMDocument* pDoc, LYRICRESULTLIST& results);

    CString m_strFirst;   // with LSRT_ADDRESS, the address of the answer itself
    CString m_strSecond;  // required by the other forms
    LyricSearchResultType m_nResultType = LSRT_OEM;
};
