#!/usr/bin/env python3
"""Writes IO/charset_tables.inc: the eight 256-byte translation tables.

The Mac Roman <-> Windows-1252 pair starts from the engine's historical tables
below; every entry whose character exists in the target code page is set to
that character, and a character without a form becomes '_' (never 0, which
would end the name). ':' still becomes '_' towards Mac Roman (the HFS path
separator). The DOS tables follow code page 850, EBCDIC follows code page 037.

Run from the repository root: python3 scripts/gen_charset_tables.py
"""
import codecs

OUT = "IO/charset_tables.inc"

MAC_TO_ANSI_BASE = """
00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F
20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F
40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F
60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 20
C4 C5 C7 C9 D1 D6 DC E1 E0 E2 E4 E3 E5 E7 E9 E8 EA EB ED EC EE EF F1 F3 F2 F4 F6 F5 FA F9 FB FC
5F B0 A2 A3 A7 B7 B6 DF AE A9 99 B4 A8 5F C6 D8 5F B1 5F 5F A5 B5 5F 5F 5F 5F 5F AA BA 5F E6 F8
BF A1 AC 5F 83 5F 5F AB BB 5F 5F C0 C3 D5 5F 5F 2D 2D 5F 5F 91 92 F7 5F FF 59 A6 80 5F 5F 5F 5F
5F 5F 5F 5F 5F C2 CA C1 CB C8 CD CE CF CC D3 D4 5F D2 DA DB D9 69 5E 22 AF 5F 5F B0 B8 22 5F 5F
"""

ANSI_TO_MAC_BASE = """
00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F
20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 37 38 39 5F 3B 3C 3D 3E 3F
40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F
60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F
DB 00 00 00 00 C9 00 00 00 00 00 00 CE 00 00 00 00 D4 D5 99 00 95 00 00 00 AA 00 00 CF 00 00 00
20 C1 A2 A3 DB B4 DA A4 AC A9 BB C7 C2 D0 A8 F8 A1 B1 32 33 D5 B5 A6 A5 FC 00 BC C8 00 00 00 C0
CB E7 E5 CC 80 81 AE 82 E9 83 E6 E8 ED EA EB EC 00 84 F1 EE EF CD 85 78 AF F4 F2 F3 86 D9 00 A7
88 87 89 8B 8A 8C BE 8D 8F 8E 90 91 93 92 94 95 00 96 98 97 99 9B 9A D6 BF 9D 9C 9E 9F D8 A5 D8
"""


def parse(text):
    v = [int(x, 16) for x in text.split()]
    assert len(v) == 256
    return v


def char_of(b, enc):
    try:
        return codecs.decode(bytes([b]), enc)
    except UnicodeDecodeError:
        return None


def byte_in(ch, enc):
    try:
        return codecs.encode(ch, enc)[0]
    except UnicodeEncodeError:
        return None


def mended(base, src, dst, colon):
    out = []
    for b in range(256):
        ch = char_of(b, src)
        t = byte_in(ch, dst) if ch is not None else None
        if b == 0:
            v = 0
        elif colon and ch == ":":
            v = 0x5F
        elif t is not None:
            v = t
        elif base[b] == 0:
            v = 0x5F
        else:
            v = base[b]
        out.append(v)
    return out


def is_control(b):
    return b < 0x20 or b == 0x7F


def dos_to_ansi():
    out = []
    for b in range(256):
        if is_control(b):
            out.append(0x5F if b in (9, 10, 13) else 0)
            continue
        t = byte_in(char_of(b, "cp850"), "cp1252")
        out.append(t if t is not None else 0x5F)
    return out


def ansi_to_dos():
    out = []
    for b in range(256):
        if is_control(b):
            out.append(b if b in (9, 10, 13) else 0)
            continue
        ch = char_of(b, "cp1252")
        t = byte_in(ch, "cp850") if ch else None
        out.append(t if t is not None else 0x5F)
    return out


def ansi_filter():
    out = []
    for b in range(256):
        if is_control(b) or b == ord(":") or (0x81 <= b <= 0x9F and b not in (0x85, 0x8C, 0x9C)):
            out.append(0)
        else:
            out.append(b)
    return out


def dos_to_mac():
    out = []
    for b in range(256):
        if (is_control(b) and b not in (9, 10, 13)) or b == ord(":") or 0xB0 <= b <= 0xDF:
            out.append(0)
            continue
        if b in (9, 10, 13):
            out.append(b)
            continue
        t = byte_in(char_of(b, "cp850"), "mac_roman")
        out.append(t if t is not None else 0x5F)
    return out


def dos_to_ansi_filtered():
    out = []
    for b in range(256):
        if b in (9, 10, 13):
            out.append(0x5F)
        elif is_control(b) or b == ord(":") or 0xB0 <= b <= 0xDF:
            out.append(0)
        else:
            t = byte_in(char_of(b, "cp850"), "cp1252")
            out.append(t if t is not None else 0x5F)
    return out


def ebcdic_to_ansi():
    out = []
    for b in range(256):
        ch = char_of(b, "cp037")
        t = byte_in(ch, "cp1252") if ch else None
        out.append(t if t is not None and not is_control(t) else 0x2E)
    return out


def main():
    tables = [
        ("macroman_to_ansi_table", "Mac Roman -> Windows-1252",
         mended(parse(MAC_TO_ANSI_BASE), "mac_roman", "cp1252", False)),
        ("ansi_to_macroman_table", "Windows-1252 -> Mac Roman (':' -> '_')",
         mended(parse(ANSI_TO_MAC_BASE), "cp1252", "mac_roman", True)),
        ("dos_to_ansi_table", "DOS -> Windows-1252 (controls 0, tab/LF/CR '_')", dos_to_ansi()),
        ("ebcdic_to_ansi_table", "EBCDIC -> Windows-1252 (unmapped '.')", ebcdic_to_ansi()),
        ("ansi_to_dos_table", "Windows-1252 -> DOS", ansi_to_dos()),
        ("ansi_filter_table", "Windows-1252 filter for names shown on the PC", ansi_filter()),
        ("dos_to_macroman_table", "DOS -> Mac Roman", dos_to_mac()),
        ("dos_to_ansi_filtered_table", "DOS -> Windows-1252, graphics dropped", dos_to_ansi_filtered()),
    ]
    lines = ["// Generated by scripts/gen_charset_tables.py. Do not edit."]
    for name, what, t in tables:
        lines.append("// %s" % what)
        lines.append("const uint8_t %s[256] = {" % name)
        for i in range(0, 256, 16):
            lines.append("  " + ", ".join("0x%02X" % x for x in t[i:i + 16]) + ",")
        lines.append("};")
    with open(OUT, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
