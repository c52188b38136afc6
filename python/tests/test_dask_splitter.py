"""The partition splitters, by seeded random cases: for random archives
(records of any bytes, line ends "\\n", "\\r\\n" and lone "\\r", empty lines,
a missing final line end) cut at random places, the lines the partitions
yield, joined in order, are the lines of the whole file.

Two levels: dask.bag.read_text's steps (each block read from its offset to
the line end after its end, then split into lines) at arbitrary cut points,
many cases a second; and the job's own plan (partitions of whole lines
planned from the files, each knowing the number of its first line) at
random partition sizes, read as a worker reads them and given to the native
call. About a second normally; CORVANE_LONG_TESTS=1 runs over 10^6 cases."""

import hashlib
import io
import os
import random

import pytest

dask_text = pytest.importorskip("dask.bag.text")
fsspec_utils = pytest.importorskip("fsspec.utils")

LONG = os.environ.get("CORVANE_LONG_TESTS") == "1"
SPLIT_CASES = 1_200_000 if LONG else 6_000
PLAN_CASES = 4_000 if LONG else 40
ENCODING = "latin-1"  # as the job reads its inputs
# Bytes that other line splitters take as line ends (vertical tab, form feed,
# file/group/record separators, NEL) and that must stay inside a record here.
TRICKY = b"\x0b\x0c\x1c\x1d\x1e\x85\x00 \t="


def random_archive(rng: random.Random) -> bytes:
    """Records of Base64-like text, tricky bytes or anything but a line end,
    each ended by a random line end (the last one possibly by none)."""
    out = bytearray()
    for _ in range(rng.randrange(0, 12)):
        kind = rng.randrange(4)
        if kind == 0:
            record = b""
        elif kind == 1:
            record = bytes(rng.choice(b"ABCDEFGHabcdefgh0123+/= \t") for _ in range(rng.randrange(1, 40)))
        elif kind == 2:
            record = bytes(rng.choice(TRICKY) for _ in range(rng.randrange(1, 6)))
        else:
            record = bytes(b for b in rng.randbytes(rng.randrange(1, 30)) if b not in b"\r\n")
        out += record + rng.choice([b"\n", b"\n", b"\r\n", b"\r", b"\r\r\n", b"\n\n"])
    if out and rng.random() < 0.4:
        out = out.rstrip(b"\r\n") + rng.choice([b"", b"tail", b"\r"])
    return bytes(out)


def whole_file_lines(data):
    """The lines of the whole file, each ended by a line feed only (the last
    one possibly by none), as the tool reads them."""
    return list(io.StringIO(data if isinstance(data, str) else data.decode(ENCODING), newline="\n"))


def partitioned_lines(data: bytes, cuts):
    """The lines of the blocks between consecutive cut points, each read as
    dask.bytes.read_bytes reads a block (from the line end after its offset
    to the line end after its end) and split as dask.bag.read_text splits
    it."""
    f = io.BytesIO(data)
    bounds = [0] + sorted(cuts) + [len(data)]
    lines = []
    for start, end in zip(bounds, bounds[1:]):
        block = fsspec_utils.read_block(f, start, end - start, b"\n")
        lines.extend(dask_text.decode(block, ENCODING, "strict", "\n"))
    return lines


def test_partitions_yield_the_lines_of_the_whole_file():
    rng = random.Random(46)
    for case in range(SPLIT_CASES):
        data = random_archive(rng)
        cuts = [rng.randrange(1, len(data)) for _ in range(rng.randrange(0, 6))] if len(data) > 1 else []
        expected = whole_file_lines(data)
        assert partitioned_lines(data, cuts) == expected, (case, data, cuts)


def test_the_jobs_plan_yields_the_lines_of_the_whole_file(tmp_path):
    import corvane.dask as jobs

    rng = random.Random(47)
    for case in range(PLAN_CASES * 10):
        files = [random_archive(rng) for _ in range(rng.randrange(1, 3))]
        paths = []
        for i, data in enumerate(files):
            path = tmp_path / f"archive-{case}-{i}.txt"
            path.write_bytes(data)
            paths.append(str(path))
        partition_size = rng.randrange(1, max(2, max(len(d) for d in files) + 2))
        inputs, parts = jobs.plan(paths, partition_size)
        assert [p.index for p in parts] == list(range(len(parts)))
        assert [(i["size"], i["sha256"]) for i in inputs] == [(len(d), hashlib.sha256(d).hexdigest()) for d in files]
        for number, data in enumerate(files):
            own = [p for p in parts if p.input == number]
            blocks = [jobs._read_block(p) for p in own]
            assert b"".join(blocks) == data, (case, data, partition_size)
            for p, block in zip(own, blocks):
                lines = whole_file_lines(block.decode(ENCODING))
                assert p.first_line == data[: p.start].count(b"\n") + 1 and p.records == len(lines)
                assert p is own[-1] or (block.endswith(b"\n") and len(block) >= partition_size)
        for path in paths:
            os.unlink(path)


def tool_records(data: bytes):
    """The records `corvane envelope open --lines` reads: lines end at a line
    feed only, a carriage return just before it dropped, the last line
    possibly without one."""
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [line[:-1] if line.endswith(b"\r") else line for line in lines]


def test_records_are_the_tools_records(tmp_path, keys):
    """A lone carriage return, a form feed or a NEL stays inside its record,
    as in the tool; only a line feed ends one, and one carriage return
    before it is dropped: a partition's records are the tool's, one output
    line each, and the quarantine keeps each bad record as the tool reads it."""
    import corvane
    import corvane.dask as jobs

    key = corvane.RsaPrivateKey.from_file(keys[512].path)
    rng = random.Random(48)
    cases = [b"QUFB QkJC\rQ0ND\nRERE RUVF\r\n", b"A\r\r\nB\rC\r", b"\r\n\r"] + [
        random_archive(rng) for _ in range(SPLIT_CASES // 100)]
    path = tmp_path / "archive.txt"
    for data in cases:
        path.write_bytes(data)
        _, parts = jobs.plan([str(path)], rng.randrange(1, 40))
        records = []
        for part in parts:
            block = jobs._read_block(part)
            out, bad = corvane.open_envelope_lines(key, block)
            assert out.count(b"\n") == part.records == len(bad)  # none of these is an envelope
            records += [jobs._record(line) for line in whole_file_lines(block.decode(ENCODING))
                        for line in [line.encode(ENCODING).removesuffix(b"\n")]]
        assert records == tool_records(data), data
