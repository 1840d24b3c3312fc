#include "base/string_resource.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/name_compare.h"

namespace kv {
namespace {

struct Record {
  std::uint16_t key;
  std::string_view text;
};

// The reader's own texts.
constexpr Record kReaderStrings[] = {
    {1, "String not found: %d"},
    {2, "Cannot lock resource"},
    {3, "String resource not found: %s"},
    {4, "Unable to open string resource: %s"},
};

// Texts of the network layer's error codes; the program keeps the resource although it makes no
// network connections.
constexpr Record kNetworkStrings[] = {
    {9001, "Network library not initialized"},
    {9002, "Network library version not supported"},
    {9003, "Network library could not be loaded"},
    {9004, "Invalid network address"},
    {9005, "Host name could not be resolved"},
    {9006, "Connection was closed by the remote host"},
    {9007, "Network operation was cancelled"},
    {9008, "Network operation timed out"},
    {10004, "Interrupted function call"},
    {10009, "Bad socket handle"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open sockets"},
    {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on a non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10059, "Too many references"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "Name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disk quota exceeded"},
    {10070, "Stale file handle"},
    {10071, "Item is remote"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Network library version out of range"},
    {10093, "Network library not yet initialized"},
    {10101, "Graceful shutdown in progress"},
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found"},
    {11003, "This is a nonrecoverable error"},
    {11004, "Valid name, no data record of requested type"},
};
static_assert(std::size(kNetworkStrings) == 59);

template <std::size_t N>
std::vector<std::uint8_t> pack(const Record (&records)[N]) {
  std::vector<std::uint8_t> out;
  for (const Record &r : records) {
    out.push_back(static_cast<std::uint8_t>(r.key & 0xFF));
    out.push_back(static_cast<std::uint8_t>(r.key >> 8));
    out.insert(out.end(), r.text.begin(), r.text.end());
    out.push_back(0);
  }
  return out;
}

struct NamedResource {
  std::string_view name;
  const std::vector<std::uint8_t> &(*data)();
};

const std::vector<std::uint8_t> &readerData() {
  static const std::vector<std::uint8_t> d = pack(kReaderStrings);
  return d;
}
const std::vector<std::uint8_t> &networkData() {
  static const std::vector<std::uint8_t> d = pack(kNetworkStrings);
  return d;
}

constexpr NamedResource kResources[] = {
    {"KVSTRES_STRINGS", &readerData},
    {"KVSOCK_ERROR_STRINGS_ENGLISH", &networkData},
};

// Looks a key up in |data| without a cache. Every read is bounded by the data's size: a record
// whose text has no zero byte before the end is incomplete and ends the walk.
std::optional<std::string> walk(std::span<const std::uint8_t> data, std::uint16_t key) {
  std::size_t pos = 0;
  while (data.size() - pos >= 2) {
    const std::uint16_t k = getLe16(data.data() + pos);
    pos += 2;
    const void *zero = std::memchr(data.data() + pos, 0, data.size() - pos);
    if (!zero) return std::nullopt;
    const std::size_t end = static_cast<const std::uint8_t *>(zero) - data.data();
    if (k == key) return std::string(reinterpret_cast<const char *>(data.data() + pos), end - pos);
    pos = end + 1;
  }
  return std::nullopt;
}

// The reader's own texts, formatted; read straight from the data so that a failing reader
// never depends on another reader.
std::string readerText(std::uint16_t key, std::string_view arg) {
  std::string text = walk(readerData(), key).value_or(std::string());
  // One placeholder per text; replaced once so that an argument holding "%s" stays as it is.
  auto at = text.find("%d");
  if (at == std::string::npos) at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> findResource(std::string_view name) {
  for (const NamedResource &r : kResources)
    if (sameNameIgnoringCase(r.name, name)) return std::span<const std::uint8_t>(r.data());
  return std::nullopt;
}

TKvStringResource::TKvStringResource(std::string_view resourceName) {
  const auto data = findResource(resourceName);
  if (!data) throw EKvStringResourceError(readerText(3, resourceName));
  if (data->empty()) throw EKvStringResourceError(readerText(4, resourceName));
  data_ = *data;
}

TKvStringResource::TKvStringResource(std::span<const std::uint8_t> data) : data_(data) {}

std::optional<std::string> TKvStringResource::find(std::uint16_t key) const {
  return walk(data_, key);
}

std::string TKvStringResource::getString(std::uint16_t key) {
  std::lock_guard lock(mutex_);
  for (const auto &[text, k] : cache_)
    if (k == key) return text;
  std::optional<std::string> text = find(key);
  if (!text) return {};
  if (cache_.size() >= kCacheLimit)
    while (cache_.size() >= kCacheTrimTo) cache_.pop_front();
  cache_.emplace_back(*text, key);
  return *text;
}

std::string TKvStringResource::requireString(std::uint16_t key) {
  {
    std::lock_guard lock(mutex_);
    for (const auto &[text, k] : cache_)
      if (k == key) return text;
  }
  if (!find(key)) throw EKvStringResourceError(readerText(1, std::to_string(key)));
  return getString(key);
}

std::size_t TKvStringResource::cacheSize() const {
  std::lock_guard lock(mutex_);
  return cache_.size();
}

bool TKvStringResource::isCached(std::uint16_t key) const {
  std::lock_guard lock(mutex_);
  return std::any_of(cache_.begin(), cache_.end(),
                     [key](const auto &e) { return e.second == key; });
}

TKvStringResource &libraryStringResource() {
  static TKvStringResource reader("KVSTRES_STRINGS");
  return reader;
}

TKvStringResource &networkErrorStringResource() {
  static TKvStringResource reader("KVSOCK_ERROR_STRINGS_ENGLISH");
  return reader;
}

}  // namespace kv
