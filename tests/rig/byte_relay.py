#!/usr/bin/env python3
"""Joins two socket character devices of the guest, taking whatever either side sends at
once and holding it until the other side reads. QEMU's USB serial model writes to its
character device with the whole emulator blocked until the write is taken: wired straight
to another device of the same emulator, which can read only when the emulator runs, a full
socket stops the guest for good.
    byte_relay.py SOCKET_A SOCKET_B    (prints "ready" once both listen)"""
import selectors
import socket
import sys


def listen(path):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    return server


def main(paths):
    servers = [listen(p) for p in paths]
    print("ready", flush=True)
    ends = [s.accept()[0] for s in servers]
    for s in servers:
        s.close()
    held = {end: bytearray() for end in ends}  # what waits to be written to that end
    other = {ends[0]: ends[1], ends[1]: ends[0]}
    selector = selectors.DefaultSelector()
    for end in ends:
        end.setblocking(False)
        selector.register(end, selectors.EVENT_READ)
    while True:
        for key, events in selector.select():
            end = key.fileobj
            if events & selectors.EVENT_READ:
                data = end.recv(65536)
                if not data:
                    return
                held[other[end]] += data
            if events & selectors.EVENT_WRITE and held[end]:
                sent = end.send(held[end])
                del held[end][:sent]
        for end in ends:
            wanted = selectors.EVENT_READ | (selectors.EVENT_WRITE if held[end] else 0)
            selector.modify(end, wanted)


if __name__ == "__main__":
    try:
        main(sys.argv[1:3])
    except (ConnectionError, KeyboardInterrupt):
        pass
