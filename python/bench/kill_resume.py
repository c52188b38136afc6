"""Kills the client of a corvane.dask open job at random moments and finishes
each job with --resume: checks that every record comes out exactly once, in
order, that no folder is marked complete before it is, and that no part file
appears after the client is gone.

    PYTHONPATH=build/default/python /usr/bin/python3 python/bench/kill_resume.py --records 200000 --kills 10
"""

import argparse
import base64
import glob
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa

import corvane


def parts(folder):
    return sorted(glob.glob(os.path.join(folder, "part-*.txt")))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=200_000)
    parser.add_argument("--kills", type=int, default=10)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--partition-size", type=int, default=1 << 20)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="kill-resume-")
    oracle = rsa.generate_private_key(public_exponent=65537, key_size=1024)
    key_path = os.path.join(work, "key.pem")
    with open(key_path, "wb") as f:
        f.write(oracle.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                     serialization.NoEncryption()))
    key = corvane.RsaPrivateKey.from_file(key_path)
    messages = b"".join(base64.b64encode(os.urandom(256)) + b"\n" for _ in range(args.records))
    archive, _ = corvane.seal_message_lines(key.public_key(), messages)
    archive_path = os.path.join(work, "archive.txt")
    with open(archive_path, "wb") as f:
        f.write(archive)
    command = [sys.executable, "-m", "corvane.dask", "open", "--key", key_path, "--workers", str(args.workers),
               "--partition-size", str(args.partition_size)]

    # A whole run first, for its length.
    start = time.monotonic()
    subprocess.run(command + ["-o", os.path.join(work, "clean"), archive_path], check=True, capture_output=True)
    whole = time.monotonic() - start
    print(f"{args.records} records, a whole run {whole:.1f} s (cluster start-up included)")

    for trial in range(args.kills):
        folder = os.path.join(work, f"killed-{trial}")
        moment = rng.uniform(0.5, whole * 0.95)
        client = subprocess.Popen(command + ["-o", folder, archive_path], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True)
        time.sleep(moment)
        # The client alone: its cluster's processes are left to find it gone.
        client.send_signal(signal.SIGKILL)
        client.wait()
        at_kill = {p: os.stat(p).st_mtime_ns for p in parts(folder)}
        complete_at_kill = os.path.exists(os.path.join(folder, "_COMPLETE"))
        time.sleep(12)
        late = {p for p in parts(folder) if at_kill.get(p) != os.stat(p).st_mtime_ns}
        with contextlib_suppress():
            os.killpg(client.pid, signal.SIGKILL)
        resumed = subprocess.run(command + ["--resume", "-o", folder, archive_path], capture_output=True, text=True)
        joined = b"".join(open(p, "rb").read() for p in parts(folder))
        exact = joined == messages
        print(f"kill {trial + 1}: at {moment:.1f} s, {len(at_kill)} part files then, complete marked "
              f"{'yes' if complete_at_kill else 'no'}, {len(late)} written after the kill; resume exit "
              f"{resumed.returncode}, every record once and in order: {'yes' if exact else 'NO'}")
        if late or not exact or resumed.returncode != 0 or (complete_at_kill and len(at_kill) == 0):
            sys.exit(1)


class contextlib_suppress:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return exc[0] is not None and issubclass(exc[0], OSError)


if __name__ == "__main__":
    main()
