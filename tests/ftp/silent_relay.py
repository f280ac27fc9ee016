#!/usr/bin/python3
"""Relay of FTP control connections that goes silent during each download.

Listens on 127.0.0.1 (its port printed as the first line of output) and relays each
connection to --target. Once a connection has relayed its server's 150 reply to RETR, nothing
more passes either way and nothing is closed: the control connection of a long transfer dies
without a word, as behind a NAT that forgot it. The data connections go to the server itself.
"""
import argparse
import socket
import threading


def relay(client, target):
    server = socket.create_connection(("127.0.0.1", target))
    state = {"retr": False, "silent": False}

    def pump(source, sink, upstream):
        pending = b""
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                return
            if not data:
                return
            if state["silent"]:
                continue
            if upstream:
                state["retr"] = state["retr"] or b"RETR" in data
                sink.sendall(data)
                continue
            pending += data
            while b"\r\n" in pending:
                line, pending = pending.split(b"\r\n", 1)
                sink.sendall(line + b"\r\n")
                if state["retr"] and (line.startswith(b"150") or line.startswith(b"125")):
                    state["silent"] = True
                    break

    threading.Thread(target=pump, args=(client, server, True), daemon=True).start()
    pump(server, client, False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    args = parser.parse_args()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, args.target), daemon=True).start()


if __name__ == "__main__":
    main()
