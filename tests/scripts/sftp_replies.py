#!/usr/bin/python3
"""Writes seed inputs for the SFTP reply fuzzer into the folder given: a server's well-formed
replies to one upload's requests (VERSION, NAME, ATTRS, STATUS, HANDLE), so the fuzzer starts
from replies the parser accepts and damages them from there."""
import struct
import sys


def packet(kind, body):
    payload = bytes([kind]) + body
    return struct.pack(">I", len(payload)) + payload


def string(text):
    return struct.pack(">I", len(text)) + text


def reply(kind, request, body=b""):
    return packet(kind, struct.pack(">I", request) + body)


def status(request, code=0):
    return reply(101, request, struct.pack(">I", code) + string(b"") + string(b""))


version = packet(2, struct.pack(">I", 3) + string(b"posix-rename@openssh.com") + string(b"1"))
name = reply(104, 1, struct.pack(">I", 1) + string(b"/home/observer") + string(b"x") + struct.pack(">I", 0))
directory = reply(105, 2, struct.pack(">II", 0x4, 0o40755))
handle = reply(102, 4, string(b"h1"))
sized = reply(105, 8, struct.pack(">IQ", 0x1, 7))
seeds = {
    "upload": version + name + directory + status(3, 2) + handle + status(5) + status(6) + status(7) + sized,
    "refusals": version + status(1, 3) + status(2, 2) + status(3, 4) + status(4, 15),
    "version-only": version,
}
for label, data in seeds.items():
    with open(f"{sys.argv[1]}/{label}", "wb") as out:
        out.write(data)
