// Owner of scratch blocks: a reader allocates a block for a whole file or record, and the manager frees
// every block when it goes out of scope.
#pragma once

#include <map>

#include "MxModule/MxExport.h"

class MX_EXPORT CMemoryManager {
public:
    CMemoryManager() = default;
    virtual ~CMemoryManager();
    CMemoryManager(const CMemoryManager&) = delete;
    CMemoryManager& operator=(const CMemoryManager&) = delete;

    // A new block of nSize bytes (content undefined), kept until destruction; null when nSize < 1 or
    // memory is short.
    char* Allocate(int nSize);
    // For an address inside a kept block: the bytes from it to the block's end, or its offset from the
    // block's start; -1 for an address in no kept block.
    int GetRemainSize(const void* p) const;
    int GetOffset(const void* p) const;

private:
    // The kept block holding p, or end().
    std::map<const char*, int>::const_iterator BlockOf(const void* p) const;

    std::map<const char*, int> m_mapBlocks;  // block address -> length
};
