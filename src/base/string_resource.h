#pragma once
// Keyed string resources: raw data compiled into the program holding records back to back, each
// a 16-bit little-endian key followed by its text and a zero byte.
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/exceptions.h"

namespace kv {

// Raised by the reader with its own texts (keys 1..4 of "KVSTRES_STRINGS").
class EKvStringResourceError : public EKvException {
 public:
  using EKvException::EKvException;
  const char *className() const noexcept override { return "EKvStringResourceError"; }
};

// The data of a named resource compiled into the program (names compare without regard to
// case); nullopt when the program has no such resource.
std::optional<std::span<const std::uint8_t>> findResource(std::string_view name);

class TKvStringResource {
 public:
  static constexpr std::size_t kCacheLimit = 50;   // the cache never holds more
  static constexpr std::size_t kCacheTrimTo = 45;  // a full cache is cut below this

  // Opens a resource of the program by name; raises EKvStringResourceError when the program has
  // no such resource or it holds no data.
  explicit TKvStringResource(std::string_view resourceName);
  // Reads records from |data|, which must outlive the reader.
  explicit TKvStringResource(std::span<const std::uint8_t> data);

  // The text of |key|; empty when the resource has no complete record with that key.
  std::string getString(std::uint16_t key);
  // Like getString(), but raises EKvStringResourceError ("String not found: <key>") instead of
  // answering an empty text.
  std::string requireString(std::uint16_t key);

  std::size_t cacheSize() const;
  bool isCached(std::uint16_t key) const;

 private:
  std::optional<std::string> find(std::uint16_t key) const;

  std::span<const std::uint8_t> data_;
  mutable std::mutex mutex_;  // readers are shared by the main and the dispatch threads
  std::deque<std::pair<std::string, std::uint16_t>> cache_;
};

// The program's two readers, created on first use: the reader's own texts and the network
// error texts.
TKvStringResource &libraryStringResource();
TKvStringResource &networkErrorStringResource();

}  // namespace kv
