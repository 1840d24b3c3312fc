#include "spell/dictionary_file.h"

#include "base/file_replacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>

#include "base/byte_order.h"

namespace kv::spell {

DictHeader decodeHeader(const std::uint8_t *p) {
  DictHeader h;
  h.nodesInUse = getLe32(p);
  h.capacity = getLe32(p + 4);
  h.words = getLe32(p + 8);
  h.kind = p[12];
  h.offset = getLe32(p + 13);
  return h;
}

void encodeHeader(const DictHeader &h, std::uint8_t *p) {
  putLe32(p, h.nodesInUse);
  putLe32(p + 4, h.capacity);
  putLe32(p + 8, h.words);
  p[12] = h.kind;
  putLe32(p + 13, h.offset);
}

namespace {

// The trie must be a tree whose groups end inside the nodes in use: then every walk ends.
bool isSoundTree(const TrieSegment &s) {
  const std::uint32_t used = s.used();
  if (used == 0) return true;
  std::vector<bool> seen(used + 1, false);
  std::vector<std::uint32_t> groups{1};
  while (!groups.empty()) {
    std::uint32_t n = groups.back();
    groups.pop_back();
    for (;; ++n) {
      if (n > used || seen[n]) return false;
      seen[n] = true;
      const TrieNode &node = s.nodes[n];
      if (node.child != 0) {
        if (node.child > used) return false;
        groups.push_back(node.child);
      }
      if (node.last()) break;
    }
  }
  return true;
}

}  // namespace

Result parseDictionary(std::span<const std::uint8_t> bytes, DictionaryImage &out, bool firstOnly) {
  out = DictionaryImage{};
  std::size_t pos = 0;
  while (pos < bytes.size() && bytes[pos] != kIntroEnd) ++pos;
  if (pos == bytes.size()) return ecDataError;
  ++pos;
  out.intro.assign(reinterpret_cast<const char *>(bytes.data()), pos);
  do {
    if (bytes.size() - pos < kHeaderSize) return ecDataError;
    TrieSegment seg;
    seg.header = decodeHeader(bytes.data() + pos);
    const DictHeader &h = seg.header;
    if (h.offset != pos || h.capacity > kMaxCapacity || h.nodesInUse > h.capacity)
      return ecDataError;
    pos += kHeaderSize;
    if ((bytes.size() - pos) / kNodeSize < h.capacity) return ecDataError;
    seg.nodes.resize(std::size_t{h.nodesInUse} + 1);
    for (std::uint32_t n = 1; n <= h.nodesInUse; ++n) {
      const std::uint8_t *p = bytes.data() + pos + (n - 1) * kNodeSize;
      seg.nodes[n] = TrieNode{getLe16(p), p[2]};
    }
    if (!isSoundTree(seg)) return ecDataError;
    pos += std::size_t{h.capacity} * kNodeSize;
    out.segments.push_back(std::move(seg));
  } while (!firstOnly && bytes.size() > pos && bytes.size() - pos > 20);
  return ecOK;
}

static Result errnoResult(int e) {
  switch (e) {
    case ENOENT:
      return ecFileNotFound;
    case ENOTDIR:
      return ecPathNotFound;
    case EACCES:
    case EPERM:
      return ecAccessDenied;
    case EROFS:
      return ecWriteProtected;
    case ENOSPC:
    case EDQUOT:
      return ecDiskFull;
    case EMFILE:
    case ENFILE:
      return ecTooManyFiles;
    default:
      return ecDeviceWrite;
  }
}

Result readDictionaryFile(const std::string &path, DictionaryImage &out, bool firstOnly,
                          std::string *problem) {
  const std::size_t limit = firstOnly ? kMaxUserDictionaryBytes : kMaxMainDictionaryBytes;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errnoResult(errno);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return ecDeviceRead;  // a directory, or a failing disk
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > limit) {
      ::close(fd);
      if (problem)
        *problem = path + " holds more than " + std::to_string(limit >> 20) +
                   " MiB, more than any " + (firstOnly ? "user" : "main") + " dictionary";
      return ecDataTooLarge;
    }
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return parseDictionary(bytes, out, firstOnly);
}

Result readHeaderAt(const std::string &path, std::uint32_t offset, DictHeader &out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errnoResult(errno);
  std::uint8_t buf[kHeaderSize];
  ssize_t got = ::pread(fd, buf, sizeof buf, offset);
  ::close(fd);
  if (got != static_cast<ssize_t>(sizeof buf)) return ecReadBeyondEof;
  out = decodeHeader(buf);
  return ecOK;
}

std::vector<std::uint8_t> encodeDictionary(DictionaryImage &image) {
  std::vector<std::uint8_t> bytes(image.intro.begin(), image.intro.end());
  for (TrieSegment &seg : image.segments) {
    seg.header.nodesInUse = seg.used();
    if (seg.header.capacity < seg.used()) seg.header.capacity = seg.used();
    seg.header.offset = static_cast<std::uint32_t>(bytes.size());
    std::size_t at = bytes.size();
    bytes.resize(at + kHeaderSize + std::size_t{seg.header.capacity} * kNodeSize);
    encodeHeader(seg.header, bytes.data() + at);
    std::uint8_t *p = bytes.data() + at + kHeaderSize;
    for (std::uint32_t n = 1; n <= seg.header.capacity; ++n, p += kNodeSize) {
      TrieNode node = n <= seg.used() ? seg.nodes[n] : TrieNode{kFreeChild, 0xC0};
      putLe16(p, node.child);
      p[2] = node.flags;
    }
  }
  return bytes;
}

Result writeFileReplacing(const std::string &path, std::span<const std::uint8_t> bytes,
                          std::string *problem) {
  std::string why;
  const Result r = WriteWholeFile(path, bytes, why);
  if (r < 0 && problem) *problem = why;
  return r;
}

std::string userIntro() {
  return "USER DICTIONARY\r\nWords added to the spell checker; kept as a letter tree, do not "
         "edit.\r\n\x1A";
}

DictionaryImage newUserDictionary() {
  DictionaryImage image;
  image.intro = userIntro();
  TrieSegment seg;
  seg.header = DictHeader{1, 500, 1, 0, 0};
  seg.nodes.push_back(TrieNode{0, kLastSibling | kWordEnd});
  image.segments.push_back(std::move(seg));
  return image;
}

namespace {

struct BuildNode {
  std::uint8_t code = 0;
  bool end = false;
  std::vector<std::uint32_t> kids;
};

// Numbers the nodes group by group, breadth first, so every child lies after its parent.
TrieSegment layOut(const std::vector<BuildNode> &tree, std::uint8_t kind, std::uint32_t words) {
  TrieSegment seg;
  seg.nodes.resize(tree.size());
  std::deque<std::uint32_t> order;  // tree index of each node number, breadth first
  std::vector<std::uint32_t> number(tree.size(), 0);
  std::uint32_t next = 1;
  auto placeGroup = [&](const BuildNode &parent) {
    for (std::uint32_t k : parent.kids) number[k] = next++, order.push_back(k);
  };
  placeGroup(tree[0]);
  while (!order.empty()) {
    std::uint32_t t = order.front();
    order.pop_front();
    const BuildNode &b = tree[t];
    TrieNode &node = seg.nodes[number[t]];
    if (!b.kids.empty()) {
      node.child = static_cast<std::uint16_t>(next);
      placeGroup(b);
    }
    node.flags = static_cast<std::uint8_t>(b.code | (b.end ? kWordEnd : 0));
  }
  // The last node of each group carries the flag.
  for (const BuildNode &b : tree)
    if (!b.kids.empty()) seg.nodes[number[b.kids.back()]].flags |= kLastSibling;
  seg.header = DictHeader{seg.used(), seg.used(), words, kind, 0};
  return seg;
}

}  // namespace

std::vector<TrieSegment> buildSegments(std::span<const std::string> codeWords, std::uint8_t kind,
                                       std::uint32_t maxNodes) {
  std::vector<TrieSegment> out;
  std::vector<BuildNode> tree(1);
  std::vector<std::uint32_t> path;  // tree index of each letter of the previous word
  std::string prev;
  std::uint32_t words = 0;
  for (const std::string &w : codeWords) {
    if (w.empty() || w.size() > maxNodes) continue;
    std::size_t common = 0;
    while (common < w.size() && common < prev.size() && w[common] == prev[common]) ++common;
    if (tree.size() - 1 + (w.size() - common) > maxNodes) {
      out.push_back(layOut(tree, kind, words));
      tree.assign(1, BuildNode{});
      path.clear();
      common = 0;
      words = 0;
    }
    path.resize(common);
    for (std::size_t i = common; i < w.size(); ++i) {
      std::uint32_t parent = i == 0 ? 0 : path[i - 1];
      tree.push_back(BuildNode{static_cast<std::uint8_t>(w[i] & 63), false, {}});
      std::uint32_t idx = static_cast<std::uint32_t>(tree.size() - 1);
      tree[parent].kids.push_back(idx);
      path.push_back(idx);
    }
    if (!tree[path.back()].end) ++words;
    tree[path.back()].end = true;
    prev = w;
  }
  if (tree.size() > 1) out.push_back(layOut(tree, kind, words));
  return out;
}

}  // namespace kv::spell
