#pragma once
// Dictionary files: an introductory text ended by the byte 26, then one or more segments, each a
// 17-byte header and a trie of 3-byte nodes. A user dictionary has one segment and grows; a main
// dictionary is read-only and may hold several segments.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_codes.h"

namespace kv::spell {

inline constexpr std::size_t kHeaderSize = 17;
inline constexpr std::size_t kNodeSize = 3;
inline constexpr std::uint16_t kFreeChild = 65000;
// Node numbers are 16-bit and 65000 marks a free node, so a segment can address no more.
inline constexpr std::uint32_t kMaxCapacity = kFreeChild - 1;
inline constexpr std::uint8_t kLastSibling = 0x40;
inline constexpr std::uint8_t kWordEnd = 0x80;
inline constexpr std::uint8_t kIntroEnd = 26;

struct DictHeader {
  std::uint32_t nodesInUse = 0;
  std::uint32_t capacity = 0;
  std::uint32_t words = 0;
  std::uint8_t kind = 0;  // 0 = user dictionary
  std::uint32_t offset = 0;
  bool operator==(const DictHeader &) const = default;
};

struct TrieNode {
  std::uint16_t child = 0;  // first node of the next letter's group; 0 = none
  std::uint8_t flags = 0;   // letter code, kLastSibling, kWordEnd
  std::uint8_t code() const { return flags & 63; }
  bool last() const { return flags & kLastSibling; }
  bool wordEnd() const { return flags & kWordEnd; }
};

// One trie. nodes[0] is unused so that node n is nodes[n]; nodes.size() - 1 == nodesInUse.
struct TrieSegment {
  DictHeader header;
  std::vector<TrieNode> nodes{TrieNode{}};
  std::uint32_t used() const { return static_cast<std::uint32_t>(nodes.size() - 1); }
};

struct DictionaryImage {
  std::string intro;  // everything before the first header, the byte 26 included
  std::vector<TrieSegment> segments;
  bool isUser() const { return !segments.empty() && segments.front().header.kind == 0; }
};

DictHeader decodeHeader(const std::uint8_t *p);
void encodeHeader(const DictHeader &h, std::uint8_t *p);

// Parses a whole file. A header that claims more nodes than its segment or the file holds, a
// child outside the nodes in use, a group that runs off the end, or a node reached twice (the
// trie must be a tree, so walks over it end) makes the file damaged: ecDataError.
// With firstOnly only the first segment is read (user dictionaries have no more).
Result parseDictionary(std::span<const std::uint8_t> bytes, DictionaryImage &out,
                       bool firstOnly = false);
// The most bytes a file may hold: every segment of a main dictionary is at most 195 KB, and a
// user dictionary has one. A larger file (or an endless one, such as a device) is refused with
// ecDataTooLarge and `problem` naming the file and the limit, after reading no more than that.
inline constexpr std::size_t kMaxMainDictionaryBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxUserDictionaryBytes = std::size_t{1} << 20;
Result readDictionaryFile(const std::string &path, DictionaryImage &out, bool firstOnly = false,
                          std::string *problem = nullptr);
// Reads the header at `offset` of a file again (user dictionaries change under the checker).
Result readHeaderAt(const std::string &path, std::uint32_t offset, DictHeader &out);

// The bytes of a dictionary file; each header's offset is set to where it lands. Nodes past
// those in use up to the capacity are written as free nodes.
std::vector<std::uint8_t> encodeDictionary(DictionaryImage &image);
// Writes a file through the guarded output path (a temporary beside it, permission and
// same-file checks, mode kept), so a failed write leaves the old file whole; `problem` says why.
Result writeFileReplacing(const std::string &path, std::span<const std::uint8_t> bytes,
                          std::string *problem = nullptr);

// The text a new user dictionary starts with, and a new one: header 1, 500, 1, 0; node 1 the
// word "A"; the rest free.
std::string userIntro();
DictionaryImage newUserDictionary();

// Builds tries from words given as letter codes, sorted and unique; a new segment starts
// whenever the next word would not fit into maxNodes.
std::vector<TrieSegment> buildSegments(std::span<const std::string> codeWords, std::uint8_t kind,
                                       std::uint32_t maxNodes = kMaxCapacity);

}  // namespace kv::spell
