#include "tests/fault/fault_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace parlotrim::testing {

namespace {

void Put(std::string* out, const QByteArray& field) {
  *out += std::to_string(field.size());
  *out += ':';
  out->append(field.constData(), static_cast<size_t>(field.size()));
}

bool Take(const std::string& in, size_t* at, QByteArray* field) {
  const size_t colon = in.find(':', *at);
  if (colon == std::string::npos) return false;
  const unsigned long long size = std::stoull(in.substr(*at, colon - *at));
  if (in.size() - (colon + 1) < size) return false;
  *field = QByteArray(in.data() + colon + 1, static_cast<qsizetype>(size));
  *at = colon + 1 + size;
  return true;
}

}  // namespace

Outcome OutcomeOf(const FakeWindow& window) {
  Outcome outcome;
  outcome.calls = window.calls;
  outcome.boxes = window.boxes;
  outcome.pointer = window.pointer;
  outcome.label6 = window.label6;
  outcome.text1 = window.text1;
  return outcome;
}

std::string Encode(const Outcome& outcome) {
  std::string out;
  Put(&out, QByteArray::number(qsizetype(outcome.calls.size())));
  for (const std::string& call : outcome.calls) Put(&out, QByteArray::fromStdString(call));
  Put(&out, QByteArray::number(qsizetype(outcome.boxes.size())));
  for (const auto& [prompt, title] : outcome.boxes) {
    Put(&out, prompt.toUtf8());
    Put(&out, title.toUtf8());
  }
  Put(&out, QByteArray::number(outcome.pointer));
  Put(&out, outcome.label6.toUtf8());
  Put(&out, outcome.text1);
  return out;
}

bool Decode(const std::string& text, Outcome* outcome) {
  size_t at = 0;
  QByteArray field;
  if (!Take(text, &at, &field)) return false;
  for (qsizetype n = field.toLongLong(); n > 0; --n) {
    if (!Take(text, &at, &field)) return false;
    outcome->calls.push_back(field.toStdString());
  }
  if (!Take(text, &at, &field)) return false;
  for (qsizetype n = field.toLongLong(); n > 0; --n) {
    QByteArray prompt;
    if (!Take(text, &at, &prompt) || !Take(text, &at, &field)) return false;
    outcome->boxes.emplace_back(QString::fromUtf8(prompt), QString::fromUtf8(field));
  }
  if (!Take(text, &at, &field)) return false;
  outcome->pointer = field.toInt();
  if (!Take(text, &at, &field)) return false;
  outcome->label6 = QString::fromUtf8(field);
  if (!Take(text, &at, &outcome->text1)) return false;
  return at == text.size();
}

Snapshot TakeSnapshot(const QString& folder) {
  Snapshot snapshot;
  const QDir root(folder);
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QFileInfo info = it.fileInfo();
    const std::string name = root.relativeFilePath(path).toStdString();
    if (info.isSymLink()) {
      snapshot[name] = "link -> " + info.symLinkTarget().toStdString();
    } else if (info.isDir()) {
      snapshot[name] = "dir";
    } else {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) {
        snapshot[name] = "unreadable";
        continue;
      }
      const QByteArray bytes = file.readAll();
      snapshot[name] =
          "file " + std::to_string(bytes.size()) + " " +
          QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    }
  }
  return snapshot;
}

QByteArray MakeLog(qsizetype size) {
  QByteArray log;
  log.reserve(size + 64);
  for (int i = 0; log.size() < size; ++i) {
    if (i % 7 == 3) {
      log += "\r\n";
    } else if (i % 11 == 5) {
      log += "----\r\n";
    } else {
      // "発言" in Shift JIS, then the line number.
      log += "\x94\xad\x8c\xbe " + QByteArray::number(i) + " line\r\n";
    }
  }
  return log;
}

}  // namespace parlotrim::testing
