"""What makes an archive job trustworthy, in one process: the archive mode
against the uniform refusal under a wrong key, the wrong-key stop, the
summary and quarantine.tsv, job.json / manifest.json / _COMPLETE, resuming
a partial run, another job refused, the lease that keeps late part files
out, progress in job.log, and the message under an interpreter without
Dask. (The cluster cases are in test_dask.py.)"""

import base64
import collections
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

import pytest

import corvane
import corvane.dask as jobs

pytestmark = pytest.mark.skipif(
    not hasattr(corvane, "open_envelope_lines"), reason="the envelope line calls of the library are not bound yet"
)


def envelope_lines(public, messages):
    return [f"{base64.b64encode(e.wrapped_key).decode()} {base64.b64encode(e.payload).decode()}\n"
            for e in corvane.seal_envelopes(public, messages)]


def run_job(*args, cwd=None):
    # The package this process tests, wherever the job runs from.
    path = os.pathsep.join([os.path.dirname(os.path.dirname(corvane.__file__)), os.environ.get("PYTHONPATH", "")])
    return subprocess.run([sys.executable, "-m", "corvane.dask", *args], capture_output=True, text=True, cwd=cwd,
                          env=dict(os.environ, PYTHONPATH=path))


def folder_files(folder):
    return {n: open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))}


@pytest.fixture(scope="module")
def other_key(tmp_path_factory):
    """A 512-bit key that sealed none of the archives (the wrong key)."""
    key = corvane.RsaPrivateKey.generate(512)
    path = tmp_path_factory.mktemp("other") / "other.pem"
    path.write_text(key.to_pem())
    return key, str(path)


@pytest.mark.parametrize("uniform", [False, True])
def test_under_a_wrong_key_the_archive_mode_opens_nothing(keys, other_key, tmp_path, uniform):
    rng = random.Random(60)
    archive = tmp_path / "archive.txt"
    archive.write_text("".join(envelope_lines(corvane.RsaPrivateKey.from_file(keys[512].path).public_key(),
                                              [rng.randbytes(40) for _ in range(3000)])))
    summary = jobs.open_archive([str(archive)], tmp_path / "out", jobs.PrivateKeySource(other_key[1]),
                                uniform=uniform, keep_going=True, client="synchronous", partition_size=60_000)
    reasons = collections.Counter(line.split(b"\t")[2] for line in open(tmp_path / "out/quarantine.tsv", "rb"))
    assert summary.records == 3000 and sum(reasons.values()) == summary.refused
    if uniform:
        # About one in 256 opens as garbage under the substitute key.
        assert 0 < summary.done < 60 and set(reasons) == {b"envelope refused"}
    else:
        assert summary.done == 0 and reasons[b"wrapped key refused"] > 2900
        assert set(reasons) <= {b"wrapped key refused", b"payload padding refused"}


@pytest.mark.parametrize("layout, stops", [
    ([("wrong", 950), ("junk", 5), ("right", 50)], True),      # 95% of the first 1000
    ([("wrong", 949), ("junk", 5), ("right", 51)], False),     # just below
    ([("wrong", 10)], True),                                   # all of them, when there are fewer
    ([("right", 1000), ("wrong", 1000)], False),               # only the first 1000 count
    ([("junk", 30)], False),                                   # no envelope at all
])
def test_a_wrong_key_stops_the_job_before_any_part(keys, other_key, tmp_path, layout, stops):
    right = corvane.RsaPrivateKey.from_file(keys[512].path).public_key()
    lines = []
    for kind, count in layout:
        lines += ["junk\n"] * count if kind == "junk" else envelope_lines(
            right if kind == "right" else other_key[0].public_key(), [b"m"] * count)
    (tmp_path / "archive.txt").write_text("".join(lines))
    source = jobs.PrivateKeySource(keys[512].path)
    if not stops:
        jobs.open_archive([str(tmp_path / "archive.txt")], tmp_path / "out", source, client="synchronous")
        return
    with pytest.raises(jobs.WrongKeyError) as stop:
        jobs.open_archive([str(tmp_path / "archive.txt")], tmp_path / "out", source, client="synchronous")
    envelopes = min(1000, sum(c for k, c in layout if k != "junk"))
    assert (stop.value.refused, stop.value.envelopes) == (layout[0][1] if envelopes == 1000 else envelopes, envelopes)
    assert stop.value.lines_read == min(len(lines), 1005)
    assert sorted(os.listdir(tmp_path / "out")) == ["job.log"]
    # The command line: one line, exit 1, the key named as given; then the
    # same command with --keep-going opens every line.
    args = ["open", "--key", os.path.basename(keys[512].path), "--scheduler", "synchronous", "-o", "cli", "archive.txt"]
    shutil.copy(keys[512].path, tmp_path)
    run = run_job(*args, cwd=tmp_path)
    assert (run.returncode, run.stderr) == (1, f"corvane.dask open: {stop.value.refused} of the first {envelopes} "
                                               f"envelopes refused: is {os.path.basename(keys[512].path)} the key they "
                                               "were sealed under? Check --key, or add --keep-going to open every "
                                               "line anyway\n")
    run = run_job(*args, "--keep-going", cwd=tmp_path)
    count = collections.Counter()
    for kind, n in layout:
        count[kind] += n
    assert run.returncode == 1 and run.stderr.endswith(
        f"{len(lines)} lines read, {count['right']} opened, {count['wrong']} refused, {count['junk']} not records, "
        "1 files\n")


def test_summary_and_quarantine_name_every_bad_line(keys, other_key, tmp_path):
    """Bad lines of every kind in two files, over partitions of a few lines:
    quarantine.tsv has each (file as given, line in that file, reason, the
    record), the first 10 are said on standard error, then how many more."""
    public = corvane.RsaPrivateKey.from_file(keys[512].path).public_key()
    rng = random.Random(61)
    expected, contents = [], {}
    for name in ("a.txt", "b.txt"):
        lines = []
        for number in range(1, 41):
            good = envelope_lines(public, [rng.randbytes(20)])[0]
            kind = rng.choice(["good"] * 5 + ["junk", "long", "malformed", "wrapped", "crlf"])
            if kind == "junk":
                line, bad = "no envelope here\n", ("not an envelope", "no envelope here")
            elif kind == "long":
                line, bad = "A" * 70_000 + " QUJD\n", ("line too long", "")
            elif kind == "malformed":
                line = good[: good.index(" ")] + " QUJD\n"
                bad = ("envelope malformed", line[:-1])
            elif kind == "wrapped":
                line = envelope_lines(other_key[0].public_key(), [b"x"])[0]
                bad = ("wrapped key refused", line[:-1])
            elif kind == "crlf":
                line, bad = "not one either\r\n", ("not an envelope", "not one either")
            else:
                line, bad = good, None
            lines.append(line)
            if bad:
                expected.append(f"{name}\t{number}\t{bad[0]}\t{bad[1]}\n")
        contents[name] = "".join(lines)
        (tmp_path / name).write_text(contents[name])
    run = run_job("open", "--key", keys[512].path, "--scheduler", "synchronous", "--partition-size", "3000", "-o", "out", "a.txt", "b.txt", cwd=tmp_path)
    assert open(tmp_path / "out/quarantine.tsv").read() == "".join(expected)
    refused = sum("refused" in e.split("\t")[2] or "malformed" in e for e in expected)
    messages = run.stderr.splitlines()
    assert messages[:10] == [f"corvane.dask open: {e.split(chr(9))[0]}, line {e.split(chr(9))[1]}: "
                             f"{e.split(chr(9))[2]}" for e in expected[:10]]
    assert messages[10:] == [
        f"corvane.dask open: {len(expected) - 10} more bad lines not shown; "
        f"{tmp_path / 'out' / 'quarantine.tsv'} lists all {len(expected)}",
        f"corvane.dask open: 80 lines read, {80 - len(expected)} opened, {refused} refused, "
        f"{len(expected) - refused} not records, {len(json.load(open(tmp_path / 'out/job.json'))['partitions'])} files"]
    assert run.returncode == 1


def test_the_folder_holds_the_job_its_manifest_and_last_its_marker(keys, tmp_path, monkeypatch):
    key = corvane.RsaPrivateKey.from_file(keys[768].path)
    (tmp_path / "sealed.pem").write_text(key.to_pem(passphrase="folder secret"))
    monkeypatch.setenv("CORVANE_JOB_PASS", "folder secret")
    archive = tmp_path / "archive.txt"
    archive.write_text("".join(envelope_lines(key.public_key(), [b"folder plaintext %d" % i for i in range(500)]))
                       + "junk\n")
    args = ["open", "--key", "sealed.pem", "--passin-env", "CORVANE_JOB_PASS", "--scheduler", "synchronous",
            "--partition-size", "20000", "-o", "out", "archive.txt"]
    run = run_job(*args, cwd=tmp_path)
    assert run.returncode == 1
    job = json.load(open(tmp_path / "out/job.json"))
    data = archive.read_bytes()
    assert (job["version"], job["operation"]) == (1, "open")
    assert job["parameters"] == dict(key=str(tmp_path / "sealed.pem"), passin_env="CORVANE_JOB_PASS",
                                     passin_file=None, pubkey=None, hex_key=False, uniform=False, text_keys=False)
    assert job["inputs"] == [dict(name="archive.txt", path=str(archive), size=len(data),
                                  sha256=hashlib.sha256(data).hexdigest())]
    assert job["partition_size"] == 20000 and job["partition_count"] == len(job["partitions"]) > 3
    assert sum(p["length"] for p in job["partitions"]) == len(data)
    manifest = json.load(open(tmp_path / "out/manifest.json"))
    assert {k: v for k, v in manifest.items() if k not in ("partitions", "totals")} == {
        k: v for k, v in job.items() if k != "partitions"}
    assert [{k: p[k] for k in job["partitions"][0]} for p in manifest["partitions"]] == job["partitions"]
    assert manifest["totals"] == dict(records=501, refused=0, not_records=1, files=job["partition_count"])
    assert sum(p["not_records"] for p in manifest["partitions"]) == 1
    files = folder_files(tmp_path / "out")
    assert files["_COMPLETE"] == b"" and "_LEASE" not in files
    assert not [n for n, text in files.items() if b"folder secret" in text or
                (not n.endswith(".txt") and base64.b64encode(b"folder plaintext 1") in text)]
    # The same command again: complete already, nothing rewritten.
    stamps = {n: os.stat(tmp_path / "out" / n).st_mtime_ns for n in files if n != "job.log"}
    again = run_job(*args, cwd=tmp_path)
    assert again.returncode == 0 and "complete already: 501 lines read, 500 opened" in again.stderr
    assert stamps == {n: os.stat(tmp_path / "out" / n).st_mtime_ns for n in stamps}


@pytest.mark.parametrize("resume", [False, True])
def test_a_partial_job_resumes_with_only_its_missing_parts(keys, tmp_path, resume):
    key = corvane.RsaPrivateKey.from_file(keys[512].path)
    rng = random.Random(62)
    lines = envelope_lines(key.public_key(), [rng.randbytes(rng.randrange(50)) for _ in range(800)])
    for i in range(3, 800, 41):
        lines[i] = "junk\n"
    (tmp_path / "archive.txt").write_text("".join(lines))
    args = ["open", "--key", keys[512].path, "--scheduler", "synchronous", "--partition-size", "8000", "-o", "out",
            "archive.txt"]
    first = run_job(*args, cwd=tmp_path)
    clean = folder_files(tmp_path / "out")
    parts = sorted(n for n in clean if n.startswith("part-") and n.endswith(".txt"))
    assert first.returncode == 1 and len(parts) > 6
    gone = [parts[1], parts[4], parts[4].replace(".txt", ".json"), parts[-1].replace(".txt", ".json")]
    for name in gone + ["_COMPLETE", "manifest.json", "quarantine.tsv"]:
        os.unlink(tmp_path / "out" / name)
    redone = {n.split(".")[0] for n in gone}
    kept = {n: os.stat(tmp_path / "out" / n).st_ino for n in clean if n.startswith("part-")
            and n.split(".")[0] not in redone}
    rerun = run_job(*args, *(["--resume"] if resume else []), cwd=tmp_path)
    assert (rerun.returncode, rerun.stderr) == (first.returncode, first.stderr)
    assert {n: v for n, v in folder_files(tmp_path / "out").items() if n != "job.log"} == {
        n: v for n, v in clean.items() if n != "job.log"}
    assert kept == {n: os.stat(tmp_path / "out" / n).st_ino for n in kept}  # written once
    log = open(tmp_path / "out/job.log").read()
    assert re.search(rf": 3 of {len(parts)} partitions to run", log)


@pytest.mark.parametrize("change, cause", [
    (["--uniform"], "uniform False where this job has True"),
    (["--partition-size", "9000"], "partition size 8000 where this job has 9000"),
    (["--key", "KEY768"], "key "),
    ("input", "archive.txt as it was: it has changed since"),
    (["--pubkey", "PUB", "--hex-key"], "operation 'open' where this job has 'reencrypt'"),
])
def test_another_job_into_the_same_folder_is_refused(keys, tmp_path, change, cause):
    key = corvane.RsaPrivateKey.from_file(keys[512].path)
    (tmp_path / "archive.txt").write_text("".join(envelope_lines(key.public_key(), [b"m"] * 100)))
    args = ["open", "--key", keys[512].path, "--scheduler", "synchronous", "--partition-size", "8000", "-o", "out",
            "archive.txt"]
    assert run_job(*args, cwd=tmp_path).returncode == 0
    os.unlink(tmp_path / "out/_COMPLETE")
    before = folder_files(tmp_path / "out")
    if change == "input":
        with open(tmp_path / "archive.txt", "a") as f:
            f.write("one more\n")
    else:
        change = [keys[768].path if a == "KEY768" else keys[768].public_path if a == "PUB" else a for a in change]
        if "--pubkey" in change:
            args = ["reencrypt"] + args[1:]
        args = args + change
    run = run_job(*args, "--keep-going", cwd=tmp_path)
    assert run.returncode == 2 and cause in run.stderr
    assert run.stderr.endswith(": write to another folder, or delete this one to start this job over\n")
    after = folder_files(tmp_path / "out")
    assert after.pop("job.log").startswith(before.pop("job.log")) and after == before


def test_resume_of_a_job_killed_before_it_recorded_itself_starts_it(keys, tmp_path):
    (tmp_path / "archive.txt").write_text("junk\n")
    (tmp_path / "out").mkdir()  # what a client killed at once leaves
    run = run_job("open", "--key", keys[512].path, "--scheduler", "synchronous", "--resume", "-o", "out",
                  "archive.txt", cwd=tmp_path)
    assert run.returncode == 1 and (tmp_path / "out" / "_COMPLETE").exists()
    assert (tmp_path / "out" / "part-00000.txt").read_text().startswith("error: not an envelope")


@pytest.mark.parametrize("lease", ["missing", "another run", "stale", "from the future", "unreadable"])
def test_a_worker_without_the_clients_lease_writes_no_part_file(keys, tmp_path, lease):
    key = corvane.RsaPrivateKey.from_file(keys[512].path)
    (tmp_path / "archive.txt").write_text("".join(envelope_lines(key.public_key(), [b"late"] * 20)))
    _, parts = jobs.plan([str(tmp_path / "archive.txt")], 1 << 20)
    out = tmp_path / "out"
    out.mkdir()
    job = jobs._Job("open", str(out), private_key=jobs.PrivateKeySource(keys[512].path), run="this-run")
    write = {"another run": dict(run="other-run", time=time.time()),
             "stale": dict(run="this-run", time=time.time() - 2 * jobs.LEASE_STALE),
             "from the future": dict(run="this-run", time=time.time() + 2 * jobs.LEASE_STALE)}
    if lease in write:
        (out / "_LEASE").write_text(json.dumps(write[lease]))
    elif lease == "unreadable":
        (out / "_LEASE").write_text("{")
    with pytest.raises(jobs._LeaseLost):
        jobs._run_partition(parts[0], job)
    assert [n for n in os.listdir(out) if n != "_LEASE"] == []  # neither part nor temporary
    # The same task under its own fresh lease writes both.
    (out / "_LEASE").write_text(json.dumps(dict(run="this-run", time=time.time())))
    assert jobs._run_partition(parts[0], job)["records"] == 20
    assert sorted(os.listdir(out)) == ["_LEASE", "part-00000.json", "part-00000.txt"]


def test_progress_goes_to_job_log_and_standard_error(keys, tmp_path, monkeypatch, capfd):
    key = corvane.RsaPrivateKey.from_file(keys[512].path)
    (tmp_path / "archive.txt").write_text("".join(envelope_lines(key.public_key(), [b"p"] * 400)))
    monkeypatch.setattr(jobs, "PROGRESS_INTERVAL", 0.2)
    monkeypatch.setattr(jobs, "LEASE_REFRESH", 0.05)
    transform = jobs._transform
    monkeypatch.setattr(jobs, "_transform", lambda job, data: (time.sleep(0.1), transform(job, data))[1])
    jobs.open_archive([str(tmp_path / "archive.txt")], tmp_path / "out", jobs.PrivateKeySource(keys[512].path),
                      client="synchronous", partition_size=4000, progress=True)
    pattern = re.compile(r"corvane\.dask open: (\d+) records, (\d+) of (\d+) partitions, \d+ records/s(, \d+:\d\d left)?")
    logged = [line[20:] for line in open(tmp_path / "out/job.log").read().splitlines()]
    progress = [line for line in logged if pattern.fullmatch(line)]
    assert len(progress) >= 3 and progress[-1].startswith("corvane.dask open: 400 records")
    counts = [int(pattern.fullmatch(line)[1]) for line in progress]
    assert counts == sorted(counts) and counts[0] < 400
    assert [line for line in capfd.readouterr().err.splitlines() if pattern.fullmatch(line)] == progress[:-1]


def test_without_dask_the_command_says_which_interpreter_has_it(keys, tmp_path):
    (tmp_path / "archive.txt").write_text("junk\n")
    blocked = ("import runpy, sys; sys.modules['dask'] = sys.modules['distributed'] = None; "
               "runpy.run_module('corvane.dask', run_name='__main__', alter_sys=True)")
    args = ["open", "--key", keys[512].path, "-o", str(tmp_path / "out"), str(tmp_path / "archive.txt")]
    run = subprocess.run([sys.executable, "-c", blocked, *args], capture_output=True, text=True)
    assert run.returncode == 2 and run.stderr.startswith(
        f"corvane.dask needs the dask and distributed packages; this interpreter ({sys.executable}) has no ")
    assert "Traceback" not in run.stderr and not os.path.exists(tmp_path / "out")
    # In this process, the job needs neither.
    run = subprocess.run([sys.executable, "-c", blocked, *args, "--scheduler", "synchronous"], capture_output=True,
                         text=True)
    assert run.returncode == 1 and run.stderr.endswith("1 lines read, 0 opened, 0 refused, 1 not records, 1 files\n")
