#!/usr/bin/python3
"""The program's SFTP download beside OpenSSH's sftp, over the same line with a round trip of
100 ms, side by side in one run.

The line is a relay on loopback that holds every byte for half the round trip in each
direction (the kernel's netem is not available everywhere); the server is the system's own
sshd on a free port with a configuration of this script's own. Needs root: the account the
tests use (quorvane-essai) logs in with its password for the program and with a key made here
for OpenSSH's sftp.

    bench/sftp_line.py --fetch build/bench/bench_sftp_fetch [--megabytes 50] [--rounds 3]
"""
import argparse
import asyncio
import os
import random
import shutil
import socket
import statistics
import string
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ACCOUNT = "quorvane-essai"
SECRET = Path("/run/quorvane-essai.mdp")


def account_password():
    """The tests' account and its password, made as tests/support/FtpServers.cpp makes them."""
    if subprocess.run(["id", "-u", ACCOUNT], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--no-create-home", "--home-dir", "/", "--shell", "/bin/sh",
                        ACCOUNT], check=True)
    if not SECRET.exists():
        word = "".join(random.choice(string.ascii_lowercase + "23456789") for _ in range(24))
        subprocess.run(["chpasswd"], input=f"{ACCOUNT}:{word}\n", text=True, check=True)
        old = os.umask(0o077)
        SECRET.write_text(word)
        os.umask(old)
    return SECRET.read_text().strip()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def relay(listen_port, target_port, one_way, ready):
    """Forwards each chunk after one_way seconds, in order, in both directions."""
    async def pipe(reader, writer):
        queue = asyncio.Queue()

        async def deliver():
            while True:
                due, data = await queue.get()
                if data is None:
                    break
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                writer.write(data)
                await writer.drain()
            writer.close()

        task = asyncio.create_task(deliver())
        while True:
            data = await reader.read(262144)
            queue.put_nowait((time.monotonic() + one_way, data or None))
            if not data:
                break
        await task

    async def handle(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        await asyncio.gather(pipe(client_reader, server_writer),
                             pipe(server_reader, client_writer), return_exceptions=True)

    async def main():
        server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
        ready.set()
        async with server:
            await server.serve_forever()

    asyncio.run(main())


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--fetch", required=True, help="build/bench/bench_sftp_fetch")
    p.add_argument("--megabytes", type=int, default=50)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--round-trip-ms", type=int, default=100)
    args = p.parse_args()
    password = account_password()
    work = Path(tempfile.mkdtemp(prefix="quorvane-sftp-line-"))
    # The account reads the file and its authorized key from here.
    work.chmod(0o755)
    sshd = None
    try:
        root = work / "root"
        root.mkdir()
        root.chmod(0o755)
        payload = root / "gros.xml"
        with open(payload, "wb") as out:
            out.write(os.urandom(args.megabytes * 1024 * 1024))
        payload.chmod(0o644)
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(work / "host")],
                       check=True)
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(work / "user")],
                       check=True)
        shutil.copy(work / "user.pub", work / "authorized_keys")
        (work / "authorized_keys").chmod(0o644)
        fingerprint = subprocess.run(
            ["ssh-keygen", "-l", "-E", "sha256", "-f", str(work / "host.pub")],
            capture_output=True, text=True, check=True).stdout.split()[1]
        port = free_port()
        (work / "sshd_config").write_text(
            f"Port {port}\nListenAddress 127.0.0.1\nHostKey {work / 'host'}\nPidFile none\n"
            f"UsePAM no\nPasswordAuthentication yes\nPubkeyAuthentication yes\n"
            f"AuthorizedKeysFile {work / 'authorized_keys'}\nKbdInteractiveAuthentication no\n"
            f"StrictModes no\nAllowUsers {ACCOUNT}\nSubsystem sftp internal-sftp\n"
            f"ForceCommand internal-sftp -d {root}\n")
        sshd = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", str(work / "sshd_config")],
                                stderr=open(work / "sshd.log", "w"))
        line_port = free_port()
        ready = threading.Event()
        threading.Thread(target=relay, daemon=True,
                         args=(line_port, port, args.round_trip_ms / 2000.0, ready)).start()
        ready.wait(10)
        time.sleep(0.5)
        known = work / "known_hosts"
        known.write_text(f"[127.0.0.1]:{line_port} " + (work / "host.pub").read_text())
        ours, theirs = [], []
        for _ in range(args.rounds):
            (work / "a.xml").unlink(missing_ok=True)
            out = subprocess.run([args.fetch, "127.0.0.1", str(line_port), ACCOUNT, password,
                                  fingerprint, "gros.xml", str(work / "a.xml")],
                                 capture_output=True, text=True, timeout=600)
            if out.returncode != 0:
                sys.exit("the program's download failed: " + out.stderr)
            ours.append(float(out.stdout))
            (work / "b.xml").unlink(missing_ok=True)
            start = time.monotonic()
            subprocess.run(["sftp", "-q", "-P", str(line_port), "-i", str(work / "user"),
                            "-o", f"UserKnownHostsFile={known}", "-o", "BatchMode=yes",
                            f"{ACCOUNT}@127.0.0.1:gros.xml", str(work / "b.xml")],
                           check=True, capture_output=True, timeout=600)
            theirs.append(time.monotonic() - start)
            for name in ("a.xml", "b.xml"):
                if (work / name).stat().st_size != payload.stat().st_size:
                    sys.exit(name + " arrived incomplete")
        mine, openssh = statistics.median(ours), statistics.median(theirs)
        print(f"{args.megabytes} MB over a {args.round_trip_ms} ms round trip, "
              f"median of {args.rounds}:")
        print(f"  program (libssh)  {mine:6.2f} s   {', '.join(f'{t:.2f}' for t in ours)}")
        print(f"  OpenSSH sftp      {openssh:6.2f} s   {', '.join(f'{t:.2f}' for t in theirs)}")
        print(f"  ratio             {mine / openssh:6.2f}")
    finally:
        if sshd:
            sshd.terminate()
            sshd.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
