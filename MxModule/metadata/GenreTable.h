// The ID3v1 genre list (codes 0 to 147, with its usual misspellings kept), used in both directions by
// the MP3 and WMA readers.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/text.h"

namespace mxmeta {

const BYTE kUnknownGenreCode = 255;
extern const char kUnknownGenreName[];  // "Unknow"

// The name of a code; "Unknow" for 148 to 255.
MX_TESTABLE CString GenreName(BYTE byCode);
// The code whose name equals the text exactly (case-sensitive, no trimming); 255 otherwise.
MX_TESTABLE BYTE GenreCode(const CString& strName);

// A genre text as the tags hold it: a number in parentheses ("(17)") names the code, anything else is
// the name itself.
MX_TESTABLE void ParseGenreText(const CString& strText, BYTE& byCode, CString& strName);

}  // namespace mxmeta
