#!/usr/bin/python3
# A mail server for the alert tests: STARTTLS required, AUTH required, each message received
# written to OUTDIR/mail-N.eml.
# usage: smtp_server.py PORT CERT KEY USER PASSWORD OUTDIR
import os
import ssl
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

port, cert, key, user, password, outdir = sys.argv[1:7]


class Keeper:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Keeper.count += 1
        path = os.path.join(outdir, "mail-%d.eml" % Keeper.count)
        with open(path + ".part", "wb") as out:
            out.write(envelope.original_content or envelope.content)
        os.rename(path + ".part", path)
        return "250 OK"


def check(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == user.encode() and auth_data.password == password.encode()
    return AuthResult(success=ok)


context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
controller = Controller(Keeper(), hostname="127.0.0.1", port=int(port), tls_context=context, require_starttls=True,
                        authenticator=check, auth_required=True, auth_require_tls=True)
controller.start()
while True:
    time.sleep(3600)
