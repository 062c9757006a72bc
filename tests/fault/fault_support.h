// What the fault and hostile-input tests share: the window's side of an operation as plain data
// (so that it can cross from a child process), a picture of a folder, and a made-up chat log.
#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/core/fake_window.h"

namespace parlotrim::testing {

// What the user saw of one operation.
struct Outcome {
  std::vector<std::string> calls;
  std::vector<std::pair<QString, QString>> boxes;  // prompt, title
  int pointer = -1;
  QString label6;
  QByteArray text1;
};

Outcome OutcomeOf(const FakeWindow& window);
std::string Encode(const Outcome& outcome);
// Returns false when text is not a whole encoded outcome (the child died while writing it).
bool Decode(const std::string& text, Outcome* outcome);

// Every entry under folder, recursively, by relative path: "dir", "link -> target", or
// "file <size> <sha-256>" so that a file's bytes are compared without printing them.
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const QString& folder);

// A chat log of at least size bytes: numbered Shift JIS lines, blank lines and separators,
// all ended by CR LF.
QByteArray MakeLog(qsizetype size);

}  // namespace parlotrim::testing
