// Version resources, read from the resource section of a PE file with bounded reads: every offset a file
// gives is checked against the file before it is followed, so a damaged file only fails the call.
#include "platform/version.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

const DWORD kRtVersion = 16;
const DWORD kMaxSections = 96;      // the most a PE image may have
const DWORD kMaxDirEntries = 4096;  // more than any real resource directory holds
const size_t kFixedOffset = 40;     // after the header and the key "VS_VERSION_INFO", aligned
const char16_t kKey[] = u"VS_VERSION_INFO";

WORD Word(const BYTE* p) { return WORD(p[0] | (p[1] << 8)); }
DWORD Dword(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

struct Section {
    DWORD va, rawSize, rawPtr;
};

class PeFile {
public:
    explicit PeFile(FILE* f) : m_f(f) {
        if (std::fseek(f, 0, SEEK_END) == 0) {
            long n = std::ftell(f);
            m_size = n > 0 ? ULONGLONG(n) : 0;
        }
    }

    bool Read(ULONGLONG off, void* out, size_t n) const {
        if (off > m_size || n > m_size - off) return false;
        return std::fseek(m_f, long(off), SEEK_SET) == 0 && std::fread(out, 1, n, m_f) == n;
    }

    // Reads n bytes at a relative virtual address when they lie inside one section's file data.
    bool ReadRva(DWORD rva, void* out, size_t n) const {
        for (const Section& s : m_sections) {
            if (rva < s.va) continue;
            ULONGLONG rel = ULONGLONG(rva) - s.va;
            if (rel + n <= s.rawSize) return Read(ULONGLONG(s.rawPtr) + rel, out, n);
        }
        return false;
    }

    // The resource directory's address; ERROR_BAD_FORMAT when the headers are not those of a PE file.
    DWORD OpenResources(DWORD& resRva) {
        BYTE dos[64];
        if (!Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return ERROR_BAD_FORMAT;
        ULONGLONG pe = Dword(dos + 0x3C);
        BYTE hdr[24];
        if (!Read(pe, hdr, sizeof hdr) || std::memcmp(hdr, "PE\0\0", 4) != 0) return ERROR_BAD_FORMAT;
        DWORD nSections = Word(hdr + 6), optSize = Word(hdr + 20);
        if (nSections > kMaxSections) return ERROR_BAD_FORMAT;
        ULONGLONG opt = pe + sizeof hdr;
        BYTE magic[2];
        if (!Read(opt, magic, 2)) return ERROR_BAD_FORMAT;
        DWORD countAt, dirsAt;
        if (Word(magic) == 0x10B) countAt = 92, dirsAt = 96;
        else if (Word(magic) == 0x20B) countAt = 108, dirsAt = 112;
        else return ERROR_BAD_FORMAT;
        BYTE count[4], dir[8];
        if (optSize < dirsAt || !Read(opt + countAt, count, 4)) return ERROR_BAD_FORMAT;
        // The resource directory is the third data directory.
        if (Dword(count) < 3 || optSize < dirsAt + 3 * 8) return ERROR_RESOURCE_TYPE_NOT_FOUND;
        if (!Read(opt + dirsAt + 2 * 8, dir, sizeof dir)) return ERROR_BAD_FORMAT;
        resRva = Dword(dir);
        if (resRva == 0 || Dword(dir + 4) == 0) return ERROR_RESOURCE_TYPE_NOT_FOUND;
        std::vector<BYTE> table(size_t(nSections) * 40);
        if (!Read(opt + optSize, table.data(), table.size())) return ERROR_BAD_FORMAT;
        for (DWORD i = 0; i < nSections; ++i) {
            const BYTE* s = &table[size_t(i) * 40];
            m_sections.push_back({Dword(s + 12), Dword(s + 16), Dword(s + 20)});
        }
        return ERROR_SUCCESS;
    }

    // The entry of a resource directory with the given id (any entry when id is -1): its OffsetToData
    // word, whose high bit marks a subdirectory.
    bool FindEntry(DWORD resRva, DWORD dirOffset, long id, DWORD& data) const {
        BYTE dir[16];
        if (!ReadRva(resRva + dirOffset, dir, sizeof dir)) return false;
        DWORD named = Word(dir + 12), total = named + Word(dir + 14);
        if (total > kMaxDirEntries) return false;
        for (DWORD i = id < 0 ? 0 : named; i < total; ++i) {
            BYTE e[8];
            if (!ReadRva(resRva + dirOffset + 16 + i * 8, e, sizeof e)) return false;
            if (id < 0 || Dword(e) == DWORD(id)) {
                data = Dword(e + 4);
                return true;
            }
        }
        return false;
    }

private:
    FILE* m_f;
    ULONGLONG m_size = 0;
    std::vector<Section> m_sections;
};

// The file's version block (its length word trusted only as far as the resource reaches).
DWORD LoadVersionBlock(LPCSTR path, std::vector<BYTE>& block) {
    FILE* f = MxFOpen(path, "rb");
    if (!f) return GetLastError();
    PeFile pe(f);
    DWORD resRva = 0;
    DWORD e = pe.OpenResources(resRva);
    DWORD type = 0, name = 0, lang = 0;
    if (!e) {
        // type -> name -> language -> data entry; the first two levels are subdirectories, the last a leaf
        const bool found = pe.FindEntry(resRva, 0, kRtVersion, type) && (type & 0x80000000u) &&
                           pe.FindEntry(resRva, type & 0x7FFFFFFFu, -1, name) && (name & 0x80000000u) &&
                           pe.FindEntry(resRva, name & 0x7FFFFFFFu, -1, lang) && !(lang & 0x80000000u);
        BYTE entry[16];
        if (!found || !pe.ReadRva(resRva + lang, entry, sizeof entry)) {
            e = ERROR_RESOURCE_TYPE_NOT_FOUND;
        } else {
            DWORD size = Dword(entry + 4) > 0xFFFF ? 0xFFFF : Dword(entry + 4);
            block.assign(size, 0);
            if (size < 6 || !pe.ReadRva(Dword(entry), block.data(), size) || Word(block.data()) < 6 ||
                Word(block.data()) > size) {
                e = ERROR_RESOURCE_DATA_NOT_FOUND;
            } else {
                block.resize(Word(block.data()));
            }
        }
    }
    std::fclose(f);
    if (e) block.clear();
    return e;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle) *lpdwHandle = 0;
    std::vector<BYTE> block;
    DWORD e = LoadVersionBlock(lptstrFilename, block);
    if (e) {
        SetLastError(e);
        return 0;
    }
    return DWORD(block.size());
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (!lpData || dwLen == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> block;
    DWORD e = LoadVersionBlock(lptstrFilename, block);
    if (e) {
        SetLastError(e);
        return FALSE;
    }
    size_t n = block.size() < dwLen ? block.size() : dwLen;
    std::memcpy(lpData, block.data(), n);
    if (n < block.size() && n >= 2) {
        auto* p = static_cast<BYTE*>(lpData);
        p[0] = BYTE(n), p[1] = BYTE(n >> 8);
    }
    return TRUE;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer || std::strcmp(lpSubBlock, "\\") != 0) return FALSE;
    const auto* p = static_cast<const BYTE*>(pBlock);
    if (size_t(Word(p)) < kFixedOffset + sizeof(VS_FIXEDFILEINFO) || size_t(Word(p + 2)) < sizeof(VS_FIXEDFILEINFO)) {
        return FALSE;
    }
    for (size_t i = 0; i < sizeof kKey / 2; ++i) {
        if (Word(p + 6 + 2 * i) != kKey[i]) return FALSE;
    }
    if (Dword(p + kFixedOffset) != VS_FFI_SIGNATURE) return FALSE;
    *lplpBuffer = const_cast<BYTE*>(p + kFixedOffset);
    if (puLen) *puLen = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
