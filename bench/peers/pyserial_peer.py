#!/usr/bin/python3
# pyserial's RFC 2217 client as an answering side of the network comparison, doing the
# work serial_peer's variants do:
#   pyserial_peer.py MODE URL [BYTES]
# MODE: answer (each request frame gets the reply), sink (reads BYTES, prints their
# checksum) or idle (keeps the port open). Prints "ready" once the port is open.
import sys
import threading

import serial

REPLY = b"\x0201WHO,TC-100\r\n"


def main():
    mode, url = sys.argv[1], sys.argv[2]
    total = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    port = serial.serial_for_url(url, baudrate=115200, timeout=None)
    print("ready", flush=True)
    if mode == "idle":
        threading.Event().wait()
    checksum = received = 0
    while True:
        data = port.read(max(1, port.in_waiting))
        if mode == "answer":
            frames = data.count(b"\n")
            if frames:
                port.write(REPLY * frames)
            continue
        for c in data:
            checksum = (checksum * 31 + c) & 0xFFFFFFFF
        received += len(data)
        if received >= total:
            print("sum %08x" % checksum, flush=True)
            return


main()
