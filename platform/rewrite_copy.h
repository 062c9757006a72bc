// The copy that a rewrite of a log leaves beside it until the log holds the new content, and
// how a copy found after a crash is matched to its log.
//
// A copy holds, in this order: the new content, the old bytes beyond the new end (a log that
// gets shorter), a digest of each block of the old bytes up to the smaller of the two sizes, the
// log's name, and a fixed-size trailer with the sizes, a stamp that counts up from copy to copy,
// and what identifies the log's file on its volume.
//
// Where the file system's file numbers last (ext4, btrfs, NTFS), the file number tells the log
// from another file that took its name. On FAT and exFAT, and through many FUSE file systems,
// they are given afresh at every mount, so the log's bytes must tell: at every moment of a
// rewrite, each block of the log up to the smaller size holds the old bytes or the new ones,
// which the copy's digests and content tell apart from any other file's.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <functional>

#include "platform/file_store.h"

namespace parlotrim {

inline constexpr qint64 kDigestBlock = 4096;

// A 64-bit digest of bytes, the same on every machine.
quint64 Digest(QByteArrayView bytes);

// The digests of the whole blocks of bytes fed in order, in pieces of any size.
class BlockDigests {
 public:
  void Feed(QByteArrayView bytes);
  // Of the first count whole blocks fed (fewer, where fewer were fed).
  QList<quint64> First(qint64 count) const { return digests_.first(qMin(count, digests_.size())); }

 private:
  QList<quint64> digests_;
  QByteArray partial_;
};

// Reads size bytes at at of a file (fewer at its end); empty where the read fails.
using ReadAt = std::function<QByteArray(qint64 at, qint64 size)>;

struct CopyRecord {
  qint64 oldSize = 0, newSize = 0;
  quint64 stamp = 0;  // the newest copy of a log wins
  // The log's file: its number on the volume, the number's generation where the file system
  // reuses numbers, and the volume's id where it has a lasting one (else 0).
  quint64 file = 0, generation = 0, volume = 0;
  // A copy from before digests were kept: only the file number identifies its log.
  bool legacy = false;
  QList<quint64> oldDigests;  // of the old bytes in [0, Common()), a block each
  QByteArray name;            // of the log, in the copy's folder, as this system's store holds it

  qint64 Common() const { return qMin(oldSize, newSize); }
  qint64 BodySize() const { return newSize + qMax<qint64>(0, oldSize - newSize); }
  qint64 DigestCount() const { return (Common() + kDigestBlock - 1) / kDigestBlock; }

  // What follows the body in the copy.
  QByteArray Tail() const;
  // Reads the record of a copy of fileSize bytes. False where it is no complete copy; whether
  // its name is one of a log beside it is the store's to tell.
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

// Whether the log's first bytes are those that this copy's rewrite leaves there at some moment:
// each block up to the smaller size is either the old one or the new one. newContent is the
// copy's new content; readLog reads the log as it is.
bool LogFitsCopy(const CopyRecord& record, QByteArrayView newContent, qint64 logSize,
                 const ReadAt& readLog);

// Where the bytes that other programs appended to a log after a crash begin, for a rewrite
// from oldSize to newSize bytes that left its copy named as complete but not yet as "sized":
// the log's length changed, or not, and its first bytes are the old ones. oldTail holds the
// old bytes from newSize to oldSize; fileBytes(from, size) reads the log as it is now.
qint64 AppendedFrom(qint64 oldSize, qint64 newSize, QByteArrayView oldTail, qint64 fileSize,
                    const ReadAt& fileBytes);

// What the user is told of a copy, named copyFile in the log's folder, that cannot be matched to
// the log beside it: both are left as they are.
FileResult UnmatchedCopy(const QString& copyFile, qint64 newSize);

// Another program has the log open, or wrote to it meanwhile: the rewrite is refused.
FileResult LogInUse();

// A rewrite that a crash cut short and that cannot be finished now: the log is not read until
// it is.
FileResult UnfinishedRewrite(FileResult result);

}  // namespace parlotrim
