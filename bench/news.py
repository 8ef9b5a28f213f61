#!/usr/bin/env python3
"""Writes news as a publisher does: lines of Japanese text in code page 932
with CRLF, notices of maintenance and updates one after another, as many
whole lines as fit in KIB KiB.

    news.py KIB FILE
"""
import sys

NOTICE = [
    "【お知らせ】{year}年{month}月{day}日 定期メンテナンスのお知らせ",
    "いつも本ゲームをお楽しみいただき、誠にありがとうございます。",
    "下記の日程で定期メンテナンスを実施いたします。",
    "日時：{month}月{day}日（水）10:00～15:00（予定）",
    "内容：新ステージ「第{number}章 星降る森の遺跡」の追加、不具合の修正",
    "メンテナンス中はゲームを起動できません。ご迷惑をおかけしますが、ご理解とご協力をお願いいたします。",
    "",
    "■ 修正された不具合",
    "・一部のキャラクターのスキル説明が正しく表示されない不具合を修正しました。",
    "・ウィンドウモードで起動した際、画面の一部が欠けて表示される場合がある問題を修正しました。",
    "・セーブデータはそのままお使いいただけます。",
    "",
    "バージョン 1.{number:02d} を公開しました。「更新」ボタンを押すと最新版をダウンロードします。",
    "",
]


def news(limit):
    out = bytearray()
    number = 0
    while True:
        number += 1
        values = {"year": 2026 - number // 365, "month": number % 12 + 1, "day": number % 28 + 1,
                  "number": number % 100}
        for line in NOTICE:
            encoded = line.format(**values).encode("cp932") + b"\r\n"
            if len(out) + len(encoded) > limit:
                return bytes(out)
            out += encoded


def main():
    if len(sys.argv) != 3 or not sys.argv[1].isdigit() or not 1 <= int(sys.argv[1]) <= 1024:
        sys.exit("usage: news.py KIB FILE (KIB from 1 to 1024)")
    with open(sys.argv[2], "wb") as file:
        file.write(news(int(sys.argv[1]) * 1024))


if __name__ == "__main__":
    main()
