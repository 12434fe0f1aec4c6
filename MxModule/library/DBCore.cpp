#include "MxModule/library/DBCore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string_view>

#include "MxModule/foundation/MxLog.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/LibraryFormat.h"

using namespace mxlib;

void (*CDBCore::s_pfnWriteStepHook)(int) = nullptr;
uint64_t CDBCore::s_qwHashMask = ~uint64_t(0);

namespace {

const UINT kOpenExisting = CFile::modeReadWrite | CFile::typeBinary;                     // 0x8002
const UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;       // 0x9002

// A bucket holds a slot in its low half and the low half of the slot's hash in its high half, so that
// probing and moving buckets never look at the entries.
const uint64_t kEmptyBucket = ~uint64_t(0);
inline uint64_t Bucket(uint64_t qwHash, DWORD dwSlot) {
    return qwHash << 32 | dwSlot;
}
inline size_t HomeOf(uint64_t bucket, size_t mask) {
    return size_t(bucket >> 32) & mask;
}

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
      m_nSongs(0),
      m_nIdHoles(0),
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
    // Swapped out rather than cleared, so that a library opened again starts from no memory.
    std::vector<SongEntry>().swap(m_arrEntries);
    std::vector<DWORD>().swap(m_arrFreeSlots);
    m_nSongs = 0;
    m_indexPath = HASHINDEX();
    m_indexKey = HASHINDEX();
    std::vector<SONGID>().swap(m_arrIds);
    m_nIdHoles = 0;
    m_mapFreeBlocks.clear();
    std::vector<DWORD>().swap(m_arrBlocks);
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
    if (OpenPair() && RepairPair() && Load()) {
        FinishLegacyImport();  // one a kill interrupted
        return 1;
    }
    DWORD error = GetLastError();
    ClosePair();  // an unusable library holds no file
    SetLastError(error);
    return 0;
}

int CDBCore::StartFresh() {
    if (!WriteFreshPair()) return 0;
    // A legacy "LocalSearch.mdb" fills a new library once. It is renamed while its rows go in, so that
    // an import a kill interrupts is finished at the next open, and the default list starts empty (a
    // list left from a library whose files were removed names songs that are gone).
    CString legacy = Folder() + kLegacyFile, importing = legacy + kImportingSuffix;
    if (FileExists(legacy) && !FileExists(importing) && MoveFileA(legacy, importing)) {
        CMxFile list;
        if (list.Open(Folder() + CMxPublic::GbkLiteral(kDefaultPlaylist) + kPlaylistExtension, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) {
            list.Close();
        }
    }
    FinishLegacyImport();
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
            m_arrEntries.push_back(SongEntry{LowerPathHash(text, strnlen(text, n)), 0, DWORD(pos), int(id),
                                             -1, false, false, true});
            m_arrIds.push_back({int(id), DWORD(m_arrEntries.size() - 1)});
            if (id > uint32_t(m_nHighestId)) m_nHighestId = int(id);
        } else if (flags == kBlockFree) {
            m_mapFreeBlocks.emplace(DWORD(pos), L + S);
        }
        m_arrBlocks.push_back(DWORD(pos));
        pos += uint64_t(kBlockHeaderSize) + L + S;
    }
    // The path index is made once every path is known, asking memory for buckets some songs ahead. Of
    // two blocks of one path the first rules, and the second's ID names it too.
    HashReserve(m_indexPath, m_arrEntries.size());
    std::vector<uint64_t>& buckets = m_indexPath.arrBuckets;
    CString lower, other;
    for (DWORD slot = 0; slot < m_arrEntries.size(); ++slot) {
        size_t mask = buckets.size() - 1;
        if (slot + 8 < m_arrEntries.size())
            __builtin_prefetch(&buckets[size_t(m_arrEntries[slot + 8].qwPathHash) & mask]);
        uint64_t hash = m_arrEntries[slot].qwPathHash;
        DWORD first = kNoSlot;
        bool known = false;
        size_t b = size_t(hash) & mask;
        for (; buckets[b] != kEmptyBucket; b = (b + 1) & mask) {
            DWORD candidate = DWORD(buckets[b]);
            if (DWORD(buckets[b] >> 32) != DWORD(hash) || m_arrEntries[candidate].qwPathHash != hash)
                continue;
            if (!known && !(known = LowerPathAt(m_arrEntries[slot].dwOffset, lower))) break;
            if (LowerPathAt(m_arrEntries[candidate].dwOffset, other) && other == lower) {
                first = candidate;
                break;
            }
        }
        if (first == kNoSlot) {
            while (buckets[b] != kEmptyBucket) b = (b + 1) & mask;
            buckets[b] = Bucket(hash, slot);
            ++m_indexPath.dwCount;
            ++m_nSongs;
        } else {
            m_arrEntries[first].bAliases = true;
            m_arrEntries[slot].bLive = false;
            m_arrFreeSlots.push_back(slot);
            m_arrIds[slot].dwSlot = first;
        }
    }
    // IDs in block order: sorted once (a reused block holds a newer ID), and of IDs met twice the first
    // one counts.
    auto byId = [](const SONGID& a, const SONGID& b) { return a.nId < b.nId; };
    if (!std::is_sorted(m_arrIds.begin(), m_arrIds.end(), byId))
        std::stable_sort(m_arrIds.begin(), m_arrIds.end(), byId);
    m_arrIds.erase(std::unique(m_arrIds.begin(), m_arrIds.end(),
                               [](const SONGID& a, const SONGID& b) { return a.nId == b.nId; }),
                   m_arrIds.end());
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

namespace {

uint64_t HashBytes(const char* p, size_t n) {
    return std::hash<std::string_view>()(std::string_view(p, n)) & CDBCore::s_qwHashMask;
}
uint64_t HashBytes(const std::string& s) {
    return HashBytes(s.data(), s.size());
}

// A text inside a block: its bytes up to its count, and then (Cut) up to its first zero byte.
struct TEXTREF {
    const char* p;
    size_t n;
};

inline const TEXTREF& Cut(TEXTREF& t) {
    size_t i = 0;
    while (i < t.n && t.p[i]) ++i;
    t.n = i;
    return t;
}

bool IsAscii(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    }
    return true;
}

// The first nWanted fields of the block at dwOffset of a view of the main file, as ReadRecord decodes
// them from the file but not yet Cut; how many were there. Fields before the first that fails come out
// the same however many are asked for; a block short of the ones needed is left to ReadRecord, which
// says what a damaged block gives.
int DecodeFields(const BYTE* pView, DWORD dwViewLength, DWORD dwFileEnd, DWORD dwOffset, TEXTREF* fields,
                 int nWanted) {
    if (!pView || dwOffset > dwViewLength || dwViewLength - dwOffset < kBlockHeaderSize) return 0;
    const BYTE* block = pView + dwOffset;
    uint64_t L = GetU32(block + 4), start = uint64_t(dwOffset) + kBlockHeaderSize;
    if (L > (start < dwFileEnd ? dwFileEnd - start : 0)) return 0;
    uint64_t got = std::min<uint64_t>(L, dwViewLength - start), pos = 0;
    const char* payload = reinterpret_cast<const char*>(block + kBlockHeaderSize);
    for (int k = 0; k < nWanted; ++k) {
        if (got - pos < kFieldHeaderSize) return k;
        uint64_t n = GetU32(reinterpret_cast<const unsigned char*>(payload + pos));
        pos += kFieldHeaderSize;
        if (n > got - pos) return k;
        fields[k] = {payload + pos, size_t(n)};
        pos += n;
    }
    return nWanted;
}

std::string Text(const TEXTREF& t) {
    return std::string(t.p, t.n);
}

// The song key of Cut fields, byte for byte what SongKeyOf gives for the same record.
void SongKeyOfFields(TEXTREF* f, std::string& key) {
    for (int k : {1, 2, 3, 7}) Cut(f[k]);
    key.assign(f[1].p, f[1].n);
    key += '?';
    key.append(f[2].p, f[2].n);
    key += '?';
    key.append(f[3].p, f[3].n);
    key += '?';
    const TEXTREF& length = f[7];
    bool digits = length.n > 0 && length.n < 10;
    for (size_t i = 0; i < length.n && digits; ++i) digits = length.p[i] >= '0' && length.p[i] <= '9';
    if (!digits) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", std::atoi(Text(length).c_str()));
        key += number;
        return;
    }
    // Plain digits, the usual case: what atoi and "%d" make of them is the digits without leading zeros.
    size_t first = 0;
    while (first + 1 < length.n && length.p[first] == '0') ++first;
    key.append(length.p + first, length.n - first);
}

// A read-only map of the main file for one scan; null when it cannot be made (the scan then reads).
class MappedView {
public:
    MappedView(const CMxFile& file, DWORD dwLength) {
        DWORD error = GetLastError();
        m_pView = MxMapViewOfFile(file, dwLength, &m_dwLength);
        SetLastError(error);
    }
    ~MappedView() {
        if (m_pView) MxUnmapViewOfFile(m_pView, m_dwLength);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    const BYTE* Data() const { return m_pView; }
    DWORD Length() const { return m_dwLength; }
    // Told the blocks a scan reads, in order: the pages of the next window come in at once, and those
    // two windows behind leave the resident set, so that a scan of the whole file holds a few windows
    // of it at a time. A jump elsewhere (a block reused out of order) is read a fault at a time.
    void Follow(DWORD dwOffset) {
        if (!m_pView) return;
        uint64_t window = dwOffset / kWindow;
        if (m_bFollowing && window == m_qwWindow) return;
        if (!m_bFollowing) {
            Prefetch(window);
            Prefetch(window + 1);
        } else if (window == m_qwWindow + 1) {
            if (m_qwWindow >= 1) {
                MxTrimViewRange(m_pView, m_dwLength, DWORD((m_qwWindow - 1) * kWindow), DWORD(kWindow));
            }
            Prefetch(window + 1);
        } else {
            return;
        }
        m_bFollowing = true;
        m_qwWindow = window;
    }

private:
    static constexpr uint64_t kWindow = 1 << 20;  // as the load reads
    void Prefetch(uint64_t window) {
        if (window * kWindow < m_dwLength)
            MxPrefetchViewRange(m_pView, m_dwLength, DWORD(window * kWindow), DWORD(kWindow));
    }

    const BYTE* m_pView = nullptr;
    DWORD m_dwLength = 0;
    bool m_bFollowing = false;
    uint64_t m_qwWindow = 0;
};

}  // namespace

uint64_t CDBCore::LowerPathHash(const char* pText, size_t nLength) {
    if (!IsAscii(pText, nLength)) return HashBytes(LowerPath(CString(std::string(pText, nLength))).str());
    m_strFold.assign(pText, nLength);
    for (char& c : m_strFold) {
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    return HashBytes(m_strFold);
}

bool CDBCore::LowerPathAt(DWORD dwOffset, CString& strLower) {
    unsigned char head[kBlockHeaderSize + kFieldHeaderSize];
    if (m_fileMain.Seek(LONG(dwOffset), CFile::begin) != LONG(dwOffset) ||
        m_fileMain.Read(head, sizeof head) != sizeof head)
        return false;
    uint64_t L = GetU32(head + 4), n = GetU32(head + kBlockHeaderSize),
             start = uint64_t(dwOffset) + kBlockHeaderSize;
    if (L > (start < m_dwFileEnd ? m_dwFileEnd - start : 0) || L < kFieldHeaderSize ||
        n > L - kFieldHeaderSize)
        return false;
    if (m_scratch.size() < n) m_scratch.resize(size_t(n));
    if (m_fileMain.Read(m_scratch.data(), UINT(n)) != n) return false;
    strLower = LowerPath(CString(std::string(m_scratch.data(), strnlen(m_scratch.data(), size_t(n)))));
    return true;
}

DWORD CDBCore::FindLower(const CString& strLower) {
    if (!m_indexPath.dwCount) return kNoSlot;
    CString stored;
    // A hash says where to look; the path in the block says whether it is the song.
    size_t at = HashFind(m_indexPath, &SongEntry::qwPathHash, HashBytes(strLower.str()), [&](DWORD slot) {
        return LowerPathAt(m_arrEntries[slot].dwOffset, stored) && stored == strLower;
    });
    return at == kNoBucket ? kNoSlot : DWORD(m_indexPath.arrBuckets[at]);
}

DWORD CDBCore::Find(const CString& strPath) {
    return strPath.IsEmpty() ? kNoSlot : FindLower(LowerPath(strPath));
}

std::string CDBCore::SongKeyAt(DWORD dwSlot) {
    DBRECORD rec;
    ReadRecord(m_arrEntries[dwSlot].dwOffset, &rec);
    return SongKeyOf(rec).str();
}

void CDBCore::HashReserve(HASHINDEX& index, size_t nCount) {
    // At most half full, so that a miss ends after a probe or two.
    std::vector<uint64_t>& buckets = index.arrBuckets;
    if (nCount * 2 <= buckets.size()) return;
    size_t size = std::max<size_t>(16, buckets.size());
    while (size < nCount * 2) size *= 2;
    std::vector<uint64_t> old(size, kEmptyBucket);
    old.swap(buckets);
    size_t mask = buckets.size() - 1;
    for (uint64_t bucket : old) {
        if (bucket == kEmptyBucket) continue;
        size_t b = HomeOf(bucket, mask);
        while (buckets[b] != kEmptyBucket) b = (b + 1) & mask;
        buckets[b] = bucket;
    }
}

void CDBCore::HashInsert(HASHINDEX& index, uint64_t SongEntry::*pHash, DWORD dwSlot) {
    std::vector<uint64_t>& buckets = index.arrBuckets;
    if ((size_t(index.dwCount) + 1) * 2 > buckets.size())
        HashReserve(index, std::max<size_t>(16, buckets.size()));
    uint64_t bucket = Bucket(m_arrEntries[dwSlot].*pHash, dwSlot);
    size_t mask = buckets.size() - 1, b = HomeOf(bucket, mask);
    while (buckets[b] != kEmptyBucket) b = (b + 1) & mask;
    buckets[b] = bucket;
    ++index.dwCount;
}

size_t CDBCore::HashFind(const HASHINDEX& index, uint64_t SongEntry::*pHash, uint64_t qwHash,
                         const std::function<bool(DWORD)>& accept) {
    const std::vector<uint64_t>& buckets = index.arrBuckets;
    if (buckets.empty()) return kNoBucket;
    size_t mask = buckets.size() - 1;
    for (size_t b = size_t(qwHash) & mask; buckets[b] != kEmptyBucket; b = (b + 1) & mask) {
        DWORD slot = DWORD(buckets[b]);
        if (DWORD(buckets[b] >> 32) == DWORD(qwHash) && m_arrEntries[slot].*pHash == qwHash && accept(slot))
            return b;
    }
    return kNoBucket;
}

void CDBCore::HashErase(HASHINDEX& index, uint64_t SongEntry::*pHash, DWORD dwSlot) {
    std::vector<uint64_t>& buckets = index.arrBuckets;
    if (buckets.empty()) return;
    uint64_t bucket = Bucket(m_arrEntries[dwSlot].*pHash, dwSlot);
    size_t mask = buckets.size() - 1, hole = HomeOf(bucket, mask);
    while (buckets[hole] != bucket) {
        if (buckets[hole] == kEmptyBucket) return;
        hole = (hole + 1) & mask;
    }
    // Later members of the run move back into the hole when their home is not past it, so that every
    // probe still reaches them.
    for (size_t j = (hole + 1) & mask; buckets[j] != kEmptyBucket; j = (j + 1) & mask) {
        size_t home = HomeOf(buckets[j], mask);
        if (((j - home) & mask) >= ((j - hole) & mask)) {
            buckets[hole] = buckets[j];
            hole = j;
        }
    }
    buckets[hole] = kEmptyBucket;
    --index.dwCount;
}

ptrdiff_t CDBCore::FindId(int nId) const {
    auto it = std::lower_bound(m_arrIds.begin(), m_arrIds.end(), nId,
                               [](const SONGID& a, int id) { return a.nId < id; });
    return it != m_arrIds.end() && it->nId == nId && it->dwSlot != kNoSlot ? it - m_arrIds.begin() : -1;
}

void CDBCore::SetId(int nId, DWORD dwSlot) {
    if (m_arrIds.empty() || m_arrIds.back().nId < nId) {
        m_arrIds.push_back({nId, dwSlot});  // a new song's ID: the highest
        return;
    }
    auto it = std::lower_bound(m_arrIds.begin(), m_arrIds.end(), nId,
                               [](const SONGID& a, int id) { return a.nId < id; });
    if (it != m_arrIds.end() && it->nId == nId) {
        if (it->dwSlot == kNoSlot) --m_nIdHoles;
        it->dwSlot = dwSlot;
    } else {
        m_arrIds.insert(it, {nId, dwSlot});
    }
}

void CDBCore::DropIdAt(size_t nPos) {
    m_arrIds[nPos].dwSlot = kNoSlot;
    ++m_nIdHoles;
    // The last ID present is always the vector's last, and holes never outnumber IDs for long.
    while (!m_arrIds.empty() && m_arrIds.back().dwSlot == kNoSlot) {
        m_arrIds.pop_back();
        --m_nIdHoles;
    }
    if (m_nIdHoles > 64 && m_nIdHoles * 2 > m_arrIds.size()) {
        m_arrIds.erase(std::remove_if(m_arrIds.begin(), m_arrIds.end(),
                                      [](const SONGID& s) { return s.dwSlot == kNoSlot; }),
                       m_arrIds.end());
        m_nIdHoles = 0;
    }
}

bool CDBCore::HasSongId(int nId) const {
    return FindId(nId) >= 0;
}

DWORD CDBCore::NewSlot(uint64_t qwPathHash, DWORD dwOffset, int nId, int nAnalyzed) {
    DWORD slot;
    if (!m_arrFreeSlots.empty()) {
        slot = m_arrFreeSlots.back();
        m_arrFreeSlots.pop_back();
    } else {
        slot = DWORD(m_arrEntries.size());
        m_arrEntries.emplace_back();
    }
    m_arrEntries[slot] =
        SongEntry{qwPathHash, 0, dwOffset, nId, static_cast<signed char>(nAnalyzed), false, false, true};
    HashInsert(m_indexPath, &SongEntry::qwPathHash, slot);
    ++m_nSongs;
    return slot;
}

void CDBCore::RemoveEntry(DWORD dwSlot) {
    UnindexSongKey(dwSlot);
    HashErase(m_indexPath, &SongEntry::qwPathHash, dwSlot);
    SongEntry& e = m_arrEntries[dwSlot];
    if (e.bAliases) {
        // IDs of the same path met at load name this song too.
        for (size_t pos = m_arrIds.size(); pos-- > 0;) {
            if (pos < m_arrIds.size() && m_arrIds[pos].dwSlot == dwSlot) DropIdAt(pos);
        }
    } else {
        ptrdiff_t pos = FindId(e.nId);
        if (pos >= 0 && m_arrIds[size_t(pos)].dwSlot == dwSlot) DropIdAt(size_t(pos));
    }
    e.bLive = false;
    e.bAliases = false;
    m_arrFreeSlots.push_back(dwSlot);
    --m_nSongs;
}

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

void CDBCore::IndexSongKey(DWORD dwSlot, uint64_t qwHash, const std::string& key) {
    // Met again unchanged (a record changes only through an update, which takes it out first), and
    // still the one its key names: nothing to do.
    if (m_arrEntries[dwSlot].bKeyed && m_arrEntries[dwSlot].qwKeyHash == qwHash) return;
    UnindexSongKey(dwSlot);
    m_arrEntries[dwSlot].qwKeyHash = qwHash;
    m_arrEntries[dwSlot].bKeyed = true;
    // Another record of the same key gives way: the last one met answers for it, and the other one is
    // as if never met.
    size_t at = HashFind(m_indexKey, &SongEntry::qwKeyHash, qwHash,
                         [&](DWORD other) { return SongKeyAt(other) == key; });
    if (at != kNoBucket) {
        m_arrEntries[DWORD(m_indexKey.arrBuckets[at])].bKeyed = false;
        m_indexKey.arrBuckets[at] = Bucket(qwHash, dwSlot);
        return;
    }
    HashInsert(m_indexKey, &SongEntry::qwKeyHash, dwSlot);
}

void CDBCore::IndexSongKey(DWORD dwSlot, const DBRECORD& rec) {
    std::string key = SongKeyOf(rec).str();
    IndexSongKey(dwSlot, HashBytes(key), key);
}

void CDBCore::UnindexSongKey(DWORD dwSlot) {
    if (!m_arrEntries[dwSlot].bKeyed) return;
    HashErase(m_indexKey, &SongEntry::qwKeyHash, dwSlot);
    m_arrEntries[dwSlot].bKeyed = false;
}

int CDBCore::AddRecord(DBRECORD* pRecord) {
    if (!pRecord || pRecord->FileName.IsEmpty()) return 0;
    CString lower = LowerPath(pRecord->FileName);
    if (FindLower(lower) != kNoSlot) return 0;
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
    DWORD slot = NewSlot(HashBytes(lower.str()), offset, id, rec.Analyzed == "0" ? 0 : 1);
    SetId(id, slot);
    IndexSongKey(slot, rec);
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
    DWORD slot = Find(strPath);
    if (slot == kNoSlot || !pRecord) return 0;
    DBRECORD rec;
    if (!ReadRecord(m_arrEntries[slot].dwOffset, &rec)) return 0;
    rec.Type.MakeLower();
    *pRecord = rec;
    return 1;
}

int CDBCore::UpdateRecord(CString strPath, DBRECORD* pRecord, DWORD dwMask) {
    if (!pRecord || ((dwMask & 1) && pRecord->FileName.IsEmpty()) || strPath.IsEmpty()) return 0;
    CString lower = LowerPath(strPath);
    DWORD slot = FindLower(lower);
    if (slot == kNoSlot) return 0;
    DWORD offset = m_arrEntries[slot].dwOffset, L = 0, S = 0;
    int id = m_arrEntries[slot].nId;
    DBRECORD stored;
    ReadRecord(offset, &stored, nullptr, &L, &S);  // what cannot be read keeps the defaults
    CString newLower = (dwMask & 1) ? LowerPath(pRecord->FileName) : lower;
    // A new path that names another record would merge two songs; it is refused.
    if (newLower != lower && FindLower(newLower) != kNoSlot) return 0;

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
    UnindexSongKey(slot);
    IndexSongKey(slot, rec);
    m_arrEntries[slot].nAnalyzed = rec.Analyzed == "0" ? 0 : 1;
    if (newOffset == offset && newLower == lower) return 1;
    // A song that moves or is renamed keeps only its own ID.
    if (m_arrEntries[slot].bAliases) {
        for (size_t pos = m_arrIds.size(); pos-- > 0;) {
            if (pos < m_arrIds.size() && m_arrIds[pos].dwSlot == slot) DropIdAt(pos);
        }
        m_arrEntries[slot].bAliases = false;
    }
    SetId(id, slot);
    if (newLower != lower) {
        HashErase(m_indexPath, &SongEntry::qwPathHash, slot);
        m_arrEntries[slot].qwPathHash = HashBytes(newLower.str());
        HashInsert(m_indexPath, &SongEntry::qwPathHash, slot);
    }
    m_arrEntries[slot].dwOffset = newOffset;
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
    DWORD slot = Find(strPath);
    return slot == kNoSlot ? 0 : DeleteSlot(slot);
}

int CDBCore::DeleteSlot(DWORD dwSlot) {
    DWORD offset = m_arrEntries[dwSlot].dwOffset;
    int id = m_arrEntries[dwSlot].nId;
    unsigned char header[kBlockHeaderSize] = {};
    m_fileMain.Seek(LONG(offset), CFile::begin);
    m_fileMain.Read(header, kBlockHeaderSize);
    std::string freed(2, '\0');
    freed[0] = char(kBlockFree);
    if (!WriteMarked({{offset + kBlockFlagsOffset, freed}})) return 0;
    RemoveEntry(dwSlot);
    m_mapFreeBlocks[offset] = GetU32(header + 4) + GetU32(header + 8);
    if (id == m_nHighestId) {
        // Down to the next ID still present, or 0.
        auto below = std::lower_bound(m_arrIds.begin(), m_arrIds.end(), m_nHighestId,
                                      [](const SONGID& a, int n) { return a.nId < n; });
        while (below != m_arrIds.begin() && std::prev(below)->dwSlot == kNoSlot) --below;
        m_nHighestId = below == m_arrIds.begin() || std::prev(below)->nId <= 0 ? 0 : std::prev(below)->nId;
    }
    TrimTail();
    return 1;
}

int CDBCore::DeleteRecordById(int nId) {
    ptrdiff_t pos = FindId(nId);
    return pos < 0 ? 0 : DeleteSlot(m_arrIds[size_t(pos)].dwSlot);
}

int CDBCore::GetRecordId(CString strPath, int* pId) {
    DWORD slot = Find(strPath);
    if (slot == kNoSlot) return 0;
    if (pId) *pId = m_arrEntries[slot].nId;
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
    // The same answer for the four texts in a block (Cut here), folded only as far as the words need
    // them. ASCII text folds here, and any word matches it at any byte; other text as above.
    bool Match(TEXTREF* texts) {
        if (m_words.empty()) return true;
        for (FOLDED& f : m_folded) f.bDone = false;
        for (const CString& word : m_words) {
            bool found = false;
            for (int k = 0; k < 4 && !found; ++k) {
                FOLDED& f = m_folded[k];
                if (!f.bDone) Fold(Cut(texts[k]), f);
                found = f.bAscii ? f.ascii.find(word.str()) != std::string::npos
                                 : MxFindChars(f.other, word) >= 0;
            }
            if (!found) return false;
        }
        return true;
    }

private:
    struct FOLDED {
        bool bDone = false;
        bool bAscii = false;
        std::string ascii;
        CString other;
    };
    static void Fold(const TEXTREF& t, FOLDED& f) {
        f.bDone = true;
        f.bAscii = IsAscii(t.p, t.n);
        if (!f.bAscii) {
            f.other = MxFoldCase(CString(Text(t)));
            return;
        }
        f.ascii.assign(t.p, t.n);
        for (char& c : f.ascii) {
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        }
    }

    std::vector<CString> m_words;
    FOLDED m_folded[4];
};
}  // namespace

int CDBCore::Search(const CList<int, int>* pIds, CList<CString, CString>* pKeywords, DBRECORDLIST& results, int nLimit,
                    int nMode) {
    results.RemoveAll();
    KeywordMatcher matcher(pKeywords);
    if (pIds && nLimit == 0) return 1;
    // The songs are read from a map of the main file; a block that does not decode whole is read as
    // ReadRecord reads it, which says what its damaged fields give.
    MappedView view(m_fileMain, m_dwFileEnd);
    TEXTREF fields[DBRECORD::kFieldCount];
    std::string key;
    // A song key worked out a few songs ahead, while its bucket is asked of memory.
    struct KEYAHEAD {
        DWORD dwSlot = kNoSlot;
        uint64_t qwHash = 0;
        std::string key;
    } ahead[8];
    // Reads one song into rec; true when it is in the library and matches. Every song read has its
    // song key indexed and its analysed flag known (or left to IsAnalyzed to read).
    auto visit = [&](DWORD slot, DBRECORD& rec, const KEYAHEAD* pKey) {
        DWORD offset = m_arrEntries[slot].dwOffset;
        // A record changes only through an update, which indexes it again: what is already known of
        // it stands, and its block is read only as far as is still needed.
        SongEntry& e = m_arrEntries[slot];
        int wanted = !e.bKeyed ? 8 : 5;
        const BYTE* data = view.Data();
        bool whole = DecodeFields(data, view.Length(), m_dwFileEnd, offset, fields, wanted) == wanted,
             matched = false;
        if (whole) {
            matched = matcher.Match(fields + 1);
            // A song that matches is read whole.
            if (matched)
                whole = DecodeFields(data, view.Length(), m_dwFileEnd, offset, fields,
                                     DBRECORD::kFieldCount) == DBRECORD::kFieldCount;
        }
        if (whole) {
            if (!e.bKeyed && pKey && pKey->dwSlot == slot) {
                IndexSongKey(slot, pKey->qwHash, pKey->key);
            } else if (!e.bKeyed) {
                SongKeyOfFields(fields, key);
                IndexSongKey(slot, HashBytes(key), key);
            }
            if (e.nAnalyzed < 0) e.nAnalyzed = kAnalyzedUnread;  // read when asked
            if (!matched) return false;
            for (int k = 0; k < DBRECORD::kFieldCount; ++k) rec.Field(k) = CString(Text(Cut(fields[k])));
        } else {
            rec = DBRECORD();
            ReadRecord(offset, &rec);
            IndexSongKey(slot, rec);
            e.nAnalyzed = rec.Analyzed == "0" ? 0 : 1;
            if (!matcher.Match(rec)) return false;
        }
        rec.Type.MakeLower();
        return true;
    };
    DBRECORD rec;
    if (!pIds) {
        HashReserve(m_indexKey, m_nSongs);  // every song will be met
        // Song IDs 1 to the highest in ascending order: the IDs present, without counting through the gaps
        // (a damaged file can hold an ID in the billions).
        auto it = std::lower_bound(m_arrIds.begin(), m_arrIds.end(), 1,
                                   [](const SONGID& a, int n) { return a.nId < n; });
        // The walk through a block waits on each field's count, and a song's first indexing on its
        // bucket: both are asked of memory some songs ahead.
        const size_t kBlockAhead = 8, kKeyAhead = 4;
        TEXTREF next[DBRECORD::kFieldCount];
        const BYTE* data = view.Data();
        for (size_t pos = size_t(it - m_arrIds.begin());
             pos < m_arrIds.size() && m_arrIds[pos].nId <= m_nHighestId; ++pos) {
            if (data && pos + kBlockAhead < m_arrIds.size() &&
                m_arrIds[pos + kBlockAhead].dwSlot != kNoSlot) {
                DWORD offset = m_arrEntries[m_arrIds[pos + kBlockAhead].dwSlot].dwOffset;
                view.Follow(offset);
                for (DWORD line = 0; line < 320 && offset + line < view.Length(); line += 64)
                    __builtin_prefetch(data + offset + line);
            }
            if (pos + kKeyAhead < m_arrIds.size()) {
                DWORD slot = m_arrIds[pos + kKeyAhead].dwSlot;
                KEYAHEAD& k = ahead[(pos + kKeyAhead) % 8];
                k.dwSlot = kNoSlot;
                if (slot != kNoSlot && !m_arrEntries[slot].bKeyed && !m_indexKey.arrBuckets.empty() &&
                    DecodeFields(data, view.Length(), m_dwFileEnd, m_arrEntries[slot].dwOffset, next, 8) ==
                        8) {
                    SongKeyOfFields(next, k.key);
                    k.qwHash = HashBytes(k.key);
                    k.dwSlot = slot;
                    __builtin_prefetch(
                        &m_indexKey.arrBuckets[size_t(k.qwHash) & (m_indexKey.arrBuckets.size() - 1)]);
                }
            }
            DWORD slot = m_arrIds[pos].dwSlot;
            if (slot != kNoSlot && visit(slot, rec, &ahead[pos % 8])) results.AddTail(rec);
        }
        return 1;
    }
    int count = 0;
    for (POSITION pos = pIds->GetHeadPosition(); pos;) {
        ptrdiff_t at = FindId(pIds->GetNext(pos));
        if (at < 0 || !visit(m_arrIds[size_t(at)].dwSlot, rec, nullptr)) continue;
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

int CDBCore::IsImportedByFileName(CString strPath) {
    return Find(strPath) != kNoSlot;
}

int CDBCore::IsImportedBySongInfo(CString strArtist, CString strAlbum, DWORD dwFileLength) {
    MappedView view(m_fileMain, m_dwFileEnd);
    TEXTREF fields[DBRECORD::kFieldCount];
    for (DWORD slot = 0; slot < m_arrEntries.size(); ++slot) {
        if (!m_arrEntries[slot].bLive) continue;
        DWORD offset = m_arrEntries[slot].dwOffset;
        view.Follow(offset);
        if (DecodeFields(view.Data(), view.Length(), m_dwFileEnd, offset, fields, 8) == 8) {
            if (std::strtoul(Text(Cut(fields[7])).c_str(), nullptr, 10) == dwFileLength &&
                !CString(Text(Cut(fields[2]))).CompareNoCase(strArtist) &&
                !CString(Text(Cut(fields[3]))).CompareNoCase(strAlbum)) {
                return 1;
            }
            continue;
        }
        DBRECORD rec;
        ReadRecord(offset, &rec);
        if (!rec.Artist.CompareNoCase(strArtist) && !rec.Album.CompareNoCase(strAlbum) &&
            std::strtoul(rec.FileLength, nullptr, 10) == dwFileLength) {
            return 1;
        }
    }
    return 0;
}

int CDBCore::IsImportedBySongKey(CString strSong, CString strArtist, CString strAlbum, DWORD dwFileLength, CString& strPath) {
    if (!m_indexKey.dwCount) return 0;
    std::string key = SongKey(strSong, strArtist, strAlbum, int(dwFileLength)).str();
    size_t at = HashFind(m_indexKey, &SongEntry::qwKeyHash, HashBytes(key),
                         [&](DWORD slot) { return SongKeyAt(slot) == key; });
    if (at == kNoBucket) return 0;
    CString lower;
    if (LowerPathAt(m_arrEntries[DWORD(m_indexKey.arrBuckets[at])].dwOffset, lower)) strPath = lower;
    return 1;
}

int CDBCore::IsAnalyzed(CString strPath) {
    DWORD slot = Find(strPath);
    if (slot == kNoSlot) return 0;
    if (m_arrEntries[slot].nAnalyzed == kAnalyzedUnread) {
        // Met by a search, and unchanged since: its record tells.
        DBRECORD rec;
        ReadRecord(m_arrEntries[slot].dwOffset, &rec);
        m_arrEntries[slot].nAnalyzed = rec.Analyzed == "0" ? 0 : 1;
    }
    return m_arrEntries[slot].nAnalyzed == 1;
}
