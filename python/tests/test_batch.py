"""kaven-map batch over a campaign of pillbox cases: on this machine, as a
Slurm array job on a cluster started for the test, and interrupted."""

import csv
import fcntl
import hashlib
import json
import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import CONVERTER, GENERATOR
from slurm_cluster import slurm_cluster

SMALL = ["--nx", "5", "--ny", "5", "--nz", "41", "--out-counts", "5,5,41"]
LOCKED = "a conversion is already running in this folder"

# folder, generator options, damage, status, exit, text of the message
CASES = [
    ("tm010", ["--p", "0"], None, "ok", 0, ""),
    ("tm011", ["--p", "1"], None, "ok", 0, ""),
    ("tm012_wide", ["--p", "2", "--aper", "5"], None, "warning", 0, "lie outside the full grid"),
    ("bad_control", [], "control", "refused", 1, "every axis needs at least 2 nodes"),
    ("no_export", [], "export", "failed", 2, "unit 3 (pillbox_H.txt): file not found"),
    ("busy", [], "lock", "refused", 2, LOCKED),
]
# Given after the campaign folder: a link to one of its cases, a folder that
# does not exist.
EXTRA = [("link", "not run", "a link to the case"), ("missing", "not run", "no such folder")]


@pytest.fixture(scope="module")
def campaign(tmp_path_factory):
    """The campaign folder, and the arguments of a batch over it; the log of
    'busy' is locked as a conversion running there holds it."""
    base = tmp_path_factory.mktemp("campaign")
    camp = base / "campaign"
    for name, options, damage, *_ in CASES:
        subprocess.run([GENERATOR, "--dir", camp / name, *SMALL, *options], check=True, capture_output=True)
        if damage == "control":
            control = camp / name / "wavecalc_to_kaven.dat"
            lines = control.read_text().splitlines()
            control.write_text("\n".join(lines[:13] + ["1 5 41"]) + "\n")
        elif damage == "export":
            (camp / name / "pillbox_H.txt").unlink()
    (base / "link").symlink_to(camp / "tm010")
    with open(camp / "busy" / "wavecalc_to_kaven.log", "w") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        yield base, [str(camp), str(base / "link"), str(base / "missing")]


def batch(args, cwd, env=None, **kw):
    return subprocess.run([sys.executable, "-m", "kavenmap", "batch", *map(str, args)], cwd=cwd,
                          env={**(env or os.environ), "KAVENMAP_BUILD_DIR": str(CONVERTER.parents[1])},
                          capture_output=True, text=True, **kw)


def rows_of(path):
    with open(path) as f:
        rows = json.load(f) if str(path).endswith(".json") else list(csv.DictReader(f))
    return {os.path.basename(r["folder"]): r for r in rows}


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


@pytest.fixture(scope="module")
def local(campaign):
    base, args = campaign
    r = batch([*args, "--summary", base / "local.json"], base)
    return r, rows_of(base / "local.json")


def test_local_batch(campaign, local):
    base, _ = campaign
    r, rows = local
    assert r.returncode == 1, r.stderr
    assert list(rows) == sorted(c[0] for c in CASES) + [e[0] for e in EXTRA]
    version = subprocess.run([CONVERTER, "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    for name, _, _, status, code, says in CASES:
        row = rows[name]
        assert (row["status"], row["exit"]) == (status, code), row
        assert says in row["message"]
        assert f"{name} " in r.stdout and status in r.stdout
        folder = base / "campaign" / name
        record = folder / "eh_VRQ.#01.json"
        if status not in ("ok", "warning"):
            assert row["map"] is None and not record.exists()
            continue
        rec = json.loads(record.read_text())
        assert rec["converter"]["version"] == version
        assert [(e["name"], e["size"], e["sha256"]) for e in rec["exports"]] == [
            (f, (folder / f).stat().st_size, sha256(folder / f)) for f in ("pillbox_E.txt", "pillbox_H.txt")]
        assert rec["control_file"]["sha256"] == sha256(folder / "wavecalc_to_kaven.dat")
        assert (rec["exit"], bool(rec["warnings"])) == (0, status == "warning")
        assert {k: rec[k] for k in ("V0", "T", "frequency", "avg_rRL1")} == \
            {k: row[k] for k in ("V0", "T", "frequency", "avg_rRL1")}
    # TM010: Ez = 1 MV/m along the 11.5 cm cell.
    assert rows["tm010"]["V0"] == pytest.approx(1.15e5, rel=1e-9)
    assert (rows["tm010"]["max_E"], rows["tm010"]["sign_reversed"]) == (1.0, "B")
    for name, status, says in EXTRA:
        assert rows[name]["status"] == status and says in rows[name]["message"]


@pytest.fixture(scope="module")
def cluster():
    with slurm_cluster() as env:
        yield env


@pytest.mark.parametrize("wait", [True, False], ids=["waiting", "no-wait, then collect"])
def test_slurm_batch(campaign, local, cluster, wait):
    base, args = campaign
    out = base / f"slurm{wait}.csv"
    if wait:
        r = batch([*args, "--slurm", "--chunk", "2", "--summary", out], base, cluster, timeout=120)
    else:
        r = batch([*args, "--slurm", "--no-wait"], base, cluster, timeout=60)
        assert r.returncode == 0, r.stderr
        while subprocess.run(["squeue", "-h"], env=cluster, capture_output=True, text=True).stdout.strip():
            time.sleep(0.5)
        r = batch([*args, "--collect", "--summary", out], base, cluster, timeout=60)
    assert r.returncode == 1, r.stderr
    rows, expected = rows_of(out), local[1]
    assert list(rows) == list(expected)
    for name, row in rows.items():
        want = expected[name]
        assert [row[k] for k in ("status", "exit", "message", "map", "frequency", "V0", "T")] == \
            ["" if want[k] is None else str(want[k]) for k in ("status", "exit", "message", "map", "frequency", "V0", "T")]
    assert json.loads((base / "campaign" / "tm010" / "eh_VRQ.#01.json").read_text())["V0"] == expected["tm010"]["V0"]
    assert not list(base.glob("slurm-kaven-map-*.out"))  # empty task outputs are removed


def test_interrupted_and_timed_out(tmp_path):
    """A Ctrl-C keeps the rows done and ends the conversions running; a
    conversion past its timeout is ended and recorded."""
    fake = tmp_path / "converter"
    fake.write_text(f'#!/bin/sh\ncase "$PWD" in *slow*) echo $$ > started; exec sleep 60;; '
                    f'*quiet*) exit 0;; esac\nexec "{CONVERTER}" "$@"\n')
    fake.chmod(0o755)
    names = ["a_fast", "b_fast", "slow1", "slow2", "slow3", "quiet"]
    for name in names:
        subprocess.run([GENERATOR, "--dir", tmp_path / name, *SMALL], check=True, capture_output=True)
    started = [tmp_path / n / "started" for n in ("slow1", "slow2")]
    argv = [sys.executable, "-m", "kavenmap", "batch", *names, "--jobs", "2", "--converter", fake,
            "--summary", "s.csv"]
    p = subprocess.Popen(argv, cwd=tmp_path, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not all(s.exists() and s.read_text() for s in started):
        assert p.poll() is None
        time.sleep(0.05)
    p.send_signal(signal.SIGINT)
    assert p.wait(30) == 130
    rows = rows_of(tmp_path / "s.csv")
    assert [rows[n]["status"] for n in names] == ["ok", "ok"] + ["not run"] * 4
    assert "stopped while this case ran" in rows["slow1"]["message"]
    assert "stopped before this case" in rows["slow3"]["message"]
    for s in started:
        with pytest.raises(ProcessLookupError):
            os.kill(int(s.read_text()), 0)

    r = batch(["slow3", "quiet", "--timeout", "0.3", "--converter", fake], tmp_path, timeout=30)
    assert r.returncode == 1 and r.stdout.splitlines()[1].split()[:3] == ["slow3", "timeout", "143"]
    assert r.stdout.splitlines()[2].split()[:3] == ["quiet", "failed", "0"]  # no log, no map
    with pytest.raises(ProcessLookupError):
        os.kill(int((tmp_path / "slow3" / "started").read_text()), 0)
