"""Writes the default configuration as the program reads it: GBK text with CRLF line ends."""
import sys

source, target = sys.argv[1], sys.argv[2]
with open(source, encoding="utf-8") as f:
    text = f.read()
with open(target, "wb") as f:
    f.write(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk"))
