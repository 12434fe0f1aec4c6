// What the song, lyric and video searches share: server addresses and the name cleaner.
#pragma once

#include "platform/text.h"

namespace SearchCommon {

// A server's base address from the deployment settings (HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE,
// SOFTWARE\Tamborinebox\Servers): "SongSearch", "Lyric", "Video" or "DownloadAddress". "" when unset.
CString ServerAddress(LPCSTR pszName);

// Titles, artists and albums as file names can hold them: trimmed, then every control character, space,
// stray byte from 0x7F up and \ / * " : | < > ? replaced by a space, so the text keeps its length;
// two- and four-byte characters of the code page stay whole (a GBK character may start with 0x81).
CString CleanName(CString strText);

}  // namespace SearchCommon

