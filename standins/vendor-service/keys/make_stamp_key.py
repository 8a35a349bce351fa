#!/usr/bin/env python3
"""Key pair for the service request stamp (plain RSA, no padding).

  make_stamp_key.py generate [--force]
      Makes a new pair: writes the private half (n, e, d) to stamp_private_key.txt
      beside this script and the public half (n, e) to alerts/stamp_key.h.
  make_stamp_key.py vectors TEXT...
      Prints the stamp of each TEXT with the stored key (expected values for tests).

Standard library only. The modulus is the product of two 124-bit primes with their
top two bits set, so n has exactly 248 bits, which always means 75 decimal digits.
"""
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
PRIVATE_FILE = os.path.join(HERE, "stamp_private_key.txt")
PUBLIC_HEADER = os.path.join(ROOT, "alerts", "stamp_key.h")

rng = random.SystemRandom()


def is_probable_prime(n, rounds=64):
    if n < 2:
        return False
    for p in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37):
        if n % p == 0:
            return n == p
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for _ in range(rounds):
        x = pow(rng.randrange(2, n - 1), d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = pow(x, 2, n)
            if x == n - 1:
                break
        else:
            return False
    return True


def random_prime(bits):
    while True:
        # Top two bits set: the product of two such primes has exactly 2*bits bits.
        candidate = rng.getrandbits(bits) | (3 << (bits - 2)) | 1
        if is_probable_prime(candidate):
            return candidate


def generate():
    while True:
        p, q = random_prime(124), random_prime(124)
        if p != q:
            break
    n, phi = p * q, (p - 1) * (q - 1)
    assert n.bit_length() == 248 and len(str(n)) == 75
    while True:
        e = rng.randrange(10**19, 10**20) | 1
        if is_probable_prime(e) and phi % e != 0:
            break
    d = pow(e, -1, phi)
    assert len(str(e)) == 20 and (e * d) % phi == 1
    return n, e, d


def load_private():
    key = {}
    with open(PRIVATE_FILE, encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, value = line.split("=", 1)
                key[name.strip()] = int(value.strip())
    return key["n"], key["e"], key["d"]


def stamp(text, n, e):
    m = int.from_bytes(text.encode("ascii"), "big")
    return format(pow(m, e, n), "x")


def main(argv):
    if len(argv) >= 2 and argv[1] == "generate":
        if os.path.exists(PRIVATE_FILE) and "--force" not in argv:
            sys.exit("stamp_private_key.txt exists; pass --force to replace the key pair")
        n, e, d = generate()
        with open(PRIVATE_FILE, "w", encoding="ascii") as f:
            f.write("# Request stamp key, private half (stamp = m^e mod n, m = stamp^d mod n)\n")
            f.write(f"n={n}\ne={e}\nd={d}\n")
        with open(PUBLIC_HEADER, "w", encoding="ascii") as f:
            f.write("#pragma once\n")
            f.write("// Public half of the request stamp key, written by\n")
            f.write("// standins/vendor-service/keys/make_stamp_key.py; the vendor service\n")
            f.write("// holds the private exponent. Modulus: 248 bits, 75 decimal digits.\n\n")
            f.write(f'constexpr const char kStampModulus[] = "{n}";\n')
            f.write(f'constexpr const char kStampExponent[] = "{e}";\n')
        print(f"n ({n.bit_length()} bits, {len(str(n))} digits) = {n}\ne = {e}")
    elif len(argv) >= 2 and argv[1] == "vectors":
        n, e, _ = load_private()
        for text in argv[2:]:
            print(f'{{"{text}", "{stamp(text, n, e)}"}},')
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
