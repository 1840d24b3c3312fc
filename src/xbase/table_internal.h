// What the parts of the table code share: the open table's file state and small helpers.
#pragma once

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/error_text.h"
#include "xbase/cdx.h"
#include "xbase/expr.h"
#include "xbase/table.h"

namespace kv::xbase {

struct Table::Impl {
  FileSystem *fs = nullptr;
  std::unique_ptr<File> dbf, fpt, cdx;
  std::string fptPath, cdxPath;
  uint32_t headerLen = 0, recLen = 0;
  uint8_t version = 0;
  uint32_t blockSize = 64, nextFree = 8;
  struct Tag {
    TagInfo info;
    std::unique_ptr<Expression> key, forE;
    uint8_t pad = ' ';
    std::vector<KeyEntry> keys;
  };
  std::vector<Tag> tags;
  std::unique_ptr<Expression> filter;
  int batch = 0;
  bool indexDirty = false;
  bool modified = false;
  std::vector<uint32_t> visible;
  bool visibleValid = false;
};

namespace table_detail {

inline std::string UpperStr(std::string s) {
  for (auto &c : s) c = char(std::toupper(uint8_t(c)));
  return s;
}
inline std::string RTrim(const std::string &s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}
inline Status Err(Result code, const std::string &m) {
  return Status::Error(code, m);
}
inline Status IoErr(Result code, const std::string &what) {
  std::string why = code == ecDiskFull ? "disk full" : errorText(code);
  if (why.empty()) why = "input/output error";
  return Err(code, what + ": " + why);
}
bool ValidFieldName(const std::string &n);
// Writes the record count and the date of last change into the DBF header.
Status WriteHeaderCount(File &f, uint32_t count);
// True when `raw` looks like a row that was written whole (see record.cpp).
bool PlausibleRow(const std::string &raw, const std::vector<FieldInfo> &fields);
// Copies a file through the engine's file interface, synced; used to keep old files.
Status CopyFile(FileSystem &fs, File &from, const std::string &to);
// Finishes (or discards) an interrupted pack before the table is read.
Status RecoverPack(FileSystem &fs, const std::string &path, const std::string &fptPath);

}  // namespace table_detail
}  // namespace kv::xbase
