#!/usr/bin/python3
"""A real FTP server for the tests, on pyftpdlib, bound to 127.0.0.1.

usage: ftp_server.py ROOT LOG [--port N] [--user U --password P] [--tls CERT KEY]
                              [--no-rename-over] [--slow-store SECONDS]

Prints "PORT n" once it listens. LOG receives one line per command received ("CMD <verb> <arg>",
passwords masked), one "LOGIN <user>" per successful login, and "STORED <name>" after each upload.
"""
import argparse
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("log")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="observer")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--tls", nargs=2)
    parser.add_argument("--no-rename-over", action="store_true")
    parser.add_argument("--slow-store", type=float, default=0)
    args = parser.parse_args()

    log = open(args.log, "a", buffering=1)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    base = TLS_FTPHandler if args.tls else FTPHandler

    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            shown = "******" if cmd == "PASS" else arg
            log.write(f"CMD {cmd} {shown}\n")
            return super().pre_process_command(line, cmd, arg)

        def on_login(self, username):
            log.write(f"LOGIN {username}\n")

        def on_file_received(self, file):
            log.write(f"STORED {os.path.basename(file)}\n")

        def ftp_RNTO(self, path):
            if args.no_rename_over and os.path.exists(path):  # already a file system path here
                self.respond("553 Refusing to rename onto an existing file.")
                self._rnfr = None
                return
            return super().ftp_RNTO(path)

        def ftp_STOR(self, file, mode="w"):
            if args.slow_store:
                time.sleep(args.slow_store)
            return super().ftp_STOR(file, mode)

    Handler.authorizer = authorizer
    Handler.banner = "test server ready"
    if args.tls:
        Handler.certfile, Handler.keyfile = args.tls
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    server = FTPServer(("127.0.0.1", args.port), Handler)
    print(f"PORT {server.socket.getsockname()[1]}", flush=True)
    sys.stdout.close()
    server.serve_forever()


main()
