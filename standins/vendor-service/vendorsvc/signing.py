"""Ed25519 signatures (RFC 8032) of the version file and the build manifests, which the program
and upgrade.exe check with the public keys compiled into them (upgrader/build_keys.h). Each
signed file gets "<name>.sig" beside it: 128 lowercase hexadecimal digits and a line break,
signing one line that names the file and then the file's bytes as served:
  b"tavrick version.txt\\n" + version file
  b"tavrick x64/manifest.txt\\n" + manifest of newsoft/x64/ (x86 for the 32-bit folder)
Signing uses the `cryptography` package (Debian's python3-cryptography)."""
import os

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey

HERE = os.path.dirname(os.path.abspath(__file__))
# The stand-in's test key; a real vendor names its own with --build-key.
STANDIN_KEY_FILE = os.path.normpath(os.path.join(HERE, "..", "keys", "build_signing_key.txt"))
SIGNATURE_SUFFIX = ".sig"


def load_key(path):
    """The private key from a key file: its first line that is not a comment, the seed in hex."""
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                seed = bytes.fromhex(line)
                if len(seed) != 32:
                    raise ValueError("%s: the seed must be 64 hexadecimal digits" % path)
                return Ed25519PrivateKey.from_private_bytes(seed)
    raise ValueError("%s: no key in the file" % path)


def public_bytes(key):
    return key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def version_file_message(body):
    return b"tavrick version.txt\n" + body


def manifest_message(arch, manifest):
    return b"tavrick " + arch.encode("ascii") + b"/manifest.txt\n" + manifest


def signature_file(key, message):
    return (key.sign(message).hex() + "\n").encode("ascii")
