// names; discovery joins this file
#include "MxModule/foundation/MxPublic.h"

CMap<CString, LPCSTR, int, int> CMxPublic::m_mapPLName2Index;

CString CMxPublic::GetUniquePLName(CString strName) { return GetITunePLName(strName, &m_mapPLName2Index); }

CString CMxPublic::GetITunePLName(CString strName, CMap<CString, LPCSTR, int, int>* pMap) {
    if (!pMap) return strName;
    int nCount = 0;
    if (!pMap->Lookup(strName, nCount)) {
        pMap->SetAt(strName, 0);
        return strName;
    }
    pMap->SetAt(strName, nCount + 1);
    CString strUnique;
    strUnique.Format("%s_%d", static_cast<LPCSTR>(strName), nCount + 1);
    return strUnique;
}
