// Table files from anywhere: open, read every field of every row, navigate, then write.
#include <algorithm>

#include "xbase/table.h"
#include "xbase_memfs.h"

using namespace kv::xbase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kvfuzz::MemFs fs;
  fs.files["/t.dbf"] = std::make_shared<std::string>(reinterpret_cast<const char *>(data), size);
  Settings s;
  s.durable = false;
  s.deleted = size % 2;
  std::unique_ptr<Table> t;
  if (!Table::Open("/t.dbf", s, &t, fs)) return 0;
  uint32_t n = std::min<uint32_t>(t->RecCount(), 200);
  for (uint32_t i = 1; i <= n; ++i) {
    Record r;
    if (!t->ReadRecord(i, &r)) continue;
    for (size_t f = 0; f < t->Fields().size(); ++f) {
      (void)r.GetString(int(f));
      (void)r.GetNumber(int(f));
      (void)r.GetDate(int(f));
      (void)r.GetLogical(int(f));
      std::string m;
      if (t->Fields()[f].type == 'M') (void)t->ReadMemo(r, int(f), &m);
    }
  }
  t->GoTop();
  for (int i = 0; i < 20 && !t->Eof(); ++i) t->Skip(1);
  t->Skip(-3);
  if (t->RecCount() < 5000) {
    Record r = t->BlankRecord();
    (void)r.PutString(0, "fuzz");
    if (t->Append(r, nullptr) && t->RecCount() > 1) t->SetDeleted(1, true);
    t->Pack();
  }
  return 0;
}
