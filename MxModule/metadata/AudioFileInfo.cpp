#include "MxModule/metadata/AudioFileInfo.h"

#include <algorithm>

CAudioFileParseBase::~CAudioFileParseBase() = default;

int CAudioFileParseBase::IsNeedModifyVersion() { return m_bNeedModifyVersion; }

int CAudioFileParseBase::CopyInfo(AUDIOFILEINFO* pInfo) {
    if (pInfo != &m_info) *pInfo = m_info;
    return 1;
}

int CAudioFileParseBase::GetInfo(AUDIOFILEINFO* pInfo) { return pInfo ? CopyInfo(pInfo) : 0; }

CString CAudioFileParseBase::GetTitle() { return m_info.strTitle; }
CString CAudioFileParseBase::GetArtist() { return m_info.strArtist; }
CString CAudioFileParseBase::GetAlbum() { return m_info.strAlbum; }
CString CAudioFileParseBase::GetYear() { return m_info.strYear; }
CString CAudioFileParseBase::GetComment() { return m_info.strComment; }
int CAudioFileParseBase::GetDuration() { return m_info.nDuration; }

void CAudioFileParseBase::SetBlock(std::vector<BYTE>& block, const BYTE* pData, DWORD dwLength) {
    block.assign(pData, pData ? pData + dwLength : pData);
}

bool CAudioFileParseBase::ReplaceHead(CMxFile* pFile, const std::string& strHead, DWORD dwOldSize) {
    DWORD length = pFile->GetLength();
    if (length == DWORD(-1) || dwOldSize > length) return false;
    uint64_t newLength = uint64_t(strHead.size()) + (length - dwOldSize);
    if (newLength >= DWORD(-1)) return false;
    pFile->ClearFailure();
    // What changes: the head alone when its size stays, else everything from the head on.
    std::string bytes = strHead;
    if (strHead.size() != dwOldSize) {
        bytes.resize(size_t(newLength));
        pFile->Seek(LONG(dwOldSize), CFile::begin);
        if (pFile->Read(&bytes[strHead.size()], UINT(length - dwOldSize)) != length - dwOldSize) return false;
    }
    if (newLength > length) {
        pFile->Seek(LONG(length), CFile::begin);
        pFile->Write(bytes.data() + length, UINT(newLength - length));
        pFile->Flush();
        if (pFile->GetFailure()) {
            pFile->ClearFailure();
            pFile->SetLength(length);
            return false;
        }
    }
    pFile->Seek(0, CFile::begin);
    pFile->Write(bytes.data(), UINT(std::min<uint64_t>(bytes.size(), length)));
    if (newLength < length) pFile->SetLength(DWORD(newLength));
    pFile->Flush();
    return pFile->GetFailure() == 0;
}
