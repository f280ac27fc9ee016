#!/usr/bin/python3
"""Loopback FTP server for the tests, with fault modes.

Prints the port it listens on as the first line of standard output, then serves until it is
terminated. Every command received is appended to the --log file, one line each, exactly as
received (the password included: it is a test account).
"""
import argparse
import logging
import sys
import time

from pyftpdlib import handlers
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def blind_ascii(self, chunk):
    """ASCII conversion of a server that does not look at what precedes a LF."""
    return bytes(chunk).replace(b"\n", b"\r\n")


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--host", default="127.0.0.1", help="address listened on (::1 for IPv6)")
    p.add_argument("--root", required=True)
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--log", default=None, help="file receiving every command line")
    p.add_argument("--drop-after-bytes", type=int, default=-1,
                   help="close each download's data connection after N bytes")
    p.add_argument("--drop-reply-ok", action="store_true",
                   help="answer 226 instead of 426 after a dropped download")
    p.add_argument("--stall-after-bytes", type=int, default=-1,
                   help="stop sending each download after N bytes, connection left open")
    p.add_argument("--close-after-greeting", action="store_true",
                   help="close the control connection right after the 220 greeting")
    p.add_argument("--close-after-commands", type=int, default=-1,
                   help="close the control connection 0.2 s after answering N commands")
    p.add_argument("--idle-timeout", type=float, default=0,
                   help="seconds of control-connection silence before a 421 and close")
    p.add_argument("--refuse-size", type=int, default=0, metavar="CODE",
                   help="answer SIZE with this refusal (502, 550), so no size is known")
    p.add_argument("--tls-cert", default=None,
                   help="PEM file holding the server's certificate and key: TLS required on "
                        "the control and data channels")
    p.add_argument("--ascii-cr-cr-lf", action="store_true",
                   help="in ASCII mode turn every LF into CR LF, even after a CR")
    p.add_argument("--passive-ports", default=None, metavar="FIRST-LAST",
                   help="the ports passive data connections are offered on")
    p.add_argument("--greeting-421", action="store_true",
                   help="greet with a two-line 421 refusal and close")
    p.add_argument("--faulty-sessions", type=int, default=-1, metavar="N",
                   help="the fault modes hit only the first N control connections")
    p.add_argument("--trickle", type=int, default=0, metavar="BYTES",
                   help="send each download at most BYTES per second")
    return p.parse_args()


def main():
    args = parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    log_file = open(args.log, "a", encoding="utf-8") if args.log else None
    if args.ascii_cr_cr_lf:
        handlers.FileProducer._posix_ascii_data_wrapper = blind_ascii
    base_handler, base_dtp = FTPHandler, DTPHandler
    if args.tls_cert:
        base_handler, base_dtp = handlers.TLS_FTPHandler, handlers.TLS_DTPHandler

    class FaultyDTPHandler(base_dtp):
        def faulty(self):
            return self.cmd_channel.faulty

        def allowed(self):
            # What the trickle lets out by now.
            started = getattr(self, "_trickle_start", None)
            if started is None:
                started = self._trickle_start = time.monotonic()
            return int((time.monotonic() - started + 0.1) * args.trickle)

        def send(self, data):
            if args.trickle > 0 and self.faulty():
                data = data[:max(0, self.allowed() - self.tot_bytes_sent)]
                if not data:
                    self._hold()
                    return 0
            if not self.faulty():
                return base_dtp.send(self, data)
            limit = args.drop_after_bytes if args.drop_after_bytes >= 0 else args.stall_after_bytes
            if limit >= 0:
                room = limit - self.tot_bytes_sent
                if room <= 0:
                    if args.drop_after_bytes >= 0:
                        self._drop()
                        return 0
                    self._hold()
                    return 0
                data = data[:room]
            return base_dtp.send(self, data)

        def readable(self):
            # The client starts the data channel's TLS handshake as soon as it has connected,
            # before RETR; the stock handler takes those bytes for a hang-up and closes.
            if getattr(self, "_ssl_accepting", False):
                return True
            return base_dtp.readable(self)

        def writable(self):
            if self.faulty() and 0 <= args.stall_after_bytes <= self.tot_bytes_sent:
                self._hold()
                return False
            if args.trickle > 0 and self.faulty() and self.allowed() <= self.tot_bytes_sent:
                self._hold()
                return False
            return base_dtp.writable(self)

        def _hold(self):
            # The loop keeps offering a socket that can be written to and asks again at once: a
            # short sleep keeps a held transfer from taking a whole core from the tests around it.
            time.sleep(0.02)

        def _drop(self):
            if args.drop_reply_ok:
                self._resp = ("226 Transfer complete.", logging.debug)
            else:
                self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.close()

    class FaultyHandler(base_handler):
        answered = 0
        sessions = 0
        faulty = True

        def handle(self):
            FaultyHandler.sessions += 1
            self.faulty = args.faulty_sessions < 0 or FaultyHandler.sessions <= args.faulty_sessions
            if not self.faulty:
                base_handler.handle(self)
                return
            if args.greeting_421:
                self.push("421-Service not available.\r\n"
                          "421 Please reconnect using TLS security mechanisms.\r\n")
                self.close_when_done()
                return
            base_handler.handle(self)
            if args.close_after_greeting:
                self.close_when_done()

        def pre_process_command(self, line, cmd, arg):
            if log_file is not None:
                log_file.write(line + "\n")
                log_file.flush()
            base_handler.pre_process_command(self, line, cmd, arg)
            self.answered += 1
            if self.faulty and 0 <= args.close_after_commands == self.answered:
                # A moment later, so the client has read the last answer as an idle
                # client would have before the server goes away.
                self.ioloop.call_later(0.2, self._close_if_open)

        def _close_if_open(self):
            if not self._closed:
                self.close_when_done()

        def ftp_SIZE(self, path):
            if args.refuse_size:
                self.respond("%d SIZE not allowed on this server." % args.refuse_size)
                return
            return base_handler.ftp_SIZE(self, path)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmw")
    FaultyHandler.authorizer = authorizer
    FaultyHandler.dtp_handler = FaultyDTPHandler
    FaultyHandler.auth_failed_timeout = 0
    FaultyHandler.use_sendfile = False
    FaultyHandler.banner = "Quorvane test server ready."
    if args.idle_timeout > 0:
        FaultyHandler.timeout = args.idle_timeout
    FaultyHandler.passive_ports = None
    if args.passive_ports:
        first, last = (int(n) for n in args.passive_ports.split("-"))
        FaultyHandler.passive_ports = list(range(first, last + 1))
    if args.tls_cert:
        FaultyHandler.certfile = args.tls_cert
        FaultyHandler.tls_control_required = True
        FaultyHandler.tls_data_required = True

    server = FTPServer((args.host, args.port), FaultyHandler)
    print(server.address[1], flush=True)
    # A polling time-out is what lets the idle time-out fire at all.
    server.serve_forever(timeout=0.1, handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
