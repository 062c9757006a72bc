#!/usr/bin/env python3
"""Writes the sample chat logs: Shift JIS (cp932), and two from today's clients in UTF-8 and in
UTF-16 LE with a byte order mark; CR LF line ends, with blank lines, "----" separator lines,
lines that begin with a keyword and HTML markup characters. Run it from any folder; the logs
are written beside it."""

import os

LOGS = {
    "2024-04-01_chat.txt": [
        "----",
        "[21:00] みお: こんばんは！",
        "[21:01] たくみ: こんばんは〜。今日は早いね",
        "",
        "[21:02] みお: 仕事が早く終わったので <3",
        "[21:03] たくみ: いいなあ。こっちはまだ資料作り & 会議の準備",
        "----",
        "",
        "[21:10] 連絡: 明日の集合は10時です",
        "[21:11] みお: 了解です",
        "-",
        "[21:12] たくみ: 「----」は区切り線だけど、これは区切りじゃない ----",
        "",
        "",
        "[21:15] 連絡: 持ち物は \"お弁当\" と 'おやつ'",
        "----",
    ],
    "2024-04-02_chat.txt": [
        "[08:00] さくら: おはようございます",
        "",
        "[08:01] 連絡: 雨なので中止します",
        "[08:02] けんた: 残念… 次は <b>晴れ</b> の日に",
        "    ",
        "--------------------",
        "[08:05] さくら: ＝＝＝ ここは全角の記号 ＝＝＝",
        "[08:06] けんた: ーーーー（長音記号なので区切り線ではない）",
        "",
    ],
    "meeting notes.txt": [
        "議事メモ",
        "----",
        "連絡: 次回は金曜日",
        "ＡＢＣ ｱｲｳ（半角カナ）",
        "連絡事項はありません",
        "",
        "以上",
    ],
    "雑談ログ.txt": [
        "[23:00] ゆい: まだ起きてる？",
        "",
        "----",
        "[23:01] そら: 起きてるよ。a < b && b > c の証明をしてた",
        "[23:02] ゆい: おやすみ〜",
    ],
    "2025-01-10_utf8.txt": [
        "[19:00] ハル: UTF-8 のログです ♪",
        "",
        "----",
        "[19:01] 連絡: ①や髙のような文字もそのまま残ります",
        "[19:02] ナツ: café と ｶﾀｶﾅ も",
    ],
    "2025-01-11_unicode.txt": [
        "[07:30] メモ帳: 「Unicode」で保存したログ (UTF-16 LE)",
        "----",
        "",
        "[07:31] 連絡: 先頭のバイト順マークは書き換え後も先頭に",
    ],
    "OLD_LOG.TXT": [
        "[10:00] admin: 拡張子が大文字のログ",
        "----",
        "[10:01] admin: 連絡: これも一覧に出ます",
    ],
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    encodings = {"2025-01-10_utf8.txt": "utf-8", "2025-01-11_unicode.txt": "utf-16"}
    for name, lines in LOGS.items():
        encoding = encodings.get(name, "cp932")
        text = "\r\n".join(lines) + "\r\n"
        data = b"\xff\xfe" + text.encode("utf-16-le") if encoding == "utf-16" else text.encode(encoding)
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
