#include "core/log_operations.h"

#include <QDir>
#include <new>
#include <optional>
#include <utility>

#include "core/html_document.h"
#include "core/line_cleaning.h"
#include "core/log_codec.h"
#include "core/log_encoding.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "platform/large_buffer.h"

namespace parlotrim {

namespace {

// Every buffer that grows with the log is allocated inside op; one too large for the memory
// the program may use ends it as a read failure, and the program goes on.
template <typename Op>
FileResult GuardMemory(Op&& op) {
  try {
    return op();
  } catch (const std::bad_alloc&) {
    return FileResult::Failed(FileResult::Read, texts::kNoMemory);
  }
}

}  // namespace

LogOperations::LogOperations(LogWindow& window, FileStore& files, NativeName logFolder,
                             Module1& module)
    : window_(window), files_(files), logFolder_(std::move(logFolder)), module_(module) {}

FileResult LogOperations::ShowWorkingText(const NativeName& name) {
  const FileResult result = GuardMemory([&] {
    QByteArray data;
    FileResult read = files_.ReadAll(logFolder_, name, &data);
    if (read.ok()) {
      const LogFormat format = DetectLogFormat(data, true);
      LineIndex index;
      const QByteArray text = TakeWorkingText(std::move(data), module_, format, &index);
      window_.SetIndexedText1(text, format.encoding, std::move(index));
    }
    return read;
  });
  if (!result.ok()) window_.SetText1(QByteArray());
  return result;
}

void LogOperations::ReportFailure(const FileResult& result, const NativeName& name,
                                  const QString& writeFailed) {
  window_.SetMousePointer(vbDefault);  // never the hourglass over a message
  ReleaseLargeBuffer();                // memory kept for a text that is not to be built now
  QString prompt = writeFailed, title = texts::kWriteErrorTitle;
  if (result.failure == FileResult::Read) {
    prompt = texts::kReadError;
    title = texts::kReadErrorTitle;
  } else if (result.failure == FileResult::InUse) {
    prompt = texts::kInUse;
    title = texts::kInUseTitle;
  } else if (result.failure == FileResult::Unsynced) {
    prompt = texts::kHtmlUnsynced;
  } else if (result.damaged) {
    prompt = texts::kLogDamaged;
  }
  const QString path = QDir::toNativeSeparators(DecodeFileName(logFolder_) + DecodeFileName(name));
  window_.MsgBox(prompt + texts::kCrLf + path + texts::kCrLf + texts::kCauseLabel + result.cause,
                 vbOKOnly, title);
}

void LogOperations::LoadSequence() {
  window_.SetText2(window_.File1FileName());
  window_.SetText1(QByteArray());
  const NativeName name = window_.Text2();
  if (name.isEmpty()) {
    window_.MsgBox(texts::kNoFileSelected, vbOKOnly, texts::kNoFileSelectedTitle);
    window_.SetFocus(Control::File1);
    return;
  }

  module_.NullDelete = false;
  module_.LineDelete = false;
  if (window_.MsgBox(texts::kAskNullDelete, vbOKCancel, texts::kAskNullDeleteTitle) == vbOK)
    module_.NullDelete = true;
  if (window_.MsgBox(texts::kAskLineDelete, vbOKCancel, texts::kAskLineDeleteTitle) == vbOK)
    module_.LineDelete = true;

  window_.SetMousePointer(vbHourglass);
  const FileResult read = ShowWorkingText(name);
  if (!read.ok()) {
    // Label6 and the buttons keep their state, and the list gets the focus back so that
    // another log can be picked.
    ReportFailure(read, name, QString());
    window_.SetFocus(Control::File1);
    return;
  }
  window_.SetLabel6(texts::kBefore, kColourRed);
  window_.SetMousePointer(vbDefault);
  window_.SetEnabled(Control::Command1, true);
  window_.SetEnabled(Control::Command3, true);
  window_.SetFocus(Control::Command1);
}

void LogOperations::Command1_Click() {
  if (window_.MsgBox(texts::kConfirmChange, vbOKCancel, texts::kChangeTitle) != vbOK) {
    window_.Beep();
    window_.MsgBox(texts::kCancelled, vbOKOnly, texts::kChangeTitle);
    window_.SetFocus(Control::File1);
    return;
  }

  window_.SetMousePointer(vbHourglass);
  window_.SetText1(QByteArray());  // the loaded text goes before the converted one is made
  const NativeName name = window_.Text2();
  const FileResult written = GuardMemory([&] {
    std::optional<ReversedTextBuilder> builder;
    LogFormatReader reader(
        [&](const LogFormat& format, qint64 fileSize) {
          builder.emplace(module_, nullptr, fileSize, format.encoding);
        },
        [&](QByteArrayView block) { builder->Feed(block); });
    QByteArray converted;
    return files_.RewriteLog(
        logFolder_, name,
        [&](QByteArrayView block, qint64 fileSize) { reader.Add(block, fileSize); },
        [&] {
          // The byte order mark opens the file, as before; the lines come after it.
          const LogFormat format = reader.Finish();
          converted = builder->Finish();
          window_.SetText1(converted, format.encoding);
          QList<QByteArrayView> pieces;
          if (format.bomSize) pieces.append(ByteOrderMark(format.encoding));
          pieces << converted << LineEnd(format.encoding);
          return pieces;
        });
  });
  if (!written.ok()) {
    // The window shows the log as it is on disk, which the failure left as it was; a log left
    // half rewritten is shown once the next load has finished it.
    if (!written.damaged) ShowWorkingText(name);
    ReportFailure(written, name, texts::kLogWriteError);
    return;
  }
  window_.SetMousePointer(vbDefault);
  window_.SetLabel6(texts::kAfter, kColourBlue);
  window_.MsgBox(texts::kTextComplete, vbOKOnly, texts::kCompleteTitle);
  files_.Tidy();
}

void LogOperations::Command3_Click() {
  Emphasis emphasis;
  emphasis.on = window_.Check1Value() == 1;

  window_.MsgBox(texts::kHtmlOpening, vbOKOnly, texts::kHtmlTitle);
  window_.SetMousePointer(vbHourglass);
  window_.SetText1(QByteArray());

  const NativeName name = window_.Text2();
  const QString keyword = emphasis.on ? window_.Text3() : QString();
  const NativeName documentName = HtmlDocumentName(name);
  const FileResult written = GuardMemory([&] {
    std::optional<ReversedTextBuilder> builder;
    LogFormatReader reader(
        [&](const LogFormat& format, qint64 fileSize) {
          // The keyword is compared as bytes in the log's encoding. One that cannot be encoded
          // can begin no line of the log.
          if (emphasis.on)
            emphasis.keyword = EncodeForLog(keyword, format.encoding, &emphasis.keywordEncodable);
          builder.emplace(module_, &emphasis, fileSize, format.encoding);
        },
        [&](QByteArrayView block) { builder->Feed(block); });
    FileResult result = files_.ReadBlocks(
        logFolder_, name, [&](QByteArrayView block, qint64 size) { reader.Add(block, size); });
    if (!result.ok()) return result;
    const LogFormat format = reader.Finish();
    const QByteArray body = builder->Finish();
    window_.SetText1(body, format.encoding);
    const HtmlDocumentParts parts =
        MakeHtmlDocumentParts(DecodeFileName(documentName), format.encoding);
    return files_.ReplaceDocument(logFolder_, documentName, {parts.head, body, parts.tail});
  });
  if (written.failure == FileResult::Unsynced) {
    // The document is written; only its lasting through a power cut is in doubt.
    window_.SetLabel6(texts::kAfter, kColourBlue);
    ReportFailure(written, documentName, QString());
    return;
  }
  if (!written.ok()) {
    ShowWorkingText(name);
    ReportFailure(written, written.failure == FileResult::Read ? name : documentName,
                  texts::kHtmlWriteError);
    return;
  }
  window_.SetMousePointer(vbDefault);
  window_.SetLabel6(texts::kAfter, kColourBlue);
  window_.MsgBox(texts::kHtmlComplete, vbOKOnly, texts::kCompleteTitle);
  files_.Tidy();
}

}  // namespace parlotrim
