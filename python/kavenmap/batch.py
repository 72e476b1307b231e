"""Campaigns: many case folders converted in one command, by a pool of
workers on this machine or as one Slurm array job, with one summary.

Each case is one run of the converter in its own folder, exactly as a user
would start it there; what the summary adds is read from the log and the map
the run left behind. Beside each map written, eh_VRQ.#NN.json records the
converter, the control file, the exports' checksums and the outcome."""

from __future__ import annotations

import contextlib
import csv
import hashlib
import io
import json
import math
import os
import queue
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time
import uuid
from dataclasses import dataclass
from datetime import datetime, timezone
from pathlib import Path

from .analysis import beam_figures
from .reader import MapError, read_map
from .runlog import CONTROL_NAME, LOG_NAME, LogError, run_values

FIGURES = ("V0", "W", "T", "crest_phase", "kick", "kick_direction")
COLUMNS = ("folder", "status", "exit", "message", "seconds", "map", "frequency", "max_E",
           "max_E_axis", "avg_rRL1", "sign_reversed") + FIGURES
STATUSES = ("ok", "warning", "refused", "failed", "timeout", "not run")
RESULT_NAME = "kaven-map-batch.json"  # a Slurm task's result, in the case folder
CONVERTER_NAME = "wavecalc_to_kaven"
WARNING = "wavecalc_to_kaven: warning: "
LOCKED = "a conversion is already running in this folder"
# Cases per Slurm array task by default: at most this many tasks, far below
# Slurm's default MaxArraySize of 1001.
MAX_TASKS = 100
POLL = 1.0  # s between two looks at squeue
TABLE_MESSAGE = 90  # characters of a message in the table on stdout

class BatchError(Exception):
    """Nothing was run: a bad option, no converter, no Slurm."""


class Stopped(Exception):
    """Ctrl-C, or SIGTERM/SIGHUP: the batch ends its conversions and stops."""

    def __init__(self, signum=signal.SIGINT):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


# -- the converter -------------------------------------------------------------

def find_converter(option=None) -> str:
    """--converter PATH; else KAVENMAP_BUILD_DIR/src/wavecalc_to_kaven when
    that variable is set; else build/src/wavecalc_to_kaven of the checkout
    this toolkit lies in; else wavecalc_to_kaven on the PATH."""
    if option:
        tried = [Path(option)]
    elif os.environ.get("KAVENMAP_BUILD_DIR"):
        tried = [Path(os.environ["KAVENMAP_BUILD_DIR"]) / "src" / CONVERTER_NAME]
    else:
        tried = [Path(__file__).resolve().parents[2] / "build" / "src" / CONVERTER_NAME]
        on_path = shutil.which(CONVERTER_NAME)
        if on_path:
            tried.append(Path(on_path))
    for p in tried:
        if p.is_file() and os.access(p, os.X_OK):
            return str(p.resolve())
    raise BatchError(f"no converter: {', '.join(map(str, tried))} is not an executable file "
                     "(build the project, give --converter PATH or set KAVENMAP_BUILD_DIR)")


def converter_version(path: str) -> str:
    r = subprocess.run([path, "--version"], capture_output=True, stdin=subprocess.DEVNULL)
    text = r.stdout.decode("latin-1").strip()
    if r.returncode != 0 or not text:
        raise BatchError(f"{path} --version failed (exit status {r.returncode}): is it the converter?")
    return text.splitlines()[0]


# -- cases ---------------------------------------------------------------------

@dataclass
class Case:
    folder: str           # as given, or joined with the subfolder's name
    path: str = ""        # absolute, as the converter's working folder
    why: str | None = None  # why it is not run
    real: str = ""        # with every link resolved


def _is_link(c: Case) -> bool:
    return c.real != os.path.normpath(c.path)


def find_cases(folders) -> list[Case]:
    """Every FOLDER that holds the control file is a case; one without it is
    searched one level down. Bad inputs become cases with a reason not to run."""
    found = []
    for given in folders:
        p = Path(given)
        if not os.path.lexists(p):
            found.append(Case(given, why="no such folder"))
        elif not p.is_dir():
            found.append(Case(given, why="not a folder" if p.exists() else "a link to nothing"))
        elif (p / CONTROL_NAME).is_file():
            found.append(Case(given))
        else:
            try:
                subs = sorted(c for c in os.listdir(p) if (p / c / CONTROL_NAME).is_file())
            except OSError as e:
                found.append(Case(given, why=f"cannot list the folder: {e.strerror}"))
                continue
            if not subs:
                found.append(Case(given, why=f"no {CONTROL_NAME} in the folder nor in a folder in it"))
            found += [Case(os.path.join(given, c)) for c in subs]
    # Of the cases in one real folder the first given that is not a link runs.
    real = {}
    for c in found:
        if c.why is None:
            c.path = os.path.abspath(c.folder)
            c.real = os.path.realpath(c.path)
            first = real.get(c.real)
            if first is None or (_is_link(first) and not _is_link(c)):
                real[c.real] = c
    for c in found:
        if c.why is not None or real[c.real] is c:
            continue
        first = real[c.real]
        c.why = (f"a link to the case {first.folder}" if _is_link(c) else
                 f"the same folder as {first.folder}, given before")
    for c in found:
        if c.why is None and _is_link(c):
            into = [o.folder for r, o in real.items() if c.real.startswith(r + os.sep)]
            if into:
                c.why = f"a link into the case {into[0]}"
    return found


# -- one conversion --------------------------------------------------------------

def _sha256(path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            h.update(block)
    return h.hexdigest()


def _file_entry(folder: str, name: str, role: str) -> dict:
    entry = {"role": role, "name": name}
    try:
        entry["size"] = os.path.getsize(os.path.join(folder, name))
        entry["sha256"] = _sha256(os.path.join(folder, name))
    except OSError as e:
        entry["error"] = e.strerror or str(e)
    return entry


def _stat_key(path):
    try:
        s = os.stat(path)
        return s.st_ino, s.st_mtime_ns, s.st_size
    except OSError:
        return None


def outcome(exit_code: int, stderr: str, timeout=None):
    """(status, message, warnings) of a conversion from its exit status and stderr."""
    lines = [ln.strip() for ln in stderr.splitlines() if ln.strip()]
    message = lines[0] if lines else ""
    warnings = [ln for ln in lines if ln.startswith(WARNING)]
    if timeout is not None:
        return "timeout", f"ended after the timeout of {timeout:g} s" + (f"; {message}" if message else ""), warnings
    if exit_code == 0:
        return ("warning" if warnings else "ok"), message, warnings
    if exit_code == 1 or (exit_code == 2 and LOCKED in message):
        return "refused", message, warnings
    if exit_code > 128 and not message:
        message = f"ended by signal {exit_code - 128}"
    return "failed", message, warnings


class Runner:
    """Runs conversions, one per call of convert(), from any thread; stop()
    ends every conversion running and lets no new one start."""

    def __init__(self, converter: str, version: str, timeout=None):
        self.converter, self.version, self.timeout = converter, version, timeout
        self.stopping = False
        self._lock = threading.Lock()
        self._running = set()
        self._ended = set()  # the conversions that stop() ended

    def stop(self, sig=signal.SIGTERM):
        with self._lock:
            self.stopping = True
            for p in self._running:
                _signal_group(p, sig)
                self._ended.add(p)

    def convert(self, case: Case) -> dict:
        row = dict.fromkeys(COLUMNS)
        row["folder"] = case.folder
        try:
            self._convert(case, row)
        except Exception as e:  # a case never takes the batch down with it
            row.update(status="failed", message=f"kaven-map: {type(e).__name__}: {e}")
        return row

    def _convert(self, case: Case, row: dict):
        folder = case.path
        log_path = os.path.join(folder, LOG_NAME)
        log_before = _stat_key(log_path)
        control = Path(folder, CONTROL_NAME).read_bytes()
        started = datetime.now(timezone.utc)
        t0 = time.monotonic()
        with self._lock:
            if self.stopping:
                row.update(status="not run", message="the batch was stopped before this case")
                return
            p = subprocess.Popen([self.converter], cwd=folder, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 start_new_session=True)
            self._running.add(p)
        timed_out = None
        try:
            try:
                _, err = p.communicate(timeout=self.timeout)
            except subprocess.TimeoutExpired:
                timed_out = self.timeout
                _signal_group(p, signal.SIGTERM)
                try:
                    _, err = p.communicate(timeout=10)
                except subprocess.TimeoutExpired:
                    _signal_group(p, signal.SIGKILL)
                    _, err = p.communicate()
        finally:
            with self._lock:
                self._running.discard(p)
        seconds = time.monotonic() - t0
        # A converter ended by a signal shows as the shell shows it: 128 + signal.
        code = p.returncode if p.returncode >= 0 else 128 - p.returncode
        status, message, warnings = outcome(code, err.decode("latin-1"), timed_out)
        if p in self._ended and status not in ("ok", "warning"):
            status = "not run"
            message = ("the batch was stopped while this case ran; its conversion was ended "
                       "(an earlier map is left as it was)")
        row.update(status=status, exit=code, message=message, seconds=round(seconds, 3))
        # A log that this run did not touch (a control file refused before
        # the log, the lock of another conversion) belongs to another run.
        if _stat_key(log_path) == log_before or LOCKED in message:
            if code == 0:
                row.update(status="failed", message="the converter ended normally without writing its log")
            return
        try:
            values = run_values(log_path)
        except (LogError, OSError) as e:
            row["message"] = message or f"the log cannot be read: {e}"
            return
        map_name = values.pop("map")
        row.update(values)
        if code != 0 or status not in ("ok", "warning"):
            return
        map_path = os.path.join(folder, map_name) if map_name else None
        if not map_path or not os.path.isfile(map_path):
            row.update(status="failed", message="the converter ended normally, but its map "
                       f"{map_name or '(not named in the log)'} is not there")
            return
        row["map"] = map_name
        try:
            if values["frequency"] is not None:
                figures = beam_figures(read_map(map_path), values["frequency"])
                row.update({k: figures.get(k) for k in FIGURES})
        except (MapError, OSError, ValueError) as e:
            row["message"] = message or f"the map cannot be read: {e}"
        write_record(map_path, self, control, row, warnings, started)


def _signal_group(p, sig):
    try:
        os.killpg(p.pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


def write_record(map_path, runner: Runner, control: bytes, row: dict, warnings, started):
    """eh_VRQ.#NN.json beside the map: which converter made it from which
    control file and exports, when, with what outcome and figures."""
    folder = os.path.dirname(map_path)
    lines = [ln.removesuffix("\r") for ln in control.decode("latin-1").split("\n")]
    if lines[-1] == "":
        lines.pop()
    # Lines 3 and 4 of the control file name the exports (first 200 characters).
    names = [(lines[i][:200].rstrip(" \t") if len(lines) > i else "") for i in (2, 3)]
    record = {
        "map": os.path.basename(map_path),
        "folder": folder,
        "converter": {"path": runner.converter, "version": runner.version},
        "control_file": {"name": CONTROL_NAME, "size": len(control),
                         "sha256": hashlib.sha256(control).hexdigest(), "lines": lines},
        "exports": [_file_entry(folder, n, role) for n, role in zip(names, ("E", "H"))],
        "exit": row["exit"],
        "warnings": [w[len(WARNING):] for w in warnings],
        "started": started.isoformat(timespec="seconds"),
        "seconds": row["seconds"],
        **{k: row[k] for k in COLUMNS[6:]},
    }
    _write_atomic(map_path + ".json", json.dumps(record, indent=2) + "\n")


def _write_atomic(path, text: str):
    tmp = f"{path}.tmp{os.getpid()}.{threading.get_ident()}"
    try:
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(tmp)
        raise


# -- the summary ------------------------------------------------------------------

class Summary:
    """The rows in the order of the cases, written to FILE (.csv or .json)
    as they come in, at most twice a second and always at the end."""

    def __init__(self, cases, path=None, progress=False):
        self.rows = [None] * len(cases)
        self.path = path
        self.progress = progress
        self._written = 0.0
        self._dirty = False
        for i, c in enumerate(cases):
            if c.why is not None:
                self.rows[i] = _not_run(c.folder, c.why)
        self.write()

    def add(self, i, row):
        self.rows[i] = row
        self._dirty = True
        self.show()
        self.tick()

    def tick(self):
        """Writes the rows added, unless the file was written in the last 0.5 s."""
        if self._dirty and time.monotonic() - self._written > 0.5:
            self.write()

    def show(self):
        if self.progress:
            done = [r for r in self.rows if r is not None]
            bad = sum(r["status"] not in ("ok", "warning") for r in done)
            sys.stderr.write(f"\r{len(done)} of {len(self.rows)} cases done, {bad} not ok\033[K")
            sys.stderr.flush()

    def write(self):
        self._written = time.monotonic()
        self._dirty = False
        if not self.path:
            return
        rows = [r for r in self.rows if r is not None]
        if self.path.endswith(".json"):
            text = json.dumps(rows, indent=1) + "\n"
        else:
            out = io.StringIO()
            w = csv.writer(out, lineterminator="\n")
            w.writerow(COLUMNS)
            for r in rows:
                w.writerow(["" if r[k] is None else r[k] for k in COLUMNS])
            text = out.getvalue()
        _write_atomic(self.path, text)

    def finish(self) -> int:
        self.write()
        if self.progress:
            sys.stderr.write("\n")
        print(table(self.rows))
        return 0 if all(r["status"] in ("ok", "warning") for r in self.rows) else 1


def _not_run(folder, why) -> dict:
    row = dict.fromkeys(COLUMNS)
    row.update(folder=folder, status="not run", message=why)
    return row


def _cell(v) -> str:
    if v is None:
        return ""
    if isinstance(v, float):
        return f"{v:.6g}"
    return str(v)


def table(rows) -> str:
    cols = ("folder", "status", "exit", "seconds", "frequency", "V0", "T", "message")
    if any(r["kick"] is not None for r in rows):  # a dipole mode's transverse kick
        cols = cols[:-1] + ("kick", "kick_direction", "message")
    cells = [list(cols)] + [[_cell(r[k]) for k in cols] for r in rows]
    for c in cells[1:]:  # the whole message is in the summary file
        if len(c[-1]) > TABLE_MESSAGE:
            c[-1] = c[-1][:TABLE_MESSAGE - 4] + " ..."
    widths = [max(len(c[i]) for c in cells) for i in range(len(cols) - 1)]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)) + "  " + row[-1] for row in cells]
    counts = {s: sum(r["status"] == s for r in rows) for s in STATUSES}
    lines.append(f"{len(rows)} cases: " + ", ".join(f"{n} {s}" for s, n in counts.items() if n))
    return "\n".join(ln.rstrip() for ln in lines)


# -- a local batch -----------------------------------------------------------------

def run_pool(cases, runner: Runner, jobs: int, sink) -> int:
    """Converts the cases that can run with `jobs` workers, handing each row
    to sink.add(index, row) as it comes; on a stop signal ends the running
    conversions and gives the rest their rows. Returns the signal or 0."""
    todo = queue.SimpleQueue()
    runnable = [i for i, c in enumerate(cases) if c.why is None]
    for i in runnable:
        todo.put(i)
    done = queue.SimpleQueue()

    def work():
        while not runner.stopping:
            try:
                i = todo.get_nowait()
            except queue.Empty:
                return
            done.put((i, runner.convert(cases[i])))

    workers = [threading.Thread(target=work, daemon=True) for _ in range(min(jobs, len(runnable)))]
    got = set()
    stopped = 0
    with _stop_signals():
        try:
            for t in workers:
                t.start()
            while len(got) < len(runnable):
                try:
                    i, row = done.get(timeout=0.5)
                except queue.Empty:
                    sink.tick()
                    continue
                got.add(i)
                sink.add(i, row)
        except (KeyboardInterrupt, Stopped) as e:
            stopped = getattr(e, "signum", signal.SIGINT)
            _stop_signals.ignore()  # a second Ctrl-C does not cut the ending short
            runner.stop()
            for t in workers:
                t.join(10)
            runner.stop(signal.SIGKILL)
            for t in workers:
                t.join()
    while not done.empty():
        i, row = done.get()
        got.add(i)
        sink.add(i, row)
    for i in runnable:
        if i not in got:
            sink.add(i, _not_run(cases[i].folder, "the batch was stopped before this case"))
    return stopped


class _stop_signals:
    """SIGTERM and SIGHUP end a batch as Ctrl-C does, in the main thread;
    ignore() holds all three off while the batch ends."""
    SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def __enter__(self):
        self.old = {}
        if threading.current_thread() is threading.main_thread():
            self.old = {s: signal.getsignal(s) for s in self.SIGNALS}
            for s in self.SIGNALS[1:]:
                signal.signal(s, self._raise)

    @staticmethod
    def _raise(signum, frame):
        raise Stopped(signum)

    @classmethod
    def ignore(cls):
        if threading.current_thread() is threading.main_thread():
            for s in cls.SIGNALS:
                signal.signal(s, signal.SIG_IGN)

    def __exit__(self, *exc):
        for s, h in self.old.items():
            signal.signal(s, h)


# -- a batch on a Slurm cluster ----------------------------------------------------

def _slurm(*argv, check=True) -> subprocess.CompletedProcess:
    try:
        r = subprocess.run(argv, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    except FileNotFoundError:
        raise BatchError(f"{argv[0]} not found: --slurm needs the Slurm client commands") from None
    if check and r.returncode != 0:
        raise BatchError(f"{' '.join(argv[:2])} failed (exit status {r.returncode}): "
                         f"{r.stderr.strip() or r.stdout.strip()}")
    return r


def submit(cases, runner: Runner, chunk=None, partition=None, time_limit=None):
    """One array job over chunks of the runnable cases, held until each case
    folder holds a result file that names its task. Returns (job, tasks, token)."""
    runnable = [c for c in cases if c.why is None]
    chunk = chunk or max(1, math.ceil(len(runnable) / MAX_TASKS))
    tasks = math.ceil(len(runnable) / chunk)
    token = uuid.uuid4().hex
    output = os.path.join(os.getcwd(), "slurm-kaven-map-%A_%a.out")
    config = {"token": token, "converter": runner.converter, "version": runner.version,
              "timeout": runner.timeout, "chunk": chunk, "output": output,
              "cases": [[c.folder, c.path] for c in runnable]}
    package_dir = str(Path(__file__).resolve().parents[1])
    # Directives, so that SBATCH_CPUS_PER_TASK and SBATCH_JOB_NAME override them.
    script = (
        "#!/bin/sh\n"
        "#SBATCH --job-name=kaven-map\n"
        "#SBATCH --cpus-per-task=2\n"
        f"PYTHONPATH={shlex.quote(package_dir)}${{PYTHONPATH:+:$PYTHONPATH}}\n"
        "export PYTHONPATH\n"
        f"exec {shlex.quote(sys.executable)} -m kavenmap.batch --task <<'KAVENMAP_BATCH_CASES'\n"
        f"{json.dumps(config)}\nKAVENMAP_BATCH_CASES\n")
    argv = ["sbatch", "--parsable", "--hold", f"--array=0-{tasks - 1}", f"--output={output}"]
    if partition:
        argv.append(f"--partition={partition}")
    if time_limit:
        argv.append(f"--time={time_limit}")
    try:
        r = subprocess.run(argv, input=script, capture_output=True, text=True)
    except FileNotFoundError:
        raise BatchError("sbatch not found: --slurm needs the Slurm client commands") from None
    if r.returncode != 0:
        raise BatchError(f"sbatch refused the array job: {r.stderr.strip()}")
    job = r.stdout.strip().split(";")[0]
    try:
        for n, c in enumerate(runnable):
            t = n // chunk
            row = _not_run(c.folder, f"submitted as Slurm task {job}_{t}; no result yet")
            _write_result(c.path, row, token=token, job=job, task=t, state="submitted",
                          output=_task_output(output, job, t))
        _slurm("scontrol", "release", job)
    except BaseException:
        _slurm("scancel", job, check=False)
        raise
    return job, tasks, token


def _task_output(pattern, job, task):
    return pattern.replace("%A", str(job)).replace("%a", str(task))


def _write_result(folder, row, **extra):
    _write_atomic(os.path.join(folder, RESULT_NAME), json.dumps({**row, **extra}) + "\n")


def _read_result(folder):
    try:
        with open(os.path.join(folder, RESULT_NAME)) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def _queued_tasks(job, patience=60.0) -> set | None:
    """The array's tasks still pending or running, or None when Slurm has
    forgotten the job (squeue refuses its id). A controller that does not
    answer is asked again for `patience` seconds."""
    end = time.monotonic() + patience
    while True:
        r = _slurm("squeue", "-h", "-r", "-j", job, "-o", "%K", check=False)
        if r.returncode == 0:
            return {ln.strip() for ln in r.stdout.splitlines() if ln.strip()}
        if "Invalid job id" in r.stderr:
            return None
        if time.monotonic() > end:
            raise BatchError(f"squeue failed (exit status {r.returncode}): {r.stderr.strip()}; "
                             f"the array job {job} goes on, and --collect writes the summary later")
        time.sleep(POLL)


def _ended_tasks(job) -> dict:
    """{task: (state, exit code)} of the array's tasks that scontrol still knows."""
    r = _slurm("scontrol", "-o", "show", "job", job, check=False)
    out = {}
    for line in r.stdout.splitlines():
        t = re.search(r"\bArrayTaskId=(\d+)\b", line)
        s = re.search(r"\bJobState=(\S+)", line)
        x = re.search(r"\bExitCode=(\S+)", line)
        if t and s:
            out[t.group(1)] = (s.group(1), x.group(1) if x else "?")
    return out


def collect(cases, summary: Summary, token=None, final=True):
    """The rows of the runnable cases from their result files. A case whose
    task ended without a result is looked up with squeue and scontrol; with
    final=False only the rows of cases done are added."""
    queued, ended = {}, {}
    for i, c in enumerate(cases):
        if c.why is not None:
            continue
        res = _read_result(c.path)
        done = res is not None and res.get("state") == "done" and (not token or res.get("token") == token)
        if not final:
            if done and summary.rows[i] is None:
                summary.add(i, {**{k: res.get(k) for k in COLUMNS}, "folder": c.folder})
            continue
        if res is None:
            summary.add(i, _not_run(c.folder, f"no result of a Slurm batch ({RESULT_NAME}) in the folder"))
            continue
        row = {**{k: res.get(k) for k in COLUMNS}, "folder": c.folder}
        job, task = str(res.get("job")), str(res.get("task"))
        if token and res.get("token") != token:
            row = _not_run(c.folder, f"the folder's result was replaced by another batch (Slurm job {job})")
        elif not done:
            if job not in queued:
                queued[job] = _queued_tasks(job)
            if queued[job] and task in queued[job]:
                row["message"] = f"Slurm task {job}_{task} has not ended yet"
            else:
                if job not in ended:
                    ended[job] = _ended_tasks(job)
                state, code = ended[job].get(task, (None, None))
                how = f"ended {state} (exit code {code})" if state else \
                    "ended, and Slurm no longer knows how"
                if state == "CANCELLED":
                    row["message"] = f"Slurm task {job}_{task} was cancelled before this case"
                else:
                    row.update(status="failed", message=f"Slurm task {job}_{task} {how} without a "
                               f"result for this case; its output: {res.get('output')}")
        elif res.get("output") and _is_empty(res["output"]):
            os.remove(res["output"])
        summary.add(i, row)


def _is_empty(path):
    try:
        return os.path.getsize(path) == 0
    except OSError:
        return False


def wait(job, cases, summary: Summary, token):
    """Polls squeue until the array has left it, adding the rows of the
    cases done as they come, then collects; on Ctrl-C cancels the array, so
    that no conversion of it goes on."""
    stopped = 0
    with _stop_signals():
        try:
            while _queued_tasks(job):
                collect(cases, summary, token, final=False)
                summary.tick()
                time.sleep(POLL)
        except (KeyboardInterrupt, Stopped) as e:
            stopped = getattr(e, "signum", signal.SIGINT)
            _stop_signals.ignore()
            _slurm("scancel", job, check=False)
            deadline = time.monotonic() + 30
            while _queued_tasks(job) and time.monotonic() < deadline:
                time.sleep(POLL)
    collect(cases, summary, token)
    return stopped


def task_main() -> int:
    """One task of the array: converts its chunk of the cases given on stdin,
    each result written into the case's folder as soon as it is known."""
    config = json.load(sys.stdin)
    t = int(os.environ["SLURM_ARRAY_TASK_ID"])
    job = os.environ.get("SLURM_ARRAY_JOB_ID", "?")
    k = config["chunk"]
    cases = [Case(folder, path) for folder, path in config["cases"][t * k:(t + 1) * k]]
    runner = Runner(config["converter"], config["version"], config["timeout"])

    class Results:
        @staticmethod
        def add(i, row):
            _write_result(cases[i].path, row, token=config["token"], job=job, task=t,
                          state="done", output=_task_output(config["output"], job, t))

        @staticmethod
        def tick():
            pass

    stopped = run_pool(cases, runner, 1, Results)
    return 128 + stopped if stopped else 0


# -- the command ------------------------------------------------------------------

def add_arguments(s):
    s.add_argument("folders", nargs="+", metavar="FOLDER",
                   help="a case folder (holding wavecalc_to_kaven.dat) or a folder of case folders")
    s.add_argument("--jobs", type=int, metavar="N",
                   help="conversions at once on this machine (half the cores, at least 1)")
    s.add_argument("--summary", metavar="FILE", help="the summary as .csv or .json")
    s.add_argument("--timeout", type=float, metavar="S", help="seconds a conversion may take (no limit)")
    s.add_argument("--converter", metavar="PATH",
                   help="the converter (KAVENMAP_BUILD_DIR/src/wavecalc_to_kaven, else build/ of "
                        "this checkout, else wavecalc_to_kaven on the PATH)")
    g = s.add_argument_group("on a Slurm cluster")
    g.add_argument("--slurm", action="store_true", help="convert as one Slurm array job")
    g.add_argument("--partition", metavar="P", help="the partition of the array job")
    g.add_argument("--time", metavar="T", help="the time limit of each array task (Slurm's form)")
    g.add_argument("--chunk", type=int, metavar="K",
                   help=f"cases per array task (enough for at most {MAX_TASKS} tasks)")
    g.add_argument("--no-wait", action="store_true", help="return once the array job is submitted")
    g.add_argument("--collect", action="store_true",
                   help="write the summary from the result files of an earlier --slurm batch")
    s.set_defaults(run=run, batch_parser=s)


def _check(args):
    if args.jobs is not None and args.jobs < 1:
        return "--jobs needs a number of 1 or more"
    if args.timeout is not None and not args.timeout > 0:
        return "--timeout needs a number of seconds above 0"
    if args.chunk is not None and args.chunk < 1:
        return "--chunk needs a number of 1 or more"
    if args.summary and os.path.splitext(args.summary)[1].lower() not in (".csv", ".json"):
        return f"--summary {args.summary}: the file name must end in .csv or .json"
    slurm_only = [o for o, v in (("--partition", args.partition), ("--time", args.time),
                                 ("--chunk", args.chunk), ("--no-wait", args.no_wait)) if v]
    if slurm_only and not args.slurm:
        return f"{', '.join(slurm_only)} only with --slurm"
    if args.no_wait and (args.collect or args.summary):
        return "--no-wait writes no summary: give --collect and --summary once the array has ended"
    if args.jobs is not None and (args.slurm or args.collect):
        return "--jobs is for a batch on this machine"
    return None


def run(args) -> int:
    problem = _check(args)
    if problem:
        args.batch_parser.error(problem)
    try:
        cases = find_cases(args.folders)
        if not args.collect:
            converter = find_converter(args.converter)
            runner = Runner(converter, converter_version(converter), args.timeout)
        summary = Summary(cases, args.summary and os.path.abspath(args.summary), sys.stderr.isatty())
        stopped = 0
        if args.collect:
            collect(cases, summary)
        elif not args.slurm:
            jobs = args.jobs or max(1, len(os.sched_getaffinity(0)) // 2)
            stopped = run_pool(cases, runner, jobs, summary)
        elif any(c.why is None for c in cases):
            job, tasks, token = submit(cases, runner, args.chunk, args.partition, args.time)
            print(f"submitted Slurm array job {job}: {tasks} task(s) for "
                  f"{sum(c.why is None for c in cases)} case(s)", file=sys.stderr)
            if args.no_wait:
                print(f"kaven-map batch --collect {' '.join(map(shlex.quote, args.folders))} "
                      "writes the summary once it has ended")
                return 0
            stopped = wait(job, cases, summary, token)
        status = summary.finish()
        return 128 + stopped if stopped else status
    except BatchError as e:
        print(f"kaven-map: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    if sys.argv[1:] == ["--task"]:
        sys.exit(task_main())
    sys.exit("usage: python -m kavenmap.batch --task (one task of a Slurm array; "
             "use kaven-map batch)")
