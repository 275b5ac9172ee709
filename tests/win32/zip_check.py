#!/usr/bin/env python3
"""The Windows zip: cpack -G ZIP in the Windows build makes vorlo-VERSION-win64.zip with
vorlo.exe, the README and the manual as text with Windows line ends."""
import subprocess
import sys
import tempfile
import zipfile

build, version = sys.argv[1:3]
with tempfile.TemporaryDirectory() as out:
    subprocess.run(["cpack", "-G", "ZIP", "-B", out], cwd=build, check=True, capture_output=True)
    with zipfile.ZipFile(f"{out}/vorlo-{version}-win64.zip") as z:
        names = sorted(z.namelist())
        assert names == ["README.txt", "vorlo-manual.txt", "vorlo.exe"], names
        assert z.read("vorlo.exe")[:2] == b"MZ"
        for text in ("README.txt", "vorlo-manual.txt"):
            body = z.read(text)
            assert body.count(b"\r\n") > 100 and body.count(b"\n") == body.count(b"\r\n"), text
            assert b"\x08" not in body and b"\x1b[" not in body, text + " carries terminal controls"
        assert b"--connection" in z.read("vorlo-manual.txt")
print("zip: 1 passed, 0 failed")
