#!/usr/bin/env python3
"""An INDI server of the tests' own: one camera, "Fake CCD", whose exposures come back as the
test asks, one answer an exposure in turn, the last one repeated:
  good       a whole 64 x 48 16-bit FITS frame
  notfits    bytes that are no FITS file
  truncated  a FITS frame cut short of the data its header claims
  huge       a FITS header that claims 100000 x 100000 pixels
  never      nothing at all: the exposure never comes back
usage: fake_indi_server.py PORT ANSWER[,ANSWER...]"""

import base64
import re
import socketserver
import struct
import sys

DEVICE = "Fake CCD"


def card(text):
    return text.ljust(80).encode("ascii")


def fits(width, height, data_rows=None):
    header = [
        card("SIMPLE  =                    T"),
        card("BITPIX  =                   16"),
        card("NAXIS   =                    2"),
        card("NAXIS1  = %20d" % width),
        card("NAXIS2  = %20d" % height),
        card("BZERO   =                32768"),
        card("EXPTIME =                  1.0"),
        card("END"),
    ]
    head = b"".join(header)
    head += b" " * (-len(head) % 2880)
    rows = height if data_rows is None else data_rows
    data = b"".join(struct.pack(">h", (1000 + (x * y) % 500) - 32768) for y in range(rows) for x in range(width))
    data += b"\0" * (-len(data) % 2880)
    return head + data


def answer_bytes(kind):
    if kind == "good":
        return fits(64, 48)
    if kind == "notfits":
        return b"<html>not a frame</html>" * 200
    if kind == "truncated":
        return fits(64, 48)[: 2880 + 1000]
    if kind == "huge":
        return fits(100000, 100000, data_rows=0)[:2880 * 2]
    return None


DEFINITIONS = f"""<defSwitchVector device="{DEVICE}" name="CONNECTION" label="Connection" group="Main" state="Idle" perm="rw" rule="OneOfMany" timeout="60">
<defSwitch name="CONNECT" label="Connect">Off</defSwitch>
<defSwitch name="DISCONNECT" label="Disconnect">On</defSwitch>
</defSwitchVector>
"""

CONNECTED = f"""<setSwitchVector device="{DEVICE}" name="CONNECTION" state="Ok">
<oneSwitch name="CONNECT">On</oneSwitch>
<oneSwitch name="DISCONNECT">Off</oneSwitch>
</setSwitchVector>
<defNumberVector device="{DEVICE}" name="CCD_EXPOSURE" label="Expose" group="Main" state="Idle" perm="rw" timeout="60">
<defNumber name="CCD_EXPOSURE_VALUE" label="Duration" format="%5.2f" min="0.001" max="3600" step="1">1</defNumber>
</defNumberVector>
<defBLOBVector device="{DEVICE}" name="CCD1" label="Image" group="Image" state="Idle" perm="ro" timeout="60">
<defBLOB name="CCD1" label="Image"/>
</defBLOBVector>
"""


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        buffer = b""
        element = re.compile(rb"<(\w+)\b[^>]*?(/>|>.*?</\1\s*>)", re.S)
        while True:
            chunk = self.request.recv(65536)
            if not chunk:
                return
            buffer += chunk
            # Whole messages only, from the start: one cut in two waits for its end (an element
            # inside it is no message of its own).
            while (found := element.match(buffer.lstrip())) is not None:
                buffer = buffer.lstrip()
                message = found.group(0)
                buffer = buffer[found.end():]
                tag = found.group(1)
                if tag == b"getProperties":
                    self.send(DEFINITIONS)
                elif tag == b"newSwitchVector" and re.search(rb"name=['\"]CONNECT['\"]\s*>\s*On", message):
                    self.send(CONNECTED)
                elif tag == b"newNumberVector" and b"CCD_EXPOSURE" in message:
                    self.expose()

    def send(self, text):
        self.request.sendall(text.encode("utf-8") if isinstance(text, str) else text)

    def expose(self):
        server = self.server
        kind = server.answers[min(server.taken, len(server.answers) - 1)]
        server.taken += 1
        frame = answer_bytes(kind)
        if frame is None:
            return
        encoded = base64.b64encode(frame).decode("ascii")
        self.send(f"""<setBLOBVector device="{DEVICE}" name="CCD1" state="Ok">
<oneBLOB name="CCD1" size="{len(frame)}" enclen="{len(encoded)}" format=".fits">{encoded}</oneBLOB>
</setBLOBVector>
""")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    port = int(sys.argv[1])
    server = Server(("127.0.0.1", port), Handler)
    server.answers = sys.argv[2].split(",")
    server.taken = 0
    server.serve_forever()


if __name__ == "__main__":
    main()
