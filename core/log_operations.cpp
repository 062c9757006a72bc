#include "core/log_operations.h"

#include <QDir>
#include <optional>
#include <utility>

#include "core/html_document.h"
#include "core/line_cleaning.h"
#include "core/texts.h"
#include "platform/code_page.h"

namespace parlotrim {

LogOperations::LogOperations(LogWindow& window, FileStore& files, QString logFolder,
                             Module1& module)
    : window_(window), files_(files), logFolder_(std::move(logFolder)), module_(module) {}

void LogOperations::ReportReadFailure(const QString& path, const QString& cause) {
  // The pointer goes back before the message, so the user never sees the hourglass over it.
  window_.SetMousePointer(vbDefault);
  window_.MsgBox(texts::kReadError + texts::kCrLf + QDir::toNativeSeparators(path) + texts::kCrLf +
                     texts::kCauseLabel + cause,
                 vbOKOnly, texts::kReadErrorTitle);
}

bool LogOperations::ReadReversed(const QString& path, const Emphasis* emphasis, QByteArray* text) {
  std::optional<ReversedTextBuilder> builder;
  const ReadResult read = files_.ReadBlocks(path, [&](QByteArrayView bytes, qint64 fileSize) {
    if (!builder) builder.emplace(module_, emphasis, fileSize);
    builder->Feed(bytes);
  });
  if (!read.ok) {
    ReportReadFailure(path, read.error);
    return false;
  }
  *text = builder ? builder->Finish() : QByteArray();
  return true;
}

void LogOperations::WriteAndFinish(const QString& path, const QList<QByteArrayView>& pieces,
                                   const QString& failure, const QString& completion) {
  const WriteResult written = files_.Replace(path, pieces);
  window_.SetMousePointer(vbDefault);
  if (!written.ok) {
    // The old file is untouched: the status stays as it was and no completion is claimed.
    window_.MsgBox(failure + texts::kCrLf + QDir::toNativeSeparators(path) + texts::kCrLf +
                       texts::kCauseLabel + written.error,
                   vbOKOnly, texts::kWriteErrorTitle);
    return;
  }
  window_.SetLabel6(texts::kAfter, kColourBlue);
  window_.MsgBox(completion, vbOKOnly, texts::kCompleteTitle);
}

void LogOperations::LoadSequence() {
  window_.SetText2(window_.File1FileName());
  window_.SetText1(QByteArray());
  const QString name = window_.Text2();
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
  ReadResult read = files_.ReadAll(logFolder_ + name);
  if (!read.ok) {
    ReportReadFailure(logFolder_ + name, read.error);
    // Nothing was read: Text1 stays empty, Label6 and the buttons keep their state, and the
    // list gets the focus back so that another log can be picked.
    window_.SetFocus(Control::File1);
    return;
  }
  window_.SetText1(TakeWorkingText(std::move(read.data), module_));
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
  window_.SetText1(QByteArray());
  QByteArray converted;
  if (!ReadReversed(logFolder_ + window_.Text2(), nullptr, &converted)) return;
  window_.SetText1(converted);

  const QString path = logFolder_ + window_.Text2();
  WriteAndFinish(path, {converted, "\r\n"}, texts::kLogWriteError, texts::kTextComplete);
}

void LogOperations::Command3_Click() {
  Emphasis emphasis;
  emphasis.on = window_.Check1Value() == 1;

  window_.MsgBox(texts::kHtmlOpening, vbOKOnly, texts::kHtmlTitle);
  window_.SetMousePointer(vbHourglass);
  window_.SetText1(QByteArray());

  const QString name = window_.Text2();
  if (emphasis.on) {
    // The keyword is compared as bytes in the log's code page. One that cannot be encoded can
    // begin no line of the log.
    emphasis.keyword = EncodeCodePage(window_.Text3(), &emphasis.keywordEncodable);
  }
  QByteArray body;
  if (!ReadReversed(logFolder_ + name, &emphasis, &body)) return;
  window_.SetText1(body);

  const QString documentName = HtmlDocumentName(name);
  const QString path = logFolder_ + documentName;
  const HtmlDocumentParts parts = MakeHtmlDocumentParts(documentName);
  WriteAndFinish(path, {parts.head, body, parts.tail}, texts::kHtmlWriteError,
                 texts::kHtmlComplete);
}

}  // namespace parlotrim
