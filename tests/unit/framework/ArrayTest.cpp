// CArray: ownership by value, construction and destruction of elements, growth and its
// failure, as the process list relies on.
#include "framework/FrameworkTest.h"

#include <cstring>

namespace {

// An element that counts its constructions and destructions and notes whether its storage
// was zero when its constructor began.
struct Counted {
    static int constructed;
    static int destroyed;
    static int Live() { return constructed - destroyed; }

    Counted() : value(-1)
    {
        ++constructed;
        unsigned char raw[sizeof untouched];
        std::memcpy(raw, &untouched, sizeof raw);
        zeroBefore = true;
        for (unsigned char b : raw)
            zeroBefore = zeroBefore && b == 0;
    }
    explicit Counted(int v) : Counted() { value = v; }
    Counted(const Counted& other) : Counted() { value = other.value; }
    Counted& operator=(const Counted& other)
    {
        value = other.value;
        return *this;
    }
    ~Counted() { ++destroyed; }

    int value;
    int untouched;   // left alone by every constructor: shows the zero fill
    bool zeroBefore;
};
int Counted::constructed = 0;
int Counted::destroyed = 0;

class ArrayTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        Counted::constructed = Counted::destroyed = 0;
    }
};

TEST_F(ArrayTest, NewElementsAreZeroFilledThenDefaultConstructed)
{
    CArray<Counted, Counted> a;
    EXPECT_EQ(0, a.GetSize());
    EXPECT_EQ(0, a.GetCapacity());
    a.SetSize(5);
    ASSERT_EQ(5, a.GetSize());
    EXPECT_EQ(5, Counted::constructed);
    for (INT_PTR i = 0; i < a.GetSize(); ++i) {
        EXPECT_TRUE(a[i].zeroBefore) << "element " << i << " was not zero-filled before its constructor";
        EXPECT_EQ(-1, a[i].value) << "element " << i << " was not default-constructed";
        EXPECT_EQ(0, a[i].untouched) << "element " << i;
    }
    a.SetSize(12);   // growth past the first block: the new ones again
    for (INT_PTR i = 5; i < a.GetSize(); ++i)
        EXPECT_TRUE(a[i].zeroBefore && a[i].value == -1) << "grown element " << i;
    a.SetAtGrow(20, Counted(7));
    for (INT_PTR i = 12; i < 20; ++i)
        EXPECT_TRUE(a[i].zeroBefore && a[i].value == -1) << "gap element " << i;
    EXPECT_EQ(7, a[20].value);
}

TEST_F(ArrayTest, ShrinkingDestroysTheSurplusAndKeepsTheRest)
{
    CArray<Counted, Counted> a;
    for (int i = 0; i < 10; ++i)
        a.Add(Counted(i));
    ASSERT_EQ(10, Counted::Live());
    const INT_PTR capacity = a.GetCapacity();
    a.SetSize(3);
    EXPECT_EQ(3, Counted::Live()) << "7 surplus elements destroyed";
    ASSERT_EQ(3, a.GetSize());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(i, a[i].value);
    EXPECT_EQ(capacity, a.GetCapacity()) << "shrinking keeps the storage";
    a.SetSize(0);
    EXPECT_EQ(0, Counted::Live());
    EXPECT_EQ(0u, sim.LiveBlocks()) << "an empty array holds no storage";
}

TEST_F(ArrayTest, DestructionDestroysEveryElementAndFreesTheStorage)
{
    {
        CArray<Counted, Counted> a;
        for (int i = 0; i < 40; ++i)
            a.Add(Counted(i));
        EXPECT_EQ(40, Counted::Live());
        EXPECT_EQ(1u, sim.LiveBlocks());
    }
    EXPECT_EQ(0, Counted::Live());
    EXPECT_EQ(0u, sim.LiveBlocks());
}

TEST_F(ArrayTest, AutomaticGrowthKeepsTheElementsInOrder)
{
    CArray<Counted, Counted> a;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(i, a.Add(Counted(i * 3)));
        ASSERT_EQ(i + 1, a.GetSize());
    }
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(i * 3, a[i].value) << "element " << i;
    EXPECT_EQ(1000, Counted::Live());
    EXPECT_GE(a.GetCapacity(), a.GetSize());
    EXPECT_LT(sim.Allocations(), 100) << "growth in steps, not one allocation per element";
}

TEST_F(ArrayTest, FailedGrowthThrowsAMemoryExceptionAndKeepsWhatWasThere)
{
    CArray<Counted, Counted> a;
    sim.FailAllocationsAfter(0);
    bool threw = false;
    try {
        a.Add(Counted(1));
    } catch (CMemoryException* e) {
        threw = true;
        e->Delete();
    }
    EXPECT_TRUE(threw) << "the first allocation failed";
    EXPECT_EQ(0, a.GetSize());
    EXPECT_EQ(0, Counted::Live());

    sim.FailAllocationsAfter(-1);
    for (int i = 0; i < 4; ++i)
        a.Add(Counted(i));
    for (int i = 4; a.GetSize() < a.GetCapacity() && i < 10000; ++i)
        a.Add(Counted(i));
    ASSERT_EQ(a.GetCapacity(), a.GetSize()) << "filled to its capacity";
    const INT_PTR size = a.GetSize();
    const int live = Counted::Live();
    const size_t blocks = sim.LiveBlocks();
    sim.FailAllocationsAfter(0);
    threw = false;
    try {
        a.Add(Counted(99));
    } catch (CMemoryException* e) {
        threw = true;
        e->Delete();
    }
    EXPECT_TRUE(threw) << "growing past the capacity needs a new block";
    ASSERT_EQ(size, a.GetSize());
    for (INT_PTR i = 0; i < size; ++i)
        EXPECT_EQ(i, a[i].value) << "element " << i;
    EXPECT_EQ(live, Counted::Live());
    EXPECT_EQ(blocks, sim.LiveBlocks());

    sim.FailAllocationsAfter(-1);
    a.Add(Counted(99));
    EXPECT_EQ(99, a[size].value) << "the array works on after the failure";
    a.RemoveAll();
    EXPECT_EQ(0, Counted::Live());
    EXPECT_EQ(0u, sim.LiveBlocks());
}

}  // namespace
