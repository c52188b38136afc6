"""Archive jobs on Dask: open, seal or re-encrypt text files of envelopes.

An archive is one or more text files with one record a line. Opening reads
envelopes, a wrapped key and a payload as two Base64 fields separated by a
space or a tab (as ``corvane envelope open --lines`` reads them), and writes
each plaintext in Base64; sealing reads Base64 messages and writes envelopes;
re-encrypting opens each envelope under one private key and seals the
plaintext under another public key. As with the tool, an envelope that does
not open gives ``error: envelope refused`` in its place, and a line that is
not a record ``error: not an envelope: ...`` (opening) or ``error: not
valid Base64`` (sealing).

The files are cut into partitions of a dask.bag, and each partition is
worked on by one task, with the library's batch calls. Output goes to
``part-NNNNN.txt`` files in the output folder, one per partition: joined in
name order they hold one line per input line, in input order. Each is
written to a temporary file and renamed into place, so that a partition
that fails (or a worker that dies) leaves no partial file.

Keys never travel in the task graph: the graph holds only the key file's
path and the name of the environment variable, or the path of the file,
from which a worker takes the passphrase. Each worker process reads the key
once, on its first task, and keeps it. On a cluster the input, key and
output paths must name the same files on every worker (a shared file
system), and the passphrase variable must be set in the workers'
environment.

From the command line::

    python3 -m corvane.dask open --key server.pem -o opened/ archive/*.txt
    python3 -m corvane.dask open --key server.pem --passphrase-env KEY_PASS \\
        --scheduler tcp://scheduler:8786 -o /shared/opened /shared/archive/*.txt
"""

import argparse
import contextlib
import dataclasses
import glob
import os
import re
import sys
import tempfile
import threading
from typing import Iterable, List, Optional, Sequence, Tuple, Union

import dask.bag

import corvane

REFUSED = "error: envelope refused"
NOT_AN_ENVELOPE = "error: not an envelope: two Base64 fields separated by a space or tab"
NOT_BASE64 = "error: not valid Base64"
_ENVELOPE_LINE = re.compile(r"([^ \t]+)[ \t]+([^ \t]+)")
DEFAULT_PARTITION_SIZE = 8 << 20


@dataclasses.dataclass(frozen=True)
class PrivateKeySource:
    """Where a worker finds a private key: its file, and for an encrypted key
    the environment variable or the file that holds the passphrase. Only
    these names are ever put in the task graph."""

    path: str
    passphrase_env: Optional[str] = None
    passphrase_file: Optional[str] = None


@dataclasses.dataclass(frozen=True)
class Summary:
    """What a job did: lines read, envelopes refused, lines that were not
    records, output files written."""

    records: int
    refused: int
    invalid: int
    files: int


@dataclasses.dataclass(frozen=True)
class _Job:
    operation: str  # "open", "seal" or "reencrypt"
    output_dir: str
    private_key: Optional[PrivateKeySource] = None
    public_key: Optional[str] = None
    hex_key: bool = False


# ---- on the workers ---------------------------------------------------------

_keys = {}
_keys_lock = threading.Lock()
# How many keys this process has read, for the tests that check that a worker
# reads its key once and not per task.
key_loads = 0


def _read_passphrase(source: PrivateKeySource) -> Optional[bytearray]:
    if source.passphrase_env is not None:
        value = os.environb.get(source.passphrase_env.encode())
        if value is None:
            raise RuntimeError(f"the passphrase variable {source.passphrase_env} is not set on this worker")
        return bytearray(value)
    if source.passphrase_file is not None:
        with open(source.passphrase_file, "rb") as f:
            return bytearray(f.read().rstrip(b"\r\n"))
    return None


def _load_key(kind: str, source: Union[PrivateKeySource, str]):
    global key_loads
    with _keys_lock:
        if (kind, source) not in _keys:
            if kind == "private":
                passphrase = _read_passphrase(source)
                try:
                    _keys[(kind, source)] = corvane.RsaPrivateKey.from_file(source.path, passphrase)
                finally:
                    if passphrase is not None:
                        passphrase[:] = bytes(len(passphrase))
            else:
                _keys[(kind, source)] = corvane.RsaPublicKey.from_file(source)
            key_loads += 1
        return _keys[(kind, source)]


def _decoded(field: str) -> Optional[bytes]:
    """The bytes of padded standard Base64, as the tool reads it (a NUL,
    which would end the text, is refused)."""
    if "\0" in field:
        return None
    try:
        return corvane.base64_decode(field)
    except corvane.Error:
        return None


def _record_text(line: str) -> str:
    """A line as the tool reads it: without its line feed, and without one
    carriage return at its end (a lone carriage return elsewhere, a form feed
    or a NEL stays in the record)."""
    if line.endswith("\n"):
        line = line[:-1]
    return line[:-1] if line.endswith("\r") else line


def _envelope_of(line: str) -> Optional[Tuple[bytes, bytes]]:
    """The wrapped key and the payload of an envelope line, as the tool reads
    it: two Base64 fields separated by spaces or tabs; None for another line."""
    fields = _ENVELOPE_LINE.fullmatch(_record_text(line))
    if fields is None:
        return None
    wrapped, payload = _decoded(fields[1]), _decoded(fields[2])
    if not wrapped or payload is None:
        return None
    return wrapped, payload


def _envelope_line(envelope) -> str:
    return f"{corvane.base64_encode(envelope.wrapped_key).decode()} {corvane.base64_encode(envelope.payload).decode()}\n"


def _opened(job: _Job, lines: Sequence[str]) -> List[Union[bytes, corvane.Error, None]]:
    """Per line its plaintext, or an error (None for a line that is not an
    envelope)."""
    envelopes = [_envelope_of(line) for line in lines]
    valid = [e for e in envelopes if e is not None]
    opened = iter(corvane.open_envelopes(_load_key("private", job.private_key), valid))
    return [next(opened) if e is not None else None for e in envelopes]


def _sealed_lines(job: _Job, messages: List[Union[bytes, str]]) -> List[str]:
    """Per message its envelope line; an error line (str) stays as it is."""
    present = [m for m in messages if isinstance(m, bytes)]
    sealed = iter(corvane.seal_envelopes(_load_key("public", job.public_key), present, hex_key=job.hex_key))
    return [_envelope_line(next(sealed)) if isinstance(m, bytes) else m for m in messages]


def _record_lines(job: _Job, lines: Sequence[str]) -> List[str]:
    """The output lines of one partition."""
    if job.operation == "seal":
        # Whitespace alone is the empty message, as the tool reads it.
        messages = [_decoded(line.strip()) if line.strip() else b"" for line in lines]
        return _sealed_lines(job, [m if m is not None else NOT_BASE64 + "\n" for m in messages])
    opened = [p if isinstance(p, bytes) else (NOT_AN_ENVELOPE if p is None else REFUSED) + "\n"
              for p in _opened(job, lines)]
    if job.operation == "open":
        return [corvane.base64_encode(p).decode() + "\n" if isinstance(p, bytes) else p for p in opened]
    return _sealed_lines(job, opened)


def write_atomically(path: str, lines: Iterable[str]) -> None:
    """Writes the lines to a temporary file beside path, then renames it to
    path: the file is there whole, or not at all."""
    directory, name = os.path.split(path)
    fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(fd, "w", encoding="ascii") as f:
            f.writelines(lines)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _partition_path(output_dir: str, index: int) -> str:
    return os.path.join(output_dir, f"part-{index:05d}.txt")


def _run_partition(lines: Sequence[str], index: Sequence[int], job: _Job) -> List[Tuple[int, int, int]]:
    lines = list(lines)
    out = _record_lines(job, lines)
    # One line out per line in, or the part file would shift every later
    # record onto the line of another.
    if len(out) != len(lines):
        raise RuntimeError(f"partition {index[0]}: {len(out)} lines out for {len(lines)} in")
    write_atomically(_partition_path(job.output_dir, index[0]), out)
    refused = out.count(REFUSED + "\n")
    return [(len(out), refused, sum(line.startswith("error: ") for line in out) - refused)]


# ---- on the client ------------------------------------------------------------


def plan(job: _Job, inputs: Sequence[str], partition_size: int = DEFAULT_PARTITION_SIZE) -> dask.bag.Bag:
    """The job as a bag of one (records, refused, invalid) triple per partition."""
    # Records end at a line feed only, as the tool's do: without the
    # delimiter, read_text would also end one at a lone carriage return.
    lines = dask.bag.read_text(list(inputs), blocksize=partition_size, encoding="latin-1", linedelimiter="\n")
    indices = dask.bag.from_sequence(range(lines.npartitions), npartitions=lines.npartitions)
    return lines.map_partitions(_run_partition, indices, job=job)


def _existing_parts(output_dir: str) -> List[str]:
    return glob.glob(os.path.join(output_dir, "part-*.txt"))


def _run(job: _Job, inputs, client, workers, partition_size, progress) -> Summary:
    if not inputs:
        raise ValueError("no input files")
    os.makedirs(job.output_dir, exist_ok=True)
    if _existing_parts(job.output_dir):
        raise FileExistsError(f"{job.output_dir} already holds part files of another job")
    bag = plan(job, inputs, partition_size)
    if client == "synchronous":
        counts = bag.compute(scheduler="synchronous")
    else:
        with contextlib.ExitStack() as stack:
            if client is None:
                client = stack.enter_context(_local_client(workers))
            future = client.compute(bag)
            if progress:
                import distributed

                with contextlib.redirect_stdout(sys.stderr):
                    distributed.progress(future)
            counts = future.result()
    # Temporary files of workers that died half-way; their partitions were
    # written again by others.
    for leftover in glob.glob(os.path.join(job.output_dir, ".part-*.tmp")):
        with contextlib.suppress(OSError):
            os.unlink(leftover)
    return Summary(*(sum(c[i] for c in counts) for i in range(3)), files=len(counts))


@contextlib.contextmanager
def _local_client(workers: Optional[int]):
    import distributed

    with distributed.LocalCluster(
        n_workers=workers or os.cpu_count() or 1, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def open_archive(inputs, output_dir, key: PrivateKeySource, *, client=None, workers=None,
                 partition_size=DEFAULT_PARTITION_SIZE, progress=False) -> Summary:
    """Opens every envelope of the input files. client: a distributed.Client,
    "synchronous" to run in this process, or None for a local cluster of
    ``workers`` processes (one per CPU by default)."""
    job = _Job("open", os.path.abspath(output_dir), private_key=key)
    return _run(job, inputs, client, workers, partition_size, progress)


def seal_archive(inputs, output_dir, public_key: str, *, hex_key=False, client=None, workers=None,
                 partition_size=DEFAULT_PARTITION_SIZE, progress=False) -> Summary:
    """Seals every Base64 message of the input files under the public key."""
    job = _Job("seal", os.path.abspath(output_dir), public_key=os.path.abspath(public_key), hex_key=hex_key)
    return _run(job, inputs, client, workers, partition_size, progress)


def reencrypt_archive(inputs, output_dir, key: PrivateKeySource, public_key: str, *, hex_key=False, client=None,
                      workers=None, partition_size=DEFAULT_PARTITION_SIZE, progress=False) -> Summary:
    """Opens every envelope under the private key and seals its plaintext
    under the public key."""
    job = _Job("reencrypt", os.path.abspath(output_dir), private_key=key, public_key=os.path.abspath(public_key),
               hex_key=hex_key)
    return _run(job, inputs, client, workers, partition_size, progress)


# ---- the command line -----------------------------------------------------------


def _arguments(argv):
    parser = argparse.ArgumentParser(prog="python3 -m corvane.dask", description=__doc__.split("\n\n")[0])
    actions = parser.add_subparsers(dest="action", required=True)
    for name, summary in [("open", "open envelopes; writes the plaintexts in Base64"),
                          ("seal", "seal Base64 messages into envelopes"),
                          ("reencrypt", "open envelopes and seal their plaintexts under another key")]:
        action = actions.add_parser(name, help=summary, description=summary)
        if name != "seal":
            action.add_argument("--key", required=True, help="the private key file (PEM or DER)")
            secret = action.add_mutually_exclusive_group()
            # Spelled as the tool spells them; the names of the first
            # release still work, unlisted.
            secret.add_argument("--passin-env", metavar="VAR", dest="passin_env",
                                help="the environment variable that holds the key's passphrase on the workers")
            secret.add_argument("--passin-file", metavar="FILE", dest="passin_file",
                                help="a file the workers can read whose first line is the passphrase")
            secret.add_argument("--passphrase-env", dest="passin_env", help=argparse.SUPPRESS)
            secret.add_argument("--passphrase-file", dest="passin_file", help=argparse.SUPPRESS)
        if name != "open":
            action.add_argument("--pubkey", required=True, help="the public key file to seal under")
            action.add_argument("--hex-key", action="store_true",
                                help="seal under 24 hexadecimal characters, for peers that treat the key as text")
        action.add_argument("-o", "--output", required=True, help="the folder for the part-NNNNN.txt files")
        action.add_argument("--scheduler", metavar="ADDRESS",
                            help="a Dask scheduler (tcp://HOST:PORT), or 'synchronous' to run in this process; "
                                 "by default a local cluster of --workers processes")
        action.add_argument("--workers", type=int, help="processes of the local cluster (default: one per CPU)")
        action.add_argument("--partition-size", type=int, default=DEFAULT_PARTITION_SIZE, metavar="BYTES",
                            help="input bytes per partition (default: 8 MiB)")
        action.add_argument("--no-progress", action="store_true", help="no progress bar")
        action.add_argument("inputs", nargs="+", metavar="INPUT", help="text files of records")
    return parser.parse_args(argv)


def main(argv=None) -> int:
    """Runs a job from the command line: 0 when every record went through, 1
    when some were refused or were not records (counted at the end), 2 for a
    job that could not run."""
    args = _arguments(argv)
    key = None
    if args.action != "seal":
        key = PrivateKeySource(os.path.abspath(args.key), args.passin_env,
                               os.path.abspath(args.passin_file) if args.passin_file else None)
    options = dict(partition_size=args.partition_size, workers=args.workers,
                   progress=not args.no_progress and sys.stderr.isatty())
    client = None
    with contextlib.ExitStack() as stack:
        if args.scheduler == "synchronous":
            client = "synchronous"
        elif args.scheduler:
            import distributed

            client = stack.enter_context(distributed.Client(args.scheduler))
        try:
            if args.action == "open":
                summary = open_archive(args.inputs, args.output, key, client=client, **options)
            elif args.action == "seal":
                summary = seal_archive(args.inputs, args.output, args.pubkey, hex_key=args.hex_key, client=client,
                                       **options)
            else:
                summary = reencrypt_archive(args.inputs, args.output, key, args.pubkey, hex_key=args.hex_key,
                                            client=client, **options)
        except (OSError, ValueError, RuntimeError) as error:
            print(f"corvane.dask: {error}", file=sys.stderr)
            return 2
    print(f"{summary.records} lines, {summary.refused} refused, {summary.invalid} not records, {summary.files} files",
          file=sys.stderr)
    return 1 if summary.refused or summary.invalid else 0


if __name__ == "__main__":
    # Run through the imported module, so that the functions the workers
    # receive are corvane.dask's, not this script's.
    from corvane.dask import main as _main

    sys.exit(_main())
