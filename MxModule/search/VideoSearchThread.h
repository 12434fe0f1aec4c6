// A video search: the video server's playable entries for a keyword.
#pragma once

#include "MxModule/search/VideoSearchThreadBase.h"

struct IXMLDOMDocument;

class MX_EXPORT CVideoSearchThread : public CVideoSearchThreadBase {
public:
    int Run() override;

    CString m_strKeyword;

    // Reads a loaded answer's entries, up to the first incomplete one.
    void ReadAnswer(IXMLDOMDocument* pDoc, VIDEORESULTLIST& results);

private:
    void Fetch(VIDEORESULTLIST& results);
};
