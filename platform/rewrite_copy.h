// The copy that a rewrite of a log leaves beside it until the log holds the new content, and
// how a copy found after a crash is matched to its log.
//
// A copy holds, in this order: the new content, the old bytes beyond the new end (a log that
// gets shorter), a digest of each block of the old bytes up to the smaller of the two sizes, the
// log's name in UTF-8 (a POSIX name that is not UTF-8 as its bytes), and a fixed-size trailer
// with the sizes, a stamp that counts up from copy to copy, and what identifies the log's file
// on its volume. Both systems write and read the same format, so a copy left on a disk that
// moves between them is finished by either.
//
// Where the file system's file numbers last (ext4, btrfs, NTFS), the file number tells the log
// from another file that took its name. On FAT and exFAT, and through many FUSE file systems,
// they are given afresh at every mount, so the log's bytes must tell. The rewrite writes the log
// in pieces that begin and end on 4 KiB boundaries (but at its end), and a write cut short by a
// kill stops at a page of memory, one cut by a power failure at a sector of the disk: so at every
// moment each 512-byte block of the log holds the old bytes or the new ones, never a mix, and
// the copy's digests and content tell those apart from any other file's. (Copies of the older
// format kept a digest of each 4 KiB block, and their rewrites did not write in whole blocks:
// a log that such a rewrite left mixed inside a block is refused, and the user told.)
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <functional>

#include "platform/file_store.h"

namespace parlotrim {

// The block of old bytes that a copy keeps a digest of, and the one the log is written in.
inline constexpr qint64 kDigestBlock = 512;
inline constexpr qint64 kWriteBlock = 4096;

// A 64-bit digest of bytes, the same on every machine.
quint64 Digest(QByteArrayView bytes);

// The digests of the whole blocks of bytes fed in order, in pieces of any size.
class BlockDigests {
 public:
  explicit BlockDigests(qint64 block = kDigestBlock) : block_(block) {}
  void Feed(QByteArrayView bytes);
  // Of the first count whole blocks fed (fewer, where fewer were fed).
  QList<quint64> First(qint64 count) const {
    return count >= digests_.size() ? digests_ : digests_.first(count);
  }

 private:
  qint64 block_;
  QList<quint64> digests_;
  QByteArray partial_;
};

// Reads size bytes at at of a file (fewer at its end); empty where the read fails.
using ReadAt = std::function<QByteArray(qint64 at, qint64 size)>;

struct CopyRecord {
  // 1: the log is told by its file number alone; 2: digests of 4 KiB blocks, the name as the
  // system held it; 3: digests of 512-byte blocks, the name in UTF-8, and a log that gets
  // shorter is filled with zeros beyond its new end before the copy is named "sized", and cut
  // only after.
  static constexpr int kFormat = 3;
  int format = kFormat;
  qint64 oldSize = 0, newSize = 0;
  quint64 stamp = 0;  // the newest copy of a log wins
  // The log's file: its number on the volume, the number's generation where the file system
  // reuses numbers, and the volume's id where it has a lasting one (else 0).
  quint64 file = 0, generation = 0, volume = 0;
  QList<quint64> oldDigests;  // of the old bytes in [0, Common()), a block each
  QByteArray name;            // of the log, in the copy's folder, in UTF-8 (or its POSIX bytes)

  qint64 Common() const { return qMin(oldSize, newSize); }
  qint64 BodySize() const { return newSize + qMax<qint64>(0, oldSize - newSize); }
  qint64 DigestBlock() const { return format >= 3 ? kDigestBlock : 4096; }
  qint64 DigestCount() const {
    return format == 1 ? 0 : (Common() + DigestBlock() - 1) / DigestBlock();
  }

  // What follows the body in the copy.
  QByteArray Tail() const;
  // Reads the record of a copy of fileSize bytes. False where it is no complete copy of a
  // format this program knows; whether its name is one of a log beside it is the store's to
  // tell.
  bool Parse(qint64 fileSize, const ReadAt& read);
};

// What tells a log's file from another: its number on the volume, the number's generation where
// the file system reuses numbers, and the volume's id. On a file system that numbers files afresh
// at each mount the numbers do not last.
struct FileIdentity {
  quint64 file = 0, generation = 0, volume = 0;
  bool lasting = true;
};

// The newest stamp among copies (0 where there are none).
template <typename Copies>
quint64 NewestStamp(const Copies& copies) {
  quint64 newest = 0;
  for (const CopyRecord& copy : copies) newest = qMax(newest, copy.stamp);
  return newest;
}

// The record of a rewrite of the log name, open as the file id, from oldSize bytes to the pieces,
// stamped after newestStamp; its digests are still to be taken.
CopyRecord StartRecord(const FileIdentity& id, const QByteArray& name, qint64 oldSize,
                       const QList<QByteArrayView>& pieces, quint64 newestStamp);

// The digests of the old bytes for a record: fullBlocks holds those of the whole blocks at the
// start of the old content (more are ignored, and missing ones are read); readOld reads the log
// before it is touched.
bool OldDigests(CopyRecord* record, const QList<quint64>& fullBlocks, const ReadAt& readOld);

// Where the bytes that other programs appended to a log after a crash begin (its length, where
// none were), for a copy named "sized" or not; -1 where the log is in no state that the copy's
// rewrite leaves at any moment: another program changed its bytes, or another file took its
// name. body holds the copy's new content and the old bytes beyond it; readLog reads the log as
// it is, logSize bytes. Where a read fails, so does the match.
qint64 AppendedFrom(const CopyRecord& record, bool sized, QByteArrayView body, qint64 logSize,
                    const ReadAt& readLog);

// What the user is told of a copy, named copyFile in the log's folder, that cannot be matched to
// the log beside it: both are left as they are.
FileResult UnmatchedCopy(const QString& copyFile, qint64 newSize);

// What the user is told of a copy, named copyFile, that this program cannot read (a newer
// program's, or damaged): it may be of any log of its folder, which are left as they are.
FileResult UnreadableCopy(const QString& copyFile);

// Another program has the log open, or wrote to it meanwhile: the rewrite is refused.
FileResult LogInUse();

// A rewrite that a crash cut short and that cannot be finished now: the log is not read until
// it is.
FileResult UnfinishedRewrite(FileResult result);

}  // namespace parlotrim
