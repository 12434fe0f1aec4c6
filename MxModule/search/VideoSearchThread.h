// A video search: the video server's playable entries for a keyword.
#pragma once

#include "MxModule/search/VideoSearchThreadBase.h"

class MX_EXPORT CVideoSearchThread : public CVideoSearchThreadBase {
public:
    int Run() override;

    CString m_strKeyword;

private:
    void Fetch(VIDEORESULTLIST& results);
};
