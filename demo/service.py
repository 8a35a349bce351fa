#!/usr/bin/env python3
"""The demo's view of the stand-in vendor service, signed in as its administrator.

  service.py BASE KEYFILE outbox            every relayed message, one per line
  service.py BASE KEYFILE machine           the id of the machine that sent heartbeats
  service.py BASE KEYFILE release MAC PASS  asks for a release-all on the remote page; prints
                                            the page's answer (empty when refused)
"""
import html
import json
import re
import sys
import urllib.error
import urllib.parse
import urllib.request


def fetch(base, key, path, form=None):
    data = urllib.parse.urlencode(form).encode() if form is not None else None
    request = urllib.request.Request(base + path, data=data, headers={"Authorization": "Bearer " + key})
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:  # a refusal still carries the page
        return error.read().decode("utf-8", "replace")
    except OSError:
        return ""


def main(argv):
    base, key = argv[1], open(argv[2]).read().strip()
    command = argv[3]
    if command == "outbox":
        for row in json.loads(fetch(base, key, "/admin/outbox.json") or "[]"):
            print(str(row.get("message", "")).replace("\n", " "))
    elif command == "machine":
        rows = json.loads(fetch(base, key, "/admin/machines.json") or "[]")
        print(rows[0].get("mac", "") if rows else "")
    elif command == "release":
        page = fetch(base, key, "/user/index.jsp", {"mac": argv[4], "password": argv[5], "release": "1"})
        text = html.unescape(re.sub(r"<[^>]+>", " ", page))
        found = re.search(r"(已提交|已替换等待执行的请求)[^。]*。", text)
        print(found.group(0) if found else "")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
