// Pack: the table rewritten without deleted rows beside the old files, swapped in under a
// journal so that a crash leaves either the old table or the new one.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "xbase/table_internal.h"

namespace kv::xbase {

using namespace table_detail;

Status table_detail::RecoverPack(FileSystem &fs, const std::string &path,
                                 const std::string &fptPath) {
  std::string journal = path + ".pk!";
  if (fs.Exists(journal)) {
    Result r;
    if (fs.Exists(fptPath + ".pk~") && (r = fs.Rename(fptPath + ".pk~", fptPath)) != ecOK)
      return IoErr(r, "finishing an interrupted pack");
    if (fs.Exists(path + ".pk~") && (r = fs.Rename(path + ".pk~", path)) != ecOK)
      return IoErr(r, "finishing an interrupted pack");
    fs.Remove(journal);
    return Status::Ok();
  }
  fs.Remove(path + ".pk~");
  fs.Remove(fptPath + ".pk~");
  return Status::Ok();
}

Status table_detail::CopyFile(FileSystem &fs, File &from, const std::string &to) {
  std::unique_ptr<File> out;
  Result r = fs.Open(to, OpenMode::CreateTruncate, &out);
  std::vector<char> buf(1 << 16);
  uint64_t at = 0;
  for (size_t got = 0; r == ecOK; at += got) {
    if ((r = from.ReadSome(at, buf.data(), buf.size(), &got)) != ecOK || got == 0) break;
    r = out->WriteAt(at, buf.data(), got);
  }
  if (r == ecOK) r = out->Sync();
  out.reset();
  if (r != ecOK) {
    fs.Remove(to);
    return IoErr(r, "keeping a copy as " + to);
  }
  return Status::Ok();
}

Status Table::Pack() {
  Impl &d = *d_;
  FileSystem &fs = *d.fs;
  std::string tmpDbf = path_ + ".pk~", tmpFpt = d.fptPath + ".pk~", journal = path_ + ".pk!";
  std::unique_ptr<File> nd, nf;
  auto cleanup = [&](Status st) {
    nd.reset();
    nf.reset();
    fs.Remove(tmpDbf);
    if (d.fpt) fs.Remove(tmpFpt);
    return st;
  };
  Result r = fs.Open(tmpDbf, OpenMode::CreateTruncate, &nd);
  if (r != ecOK || (r = nd->LockExclusive()) != ecOK) return cleanup(IoErr(r, "packing " + path_));
  std::string header(d.headerLen, '\0');
  if ((r = d.dbf->ReadAt(0, header.data(), header.size())) != ecOK)
    return cleanup(IoErr(r, "packing " + path_));
  uint32_t newNext = 0;
  if (d.fpt) {
    if ((r = fs.Open(tmpFpt, OpenMode::CreateTruncate, &nf)) != ecOK ||
        (r = nf->LockExclusive()) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
    newNext = (512 + d.blockSize - 1) / d.blockSize;
    std::string mh(size_t(newNext) * d.blockSize, '\0');
    putBe16(reinterpret_cast<uint8_t *>(mh.data()) + 6, uint16_t(d.blockSize));
    if ((r = nf->WriteAt(0, mh.data(), mh.size())) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
  }
  Status err;
  uint32_t newCount = 0;
  std::string out;
  uint64_t written = d.headerLen;
  Status st = ScanAll([&](uint32_t recno, const std::string &raw) {
    if (!err.ok() || raw[0] == '*') return;
    Record rec = BlankRecord();
    rec.raw_ = raw;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].type != 'M' || !err.ok()) continue;
      std::string text;
      Status ms = ReadMemo(rec, int(i), &text);
      if (!ms) {
        // Refuse to pack rather than drop a row's text.
        err = Err(ms.code, "record " + std::to_string(recno) + ": " + ms.message);
        return;
      }
      uint32_t block = 0;
      if (!text.empty()) {
        uint64_t total = 8 + text.size();
        uint32_t nb = uint32_t((total + d.blockSize - 1) / d.blockSize);
        std::string buf(size_t(nb) * d.blockSize, '\0');
        putBe32(reinterpret_cast<uint8_t *>(buf.data()), 1);
        putBe32(reinterpret_cast<uint8_t *>(buf.data()) + 4, uint32_t(text.size()));
        std::memcpy(buf.data() + 8, text.data(), text.size());
        if ((r = nf->WriteAt(uint64_t(newNext) * d.blockSize, buf.data(), buf.size())) != ecOK) {
          err = IoErr(r, "packing the memo file");
          return;
        }
        block = newNext;
        newNext += nb;
      }
      const FieldInfo &f = fields_[i];
      if (f.width == 4) {
        putLe32(reinterpret_cast<uint8_t *>(rec.raw_.data()) + f.offset, block);
      } else {
        std::string s = block ? std::to_string(block) : std::string();
        s.insert(0, size_t(f.width) - s.size(), ' ');
        rec.raw_.replace(size_t(f.offset), size_t(f.width), s);
      }
    }
    out += rec.raw_;
    ++newCount;
    if (out.size() >= (1u << 20)) {
      if ((r = nd->WriteAt(written, out.data(), out.size())) != ecOK)
        err = IoErr(r, "packing " + path_);
      written += out.size();
      out.clear();
    }
  });
  if (!st) return cleanup(st);
  if (!err) return cleanup(err);
  out += '\x1A';
  if ((r = nd->WriteAt(written, out.data(), out.size())) != ecOK)
    return cleanup(IoErr(r, "packing " + path_));
  auto *hp = reinterpret_cast<uint8_t *>(header.data());
  putLe32(hp + 4, newCount);
  // The structural-index flag must match reality (the rebuild deletes the index file first).
  if (d.tags.empty() && !fs.Exists(d.cdxPath)) hp[28] &= uint8_t(~0x01);
  if ((r = nd->WriteAt(0, header.data(), header.size())) != ecOK ||
      (st = WriteHeaderCount(*nd, newCount), !st) || (r = nd->Sync()) != ecOK)
    return cleanup(st ? IoErr(r, "packing " + path_) : st);
  if (nf) {
    uint8_t h[4];
    putBe32(h, newNext);
    if ((r = nf->WriteAt(0, h, 4)) != ecOK || (r = nf->Sync()) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
  }
  // Nothing is shortened without a copy of the old files, kept until the packed table is in
  // place and reads back complete.
  const std::string bakDbf = path_ + ".bak", bakFpt = d.fptPath + ".bak";
  if (!(st = CopyFile(fs, *d.dbf, bakDbf))) return cleanup(st);
  if (d.fpt && !(st = CopyFile(fs, *d.fpt, bakFpt))) {
    fs.Remove(bakDbf);
    return cleanup(st);
  }
  auto kept = [&](Status failed) {
    failed.message += "; the old table is kept as " + bakDbf;
    return failed;
  };
  // From here the journal makes the swap all-or-nothing across a crash.
  {
    std::unique_ptr<File> j;
    if ((r = fs.Open(journal, OpenMode::CreateTruncate, &j)) != ecOK ||
        (r = j->WriteAt(0, "pack\n", 5)) != ecOK || (r = j->Sync()) != ecOK) {
      j.reset();
      fs.Remove(journal);
      return kept(cleanup(IoErr(r, "packing " + path_)));
    }
  }
  if (nf && (r = fs.Rename(tmpFpt, d.fptPath)) != ecOK) {
    fs.Remove(journal);
    return kept(cleanup(IoErr(r, "packing the memo file")));
  }
  if ((r = fs.Rename(tmpDbf, path_)) != ecOK) return kept(IoErr(r, "packing " + path_));
  fs.Remove(journal);
  d.dbf = std::move(nd);
  if (nf) d.fpt = std::move(nf);
  d.nextFree = newNext ? newNext : d.nextFree;
  recCount_ = newCount;
  recno_ = recCount_ + 1;
  eof_ = bof_ = true;
  Changed();
  d.modified = false;
  if (!d.tags.empty()) {
    // The packed table is in place; an index that cannot follow is reported, not the pack.
    if ((st = ComputeKeys()) && (st = WriteIndex())) {
      indexDamaged_ = false;
      indexProblem_.clear();
    } else {
      d.indexDirty = true;
      indexDamaged_ = true;
      indexProblem_ = st.message;
    }
  }
  uint64_t packedSize = 0;
  if ((r = d.dbf->Size(&packedSize)) != ecOK ||
      packedSize < d.headerLen + uint64_t(newCount) * d.recLen)
    return kept(IoErr(r != ecOK ? r : ecDeviceRead, "reading the packed " + path_));
  fs.Remove(bakDbf);
  if (d.fpt) fs.Remove(bakFpt);
  return Status::Ok();
}

}  // namespace kv::xbase
