"""Checks the "stamp=" parameter: a time text of the service raised to the public key.

The private half of the key (n, e, d) lives in keys/stamp_private_key.txt; a stamp s is
well formed when s^d mod n gives back a decimal time text, and fresh when that time lies
within the window before the service's clock. The public half is in every copy of the
program, so anyone can make a well-formed stamp for any time and any machine: a stamp
proves freshness, not who sent the request. Replays are caught by the request key below.
"""
import hashlib
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
    """reason: 'missing', 'malformed', 'stale' or 'replayed'."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


# The service's clock may step back a little (time synchronisation) between handing out a
# time and receiving the request made from it.
FUTURE_SLACK = 2


# Stamps decoded lately: a fleet's requests within one second carry the same stamp, and the
# modular power is most of a request's work. A stamp's time depends on its text alone.
_DECODED = {}
_DECODED_MAX = 512


def _decode(key, stamp):
    """The time inside a well-formed stamp; StampRefused("malformed") otherwise."""
    if len(stamp) > 2 * ((key.n.bit_length() + 7) // 8) or any(c not in "0123456789abcdefABCDEF" for c in stamp):
        raise StampRefused("malformed")
    cached = _DECODED.get((key.n, stamp))
    if cached is not None:
        return cached
    s = int(stamp, 16)
    if s >= key.n:
        raise StampRefused("malformed")
    m = pow(s, key.d, key.n)
    raw = m.to_bytes((m.bit_length() + 7) // 8, "big")
    if not raw or not raw.isdigit():
        raise StampRefused("malformed")
    if len(_DECODED) >= _DECODED_MAX:
        _DECODED.clear()
    issued = _DECODED[(key.n, stamp)] = int(raw)
    return issued


def verify(key, stamp, now, window):
    """The time inside a well-formed stamp, when it lies within window seconds before now."""
    if not stamp:
        raise StampRefused("missing")
    issued = _decode(key, stamp)
    if now - issued > window or issued - now > FUTURE_SLACK:
        raise StampRefused("stale")
    return issued


def request_key(endpoint, issued, fields):
    """What makes a stamped request the same request: endpoint, the stamp's time (not its
    text: upper-case or leading zeros give the same number) and the bytes of the values the
    endpoint uses, machine id included. Extra parameters cannot make a replay look new."""
    digest = hashlib.sha256(endpoint.encode() + b"\0" + str(issued).encode())
    for value in fields:
        digest.update(b"\0%d:" % len(value) + value)
    return digest.hexdigest()
