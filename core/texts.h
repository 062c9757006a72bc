// The program's own texts: prompts, titles and captions shown to the user.
#pragma once

#include <QString>

namespace parlotrim::texts {

inline const QString kCrLf = QStringLiteral("\r\n");

// Loading.
inline const QString kNoFileSelected = QStringLiteral("ファイルが選択されていません！");
inline const QString kNoFileSelectedTitle = QStringLiteral("Err:File select");
inline const QString kAskNullDelete = QStringLiteral("空白行を除去しますか？");
inline const QString kAskNullDeleteTitle = QStringLiteral("Ask:Null Delete");
inline const QString kAskLineDelete = QStringLiteral("区切り線「----」行を除去しますか？");
inline const QString kAskLineDeleteTitle = QStringLiteral("Ask:Line Delete");
inline const QString kBefore = QStringLiteral("Before");
inline const QString kAfter = QStringLiteral("After");

// Change and Save.
inline const QString kConfirmChange = QStringLiteral(
    "変換すると、元のテキストファイルは失われ、変換後のファイルに置き換えられます。"
    "\r\nよろしいですか？");
inline const QString kChangeTitle = QStringLiteral("Message:Log Change & Save");
inline const QString kCancelled = QStringLiteral("処理は中断されました。");
inline const QString kTextComplete = QStringLiteral("Text change complete!");
inline const QString kCompleteTitle = QStringLiteral("Complete Massage");

// HTML Save.
inline const QString kHtmlOpening =
    QStringLiteral("中間ファイル作成のため、テキストウィンドウに\r\nＨＴＭＬタグが表示されます。");
inline const QString kHtmlTitle = QStringLiteral("Message:HTML Change & Save");
inline const QString kHtmlComplete = QStringLiteral("HTML change complete!");
inline const QString kProgramName = QStringLiteral("プログラム名　パーロトリム Parlotrim");

// Failures of the file system.
inline const QString kReadErrorTitle = QStringLiteral("Err:File read");
inline const QString kReadError = QStringLiteral("ログファイルを読み込めませんでした。");
inline const QString kWriteErrorTitle = QStringLiteral("Err:File write");
inline const QString kLogWriteError =
    QStringLiteral("ログファイルを書き換えられませんでした。元のファイルはそのまま残っています。");
inline const QString kHtmlWriteError = QStringLiteral(
    "HTMLファイルを書き込めませんでした。同じ名前の既存のファイルはそのまま残っています。");
inline const QString kLogDamaged = QStringLiteral(
    "ログファイルの書き換えが途中で止まりました。変換後の内容は同じフォルダーの控えに残っていて、"
    "次にこのログファイルを読み込むときに書き換えを完了します。");
inline const QString kHtmlUnsynced = QStringLiteral(
    "HTMLファイルは書き込みましたが、フォルダーを同期できませんでした。"
    "停電などがあると、書き込みが失われるおそれがあります。");
inline const QString kInUseTitle = QStringLiteral("Err:File in use");
inline const QString kInUse = QStringLiteral(
    "ほかのプログラムがログファイルを使っているため、書き換えませんでした。"
    "ログファイルはそのままです。そのプログラムを閉じてから、もう一度実行してください。");
inline const QString kNoMemory = QStringLiteral("メモリが足りません");
inline const QString kCauseLabel = QStringLiteral("原因: ");

}  // namespace parlotrim::texts
