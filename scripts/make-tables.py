#!/usr/bin/env python3
"""Writes the default conversion tables data/dic.csv and data/Rome.csv.

Both files are UTF-8 without a byte-order mark, CR LF after every record,
every field quoted. Rows apply in file order, each row replacing every
occurrence before the next row is looked at, so longer search texts come
before the shorter ones they start with.

The rules every row of these two tables keeps (check_rows asserts them; a
user's own tables are free to do otherwise):

- A replacement never holds a character a CD-R cannot hold: none of
  \\ / : , ; * ? " < > | and no control character. The invalid-character
  repair would blank it with a notice; a space is better than that.
- A replacement adds no full stop. In a file name a full stop before the
  extension is blanked with a notice, and Rome.csv runs after the extension
  has been checked, so a full stop there would stand as a second dot.
- A replacement takes one byte a character in code page 932: ASCII or
  half-width katakana in dic.csv, ASCII alone in Rome.csv.
- dic.csv runs before the reading, so it never rewrites kana (hiragana,
  katakana, the iteration marks and the small ヶ ヵ): the reading needs them
  (三ヶ月 reads サンカゲツ only while ヶ is there). The kana step gives the
  kana that have no half-width form their nearest one after the reading.
- A symbol maps to what a Japanese reader would recognise in ASCII (★ is +,
  ♪ is ~, … is ･･･, → is -); where nothing fits, a space.

Usage: scripts/make-tables.py [DATA_DIR]   (default: data/ beside scripts/)
"""
import os
import sys


def to_half(s):
    """Full-width katakana (as written below) to the half-width form."""
    table = {}
    full = ("アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨ"
            "ラリルレロワヲンァィゥェォャュョッー")
    half = ("ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖ"
            "ﾗﾘﾙﾚﾛﾜｦﾝｧｨｩｪｫｬｭｮｯｰ")
    for f, h in zip(full, half):
        table[f] = h
    voiced = "ガギグゲゴザジズゼゾダヂヅデドバビブベボヴ"
    voiced_base = "カキクケコサシスセソタチツテトハヒフヘホウ"
    for v, b in zip(voiced, voiced_base):
        table[v] = table[b] + "ﾞ"
    for p, b in zip("パピプペポ", "ハヒフヘホ"):
        table[p] = table[b] + "ﾟ"
    return "".join(table.get(c, c) for c in s)


# ---------------------------------------------------------------- Rome.csv
# Syllables: (katakana, romaji). Modified Hepburn, lower case.
SYLLABLES = """
ア a イ i ウ u エ e オ o
カ ka キ ki ク ku ケ ke コ ko
サ sa シ shi ス su セ se ソ so
タ ta チ chi ツ tsu テ te ト to
ナ na ニ ni ヌ nu ネ ne ノ no
ハ ha ヒ hi フ fu ヘ he ホ ho
マ ma ミ mi ム mu メ me モ mo
ヤ ya ユ yu ヨ yo
ラ ra リ ri ル ru レ re ロ ro
ワ wa ヲ wo
ガ ga ギ gi グ gu ゲ ge ゴ go
ザ za ジ ji ズ zu ゼ ze ゾ zo
ダ da ヂ ji ヅ zu デ de ド do
バ ba ビ bi ブ bu ベ be ボ bo
パ pa ピ pi プ pu ペ pe ポ po
ヴ vu
キャ kya キュ kyu キョ kyo キェ kye
シャ sha シュ shu ショ sho シェ she
チャ cha チュ chu チョ cho チェ che
ニャ nya ニュ nyu ニョ nyo ニェ nye
ヒャ hya ヒュ hyu ヒョ hyo ヒェ hye
ミャ mya ミュ myu ミョ myo ミェ mye
リャ rya リュ ryu リョ ryo リェ rye
ギャ gya ギュ gyu ギョ gyo ギェ gye
ジャ ja ジュ ju ジョ jo ジェ je
ヂャ ja ヂュ ju ヂョ jo ヂェ je
ビャ bya ビュ byu ビョ byo ビェ bye
ピャ pya ピュ pyu ピョ pyo ピェ pye
イェ ye
ウァ wa ウィ wi ウェ we ウォ wo
ヴァ va ヴィ vi ヴェ ve ヴォ vo ヴャ vya ヴュ vyu ヴョ vyo
クァ kwa クィ kwi クェ kwe クォ kwo
グァ gwa グィ gwi グェ gwe グォ gwo
スィ si ズィ zi
ツァ tsa ツィ tsi ツェ tse ツォ tso
ティ ti トゥ tu テュ tyu
ディ di ドゥ du デュ dyu
ファ fa フィ fi フェ fe フォ fo フャ fya フュ fyu フョ fyo
ホゥ hu
"""

# Half-width only: ヷ and ヺ come out of the width conversion as ﾜﾞ and ｦﾞ.
EXTRA_SYLLABLES = [("ﾜﾞ", "va"), ("ｦﾞ", "vo")]

# Characters that are not syllables of their own.
SINGLES = [
    ("ﾝ", "n"),
    ("ｰ", "-"),
    ("ｧ", "a"), ("ｨ", "i"), ("ｩ", "u"), ("ｪ", "e"), ("ｫ", "o"),
    ("ｬ", "ya"), ("ｭ", "yu"), ("ｮ", "yo"),
    # A small tsu that no consonant follows (end of a word, before a vowel).
    ("ｯ", "tsu"),
    # Sound marks on a kana that cannot take them carry nothing in Latin.
    ("ﾞ", ""), ("ﾟ", ""),
    # Japanese punctuation. A full stop mostly ends a title (モーニング娘。),
    # where a space would trail the name, so it goes; a comma or middle dot
    # parts words as a space does, and a run of middle dots is an ellipsis.
    ("･･･", "~"), ("･･", "~"),
    ("｡", ""), ("｢", "["), ("｣", "]"), ("､", " "), ("･", " "),
]


def sokuon(romaji):
    """The romaji of small tsu + syllable: the first consonant doubled."""
    if romaji.startswith("ch"):
        return "t" + romaji
    return romaji[0] + romaji


def rome_rows():
    syllables = []
    words = SYLLABLES.split()
    for kana, romaji in zip(words[0::2], words[1::2]):
        syllables.append((to_half(kana), romaji))
    syllables += EXTRA_SYLLABLES
    rows = list(syllables)
    for kana, romaji in syllables:
        if romaji[0] not in "aiueo":
            rows.append(("ｯ" + kana, sokuon(romaji)))
    # Longest search texts first: a small kana or sound mark belongs to the
    # kana before it and a small tsu to the one after it, so the longest
    # match is always the right reading. Within one length, keep the order
    # above (stable sort).
    rows.sort(key=lambda r: -len(r[0]))
    rows += SINGLES
    keys = [k for k, _ in rows]
    assert len(keys) == len(set(keys)), "duplicate search text"
    return rows


# ----------------------------------------------------------------- dic.csv
def dic_rows():
    rows = []
    add = lambda s, r: rows.append((s, r))
    # Sound marks written on their own or left over after composition; the
    # reading does not need them.
    for s, r in [("゛", "ﾞ"), ("゜", "ﾟ"), ("\u3099", "ﾞ"), ("\u309a", "ﾟ")]:
        add(s, r)
    # Brackets the width conversion leaves wide.
    for s, r in [("『", "｢"), ("』", "｣"), ("【", "["), ("】", "]"), ("〖", "["), ("〗", "]"),
                 ("〔", "("), ("〕", ")"), ("〘", "("), ("〙", ")"), ("〈", "("), ("〉", ")"),
                 ("《", "["), ("》", "]"), ("≪", "["), ("≫", "]")]:
        add(s, r)
    # Music, stars and shapes.
    for chars, r in [("★☆✩✪✫✬✭✮✯✰", "+"), ("♪♫♬♩", "~"), ("♯", "#"), ("♭", "b"),
                     ("♮", "n"), ("◆◇◈", "+"), ("●○◎◯⚫⚪", "o"), ("■□▪▫", "+"),
                     ("▲△", "^"), ("▼▽", "v"), ("▶▷►", "-"), ("◀◁◄", "-"),
                     ("♥♡❤", "+"), ("♠♤♣♧♦♢", "+"), ("※", "+"), ("†‡", "+")]:
        for c in chars:
            add(c, r)
    # Dashes, tildes, dots and quotes.
    for chars, r in [("〜～〰", "~"), ("—―‐–−‑‒─━", "-"), ("│┃", "-"),
                     ("“”〝〟″", "'"), ("‘’′", "'")]:
        for c in chars:
            add(c, r)
    # The full-width forms of marks a CD-R refuses: the width conversion
    # would make them the ASCII mark, which the repair blanks, leaving a
    # stray space ("Question .mp3"). A question mark adds nothing a reader
    # needs on a display, so it goes; the others become their nearest
    # allowed mark.
    for s, r in [("？", ""), ("：", "-"), ("＊", "+"), ("＂", "'"), ("＜", "("), ("＞", ")"),
                 ("｜", "-"), ("／", "-"), ("＼", "-")]:
        add(s, r)
    add("…", "･･･")
    add("⋯", "･･･")
    add("‥", "･･")
    # Numbers in circles and parentheses, Roman numerals.
    for n in range(1, 21):
        add(chr(0x2460 + n - 1), "(%d)" % n)
        add(chr(0x2474 + n - 1), "(%d)" % n)
    roman = ["I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII"]
    for i, r in enumerate(roman):
        add(chr(0x2160 + i), r)
        add(chr(0x2170 + i), r.lower())
    # Signs and units.
    for s, r in [("×", "x"), ("÷", "-"), ("±", "+-"), ("≒", "="), ("≠", "!="), ("≦", "="),
                 ("≧", "="), ("∞", "oo"), ("←", "-"), ("→", "-"), ("↑", "^"), ("↓", "v"),
                 ("⇒", "="), ("⇔", "="), ("〒", "T"), ("°", "deg"), ("℃", "C"),
                 ("￥", "Yen"), ("¥", "Yen"), ("￡", "L"), ("£", "L"), ("￠", "c"), ("¢", "c"),
                 ("￢", "!"), ("¬", "!"), ("§", "S"), ("¶", "P"), ("№", "No"), ("℡", "TEL"),
                 ("™", "TM"), ("©", "(c)"), ("®", "(R)"), ("㈱", "(ｶﾌﾞ)"), ("㈲", "(ﾕｳ)"),
                 ("㈹", "(ﾀﾞｲ)"), ("㍉", "ﾐﾘ"), ("㌔", "ｷﾛ"), ("㌢", "ｾﾝﾁ"), ("㍍", "ﾒｰﾄﾙ"),
                 ("㌘", "ｸﾞﾗﾑ"), ("㌧", "ﾄﾝ"), ("㌃", "ｱｰﾙ"), ("㌶", "ﾍｸﾀｰﾙ"), ("㍑", "ﾘｯﾄﾙ"),
                 ("㍗", "ﾜｯﾄ"), ("㌍", "ｶﾛﾘｰ"), ("㌦", "ﾄﾞﾙ"), ("㌣", "ｾﾝﾄ"), ("㌫", "ﾊﾟｰｾﾝﾄ"),
                 ("㍊", "ﾐﾘﾊﾞｰﾙ"), ("㌻", "ﾍﾟｰｼﾞ"), ("㎜", "mm"), ("㎝", "cm"), ("㎞", "km"),
                 ("㎎", "mg"), ("㎏", "kg"), ("㏄", "cc"), ("㎡", "m2"), ("㍻", "ﾍｲｾｲ"),
                 ("㍼", "ｼｮｳﾜ"), ("㍽", "ﾀｲｼｮｳ"), ("㍾", "ﾒｲｼﾞ"), ("㋿", "ﾚｲﾜ")]:
        add(s, r)
    # Greek letters, as they are usually spelt in Latin.
    greek = ["a", "b", "g", "d", "e", "z", "e", "th", "i", "k", "l", "m", "n", "x", "o", "p",
             "r", "", "s", "t", "y", "ph", "ch", "ps", "o"]
    for i, r in enumerate(greek):
        if not r:
            continue  # U+03A2 is unassigned
        add(chr(0x0391 + i), r.capitalize() if len(r) == 1 else r[0].upper() + r[1:])
        add(chr(0x03B1 + i), r)
    add("ς", "s")
    # Accented Latin letters, which code page 932 cannot hold.
    for chars, r in [("ÀÁÂÃÄÅ", "A"), ("Æ", "AE"), ("Ç", "C"), ("ÈÉÊË", "E"), ("ÌÍÎÏ", "I"),
                     ("Ð", "D"), ("Ñ", "N"), ("ÒÓÔÕÖØ", "O"), ("ÙÚÛÜ", "U"), ("Ý", "Y"),
                     ("Þ", "TH"), ("ß", "ss"), ("àáâãäå", "a"), ("æ", "ae"), ("ç", "c"),
                     ("èéêë", "e"), ("ìíîï", "i"), ("ð", "d"), ("ñ", "n"), ("òóôõöø", "o"),
                     ("ùúûü", "u"), ("ýÿ", "y"), ("þ", "th"), ("Œ", "OE"), ("œ", "oe")]:
        for c in chars:
            add(c, r)
    return rows


INVALID = set('\\/:,;*?"<>|') | {chr(c) for c in range(0x20)} | {"\x7f"}
# The sound marks may go: the reading never needs them.
SOUND_MARKS = set("\u3099\u309a\u309b\u309c")


def one_byte(c):
    return c < "\x80" or "\uff61" <= c <= "\uff9f"


def check_rows(name, rows, ascii_only):
    """Asserts the rules stated at the top of this file."""
    keys = [k for k, _ in rows]
    dupes = {k for k in keys if keys.count(k) > 1}
    assert not dupes, "%s: duplicate search text: %r" % (name, dupes)
    for s, r in rows:
        where = "%s row %r -> %r" % (name, s, r)
        assert s and s not in r, "looping " + where
        assert not INVALID & set(r), "a character a CD-R cannot hold: " + where
        assert r.count(".") <= s.count("."), "a full stop added: " + where
        assert all(c < "\x80" if ascii_only else one_byte(c) for c in r), "wide: " + where
        if name == "dic.csv":
            assert all(not "\u3041" <= c <= "\u30ff" or c in SOUND_MARKS for c in s), \
                "kana the reading needs: " + where


def write(path, rows):
    def quote(t):
        return '"' + t.replace('"', '""') + '"'
    text = "".join(quote(s) + "," + quote(r) + "\r\n" for s, r in rows)
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))


def main():
    data = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "data")
    dic, rome = dic_rows(), rome_rows()
    check_rows("dic.csv", dic, ascii_only=False)
    check_rows("Rome.csv", rome, ascii_only=True)
    write(os.path.join(data, "dic.csv"), dic)
    write(os.path.join(data, "Rome.csv"), rome)


if __name__ == "__main__":
    main()
