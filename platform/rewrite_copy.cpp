#include "platform/rewrite_copy.h"

#include <QtEndian>
#include <algorithm>

namespace parlotrim {

namespace {

constexpr QByteArrayView kMagicV1("PRLTRIM1");
constexpr QByteArrayView kMagic("PRLTRIM2");
// v1: old size, new size, stamp, inode, generation, name size, magic.
constexpr qint64 kTrailerV1 = 5 * 8 + 4 + 8;
// v2: old size, new size, stamp, file, generation, volume, digest count, name size, magic.
constexpr qint64 kTrailer = 7 * 8 + 4 + 8;

constexpr quint64 kP1 = 0x9E3779B185EBCA87ull, kP2 = 0xC2B2AE3D27D4EB4Full,
                  kP3 = 0x165667B19E3779F9ull;

inline quint64 Rotl(quint64 x, int r) {
  return (x << r) | (x >> (64 - r));
}
inline quint64 Round(quint64 acc, quint64 word) {
  return Rotl(acc + word * kP2, 31) * kP1;
}
inline quint64 Load(const char* p) {
  return qFromLittleEndian<quint64>(p);
}

}  // namespace

quint64 Digest(QByteArrayView bytes) {
  const char* p = bytes.data();
  qsizetype n = bytes.size();
  // Four lanes, so that the multiplications of neighbouring words overlap.
  quint64 a = kP1 + kP2, b = kP2, c = 0, d = 0 - kP1;
  for (; n >= 32; p += 32, n -= 32) {
    a = Round(a, Load(p));
    b = Round(b, Load(p + 8));
    c = Round(c, Load(p + 16));
    d = Round(d, Load(p + 24));
  }
  quint64 h = Rotl(a, 1) + Rotl(b, 7) + Rotl(c, 12) + Rotl(d, 18) + quint64(bytes.size());
  for (; n >= 8; p += 8, n -= 8) h = Rotl(h ^ Round(0, Load(p)), 27) * kP1 + kP3;
  for (; n > 0; ++p, --n) h = Rotl(h ^ (uchar(*p) * kP3), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  return h ^ (h >> 32);
}

void BlockDigests::Feed(QByteArrayView bytes) {
  if (!partial_.isEmpty()) {
    const qsizetype take = qMin<qsizetype>(kDigestBlock - partial_.size(), bytes.size());
    partial_.append(bytes.first(take));
    bytes = bytes.sliced(take);
    if (partial_.size() < kDigestBlock) return;
    digests_.append(Digest(partial_));
    partial_.clear();
  }
  for (; bytes.size() >= kDigestBlock; bytes = bytes.sliced(kDigestBlock))
    digests_.append(Digest(bytes.first(kDigestBlock)));
  partial_ = bytes.toByteArray();
}

QByteArray CopyRecord::Tail() const {
  QByteArray tail(oldDigests.size() * 8, '\0');
  for (qsizetype i = 0; i < oldDigests.size(); ++i)
    qToLittleEndian<quint64>(oldDigests[i], tail.data() + 8 * i);
  tail += name;
  QByteArray trailer(kTrailer, '\0');
  char* p = trailer.data();
  const quint64 fields[] = {quint64(oldSize), quint64(newSize), stamp, file, generation, volume,
                            quint64(oldDigests.size())};
  for (quint64 field : fields) {
    qToLittleEndian<quint64>(field, p);
    p += 8;
  }
  qToLittleEndian<quint32>(quint32(name.size()), p);
  std::copy(kMagic.begin(), kMagic.end(), p + 4);
  return tail + trailer;
}

bool CopyRecord::Parse(qint64 fileSize, const ReadAt& read) {
  if (fileSize < kTrailerV1) return false;
  const QByteArray magic = read(fileSize - 8, 8);
  legacy = magic == kMagicV1;
  if (!legacy && (magic != kMagic || fileSize < kTrailer)) return false;
  const qint64 trailerSize = legacy ? kTrailerV1 : kTrailer;
  const QByteArray t = read(fileSize - trailerSize, trailerSize);
  if (t.size() != trailerSize) return false;
  const char* p = t.constData();
  oldSize = qint64(qFromLittleEndian<quint64>(p));
  newSize = qint64(qFromLittleEndian<quint64>(p + 8));
  stamp = qFromLittleEndian<quint64>(p + 16);
  file = qFromLittleEndian<quint64>(p + 24);
  generation = qFromLittleEndian<quint64>(p + 32);
  volume = legacy ? 0 : qFromLittleEndian<quint64>(p + 40);
  const qint64 digests = legacy ? 0 : qint64(qFromLittleEndian<quint64>(p + 48));
  const qint64 nameSize = qFromLittleEndian<quint32>(p + (legacy ? 40 : 56));
  if (oldSize < 0 || newSize < 0 || oldSize > fileSize || newSize > fileSize ||
      digests != (legacy ? 0 : DigestCount()) ||
      BodySize() + digests * 8 + nameSize + trailerSize != fileSize)
    return false;
  const QByteArray list = read(BodySize(), digests * 8);
  name = read(BodySize() + digests * 8, nameSize);
  if (list.size() != digests * 8 || name.size() != nameSize || name.isEmpty()) return false;
  oldDigests.clear();
  for (qint64 i = 0; i < digests; ++i)
    oldDigests.append(qFromLittleEndian<quint64>(list.constData() + 8 * i));
  return true;
}

CopyRecord StartRecord(const FileIdentity& id, const QByteArray& name, qint64 oldSize,
                       const QList<QByteArrayView>& pieces, quint64 newestStamp) {
  CopyRecord record;
  record.oldSize = oldSize;
  for (QByteArrayView piece : pieces) record.newSize += piece.size();
  record.stamp = newestStamp + 1;
  record.file = id.file;
  record.generation = id.generation;
  record.volume = id.volume;
  record.name = name;
  return record;
}

bool OldDigests(CopyRecord* record, const QList<quint64>& fullBlocks, const ReadAt& readOld) {
  const qint64 common = record->Common(), count = record->DigestCount();
  record->oldDigests = fullBlocks.first(qMin<qint64>(fullBlocks.size(), common / kDigestBlock));
  while (record->oldDigests.size() < count) {
    const qint64 at = record->oldDigests.size() * kDigestBlock;
    const qint64 size = qMin(kDigestBlock, common - at);
    const QByteArray block = readOld(at, size);
    if (block.size() != size) return false;
    record->oldDigests.append(Digest(block));
  }
  return true;
}

bool LogFitsCopy(const CopyRecord& record, QByteArrayView newContent, qint64 logSize,
                 const ReadAt& readLog) {
  const qint64 common = record.Common();
  if (record.legacy || logSize < common || newContent.size() < common ||
      record.oldDigests.size() != record.DigestCount())
    return false;
  constexpr qint64 kChunk = 256 * kDigestBlock;
  for (qint64 at = 0; at < common; at += kChunk) {
    const QByteArray chunk = readLog(at, qMin(kChunk, common - at));
    if (chunk.size() != qMin(kChunk, common - at)) return false;
    for (qint64 in = 0; in < chunk.size(); in += kDigestBlock) {
      const QByteArrayView block = QByteArrayView(chunk).sliced(in).first(
          qMin<qint64>(kDigestBlock, chunk.size() - in));
      if (block != newContent.sliced(at + in, block.size()) &&
          Digest(block) != record.oldDigests[(at + in) / kDigestBlock])
        return false;
    }
  }
  return true;
}

qint64 AppendedFrom(qint64 oldSize, qint64 newSize, QByteArrayView oldTail, qint64 fileSize,
                    const ReadAt& fileBytes) {
  if (oldSize > newSize) {
    // Not cut to length: the old bytes are still there.
    return fileSize >= oldSize && fileBytes(newSize, oldSize - newSize) == oldTail ? oldSize
                                                                                   : newSize;
  }
  if (oldSize < newSize && fileSize > oldSize) {
    // Lengthened, wholly or in part: the new room holds zeros, which no log holds.
    const QByteArray room = fileBytes(oldSize, qMin(fileSize, newSize) - oldSize);
    qint64 zeros = 0;
    while (zeros < room.size() && room[zeros] == '\0') ++zeros;
    return oldSize + zeros;
  }
  return oldSize;
}

FileResult UnmatchedCopy(const QString& copyFile, qint64 newSize) {
  return FileResult::Failed(
      FileResult::Read,
      QStringLiteral("前回中断された書き換えのコピー「%1」がありますが、今のログファイルの"
                     "ものと確かめられないため、ログもコピーも変更していません。ログが正しければ"
                     "コピーを削除してください。コピーの先頭 %2 バイトが書き換え後の内容です")
          .arg(copyFile)
          .arg(newSize));
}

FileResult LogInUse() {
  return FileResult::Failed(
      FileResult::InUse,
      QStringLiteral("ほかのプログラムがこのログファイルを開いているか、書き込んでいます"));
}

FileResult UnfinishedRewrite(FileResult result) {
  result.cause = QStringLiteral("前回中断された書き換えを完了できません: ") + result.cause;
  result.failure = FileResult::Read;
  return result;
}

}  // namespace parlotrim
