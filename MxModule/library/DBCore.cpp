#include "MxModule/library/DBCore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "MxModule/foundation/MxLog.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/LibraryFormat.h"

using namespace mxlib;

void (*CDBCore::s_pfnWriteStepHook)(int) = nullptr;

namespace {

const UINT kOpenExisting = CFile::modeReadWrite | CFile::typeBinary;                     // 0x8002
const UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;       // 0x9002

bool FileExists(const CString& path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// True when both open files hold the same bytes: the answer a comparison of their MD5 digests gives,
// without hashing either.
bool SameContent(CMxFile& fa, CMxFile& fb) {
    if (fa.GetLength() != fb.GetLength()) return false;
    fa.Seek(0, CFile::begin);
    fb.Seek(0, CFile::begin);
    std::vector<char> x(1 << 16), y(1 << 16);
    while (true) {
        UINT n = fa.Read(x.data(), UINT(x.size()));
        if (fb.Read(y.data(), UINT(y.size())) != n || std::memcmp(x.data(), y.data(), n) != 0) return false;
        if (n < x.size()) return true;
    }
}

// The whole of an open file, or false when it cannot be read.
bool ReadAll(CMxFile& f, std::string& data) {
    DWORD length = f.GetLength();
    if (length == DWORD(-1)) return false;
    data.resize(length);
    f.Seek(0, CFile::begin);
    return f.Read(&data[0], length) == length;
}

CString SongKey(const CString& song, const CString& artist, const CString& album, int length) {
    CString key;
    key.Format("%s?%s?%s?%d", static_cast<LPCSTR>(song), static_cast<LPCSTR>(artist), static_cast<LPCSTR>(album), length);
    return key;
}

CString SongKeyOf(const DBRECORD& rec) { return SongKey(rec.Song, rec.Artist, rec.Album, std::atoi(rec.FileLength)); }

DWORD PayloadLength(const DBRECORD& rec) {
    DWORD n = DBRECORD::kFieldCount * kFieldHeaderSize;
    for (int k = 0; k < DBRECORD::kFieldCount; ++k) n += DWORD(rec.Field(k).GetLength());
    return n;
}

// A fresh file's header with the given state byte.
std::string FreshHeader(unsigned char state) {
    unsigned char h[kHeaderSize] = {};
    h[0] = state;
    PutU32(h + 8, kFormatNumber);
    return std::string(reinterpret_cast<char*>(h), sizeof h);
}

// True when the block header at pos (null when the file ends before it) gives a block of a possible
// size that fits in a file of the given length.
bool IsBlockAt(const unsigned char* block, uint64_t pos, uint64_t length) {
    if (!block) return false;
    uint64_t L = GetU32(block + 4), S = GetU32(block + 8);
    return L != 0 && IsBlockCapacity(L + S) && pos + kBlockHeaderSize + L + S <= length;
}

// Checks the blocks of a file being salvaged: blocks of impossible size end the data, live blocks whose
// fields do not add up become free. The bytes taken out of the library (the cut tail, the freed blocks)
// go to pDamage, offsets counted from dwBase. Returns the length of the data that stays.
size_t ValidateBlocks(unsigned char* data, size_t size, DWORD dwBase, std::vector<DAMAGE>* pDamage) {
    size_t pos = 0;
    while (pos < size) {
        uint64_t L = size - pos < kBlockHeaderSize ? 0 : GetU32(data + pos + 4), S = size - pos < kBlockHeaderSize ? 0 : GetU32(data + pos + 8);
        if (size - pos < kBlockHeaderSize || !IsBlockCapacity(L + S) || L + S > size - pos - kBlockHeaderSize) {
            pDamage->push_back({DWORD(dwBase + pos), std::string(reinterpret_cast<char*>(data + pos), size - pos)});
            return pos;
        }
        if (data[pos + kBlockFlagsOffset] == kBlockLive) {
            const unsigned char* p = data + pos + kBlockHeaderSize;
            uint64_t avail = size - pos - kBlockHeaderSize, used = 0;
            bool ok = true;
            for (int k = 0; k < DBRECORD::kFieldCount && ok; ++k) {
                ok = used + kFieldHeaderSize <= avail;
                if (!ok) break;
                uint64_t n = GetU32(p + used);
                used += kFieldHeaderSize + n;
                ok = used <= avail;
            }
            if (!ok || used != L) {
                pDamage->push_back({DWORD(dwBase + pos), std::string(reinterpret_cast<char*>(data + pos), kBlockHeaderSize + L + S)});
                data[pos + kBlockFlagsOffset] = kBlockFree;
                data[pos + kBlockFlagsOffset + 1] = 0;
            }
        }
        pos += kBlockHeaderSize + L + S;
    }
    return size;
}

}  // namespace

CString LowerPath(const CString& strPath) { return MxFoldCase(strPath); }

CString TitleFromPath(const CString& strPath) {
    CString name = strPath.Mid(strPath.ReverseFind('\\') + 1);
    int dot = name.ReverseFind('.');
    return dot >= 0 ? name.Left(dot) : name;
}

void FillEmptyTexts(DBRECORD& rec) {
    if (rec.Song.IsEmpty()) rec.Song = TitleFromPath(rec.FileName);
    if (rec.Artist.IsEmpty()) rec.Artist = CMxPublic::GbkLiteral(kUnknown);
    if (rec.Album.IsEmpty()) rec.Album = CMxPublic::GbkLiteral(kUnknown);
    if (rec.GenreString.IsEmpty()) rec.GenreString = kUnknownGenre;
}

CDBCore::CDBCore(const CString& strFolder)
    : m_strMainPath(strFolder + kLibraryFile),
      m_strBackupPath(strFolder + kMirrorFile),
      m_nHighestId(0),
      m_dwFileEnd(kHeaderSize),
      m_nSteps(0),
      m_pStale(nullptr) {}

CDBCore::~CDBCore() { ClosePair(); }

void CDBCore::Step() {
    ++m_nSteps;
    if (s_pfnWriteStepHook) s_pfnWriteStepHook(m_nSteps);
}

bool CDBCore::WriteMarked(const std::vector<std::pair<DWORD, std::string>>& ranges) {
    if (!Heal()) return false;
    // Several ranges share one pair of marks, so that a record moving to a new block and the release of
    // its old block reach the disk together or not at all.
    for (CMxFile* f : {&m_fileMain, &m_fileBackup}) {
        f->ClearFailure();
        f->Seek(0, CFile::begin);
        f->Write(&kStateBusy, 1);
        Step();
        f->Flush();
        Step();
        for (const auto& range : ranges) {
            f->Seek(LONG(range.first), CFile::begin);
            f->Write(range.second.data(), UINT(range.second.size()));
            Step();
        }
        // The ranges reach the system before the clean mark is written, and a file whose write failed
        // (a full disk) stays marked busy.
        f->Flush();
        if (!f->GetFailure()) {
            f->Seek(0, CFile::begin);
            f->Write(&kStateClean, 1);
            Step();
            f->Flush();
            Step();
        }
        if (DWORD failure = f->GetFailure()) {
            m_pStale = f;
            Heal();
            SetLastError(failure);
            // Once the main file holds the change, the next open copies it to the mirror in any case.
            return f == &m_fileBackup;
        }
    }
    return true;
}

bool CDBCore::Heal() {
    if (!m_pStale) return true;
    CMxFile& good = m_pStale == &m_fileMain ? m_fileBackup : m_fileMain;
    if (!CopyInto(good, *m_pStale)) return false;
    m_pStale = nullptr;
    return true;
}

void CDBCore::ClosePair() {
    m_fileMain.Close();
    m_fileBackup.Close();
    m_pStale = nullptr;  // its busy mark has the next open repair it
}

bool CDBCore::OpenPair() {
    ClosePair();
    return m_fileMain.Open(m_strMainPath, kOpenExisting) && m_fileBackup.Open(m_strBackupPath, kOpenExisting);
}

bool CDBCore::WriteFreshPair() {
    ClosePair();
    for (const auto& file : {std::make_pair(&m_fileMain, &m_strMainPath), std::make_pair(&m_fileBackup, &m_strBackupPath)}) {
        CMxFile& f = *file.first;
        if (!f.Open(*file.second, kCreate | CFile::modeNoTruncate)) return false;
        if (f.GetLength() != 0) {
            // Another process made the library meanwhile: its files are opened again, as existing ones.
            ClosePair();
            SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        f.Seek(0, CFile::begin);
        std::string header = FreshHeader(kStateBusy);
        f.Write(header.data(), UINT(header.size()));
        f.Flush();
        f.Seek(0, CFile::begin);
        f.Write(&kStateClean, 1);
        f.Flush();
    }
    ClearIndexes();
    return true;
}

void CDBCore::ClearIndexes() {
    m_mapByPath.clear();
    m_mapOffsetToPath.clear();
    m_mapIdToPath.clear();
    m_mapSongKey.clear();
    m_mapOffsetToKey.clear();
    m_mapFreeBlocks.clear();
    m_arrBlocks.clear();
    m_nHighestId = 0;
    m_dwFileEnd = kHeaderSize;
}

int CDBCore::OpenLibrary() {
    ClosePair();
    ClearIndexes();
    bool haveMain = FileExists(m_strMainPath), haveMirror = FileExists(m_strBackupPath);
    if (!haveMain && !haveMirror) return StartFresh();
    if (haveMain != haveMirror && !RestoreMissingFile(haveMain ? m_strMainPath : m_strBackupPath,
                                                      haveMain ? m_strBackupPath : m_strMainPath)) {
        return 0;
    }
    if (!FileExists(m_strMainPath) && !FileExists(m_strBackupPath)) return StartFresh();
    // Both files stay open, exclusively, until the library closes: another process waits for them.
    if (OpenPair() && RepairPair() && Load()) return 1;
    DWORD error = GetLastError();
    ClosePair();  // an unusable library holds no file
    SetLastError(error);
    return 0;
}

int CDBCore::StartFresh() {
    if (!WriteFreshPair()) return 0;
    // A legacy "LocalSearch.mdb" fills a new library once. It goes only when its table was read to the
    // end; otherwise it is set aside under another name, not tried again at every start.
    CString legacy = m_strMainPath.Left(m_strMainPath.ReverseFind('\\') + 1) + kLegacyFile;
    if (!FileExists(legacy)) return 1;
    CString why;
    if (ImportLegacyRows(legacy, why)) {
        DeleteFileA(legacy);
    } else {
        CMxLog::Instance()->Log("library: " + CString(kLegacyFile) + " could not be imported (" + why + "); kept as " + kLegacyFile +
                                kUnimportedSuffix);
        MoveFileA(legacy, legacy + kUnimportedSuffix);
    }
    return 1;
}

bool CDBCore::RestoreMissingFile(const CString& strLone, const CString& strMissing) {
    // The lone file's checked blocks are written beside the missing one and renamed into place whole;
    // only then is the lone file marked for repair from it. No step changes the lone file's data.
    std::string data;
    CMxFile lone;
    if (!lone.Open(strLone, kOpenExisting) || !ReadAll(lone, data)) return false;
    std::vector<DAMAGE> damage;
    if (data.size() < kHeaderSize) {
        // Shorter than a header (a first start cut short): no record in it; the library starts again.
        if (!data.empty()) damage.push_back({0, data});
        lone.Close();
        return KeepDamage(strLone, damage) && DeleteFileA(strLone);
    }
    std::string image = SalvagedImage(data, damage);
    if (!KeepDamage(strLone, damage)) return false;
    CString temp = strMissing + kNewFileSuffix;
    {
        CMxFile f;
        if (!f.Open(temp, kCreate)) return false;
        f.Write(image.data(), UINT(image.size()));
        f.Flush();
        Step();
        if (DWORD failure = f.GetFailure()) {
            f.Close();
            DeleteFileA(temp);
            SetLastError(failure);
            return false;
        }
    }
    lone.Seek(0, CFile::begin);
    lone.Write(&kStateBusy, 1);
    lone.Flush();
    Step();
    if (lone.GetFailure()) return false;
    lone.Close();
    if (!MoveFileA(temp, strMissing)) return false;
    Step();
    return true;
}

bool CDBCore::RepairPair() {
    unsigned char mainState = kStateBusy, backupState = kStateBusy;
    m_fileMain.Seek(0, CFile::begin);
    m_fileBackup.Seek(0, CFile::begin);
    m_fileMain.Read(&mainState, 1);
    m_fileBackup.Read(&backupState, 1);
    if (mainState == kStateClean) {
        return (backupState == kStateClean && SameContent(m_fileMain, m_fileBackup)) || CopyInto(m_fileMain, m_fileBackup);
    }
    if (backupState == kStateClean) return CopyInto(m_fileBackup, m_fileMain);
    // Both caught in a write, which the marked writes never leave behind: the checked blocks of the file
    // that keeps more become the mirror, then the mirror the main file. Files shorter than a header hold
    // nothing and start again.
    std::string mainData, backupData;
    if (!ReadAll(m_fileMain, mainData) || !ReadAll(m_fileBackup, backupData)) return false;
    std::string salvaged = FreshHeader(kStateClean);
    std::vector<DAMAGE> damage;
    const CString* from = &m_strMainPath;
    for (const std::string* data : {&mainData, &backupData}) {
        if (data->size() < kHeaderSize) continue;
        std::vector<DAMAGE> lost;
        std::string image = SalvagedImage(*data, lost);
        if (image.size() <= salvaged.size()) continue;
        salvaged.swap(image);
        damage.swap(lost);
        from = data == &mainData ? &m_strMainPath : &m_strBackupPath;
    }
    if (!KeepDamage(*from, damage)) return false;
    CMxFile source(salvaged.data(), int(salvaged.size()));
    return CopyInto(source, m_fileBackup) && CopyInto(m_fileBackup, m_fileMain);
}

bool CDBCore::CopyInto(CMxFile& src, CMxFile& dst) {
    // The target stays marked busy until its last byte is written, so a copy cut short is copied again
    // at the next open from the source, which is never written.
    DWORD length = src.GetLength();
    if (length == DWORD(-1) || length < kHeaderSize) return false;
    dst.ClearFailure();
    dst.Seek(0, CFile::begin);
    dst.Write(&kStateBusy, 1);
    dst.Flush();
    Step();
    std::vector<char> buf(1 << 20);
    for (DWORD pos = 1; pos < length;) {
        src.Seek(LONG(pos), CFile::begin);
        UINT n = src.Read(buf.data(), UINT(std::min<DWORD>(length - pos, DWORD(buf.size()))));
        if (n == 0) return false;
        dst.Seek(LONG(pos), CFile::begin);
        dst.Write(buf.data(), n);
        pos += n;
    }
    dst.Flush();
    Step();
    dst.SetLength(length);
    if (dst.GetFailure() || dst.GetLength() != length) return false;
    dst.Seek(0, CFile::begin);
    dst.Write(&kStateClean, 1);
    dst.Flush();
    Step();
    return !dst.GetFailure();
}

namespace {
// Reads a file front to back through a window, so that loading a large library never holds the whole
// file in memory.
class SequentialReader {
public:
    SequentialReader(CMxFile& file, uint64_t size) : m_file(file), m_size(size) {}
    // The bytes [pos, pos + len), or null when they are not all in the file.
    const unsigned char* Need(uint64_t pos, size_t len) {
        if (pos + len > m_size) return nullptr;
        if (pos >= m_start && pos + len <= m_start + m_window.size()) return m_window.data() + (pos - m_start);
        size_t want = std::max<size_t>(len, kWindow);
        want = size_t(std::min<uint64_t>(want, m_size - pos));
        m_window.resize(want);
        m_file.Seek(LONG(pos), CFile::begin);
        m_window.resize(m_file.Read(m_window.data(), UINT(want)));
        m_start = pos;
        return m_window.size() >= len ? m_window.data() : nullptr;
    }

private:
    static constexpr size_t kWindow = 1 << 20;
    CMxFile& m_file;
    uint64_t m_size;
    uint64_t m_start = 0;
    std::vector<unsigned char> m_window;
};
}  // namespace

int CDBCore::Load() {
    m_fileMain.Seek(0, CFile::begin);
    m_fileBackup.Seek(0, CFile::begin);
    DWORD length = m_fileMain.GetLength();
    if (length == DWORD(-1) || length < kHeaderSize) return 0;
    SequentialReader reader(m_fileMain, length);
    const unsigned char* header = reader.Need(0, kHeaderSize);
    if (!header) return 0;
    m_dwFileEnd = length;
    uint64_t pos = uint64_t(kHeaderSize) + GetU32(header + kExtensionLengthOffset);
    if (pos > length || (pos != kHeaderSize && !IsBlockAt(reader.Need(pos, kBlockHeaderSize), pos, length) &&
                         IsBlockAt(reader.Need(kHeaderSize, kBlockHeaderSize), kHeaderSize, length))) {
        // A damaged extension length would hide every block, and songs added after them.
        CMxLog::Instance()->Log("library: a damaged extension length in the header of " + CString(kLibraryFile) + " was reset");
        if (!WriteMarked({{kExtensionLengthOffset, std::string(4, '\0')}})) return 0;
        pos = kHeaderSize;
    }
    while (const unsigned char* block = reader.Need(pos, kBlockHeaderSize)) {
        uint32_t id = GetU32(block), L = GetU32(block + 4), S = GetU32(block + 8);
        // A block that does not fit in the file is damage: loading stops there, so that no later write
        // trusts its size.
        if (L == 0 || pos + kBlockHeaderSize + L + S > length) break;
        unsigned char flags = block[kBlockFlagsOffset];
        if (flags == kBlockLive) {
            // Only the path is decoded now; the rest of the record is read when it is needed.
            if (L < kFieldHeaderSize) break;
            const unsigned char* field = reader.Need(pos + kBlockHeaderSize, kFieldHeaderSize);
            uint32_t n = field ? GetU32(field) : 0;
            if (!field || uint64_t(n) + kFieldHeaderSize > L) break;
            const char* text = reinterpret_cast<const char*>(reader.Need(pos + kBlockHeaderSize + kFieldHeaderSize, n));
            if (!text) break;
            CString path(std::string(text, strnlen(text, n)));
            CString lower = LowerPath(path);
            auto inserted = m_mapByPath.emplace(lower, SongEntry{path, DWORD(pos), int(id), -1, 0});
            SongEntry& entry = inserted.first->second;
            const CString* key = &inserted.first->first;
            if (!inserted.second) ++entry.nAliases;  // a second block of the same path: the first one rules
            if (m_mapOffsetToPath.emplace(DWORD(pos), key).second && !inserted.second) ++entry.nAliases;
            if (m_mapIdToPath.emplace(int(id), key).second && !inserted.second) ++entry.nAliases;
            if (id > uint32_t(m_nHighestId)) m_nHighestId = int(id);
        } else if (flags == kBlockFree) {
            m_mapFreeBlocks.emplace(DWORD(pos), L + S);
        }
        m_arrBlocks.push_back(DWORD(pos));
        pos += uint64_t(kBlockHeaderSize) + L + S;
    }
    return pos < length && !SetAsideDamage(DWORD(pos), length) ? 0 : 1;
}

bool CDBCore::SetAsideDamage(DWORD dwFrom, DWORD dwLength) {
    std::string bytes(dwLength - dwFrom, '\0');
    m_fileMain.Seek(LONG(dwFrom), CFile::begin);
    bytes.resize(m_fileMain.Read(&bytes[0], UINT(bytes.size())));
    // Kept nowhere, the damage stays, and so the library is not opened: a song added behind it would be
    // lost at the next load.
    if (!KeepDamage(m_strMainPath, {{dwFrom, bytes}})) return false;
    // The mirror holds the same bytes: both files end where the readable blocks end.
    m_fileMain.SetLength(dwFrom);
    Step();
    m_fileBackup.SetLength(dwFrom);
    Step();
    m_dwFileEnd = dwFrom;
    return true;
}

std::string CDBCore::SalvagedImage(const std::string& data, std::vector<DAMAGE>& damage) {
    uint64_t start = uint64_t(kHeaderSize) + GetU32(reinterpret_cast<const unsigned char*>(data.data()) + kExtensionLengthOffset);
    // A damaged extension length: the blocks follow the header.
    auto isBlockAt = [&data](uint64_t pos) {
        const unsigned char* block = reinterpret_cast<const unsigned char*>(data.data()) + pos;
        return IsBlockAt(pos + kBlockHeaderSize <= data.size() ? block : nullptr, pos, data.size());
    };
    if (start > data.size() || (start != kHeaderSize && !isBlockAt(start) && isBlockAt(kHeaderSize))) start = kHeaderSize;
    std::string blocks = data.substr(size_t(start));
    blocks.resize(ValidateBlocks(reinterpret_cast<unsigned char*>(&blocks[0]), blocks.size(), DWORD(start), &damage));
    return FreshHeader(kStateClean) + blocks;
}

bool CDBCore::KeepDamage(const CString& strFile, const std::vector<DAMAGE>& damage) {
    if (damage.empty()) return true;
    // Every piece is appended to one side file, after a line saying where its bytes came from.
    CString side = m_strMainPath.Left(m_strMainPath.ReverseFind('\\') + 1) + kDamagedFile, line;
    CString name = strFile.Mid(strFile.ReverseFind('\\') + 1);
    CMxFile f;
    bool kept = f.Open(side, kCreate | CFile::modeNoTruncate) != 0;
    if (kept) {
        f.SeekToEnd();
        for (const DAMAGE& d : damage) {
            line.Format("\r\n%u bytes from offset %u of %s:\r\n", DWORD(d.bytes.size()), d.dwOffset, static_cast<LPCSTR>(name));
            f.Write(static_cast<LPCSTR>(line), UINT(line.GetLength()));
            f.Write(d.bytes.data(), UINT(d.bytes.size()));
        }
        f.Flush();
        kept = !f.GetFailure();
        f.Close();
    }
    for (const DAMAGE& d : damage) {
        line.Format("library: %u unreadable bytes from offset %u of %s %s %s", DWORD(d.bytes.size()), d.dwOffset,
                    static_cast<LPCSTR>(name), kept ? "kept in" : "could not be kept in", kDamagedFile);
        CMxLog::Instance()->Log(line);
    }
    if (!kept) SetLastError(ERROR_WRITE_FAULT);
    return kept;
}

CDBCore::EntryIt CDBCore::Find(const CString& strPath) {
    if (strPath.IsEmpty()) return m_mapByPath.end();
    return m_mapByPath.find(LowerPath(strPath));
}

bool CDBCore::HasSongId(int nId) const { return m_mapIdToPath.count(nId) != 0; }

void CDBCore::PlaceBlock(DWORD N, DWORD& dwOffset, DWORD& dwSlack, bool& bReused) {
    for (const auto& free : m_mapFreeBlocks) {
        if (free.second >= N) {
            dwOffset = free.first;
            dwSlack = free.second - N;
            bReused = true;
            return;
        }
    }
    dwOffset = m_dwFileEnd;
    dwSlack = SlackFor(N);
    bReused = false;
}

std::string CDBCore::BuildBlock(int nId, const DBRECORD& rec, DWORD dwSlack) const {
    DWORD L = PayloadLength(rec);
    std::string block(kBlockHeaderSize + L + dwSlack, '\0');
    auto* p = reinterpret_cast<unsigned char*>(&block[0]);
    PutU32(p, uint32_t(nId));
    PutU32(p + 4, L);
    PutU32(p + 8, dwSlack);
    p[kBlockFlagsOffset] = kBlockLive;
    p += kBlockHeaderSize;
    for (int k = 0; k < DBRECORD::kFieldCount; ++k) {
        const CString& text = rec.Field(k);
        PutU32(p, uint32_t(text.GetLength()));
        std::memcpy(p + kFieldHeaderSize, static_cast<LPCSTR>(text), size_t(text.GetLength()));
        p += kFieldHeaderSize + text.GetLength();
    }
    return block;
}

void CDBCore::IndexSongKey(const DBRECORD& rec, DWORD dwOffset) {
    UnindexSongKey(dwOffset);
    CString key = SongKeyOf(rec);
    m_mapSongKey[key] = dwOffset;
    m_mapOffsetToKey[dwOffset] = key;
}

void CDBCore::UnindexSongKey(DWORD dwOffset) {
    auto it = m_mapOffsetToKey.find(dwOffset);
    if (it == m_mapOffsetToKey.end()) return;
    auto key = m_mapSongKey.find(it->second);
    // Another record with the same key keeps its entry.
    if (key != m_mapSongKey.end() && key->second == dwOffset) m_mapSongKey.erase(key);
    m_mapOffsetToKey.erase(it);
}

int CDBCore::AddRecord(DBRECORD* pRecord) {
    if (!pRecord || pRecord->FileName.IsEmpty()) return 0;
    CString lower = LowerPath(pRecord->FileName);
    if (m_mapByPath.count(lower)) return 0;
    DBRECORD rec = *pRecord;
    FillEmptyTexts(rec);
    DWORD N = PayloadLength(rec), offset = 0, slack = 0;
    bool reused = false;
    PlaceBlock(N, offset, slack, reused);
    int id = int(uint32_t(m_nHighestId) + 1);
    if (!WriteMarked({{offset, BuildBlock(id, rec, slack)}})) return 0;
    m_nHighestId = id;
    if (reused) {
        m_mapFreeBlocks.erase(offset);
    } else {
        m_arrBlocks.push_back(offset);
        m_dwFileEnd = offset + kBlockHeaderSize + N + slack;
    }
    IndexSongKey(rec, offset);
    auto it = m_mapByPath.emplace(lower, SongEntry{rec.FileName, offset, id, rec.Analyzed == "0" ? 0 : 1, 0}).first;
    m_mapOffsetToPath[offset] = &it->first;
    m_mapIdToPath[id] = &it->first;
    return 1;
}

int CDBCore::ReadRecord(DWORD dwOffset, DBRECORD* pRecord, int* pId, DWORD* pL, DWORD* pS) {
    unsigned char header[kBlockHeaderSize];
    if (m_fileMain.Seek(LONG(dwOffset), CFile::begin) != LONG(dwOffset) || m_fileMain.Read(header, kBlockHeaderSize) != kBlockHeaderSize) {
        return 0;
    }
    DWORD L = GetU32(header + 4);
    if (pId) *pId = int(GetU32(header));
    if (pL) *pL = L;
    if (pS) *pS = GetU32(header + 8);
    // A length beyond the file is damage, not an allocation to attempt.
    if (L > m_dwFileEnd - std::min<DWORD>(m_dwFileEnd, dwOffset + kBlockHeaderSize)) return 0;
    if (m_scratch.size() < L) m_scratch.resize(L);
    char* payload = m_scratch.data();
    DWORD got = m_fileMain.Read(payload, L);
    DWORD pos = 0;
    for (int k = 0; k < DBRECORD::kFieldCount; ++k) {
        if (got - pos < kFieldHeaderSize) return 0;
        DWORD n = GetU32(reinterpret_cast<unsigned char*>(payload + pos));
        pos += kFieldHeaderSize;
        if (n > got - pos) return 0;
        // The text ends at its count or at a zero byte, whichever comes first.
        pRecord->Field(k) = CString(std::string(payload + pos, strnlen(payload + pos, n)));
        pos += n;
    }
    return 1;
}

int CDBCore::GetRecord(CString strPath, DBRECORD* pRecord) {
    EntryIt it = Find(strPath);
    if (it == m_mapByPath.end() || !pRecord) return 0;
    DBRECORD rec;
    if (!ReadRecord(it->second.dwOffset, &rec)) return 0;
    rec.Type.MakeLower();
    *pRecord = rec;
    return 1;
}

void CDBCore::RemoveEntry(EntryIt it) {
    const CString* key = &it->first;
    if (it->second.nAliases > 0) {
        // Blocks of the same path met at load point at this key too.
        for (auto o = m_mapOffsetToPath.begin(); o != m_mapOffsetToPath.end();) o = o->second == key ? m_mapOffsetToPath.erase(o) : std::next(o);
        for (auto i = m_mapIdToPath.begin(); i != m_mapIdToPath.end();) i = i->second == key ? m_mapIdToPath.erase(i) : std::next(i);
    } else {
        m_mapOffsetToPath.erase(it->second.dwOffset);
        m_mapIdToPath.erase(it->second.nId);
    }
    m_mapByPath.erase(it);
}

int CDBCore::UpdateRecord(CString strPath, DBRECORD* pRecord, DWORD dwMask) {
    if (!pRecord || ((dwMask & 1) && pRecord->FileName.IsEmpty())) return 0;
    EntryIt it = Find(strPath);
    if (it == m_mapByPath.end()) return 0;
    DWORD offset = it->second.dwOffset, L = 0, S = 0;
    int id = it->second.nId;
    DBRECORD stored;
    ReadRecord(offset, &stored, nullptr, &L, &S);  // what cannot be read keeps the defaults
    CString newLower = (dwMask & 1) ? LowerPath(pRecord->FileName) : it->first;
    // A new path that names another record would merge two songs; it is refused.
    if (newLower != it->first && m_mapByPath.count(newLower)) return 0;

    DBRECORD rec = stored;
    for (int k = 0; k < DBRECORD::kFieldCount; ++k) {
        if (dwMask & (1u << k)) rec.Field(k) = pRecord->Field(k);
    }
    if ((dwMask & (1u << 1)) && pRecord->Song.IsEmpty() && stored.Analyzed == "0") {
        rec.Song = TitleFromPath((dwMask & 1) ? pRecord->FileName : strPath);
    }
    if ((dwMask & (1u << 12)) && rec.GenreString.IsEmpty()) rec.GenreString = kUnknownGenre;

    DWORD N = PayloadLength(rec);
    DWORD newOffset = offset;
    if (N <= L + S) {
        if (!WriteMarked({{offset, BuildBlock(id, rec, L + S - N)}})) return 0;
    } else {
        // The record outgrows its block: it moves, and its old block is freed in the same marked write.
        DWORD slack = 0;
        bool reused = false;
        PlaceBlock(N, newOffset, slack, reused);
        std::string freed(2, '\0');
        freed[0] = char(kBlockFree);
        if (!WriteMarked({{newOffset, BuildBlock(id, rec, slack)}, {offset + kBlockFlagsOffset, freed}})) return 0;
        if (reused) {
            m_mapFreeBlocks.erase(newOffset);
        } else {
            m_arrBlocks.push_back(newOffset);
            m_dwFileEnd = newOffset + kBlockHeaderSize + N + slack;
        }
        m_mapFreeBlocks[offset] = L + S;
    }
    UnindexSongKey(offset);
    IndexSongKey(rec, newOffset);
    if (newOffset == offset && newLower == it->first) {
        it->second.strPath = rec.FileName;
        it->second.nAnalyzed = rec.Analyzed == "0" ? 0 : 1;
        return 1;
    }
    RemoveEntry(it);
    auto added = m_mapByPath.emplace(newLower, SongEntry{rec.FileName, newOffset, id, rec.Analyzed == "0" ? 0 : 1, 0}).first;
    m_mapOffsetToPath[newOffset] = &added->first;
    m_mapIdToPath[id] = &added->first;
    return 1;
}

void CDBCore::TrimTail() {
    DWORD lowest = 0;
    bool trimmed = false;
    while (!m_arrBlocks.empty() && m_mapFreeBlocks.count(m_arrBlocks.back())) {
        lowest = m_arrBlocks.back();
        m_mapFreeBlocks.erase(lowest);
        m_arrBlocks.pop_back();
        trimmed = true;
    }
    if (!trimmed) return;
    m_dwFileEnd = lowest;
    m_fileMain.SetLength(lowest);
    Step();
    m_fileBackup.SetLength(lowest);
    Step();
}

int CDBCore::DeleteRecord(CString strPath) {
    EntryIt it = Find(strPath);
    if (it == m_mapByPath.end()) return 0;
    DWORD offset = it->second.dwOffset;
    int id = it->second.nId;
    unsigned char header[kBlockHeaderSize] = {};
    m_fileMain.Seek(LONG(offset), CFile::begin);
    m_fileMain.Read(header, kBlockHeaderSize);
    std::string freed(2, '\0');
    freed[0] = char(kBlockFree);
    if (!WriteMarked({{offset + kBlockFlagsOffset, freed}})) return 0;
    UnindexSongKey(offset);
    RemoveEntry(it);
    m_mapFreeBlocks[offset] = GetU32(header + 4) + GetU32(header + 8);
    if (id == m_nHighestId) {
        // Down to the next ID still present, or 0.
        auto below = m_mapIdToPath.lower_bound(m_nHighestId);
        m_nHighestId = (m_mapIdToPath.empty() || below == m_mapIdToPath.begin() || std::prev(below)->first <= 0)
                           ? 0
                           : std::prev(below)->first;
    }
    TrimTail();
    return 1;
}

int CDBCore::DeleteRecordById(int nId) {
    auto it = m_mapIdToPath.find(nId);
    return it == m_mapIdToPath.end() ? 0 : DeleteRecord(*it->second);
}

int CDBCore::GetRecordId(CString strPath, int* pId) {
    EntryIt it = Find(strPath);
    if (it == m_mapByPath.end()) return 0;
    if (pId) *pId = it->second.nId;
    return 1;
}

namespace {
// Each non-empty keyword must occur, without regard to case, in the title, artist, album or type.
class KeywordMatcher {
public:
    explicit KeywordMatcher(CList<CString, CString>* pKeywords) {
        for (POSITION pos = pKeywords ? pKeywords->GetHeadPosition() : nullptr; pos;) {
            CString word = pKeywords->GetNext(pos);
            if (word.IsEmpty()) continue;
            m_words.push_back(MxFoldCase(word));
        }
    }
    bool Match(const DBRECORD& rec) const {
        if (m_words.empty()) return true;
        CString fields[4] = {MxFoldCase(rec.Song), MxFoldCase(rec.Artist), MxFoldCase(rec.Album), MxFoldCase(rec.Type)};
        for (const CString& word : m_words) {
            bool found = false;
            for (const CString& f : fields) found = found || MxFindChars(f, word) >= 0;
            if (!found) return false;
        }
        return true;
    }

private:
    std::vector<CString> m_words;
};
}  // namespace

int CDBCore::Search(const CList<int, int>* pIds, CList<CString, CString>* pKeywords, DBRECORDLIST& results, int nLimit,
                    int nMode) {
    results.RemoveAll();
    KeywordMatcher matcher(pKeywords);
    // Reads one song; true when it is in the library and matches.
    auto visit = [&](int id, DBRECORD& rec) {
        auto path = m_mapIdToPath.find(id);
        if (path == m_mapIdToPath.end()) return false;
        auto entry = m_mapByPath.find(*path->second);
        if (entry == m_mapByPath.end()) return false;
        DWORD offset = entry->second.dwOffset;
        ReadRecord(offset, &rec);
        IndexSongKey(rec, offset);
        entry->second.nAnalyzed = rec.Analyzed == "0" ? 0 : 1;
        if (!matcher.Match(rec)) return false;
        rec.Type.MakeLower();
        return true;
    };
    if (!pIds) {
        // Song IDs 1 to the highest in ascending order: the IDs present, without counting through the gaps
        // (a damaged file can hold an ID in the billions).
        std::vector<int> ids;
        for (auto it = m_mapIdToPath.lower_bound(1); it != m_mapIdToPath.end() && it->first <= m_nHighestId; ++it) {
            ids.push_back(it->first);
        }
        for (int id : ids) {
            DBRECORD rec;
            if (visit(id, rec)) results.AddTail(rec);
        }
        return 1;
    }
    if (nLimit == 0) return 1;
    int count = 0;
    for (POSITION pos = pIds->GetHeadPosition(); pos;) {
        DBRECORD rec;
        if (!visit(pIds->GetNext(pos), rec)) continue;
        ++count;
        if (nLimit == -1) {
            results.AddTail(rec);
        } else if (nMode == 1) {
            results.AddTail(rec);
            if (count >= nLimit) break;
        } else if (count > nLimit) {
            results.AddTail(rec);
        }
    }
    return 1;
}

int CDBCore::IsImportedByFileName(CString strPath) { return Find(strPath) != m_mapByPath.end(); }

int CDBCore::IsImportedBySongInfo(CString strArtist, CString strAlbum, DWORD dwFileLength) {
    for (auto& entry : m_mapByPath) {
        DBRECORD rec;
        ReadRecord(entry.second.dwOffset, &rec);
        if (!rec.Artist.CompareNoCase(strArtist) && !rec.Album.CompareNoCase(strAlbum) &&
            std::strtoul(rec.FileLength, nullptr, 10) == dwFileLength) {
            return 1;
        }
    }
    return 0;
}

int CDBCore::IsImportedBySongKey(CString strSong, CString strArtist, CString strAlbum, DWORD dwFileLength, CString& strPath) {
    auto key = m_mapSongKey.find(SongKey(strSong, strArtist, strAlbum, int(dwFileLength)));
    if (key == m_mapSongKey.end()) return 0;
    auto path = m_mapOffsetToPath.find(key->second);
    if (path != m_mapOffsetToPath.end()) strPath = *path->second;
    return 1;
}

int CDBCore::IsAnalyzed(CString strPath) {
    EntryIt it = Find(strPath);
    return it != m_mapByPath.end() && it->second.nAnalyzed == 1;
}
