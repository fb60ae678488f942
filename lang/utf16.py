#!/usr/bin/env python3
"""Converts a language file between UTF-8 (for editing) and UTF-16LE with a
byte-order mark and CRLF line ends (as shipped: the profile functions read
such a file in any Windows code page).

    python3 utf16.py to-utf16 Chinese.utf8.txt Chinese.ini
    python3 utf16.py to-utf8  Chinese.ini Chinese.utf8.txt
"""
import sys


def main(argv):
    if len(argv) != 4 or argv[1] not in ("to-utf16", "to-utf8"):
        sys.stderr.write(__doc__)
        return 2
    direction, source, target = argv[1:]
    if direction == "to-utf16":
        with open(source, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
        data = "\ufeff" + "\r\n".join(lines) + "\r\n"
        with open(target, "wb") as f:
            f.write(data.encode("utf-16-le"))
    else:
        with open(source, "rb") as f:
            raw = f.read()
        if not raw.startswith(b"\xff\xfe"):
            sys.stderr.write("%s: not UTF-16LE with a byte-order mark\n" % source)
            return 1
        text = raw[2:].decode("utf-16-le")
        with open(target, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(text.splitlines()) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
