#!/usr/bin/env python3
"""Writes the demo's one-page summary: each step with its result, evidence and screenshot.

  summary.py STEPS_TSV OUT_HTML
The steps file has one line per step: title, result, evidence (line breaks as CR), screenshot.
"""
import html
import sys
import time

STYLE = """body{font-family:sans-serif;max-width:60em;margin:2em auto;color:#222}
.step{border-top:1px solid #ccc;padding:.6em 0}.ok{color:#1a7f37}.missing{color:#c62828}
.skipped{color:#9a6700}pre{background:#f6f8fa;padding:.5em;white-space:pre-wrap;font-size:90%}
img{border:1px solid #999;max-width:100%}"""


def main(steps_file, out_file):
    rows = []
    with open(steps_file, encoding="utf-8", errors="replace", newline="\n") as steps:
        for line in steps:
            fields = line.rstrip("\n").split("\t") + ["", "", "", ""]
            rows.append(fields[:4])
    done = sum(1 for row in rows if row[1] == "ok")
    parts = ["<!doctype html><meta charset=utf-8><title>Tavrick demo</title><style>%s</style>" % STYLE,
             "<h1>Tavrick demo</h1><p>%s: %d of %d steps showed their evidence.</p>"
             % (html.escape(time.strftime("%Y-%m-%d %H:%M")), done, len(rows))]
    for title, result, evidence, shot in rows:
        parts.append('<div class=step><h2>%s <span class="%s">[%s]</span></h2>'
                     % (html.escape(title), html.escape(result), html.escape(result)))
        if evidence.strip():
            parts.append("<pre>%s</pre>" % html.escape(evidence.replace("\r", "\n").strip()))
        if shot:
            parts.append('<img src="%s" alt="%s">' % (html.escape(shot), html.escape(title)))
        parts.append("</div>")
    with open(out_file, "w", encoding="utf-8") as out:
        out.write("\n".join(parts) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
