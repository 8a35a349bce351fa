"""Checks the "stamp=" parameter: the service's own time text raised to the public key.

The private half of the key (n, e, d) lives in keys/stamp_private_key.txt; a stamp s is
genuine when s^d mod n gives back a decimal time text, and fresh when that time is close
to the service's clock.
"""
import os

DEFAULT_KEY_FILE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "keys", "stamp_private_key.txt")


class StampKey:
    def __init__(self, n, e, d):
        self.n, self.e, self.d = n, e, d

    @classmethod
    def load(cls, path=DEFAULT_KEY_FILE):
        values = {}
        with open(path, encoding="ascii") as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#") and "=" in line:
                    name, value = line.split("=", 1)
                    values[name.strip()] = int(value.strip())
        return cls(values["n"], values["e"], values["d"])

    def encode(self, text):
        """What the program sends for a time text (used by the tests)."""
        m = int.from_bytes(text.encode("ascii"), "big")
        return format(pow(m, self.e, self.n), "x")


class StampRefused(Exception):
    """reason: 'missing', 'forged' or 'stale'."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


def verify(key, stamp, now, window):
    """The time inside a genuine stamp, when it is within window seconds of now."""
    if not stamp:
        raise StampRefused("missing")
    if len(stamp) > 2 * ((key.n.bit_length() + 7) // 8) or any(c not in "0123456789abcdefABCDEF" for c in stamp):
        raise StampRefused("forged")
    s = int(stamp, 16)
    if s >= key.n:
        raise StampRefused("forged")
    m = pow(s, key.d, key.n)
    raw = m.to_bytes((m.bit_length() + 7) // 8, "big")
    if not raw or not raw.isdigit():
        raise StampRefused("forged")
    issued = int(raw)
    if abs(now - issued) > window:
        raise StampRefused("stale")
    return issued
