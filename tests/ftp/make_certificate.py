#!/usr/bin/python3
"""Makes a throw-away certificate authority and a server certificate signed by it.

Writes, into --dir, ca.pem (the authority's certificate, what a client is told to trust) and
server.pem (the server's certificate followed by its private key, what the server loads).
--san names the server: IP:127.0.0.1 or DNS:some.name, repeatable.
"""
import argparse
import datetime
import ipaddress
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID


def name(common):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])


def alt_name(text):
    kind, _, value = text.partition(":")
    if kind == "IP":
        return x509.IPAddress(ipaddress.ip_address(value))
    if kind == "DNS":
        return x509.DNSName(value)
    raise SystemExit("unknown subject alternative name: " + text)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--san", action="append", required=True)
    args = p.parse_args()

    now = datetime.datetime.now(datetime.timezone.utc)
    start, end = now - datetime.timedelta(hours=1), now + datetime.timedelta(days=2)
    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_cert = (x509.CertificateBuilder()
               .subject_name(name("Quorvane test authority"))
               .issuer_name(name("Quorvane test authority"))
               .public_key(ca_key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(start).not_valid_after(end)
               .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
               .add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False,
                                            False), critical=True)
               .sign(ca_key, hashes.SHA256()))

    key = ec.generate_private_key(ec.SECP256R1())
    cert = (x509.CertificateBuilder()
            .subject_name(name("Quorvane test server"))
            .issuer_name(ca_cert.subject)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(start).not_valid_after(end)
            .add_extension(x509.SubjectAlternativeName([alt_name(s) for s in args.san]),
                           critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]),
                           critical=False)
            .sign(ca_key, hashes.SHA256()))

    pem = serialization.Encoding.PEM
    with open(os.path.join(args.dir, "ca.pem"), "wb") as out:
        out.write(ca_cert.public_bytes(pem))
    with open(os.path.join(args.dir, "server.pem"), "wb") as out:
        out.write(cert.public_bytes(pem))
        out.write(key.private_bytes(pem, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()))


if __name__ == "__main__":
    main()
