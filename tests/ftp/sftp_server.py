#!/usr/bin/python3
"""Loopback SFTP server for the tests (paramiko), serving one folder read-only to one account.

Prints the port it listens on, then the host key's fingerprint as `ssh-keygen -l -E sha256`
shows it ("SHA256:..."), then the host key as a known_hosts line for 127.0.0.1 and that port,
each on its own line of standard output; then serves until it is terminated. Every
authentication attempt is appended to the --log file ("auth none user", "auth password user
secret", ...), so a test can tell whether a password was ever sent.
"""
import argparse
import base64
import hashlib
import os
import socket
import stat
import sys
import threading
import time

import paramiko


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--log", required=True)
    p.add_argument("--host", default="127.0.0.1", help="address listened on (::1 for IPv6)")
    p.add_argument("--silent-after-login", action="store_true",
                   help="never answer a listing, a stat or an open")
    p.add_argument("--no-sizes", action="store_true", help="give no file's size")
    p.add_argument("--silent-subsystem", action="store_true",
                   help="start the sftp subsystem and never say a word in it")
    p.add_argument("--slow-first-session", type=float, default=0, metavar="SECONDS",
                   help="the first session answers each read after this long")
    return p.parse_args()


class Log:
    def __init__(self, path):
        self._file = open(path, "a", encoding="utf-8")
        self._lock = threading.Lock()

    def write(self, line):
        with self._lock:
            self._file.write(line + "\n")
            self._file.flush()


def make_server_interface(args, log):
    class Server(paramiko.ServerInterface):
        def get_allowed_auths(self, username):
            return "password"

        def check_auth_none(self, username):
            log.write("auth none " + username)
            return paramiko.AUTH_FAILED

        def check_auth_password(self, username, password):
            log.write("auth password %s %s" % (username, password))
            if username == args.user and password == args.password:
                return paramiko.AUTH_SUCCESSFUL
            return paramiko.AUTH_FAILED

        def check_channel_request(self, kind, chanid):
            if kind == "session":
                return paramiko.OPEN_SUCCEEDED
            return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    return Server


def make_sftp_interface(root, log, silent, slow, sizes):
    def local(path):
        return os.path.join(root, os.path.normpath("/" + path).lstrip("/"))

    def described(status):
        found = paramiko.SFTPAttributes.from_stat(status)
        if not sizes:
            found.st_size = None
        return found

    def attributes(path):
        if silent:
            time.sleep(3600)
        try:
            return described(os.stat(local(path)))
        except OSError as err:
            return paramiko.SFTPServer.convert_errno(err.errno)

    class Handle(paramiko.SFTPHandle):
        def read(self, offset, length):
            if slow:
                time.sleep(slow)
            return super().read(offset, length)

        def stat(self):
            return described(os.fstat(self.readfile.fileno()))

    class ReadOnlyFolder(paramiko.SFTPServerInterface):
        def canonicalize(self, path):
            return os.path.normpath("/" + path)

        def stat(self, path):
            log.write("stat " + path)
            return attributes(path)

        def lstat(self, path):
            return attributes(path)

        def list_folder(self, path):
            if silent:
                time.sleep(3600)
            try:
                folder = local(path)
                result = []
                for entry in os.listdir(folder):
                    item = described(os.stat(os.path.join(folder, entry)))
                    item.filename = entry
                    result.append(item)
                return result
            except OSError as err:
                return paramiko.SFTPServer.convert_errno(err.errno)

        def open(self, path, flags, attr):
            log.write("open " + path)
            if flags & (os.O_WRONLY | os.O_RDWR):
                return paramiko.SFTP_PERMISSION_DENIED
            try:
                handle = Handle(flags)
                handle.readfile = open(local(path), "rb")
                handle.filename = local(path)
                return handle
            except OSError as err:
                return paramiko.SFTPServer.convert_errno(err.errno)

    return ReadOnlyFolder


class SilentSubsystem(paramiko.SubsystemHandler):
    def start_subsystem(self, name, transport, channel):
        time.sleep(3600)


def serve(client, host_key, args, log, slow):
    transport = paramiko.Transport(client)
    transport.add_server_key(host_key)
    if args.silent_subsystem:
        transport.set_subsystem_handler("sftp", SilentSubsystem)
    else:
        transport.set_subsystem_handler("sftp", paramiko.SFTPServer,
                                        make_sftp_interface(os.path.abspath(args.root), log,
                                                            args.silent_after_login, slow,
                                                            not args.no_sizes))
    try:
        transport.start_server(server=make_server_interface(args, log)())
        while transport.is_active():
            transport.join(0.5)
    except (paramiko.SSHException, EOFError, OSError):
        pass
    finally:
        transport.close()


def main():
    args = parse_args()
    log = Log(args.log)
    host_key = paramiko.ECDSAKey.generate()
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(8)
    port = listener.getsockname()[1]
    digest = hashlib.sha256(host_key.asbytes()).digest()
    print(port)
    print("SHA256:" + base64.b64encode(digest).decode().rstrip("="))
    print("[%s]:%d %s %s" % (args.host, port, host_key.get_name(), host_key.get_base64()), flush=True)
    slow = args.slow_first_session
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, host_key, args, log, slow),
                         daemon=True).start()
        slow = 0


if __name__ == "__main__":
    sys.exit(main())
