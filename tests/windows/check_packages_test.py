#!/usr/bin/env python3
"""Shows check_packages.py packages whose x64 driver is signed in other ways: it must pass the
driver signed as package.sh signs it (SHA-1, with SHA-256 nested) and fail every other one.

  check_packages_test.py --dist DIR --version V --program NAME [--program NAME ...]

Each case is a copy of the packages in DIR whose x64 zip holds the driver, its signatures taken
off and signed again, and in place of the real certificate a throw-away one made here, so the
certificate packaged is always the one that signed (but in the case that says otherwise).

Exit status 0 pass, 1 fail, 77 when DIR has no packages yet or osslsigncode or openssl is missing.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
DRIVER = "hwinterface.sys"
CERTIFICATE = "lptspi-driver-signing.cer"


def run(argv):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise RuntimeError("%s failed (status %d):\n%s" %
                           (" ".join(argv), result.returncode, result.stdout.decode()))
    return result.stdout.decode(errors="replace")


def make_certificate(work, name):
    key, pem, der = (os.path.join(work, name + suffix) for suffix in (".key", ".pem", ".cer"))
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "30", "-nodes",
         "-subj", "/CN=check_packages_test " + name,
         "-addext", "basicConstraints=critical,CA:FALSE",
         "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem])
    run(["openssl", "x509", "-in", pem, "-outform", "DER", "-out", der])
    return {"key": key, "pem": pem, "der": der}


def sign(unsigned, steps, out, work):
    """Signs `unsigned` once per (digest, certificate) step, each after the first nested."""
    current = unsigned
    for number, (digest, certificate) in enumerate(steps):
        signed = os.path.join(work, "step%d.sys" % number)
        if os.path.exists(signed):
            os.remove(signed)
        run(["osslsigncode", "sign"] + (["-nest"] if number else []) +
            ["-h", digest, "-certs", certificate["pem"], "-key", certificate["key"],
             "-in", current, "-out", signed])
        current = signed
    shutil.copyfile(current, out)


def copy_packages(dist, target, x64_zip, driver, certificate_der):
    """dist's zips and SHA256SUMS in `target`, the x64 zip with `driver` and the certificate."""
    os.makedirs(target)
    names = sorted(n for n in os.listdir(dist) if n.endswith(".zip"))
    for name in names:
        if name != x64_zip:
            shutil.copyfile(os.path.join(dist, name), os.path.join(target, name))
            continue
        with zipfile.ZipFile(os.path.join(dist, name)) as old, \
                zipfile.ZipFile(os.path.join(target, name), "w", zipfile.ZIP_DEFLATED) as new:
            for info in old.infolist():
                data = old.read(info)
                if info.filename.endswith("/" + DRIVER):
                    with open(driver, "rb") as f:
                        data = f.read()
                elif info.filename.endswith("/" + CERTIFICATE):
                    with open(certificate_der, "rb") as f:
                        data = f.read()
                new.writestr(info, data)
    with open(os.path.join(target, "SHA256SUMS"), "w") as sums:
        for name in names:
            with open(os.path.join(target, name), "rb") as f:
                sums.write("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--program", action="append", required=True)
    args = parser.parse_args()

    x64_zip = "lptspi-%s-windows-x64.zip" % args.version
    if not os.path.isfile(os.path.join(args.dist, x64_zip)):
        print("SKIP: no %s in %s (run scripts/package.sh)" % (x64_zip, args.dist))
        return SKIP
    for tool in ("osslsigncode", "openssl"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed" % tool)
            return SKIP

    work = tempfile.mkdtemp(prefix="lptspi-package-check-test-")
    failures = 0
    try:
        with zipfile.ZipFile(os.path.join(args.dist, x64_zip)) as z:
            member = next(n for n in z.namelist() if n.endswith("/" + DRIVER))
            packaged = os.path.join(work, "packaged.sys")
            with open(packaged, "wb") as f:
                f.write(z.read(member))
        unsigned = os.path.join(work, "unsigned.sys")
        run(["osslsigncode", "remove-signature", "-in", packaged, "-out", unsigned])
        ours, other = make_certificate(work, "ours"), make_certificate(work, "other")

        digests = "%s: hwinterface.sys: signatures with digests %s, expected ['SHA1', 'SHA256']"
        cases = [
            ("SHA-1 with SHA-256 nested", [("sha1", ours), ("sha256", ours)], None),
            ("SHA-256 alone", [("sha256", ours)], digests % (x64_zip, "['SHA256']")),
            ("SHA-1 alone", [("sha1", ours)], digests % (x64_zip, "['SHA1']")),
            ("SHA-256 with SHA-1 nested", [("sha256", ours), ("sha1", ours)],
             digests % (x64_zip, "['SHA256', 'SHA1']")),
            # A signature whose certificate is not trusted: osslsigncode verify (2.9) still
            # exits 0 and counts it among the verified ones.
            ("SHA-256 nested by another certificate", [("sha1", ours), ("sha256", other)],
             "%s: hwinterface.sys: signature 1 does not verify" % x64_zip),
            ("SHA-1 by another certificate", [("sha1", other), ("sha256", ours)],
             "%s: hwinterface.sys: signature 0 does not verify" % x64_zip),
        ]
        for number, (what, steps, finding) in enumerate(cases):
            driver = os.path.join(work, "case%d.sys" % number)
            sign(unsigned, steps, driver, work)
            dist = os.path.join(work, "dist%d" % number)
            copy_packages(args.dist, dist, x64_zip, driver, ours["der"])
            check = subprocess.run(
                [sys.executable, os.path.join(HERE, "check_packages.py"), "--dist", dist,
                 "--version", args.version] + [a for p in args.program for a in ("--program", p)],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            out = check.stdout.decode(errors="replace")
            found = [line[5:] for line in out.splitlines() if line.startswith("FAIL ")]
            if finding is None:
                good = check.returncode == 0 and not found
            else:
                # Findings about the driver only, the expected one among them: the copy is
                # otherwise sound.
                driver_only = all(f.startswith("%s: hwinterface.sys: " % x64_zip) for f in found)
                good = check.returncode == 1 and driver_only and \
                    any(f.startswith(finding) for f in found)
            print("%s %s" % ("ok  " if good else "FAIL", what))
            if not good:
                print("  check_packages.py exited with %d, expected %s:\n%s" %
                      (check.returncode, "0" if finding is None else "1 with: " + finding, out))
                failures += 1
    except RuntimeError as e:
        print("FAIL %s" % e)
        failures += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
