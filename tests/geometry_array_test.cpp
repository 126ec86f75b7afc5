// Storage rules of the growable array shared with the host framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "common/AurexArray.h"

// Huge requests must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

TEST(GeometryAurexArray, GrowsToExactSizeKeepsStorageOnClearAndCopiesThePointers) {
    int x = 1, y = 2;
    CAurexArray<int*> a;
    a.Add(&x);
    a.Add(&y);
    EXPECT_EQ(a.Capacity(), 2u);  // never spare room
    ASSERT_TRUE(a.Grow(5));
    EXPECT_EQ(a[1], &y);  // kept through the move
    a.Clear(false);       // keeps the storage for reuse
    EXPECT_EQ(a.Capacity(), 5u);
    a.Add(&y);
    CAurexArray<int*> copy(a);
    EXPECT_TRUE(copy.Size() == 1 && copy[0] == &y && copy.Data() != a.Data());
    a.Clear(true);
    EXPECT_TRUE(a.Size() == 0 && a.Capacity() == 0 && a.Data() == nullptr);
}

TEST(GeometryAurexArray, FailedAllocationLeavesItUnchanged) {
    struct Block {
        char bytes[1 << 20];
    };
    CAurexArray<Block> a;
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();  // about 4 PB of storage
    Block one{}, two{};
    one.bytes[0] = 'q';
    two.bytes[0] = 'r';
    ASSERT_TRUE(a.Add(one));
    const Block* storage = a.Data();
    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(a.Data(), storage);
    EXPECT_EQ(a.Capacity(), 1u);
    // After a failure the array keeps working.
    ASSERT_TRUE(a.Add(two));
    EXPECT_EQ(std::make_pair(a[0].bytes[0], a[1].bytes[0]), std::make_pair('q', 'r'));
}
