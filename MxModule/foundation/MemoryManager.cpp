#include "MxModule/foundation/MemoryManager.h"

#include <functional>
#include <new>

CMemoryManager::~CMemoryManager() {
    for (auto& block : m_mapBlocks) delete[] block.first;
}

char* CMemoryManager::Allocate(int nSize) {
    if (nSize < 1) return nullptr;
    char* p = new (std::nothrow) char[size_t(nSize)];
    if (p) m_mapBlocks[p] = nSize;
    return p;
}

std::map<const char*, int>::const_iterator CMemoryManager::BlockOf(const void* p) const {
    const char* c = static_cast<const char*>(p);
    auto it = m_mapBlocks.upper_bound(c);
    if (it == m_mapBlocks.begin()) return m_mapBlocks.end();
    --it;
    // Pointers of different blocks are ordered with std::less, which is total even where < is not.
    bool inside = !std::less<const char*>()(c, it->first) && std::less<const char*>()(c, it->first + it->second);
    return inside ? it : m_mapBlocks.end();
}

int CMemoryManager::GetRemainSize(const void* p) const {
    auto it = BlockOf(p);
    return it == m_mapBlocks.end() ? -1 : int(it->first + it->second - static_cast<const char*>(p));
}

int CMemoryManager::GetOffset(const void* p) const {
    auto it = BlockOf(p);
    return it == m_mapBlocks.end() ? -1 : int(static_cast<const char*>(p) - it->first);
}
