// CDX layout, as this engine reads and writes it:
//
//   offset 0     file header (1024 bytes): root of the tag directory, key length 10
//   offset 1024  directory pages: a compact index whose keys are tag names and whose
//                "record numbers" are the byte offsets of the tag headers
//   then, per tag, a 1024-byte tag header followed by that tag's pages
//
// Every node is one 512-byte page. Invariants kept by the builder and checked by the reader:
//   1. leaf keys, left to right along the leaf chain, ascend by (key bytes, record number);
//   2. an interior entry holds the last (key, record) of its child's subtree and the child's
//      offset; entries ascend;
//   3. each level is a complete doubly linked list, 0xFFFFFFFF at both ends;
//   4. only the root carries the root bit, and the header points at it;
//   5. each leaf's bit widths, masks, entry packing and free count agree.
// Descending tags are stored ascending; only the walk direction differs.
#include "xbase/cdx.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "base/byte_order.h"

namespace kv::xbase {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

int BitsFor(uint64_t v) {
  int b = 0;
  while (b < 64 && (v >> b) != 0) ++b;
  return b;
}

std::string RTrimPad(const std::string &s, char pad) {
  size_t e = s.find_last_not_of(pad);
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

}  // namespace

std::string NumericKey(double v) {
  if (v == 0) v = 0;  // -0 and +0 give one key
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  if (bits >> 63)
    bits = ~bits;
  else
    bits ^= uint64_t(1) << 63;
  std::string k(8, '\0');
  for (int i = 0; i < 8; ++i) k[size_t(i)] = char(uint8_t(bits >> (56 - 8 * i)));
  return k;
}

std::string DateKey(long jdn) {
  return NumericKey(double(jdn));
}

bool DecodeLeaf(const uint8_t *page, int keyLen, uint8_t pad, std::vector<KeyEntry> *out,
                std::string *err) {
  unsigned count = getLe16(page + 2);
  unsigned freeBytes = getLe16(page + 12);
  uint32_t recMask = getLe32(page + 14);
  unsigned dupMask = page[18], trailMask = page[19];
  unsigned rb = page[20], db = page[21], tb = page[22], nb = page[23];
  if (nb < 1 || nb > 8 || rb + db + tb != 8 * nb || rb > 32 || db > 8 || tb > 8) {
    *err = "leaf bit widths are inconsistent";
    return false;
  }
  if (recMask != uint32_t((uint64_t(1) << rb) - 1) || dupMask != (1u << db) - 1 ||
      trailMask != (1u << tb) - 1) {
    *err = "leaf masks do not match their bit widths";
    return false;
  }
  if (24 + size_t(count) * nb > kCdxPage) {
    *err = "leaf holds more entries than fit";
    return false;
  }
  size_t entriesEnd = 24 + size_t(count) * nb;
  size_t pos = kCdxPage;
  std::string prev(size_t(keyLen), static_cast<char>(pad));
  for (unsigned i = 0; i < count; ++i) {
    uint64_t v = 0;
    for (unsigned b = 0; b < nb; ++b) v |= uint64_t(page[24 + i * nb + b]) << (8 * b);
    uint32_t rec = uint32_t(v & recMask);
    unsigned dup = i == 0 ? 0 : unsigned((v >> rb) & dupMask);
    unsigned trail = unsigned((v >> (rb + db)) & trailMask);
    if (int(dup + trail) > keyLen) {
      *err = "leaf entry is longer than the key";
      return false;
    }
    size_t take = size_t(keyLen) - dup - trail;
    if (pos < entriesEnd + take) {
      *err = "leaf key bytes overlap the entries";
      return false;
    }
    pos -= take;
    std::string key = prev.substr(0, dup);
    key.append(reinterpret_cast<const char *>(page + pos), take);
    key.append(trail, char(pad));
    out->push_back({key, rec});
    prev = std::move(key);
  }
  if (pos - entriesEnd != freeBytes) {
    *err = "leaf free count is wrong";
    return false;
  }
  return true;
}

size_t EncodeLeaf(const std::vector<KeyEntry> &keys, size_t first, int keyLen, uint8_t pad,
                  int recBits, uint8_t *page) {
  std::memset(page, 0, kCdxPage);
  int bits = BitsFor(uint64_t(keyLen));
  int nb = std::max(3, (2 * bits + recBits + 7) / 8);
  int rb = 8 * nb - 2 * bits;
  putLe32(page + 14, uint32_t((uint64_t(1) << rb) - 1));
  page[18] = uint8_t((1u << bits) - 1);
  page[19] = uint8_t((1u << bits) - 1);
  page[20] = uint8_t(rb);
  page[21] = uint8_t(bits);
  page[22] = uint8_t(bits);
  page[23] = uint8_t(nb);
  size_t pos = kCdxPage, entry = 24, n = 0;
  int prevTrail = 0;
  const std::string *prev = nullptr;
  for (size_t i = first; i < keys.size(); ++i) {
    const std::string &k = keys[i].key;
    int trail = 0;
    while (trail < keyLen && uint8_t(k[size_t(keyLen - 1 - trail)]) == pad) ++trail;
    int dup = 0;
    if (prev) {
      // Never share bytes that lie in either key's trailing padding: every reader decodes that.
      int cap = keyLen - std::max(trail, prevTrail);
      while (dup < cap && (*prev)[size_t(dup)] == k[size_t(dup)]) ++dup;
    }
    size_t take = size_t(keyLen - dup - trail);
    if (entry + size_t(nb) + take > pos) break;
    uint64_t v = uint64_t(keys[i].rec) | (uint64_t(dup) << rb) | (uint64_t(trail) << (rb + bits));
    for (int b = 0; b < nb; ++b) page[entry + size_t(b)] = uint8_t(v >> (8 * b));
    entry += size_t(nb);
    pos -= take;
    std::memcpy(page + pos, k.data() + dup, take);
    prev = &k;
    prevTrail = trail;
    ++n;
  }
  putLe16(page + 2, uint16_t(n));
  putLe16(page + 12, uint16_t(pos - entry));
  return n;
}

namespace {

struct Walker {
  const std::string &img;
  int keyLen;
  uint8_t pad;
  std::string err;
  std::vector<KeyEntry> keys;
  std::vector<std::vector<uint32_t>> levels;  // page offsets per depth, left to right
  std::set<uint32_t> seen;
  int leafDepth = -1;

  const uint8_t *Page(uint32_t off) {
    if (off % kCdxPage != 0 || off < kCdxPage || uint64_t(off) + kCdxPage > img.size()) {
      err = "page offset " + std::to_string(off) + " lies outside the file";
      return nullptr;
    }
    return reinterpret_cast<const uint8_t *>(img.data()) + off;
  }

  // Walks the subtree at off; *last receives its last entry.
  bool Walk(uint32_t off, int depth, bool isRoot, KeyEntry *last) {
    if (depth > 16) {
      err = "index tree is too deep";
      return false;
    }
    if (!seen.insert(off).second) {
      err = "index page " + std::to_string(off) + " is reached twice";
      return false;
    }
    const uint8_t *p = Page(off);
    if (!p) return false;
    unsigned attr = getLe16(p);
    if (bool(attr & 1) != isRoot) {
      err = "root flag wrong on page " + std::to_string(off);
      return false;
    }
    if (levels.size() <= size_t(depth)) levels.resize(size_t(depth) + 1);
    levels[size_t(depth)].push_back(off);
    unsigned count = getLe16(p + 2);
    if (attr & 2) {
      if (leafDepth >= 0 && leafDepth != depth) {
        err = "leaves at different depths";
        return false;
      }
      leafDepth = depth;
      size_t before = keys.size();
      if (!DecodeLeaf(p, keyLen, pad, &keys, &err)) {
        err += " (page " + std::to_string(off) + ")";
        return false;
      }
      if (keys.size() == before) {
        if (!isRoot) {
          err = "empty leaf below the root";
          return false;
        }
        return true;
      }
      for (size_t i = std::max<size_t>(before, 1); i < keys.size(); ++i) {
        if (!(keys[i - 1] < keys[i])) {
          err = "keys out of order on page " + std::to_string(off);
          return false;
        }
      }
      if (before > 0 && !(keys[before - 1] < keys[before])) {
        err = "keys out of order between leaves at page " + std::to_string(off);
        return false;
      }
      *last = keys.back();
      return true;
    }
    size_t entry = size_t(keyLen) + 8;
    if (count == 0 || count * entry > kCdxPage - 12) {
      err = "interior page " + std::to_string(off) + " has a bad entry count";
      return false;
    }
    for (unsigned i = 0; i < count; ++i) {
      const uint8_t *e = p + 12 + i * entry;
      KeyEntry want{std::string(reinterpret_cast<const char *>(e), size_t(keyLen)),
                    getBe32(e + keyLen)};
      uint32_t child = getBe32(e + keyLen + 4);
      KeyEntry got;
      if (!Walk(child, depth + 1, false, &got)) return false;
      if (!(got == want)) {
        err = "interior entry on page " + std::to_string(off) + " does not match its child";
        return false;
      }
      *last = got;
    }
    return true;
  }

  bool CheckSiblings() {
    for (auto &lvl : levels) {
      for (size_t i = 0; i < lvl.size(); ++i) {
        const uint8_t *p = Page(lvl[i]);
        uint32_t left = getLe32(p + 4), right = getLe32(p + 8);
        uint32_t wantL = i == 0 ? kNone : lvl[i - 1];
        uint32_t wantR = i + 1 == lvl.size() ? kNone : lvl[i + 1];
        if (left != wantL || right != wantR) {
          err = "sibling links broken at page " + std::to_string(lvl[i]);
          return false;
        }
      }
    }
    return true;
  }
};

bool WalkTree(const std::string &img, uint32_t root, int keyLen, uint8_t pad,
              std::vector<KeyEntry> *out, std::string *err) {
  Walker w{img, keyLen, pad, {}, {}, {}, {}, -1};
  KeyEntry last;
  if (!w.Walk(root, 0, true, &last) || !w.CheckSiblings()) {
    *err = w.err;
    return false;
  }
  *out = std::move(w.keys);
  return true;
}

}  // namespace

Status ReadCdx(const std::string &img, std::vector<CdxTag> *tags) {
  tags->clear();
  auto bad = [](const std::string &m) { return Status::Error(ecDataError, "index file: " + m); };
  if (img.size() < 2 * kCdxPage) return bad("file too short");
  auto *h = reinterpret_cast<const uint8_t *>(img.data());
  if (h[15] > 1) return bad("unsupported index signature");
  if (getLe16(h + 12) != 10) return bad("tag directory has a wrong key length");
  std::vector<KeyEntry> dir;
  std::string err;
  if (!WalkTree(img, getLe32(h), 10, ' ', &dir, &err)) return bad("tag directory: " + err);
  std::sort(dir.begin(), dir.end(),
            [](const KeyEntry &a, const KeyEntry &b) { return a.rec < b.rec; });
  for (auto &d : dir) {
    uint32_t off = d.rec;
    std::string name = RTrimPad(d.key, ' ');
    if (off % kCdxPage != 0 || off < 2 * kCdxPage || uint64_t(off) + 2 * kCdxPage > img.size())
      return bad("tag " + name + " header lies outside the file");
    const uint8_t *t = h + off;
    CdxTag tag;
    tag.info.name = name;
    tag.headerOffset = off;
    tag.info.keyLength = getLe16(t + 12);
    if (tag.info.keyLength < 1 || tag.info.keyLength > kCdxMaxKey)
      return bad("tag " + name + " has a bad key length");
    if (t[15] > 1) return bad("tag " + name + " has an unsupported signature");
    tag.info.unique = t[14] & 0x01;
    tag.info.descending = getLe16(t + 502) == 1;
    unsigned forStart = getLe16(t + 504), forLen = getLe16(t + 506);
    unsigned keyStart = getLe16(t + 508), keyLen = getLe16(t + 510);
    if (keyStart + keyLen > 512 || forStart + forLen > 512 || keyLen < 2)
      return bad("tag " + name + " has a bad expression pool");
    const char *pool = reinterpret_cast<const char *>(t + 512);
    tag.info.key = std::string(pool + keyStart, strnlen(pool + keyStart, keyLen));
    if (forLen > 1)
      tag.info.forExpr = std::string(pool + forStart, strnlen(pool + forStart, forLen));
    tags->push_back(std::move(tag));
  }
  return Status::Ok();
}

Status ReadTagKeys(const std::string &img, uint32_t headerOffset, int keyLen, uint8_t pad,
                   std::vector<KeyEntry> *keys) {
  const uint8_t *t = reinterpret_cast<const uint8_t *>(img.data()) + headerOffset;
  std::string err;
  if (!WalkTree(img, getLe32(t), keyLen, pad, keys, &err))
    return Status::Error(ecDataError, "index file: " + err);
  return Status::Ok();
}

namespace {

// Lays out one tree from sorted entries starting at `start`; returns the root offset.
uint32_t BuildTree(const std::vector<KeyEntry> &keys, int keyLen, uint8_t pad, int recBits,
                   uint32_t start, std::vector<std::string> *pages) {
  struct NodeRef {
    uint32_t off;
    KeyEntry last;
  };
  auto alloc = [&]() {
    pages->emplace_back(kCdxPage, '\0');
    return start + uint32_t(pages->size() - 1) * uint32_t(kCdxPage);
  };
  auto page = [&](uint32_t off) {
    return reinterpret_cast<uint8_t *>(pages->at((off - start) / kCdxPage).data());
  };
  std::vector<NodeRef> level;
  size_t i = 0;
  do {
    uint32_t off = alloc();
    size_t n = EncodeLeaf(keys, i, keyLen, pad, recBits, page(off));
    putLe16(page(off), 2);
    level.push_back({off, n ? keys[i + n - 1] : KeyEntry{}});
    i += n;
    if (n == 0) break;  // empty tree: one empty root leaf
  } while (i < keys.size());
  auto link = [&](std::vector<NodeRef> &lvl) {
    for (size_t j = 0; j < lvl.size(); ++j) {
      putLe32(page(lvl[j].off) + 4, j == 0 ? kNone : lvl[j - 1].off);
      putLe32(page(lvl[j].off) + 8, j + 1 == lvl.size() ? kNone : lvl[j + 1].off);
    }
  };
  link(level);
  size_t per = (kCdxPage - 12) / (size_t(keyLen) + 8);
  while (level.size() > 1) {
    std::vector<NodeRef> up;
    for (size_t j = 0; j < level.size(); j += per) {
      size_t n = std::min(per, level.size() - j);
      uint32_t off = alloc();
      uint8_t *p = page(off);
      putLe16(p, 0);
      putLe16(p + 2, uint16_t(n));
      for (size_t k = 0; k < n; ++k) {
        uint8_t *e = p + 12 + k * (size_t(keyLen) + 8);
        std::memcpy(e, level[j + k].last.key.data(), size_t(keyLen));
        putBe32(e + keyLen, level[j + k].last.rec);
        putBe32(e + keyLen + 4, level[j + k].off);
      }
      up.push_back({off, level[j + n - 1].last});
    }
    link(up);
    level = std::move(up);
  }
  uint8_t *root = page(level[0].off);
  putLe16(root, uint16_t(getLe16(root) | 1));
  return level[0].off;
}

void PutTagHeader(uint8_t *t, uint32_t root, int keyLen, uint8_t options, bool descending,
                  const std::string &key, const std::string &forExpr) {
  std::memset(t, 0, 2 * kCdxPage);
  putLe32(t, root);
  putLe16(t + 12, uint16_t(keyLen));
  t[14] = options;
  t[15] = 0x01;
  putLe16(t + 502, descending ? 1 : 0);
  putLe16(t + 504, uint16_t(key.size() + 1));
  putLe16(t + 506, uint16_t(forExpr.size() + 1));
  putLe16(t + 508, 0);
  putLe16(t + 510, uint16_t(key.size() + 1));
  std::memcpy(t + 512, key.data(), key.size());
  std::memcpy(t + 512 + key.size() + 1, forExpr.data(), forExpr.size());
}

}  // namespace

std::string BuildCdx(const std::vector<CdxTag> &tags) {
  // The directory's record numbers are header offsets: counting its pages with 32-bit entries
  // gives a size that holds whatever offsets the tags end up at.
  std::vector<KeyEntry> dir;
  for (auto &t : tags) {
    std::string name = t.info.name.substr(0, 10);
    for (auto &c : name) c = char(std::toupper(uint8_t(c)));
    name.resize(10, ' ');
    dir.push_back({name, 0});
  }
  std::sort(dir.begin(), dir.end());
  std::vector<std::string> dirPages;
  BuildTree(dir, 10, ' ', 32, 2 * kCdxPage, &dirPages);
  uint32_t cursor = uint32_t(2 * kCdxPage + dirPages.size() * kCdxPage);

  std::string body;
  std::vector<uint32_t> headerOffsets;
  for (auto &t : tags) {
    uint32_t hdr = cursor;
    headerOffsets.push_back(hdr);
    uint32_t maxRec = 0;
    for (auto &k : t.keys) maxRec = std::max(maxRec, k.rec);
    std::vector<std::string> pages;
    uint32_t root =
        BuildTree(t.keys, t.info.keyLength, t.pad, BitsFor(maxRec), hdr + 2 * kCdxPage, &pages);
    std::string header(2 * kCdxPage, '\0');
    uint8_t options = 0x60 | (t.info.forExpr.empty() ? 0 : 0x08) | (t.info.unique ? 0x01 : 0);
    PutTagHeader(reinterpret_cast<uint8_t *>(header.data()), root, t.info.keyLength, options,
                 t.info.descending, t.info.key, t.info.forExpr);
    body += header;
    for (auto &p : pages) body += p;
    cursor += uint32_t(2 * kCdxPage + pages.size() * kCdxPage);
  }
  for (auto &d : dir) {
    for (size_t i = 0; i < tags.size(); ++i) {
      std::string name = tags[i].info.name.substr(0, 10);
      for (auto &c : name) c = char(std::toupper(uint8_t(c)));
      name.resize(10, ' ');
      if (name == d.key) d.rec = headerOffsets[i];
    }
  }
  // Now with the real offsets and the narrowest entries they allow (small files get the
  // 3-byte entries other tools write). Narrower entries never need more pages; a page this
  // saves stays as unused space.
  size_t reserved = dirPages.size();
  uint32_t maxOffset = headerOffsets.empty() ? 0 : headerOffsets.back();
  dirPages.clear();
  uint32_t dirRoot = BuildTree(dir, 10, ' ', BitsFor(maxOffset), 2 * kCdxPage, &dirPages);
  dirPages.resize(std::max(reserved, dirPages.size()), std::string(kCdxPage, '\0'));
  std::string img(2 * kCdxPage, '\0');
  PutTagHeader(reinterpret_cast<uint8_t *>(img.data()), dirRoot, 10, 0xE0, false, "", "");
  for (auto &p : dirPages) img += p;
  img += body;
  return img;
}

}  // namespace kv::xbase
