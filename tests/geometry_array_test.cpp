// Storage rules of the growable array shared with the host framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>

#include "geometry/AurexArray.h"

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
    CAurexArray<double> d;
    for (unsigned int i = 0; i < 3; ++i) {
        EXPECT_TRUE(d.Add(i * 10.0));
        EXPECT_EQ(d.Capacity(), i + 1);  // never spare room
    }
    EXPECT_EQ(d[2], 20.0);
    ASSERT_TRUE(d.Realloc(10));
    const double* storage = d.Data();
    ASSERT_TRUE(d.Grow(5));
    EXPECT_EQ(shape(d), std::make_tuple(5u, 10u, storage));
    EXPECT_EQ(d[1], 10.0);  // kept through the move
    ASSERT_TRUE(d.Grow(12));
    storage = d.Data();
    ASSERT_TRUE(d.Grow(2));
    EXPECT_EQ(shape(d), std::make_tuple(2u, 12u, storage));

    // Clear(false) keeps the storage for reuse; Clear(true), Free and
    // Realloc(0) give it back.
    d.Clear(false);
    d.Add(7.0);
    EXPECT_EQ(shape(d), std::make_tuple(1u, 12u, storage));
    d.Clear(true);
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
    d.Add(1.0);
    d.Free();
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
    d.Add(1.0);
    EXPECT_TRUE(d.Realloc(0));
    EXPECT_EQ(shape(d), std::make_tuple(0u, 0u, nullptr));
}

TEST(GeometryAurexArray, AssignmentKeepsCapacityAndCopiesThePointers) {
    int x = 1, y = 2, z = 3;
    CAurexArray<int*> src, dst;
    src.Add(&x);
    src.Add(&y);
    for (int i = 0; i < 6; ++i) dst.Add(&z);
    dst.Realloc(8);
    int* const* storage = dst.Data();
    dst = src;
    EXPECT_EQ(shape(dst), std::make_tuple(2u, 8u, storage));
    EXPECT_EQ(std::make_pair(dst[0], dst[1]), std::make_pair(&x, &y));
    dst = CAurexArray<int*>();
    EXPECT_EQ(shape(dst), std::make_tuple(0u, 8u, storage));
    src = src;  // self-assignment changes nothing
    CAurexArray<int*> copy(src);
    EXPECT_EQ(copy.Capacity(), 2u);
    EXPECT_NE(copy.Data(), src.Data());
    EXPECT_EQ(std::make_pair(copy[0], copy[1]), std::make_pair(&x, &y));
}

TEST(GeometryAurexArray, FailedAllocationLeavesItUnchanged) {
    CAurexArray<Block> a;
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();  // about 4 PB of storage
    EXPECT_FALSE(a.Realloc(huge));
    EXPECT_FALSE(a.Grow(huge));
    EXPECT_EQ(shape(a), std::make_tuple(0u, 0u, nullptr));

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
    EXPECT_EQ(a.Size(), 2u);
    EXPECT_EQ(std::make_pair(a[0].bytes[0], a[1].bytes[0]), std::make_pair('q', 'r'));
}
