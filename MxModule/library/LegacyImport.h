// The one-time import of the older Access-based index into a newly created library.
#pragma once

#include "platform/text.h"

class CDBCore;

// Imports the records of the legacy database at strPath into the store, then deletes the file. The
// Access reader does not exist yet: for now the file is only deleted.
void ImportLegacyDatabase(CDBCore& store, const CString& strPath);
