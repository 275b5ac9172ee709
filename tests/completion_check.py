#!/usr/bin/env python3
"""Completion as a user meets it: an interactive bash on a pseudo-terminal, with
bash-completion's loader finding the installed completion file on demand. Each case
types a line and TAB, then moves to the start of the line and makes it an echo, so the
line bash completed comes back as text.

    completion_check.py COMPLETION_FILE BUILD_DIR
"""
import os
import pty
import re
import select
import shutil
import sys
import tempfile
import time

completion_file, build_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
loader = "/usr/share/bash-completion/bash_completion"
if not os.path.exists(loader):
    print("bash-completion is not installed")
    sys.exit(77)

home = tempfile.mkdtemp()
# Where bash-completion looks for a command's completion when it is first asked for.
user_dir = os.path.join(home, "bash-completion")
os.makedirs(os.path.join(user_dir, "completions"))
for name in ("vorlo", "vorlo-sim"):
    shutil.copy(completion_file, os.path.join(user_dir, "completions", name))
open(os.path.join(home, "app.hex"), "w").close()
# A program that answers the completion's question with a word of its own: the lists
# come from the program completed, not from the completion file.
stub = os.path.join(home, "stub", "vorlo")
os.makedirs(os.path.dirname(stub))
with open(stub, "w") as f:
    f.write('#!/bin/sh\n[ "$1" = --complete=formats ] && echo FROM_THE_PROGRAM\n')
os.chmod(stub, 0o755)
os.mkdir(os.path.join(home, "by-path:pci-0000:00"))

env = {
    "HOME": home,
    "PATH": build_dir + ":/usr/bin:/bin",
    "TERM": "dumb",
    "BASH_COMPLETION_USER_DIR": user_dir,
    "INPUTRC": "/dev/null",
}
pid, fd = pty.fork()
if pid == 0:
    os.chdir(home)
    os.execve("/bin/bash", ["bash", "--norc", "--noprofile", "-i"], env)


def read_until(pattern, timeout=10.0):
    data = b""
    end = time.time() + timeout
    while time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            data += chunk
            if re.search(pattern, data):
                return data
    raise SystemExit("timed out waiting for %r; got %r" % (pattern, data))


os.write(fd, b"PS1='$ '; bind 'set bell-style none'; source %s; echo READY\n" % loader.encode())
read_until(rb"\nREADY\r?\n\$ ")

cases = [
    # (typed before TAB, the line bash should end up with)
    ("vorlo --driver=msp43", "vorlo --driver=msp430bsl"),
    ("vorlo --format=INTELH", "vorlo --format=INTELHEX"),
    ("vorlo --help=exit", "vorlo --help=exit-codes"),
    ("vorlo --progress=pl", "vorlo --progress=plain"),
    ("vorlo --resetctrl=RT", "vorlo --resetctrl=RTS,"),
    ("vorlo --impo", "vorlo --importcode="),
    ("vorlo --importcode=ap", "vorlo --importcode=app.hex"),
    ("vorlo --importcode=by-path:pci", "vorlo --importcode=by-path:pci-0000:00"),
    ("vorlo --erase --write --driver=mod", "vorlo --erase --write --driver=modbus,"),
    ("vorlo --gangrep", "vorlo --gangreport="),
    ("vorlo --loc", "vorlo --localhostonly"),
    ("vorlo --help=msp", "vorlo --help=msp430bsl"),
    ("stub/vorlo --format=FROM", "stub/vorlo --format=FROM_THE_PROGRAM"),
    ("vorlo-sim --protocol=msp", "vorlo-sim --protocol=msp430_bsl"),
    ("vorlo-sim --proto", "vorlo-sim --protocol="),
]
failures = []
for n, (typed, expected) in enumerate(cases):
    marker = "DONE%d" % n
    # TAB; Ctrl-A to the start of the line; make it an echo between markers.
    os.write(fd, typed.encode() + b"\t")
    time.sleep(0.3)
    os.write(fd, b"\x01echo '<'")
    os.write(fd, b"\x05'>'; echo %s\n" % marker.encode())
    out = read_until(rb"\n" + marker.encode() + rb"\r?\n\$ ").decode(errors="replace")
    lines = [l for l in out.replace("\r", "").split("\n") if l.startswith("<")]
    got = lines[-1][1:-1].strip() if lines else "(nothing)"
    if got != expected:
        failures.append("%r: bash completed it to %r, not %r" % (typed, got, expected))

os.write(fd, b"exit\n")
os.waitpid(pid, 0)
shutil.rmtree(home, ignore_errors=True)
for f in failures:
    print(f)
sys.exit(1 if failures else 0)
