// MxModule: every exported class of the music-box back end, and the platform declarations a front end
// needs beside them (strings, collections, files, registry, shell folders, synchronisation).
#pragma once

#include "platform/collections.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/windef.h"
#include "platform/windows.h"

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/MemoryManager.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxLog.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/DBRecord.h"
#include "MxModule/metadata/AudioFileInfo.h"
#include "MxModule/metadata/AudioFileParse.h"
#include "MxModule/metadata/MP3FileParse.h"
#include "MxModule/metadata/MP3Info.h"
#include "MxModule/metadata/WMAFileParse.h"
