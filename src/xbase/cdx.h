// Compound index (CDX) pages: the compact leaf codec, key builders, a whole-file reader that
// checks every structural rule while it walks, and the bulk builder that writes a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xbase/table.h"

namespace kv::xbase {

constexpr size_t kCdxPage = 512;
constexpr int kCdxMaxKey = 240;

struct KeyEntry {
  std::string key;
  uint32_t rec = 0;
  bool operator<(const KeyEntry &o) const {
    int c = key.compare(o.key);
    return c != 0 ? c < 0 : rec < o.rec;
  }
  bool operator==(const KeyEntry &o) const = default;
};

struct CdxTag {
  TagInfo info;
  uint8_t pad = ' ';           // byte trimmed from key ends: space for character keys, 0 otherwise
  std::vector<KeyEntry> keys;  // ascending (key, rec), as stored
  uint32_t headerOffset = 0;   // where the reader found the tag header
};

// Order-preserving 8-byte keys for numbers and dates.
std::string NumericKey(double v);
std::string DateKey(long jdn);

// Decodes one compact leaf page. False with a reason when the page breaks the layout.
bool DecodeLeaf(const uint8_t *page, int keyLen, uint8_t pad, std::vector<KeyEntry> *out,
                std::string *err);
// Packs as many entries as fit, starting at `first`, into one leaf page; returns how many.
size_t EncodeLeaf(const std::vector<KeyEntry> &keys, size_t first, int keyLen, uint8_t pad,
                  int recBits, uint8_t *page);

// Reads the tag directory and every tag header of a CDX image (tags in creation order),
// checking the directory tree as it walks.
Status ReadCdx(const std::string &image, std::vector<CdxTag> *tags);

// Reads one tag's keys (walking and checking its tree); the pad byte follows the key type.
Status ReadTagKeys(const std::string &image, uint32_t headerOffset, int keyLen, uint8_t pad,
                   std::vector<KeyEntry> *keys);

// Writes a complete, freshly packed CDX image for the tags (in creation order).
std::string BuildCdx(const std::vector<CdxTag> &tags);

}  // namespace kv::xbase
