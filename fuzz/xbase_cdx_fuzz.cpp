// Index files from anywhere: the reader, the checker, navigation and a rebuild over them.
#include "xbase/cdx.h"
#include "xbase/table.h"
#include "xbase_memfs.h"

using namespace kv::xbase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string img(reinterpret_cast<const char *>(data), size);
  std::vector<CdxTag> tags;
  if (ReadCdx(img, &tags)) {
    for (auto &t : tags) {
      std::vector<KeyEntry> keys;
      (void)ReadTagKeys(img, t.headerOffset, t.info.keyLength, ' ', &keys);
    }
  }
  kvfuzz::MemFs fs;
  Settings s;
  s.durable = false;
  if (!Table::Create("/t.dbf",
                     {{"SUBJECT", 'C', 50, 0},
                      {"SENT", 'L', 1, 0},
                      {"DATESENT", 'D', 8, 0},
                      {"TIMESENT", 'C', 5, 0},
                      {"PAGES", 'N', 2, 0}},
                     Flavour::FoxPro2, 64, fs))
    return 0;
  {
    std::unique_ptr<Table> t;
    if (!Table::Open("/t.dbf", s, &t, fs)) return 0;
    for (int i = 0; i < 6; ++i) {
      Record r = t->BlankRecord();
      r.PutDate(2, {2024, 1, 1 + i});
      r.PutString(0, std::string(1, char('a' + i)));
      r.PutNumber(4, i);
      t->Append(r, nullptr);
    }
  }
  fs.files["/t.cdx"] = std::make_shared<std::string>(img);
  std::unique_ptr<Table> t;
  if (!Table::Open("/t.dbf", s, &t, fs)) return 0;
  for (int o = 0; o <= t->TagCount() && o < 4; ++o) {
    t->SetOrder(o);
    for (t->GoTop(); !t->Eof(); t->Skip(1)) {
    }
  }
  (void)t->CheckIndexes();
  Record r = t->BlankRecord();
  r.PutString(0, "z");
  t->Append(r, nullptr);
  t->Reindex();
  return 0;
}
