#!/usr/bin/env python3
"""Writes the sample chat logs: Shift JIS (cp932), CR LF line ends, with blank lines, "----"
separator lines, lines that begin with a keyword and HTML markup characters. Run it from any
folder; the logs are written beside it."""

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
    "OLD_LOG.TXT": [
        "[10:00] admin: 拡張子が大文字のログ",
        "----",
        "[10:01] admin: 連絡: これも一覧に出ます",
    ],
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, lines in LOGS.items():
        data = "\r\n".join(lines).encode("cp932") + b"\r\n"
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
