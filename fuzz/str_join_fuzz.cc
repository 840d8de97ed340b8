// The str_join family against plain concatenation, for every list length
// from empty up to kMaxParts.
//
// Input: the parts, separated by NUL bytes; parts beyond kMaxParts are
// dropped.

#include <array>
#include <utility>

#include "fuzz/fuzz_util.h"
#include "support/support.h"

namespace {

constexpr size_t kMaxParts = 10;

// The joiners are variadic, so each list length needs its own call: one
// table entry per length, each calling with that many parts.
struct join_calls {
  size_t (*length)(const char *const *parts);
  char *(*join)(const char *const *parts);
  char *(*into)(char *dest, const char *const *parts);
  char *(*shared)(const char *const *parts);
  char *(*rejoin)(char *old, const char *const *parts);
};

// An empty list is valid, but the sentinel check (clang's -Wsentinel,
// GCC's part of -Wformat) cannot tell such a call from a forgotten end
// marker.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#ifdef __clang__
#pragma clang diagnostic ignored "-Wsentinel"
#endif
template <size_t... I>
constexpr join_calls calls_with(std::index_sequence<I...>) {
  return {
      [](const char *const *parts) { return str_join_length(parts[I]..., (char *)nullptr); },
      [](const char *const *parts) { return str_join(parts[I]..., (char *)nullptr); },
      [](char *dest, const char *const *parts) {
        return str_join_into(dest, parts[I]..., (char *)nullptr);
      },
      [](const char *const *parts) { return str_join_shared(parts[I]..., (char *)nullptr); },
      [](char *old, const char *const *parts) {
        return str_rejoin(old, parts[I]..., (char *)nullptr);
      },
  };
}
#pragma GCC diagnostic pop

template <size_t... N>
constexpr std::array<join_calls, sizeof...(N)> call_table(std::index_sequence<N...>) {
  return {calls_with(std::make_index_sequence<N>())...};
}

constexpr std::array<join_calls, kMaxParts + 1> kCalls =
    call_table(std::make_index_sequence<kMaxParts + 1>());

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> fields = split_fields(data, size);
  // An empty input stands for the empty list.
  if (size == 0) fields.clear();
  if (fields.size() > kMaxParts) fields.resize(kMaxParts);
  size_t n = fields.size();
  const join_calls &calls = kCalls[n];

  std::string expected;
  std::array<char *, kMaxParts> parts = {};
  for (size_t i = 0; i < n; i++) {
    parts[i] = exact_copy(fields[i]);
    expected += fields[i];
  }
  const char *const *list = parts.data();

  FUZZ_CHECK(calls.length(list) == expected.size());

  char *joined = calls.join(list);
  FUZZ_CHECK(expected == joined);
  FUZZ_CHECK(allocated_size(joined) == expected.size() + 1);
  free(joined);

  // Buffers of exactly the documented size: one byte more written is caught.
  char *dest = (char *)malloc(expected.size() + 1);
  FUZZ_CHECK(calls.into(dest, list) == dest);
  FUZZ_CHECK(expected == dest);

  memset(dest, 'x', expected.size() + 1);
  str_join_buffer = dest;
  FUZZ_CHECK(calls.shared(list) == dest);
  FUZZ_CHECK(expected == dest);
  str_join_buffer = nullptr;
  free(dest);

  // str_rejoin with no old string is str_join.
  joined = calls.rejoin(nullptr, list);
  FUZZ_CHECK(expected == joined);
  FUZZ_CHECK(allocated_size(joined) == expected.size() + 1);

  // The old string may be one of the parts (the usual way to append): it
  // must still be readable while the new one is built, and is freed after.
  if (n > 0) {
    char *old = parts[0];
    parts[0] = joined;  // the old block is freed by the call below
    char *rejoined = calls.rejoin(joined, list);
    FUZZ_CHECK(allocated_size(rejoined) == expected.size() * 2 - fields[0].size() + 1);
    FUZZ_CHECK(std::string(rejoined) == expected + expected.substr(fields[0].size()));
    parts[0] = old;
    free(rejoined);
  } else {
    free(joined);
  }

  for (size_t i = 0; i < n; i++) free(parts[i]);
  return 0;
}
