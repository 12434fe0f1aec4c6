#include <string>
#include <vector>

#include "support/TempMachine.h"

namespace {

// Counts live objects, so a test sees every element destroyed.
struct Counted {
    static int live;
    int v;
    Counted(int x = 0) : v(x) { ++live; }  // NOLINT(google-explicit-constructor)
    Counted(const Counted& o) : v(o.v) { ++live; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --live; }
    bool operator==(const Counted& o) const { return v == o.v; }
};
int Counted::live = 0;

template <class L>
std::vector<int> Values(const L& list) {
    std::vector<int> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos).v);
    return out;
}

TEST(CListTest, PositionsInsertRemoveAndFind) {
    {
        CList<Counted, const Counted&> list(10);
        list.AddTail(2);
        list.AddHead(1);
        POSITION three = list.AddTail(3);
        list.InsertBefore(three, Counted(25));
        list.InsertAfter(three, Counted(4));
        EXPECT_EQ((std::vector<int>{1, 2, 25, 3, 4}), Values(list));
        list.RemoveAt(list.Find(Counted(25)));
        EXPECT_EQ(nullptr, list.Find(Counted(25)));
        EXPECT_EQ(3, list.GetAt(list.FindIndex(2)).v);
        EXPECT_EQ(nullptr, list.FindIndex(4));
        EXPECT_EQ(1, list.RemoveHead().v);
        EXPECT_EQ(4, list.RemoveTail().v);
        EXPECT_EQ((std::vector<int>{2, 3}), Values(list));
        POSITION pos = list.GetTailPosition();
        EXPECT_EQ(3, list.GetPrev(pos).v);
        EXPECT_EQ(2, list.GetPrev(pos).v);
        EXPECT_EQ(nullptr, pos);
        EXPECT_EQ(2, Counted::live);
    }
    EXPECT_EQ(0, Counted::live);
}

TEST(CMapTest, IteratesBucketByBucketNewestFirstLikeMfc) {
    CMap<int, int, int, int> map;
    map.InitHashTable(17);
    // 1, 2 and 3 share bucket 0 (key >> 4); 16 and 17 are in bucket 1.
    for (int k : {1, 16, 2, 17, 3}) map[k] = k * 10;
    std::vector<int> order;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        int k = 0, v = 0;
        map.GetNextAssoc(pos, k, v);
        EXPECT_EQ(k * 10, v);
        order.push_back(k);
    }
    EXPECT_EQ((std::vector<int>{3, 2, 1, 17, 16}), order);
}

TEST(CMapTest, LookupSetAndRemove) {
    CMap<CString, const CString&, int, int> map;
    EXPECT_EQ(nullptr, map.GetStartPosition());
    map.SetAt(CString("a"), 1);
    map[CString("b")] = 2;
    int v = 0;
    EXPECT_TRUE(map.Lookup(CString("a"), v));
    EXPECT_EQ(1, v);
    EXPECT_FALSE(map.Lookup(CString("c"), v));
    EXPECT_TRUE(map.RemoveKey(CString("a")));
    EXPECT_FALSE(map.RemoveKey(CString("a")));
    EXPECT_EQ(1, map.GetCount());
    EXPECT_EQ(0, map[CString("new")]);
}

}  // namespace
