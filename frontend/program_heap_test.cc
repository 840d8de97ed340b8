// The programs' allocator.  Linked into this test, it replaces the C
// library's for the whole process, so everything here (gtest and the C++
// library included) allocates through it.

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include <gtest/gtest.h>

// memalign, pvalloc and malloc_usable_size are glibc's extensions, which
// program_heap.cc defines along with the rest; elsewhere it compiles to
// nothing (the C library's allocator is kept) and there is neither the
// header nor anything to test.
#ifdef __GLIBC__
#include <malloc.h>
#else
#define ZOV_NO_PROGRAM_HEAP 1
#endif

namespace {

// mincore's vector is unsigned char * on Linux and char * on FreeBSD.
template <typename Address, typename Vector>
int resident(int (*call)(Address, size_t, Vector *), void *page) {
  Vector vector;
  return call(page, 1, &vector);
}

class ProgramHeap : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef ZOV_NO_PROGRAM_HEAP
    GTEST_SKIP() << "the programs keep the C library's allocator here";
#endif
  }
};

bool aligned(const void *p, size_t to) { return (uintptr_t)p % to == 0; }

// Many blocks of many sizes, enough to use up the static region and more
// than one mapped region, and some big enough for mappings of their own:
// each is aligned, usable to its size, and overlaps no other.
TEST_F(ProgramHeap, BlocksAreAlignedAndDisjointAcrossRegions) {
  const size_t sizes[] = {0, 1, 15, 16, 17, 100, 3000, 4096, 70000, 300000};
  struct block {
    unsigned char *p;
    size_t size;
    unsigned char fill;
  };
  std::vector<block> blocks;
  blocks.reserve(1000);
  for (int round = 0; round < 80; ++round) {
    for (size_t size : sizes) {
      unsigned char *p = static_cast<unsigned char *>(malloc(size));
      ASSERT_NE(p, nullptr) << size;
      ASSERT_TRUE(aligned(p, alignof(max_align_t))) << size;
#ifndef ZOV_NO_PROGRAM_HEAP
      ASSERT_GE(malloc_usable_size(p), size);
#endif
      unsigned char fill = (unsigned char)(blocks.size() * 7 + 1);
      memset(p, fill, size);
      blocks.push_back({p, size, fill});
    }
  }
  for (const block &b : blocks)
    for (size_t i = 0; i < b.size; ++i) ASSERT_EQ(b.p[i], b.fill) << b.size;
  for (const block &b : blocks) free(b.p);
}

TEST_F(ProgramHeap, FreeTakesBackTheLastBlockOnly) {
  void *a = malloc(100);
  free(a);
  void *b = malloc(100);  // the same place again
  void *c = malloc(40);
  void *d = malloc(40);
  free(c);  // not the last: stays taken
  void *e = malloc(40);
  EXPECT_EQ(b, a);
  EXPECT_NE(e, c);
  free(e);
  free(d);
  free(b);

  // Memory taken back may hold old data; calloc's does not.
  unsigned char *dirty = static_cast<unsigned char *>(malloc(64));
  memset(dirty, 0xff, 64);
  free(dirty);
  unsigned char *zeroed = static_cast<unsigned char *>(calloc(8, 8));
  ASSERT_EQ(zeroed, dirty);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(zeroed[i], 0) << i;
  free(zeroed);
}

TEST_F(ProgramHeap, ReallocKeepsTheContents) {
  char *a = static_cast<char *>(realloc(nullptr, 10));
  ASSERT_NE(a, nullptr);
  memcpy(a, "123456789", 10);
  char *grown = static_cast<char *>(realloc(a, 1000));  // the last block: grows in place
  ASSERT_NE(grown, nullptr);
  EXPECT_STREQ(grown, "123456789");
  char *other = static_cast<char *>(malloc(10));
  char *moved = static_cast<char *>(realloc(grown, 5000));  // no longer the last: moves
  ASSERT_NE(moved, nullptr);
  EXPECT_STREQ(moved, "123456789");
  uintptr_t before = (uintptr_t)moved;
  moved = static_cast<char *>(realloc(moved, 20));
  EXPECT_EQ((uintptr_t)moved, before);  // shrinking keeps the block

  // A big block moves into a mapping of its own.
  char *big = static_cast<char *>(realloc(moved, 1 << 20));
  ASSERT_NE(big, nullptr);
  EXPECT_STREQ(big, "123456789");
  big[(1 << 20) - 1] = 'x';
  free(big);
  free(other);
}

// A big block's mapping goes back to the system with free.
TEST_F(ProgramHeap, BigBlocksAreUnmappedByFree) {
  const size_t size = 1 << 20;
  char *big = static_cast<char *>(malloc(size));
  ASSERT_NE(big, nullptr);
  memset(big, 1, size);
  long page = sysconf(_SC_PAGESIZE);
  void *inside = reinterpret_cast<void *>(((uintptr_t)big + size / 2) & ~(uintptr_t)(page - 1));
  ASSERT_EQ(resident(mincore, inside), 0);
  free(big);
  EXPECT_EQ(resident(mincore, inside), -1);
  EXPECT_EQ(errno, ENOMEM);
}

TEST_F(ProgramHeap, AlignedAllocations) {
  struct {
    size_t align;
    size_t size;
  } cases[] = {{16, 1}, {64, 100}, {4096, 10}, {8192, 100000}};
  for (auto c : cases) {
    void *a = aligned_alloc(c.align, c.size);
#ifndef ZOV_NO_PROGRAM_HEAP
    void *m = memalign(c.align, c.size);
#else
    void *m = aligned_alloc(c.align, c.size);
#endif
    void *p = nullptr;
    EXPECT_EQ(posix_memalign(&p, c.align, c.size), 0);
    for (void *block : {a, m, p}) {
      ASSERT_NE(block, nullptr) << c.align;
      EXPECT_TRUE(aligned(block, c.align)) << c.align;
      memset(block, 0, c.size);
    }
    free(p);
    free(m);
    free(a);
  }
#ifndef ZOV_NO_PROGRAM_HEAP
  void *v = valloc(10);
  void *pv = pvalloc(10);
  EXPECT_TRUE(aligned(v, (size_t)sysconf(_SC_PAGESIZE)));
  EXPECT_TRUE(aligned(pv, (size_t)sysconf(_SC_PAGESIZE)));
  EXPECT_GE(malloc_usable_size(pv), (size_t)sysconf(_SC_PAGESIZE));
  free(pv);
  free(v);
#endif

  void *p = nullptr;
  EXPECT_EQ(posix_memalign(&p, 2, 8), EINVAL);  // below the size of a pointer
  EXPECT_EQ(posix_memalign(&p, 24, 8), EINVAL);  // not a power of two
  errno = 0;
  volatile size_t odd = 24;  // through a volatile, which clang would flag
  EXPECT_EQ(aligned_alloc(odd, 8), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(ProgramHeap, ImpossibleSizesFailWithEnomem) {
  // Through a volatile, so that the compiler does not flag the sizes.
  volatile size_t huge = SIZE_MAX;
  errno = 0;
  EXPECT_EQ(malloc(huge), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  errno = 0;
  EXPECT_EQ(calloc(huge / 2, 3), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  char *kept = static_cast<char *>(malloc(4));
  memcpy(kept, "abc", 4);
  errno = 0;
  EXPECT_EQ(realloc(kept, huge - 8), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_STREQ(kept, "abc");
  free(kept);
}

}  // namespace
