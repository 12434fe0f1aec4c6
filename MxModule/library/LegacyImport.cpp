#include "MxModule/library/LegacyImport.h"

#include "platform/files.h"

void ImportLegacyDatabase(CDBCore&, const CString& strPath) { DeleteFileA(strPath); }
