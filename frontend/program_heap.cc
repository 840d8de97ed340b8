// The memory allocator of zov-ar, zov-nm and zov-ranlib when they are
// linked statically: a bump allocator over a static region.
//
// Why not the C library's own: a run allocates some twenty small blocks, a
// few KiB in all, frees almost none of them and exits.  The general-purpose
// allocator pays for generality that such a run never uses: setting up its
// arena costs the C library's start-up about a thousand instructions and
// four system calls (a random key for its per-thread cache and three brk
// calls), and each first allocation of a size takes another 150
// instructions; some 4,000 in all, more than the rest of the run.  Here an
// allocation is the bump of a pointer, and no system call is made until
// the static region is used up.
//
// A statically linked program may supply the allocation functions itself
// (glibc documents this, and musl takes them as well: its own allocator is
// then never linked).  The build adds this file only for C libraries known
// to take it (cmake/program_runtime.cmake); elsewhere the C library's
// allocator is kept.  The C library's own start-up and functions (strdup,
// realpath, ...) then allocate here too.  Every function of the family is
// defined, so that nothing pulls in the library's allocator beside this
// one.
//
// The programs are single-threaded and run once, so there are no locks,
// and free gives memory back only where that is free of cost: the last
// block of the current region (the usual pattern of a temporary buffer),
// and a block that has a mapping of its own.

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Every block is preceded by its header; both keep the alignment that
// malloc promises (alignof(max_align_t)).
constexpr size_t kAlign = alignof(max_align_t);
struct alignas(kAlign) block_header {
  size_t size;            // bytes the caller may use
  void *mapping;          // the block's own mapping, or null inside a region
  size_t mapping_length;
};

// The static region serves a typical run whole; bigger needs get regions
// (or, for big blocks, mappings of their own) from mmap.
constexpr size_t kStaticRegion = 64 * 1024;
constexpr size_t kMappedRegion = 256 * 1024;
constexpr size_t kOwnMapping = kMappedRegion / 4;

alignas(kAlign) unsigned char static_region[kStaticRegion];

struct region {
  unsigned char *next;  // first free byte
  unsigned char *end;
  unsigned char *last;  // where the most recent block began, for free
};
region current = {static_region, static_region + kStaticRegion, nullptr};

size_t round_up(size_t n, size_t to) { return (n + to - 1) & ~(to - 1); }

size_t page_size() { return (size_t)sysconf(_SC_PAGESIZE); }

block_header *header_of(void *block) { return static_cast<block_header *>(block) - 1; }

// Where a block of rounded bytes aligned to align starts in memory that
// begins at from, its header right before it (an alignment above kAlign
// may leave a gap in front of the header).
uintptr_t block_start(const unsigned char *from, size_t align) {
  return round_up((uintptr_t)from + sizeof(block_header), align);
}

// Puts a block of rounded bytes at start in the current region.
void *place(uintptr_t start, size_t rounded) {
  block_header *header = reinterpret_cast<block_header *>(start) - 1;
  *header = {rounded, nullptr, 0};
  current.last = current.next;
  current.next = reinterpret_cast<unsigned char *>(start + rounded);
  return header + 1;
}

// The block that does not fit in the current region: in a mapping of its
// own when it is big, else in a new region (the rest of the current one is
// given up).  Null with errno set when the system has no memory left.
[[gnu::noinline]] void *allocate_elsewhere(size_t rounded, size_t align) {
  size_t worst = sizeof(block_header) + align + rounded;
  bool own = worst > kOwnMapping;
  size_t length = own ? round_up(worst, page_size()) : kMappedRegion;
  void *memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;  // errno is ENOMEM
  uintptr_t start = block_start(static_cast<unsigned char *>(memory), align);
  if (own) {
    block_header *header = reinterpret_cast<block_header *>(start) - 1;
    *header = {rounded, memory, length};
    return header + 1;
  }
  current = {static_cast<unsigned char *>(memory), static_cast<unsigned char *>(memory) + length,
             nullptr};
  return place(start, rounded);
}

// A block of size bytes aligned to align (a power of two, at least
// kAlign), or null with errno set.  Inlined, so that malloc's constant
// alignment folds the arithmetic away and the usual case is a few
// instructions.
[[gnu::always_inline]] inline void *allocate(size_t size, size_t align) {
  if (size > SIZE_MAX / 4 || align > SIZE_MAX / 4) {
    errno = ENOMEM;
    return nullptr;
  }
  size_t rounded = round_up(size == 0 ? 1 : size, kAlign);
  uintptr_t start = block_start(current.next, align);
  if (start + rounded > (uintptr_t)current.end) return allocate_elsewhere(rounded, align);
  return place(start, rounded);
}

// Whether block is the most recent one of the current region.
bool is_last(void *block) {
  return current.last != nullptr &&
         static_cast<unsigned char *>(block) + header_of(block)->size == current.next;
}

}  // namespace

extern "C" {

void *malloc(size_t size) { return allocate(size, kAlign); }

void free(void *block) {
  if (block == nullptr) return;
  block_header *header = header_of(block);
  if (header->mapping != nullptr) {
    munmap(header->mapping, header->mapping_length);
  } else if (is_last(block)) {
    current.next = current.last;
    current.last = nullptr;
  }
}

void *calloc(size_t count, size_t size) {
  size_t total;
  if (__builtin_mul_overflow(count, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  // A block taken back by free may hold old data.
  void *block = allocate(total, kAlign);
  if (block != nullptr) memset(block, 0, total);
  return block;
}

void *realloc(void *block, size_t size) {
  if (block == nullptr) return malloc(size);
  block_header *header = header_of(block);
  if (size <= header->size) return block;
  // The last block of the region grows where it is.
  if (header->mapping == nullptr && is_last(block) && size <= SIZE_MAX / 4) {
    size_t rounded = round_up(size, kAlign);
    if (rounded <= (size_t)(current.end - static_cast<unsigned char *>(block))) {
      header->size = rounded;
      current.next = static_cast<unsigned char *>(block) + rounded;
      return block;
    }
  }
  void *moved = malloc(size);
  if (moved == nullptr) return nullptr;
  memcpy(moved, block, header->size);
  free(block);
  return moved;
}

void *aligned_alloc(size_t align, size_t size) {
  if (align == 0 || (align & (align - 1)) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  return allocate(size, align < kAlign ? kAlign : align);
}

void *memalign(size_t align, size_t size) { return aligned_alloc(align, size); }

int posix_memalign(void **result, size_t align, size_t size) {
  if (align < sizeof(void *) || (align & (align - 1)) != 0) return EINVAL;
  void *block = allocate(size, align < kAlign ? kAlign : align);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}

void *valloc(size_t size) { return allocate(size, page_size()); }

void *pvalloc(size_t size) {
  if (size > SIZE_MAX / 4) {
    errno = ENOMEM;
    return nullptr;
  }
  return allocate(round_up(size, page_size()), page_size());
}

size_t malloc_usable_size(void *block) { return block == nullptr ? 0 : header_of(block)->size; }

}  // extern "C"
