#!/usr/bin/env python3
"""Key pair that signs builds (Ed25519, RFC 8032; see docs/vendor-service.md, "Signed builds").

  make_build_key.py generate KEY_FILE
      Makes a new key: writes its private half to KEY_FILE (mode 0600, refused when the file
      exists) and prints the public half as the C++ initialiser for upgrader/build_keys.h.
  make_build_key.py public KEY_FILE
      Prints the public half of an existing key the same way.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from vendorsvc.signing import load_key, public_bytes  # noqa: E402


def initialiser(public):
    rows = [", ".join("0x%02x" % b for b in public[i:i + 16]) for i in (0, 16)]
    return "    {" + ",\n     ".join(rows) + "},"


def main(argv):
    if len(argv) != 2 or argv[0] not in ("generate", "public"):
        print(__doc__.strip())
        return 2
    path = argv[1]
    if argv[0] == "generate":
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(fd, "w") as f:
            f.write("# Build signing key, private half: the Ed25519 seed.\n%s\n" % os.urandom(32).hex())
    print(initialiser(public_bytes(load_key(path))))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
