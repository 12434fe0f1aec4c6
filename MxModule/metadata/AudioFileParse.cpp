#include "MxModule/metadata/AudioFileParse.h"

#include <cstring>

#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/fileops/FileTyping.h"
#include "MxModule/metadata/AsfFormat.h"
#include "MxModule/metadata/GenreTable.h"
#include "MxModule/metadata/MP3FileParse.h"
#include "MxModule/metadata/WMAFileParse.h"
#include "platform/windows.h"

namespace {

// Reading needs read access only and changes nothing: no byte, no attribute, no modification time.
const UINT kOpenRead = CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary;  // 0x8020
const UINT kOpenWrite = CFile::modeReadWrite | CFile::typeBinary;                    // 0x8002

// Clears a file's read-only attribute for the life of the object and then puts its attributes back.
class AttributeKeeper {
public:
    explicit AttributeKeeper(const CString& path) : m_path(path), m_attributes(GetFileAttributesA(path)) {
        if (m_attributes != INVALID_FILE_ATTRIBUTES && (m_attributes & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesA(path, m_attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        }
    }
    ~AttributeKeeper() {
        if (ok() && (m_attributes & FILE_ATTRIBUTE_READONLY)) SetFileAttributesA(m_path, m_attributes);
    }
    AttributeKeeper(const AttributeKeeper&) = delete;
    AttributeKeeper& operator=(const AttributeKeeper&) = delete;
    bool ok() const { return m_attributes != INVALID_FILE_ATTRIBUTES; }

private:
    CString m_path;
    DWORD m_attributes;
};

}  // namespace

CAudioFileParse::CAudioFileParse() : m_bDRM(0), m_bScriptCommand(0), m_bNeedModifyVersion(0) {}
CAudioFileParse::~CAudioFileParse() = default;

CAudioFileParse::CAudioFileParse(const CAudioFileParse& other)
    : m_bDRM(other.m_bDRM), m_bScriptCommand(other.m_bScriptCommand), m_bNeedModifyVersion(other.m_bNeedModifyVersion) {}

CAudioFileParse& CAudioFileParse::operator=(const CAudioFileParse& other) {
    m_bDRM = other.m_bDRM;
    m_bScriptCommand = other.m_bScriptCommand;
    m_bNeedModifyVersion = other.m_bNeedModifyVersion;
    return *this;
}

CString CAudioFileParse::ConvertGenreToString(BYTE byGenre) { return mxmeta::GenreName(byGenre); }
BYTE CAudioFileParse::ConvertGenreToCode(CString strGenre) { return mxmeta::GenreCode(strGenre); }

int CAudioFileParse::IsNeedModifyVersion() { return m_bNeedModifyVersion; }

BYTE* CAudioFileParse::GetHeaderInfo(int& nLength) {
    nLength = 0;
    return m_pParser ? m_pParser->GetHeaderBlock(nLength) : nullptr;
}

BYTE* CAudioFileParse::GetTailInfo(int& nLength) {
    nLength = 0;
    return m_pParser ? m_pParser->GetTailBlock(nLength) : nullptr;
}

int CAudioFileParse::GetFileTypeByContent(const BYTE* p, int n) {
    if (!p || n < 4 || std::memcmp(p, ".RMF", 4) == 0) return -1;
    if (n >= 16 && std::memcmp(p, mxasf::GuidOf(mxasf::kHeaderObject).data(), 16) == 0) return 0;
    if (std::memcmp(p, "ID3", 3) == 0) return 1;
    if (n >= 128 && std::memcmp(p + n - 128, "TAG", 3) == 0) return 1;
    // Chunks of 100 bytes, at most 50; a header straddling two chunks is not seen.
    for (int chunk = 0; chunk < 50 && n - chunk * 100 >= 100; ++chunk) {
        for (int i = 0; i <= 96; ++i) {
            if (CMP3FileParse::IsFrameHeader(p + chunk * 100 + i)) return 1;
        }
    }
    return -1;
}

void CAudioFileParse::LegalString(CString& strText) {
    std::string s = strText.str();
    for (size_t i = 0; i < s.size() && s[i] == '.'; ++i) s[i] = ' ';
    for (size_t i = s.size(); i > 0 && s[i - 1] == '.'; --i) s[i - 1] = ' ';
    strText = CString(std::move(s));
    strText.Trim();
}

void CAudioFileParse::Classify(const CString& strPath, CString& strExtension, bool& bMp3, bool& bWma, CMxFile* pOpen) {
    VelaPlayerFileType cls = FILETYPE_UNKNOWN, format = FILETYPE_UNKNOWN;
    if (pOpen) {
        mxfileops::ClassifyOpenFile(*pOpen, cls, format);
        strExtension = cls == FILETYPE_UNKNOWN ? CString() : strPath.Mid(strPath.ReverseFind('.') + 1);
    } else {
        strExtension = CFileOperateManager::GetFileType(strPath, cls, format, 1);
    }
    strExtension.MakeLower();
    bMp3 = cls == FILETYPE_AUDIO && format == FILETYPE_MP3;
    bWma = cls == FILETYPE_AUDIO && format == FILETYPE_WMA;
}

bool CAudioFileParse::MakeParser(bool bMp3, bool bWma) {
    if (bMp3) m_pParser.reset(new CMP3FileParse());
    else if (bWma) m_pParser.reset(new CWMAFileParse());
    return m_pParser != nullptr;
}

int CAudioFileParse::ParseAudioFile(CString& strPath, AUDIOFILEINFO* pInfo, int nOption, int bFixExtension, CString strTag) {
    m_bDRM = m_bScriptCommand = 0;
    if (!pInfo || strPath.IsEmpty()) return 0;
    m_pParser.reset();
    // One open serves the typing and the parse (an import analyses thousands of files).
    CMxFile file;
    bool open = mxfileops::HasAudioExtension(strPath) && file.Open(strPath, kOpenRead);
    if (!open && GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) return 0;
    CString ext;
    bool mp3 = false, wma = false;
    Classify(strPath, ext, mp3, wma, open ? &file : nullptr);
    if (bFixExtension && ((ext == "wma" && mp3) || (ext == "mp3" && wma))) {
        // The extension says the other format: the file takes the name its content deserves.
        if (open) file.Close();
        open = false;
        CString newPath = strPath.Left(strPath.ReverseFind('.')) + (mp3 ? ".mp3" : ".wma");
        CMxFile::Rename(strPath, newPath);
        if (GetFileAttributesA(newPath) != INVALID_FILE_ATTRIBUTES && GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) {
            CString oldPath = strPath;
            strPath = newPath;
            CWnd* main = AfxGetThread()->m_pMainWnd;
            if (main && main->m_hWnd) {
                auto* block = new CString[3]{oldPath, newPath, strTag};
                if (!PostMessageA(main->m_hWnd, WM_MX_EXTENSION_CORRECTED, 0, reinterpret_cast<LPARAM>(block))) delete[] block;
            }
        }
    }
    if (!MakeParser(mp3, wma)) return 0;
    int result = 0;
    if (!open) open = file.Open(strPath, kOpenRead) != 0;
    if (open) {
        file.Seek(0, CFile::begin);
        result = m_pParser->ParseFile(&file, pInfo, nOption);
        m_bNeedModifyVersion = m_pParser->IsNeedModifyVersion();
        if (wma) {
            auto* parser = static_cast<CWMAFileParse*>(m_pParser.get());
            m_bDRM = parser->IsDRM();
            m_bScriptCommand = parser->IsScriptCommand();
        }
        file.Close();
    }
    for (CString* text : {&pInfo->strAlbum, &pInfo->strArtist, &pInfo->strComment, &pInfo->strTitle, &pInfo->strYear}) {
        LegalString(*text);
    }
    return result;
}

int CAudioFileParse::ParseAudioFile(BYTE* pBuffer, int nLength, AUDIOFILEINFO* pInfo, int& nHeaderSize, int nOption) {
    nHeaderSize = -1;
    if (!pInfo) return 0;
    int type = GetFileTypeByContent(pBuffer, nLength);
    if (type < 0) return 0;
    m_pParser.reset(type == 0 ? static_cast<CAudioFileParseBase*>(new CWMAFileParse()) : new CMP3FileParse());
    CMxFile image(reinterpret_cast<const char*>(pBuffer), nLength);
    DWORD headerSize = DWORD(-1);
    int result = m_pParser->ParseBuffer(&image, &headerSize, pInfo, nOption);
    nHeaderSize = int(headerSize);
    return result;
}

void CAudioFileParse::GetAudioFileID3Info(CString strPath, BYTE*& pTail, int& nTailLength, BYTE*& pHeader, int& nHeaderLength) {
    pTail = pHeader = nullptr;
    nTailLength = nHeaderLength = 0;
    m_pParser.reset();
    if (strPath.IsEmpty()) return;
    CString ext;
    bool mp3 = false, wma = false;
    Classify(strPath, ext, mp3, wma);
    if (!MakeParser(mp3, wma)) return;
    CMxFile file;
    if (!file.Open(strPath, kOpenRead)) return;
    DWORD tailLength = 0, headerLength = 0;
    m_pParser->GetRawTags(&file, &pTail, &tailLength, &pHeader, &headerLength);
    nTailLength = int(tailLength);
    nHeaderLength = int(headerLength);
}

ModifyAudioFileResult CAudioFileParse::SetAudioFileInfo(CString strPath, AUDIOFILEINFO* pInfo, DWORD dwMask) {
    if (!pInfo || strPath.IsEmpty()) return MAFR_INVALID;
    m_pParser.reset();
    AttributeKeeper attributes(strPath);
    CString ext;
    bool mp3 = false, wma = false;
    if (!attributes.ok()) return MAFR_INVALID;
    Classify(strPath, ext, mp3, wma);
    if (!MakeParser(mp3, wma)) return MAFR_INVALID;
    CMxFile file;
    if (!file.Open(strPath, kOpenWrite)) return GetLastError() == ERROR_SHARING_VIOLATION ? MAFR_INVALID : MAFR_OPENFAILED;
    int written = m_pParser->WriteTags(&file, pInfo, dwMask);
    file.Close();
    return written ? MAFR_OK : MAFR_WRITEFAILED;
}
