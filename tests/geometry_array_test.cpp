// Storage rules of the growable array shared with the host framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "geometry/AurexArray.h"

// Huge requests must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {
struct Block {
    char bytes[1 << 20];
};

}  // namespace

TEST(GeometryAurexArray, GrowsToExactSize) {
    CAurexArray<unsigned int> a;
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_EQ(a.Data(), nullptr);
    for (unsigned int i = 0; i < 5; ++i) {
        EXPECT_TRUE(a.Add(i * 10));
        EXPECT_EQ(a.Size(), i + 1);
        EXPECT_EQ(a.Capacity(), i + 1);  // never spare room
    }
    for (unsigned int i = 0; i < 5; ++i) EXPECT_EQ(a[i], i * 10);

    CAurexArray<double> d;
    ASSERT_TRUE(d.Realloc(10));
    double* storage = d.Data();
    ASSERT_TRUE(d.Grow(3));
    EXPECT_EQ(d.Size(), 3u);
    EXPECT_EQ(d.Capacity(), 10u);
    EXPECT_EQ(d.Data(), storage);
    ASSERT_TRUE(d.Grow(12));
    EXPECT_EQ(d.Size(), 12u);
    EXPECT_EQ(d.Capacity(), 12u);
    ASSERT_TRUE(d.Grow(2));  // never shrinks the storage
    EXPECT_EQ(d.Capacity(), 12u);
}

TEST(GeometryAurexArray, ClearFreeAndReallocToZero) {
    CAurexArray<double> a;
    for (int i = 0; i < 4; ++i) a.Add(i);
    double* storage = a.Data();
    a.Clear(false);
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Capacity(), 4u);
    EXPECT_EQ(a.Data(), storage);
    a.Add(7.0);  // reuses the kept storage
    EXPECT_EQ(a.Data(), storage);
    EXPECT_EQ(a.Capacity(), 4u);
    EXPECT_EQ(a[0], 7.0);

    a.Clear(true);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Capacity(), 0u);

    a.Add(1.0);
    a.Free();
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Capacity(), 0u);

    a.Add(1.0);
    a.Add(2.0);
    EXPECT_TRUE(a.Realloc(0));
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), 0u);
    EXPECT_EQ(a.Capacity(), 0u);
}

TEST(GeometryAurexArray, AssignmentAndCopy) {
    CAurexArray<int*> src;
    int x = 1, y = 2;
    src.Add(&x);
    src.Add(&y);

    CAurexArray<int*> dst;
    int z = 3;
    for (int i = 0; i < 6; ++i) dst.Add(&z);
    dst.Realloc(8);
    int** storage = dst.Data();
    dst = src;
    EXPECT_EQ(dst.Size(), 2u);
    EXPECT_EQ(dst.Capacity(), 8u);  // capacity is kept
    EXPECT_EQ(dst.Data(), storage);
    EXPECT_EQ(dst[0], &x);          // the pointers, not copies of the objects
    EXPECT_EQ(dst[1], &y);

    CAurexArray<int*> empty;
    dst = empty;
    EXPECT_EQ(dst.Size(), 0u);
    EXPECT_EQ(dst.Capacity(), 8u);
    EXPECT_EQ(dst.Data(), storage);

    src = src;  // self-assignment changes nothing
    EXPECT_EQ(src.Size(), 2u);
    EXPECT_EQ(src.Capacity(), 2u);
    EXPECT_EQ(src[1], &y);

    CAurexArray<int*> copy(src);
    EXPECT_EQ(copy.Size(), 2u);
    EXPECT_EQ(copy.Capacity(), 2u);
    EXPECT_NE(copy.Data(), src.Data());
    EXPECT_EQ(copy[0], &x);

}

TEST(GeometryAurexArray, FailedAllocationLeavesItUnchanged) {
    CAurexArray<Block> a;
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();  // about 4 PB of storage

    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(a.Size(), 0u);

    Block one{};
    one.bytes[0] = 'q';
    ASSERT_TRUE(a.Add(one));
    Block* storage = a.Data();
    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_EQ(a.Data(), storage);
    EXPECT_EQ(a.Size(), 1u);
    EXPECT_EQ(a.Capacity(), 1u);
    EXPECT_EQ(a[0].bytes[0], 'q');
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(a.Size(), 1u);

    // After a failure the array keeps working.
    Block two{};
    two.bytes[0] = 'r';
    ASSERT_TRUE(a.Add(two));
    EXPECT_EQ(a.Size(), 2u);
    EXPECT_EQ(a[0].bytes[0], 'q');
    EXPECT_EQ(a[1].bytes[0], 'r');
}
