#!/usr/bin/env python3
"""Fault-injection campaign: many uploads into vorlo-sim targets whose replies come
twice, late, garbled, cut short, refused or not at all. Every run must either program
the whole image or fail; a run that ends with exit code 0 and wrong target memory is a
false success, and the campaign fails on the first one.

    bench/faults/run.py [--runs N] [--seed S] [--jobs J] [--build DIR]
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DRIVERS = [
    ("GEN_IAP", "gen_iap", ["C", "I", "W", "E"]),
    ("MIC_EXTMEM", "mic_extmem", ["entry", "C", "I", "W", "E"]),
]
# Silent bit flips are left out: a protocol without read-back cannot see them.
KINDS = ["drop", "corrupt", "dup", "late", "short", "nak"]


def random_plan(rng, keys):
    items = []
    for _ in range(rng.randint(1, 3)):
        kind = rng.choice(KINDS)
        key = rng.choice(keys + ["W", "W"])  # the write frames matter most
        if kind == "late":
            kind += ":%d" % rng.choice([20, 60, 300, 2100, 5100, 6000])
        if kind == "nak" and key not in ("W", "E"):
            kind = "dup"
        n = rng.randint(1, 6)
        items.append("%s@%s#%d" % (kind, key, n))
    return ";".join(items)


def one_run(build, index, driver, protocol, plan, image):
    work = tempfile.mkdtemp(prefix="vorlo-faults-")
    code = os.path.join(work, "app.bin")
    with open(code, "wb") as f:
        f.write(image)
    memory = os.path.join(work, "memory.bin")
    sim = subprocess.Popen(
        [os.path.join(build, "vorlo-sim"), "--protocol=" + protocol, "--baud=115200", "--nak=15",
         "--fault=" + plan, "--dump-bin=" + memory, "--timeout=120"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = sim.stdout.readline().strip()
    env = dict(os.environ, HOME=work, TMP=work)
    start = time.monotonic()
    run = subprocess.run(
        [os.path.join(build, "vorlo"), "--driver=" + driver, "--connection=%s,115200,8,N,1" % port,
         "--format=BINARY", "--importcode=" + code, "--erase", "--write"],
        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300)
    seconds = time.monotonic() - start
    sim.terminate()
    sim.wait(timeout=30)
    with open(memory, "rb") as f:
        written = f.read()
    padded = image + b"\xff" * (len(written) - len(image)) if len(written) >= len(image) else image
    correct = written[:len(image)] == image and written == padded
    subprocess.run(["rm", "-rf", work])
    return index, driver, plan, run.returncode, correct, seconds, run.stderr.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=300, help="uploads per driver")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    image = bytes(rng.randrange(256) for _ in range(2048))
    work = []
    for driver, protocol, keys in DRIVERS:
        for _ in range(args.runs):
            work.append((driver, protocol, random_plan(rng, keys)))

    counts = {}
    false_success = []
    with ThreadPoolExecutor(max_workers=args.jobs) as pool:
        futures = [pool.submit(one_run, args.build, i, d, p, plan, image) for i, (d, p, plan) in enumerate(work)]
        for future in futures:
            index, driver, plan, code, correct, seconds, err = future.result()
            outcome = "programmed" if code == 0 and correct else ("FALSE SUCCESS" if code == 0 else "failed")
            counts[(driver, outcome)] = counts.get((driver, outcome), 0) + 1
            if outcome == "FALSE SUCCESS":
                false_success.append((driver, plan))
            print("%4d %-10s %-40s exit %3d %-13s %5.1fs %s" % (index, driver, plan, code, outcome, seconds, err[-60:]),
                  flush=True)
    print()
    for (driver, outcome), n in sorted(counts.items()):
        print("%-10s %-13s %d" % (driver, outcome, n))
    if false_success:
        print("false successes:", false_success)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
