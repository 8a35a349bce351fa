#!/usr/bin/env python3
"""A real SMTP server for the delivery tests (aiosmtpd, Debian's python3-aiosmtpd), on
127.0.0.1 only: python3 smtp_sink.py OUT_DIR [starttls|tls CERT KEY USER PASSWORD]. Prints its
port once it listens. With starttls, mail is taken only after STARTTLS and a login; with tls,
the port speaks TLS from the first byte and takes mail only after a login. Each message it
takes is written whole to OUT_DIR/NNN.eml with its envelope in NNN.rcpt; the recipient's local
part picks how it answers:
  tempfail<N>-...   451 to RCPT the first N times, then accepts
  reject-...        550 to RCPT (also after tempfail<N>-: tempfail1-reject-... is 451, then 550)
  stall-...         the first time: writes OUT_DIR/stalled, holds the answer to DATA for 60 s and
                    then answers 451 (the client is meant to die meanwhile); then accepts
  anything else     accepted
Every answer is logged to OUT_DIR/log, one line each."""
import asyncio
import os
import re
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, out):
        self.out = out
        self.seen = {}
        self.taken = 0

    def log(self, line):
        with open(os.path.join(self.out, "log"), "a") as f:
            f.write(line + "\n")

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local = address.partition("@")[0]
        self.seen[address] = self.seen.get(address, 0) + 1
        tempfail = re.match(r"tempfail(\d+)-", local)
        if tempfail and self.seen[address] <= int(tempfail.group(1)):
            self.log("451 %s" % address)
            return "451 4.3.0 mailbox busy, try again later"
        if local.startswith("reject-") or (tempfail and local[tempfail.end():].startswith("reject-")):
            self.log("550 %s" % address)
            return "550 5.1.1 <%s>: no such mailbox here" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        stall = [a for a in envelope.rcpt_tos if a.startswith("stall-")]
        if stall and not os.path.exists(os.path.join(self.out, "stalled")):
            open(os.path.join(self.out, "stalled"), "w").close()
            self.log("stalled %s" % stall[0])
            await asyncio.sleep(60)
            return "451 4.4.2 timed out"
        self.taken += 1
        name = os.path.join(self.out, "%03d" % self.taken)
        with open(name + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(name + ".rcpt", "w") as f:
            f.write("%s\n%s\n" % (envelope.mail_from, "\n".join(envelope.rcpt_tos)))
        os.replace(name + ".eml.tmp", name + ".eml")
        self.log("250 %s" % " ".join(envelope.rcpt_tos))
        return "250 2.0.0 queued as %03d" % self.taken


def authenticator(sink, user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data == (user.encode(), password.encode())
        sink.log("auth %s %s" % (mechanism, "ok" if ok else "refused"))
        return AuthResult(success=ok, handled=False)  # not handled: aiosmtpd answers 535 itself
    return check


async def main(out, mode=None, cert=None, key=None, user=None, password=None):
    sink = Sink(out)
    loop = asyncio.get_running_loop()
    options, listen_ssl = {}, None
    if mode:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        options = dict(authenticator=authenticator(sink, user, password), auth_required=True)
        if mode == "starttls":
            options.update(tls_context=context, require_starttls=True)
        else:  # the whole connection is TLS already
            options.update(auth_require_tls=False)
            listen_ssl = context
    server = await loop.create_server(lambda: SMTP(sink, hostname="sink.test", decode_data=False, **options),
                                      "127.0.0.1", 0, ssl=listen_ssl)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(*sys.argv[1:]))
