#include "MxModule/library/DBPLFile.h"

#include <algorithm>

#include "MxModule/foundation/MemoryManager.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/LibraryFormat.h"

using namespace mxlib;

namespace {
const unsigned char kFreeMark[2] = {kEntryFree, 0};
}

CDBPLFile::CDBPLFile(const CString& strFolder) : m_strFolder(strFolder), m_dwHighestPosition(0) {}

CDBPLFile::~CDBPLFile() { m_file.Close(); }

CString CDBPLFile::FilePath(const CString& strName) const { return m_strFolder + strName + kPlaylistExtension; }

bool CDBPLFile::WriteAt(DWORD dwOffset, const void* pData, UINT nSize) {
    m_file.ClearFailure();
    m_file.Seek(LONG(dwOffset), CFile::begin);
    m_file.Write(pData, nSize);
    m_file.Flush();
    return !m_file.GetFailure();
}

int CDBPLFile::Load(const CString& strName, const CDBCore& store) {
    m_file.Close();
    m_arrPositions.clear();
    m_mapPositionToId.clear();
    m_mapIdToPositions.clear();
    m_mapPositionToOffset.clear();
    m_setFree.clear();
    m_dwHighestPosition = 0;
    if (!m_file.Open(FilePath(strName), CFile::modeReadWrite | CFile::typeBinary)) return 0;
    DWORD length = m_file.GetLength();
    if (length == DWORD(-1)) return 0;
    CMemoryManager memory;
    auto* data = reinterpret_cast<unsigned char*>(memory.Allocate(int(length > 0 ? length : 1)));
    if (!data) return 0;
    m_file.SeekToBegin();
    DWORD size = m_file.Read(data, length);
    for (DWORD offset = 0; offset + kEntrySize <= size; offset += kEntrySize) {
        const unsigned char* entry = data + offset;
        DWORD position = GetU32(entry);
        int id = int(GetU32(entry + 4));
        unsigned char state = entry[kEntryStateOffset];
        if (state == kEntryLive && store.HasSongId(id) && !m_mapPositionToId.count(position)) {
            m_mapPositionToId[position] = id;
            m_mapIdToPositions.emplace(id, position);
            m_mapPositionToOffset[position] = offset;
            m_dwHighestPosition = std::max(m_dwHighestPosition, position);
        } else if (state == kEntryLive) {
            // The song has left the library (or the position is taken twice): the entry is free from now on.
            WriteAt(offset + kEntryStateOffset, kFreeMark, sizeof kFreeMark);
            m_setFree.insert(offset);
        } else if (state == kEntryFree) {
            m_setFree.insert(offset);
        }
    }
    for (const auto& p : m_mapPositionToId) m_arrPositions.push_back(p.first);  // ascending
    return 1;
}

int CDBPLFile::GetSongIds(CList<int, int>& ids) const {
    ids.RemoveAll();
    for (DWORD position : m_arrPositions) ids.AddTail(m_mapPositionToId.at(position));
    return 1;
}

int CDBPLFile::AddSong(int nSongId) {
    // A damaged file can hold the highest possible position number; nothing can follow it.
    if (m_dwHighestPosition == 0xFFFFFFFFu) return 0;
    DWORD position = m_dwHighestPosition + 1;
    DWORD offset = 0;
    if (!m_setFree.empty()) {
        offset = *m_setFree.begin();
        m_setFree.erase(m_setFree.begin());
    } else {
        offset = m_file.SeekToEnd();
        if (offset == DWORD(-1)) return 0;
    }
    unsigned char entry[kEntrySize] = {};
    PutU32(entry, position);
    PutU32(entry + 4, uint32_t(nSongId));
    if (!WriteAt(offset, entry, kEntrySize)) {
        // Not stored (a full disk): the place stays free, and a cut entry at the end is removed.
        if (offset == m_file.GetLength() - kEntrySize || m_file.GetLength() % kEntrySize) m_file.SetLength(offset);
        else m_setFree.insert(offset);
        return 0;
    }
    m_dwHighestPosition = position;
    m_mapPositionToId[position] = nSongId;
    m_mapIdToPositions.emplace(nSongId, position);
    m_mapPositionToOffset[position] = offset;
    m_arrPositions.push_back(position);
    return 1;
}

int CDBPLFile::GetSongIdAt(int nIndex) const {
    if (nIndex < 1 || nIndex > GetCount()) return -1;
    return m_mapPositionToId.at(m_arrPositions[size_t(nIndex - 1)]);
}

void CDBPLFile::FreeEntry(DWORD dwPosition) {
    auto at = m_mapPositionToOffset.find(dwPosition);
    if (at == m_mapPositionToOffset.end()) return;
    DWORD offset = at->second;
    WriteAt(offset + kEntryStateOffset, kFreeMark, sizeof kFreeMark);
    int id = m_mapPositionToId.at(dwPosition);
    for (auto it = m_mapIdToPositions.lower_bound(id); it != m_mapIdToPositions.end() && it->first == id; ++it) {
        if (it->second == dwPosition) {
            m_mapIdToPositions.erase(it);
            break;
        }
    }
    m_mapPositionToId.erase(dwPosition);
    m_mapPositionToOffset.erase(dwPosition);
    m_arrPositions.erase(std::find(m_arrPositions.begin(), m_arrPositions.end(), dwPosition));
    m_setFree.insert(offset);
}

int CDBPLFile::RemoveAt(int nIndex, int nSongId) {
    if (nIndex < 1 || nIndex > GetCount()) return 0;
    DWORD position = m_arrPositions[size_t(nIndex - 1)];
    if (m_mapPositionToId.at(position) != nSongId) return 0;
    FreeEntry(position);
    return 1;
}

int CDBPLFile::RemoveSong(int nSongId) {
    std::vector<DWORD> positions;
    for (auto it = m_mapIdToPositions.lower_bound(nSongId); it != m_mapIdToPositions.end() && it->first == nSongId; ++it) {
        positions.push_back(it->second);
    }
    for (DWORD position : positions) FreeEntry(position);
    m_dwHighestPosition = m_arrPositions.empty() ? 0 : m_arrPositions.back();
    // Free entries at the end of the file go.
    DWORD length = m_file.GetLength();
    if (length == DWORD(-1)) return 1;
    DWORD end = length - length % kEntrySize;
    while (end >= kEntrySize && m_setFree.count(end - kEntrySize)) {
        end -= kEntrySize;
        m_setFree.erase(end);
    }
    if (end < length) m_file.SetLength(end);
    return 1;
}

int CDBPLFile::Contains(int nSongId) const { return m_mapIdToPositions.count(nSongId) != 0; }

int CDBPLFile::MoveSong(int nFrom, int nTo) {
    int count = GetCount();
    if (nFrom < 1 || nFrom > count || nTo < 1 || nTo > count) return 0;
    if (nFrom == nTo) return 1;
    // The entries in playlist order; each keeps its file slot and takes the position number of its new place.
    std::vector<std::pair<int, DWORD>> entries;  // song ID, offset
    for (DWORD position : m_arrPositions) entries.emplace_back(m_mapPositionToId[position], m_mapPositionToOffset[position]);
    auto moved = entries[size_t(nFrom - 1)];
    entries.erase(entries.begin() + (nFrom - 1));
    entries.insert(entries.begin() + (nTo - 1), moved);
    m_mapPositionToId.clear();
    m_mapIdToPositions.clear();
    for (size_t i = 0; i < entries.size(); ++i) {
        DWORD position = m_arrPositions[i];
        if (m_mapPositionToOffset[position] != entries[i].second) {
            unsigned char number[4];
            PutU32(number, position);
            WriteAt(entries[i].second, number, sizeof number);
        }
        m_mapPositionToId[position] = entries[i].first;
        m_mapIdToPositions.emplace(entries[i].first, position);
    }
    for (size_t i = 0; i < entries.size(); ++i) m_mapPositionToOffset[m_arrPositions[i]] = entries[i].second;
    return 1;
}

int CDBPLFile::Rename(const CString& strOld, const CString& strNew) {
    m_file.Close();
    // A file that cannot be moved stays open under its old name.
    BOOL moved = MoveFileA(FilePath(strOld), FilePath(strNew));
    int opened = m_file.Open(FilePath(moved ? strNew : strOld), CFile::modeReadWrite | CFile::typeBinary);
    return moved && opened;
}
