// The dictionary file reader, and on every file it accepts the walks made over it: the check,
// the suggestion search and, for user dictionaries, adding a word.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "spell/dictionary_file.h"
#include "spell/vizuv_spell.h"

using namespace kv::spell;

namespace {

const std::string &scratchFile() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/kvspellfuzzXXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  DictionaryImage image;
  if (parseDictionary({data, size}, image) != kv::ecOK) return 0;
  const std::string &path = scratchFile();
  if (writeFileReplacing(path, {data, size}) != kv::ecOK) return 0;
  TVizuvSpell spell;
  spell.DictionaryName = path;
  int id = -1;
  if (image.isUser())
    id = spell.OpenUser(path);
  else if (!spell.Open(path))
    std::abort();  // the file parsed, so it must open
  for (const char *w : {"RECEIVE", "fax", "Zz", "A's", "AEIOU"}) spell.IsCorrect(w);
  spell.Suggest("recieve");
  spell.Suggest("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  if (id >= 0) {
    spell.AddWord("BAA", id);
    spell.AddWord("AB", id);
    if (!spell.IsCorrect("BAA") && spell.LastResult() == kv::ecOK) {
      // Added words must read back unless the dictionary was full.
      DictionaryImage after;
      if (readDictionaryFile(path, after, true) == kv::ecOK &&
          after.segments[0].used() + 3 <= 63999)
        std::abort();
    }
  }
  return 0;
}
