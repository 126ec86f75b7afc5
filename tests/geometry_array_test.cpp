// Storage rules of the growable array shared with the host framework.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>

#include "geometry/AurexArray.h"

// Huge requests must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {
// Size, capacity and storage in one comparable value.
template <class T>
std::tuple<std::uint32_t, std::uint32_t, const T*> shape(const CAurexArray<T>& a) {
    return {a.Size(), a.Capacity(), a.Data()};
}
}  // namespace

TEST(GeometryAurexArray, GrowsToExactSizeNeverShrinksAndCopiesThePointers) {
    int x = 1, y = 2, z = 3;
    CAurexArray<int*> a, b;
    a.Add(&x);
    a.Add(&y);
    EXPECT_EQ(a.Capacity(), 2u);  // never spare room
    ASSERT_TRUE(a.Grow(5));
    EXPECT_EQ(a[1], &y);  // kept through the move
    const auto storage = a.Data();
    a.Clear(false);  // keeps the storage for reuse
    a.Add(&y);
    a.Add(&x);
    EXPECT_EQ(shape(a), std::make_tuple(2u, 5u, storage));
    // Assignment keeps the target's capacity; a copy gets its own storage.
    for (int i = 0; i < 6; ++i) b.Add(&z);
    const auto bStorage = b.Data();
    b = a;
    EXPECT_EQ(shape(b), std::make_tuple(2u, 6u, bStorage));
    CAurexArray<int*> copy(a);
    EXPECT_EQ(shape(copy), std::make_tuple(2u, 2u, copy.Data()));
    EXPECT_NE(copy.Data(), a.Data());
    EXPECT_EQ(std::make_tuple(b[0], b[1], copy[0], copy[1]), std::make_tuple(&y, &x, &y, &x));
    // Clear(true), Free and Realloc(0) give the storage back.
    a.Clear(true);
    b.Free();
    EXPECT_TRUE(copy.Realloc(0));
    for (const auto* e : {&a, &b, &copy}) EXPECT_EQ(shape(*e), std::make_tuple(0u, 0u, nullptr));
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
