// Index maintenance: every tag's keys kept in memory, current with the rows, and the
// structural CDX file written from them, checked against them and rebuilt.
#include <algorithm>
#include <cstring>
#include <functional>

#include "xbase/table_internal.h"

namespace kv::xbase {

using namespace table_detail;

Status Table::ParseTag(const TagInfo &info, int forcedKeyLen, void *tagOut) {
  auto &t = *static_cast<Impl::Tag *>(tagOut);
  t.info = info;
  Status st = Expression::Parse(info.key, fields_, &t.key);
  if (!st) return st;
  char type = t.key->ResultType();
  int len = forcedKeyLen > 0 ? forcedKeyLen
            : type == 'C'    ? t.key->ResultWidth()
            : type == 'L'    ? 1
                             : 8;
  if (len < 1 || len > kCdxMaxKey)
    return Err(ecKeyTooLong, "the key of tag " + info.name + " is empty or longer than 240 bytes");
  t.info.keyLength = len;
  t.pad = type == 'C' ? ' ' : 0;
  t.forE.reset();
  if (!info.forExpr.empty()) {
    st = Expression::Parse(info.forExpr, fields_, &t.forE);
    if (!st) return st;
    if (t.forE->ResultType() != 'L')
      return Err(ecBadArgument,
                 "the condition of tag " + info.name + " is not a logical expression");
  }
  return Status::Ok();
}

std::string Table::KeyOf(size_t tag, const std::string &raw, uint32_t recno) const {
  const Impl::Tag &t = d_->tags[tag];
  EvalContext c{&fields_, &raw, recno, settings_.exact};
  Value v = t.key->Eval(c);
  std::string k;
  switch (v.type) {
    case 'C':
      k = v.s;
      break;
    case 'N':
      k = NumericKey(v.n);
      break;
    case 'D':
      k = DateKey(v.jdn);
      break;
    default:
      k = v.b ? "T" : "F";
      break;
  }
  k.resize(size_t(t.info.keyLength), char(t.pad));
  return k;
}

bool Table::ForOf(size_t tag, const std::string &raw, uint32_t recno) const {
  const Impl::Tag &t = d_->tags[tag];
  if (!t.forE) return true;
  EvalContext c{&fields_, &raw, recno, settings_.exact};
  return t.forE->EvalLogical(c);
}

Status Table::ScanAll(const std::function<void(uint32_t, const std::string &)> &fn) {
  Impl &d = *d_;
  uint32_t per = std::max<uint32_t>(1, (1u << 18) / d.recLen);
  std::string buf;
  for (uint32_t first = 1; first <= recCount_; first += per) {
    uint32_t n = std::min(per, recCount_ - first + 1);
    buf.resize(size_t(n) * d.recLen);
    Result r = d.dbf->ReadAt(d.headerLen + uint64_t(first - 1) * d.recLen, buf.data(), buf.size());
    if (r != ecOK) return IoErr(r, "reading " + path_);
    std::string raw;
    for (uint32_t i = 0; i < n; ++i) {
      raw.assign(buf, size_t(i) * d.recLen, d.recLen);
      fn(first + i, raw);
    }
  }
  return Status::Ok();
}

Status Table::ComputeKeys(size_t onlyTag) {
  Impl &d = *d_;
  for (size_t i = 0; i < d.tags.size(); ++i)
    if (onlyTag == size_t(-1) || onlyTag == i) d.tags[i].keys.clear();
  Status st = ScanAll([&](uint32_t recno, const std::string &raw) {
    for (size_t i = 0; i < d.tags.size(); ++i)
      if ((onlyTag == size_t(-1) || onlyTag == i) && ForOf(i, raw, recno))
        d.tags[i].keys.push_back({KeyOf(i, raw, recno), recno});
  });
  for (size_t i = 0; i < d.tags.size(); ++i) {
    if (onlyTag != size_t(-1) && onlyTag != i) continue;
    auto &k = d.tags[i].keys;
    std::sort(k.begin(), k.end());
    if (d.tags[i].info.unique)  // the lowest record of each key value stays
      k.erase(std::unique(k.begin(), k.end(),
                          [](const KeyEntry &a, const KeyEntry &b) { return a.key == b.key; }),
              k.end());
  }
  return st;
}

void Table::LoadIndex() {
  Impl &d = *d_;
  auto damaged = [&](const std::string &m) {
    indexDamaged_ = true;
    if (indexProblem_.empty()) indexProblem_ = m;
  };
  uint64_t size = 0;
  if (d.cdx->Size(&size) != ecOK || size > (uint64_t(1) << 31))
    return damaged("index file unreadable");
  std::string img(size_t(size), '\0');
  if (d.cdx->ReadAt(0, img.data(), img.size()) != ecOK) return damaged("index file unreadable");
  std::vector<CdxTag> fileTags;
  Status st = ReadCdx(img, &fileTags);
  if (!st) return damaged(st.message);
  std::vector<std::vector<KeyEntry>> fileKeys;
  for (auto &ft : fileTags) {
    Impl::Tag t;
    st = ParseTag(ft.info, ft.info.keyLength, &t);
    if (!st) {
      damaged("tag " + ft.info.name + ": " + st.message);
      continue;
    }
    std::vector<KeyEntry> keys;
    st = ReadTagKeys(img, ft.headerOffset, t.info.keyLength, t.pad, &keys);
    if (!st) damaged("tag " + ft.info.name + ": " + st.message);
    fileKeys.push_back(std::move(keys));
    d.tags.push_back(std::move(t));
  }
  // Navigation always uses keys computed from the rows; the file's keys only have to agree.
  ComputeKeys();
  for (size_t i = 0; i < d.tags.size(); ++i) {
    if (!indexDamaged_ && d.tags[i].keys != fileKeys[i])
      damaged("tag " + d.tags[i].info.name + " does not match the table (" +
              std::to_string(fileKeys[i].size()) + " keys in the index file, " +
              std::to_string(d.tags[i].keys.size()) + " expected)");
  }
  if (!d.tags.empty()) order_ = 1;
}

Status Table::WriteIndex() {
  Impl &d = *d_;
  std::vector<CdxTag> out;
  for (auto &t : d.tags) {
    CdxTag c;
    c.info = t.info;
    c.pad = t.pad;
    c.keys = t.keys;
    out.push_back(std::move(c));
  }
  std::string img = BuildCdx(out);
  std::string tmp = d.cdxPath + ".tmp~";
  std::unique_ptr<File> f;
  Result r = d.fs->Open(tmp, OpenMode::CreateTruncate, &f);
  if (r != ecOK) return IoErr(r, "writing the index file");
  if ((r = f->LockExclusive()) != ecOK || (r = f->WriteAt(0, img.data(), img.size())) != ecOK ||
      (settings_.durable && (r = f->Sync()) != ecOK)) {
    f.reset();
    d.fs->Remove(tmp);
    return IoErr(r, "writing the index file");
  }
  if ((r = d.fs->Rename(tmp, d.cdxPath)) != ecOK) {
    f.reset();
    d.fs->Remove(tmp);
    return IoErr(r, "writing the index file");
  }
  d.cdx = std::move(f);
  d.indexDirty = false;
  // Other tools attach the structural index only when the table says it has one.
  uint8_t flags = 0;
  if (d.dbf->ReadAt(28, &flags, 1) == ecOK && !(flags & 0x01)) {
    flags |= 0x01;
    if ((r = d.dbf->WriteAt(28, &flags, 1)) != ecOK) return IoErr(r, "writing the table header");
  }
  return Status::Ok();
}

Status Table::IndexChanged() {
  d_->indexDirty = true;
  if (d_->batch > 0 || d_->tags.empty()) return Status::Ok();
  Status st = WriteIndex();
  if (!st) {
    // The row itself is saved; failing the call would invite the caller to save it again.
    // The index stays dirty (retried at the next write or close) and is reported as damaged.
    indexDamaged_ = true;
    indexProblem_ = st.message;
  }
  return Status::Ok();
}

void Table::Changed() {
  ++changes_;
  d_->visibleValid = false;
  d_->modified = true;
}

void Table::RemoveKeys(uint32_t recno, const std::string &raw) {
  for (size_t i = 0; i < d_->tags.size(); ++i) {
    auto &k = d_->tags[i].keys;
    if (!ForOf(i, raw, recno)) continue;
    KeyEntry e{KeyOf(i, raw, recno), recno};
    auto it = std::lower_bound(k.begin(), k.end(), e);
    if (it != k.end() && *it == e) k.erase(it);
  }
}

void Table::AddKeys(uint32_t recno, const std::string &raw) {
  for (size_t i = 0; i < d_->tags.size(); ++i) {
    if (!ForOf(i, raw, recno)) continue;
    auto &k = d_->tags[i].keys;
    KeyEntry e{KeyOf(i, raw, recno), recno};
    auto it = std::lower_bound(k.begin(), k.end(), e);
    if (it != k.end() && *it == e) continue;
    k.insert(it, std::move(e));
  }
  for (size_t i = 0; i < d_->tags.size(); ++i)
    if (d_->tags[i].info.unique) ComputeKeys(i);
}

int Table::TagCount() const {
  return int(d_->tags.size());
}

TagInfo Table::Tag(int order) const {
  if (order < 1 || order > TagCount()) return {};
  return d_->tags[size_t(order - 1)].info;
}

std::string Table::TagName(int order) const {
  return Tag(order).name;
}

int Table::TagArea(const std::string &name) const {
  std::string u = UpperStr(name);
  for (size_t i = 0; i < d_->tags.size(); ++i)
    if (UpperStr(d_->tags[i].info.name) == u) return int(i + 1);
  return 0;
}

Status Table::SetOrder(int order) {
  if (order < 0 || order > TagCount()) return Err(ecBadArgument, "no such index order");
  order_ = order;
  d_->visibleValid = false;
  ++changes_;
  return Status::Ok();
}

Status Table::IndexTag(const std::string &tag, const std::string &key, const std::string &forExpr,
                       bool descending, bool unique) {
  std::string name = UpperStr(tag);
  if (!ValidFieldName(name)) return Err(ecBadArgument, "bad tag name \"" + tag + "\"");
  if (key.size() + forExpr.size() + 2 > 512)
    return Err(ecKeyTooLong, "the expressions of tag " + name + " are too long");
  Impl::Tag t;
  TagInfo info;
  info.name = name;
  info.key = key;
  info.forExpr = forExpr;
  info.descending = descending;
  info.unique = unique;
  Status st = ParseTag(info, 0, &t);
  if (!st) return st;
  Impl &d = *d_;
  if (d.cdxPath.empty()) d.cdxPath = FindSibling(*d.fs, path_, "cdx");
  int existing = TagArea(name);
  size_t idx;
  if (existing) {
    idx = size_t(existing - 1);
    d.tags[idx] = std::move(t);
  } else {
    d.tags.push_back(std::move(t));
    idx = d.tags.size() - 1;
  }
  if (!(st = ComputeKeys(idx))) return st;
  if (!(st = WriteIndex())) return st;
  order_ = int(idx + 1);
  d.visibleValid = false;
  ++changes_;
  return Status::Ok();
}

Status Table::CloseIndexes() {
  Status st;
  if (d_->indexDirty && !d_->tags.empty()) st = WriteIndex();
  d_->cdx.reset();
  d_->tags.clear();
  d_->indexDirty = false;
  order_ = 0;
  indexDamaged_ = false;
  indexProblem_.clear();
  d_->visibleValid = false;
  ++changes_;
  return st;
}

Status Table::Reindex() {
  if (d_->tags.empty()) {
    indexDamaged_ = false;
    indexProblem_.clear();
    return Status::Ok();
  }
  Status st = ComputeKeys();
  if (st) st = WriteIndex();
  if (st) {
    indexDamaged_ = false;
    indexProblem_.clear();
  }
  d_->visibleValid = false;
  ++changes_;
  return st;
}

IndexReport Table::CheckIndexes() {
  IndexReport rep;
  Impl &d = *d_;
  auto fail = [&](const std::string &m) {
    rep.ok = false;
    rep.problems.push_back(m);
  };
  if (d.tags.empty()) return rep;
  if (d.indexDirty) {
    fail("index changes are not yet written (inside a batch)");
    return rep;
  }
  if (!d.cdx) {
    fail("the index file is not open");
    return rep;
  }
  uint64_t size = 0;
  std::string img;
  if (d.cdx->Size(&size) != ecOK || size > (uint64_t(1) << 31)) {
    fail("the index file cannot be read");
    return rep;
  }
  img.resize(size_t(size));
  if (d.cdx->ReadAt(0, img.data(), img.size()) != ecOK) {
    fail("the index file cannot be read");
    return rep;
  }
  std::vector<CdxTag> fileTags;
  Status st = ReadCdx(img, &fileTags);
  if (!st) {
    fail(st.message);
    return rep;
  }
  if (!ComputeKeys()) fail("the table cannot be read");
  for (auto &t : d.tags) {
    auto it = std::find_if(fileTags.begin(), fileTags.end(),
                           [&](const CdxTag &f) { return UpperStr(f.info.name) == t.info.name; });
    if (it == fileTags.end()) {
      fail("tag " + t.info.name + " is missing from the index file");
      continue;
    }
    if (it->info.key != t.info.key || it->info.forExpr != t.info.forExpr ||
        it->info.descending != t.info.descending || it->info.keyLength != t.info.keyLength) {
      fail("tag " + t.info.name + " has a different definition in the index file");
      continue;
    }
    std::vector<KeyEntry> keys;
    st = ReadTagKeys(img, it->headerOffset, t.info.keyLength, t.pad, &keys);
    if (!st) {
      fail("tag " + t.info.name + ": " + st.message);
      continue;
    }
    if (keys != t.keys) {
      size_t missing = 0, extra = 0;
      for (auto &k : t.keys)
        if (!std::binary_search(keys.begin(), keys.end(), k)) ++missing;
      for (auto &k : keys)
        if (!std::binary_search(t.keys.begin(), t.keys.end(), k)) ++extra;
      fail("tag " + t.info.name + ": " + std::to_string(missing) + " rows missing, " +
           std::to_string(extra) + " stale entries");
    }
  }
  return rep;
}

}  // namespace kv::xbase
