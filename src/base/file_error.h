#pragma once
// Operating-system file errors as the negative result codes of the engines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/result_codes.h"

namespace kv {

// Maps an errno value to its negated input/output error number.
Result fileErrorCode(int err);

// Opens a file for reading (O_CLOEXEC); answers the descriptor or a negative result code.
// An empty name is "file not found".
Result openForReading(const std::string &path);

// Reads exactly `size` bytes at `offset`, retrying short reads and EINTR. Answers the number of
// bytes read (less than size only at the end of the file) or a negative result code.
Result readAt(int fd, void *buf, std::size_t size, std::uint64_t offset);

// Writes all of `size` bytes at `offset`; answers 0 or a negative result code.
Result writeAt(int fd, const void *buf, std::size_t size, std::uint64_t offset);

}  // namespace kv
