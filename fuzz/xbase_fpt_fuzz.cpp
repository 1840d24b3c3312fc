// Memo files from anywhere: read memos through pointers taken from the input, pack, append.
#include "base/byte_order.h"
#include "xbase/table.h"
#include "xbase_memfs.h"

using namespace kv::xbase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  kvfuzz::MemFs fs;
  Settings s;
  s.durable = false;
  if (!Table::Create("/t.dbf", {{"NAME", 'C', 5, 0}, {"NOTE", 'M', 10, 0}}, Flavour::FoxPro2, 64,
                     fs))
    return 0;
  {
    std::unique_ptr<Table> t;
    if (!Table::Open("/t.dbf", s, &t, fs)) return 0;
    for (int i = 0; i < 2; ++i) {
      Record r = t->BlankRecord();
      r.PutMemo(1, "seed memo");
      t->Append(r, nullptr);
    }
  }
  // The first 8 input bytes are the two rows' memo block numbers, the rest the memo file.
  std::string &dbf = *fs.files["/t.dbf"];
  size_t hl = kv::getLe16(reinterpret_cast<const uint8_t *>(dbf.data()) + 8);
  for (int i = 0; i < 2; ++i) {
    uint32_t block = kv::getLe32(data + 4 * i) % 100000;
    std::string ptr = std::to_string(block);
    ptr.insert(0, 10 - ptr.size(), ' ');
    dbf.replace(hl + size_t(i) * 16 + 6, 10, ptr);
  }
  fs.files["/t.fpt"] =
      std::make_shared<std::string>(reinterpret_cast<const char *>(data) + 8, size - 8);
  std::unique_ptr<Table> t;
  if (!Table::Open("/t.dbf", s, &t, fs)) return 0;
  for (uint32_t i = 1; i <= t->RecCount(); ++i) {
    Record r;
    std::string m;
    if (t->ReadRecord(i, &r)) (void)t->ReadMemo(r, 1, &m);
  }
  Record r = t->BlankRecord();
  r.PutMemo(1, std::string(100, 'x'));
  t->Append(r, nullptr);
  t->Pack();
  return 0;
}
