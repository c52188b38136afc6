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

Opening is in the archive mode by default: a wrapped key that does not
unpad is refused outright (never opened under a substitute key), and each
refusal has its reason (``envelope malformed``, ``wrapped key refused``,
``payload padding refused``, ``key not text`` with ``text_keys``).
``uniform=True`` gives the one refusal a service facing senders must give.

The files are cut into partitions at line ends, planned here from the
inputs (each partition knows its file and the number of its first line),
and each partition is one task: its bytes go to one native call, its
output to ``part-NNNNN.txt`` and its counts and bad lines to
``part-NNNNN.json`` in the output folder. Joined in name order the part
files hold one line per input line, in input order. The folder also holds
``job.json`` (what the job is: operation, parameters without secrets, the
inputs with size and SHA-256, the partitions), ``job.log`` (start, progress
every five seconds, the end), and at the end ``quarantine.tsv`` (every bad
line: file, line, reason, the line itself), ``manifest.json`` (job.json
with the counts) and last ``_COMPLETE``. A folder without ``_COMPLETE`` is
unfinished: running the same job into it again runs only the partitions
whose part file is missing. Every file is written under a temporary name
and renamed when whole.

A worker writes its part file only while the job's client holds the
folder's lease (``_LEASE``, refreshed every second) and its task has not
been cancelled, so that a client that died or gave up leaves no late part
file behind.

Keys never travel in the task graph: the graph holds only the key file's
path and the name of the environment variable, or the path of the file,
from which a worker takes the passphrase. Each worker process reads the key
once, on its first task, and keeps it. On a cluster the input, key and
output paths must name the same files on every worker and on the client (a
shared file system), the passphrase variable must be set in the workers'
environment, and the clocks must agree within a few seconds.

From the command line::

    python3 -m corvane.dask open --key server.pem -o opened/ archive/*.txt
    python3 -m corvane.dask open --key server.pem --passin-env KEY_PASS \\
        --scheduler tcp://scheduler:8786 -o /shared/opened /shared/archive/*.txt
"""

import argparse
import contextlib
import dataclasses
import hashlib
import json
import os
import signal
import sys
import tempfile
import threading
import time
import uuid
from typing import Callable, Iterable, List, Optional, Sequence, Tuple, Union

import corvane

REFUSED = "error: envelope refused"
NOT_AN_ENVELOPE = "error: not an envelope: two Base64 fields separated by a space or tab"
NOT_BASE64 = "error: not valid Base64"
DEFAULT_PARTITION_SIZE = 8 << 20
# The version of job.json's layout; a folder of another version is another job.
JOB_VERSION = 1
# The short reasons of a refused envelope; the other reasons ("not an
# envelope", "line too long", "not Base64") are lines that are not records.
REFUSALS = frozenset({"envelope refused", "envelope malformed", "wrapped key refused", "payload padding refused",
                      "key not text"})
NOT_RECORDS = frozenset({"not an envelope", "line too long", "not Base64"})
# The wrong-key check: among the first envelopes of the first input, this
# many refused (or more) out of this many stops the job.
PROBE_ENVELOPES = 1000
MESSAGES_SHOWN = 10
PROGRESS_INTERVAL = 5.0
LEASE_REFRESH = 1.0
LEASE_STALE = 10.0
# The longest line the tool and the native calls read as a record.
LINE_LIMIT = 65536

JOB_FILE = "job.json"
MANIFEST_FILE = "manifest.json"
COMPLETE_FILE = "_COMPLETE"
LEASE_FILE = "_LEASE"
LOG_FILE = "job.log"
QUARANTINE_FILE = "quarantine.tsv"
_VERBS = {"open": "opened", "seal": "sealed", "reencrypt": "re-sealed"}


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
    records, output files written (over the whole job, resumed runs
    included). already_complete: the folder held the finished job, and
    nothing ran."""

    records: int
    refused: int
    invalid: int
    files: int
    already_complete: bool = dataclasses.field(default=False, compare=False)

    @property
    def done(self) -> int:
        """Records opened, sealed or re-sealed."""
        return self.records - self.refused - self.invalid


class JobError(RuntimeError):
    """A job that cannot run or did not finish; the message says why and
    what to do."""


class WrongKeyError(JobError):
    """Nearly every envelope of the first ones the job read was refused:
    the key is probably not the archive's."""

    def __init__(self, operation: str, key: str, refused: int, envelopes: int, lines_read: int):
        self.operation, self.key, self.refused, self.envelopes, self.lines_read = (
            operation, key, refused, envelopes, lines_read)
        super().__init__(f"corvane.dask {operation}: {refused} of the first {envelopes} envelopes refused: is {key} "
                         "the key they were sealed under? Check --key, or add --keep-going to open every line anyway")


class _LeaseLost(JobError):
    """A worker's part file that was not written: the job's client gave up."""


@dataclasses.dataclass(frozen=True)
class _Job:
    operation: str  # "open", "seal" or "reencrypt"
    output_dir: str
    private_key: Optional[PrivateKeySource] = None
    public_key: Optional[str] = None
    hex_key: bool = False
    uniform: bool = False
    text_keys: bool = False
    run: str = ""  # the client's run, whose lease a worker checks
    name_width: int = 5  # digits of the part files' numbers


@dataclasses.dataclass(frozen=True)
class _Partition:
    """A run of whole lines of one input: bytes [start, start + length), its
    first line the file's line first_line (from 1), line_ends line feeds."""

    index: int
    input: int
    path: str
    start: int
    length: int
    first_line: int
    line_ends: int
    ends_with_line_feed: bool = True  # False for a file's last line without one

    @property
    def records(self) -> int:
        return self.line_ends + (0 if self.ends_with_line_feed or not self.length else 1)


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


def _transform(job: _Job, data: bytes) -> Tuple[bytes, List[Tuple[int, str]]]:
    """One partition's lines through one native call: the output lines, and
    (index, reason) for each line that gave an error line."""
    if job.operation == "seal":
        return corvane.seal_message_lines(_load_key("public", job.public_key), data, hex_key=job.hex_key)
    private = _load_key("private", job.private_key)
    if job.operation == "open":
        return corvane.open_envelope_lines(private, data, archive=not job.uniform, text_keys=job.text_keys)
    return corvane.reencrypt_envelope_lines(private, _load_key("public", job.public_key), data,
                                            archive=not job.uniform, text_keys=job.text_keys, hex_key=job.hex_key)


def _probe(job: _Job, path: str) -> Tuple[int, int, int]:
    """Opens the first PROBE_ENVELOPES envelopes of the file (all, when it
    has fewer): (lines read, envelopes, refused). Reads in bounded memory,
    stepping over a line too long to be a record."""
    lines_read = envelopes = refused = 0
    pending, skipping = b"", False
    with open(path, "rb") as f:
        while envelopes < PROBE_ENVELOPES:
            block = f.read(1 << 18)
            at_end = not block
            if skipping:
                end = block.find(b"\n")
                if end < 0:
                    if at_end:
                        break
                    continue
                skipping, block = False, block[end + 1:]
            pending += block
            cut = len(pending) if at_end else pending.rfind(b"\n") + 1
            if cut == 0:
                if at_end:
                    break
                if len(pending) > LINE_LIMIT + 1:
                    lines_read, pending, skipping = lines_read + 1, b"", True
                continue
            data, pending = pending[:cut], pending[cut:]
            _, bad = _transform(dataclasses.replace(job, operation="open"), data)
            reasons = dict(bad)
            count = data.count(b"\n") + (0 if data.endswith(b"\n") else 1)
            for i in range(count):
                reason = reasons.get(i)
                if reason in NOT_RECORDS:
                    continue
                envelopes += 1
                refused += reason is not None
                if envelopes == PROBE_ENVELOPES:
                    count = i + 1
                    break
            lines_read += count
            if at_end:
                break
    return lines_read, envelopes, refused


def _task_cancelled() -> bool:
    """Whether this runs as a task of a Dask worker that the scheduler has
    since cancelled (its client went away or gave the job up)."""
    if "distributed" not in sys.modules:
        return False
    try:
        from distributed.worker import get_worker, thread_state

        key = getattr(thread_state, "key", None)
        if key is None:
            return False
        task = get_worker().state.tasks.get(key)
    except (ImportError, ValueError, AttributeError):
        return False
    return task is None or task.state in ("cancelled", "released", "forgotten")


def _lease_problem(job: _Job) -> Optional[str]:
    """Why this run may not write into the folder now, or None."""
    if _task_cancelled():
        return "its task was cancelled (the job's client is gone)"
    try:
        with open(os.path.join(job.output_dir, LEASE_FILE), "rb") as f:
            lease = json.load(f)
        run, refreshed = lease["run"], float(lease["time"])
    except (OSError, ValueError, KeyError, TypeError):
        return "the job's lease is gone (its client ended)"
    if run != job.run:
        return "another run of the job holds the folder's lease"
    age = time.time() - refreshed
    if not -LEASE_STALE < age < LEASE_STALE:
        return f"the job's lease was last refreshed {age:.0f} s ago (its client stopped)"
    return None


def _write_temporary(path: str, chunks: Iterable[Union[bytes, str]]) -> str:
    """The chunks in a new temporary file beside path, synced; its name."""
    directory, name = os.path.split(path)
    fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(fd, "wb") as f:
            for chunk in chunks:
                f.write(chunk.encode() if isinstance(chunk, str) else chunk)
            f.flush()
            os.fsync(f.fileno())
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
    return temporary


def write_atomically(path: str, chunks: Iterable[Union[bytes, str]]) -> None:
    """Writes the chunks (str or bytes) to a temporary file beside path, then
    renames it to path: the file is there whole, or not at all."""
    os.replace(_write_temporary(path, chunks), path)


def _commit(job: _Job, files: Sequence[Tuple[str, bytes]]) -> None:
    """Writes the files whole, in order, if this run still holds the
    folder's lease; otherwise writes none of them and raises _LeaseLost."""
    temporaries = []
    try:
        for path, data in files:
            temporaries.append((_write_temporary(path, [data]), path))
        problem = _lease_problem(job)
        if problem is not None:
            raise _LeaseLost(f"{os.path.basename(files[-1][0])} was not written: {problem}")
        while temporaries:
            temporary, path = temporaries.pop(0)
            os.replace(temporary, path)
    finally:
        for temporary, _ in temporaries:
            with contextlib.suppress(OSError):
                os.unlink(temporary)


def _part_path(job: _Job, index: int, suffix: str) -> str:
    return os.path.join(job.output_dir, f"part-{index:0{job.name_width}d}{suffix}")


def _read_block(part: _Partition) -> bytes:
    with open(part.path, "rb") as f:
        f.seek(part.start)
        data = f.read(part.length)
    if len(data) != part.length or data.count(b"\n") != part.line_ends:
        raise JobError(f"{part.path} changed while the job ran (its bytes from {part.start} are not those planned): "
                       "delete the output folder and run the job again")
    return data


def _record(line: bytes) -> bytes:
    """A line without its line feed as the tool reads it: one carriage
    return at its end dropped."""
    return line[:-1] if line.endswith(b"\r") else line


def _run_partition(part: _Partition, job: _Job) -> dict:
    """One partition: its output into part-NNNNN.txt, its counts and bad
    lines (file line, reason, the record as read: ciphertext, or nothing
    for a line too long or a message to seal, which may be a plaintext)
    into part-NNNNN.json before it.
    Returns the counts."""
    data = _read_block(part)
    out, bad = _transform(job, data)
    bad = sorted(bad)  # the native call lists them by kind, not by line
    # One line out per line in, or the part file would shift every later
    # record onto the line of another.
    if out.count(b"\n") != part.records or (out and not out.endswith(b"\n")):
        lines_out = out.count(b"\n")
        raise RuntimeError(f"partition {part.index}: {lines_out} lines out for {part.records} in")
    lines = data.split(b"\n") if bad and job.operation != "seal" else None
    state = dict(index=part.index, records=part.records, refused=sum(reason in REFUSALS for _, reason in bad))
    state["not_records"] = len(bad) - state["refused"]
    state["bad"] = [[part.first_line + i, reason, "" if lines is None or reason == "line too long"
                     else _record(lines[i]).decode("latin-1")] for i, reason in bad]
    counts = {k: state[k] for k in ("index", "records", "refused", "not_records")}
    _commit(job, [(_part_path(job, part.index, ".json"), json.dumps(state).encode()),
                  (_part_path(job, part.index, ".txt"), out)])
    return counts


# ---- on the client: planning -----------------------------------------------------


def _scan(path: str, partition_size: int):
    """Reads the file once: its size, SHA-256, and partitions of whole lines
    of at least partition_size bytes (the last of each file may be shorter):
    each ends at the first line feed at or after partition_size - 1 bytes
    from its start. (start, length, first line, line feeds, ends in one)."""
    digest = hashlib.sha256()
    bounds = []
    position = line_ends = 0  # bytes and line feeds before the chunk
    start, start_line_ends = 0, 0
    target = partition_size - 1
    last = b""
    with open(path, "rb") as f:
        while chunk := f.read(4 << 20):
            digest.update(chunk)
            counted, counted_ends = 0, line_ends  # line feeds of chunk[:counted] included
            while (end := chunk.find(b"\n", max(target - position, counted))) >= 0:
                counted_ends += chunk.count(b"\n", counted, end + 1)
                counted = end + 1
                bounds.append((start, position + counted - start, start_line_ends + 1, counted_ends - start_line_ends,
                               True))
                start, start_line_ends = position + counted, counted_ends
                target = start + partition_size - 1
            line_ends = counted_ends + chunk.count(b"\n", counted)
            position += len(chunk)
            last = chunk[-1:]
    if start < position:
        bounds.append((start, position - start, start_line_ends + 1, line_ends - start_line_ends, last == b"\n"))
    return position, digest.hexdigest(), bounds


def plan(inputs: Sequence[str], partition_size: int = DEFAULT_PARTITION_SIZE):
    """The job's inputs (name as given, absolute path, size, SHA-256) and its
    partitions, in input order."""
    if partition_size < 1:
        raise ValueError("the partition size must be at least 1 byte")
    described, partitions = [], []
    for number, name in enumerate(inputs):
        path = os.path.abspath(name)
        size, sha256, bounds = _scan(path, partition_size)
        described.append(dict(name=str(name), path=path, size=size, sha256=sha256))
        for start, length, first_line, ends, feed in bounds:
            partitions.append(_Partition(len(partitions), number, path, start, length, first_line, ends, feed))
    return described, partitions


def _parameters(job: _Job) -> dict:
    key = job.private_key
    return dict(key=key.path if key else None, passin_env=key.passphrase_env if key else None,
                passin_file=key.passphrase_file if key else None, pubkey=job.public_key, hex_key=job.hex_key,
                uniform=job.uniform if key else None, text_keys=job.text_keys if key else None)


def _description(job: _Job, inputs: List[dict], partitions: List[_Partition], partition_size: int) -> dict:
    """What job.json holds: everything that makes the job this job, no secret."""
    return dict(version=JOB_VERSION, operation=job.operation, parameters=_parameters(job), inputs=inputs,
                partition_size=partition_size, partition_count=len(partitions),
                partitions=[dict(index=p.index, input=p.input, offset=p.start, length=p.length,
                                 first_line=p.first_line, lines=p.records) for p in partitions])


def _difference(old: dict, new: dict) -> Optional[str]:
    """How the job in the folder differs from this one, or None for the same
    job. (The passphrase's source and the names the inputs were given by
    may change between runs: neither changes the output.)"""
    if old.get("version") != new["version"]:
        return f"of job version {old.get('version')}, this is version {new['version']}"
    if old.get("operation") != new["operation"]:
        return f"operation {old.get('operation')!r} where this job has {new['operation']!r}"
    ignored = ("passin_env", "passin_file")
    old_parameters = {k: v for k, v in (old.get("parameters") or {}).items() if k not in ignored}
    for name, value in _parameters_without(new["parameters"], ignored).items():
        if old_parameters.get(name) != value:
            return f"{name} {old_parameters.get(name)!r} where this job has {value!r}"
    old_inputs = old.get("inputs") or []
    if [i.get("path") for i in old_inputs] != [i["path"] for i in new["inputs"]]:
        return "other input files"
    for was, now in zip(old_inputs, new["inputs"]):
        if (was.get("size"), was.get("sha256")) != (now["size"], now["sha256"]):
            return f"{now['name']} as it was: it has changed since (size or SHA-256)"
    if old.get("partition_size") != new["partition_size"]:
        return f"partition size {old.get('partition_size')} where this job has {new['partition_size']}"
    if old.get("partitions") != new["partitions"]:
        return "other partitions"
    return None


def _parameters_without(parameters: dict, ignored) -> dict:
    return {k: v for k, v in parameters.items() if k not in ignored}


def _read_json(path: str) -> Optional[dict]:
    try:
        with open(path, "rb") as f:
            return json.load(f)
    except FileNotFoundError:
        return None
    except ValueError as error:
        raise JobError(f"{path} is not readable JSON ({error}): delete the folder to start the job over")


# ---- on the client: running ------------------------------------------------------


def _clock(seconds: float) -> str:
    whole = int(seconds + 0.5)
    return f"{whole // 3600}:{whole // 60 % 60:02d}:{whole % 60:02d}" if whole >= 3600 else \
        f"{whole // 60}:{whole % 60:02d}"


class _Heartbeat:
    """The client's beat while partitions run: refreshes the folder's lease
    every second and writes a progress line (records, rate, time left from
    the bytes done) into job.log every five seconds, and onto standard
    error when asked (redrawn in place on a terminal)."""

    def __init__(self, job: _Job, log: Callable[[str], None], todo: Sequence[_Partition], records_before: int,
                 progress: bool):
        self.job, self.log, self.progress = job, log, progress
        self.terminal = progress and sys.stderr.isatty()
        self.parts_total, self.bytes_total = len(todo), sum(p.length for p in todo)
        self.records_before = records_before
        self.records = self.bytes = self.parts = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.drawn = 0
        self.started = time.monotonic()
        self.lease_path = os.path.join(job.output_dir, LEASE_FILE)
        self._refresh()
        self.thread = threading.Thread(target=self._beat, name="corvane.dask heartbeat", daemon=True)
        self.thread.start()

    def _refresh(self) -> None:
        with contextlib.suppress(OSError):
            write_atomically(self.lease_path, [json.dumps(dict(run=self.job.run, time=time.time(),
                                                                pid=os.getpid(), host=os.uname().nodename))])

    def add(self, part: _Partition, counts: dict) -> None:
        with self.lock:
            self.records += counts["records"]
            self.bytes += part.length
            self.parts += 1

    def line(self) -> str:
        with self.lock:
            records, done, parts = self.records, self.bytes, self.parts
        seconds = time.monotonic() - self.started
        rate = records / seconds if seconds > 0 else 0
        text = (f"corvane.dask {self.job.operation}: {self.records_before + records} records, "
                f"{parts} of {self.parts_total} partitions, {rate:.0f} records/s")
        if done and self.bytes_total > done:
            text += f", {_clock((self.bytes_total - done) * seconds / done)} left"
        return text

    def _draw(self, text: str, final: bool = False) -> None:
        if self.terminal:
            sys.stderr.write("\r" + text.ljust(self.drawn) + ("\n" if final else ""))
            self.drawn = 0 if final else len(text)
        else:
            sys.stderr.write(text + "\n")
        sys.stderr.flush()

    def _beat(self) -> None:
        last_line = time.monotonic()
        while not self.stopping.wait(LEASE_REFRESH):
            self._refresh()
            now = time.monotonic()
            if now - last_line >= PROGRESS_INTERVAL:
                last_line = now
                text = self.line()
                self.log(text)
                if self.progress:
                    self._draw(text)
            elif self.terminal:
                self._draw(self.line())

    def stop(self) -> None:
        """Ends the beat and gives the lease up: no worker of this run writes
        into the folder after this."""
        self.stopping.set()
        self.thread.join()
        with contextlib.suppress(OSError, ValueError, KeyError):
            with open(self.lease_path, "rb") as f:
                if json.load(f)["run"] == self.job.run:
                    os.unlink(self.lease_path)
        if self.terminal and self.drawn:
            self._draw(self.line(), final=True)


def _distributed():
    try:
        import distributed
    except ModuleNotFoundError as missing:
        raise JobError(_missing_dask_message(missing.name)) from None
    return distributed


def _missing_dask_message(name: Optional[str]) -> str:
    hint = ""
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        hint = ", e.g. /usr/bin/python3"
    return (f"corvane.dask needs the dask and distributed packages; this interpreter ({sys.executable}) has no "
            f"{name or 'dask'}: use the python3 the package was built for{hint}, or --scheduler synchronous")


class _InProcess:
    """Runs the tasks here, one after the other."""

    def call(self, function, *args):
        return function(*args)

    def run_all(self, parts, job, done):
        for part in parts:
            try:
                counts = _run_partition(part, job)
            except Exception as error:
                raise _partition_failed(part, error) from error
            done(part, counts)


class _OnCluster:
    """Runs the tasks on a Dask cluster, each partition a task of its own,
    seen as each finishes."""

    def __init__(self, client):
        self.client = client

    def call(self, function, *args):
        return self.client.submit(function, *args, pure=False).result()

    def run_all(self, parts, job, done):
        distributed = _distributed()
        futures = {self.client.submit(_run_partition, part, job, pure=False,
                                      key=f"corvane-{job.operation}-{job.run}-{part.index}"): part for part in parts}
        try:
            for future in distributed.as_completed(list(futures)):
                part = futures[future]
                try:
                    counts = future.result()
                except Exception as error:
                    raise _partition_failed(part, error) from error
                done(part, counts)
        finally:
            # Whatever is still queued or running is this job's no more.
            left = [f for f in futures if not f.done()]
            if left:
                self.client.cancel(left)


def _partition_failed(part: _Partition, error: BaseException) -> JobError:
    return JobError(f"partition {part.index} ({part.path} from line {part.first_line}) failed: {error}; the parts "
                    "written so far stay: run the same command again to finish the job")


@contextlib.contextmanager
def _scheduler(client, workers):
    if client == "synchronous":
        yield _InProcess()
        return
    if client is not None:
        yield _OnCluster(client)
        return
    distributed = _distributed()
    with distributed.LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as local:
        yield _OnCluster(local)


def _say_nothing(_: str) -> None:
    pass


def _job_log(output_dir: str) -> Callable[[str], None]:
    path = os.path.join(output_dir, LOG_FILE)
    lock = threading.Lock()

    def log(text: str) -> None:
        with lock, open(path, "a", encoding="utf-8") as f:
            f.write(f"{time.strftime('%Y-%m-%d %H:%M:%S')} {text}\n")

    return log


def _summary_of(totals: dict, already_complete=False) -> Summary:
    return Summary(totals["records"], totals["refused"], totals["not_records"], totals["files"], already_complete)


def summary_line(operation: str, summary: Summary) -> str:
    """The line a job ends with, as the tool's --lines commands end theirs."""
    return (f"corvane.dask {operation}: {summary.records} lines read, {summary.done} {_VERBS[operation]}, "
            f"{summary.refused} refused, {summary.invalid} not records, {summary.files} files")


def _finish(job: _Job, description: dict, inputs: List[dict], partitions: List[_Partition], log, say) -> Summary:
    """From the part files' states: quarantine.tsv, manifest.json, then
    _COMPLETE; the first bad lines to say."""
    totals = dict(records=0, refused=0, not_records=0, files=len(partitions))
    entries, shown, bad_lines = [], 0, 0

    def quarantine():
        nonlocal shown, bad_lines
        for part, entry in zip(partitions, description["partitions"]):
            state = _read_json(_part_path(job, part.index, ".json"))
            if state is None or state.get("records") != part.records:
                raise JobError(f"{_part_path(job, part.index, '.json')} is missing or not this partition's: "
                               "delete it and its .txt, and run the same command again")
            entries.append(dict(entry, refused=state["refused"], not_records=state["not_records"]))
            for key in ("records", "refused", "not_records"):
                totals[key] += state[key]
            name = inputs[part.input]["name"]
            for line, reason, text in state["bad"]:
                bad_lines += 1
                if shown < MESSAGES_SHOWN:
                    shown += 1
                    say(f"corvane.dask {job.operation}: {name}, line {line}: {reason}")
                yield f"{name}\t{line}\t{reason}\t".encode() + text.encode("latin-1") + b"\n"

    write_atomically(os.path.join(job.output_dir, QUARANTINE_FILE), quarantine())
    if bad_lines > shown:
        say(f"corvane.dask {job.operation}: {bad_lines - shown} more bad lines not shown; "
            f"{os.path.join(job.output_dir, QUARANTINE_FILE)} lists all {bad_lines}")
    manifest = dict(description, partitions=entries, totals=totals)
    write_atomically(os.path.join(job.output_dir, MANIFEST_FILE), [json.dumps(manifest, indent=1), "\n"])
    write_atomically(os.path.join(job.output_dir, COMPLETE_FILE), [])
    summary = _summary_of(totals)
    log(summary_line(job.operation, summary))
    return summary


def _check_lease_free(output_dir: str) -> None:
    try:
        with open(os.path.join(output_dir, LEASE_FILE), "rb") as f:
            lease = json.load(f)
        age = time.time() - float(lease["time"])
    except (OSError, ValueError, KeyError, TypeError):
        return
    if lease.get("host") == os.uname().nodename and not _process_alive(lease.get("pid")):
        return
    if -LEASE_STALE < age < LEASE_STALE:
        raise JobError(f"another client is running this job into {output_dir} (process {lease.get('pid')} on "
                       f"{lease.get('host')}, its lease refreshed {max(age, 0):.0f} s ago): wait for it to end, or "
                       f"if it died, run again in {LEASE_STALE:.0f} s")


def _process_alive(pid) -> bool:
    try:
        os.kill(int(pid), 0)
    except ProcessLookupError:
        return False
    except (PermissionError, TypeError, ValueError):
        pass
    return True


def _run(job: _Job, inputs, client, workers, partition_size, progress, *, keep_going=False, resume=False,
         say: Callable[[str], None] = _say_nothing, key_name: Optional[str] = None) -> Summary:
    if not inputs:
        raise ValueError("no input files")
    if job.uniform and job.text_keys:
        raise ValueError("text_keys goes with the archive mode, not with uniform")
    if partition_size < 1:
        raise ValueError("the partition size must be at least 1 byte")
    output_dir = job.output_dir
    os.makedirs(output_dir, exist_ok=True)
    existing = _read_json(os.path.join(output_dir, JOB_FILE))
    if existing is None and any(n.startswith("part-") for n in os.listdir(output_dir)):
        raise JobError(f"{output_dir} holds part files but no {JOB_FILE} (another job's): write to another folder, "
                       "or delete this one")
    # With no job.json and no part file, a job killed before it recorded
    # itself has nothing to keep: --resume starts it from the beginning.
    complete = os.path.exists(os.path.join(output_dir, COMPLETE_FILE))
    if not complete:
        _check_lease_free(output_dir)
    log = _job_log(output_dir)

    with contextlib.ExitStack() as stack:
        started = []

        def scheduler():
            # Started when first needed: a complete job needs no cluster.
            if not started:
                started.append(stack.enter_context(_scheduler(client, workers)))
            return started[0]

        if not complete and job.private_key is not None and not keep_going:
            lines_read, envelopes, refused = scheduler().call(_probe, job, os.path.abspath(inputs[0]))
            log(f"corvane.dask {job.operation}: key check: {refused} of the first {envelopes} envelopes of "
                f"{inputs[0]} refused ({lines_read} lines read)")
            if envelopes and 20 * refused >= 19 * envelopes:
                error = WrongKeyError(job.operation, key_name or job.private_key.path, refused, envelopes, lines_read)
                log(str(error))
                raise error
        hashing = time.monotonic()
        described, partitions = plan(inputs, partition_size)
        log(f"corvane.dask {job.operation}: {len(described)} inputs, {sum(i['size'] for i in described)} bytes "
            f"read and hashed in {time.monotonic() - hashing:.1f} s, {len(partitions)} partitions")
        description = _description(job, described, partitions, partition_size)
        if existing is not None:
            difference = _difference(existing, description)
            if difference is not None:
                raise JobError(f"{output_dir} holds another job ({difference}): write to another folder, or delete "
                               "this one to start this job over")
        if complete:
            manifest = _read_json(os.path.join(output_dir, MANIFEST_FILE)) or {}
            if "totals" not in manifest:
                raise JobError(f"{output_dir} is marked complete but has no readable {MANIFEST_FILE}: delete the "
                               "folder and run the job again")
            return _summary_of(manifest["totals"], already_complete=True)
        if existing is None:
            write_atomically(os.path.join(output_dir, JOB_FILE), [json.dumps(description, indent=1), "\n"])

        job = dataclasses.replace(job, run=uuid.uuid4().hex, name_width=max(5, len(str(len(partitions) - 1))))
        todo = [p for p in partitions
                if not (os.path.exists(_part_path(job, p.index, ".txt"))
                        and os.path.exists(_part_path(job, p.index, ".json")))]
        done_before = sum(p.records for p in partitions) - sum(p.records for p in todo)
        log(f"corvane.dask {job.operation}: run {job.run}: {len(todo)} of {len(partitions)} partitions to run")
        heartbeat = _Heartbeat(job, log, todo, done_before, progress)
        try:
            scheduler().run_all(todo, job, heartbeat.add)
        except BaseException as error:
            log(f"corvane.dask {job.operation}: run {job.run} stopped: {error or type(error).__name__}")
            raise
        finally:
            heartbeat.stop()
        log(heartbeat.line())
    # Temporary files of workers that died half-way (their partitions were
    # written again by others), or of a client that did.
    ours = (".part-", f".{LEASE_FILE}.", f".{JOB_FILE}.", f".{MANIFEST_FILE}.", f".{QUARANTINE_FILE}.",
            f".{COMPLETE_FILE}.")
    for name in os.listdir(output_dir):
        if name.startswith(ours) and name.endswith(".tmp"):
            with contextlib.suppress(OSError):
                os.unlink(os.path.join(output_dir, name))
    return _finish(job, description, described, partitions, log, say)


def open_archive(inputs, output_dir, key: PrivateKeySource, *, uniform=False, text_keys=False, keep_going=False,
                 resume=False, client=None, workers=None, partition_size=DEFAULT_PARTITION_SIZE,
                 progress=False) -> Summary:
    """Opens every envelope of the input files, in the archive mode unless
    uniform (text_keys: the archive's keys are 24 hexadecimal characters).
    client: a distributed.Client, "synchronous" to run in this process, or
    None for a local cluster of ``workers`` processes (one per CPU by
    default). Raises WrongKeyError when nearly all of the first envelopes
    are refused (unless keep_going), JobError for a folder of another job or
    a partition that failed. resume: the folder must hold this job already."""
    job = _Job("open", os.path.abspath(output_dir), private_key=key, uniform=uniform, text_keys=text_keys)
    return _run(job, inputs, client, workers, partition_size, progress, keep_going=keep_going, resume=resume)


def seal_archive(inputs, output_dir, public_key: str, *, hex_key=False, resume=False, client=None, workers=None,
                 partition_size=DEFAULT_PARTITION_SIZE, progress=False) -> Summary:
    """Seals every Base64 message of the input files under the public key."""
    job = _Job("seal", os.path.abspath(output_dir), public_key=os.path.abspath(public_key), hex_key=hex_key)
    return _run(job, inputs, client, workers, partition_size, progress, resume=resume)


def reencrypt_archive(inputs, output_dir, key: PrivateKeySource, public_key: str, *, hex_key=False, uniform=False,
                      text_keys=False, keep_going=False, resume=False, client=None, workers=None,
                      partition_size=DEFAULT_PARTITION_SIZE, progress=False) -> Summary:
    """Opens every envelope under the private key (as open_archive does) and
    seals its plaintext under the public key."""
    job = _Job("reencrypt", os.path.abspath(output_dir), private_key=key, public_key=os.path.abspath(public_key),
               hex_key=hex_key, uniform=uniform, text_keys=text_keys)
    return _run(job, inputs, client, workers, partition_size, progress, keep_going=keep_going, resume=resume)


# ---- the command line -----------------------------------------------------------


def _parser() -> argparse.ArgumentParser:
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
            action.add_argument("--uniform", action="store_true",
                                help="one refusal for every failure, as a service facing senders must give (by "
                                     "default a wrapped key that does not unpad is refused with its own reason)")
            action.add_argument("--text-keys", action="store_true",
                                help="the archive's keys are 24 hexadecimal characters: refuse any other")
            action.add_argument("--keep-going", action="store_true",
                                help="open every line even when nearly all of the first 1000 envelopes are refused")
        if name != "open":
            action.add_argument("--pubkey", required=True, help="the public key file to seal under")
            action.add_argument("--hex-key", action="store_true",
                                help="seal under 24 hexadecimal characters, for peers that treat the key as text")
        action.add_argument("-o", "--output", required=True,
                            help="the job's folder: part files, job.json, job.log, quarantine.tsv, manifest.json")
        action.add_argument("--resume", action="store_true",
                            help="finish the job in the folder (running the same command again does so too)")
        action.add_argument("--scheduler", metavar="ADDRESS",
                            help="a Dask scheduler (tcp://HOST:PORT), or 'synchronous' to run in this process; "
                                 "by default a local cluster of --workers processes")
        action.add_argument("--workers", type=int, help="processes of the local cluster (default: one per CPU)")
        action.add_argument("--partition-size", type=int, default=DEFAULT_PARTITION_SIZE, metavar="BYTES",
                            help="input bytes per partition (default: 8 MiB)")
        action.add_argument("--progress", action="store_true",
                            help="records, rate and time left on standard error: redrawn in place on a terminal, "
                                 "a plain line every five seconds elsewhere (job.log has them always)")
        action.add_argument("--no-progress", action="store_true", help=argparse.SUPPRESS)
        action.add_argument("inputs", nargs="+", metavar="INPUT", help="text files of records")
    return parser


def _arguments(argv):
    parser = _parser()
    args = parser.parse_args(argv)
    if getattr(args, "uniform", False) and args.text_keys:
        parser.error("--text-keys goes with the archive mode: not with --uniform")
    if args.partition_size < 1:
        parser.error("--partition-size must be at least 1")
    return args


def _stderr(text: str) -> None:
    print(text, file=sys.stderr, flush=True)


def main(argv=None) -> int:
    """Runs a job from the command line: 0 when every record went through
    (or the folder held the finished job), 1 when some were refused or were
    not records (counted at the end) or the key looks wrong, 2 for a job
    that could not run."""
    args = _arguments(argv)
    key = None
    if args.action != "seal":
        key = PrivateKeySource(os.path.abspath(args.key), args.passin_env,
                               os.path.abspath(args.passin_file) if args.passin_file else None)
    if args.scheduler != "synchronous":
        try:
            _distributed()
        except JobError as missing:
            _stderr(str(missing))
            return 2
    # A terminated client ends like an interrupted one: its lease given up,
    # its tasks cancelled.
    terminated = signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        return _command(args, key)
    finally:
        signal.signal(signal.SIGTERM, terminated)


def _command(args, key) -> int:
    job = _Job(args.action, os.path.abspath(args.output), private_key=key,
               public_key=os.path.abspath(args.pubkey) if args.action != "open" else None,
               hex_key=getattr(args, "hex_key", False), uniform=getattr(args, "uniform", False),
               text_keys=getattr(args, "text_keys", False))
    with contextlib.ExitStack() as stack:
        client = "synchronous" if args.scheduler == "synchronous" else None
        try:
            if args.scheduler and client is None:
                client = stack.enter_context(_distributed().Client(args.scheduler))
            summary = _run(job, args.inputs, client, args.workers, args.partition_size, args.progress,
                           keep_going=getattr(args, "keep_going", False), resume=args.resume, say=_stderr,
                           key_name=getattr(args, "key", None))
        except WrongKeyError as error:
            _stderr(str(error))
            return 1
        except (OSError, ValueError, RuntimeError) as error:
            _stderr(f"corvane.dask: {error}")
            return 2
        except KeyboardInterrupt:
            _stderr("corvane.dask: interrupted; the parts written so far stay: run the same command again to "
                    "finish the job")
            return 130
    if summary.already_complete:
        _stderr(f"corvane.dask {args.action}: {args.output} holds this job, complete already: "
                f"{summary.records} lines read, {summary.done} {_VERBS[args.action]}, {summary.refused} refused, "
                f"{summary.invalid} not records, {summary.files} files")
        return 0
    _stderr(summary_line(args.action, summary))
    return 1 if summary.refused or summary.invalid else 0


if __name__ == "__main__":
    # Run through the imported module, so that the functions the workers
    # receive are corvane.dask's, not this script's.
    from corvane.dask import main as _main

    sys.exit(_main())
