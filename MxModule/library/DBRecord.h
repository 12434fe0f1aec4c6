// The library's song record: nineteen texts in a fixed order, which is also their order on disk and the
// bit order of an update mask (bit k selects field k; 0x7FFFF selects all).
#pragma once

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"

struct MX_EXPORT DBRECORD {
    CString FileName;     // full path of the song file; the record's identity
    CString Song;         // title
    CString Artist;
    CString Album;
    CString Type;         // file type text, lower case
    CString Duration;     // decimal
    CString Opinion;      // the user's rating, decimal
    CString FileLength;   // bytes, decimal
    CString Track;
    CString Genre;        // genre code 0-255, decimal
    CString MD5;
    CString CanPlay;      // "1" playable, "0" not
    CString GenreString;  // genre name
    CString DownloadURL;
    CString Bitrate;
    CString Analyzed;     // "0" until the file's tags have been read
    CString Extra1;
    CString Extra2;
    CString Extra3;

    // A blank record holds the defaults: " " in most texts, "未知" as title, artist and album,
    // "Unknow" as genre name, and "0", "3", "1" in the numeric fields.
    DBRECORD();

    static const int kFieldCount = 19;
    static const DWORD kAllFields = 0x7FFFF;
    // Field k in the fixed order.
    CString& Field(int k);
    const CString& Field(int k) const;
};

typedef CList<DBRECORD, DBRECORD> DBRECORDLIST;
