#!/usr/bin/python3
"""An SFTP server on asyncssh for the tests, bound to 127.0.0.1, that accepts one user with a
password given here: password logins are tested without creating a user on the machine.

usage: sftp_password_server.py ROOT LOG --port N --user U --password P [--keyboard-interactive]

With --keyboard-interactive the password is asked for by a keyboard-interactive prompt only, as
servers that log users in through PAM do; password logins are then refused.

The SFTP root is ROOT (so "/homepage" is ROOT/homepage). LOG receives "LOGIN <user>" for every
accepted login and "REFUSED <user>" for every refused password.
"""
import argparse
import asyncio

import asyncssh


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("log")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--keyboard-interactive", action="store_true")
    args = parser.parse_args()
    log = open(args.log, "a", buffering=1)

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return not args.keyboard_interactive

        def kbdint_auth_supported(self):
            return args.keyboard_interactive

        def get_kbdint_challenge(self, username, lang, submethods):
            return "", "", "", [("Password: ", False)]

        def validate_kbdint_response(self, username, responses):
            return self.validate_password(username, responses[0] if len(responses) == 1 else "")

        def validate_password(self, username, password):
            accepted = username == args.user and password == args.password
            log.write(f"{'LOGIN' if accepted else 'REFUSED'} {username}\n")
            return accepted

    class Root(asyncssh.SFTPServer):
        def __init__(self, channel):
            super().__init__(channel, chroot=args.root)

    async def serve():
        key = asyncssh.generate_private_key("ssh-ed25519")
        await asyncssh.create_server(Server, "127.0.0.1", args.port, server_host_keys=[key], sftp_factory=Root)
        await asyncio.Future()

    asyncio.run(serve())


main()
