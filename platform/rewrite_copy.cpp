#include "platform/rewrite_copy.h"

#include <QtEndian>
#include <algorithm>

namespace parlotrim {

namespace {

// The last bytes of a copy, "PRLTRIM" and the format's digit.
constexpr QByteArrayView kMagic("PRLTRIM");
// 1: old size, new size, stamp, inode, generation, name size, magic.
constexpr qint64 kTrailerV1 = 5 * 8 + 4 + 8;
// 2 and 3: old size, new size, stamp, file, generation, volume, digest count, name size, magic.
constexpr qint64 kTrailer = 7 * 8 + 4 + 8;

// Records before the third format held the log's name as the system had it: bytes on POSIX
// systems, UTF-16 on Windows. A log's name ends in ".txt", which in UTF-16 holds NUL bytes, and
// no POSIX name holds one.
QByteArray Utf8OfOlderName(const QByteArray& name) {
  if (!name.contains('\0') || name.size() % 2) return name;
  QString utf16(name.size() / 2, Qt::Uninitialized);
  for (qsizetype i = 0; i < utf16.size(); ++i)
    utf16[i] = QChar(qFromLittleEndian<quint16>(name.constData() + 2 * i));
  return utf16.toUtf8();
}

bool AllZeros(QByteArrayView bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; });
}

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
    const qsizetype take = qMin<qsizetype>(block_ - partial_.size(), bytes.size());
    partial_.append(bytes.first(take));
    bytes = bytes.sliced(take);
    if (partial_.size() < block_) return;
    digests_.append(Digest(partial_));
    partial_.clear();
  }
  for (; bytes.size() >= block_; bytes = bytes.sliced(block_))
    digests_.append(Digest(bytes.first(block_)));
  partial_ = bytes.toByteArray();
}

QByteArray CopyRecord::Tail() const {
  // One buffer: the digests of a large log are megabytes.
  QByteArray tail(oldDigests.size() * 8 + name.size() + kTrailer, '\0');
  for (qsizetype i = 0; i < oldDigests.size(); ++i)
    qToLittleEndian<quint64>(oldDigests[i], tail.data() + 8 * i);
  std::copy(name.begin(), name.end(), tail.data() + oldDigests.size() * 8);
  char* p = tail.data() + tail.size() - kTrailer;
  const quint64 fields[] = {quint64(oldSize), quint64(newSize),          stamp, file, generation,
                            volume,           quint64(oldDigests.size())};
  for (quint64 field : fields) {
    qToLittleEndian<quint64>(field, p);
    p += 8;
  }
  qToLittleEndian<quint32>(quint32(name.size()), p);
  std::copy(kMagic.begin(), kMagic.end(), p + 4);
  p[4 + kMagic.size()] = char('0' + kFormat);
  return tail;
}

bool CopyRecord::Parse(qint64 fileSize, const ReadAt& read) {
  if (fileSize < kTrailerV1) return false;
  const QByteArray magic = read(fileSize - 8, 8);
  if (!magic.startsWith(kMagic) || magic[7] < '1' || magic[7] > '0' + kFormat) return false;
  format = magic[7] - '0';
  const qint64 trailerSize = format == 1 ? kTrailerV1 : kTrailer;
  if (fileSize < trailerSize) return false;
  const QByteArray t = read(fileSize - trailerSize, trailerSize);
  if (t.size() != trailerSize) return false;
  const char* p = t.constData();
  oldSize = qint64(qFromLittleEndian<quint64>(p));
  newSize = qint64(qFromLittleEndian<quint64>(p + 8));
  stamp = qFromLittleEndian<quint64>(p + 16);
  file = qFromLittleEndian<quint64>(p + 24);
  generation = qFromLittleEndian<quint64>(p + 32);
  volume = format == 1 ? 0 : qFromLittleEndian<quint64>(p + 40);
  const qint64 digests = format == 1 ? 0 : qint64(qFromLittleEndian<quint64>(p + 48));
  const qint64 nameSize = qFromLittleEndian<quint32>(p + (format == 1 ? 40 : 56));
  if (oldSize < 0 || newSize < 0 || oldSize > fileSize || newSize > fileSize ||
      digests != DigestCount() || BodySize() + digests * 8 + nameSize + trailerSize != fileSize)
    return false;
  const QByteArray list = read(BodySize(), digests * 8);
  name = read(BodySize() + digests * 8, nameSize);
  if (list.size() != digests * 8 || name.size() != nameSize || name.isEmpty()) return false;
  if (format < 3) name = Utf8OfOlderName(name);
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
  const qint64 block = record->DigestBlock();
  const qint64 whole = qMin<qint64>(fullBlocks.size(), common / block);
  // The list itself where it is all needed: shared, not copied.
  record->oldDigests = whole == fullBlocks.size() ? fullBlocks : fullBlocks.first(whole);
  while (record->oldDigests.size() < count) {
    const qint64 at = record->oldDigests.size() * block;
    const qint64 size = qMin(block, common - at);
    const QByteArray block = readOld(at, size);
    if (block.size() != size) return false;
    record->oldDigests.append(Digest(block));
  }
  return true;
}

qint64 AppendedFrom(const CopyRecord& record, bool sized, QByteArrayView body, qint64 logSize,
                    const ReadAt& readLog) {
  const qint64 oldSize = record.oldSize, newSize = record.newSize, common = record.Common();
  const qint64 block = record.DigestBlock();
  if (logSize < common || body.size() != record.BodySize() ||
      record.oldDigests.size() != record.DigestCount())
    return -1;
  // Up to the smaller size, each block holds the old bytes or the new ones (a copy of the first
  // format has no digests: its log is told by its file number alone).
  constexpr qint64 kChunk = 1 << 20;
  for (qint64 at = 0; at < common && record.format > 1; at += kChunk) {
    const QByteArray chunk = readLog(at, qMin(kChunk, common - at));
    if (chunk.size() != qMin(kChunk, common - at)) return -1;
    for (qint64 in = 0; in < chunk.size(); in += block) {
      const QByteArrayView part =
          QByteArrayView(chunk).sliced(in).first(qMin<qint64>(block, chunk.size() - in));
      if (part != body.sliced(at + in, part.size()) &&
          Digest(part) != record.oldDigests[(at + in) / block])
        return -1;
    }
  }
  if (newSize > oldSize) {
    // The log is lengthened, room made sure of, before the copy is named "sized"; the new room
    // holds zeros, which no text holds two of in a row. Lengthened in part, it ends on a block.
    if (sized) return logSize >= newSize ? newSize : -1;
    const QByteArray room = readLog(oldSize, qMin(logSize, newSize) - oldSize);
    const qint64 zeros =
        std::find_if(room.begin(), room.end(), [](char c) { return c; }) - room.begin();
    if (oldSize + zeros == newSize) return newSize;
    return zeros < 2 ? oldSize : qMax(oldSize, (oldSize + zeros) / block * block);
  }
  if (newSize == oldSize) return oldSize;
  // A log that gets shorter holds the new content and zeros up to its old length before the
  // copy is named "sized", and is cut to its new length only after: while its old length is
  // there with each block of old bytes or zeros, it is not cut, and later bytes follow it.
  if (logSize >= oldSize) {
    const QByteArray rest = readLog(newSize, oldSize - newSize);
    if (rest.size() != oldSize - newSize) return -1;
    bool uncut = true;
    for (qint64 at = newSize; uncut && at < oldSize; at = (at / block + 1) * block) {
      const qint64 n = qMin((at / block + 1) * block, oldSize) - at;
      const QByteArrayView part = QByteArrayView(rest).sliced(at - newSize, n);
      uncut = AllZeros(part) || (!sized && part == body.sliced(at, n));
    }
    if (uncut) return oldSize;
  }
  // Cut: what follows the new content came later. (Copies of the older formats were named
  // "sized" only after the cut, so theirs may be cut while named as complete.)
  return sized || record.format < 3 ? newSize : -1;
}

FileResult UnreadableCopy(const QString& copyFile) {
  return FileResult::Failed(
      FileResult::Read,
      QStringLiteral("前回中断された書き換えのコピー「%1」がありますが、読めない形式のため"
                     "（新しい版のプログラムが書いたものか、壊れています）、このフォルダのログを"
                     "変更していません。ログが正しければコピーを削除してください")
          .arg(copyFile));
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
