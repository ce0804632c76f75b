#!/usr/bin/env python3
"""Checks the release packages scripts/package.sh made in dist/.

  check_packages.py --dist DIR --version V --program NAME [--program NAME ...]

For each architecture, dist/lptspi-V-windows-ARCH.zip must hold exactly one folder
lptspi-V-windows-ARCH/ with NAME.exe for every program, hwinterface.sys and README.txt, and in
the x64 zip also lptspi-driver-signing.cer; every executable and the driver built for that
architecture (console and native subsystem); README.txt plain ASCII with CRLF line endings and
the version. The x64 driver must carry a valid PE checksum and exactly two Authenticode
signatures that `osslsigncode verify` accepts trusting only the packaged certificate: a primary
one with a SHA-1 digest and a nested one with SHA-256, each signed by the packaged certificate.
dist/SHA256SUMS must list exactly the two zips with their checksums.

Exit status 0 pass, 1 fail (one line per finding), 77 when dist/ has no packages yet.
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_imports import Image, NotPE  # noqa: E402

SKIP = 77
ARCHES = {"x86": 0x14C, "x64": 0x8664}
SUBSYSTEM_NATIVE, SUBSYSTEM_CONSOLE = 1, 3
CERTIFICATE = "lptspi-driver-signing.cer"
# The x64 driver's signatures in the order osslsigncode lists them: the primary one SHA-1, which
# Vista and 7 without SHA-2 support check, and a nested SHA-256 one for Windows 8 and later.
SIGNATURE_DIGESTS = ["SHA1", "SHA256"]


def pe_checksum(data, field):
    """The PE image checksum: the file's 16-bit little-endian words summed with the carries
    folded back in, the checksum field counting as zero, plus the file's length."""
    length = len(data)
    words = data[:field] + b"\0\0\0\0" + data[field + 4:]
    if length % 2:
        words += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + length) & 0xFFFFFFFF


def check_checksum(what, image, findings):
    field = image.checksum_field
    stored = struct.unpack_from("<I", image.data, field)[0]
    computed = pe_checksum(image.data, field)
    if stored != computed:
        findings.append("%s: PE checksum %#010x, the file sums to %#010x (Windows refuses to load "
                        "such a driver)" % (what, stored, computed))


def subject_of(cert_pem):
    run = subprocess.run(["openssl", "x509", "-in", cert_pem, "-noout", "-subject",
                          "-nameopt", "compat"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return run.stdout.decode(errors="replace").strip().replace("subject=", "", 1).strip()


def check_signature(what, driver, cer, work, findings):
    pem = os.path.join(work, "signer.pem")
    run = subprocess.run(["openssl", "x509", "-inform", "DER", "-in", cer, "-out", pem],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if run.returncode != 0:
        findings.append("%s: %s is not a DER certificate: %s" %
                        (what, CERTIFICATE, run.stdout.decode(errors="replace").strip()))
        return
    # The only trusted certificate is the packaged one: a driver signed by anything else fails.
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", pem, "-in", driver],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = run.stdout.decode(errors="replace")
    if run.returncode != 0:
        findings.append("%s: osslsigncode verify failed (status %d):\n%s" %
                        (what, run.returncode, out))
        return
    # One block per signature, the primary one first, then those nested in it. Each is judged on
    # its own: osslsigncode verify exits 0 and counts a signature as verified even when its
    # certificate chain is not trusted, saying so only in that signature's block.
    blocks = re.split(r"^Signature Index: ", out, flags=re.M)[1:]
    digests = []
    subject = subject_of(pem)
    for index, block in enumerate(blocks):
        digest = re.search(r"Message digest algorithm\s*:\s*(\S+)", block)
        digests.append(digest.group(1) if digest else None)
        signers = re.findall(r"Signer #0:\s*\n\s*Subject:\s*(.+)", block)
        if not signers or any(s.strip() != subject for s in signers):
            findings.append("%s: signature %d signed by %s, but the packaged certificate is %s" %
                            (what, index, signers, subject))
        if "Signature verification: ok" not in block:
            findings.append("%s: signature %d does not verify:\n%s" % (what, index, block))
    if blocks and "(Primary Signature)" not in blocks[0].splitlines()[0]:
        findings.append("%s: the first signature listed is not the primary one:\n%s" % (what, out))
    if digests != SIGNATURE_DIGESTS:
        findings.append("%s: signatures with digests %s, expected %s (a SHA-1 primary signature "
                        "for Vista and 7, a SHA-256 one nested in it)" %
                        (what, digests, SIGNATURE_DIGESTS))
    verified = re.search(r"^Number of verified signatures: (\d+)$", out, flags=re.M)
    if not verified or int(verified.group(1)) != len(SIGNATURE_DIGESTS):
        findings.append("%s: expected exactly %d verified signatures:\n%s" %
                        (what, len(SIGNATURE_DIGESTS), out))


def check_zip(path, arch, version, programs, work, findings):
    top = "lptspi-%s-windows-%s/" % (version, arch)
    wanted = [p + ".exe" for p in programs] + ["hwinterface.sys", "README.txt"]
    if arch == "x64":
        wanted.append(CERTIFICATE)
    with zipfile.ZipFile(path) as z:
        names = [n for n in z.namelist() if not n.endswith("/")]
        if sorted(names) != sorted(top + w for w in wanted):
            findings.append("%s holds %s, expected %s" %
                            (path, sorted(names), sorted(top + w for w in wanted)))
            return
        try:  # reading a member checks its CRC
            files = {n[len(top):]: z.read(n) for n in names}
        except (zipfile.BadZipFile, zlib.error) as e:
            findings.append("%s is damaged (%s)" % (path, e))
            return

    images = {}
    for name, data in sorted(files.items()):
        what = "%s: %s" % (os.path.basename(path), name)
        if not name.endswith((".exe", ".sys")):
            continue
        try:
            image = images[name] = Image(data)
        except (NotPE, struct.error) as e:
            findings.append("%s is not a PE image (%s)" % (what, e))
            continue
        if image.machine != ARCHES[arch]:
            findings.append("%s is built for machine %#x, expected %#x (%s)" %
                            (what, image.machine, ARCHES[arch], arch))
        wanted_subsystem = SUBSYSTEM_NATIVE if name.endswith(".sys") else SUBSYSTEM_CONSOLE
        if image.subsystem != wanted_subsystem:
            findings.append("%s has subsystem %d, expected %d" %
                            (what, image.subsystem, wanted_subsystem))

    readme = files["README.txt"]
    what = "%s: README.txt" % os.path.basename(path)
    if not readme.endswith(b"\r\n") or readme.count(b"\n") != readme.count(b"\r\n") or \
            readme.count(b"\r") != readme.count(b"\r\n"):
        findings.append("%s does not end every line with CRLF alone" % what)
    try:
        text = readme.decode("ascii")
    except UnicodeDecodeError as e:
        findings.append("%s is not plain ASCII (%s)" % (what, e))
        text = ""
    if ("lptspi %s" % version) not in text:
        findings.append("%s does not name version %s" % (what, version))

    if arch == "x64" and "hwinterface.sys" in images:
        driver = os.path.join(work, "x64-hwinterface.sys")
        cer = os.path.join(work, CERTIFICATE)
        for file_path, name in ((driver, "hwinterface.sys"), (cer, CERTIFICATE)):
            with open(file_path, "wb") as f:
                f.write(files[name])
        what = "%s: hwinterface.sys" % os.path.basename(path)
        check_checksum(what, images["hwinterface.sys"], findings)
        check_signature(what, driver, cer, work, findings)


def check_sums(dist, zips, findings):
    path = os.path.join(dist, "SHA256SUMS")
    if not os.path.isfile(path):
        findings.append("%s is missing" % path)
        return
    listed = {}
    with open(path) as f:
        for line in f:
            m = re.fullmatch(r"([0-9a-f]{64}) [ *](\S+)\n", line)
            if not m:
                findings.append("%s: malformed line %r" % (path, line))
                continue
            listed[m.group(2)] = m.group(1)
    if sorted(listed) != sorted(zips):
        findings.append("%s lists %s, expected %s" % (path, sorted(listed), sorted(zips)))
    for name in zips:
        with open(os.path.join(dist, name), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        if name in listed and listed[name] != digest:
            findings.append("%s: %s is listed as %s, the file's checksum is %s" %
                            (path, name, listed[name], digest))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--program", action="append", required=True)
    args = parser.parse_args()

    zips = {arch: "lptspi-%s-windows-%s.zip" % (args.version, arch) for arch in ARCHES}
    missing = [z for z in zips.values() if not os.path.isfile(os.path.join(args.dist, z))]
    if len(missing) == len(zips):
        print("SKIP: no packages in %s (run scripts/package.sh)" % args.dist)
        return SKIP
    for tool in ("osslsigncode", "openssl"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed" % tool)
            return SKIP
    findings = ["%s is missing" % os.path.join(args.dist, z) for z in missing]
    work = tempfile.mkdtemp(prefix="lptspi-package-check-")
    try:
        for arch, name in sorted(zips.items()):
            if name not in missing:
                before = len(findings)
                check_zip(os.path.join(args.dist, name), arch, args.version, args.program, work,
                          findings)
                if len(findings) == before:
                    print("ok   %s" % name)
        check_sums(args.dist, list(zips.values()), findings)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for line in findings:
        print("FAIL " + line)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
