#include "MxModule/metadata/AudioFileInfo.h"

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
