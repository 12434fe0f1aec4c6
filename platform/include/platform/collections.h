// MFC's collections: CList (a doubly linked list whose nodes come from blocks of nBlockSize), CMap (a
// chained hash table of a chosen bucket count, iterated bucket by bucket as MFC does) and CArray.
#pragma once

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/windef.h"

struct __POSITION {};
typedef __POSITION* POSITION;
#define BEFORE_START_POSITION (reinterpret_cast<POSITION>(static_cast<intptr_t>(-1)))

namespace mxp {
// Node storage shared by CList and CMap: nodes are carved from blocks and recycled through a free list;
// the blocks are returned only by FreeAll, as MFC's CPlex does.
template <typename Node>
class NodePool {
public:
    explicit NodePool(int nBlockSize) : m_nBlockSize(nBlockSize > 0 ? nBlockSize : 10) {}
    ~NodePool() { FreeAll(); }
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;
    void* Take() {
        if (!m_pFree) {
            auto* block = static_cast<Slot*>(::operator new(sizeof(Slot) * size_t(m_nBlockSize)));
            m_blocks.push_back(block);
            for (int i = m_nBlockSize - 1; i >= 0; --i) {
                block[i].next = m_pFree;
                m_pFree = &block[i];
            }
        }
        Slot* s = m_pFree;
        m_pFree = s->next;
        return s;
    }
    void Give(void* p) {
        auto* s = static_cast<Slot*>(p);
        s->next = m_pFree;
        m_pFree = s;
    }
    void FreeAll() {
        for (Slot* b : m_blocks) ::operator delete(b);
        m_blocks.clear();
        m_pFree = nullptr;
    }
    int BlockSize() const { return m_nBlockSize; }

private:
    union Slot {
        Slot* next;
        alignas(Node) unsigned char node[sizeof(Node)];
    };
    int m_nBlockSize;
    Slot* m_pFree = nullptr;
    std::vector<Slot*> m_blocks;
};
}  // namespace mxp

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList {
    struct CNode {
        CNode* pNext;
        CNode* pPrev;
        TYPE data;
    };

public:
    explicit CList(int nBlockSize = 10) : m_pool(nBlockSize) {}
    ~CList() { RemoveAll(); }
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;

    int GetCount() const { return m_nCount; }
    int GetSize() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }
    int GetBlockSize() const { return m_pool.BlockSize(); }

    TYPE& GetHead() { return m_pHead->data; }
    const TYPE& GetHead() const { return m_pHead->data; }
    TYPE& GetTail() { return m_pTail->data; }
    const TYPE& GetTail() const { return m_pTail->data; }

    TYPE RemoveHead() {
        CNode* old = m_pHead;
        TYPE value = std::move(old->data);
        old->data.~TYPE();
        m_pHead = old->pNext;
        if (m_pHead) m_pHead->pPrev = nullptr;
        else m_pTail = nullptr;
        FreeNode(old);
        return value;
    }
    TYPE RemoveTail() {
        CNode* old = m_pTail;
        TYPE value = std::move(old->data);
        old->data.~TYPE();
        m_pTail = old->pPrev;
        if (m_pTail) m_pTail->pNext = nullptr;
        else m_pHead = nullptr;
        FreeNode(old);
        return value;
    }

    POSITION AddHead(ARG_TYPE newElement) { return InsertNode(nullptr, m_pHead, newElement); }
    POSITION AddTail(ARG_TYPE newElement) { return InsertNode(m_pTail, nullptr, newElement); }
    void AddHead(CList* pNewList) {
        for (POSITION pos = pNewList->GetTailPosition(); pos;) AddHead(pNewList->GetPrev(pos));
    }
    void AddTail(CList* pNewList) {
        for (POSITION pos = pNewList->GetHeadPosition(); pos;) AddTail(pNewList->GetNext(pos));
    }

    void RemoveAll() {
        for (CNode* n = m_pHead; n;) {
            CNode* next = n->pNext;
            n->data.~TYPE();
            n = next;
        }
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
        m_pool.FreeAll();
    }

    POSITION GetHeadPosition() const { return Pos(m_pHead); }
    POSITION GetTailPosition() const { return Pos(m_pTail); }
    TYPE& GetNext(POSITION& rPosition) {
        CNode* n = Node(rPosition);
        rPosition = Pos(n->pNext);
        return n->data;
    }
    const TYPE& GetNext(POSITION& rPosition) const {
        CNode* n = Node(rPosition);
        rPosition = Pos(n->pNext);
        return n->data;
    }
    TYPE& GetPrev(POSITION& rPosition) {
        CNode* n = Node(rPosition);
        rPosition = Pos(n->pPrev);
        return n->data;
    }
    const TYPE& GetPrev(POSITION& rPosition) const {
        CNode* n = Node(rPosition);
        rPosition = Pos(n->pPrev);
        return n->data;
    }
    TYPE& GetAt(POSITION position) { return Node(position)->data; }
    const TYPE& GetAt(POSITION position) const { return Node(position)->data; }
    void SetAt(POSITION pos, ARG_TYPE newElement) { Node(pos)->data = newElement; }

    void RemoveAt(POSITION position) {
        CNode* n = Node(position);
        (n == m_pHead ? m_pHead : n->pPrev->pNext) = n->pNext;
        (n == m_pTail ? m_pTail : n->pNext->pPrev) = n->pPrev;
        n->data.~TYPE();
        FreeNode(n);
    }
    POSITION InsertBefore(POSITION position, ARG_TYPE newElement) {
        if (!position) return AddHead(newElement);
        CNode* n = Node(position);
        return InsertNode(n->pPrev, n, newElement);
    }
    POSITION InsertAfter(POSITION position, ARG_TYPE newElement) {
        if (!position) return AddTail(newElement);
        CNode* n = Node(position);
        return InsertNode(n, n->pNext, newElement);
    }

    // The first element equal to searchValue after startAfter (from the head when null).
    POSITION Find(ARG_TYPE searchValue, POSITION startAfter = nullptr) const {
        CNode* n = startAfter ? Node(startAfter)->pNext : m_pHead;
        for (; n; n = n->pNext) {
            if (n->data == searchValue) return Pos(n);
        }
        return nullptr;
    }
    POSITION FindIndex(int nIndex) const {
        if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
        CNode* n = m_pHead;
        while (nIndex--) n = n->pNext;
        return Pos(n);
    }

private:
    static POSITION Pos(CNode* n) { return reinterpret_cast<POSITION>(n); }
    static CNode* Node(POSITION p) { return reinterpret_cast<CNode*>(p); }

    // Links a new node between prev and next (either may be null at an end).
    POSITION InsertNode(CNode* prev, CNode* next, ARG_TYPE value) {
        void* mem = m_pool.Take();
        CNode* n = static_cast<CNode*>(mem);
        n->pPrev = prev;
        n->pNext = next;
        new (&n->data) TYPE(value);
        (prev ? prev->pNext : m_pHead) = n;
        (next ? next->pPrev : m_pTail) = n;
        ++m_nCount;
        return Pos(n);
    }
    void FreeNode(CNode* n) {
        m_pool.Give(n);
        if (--m_nCount == 0) RemoveAll();
    }

    CNode* m_pHead = nullptr;
    CNode* m_pTail = nullptr;
    int m_nCount = 0;
    mxp::NodePool<CNode> m_pool;
};

// MFC's hash functions: integers and pointers by their value shifted right by 4, strings by
// hash = hash * 33 + byte.
template <class ARG_KEY>
inline UINT HashKey(ARG_KEY key) {
    if constexpr (std::is_pointer_v<std::decay_t<ARG_KEY>>) {
        return static_cast<UINT>(reinterpret_cast<ULONG_PTR>(key) >> 4);
    } else {
        return static_cast<UINT>(static_cast<ULONG_PTR>(key) >> 4);
    }
}
template <>
inline UINT HashKey<LPCSTR>(LPCSTR key) {
    UINT nHash = 0;
    while (*key) nHash = (nHash << 5) + nHash + static_cast<BYTE>(*key++);
    return nHash;
}
template <>
inline UINT HashKey<const CString&>(const CString& key) {
    return HashKey<LPCSTR>(key);
}
template <>
inline UINT HashKey<CString>(CString key) {
    return HashKey<LPCSTR>(key);
}

template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE>
class CMap {
    struct CAssoc {
        CAssoc* pNext;
        UINT nHashValue;
        KEY key;
        VALUE value;
    };

public:
    explicit CMap(int nBlockSize = 10) : m_pool(nBlockSize) {}
    ~CMap() { RemoveAll(); }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    int GetCount() const { return m_nCount; }
    int GetSize() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }
    UINT GetHashTableSize() const { return m_nHashTableSize; }

    // Sets the bucket count; only while the map is empty.
    void InitHashTable(UINT nHashSize, BOOL bAllocNow = TRUE) {
        if (m_nCount) return;
        m_buckets.clear();
        m_nHashTableSize = nHashSize ? nHashSize : 17;
        if (bAllocNow) m_buckets.assign(m_nHashTableSize, nullptr);
    }

    BOOL Lookup(ARG_KEY key, VALUE& rValue) const {
        UINT h = 0;
        CAssoc* a = GetAssocAt(key, h);
        if (!a) return FALSE;
        rValue = a->value;
        return TRUE;
    }
    VALUE& operator[](ARG_KEY key) {
        UINT h = 0;
        CAssoc* a = GetAssocAt(key, h);
        if (!a) {
            if (m_buckets.empty()) InitHashTable(m_nHashTableSize, TRUE);
            a = static_cast<CAssoc*>(m_pool.Take());
            new (&a->key) KEY(key);
            new (&a->value) VALUE();
            a->nHashValue = h;
            a->pNext = m_buckets[h];
            m_buckets[h] = a;  // new entries go to the front of their bucket
            ++m_nCount;
        }
        return a->value;
    }
    void SetAt(ARG_KEY key, ARG_VALUE newValue) { (*this)[key] = newValue; }

    BOOL RemoveKey(ARG_KEY key) {
        if (m_buckets.empty()) return FALSE;
        UINT h = HashKey<ARG_KEY>(key) % m_nHashTableSize;
        for (CAssoc** pp = &m_buckets[h]; *pp; pp = &(*pp)->pNext) {
            if ((*pp)->key == key) {
                CAssoc* a = *pp;
                *pp = a->pNext;
                FreeAssoc(a);
                return TRUE;
            }
        }
        return FALSE;
    }
    void RemoveAll() {
        for (CAssoc*& head : m_buckets) {
            for (CAssoc* a = head; a;) {
                CAssoc* next = a->pNext;
                a->key.~KEY();
                a->value.~VALUE();
                a = next;
            }
            head = nullptr;
        }
        m_buckets.clear();
        m_nCount = 0;
        m_pool.FreeAll();
    }

    POSITION GetStartPosition() const { return m_nCount == 0 ? nullptr : BEFORE_START_POSITION; }
    void GetNextAssoc(POSITION& rNextPosition, KEY& rKey, VALUE& rValue) const {
        CAssoc* a = reinterpret_cast<CAssoc*>(rNextPosition);
        if (rNextPosition == BEFORE_START_POSITION) {
            a = nullptr;
            for (UINT b = 0; b < m_buckets.size() && !a; ++b) a = m_buckets[b];
        }
        CAssoc* next = a->pNext;
        for (UINT b = a->nHashValue + 1; !next && b < m_buckets.size(); ++b) next = m_buckets[b];
        rNextPosition = reinterpret_cast<POSITION>(next);
        rKey = a->key;
        rValue = a->value;
    }

private:
    CAssoc* GetAssocAt(ARG_KEY key, UINT& nHash) const {
        nHash = HashKey<ARG_KEY>(key) % m_nHashTableSize;
        if (m_buckets.empty()) return nullptr;
        for (CAssoc* a = m_buckets[nHash]; a; a = a->pNext) {
            if (a->key == key) return a;
        }
        return nullptr;
    }
    void FreeAssoc(CAssoc* a) {
        a->key.~KEY();
        a->value.~VALUE();
        m_pool.Give(a);
        if (--m_nCount == 0) RemoveAll();
    }

    std::vector<CAssoc*> m_buckets;
    UINT m_nHashTableSize = 17;
    int m_nCount = 0;
    mxp::NodePool<CAssoc> m_pool;
};

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
public:
    CArray() = default;
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;

    int GetSize() const { return int(m_data.size()); }
    int GetCount() const { return int(m_data.size()); }
    BOOL IsEmpty() const { return m_data.empty(); }
    int GetUpperBound() const { return int(m_data.size()) - 1; }
    void SetSize(int nNewSize, int nGrowBy = -1) { m_data.resize(size_t(nNewSize < 0 ? 0 : nNewSize)); }
    void FreeExtra() { m_data.shrink_to_fit(); }
    void RemoveAll() { m_data.clear(); }

    const TYPE& GetAt(int nIndex) const { return m_data[size_t(nIndex)]; }
    void SetAt(int nIndex, ARG_TYPE newElement) { m_data[size_t(nIndex)] = newElement; }
    TYPE& ElementAt(int nIndex) { return m_data[size_t(nIndex)]; }
    const TYPE* GetData() const { return m_data.data(); }
    TYPE* GetData() { return m_data.data(); }
    TYPE& operator[](int nIndex) { return m_data[size_t(nIndex)]; }
    const TYPE& operator[](int nIndex) const { return m_data[size_t(nIndex)]; }

    void SetAtGrow(int nIndex, ARG_TYPE newElement) {
        if (nIndex >= GetSize()) SetSize(nIndex + 1);
        m_data[size_t(nIndex)] = newElement;
    }
    int Add(ARG_TYPE newElement) {
        m_data.push_back(newElement);
        return GetUpperBound();
    }
    int Append(const CArray& src) {
        int old = GetSize();
        m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end());
        return old;
    }
    void Copy(const CArray& src) { m_data = src.m_data; }
    void InsertAt(int nIndex, ARG_TYPE newElement, int nCount = 1) {
        if (nIndex > GetSize()) SetSize(nIndex);
        m_data.insert(m_data.begin() + nIndex, size_t(nCount), newElement);
    }
    void RemoveAt(int nIndex, int nCount = 1) { m_data.erase(m_data.begin() + nIndex, m_data.begin() + nIndex + nCount); }

private:
    std::vector<TYPE> m_data;
};
