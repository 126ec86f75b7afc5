// Storage rules of the growable array shared with the host framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>

#include "common/AurexArray.h"

// Huge requests must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {
struct Block {
    char bytes[1 << 20];
};

// Size, capacity and storage in one comparable value.
template <class T>
std::tuple<std::uint32_t, std::uint32_t, const T*> shape(const CAurexArray<T>& a) {
    return {a.Size(), a.Capacity(), a.Data()};
}
}  // namespace

TEST(GeometryAurexArray, GrowsToExactSizeAndNeverShrinksStorage) {
    CAurexArray<unsigned int> a;
    EXPECT_EQ(shape(a), std::make_tuple(0u, 0u, nullptr));
    for (unsigned int i = 0; i < 5; ++i) {
        EXPECT_TRUE(a.Add(i * 10));
        EXPECT_EQ(a.Capacity(), i + 1);  // never spare room
    }
    for (unsigned int i = 0; i < 5; ++i) EXPECT_EQ(a[i], i * 10);

    CAurexArray<double> d;
    ASSERT_TRUE(d.Realloc(10));
    const double* storage = d.Data();
    ASSERT_TRUE(d.Grow(3));
    EXPECT_EQ(shape(d), std::make_tuple(3u, 10u, storage));
    ASSERT_TRUE(d.Grow(12));
    EXPECT_EQ(d.Capacity(), 12u);
    storage = d.Data();
    ASSERT_TRUE(d.Grow(2));
    EXPECT_EQ(shape(d), std::make_tuple(2u, 12u, storage));

    // Clear(false) keeps the storage for reuse; Clear(true), Free and
    // Realloc(0) give it back.
    d.Clear(false);
    EXPECT_EQ(shape(d), std::make_tuple(0u, 12u, storage));
    d.Add(7.0);
    EXPECT_EQ(shape(d), std::make_tuple(1u, 12u, storage));
    EXPECT_EQ(d[0], 7.0);
    d.Clear(true);
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
    d.Add(1.0);
    d.Free();
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
    d.Add(1.0);
    EXPECT_TRUE(d.Realloc(0));
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
}

TEST(GeometryAurexArray, AssignmentAndCopy) {
    CAurexArray<int*> src;
    int x = 1, y = 2, z = 3;
    src.Add(&x);
    src.Add(&y);

    CAurexArray<int*> dst;
    for (int i = 0; i < 6; ++i) dst.Add(&z);
    dst.Realloc(8);
    int* const* storage = dst.Data();
    dst = src;
    EXPECT_EQ(shape(dst), std::make_tuple(2u, 8u, storage));  // capacity is kept
    EXPECT_EQ(dst[0], &x);                                     // the pointers, not copies of the objects
    EXPECT_EQ(dst[1], &y);
    dst = CAurexArray<int*>();
    EXPECT_EQ(shape(dst), std::make_tuple(0u, 8u, storage));

    src = src;  // self-assignment changes nothing
    EXPECT_EQ(src.Size(), 2u);
    EXPECT_EQ(src[1], &y);

    CAurexArray<int*> copy(src);
    EXPECT_EQ(copy.Capacity(), 2u);
    EXPECT_NE(copy.Data(), src.Data());
    EXPECT_EQ(copy[0], &x);
}

TEST(GeometryAurexArray, FailedAllocationLeavesItUnchanged) {
    CAurexArray<Block> a;
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();  // about 4 PB of storage

    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(shape(a), std::make_tuple(0u, 0u, nullptr));

    Block one{};
    one.bytes[0] = 'q';
    ASSERT_TRUE(a.Add(one));
    const Block* storage = a.Data();
    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(a.Data(), storage);
    EXPECT_EQ(a.Capacity(), 1u);
    EXPECT_EQ(a[0].bytes[0], 'q');

    // After a failure the array keeps working.
    Block two{};
    two.bytes[0] = 'r';
    ASSERT_TRUE(a.Add(two));
    EXPECT_EQ(a.Size(), 2u);
    EXPECT_EQ(a[0].bytes[0], 'q');
    EXPECT_EQ(a[1].bytes[0], 'r');
}
