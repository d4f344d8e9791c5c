#!/usr/bin/python3
"""A real FTP server for the tests, on pyftpdlib, bound to 127.0.0.1.

usage: ftp_server.py ROOT LOG [--port N] [--user U --password P] [--tls CERT KEY]
                              [--no-rename-over] [--slow-store SECONDS]
                              [--delay CMD,CMD:SECONDS] [--drop-on CMD[:TIMES]] [--refuse CMD[:TIMES]]
                              [--lie-size N] [--stall-data-after BYTES:SECONDS] [--read-limit BYTES]

The hostile options: --delay answers the listed commands (ALL: every one) only after a pause;
--drop-on closes the connection when CMD arrives (the first TIMES times, or always); --refuse
answers CMD with 550 (the first TIMES times, or always); --lie-size reports N for every SIZE; --stall-data-after stops reading an
upload for SECONDS once BYTES have arrived; --read-limit takes uploads at BYTES a second.

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
    parser.add_argument("--delay", default="")
    parser.add_argument("--drop-on", default="")
    parser.add_argument("--refuse", default="")
    parser.add_argument("--lie-size", type=int)
    parser.add_argument("--stall-data-after", default="")
    parser.add_argument("--read-limit", type=float, default=0)
    args = parser.parse_args()

    delayed, delay = set(), 0.0
    if args.delay:
        names, seconds = args.delay.split(":")
        delayed, delay = set(names.split(",")), float(seconds)
    refused, refusals_left = None, 0
    if args.refuse:
        refused, _, times = args.refuse.partition(":")
        refusals_left = int(times) if times else -1
    drop_on, drops_left = None, 0
    if args.drop_on:
        drop_on, _, times = args.drop_on.partition(":")
        drops_left = int(times) if times else -1
    stall_bytes = stall_seconds = 0
    if args.stall_data_after:
        stall_bytes, stall_seconds = (float(x) for x in args.stall_data_after.split(":"))

    log = open(args.log, "a", buffering=1)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    base = TLS_FTPHandler if args.tls else FTPHandler

    class StallingDTP(base.dtp_handler):
        stalled = False

        def handle_read(self):
            super().handle_read()
            if args.read_limit:  # a server that takes uploads at this many bytes a second
                began = getattr(self, "began", None) or time.monotonic()
                self.began = began
                ahead = self.tot_bytes_received / args.read_limit - (time.monotonic() - began)
                if ahead > 0:
                    time.sleep(min(ahead, 0.2))
            if stall_bytes and not StallingDTP.stalled and self.tot_bytes_received >= stall_bytes:
                StallingDTP.stalled = True
                log.write("STALL\n")
                time.sleep(stall_seconds)

        handle_read_event = handle_read  # the I/O loop calls this name

    class Handler(base):
        dtp_handler = StallingDTP

        def pre_process_command(self, line, cmd, arg):
            nonlocal drops_left, refusals_left
            shown = "******" if cmd == "PASS" else arg
            log.write(f"CMD {cmd} {shown}\n")
            if cmd in delayed or "ALL" in delayed:
                time.sleep(delay)
            if cmd == drop_on and drops_left != 0:
                drops_left -= 1
                log.write("DROP\n")
                self.close()
                return
            if cmd == refused and refusals_left != 0:
                refusals_left -= 1
                self.respond("550 Refused by the test.")
                return
            if cmd == "SIZE" and args.lie_size is not None:
                self.respond(f"213 {args.lie_size}")
                return
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
