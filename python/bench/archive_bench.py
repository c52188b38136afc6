"""Records per second of an archive job: opening N envelopes (1024-bit key,
256-byte payloads by default) with corvane.dask on a local cluster of 1 and
then 2 worker processes, beside a cryptography + multiprocessing script that
does the same job (the same input file, the same output lines, in order)
with 1 and 2 processes.

The archive is made once (with corvane.seal_envelopes) and read by every
run; cluster and pool start-up are left out of the times, which cover the
whole job: for corvane.dask the planning (reading and hashing the input),
the wrong-key check, the partitions (reading, one native call each,
writing part files) and the job's own files (job.json, quarantine.tsv,
manifest.json); for the script, reading, opening and writing the output.
The runs alternate between the two sides, and each configuration's figure
is the median of --repeat runs. The load average before and after is
printed: on a small machine the figures need a quiet one.

    PYTHONPATH=build/default/python /usr/bin/python3 python/bench/archive_bench.py --records 1000000
"""

import argparse
import base64
import multiprocessing
import os
import shutil
import statistics
import tempfile
import time

from cryptography.hazmat.primitives import padding as sym_padding
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

import corvane
import corvane.dask

REFUSED = "error: envelope refused\n"
CHUNK = 10_000
# Several partitions per worker, so that two workers share the work evenly.
PARTITION_SIZE = 2 << 20

# ---- the cryptography + multiprocessing script ----------------------------------

_peer_key = None


def _peer_load(path):
    global _peer_key
    with open(path, "rb") as f:
        _peer_key = serialization.load_pem_private_key(f.read(), password=None)


def _peer_open(line):
    try:
        wrapped, payload = (base64.b64decode(field) for field in line.split())
        key = _peer_key.decrypt(wrapped, padding.PKCS1v15())
        if len(key) != 24:
            return REFUSED
        decryptor = Cipher(algorithms.TripleDES(key), modes.CBC(key[:8])).decryptor()
        unpadder = sym_padding.PKCS7(64).unpadder()
        plain = unpadder.update(decryptor.update(payload) + decryptor.finalize()) + unpadder.finalize()
        return base64.b64encode(plain).decode() + "\n"
    except ValueError:
        return REFUSED


def _peer_chunk(lines):
    return "".join(_peer_open(line) for line in lines)


def _chunks(path):
    with open(path) as f:
        while True:
            lines = [line for _, line in zip(range(CHUNK), f)]
            if not lines:
                return
            yield lines


def peer_job(path, key_path, output, processes):
    with multiprocessing.Pool(processes, initializer=_peer_load, initargs=(key_path,)) as pool:
        pool.map(abs, range(processes))  # started
        started = time.perf_counter()
        with open(output, "w") as out:
            for text in pool.imap(_peer_chunk, _chunks(path)):
                out.write(text)
        return time.perf_counter() - started


# ---- corvane.dask ------------------------------------------------------------------


def corvane_job(path, key_path, output, client):
    started = time.perf_counter()
    summary = corvane.dask.open_archive([path], output, corvane.dask.PrivateKeySource(key_path), client=client,
                                        partition_size=PARTITION_SIZE)
    elapsed = time.perf_counter() - started
    assert summary.refused == 0 and os.path.exists(os.path.join(output, corvane.dask.COMPLETE_FILE))
    return elapsed


def part_text(output):
    """The job's output: its part-NNNNN.txt files joined in name order."""
    names = sorted(n for n in os.listdir(output) if n.startswith("part-") and n.endswith(".txt"))
    return "".join(open(os.path.join(output, n)).read() for n in names)


def make_archive(path, key, records, payload_size):
    public = key.public_key()
    with open(path, "w") as f:
        for start in range(0, records, CHUNK):
            messages = [os.urandom(payload_size) for _ in range(min(CHUNK, records - start))]
            for envelope in corvane.seal_envelopes(public, messages):
                f.write(f"{base64.b64encode(envelope.wrapped_key).decode()} "
                        f"{base64.b64encode(envelope.payload).decode()}\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--payload", type=int, default=256)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    import distributed

    load_before = os.getloadavg()
    folder = tempfile.mkdtemp(prefix="corvane-archive-bench-")
    try:
        oracle = rsa.generate_private_key(public_exponent=65537, key_size=1024)
        key_path = os.path.join(folder, "key.pem")
        with open(key_path, "wb") as f:
            f.write(oracle.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                         serialization.NoEncryption()))
        archive = os.path.join(folder, "archive.txt")
        make_archive(archive, corvane.RsaPrivateKey.from_file(key_path), args.records, args.payload)
        times = {}
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                          dashboard_address=None) as cluster, distributed.Client(cluster) as client:
                for run in range(args.repeat):
                    out = os.path.join(folder, f"corvane-{workers}-{run}")
                    times.setdefault(("corvane", workers), []).append(corvane_job(archive, key_path, out, client))
                    peer_out = os.path.join(folder, f"peer-{workers}-{run}.txt")
                    times.setdefault(("peer", workers), []).append(peer_job(archive, key_path, peer_out, workers))
                    with open(peer_out) as p:
                        peer_lines = p.read()
                    assert part_text(out) == peer_lines, "the two jobs disagree"
                    shutil.rmtree(out)
                    os.unlink(peer_out)
        rate = {k: args.records / statistics.median(v) for k, v in times.items()}
        print(f"{args.records} envelopes, {args.payload}-byte payloads, 1024-bit key, median of {args.repeat} runs; "
              f"load average {load_before[0]:.2f} before, {os.getloadavg()[0]:.2f} after")
        for workers in (1, 2):
            print(f"{workers} worker(s): corvane.dask {rate[('corvane', workers)]:10.0f} records/s, "
                  f"cryptography + multiprocessing {rate[('peer', workers)]:10.0f} records/s, "
                  f"ratio {rate[('corvane', workers)] / rate[('peer', workers)]:.2f}x")
        print(f"from 1 to 2 workers: corvane.dask {rate[('corvane', 2)] / rate[('corvane', 1)]:.2f}x, "
              f"cryptography {rate[('peer', 2)] / rate[('peer', 1)]:.2f}x")
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
