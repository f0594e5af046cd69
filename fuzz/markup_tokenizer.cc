// Page bytes through the markup tokenizer and through the byte-at-a-time one
// kept in the tests, in one series of calls drawn from the first two input
// bytes. The two must agree on every token, text, line number and pending
// close. When the third byte's low two bits are 01, blanks go before the
// page so that it straddles the reader's 64 KiB pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "byte_tokenizer.h"

using namespace tangler;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint64_t seed = data[0] | (uint64_t{data[1]} << 8);
  std::string page;
  if ((data[2] & 3) == 1) page.assign(65536 - (data[2] >> 2) * 9, ' ');
  page.append(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string difference = compareTokenizers(page, seed);
  if (!difference.empty()) {
    std::fprintf(stderr, "tokenizers differ at %s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
