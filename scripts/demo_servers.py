#!/usr/bin/python3
"""The demo's web host on 127.0.0.1: an FTP server (pyftpdlib) whose login directory holds
"/homepage", and an HTTP server that serves that directory, as an observer's provider would.

usage: demo_servers.py ROOT FTP_PORT HTTP_PORT USER PASSWORD
"""
import functools
import http.server
import logging
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()


def main():
    root, ftp_port, http_port, user, password = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
    logging.basicConfig(level=logging.WARNING)
    http_server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", http_port), functools.partial(QuietHandler, directory=f"{root}/homepage"))
    threading.Thread(target=http_server.serve_forever, daemon=True).start()

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    FTPHandler.authorizer = authorizer
    ftp_server = FTPServer(("127.0.0.1", ftp_port), FTPHandler)
    print(f"demo servers: ftp 127.0.0.1:{ftp_port}, http 127.0.0.1:{http_port}", flush=True)
    ftp_server.serve_forever()


main()
