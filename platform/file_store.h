// Whole-file reading and atomic replacement of files. A replacement writes a temporary file in
// the target's folder, checks every write, flushes and syncs it, then renames it over the
// target; on any failure the target is untouched and the temporary file is removed.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>

class QSaveFile;

namespace parlotrim {

struct ReadResult {
  bool ok = false;
  QByteArray data;
  QString error;  // the cause, when !ok
};

struct WriteResult {
  bool ok = false;
  QString error;  // the cause, when !ok
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  // Reads the whole file as bytes (no line-end translation).
  virtual ReadResult ReadAll(const QString& path) = 0;
  // Reads the file front to back in blocks, handing each to block(bytes, fileSize); the view
  // is valid only during the call. The result carries no data. This one reads it whole.
  using BlockSink = std::function<void(QByteArrayView bytes, qint64 fileSize)>;
  virtual ReadResult ReadBlocks(const QString& path, const BlockSink& block);
  // Replaces (or creates) path with the concatenation of pieces. A symbolic link stays a link
  // and its target is replaced; an existing file keeps its permissions (and, where allowed,
  // its owner and group).
  virtual WriteResult Replace(const QString& path, const QList<QByteArrayView>& pieces) = 0;
};

class DiskFileStore : public FileStore {
 public:
  ReadResult ReadAll(const QString& path) override;
  ReadResult ReadBlocks(const QString& path, const BlockSink& block) override;
  WriteResult Replace(const QString& path, const QList<QByteArrayView>& pieces) override;

 protected:
  // Steps of Replace, virtual so that tests can inject failures. Each returns false and sets
  // *error on failure.
  virtual bool WritePiece(QSaveFile& file, QByteArrayView piece, QString* error);
  virtual bool Flush(QSaveFile& file, QString* error);
  virtual bool Sync(QSaveFile& file, QString* error);
  virtual bool Commit(QSaveFile& file, QString* error);
};

}  // namespace parlotrim
