"""A single-node Slurm cluster of this machine for the tests, as root and
without systemd: its own munge key and socket, slurmctld and slurmd in the
foreground, every file under one temporary folder, no accounting.

    with slurm_cluster() as env:     # env: os.environ with SLURM_CONF set
        subprocess.run(["sinfo"], env=env)

Run as a script it starts the cluster, prints the SLURM_CONF to export and
keeps it up until Ctrl-C."""

import contextlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

DAEMONS = ("munged", "mungekey", "slurmctld", "slurmd", "sinfo", "sbatch", "squeue", "scontrol")


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _config(d, host, cpus):
    return f"""ClusterName=kavenmap
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={_free_port()}
SlurmdPort={_free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={d}/munge.socket
StateSaveLocation={d}/state
SlurmdSpoolDir={d}/spool
SlurmctldPidFile={d}/slurmctld.pid
SlurmdPidFile={d}/slurmd.pid
SlurmctldLogFile={d}/slurmctld.log
SlurmdLogFile={d}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0,bf_interval=1
SlurmdParameters=config_overrides
ReturnToService=2
NodeName={host} NodeAddr=127.0.0.1 CPUs={cpus} State=UNKNOWN
PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP
"""


@contextlib.contextmanager
def slurm_cluster(timeout=60):
    missing = [p for p in DAEMONS if not shutil.which(p, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")]
    if missing:
        raise RuntimeError(f"{', '.join(missing)} not found: scripts/setup-python installs slurm-wlm and munge")
    # munged refuses a socket folder that others cannot traverse.
    d = tempfile.mkdtemp(prefix="kavenmap-slurm-")
    os.chmod(d, 0o755)
    for sub in ("state", "spool"):
        os.mkdir(os.path.join(d, sub))
    host = socket.gethostname().split(".")[0]
    conf = os.path.join(d, "slurm.conf")
    with open(conf, "w") as f:
        # Two CPUs at least: an array task asks for two.
        f.write(_config(d, host, max(2, os.cpu_count() or 1)))
    env = {**os.environ, "SLURM_CONF": conf}
    env["PATH"] = env.get("PATH", "") + ":/usr/sbin:/sbin"
    daemons = []
    try:
        key = os.path.join(d, "munge.key")
        subprocess.run(["mungekey", "--create", f"--keyfile={key}"], check=True, env=env,
                       capture_output=True)
        os.chmod(key, 0o400)
        for name, argv in (
                ("munged", ["munged", "--foreground", "--force", f"--key-file={key}",
                            f"--socket={d}/munge.socket", f"--pid-file={d}/munged.pid",
                            f"--log-file={d}/munged.log", f"--seed-file={d}/munged.seed"]),
                ("slurmctld", ["slurmctld", "-D", "-f", conf]),
                ("slurmd", ["slurmd", "-D", "-f", conf])):
            with open(os.path.join(d, f"{name}.out"), "w") as out:
                daemons.append(subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                                stderr=subprocess.STDOUT))
            if name == "munged":
                _wait(lambda: os.path.exists(f"{d}/munge.socket"), timeout, "munged's socket", d, daemons)
        _wait(lambda: subprocess.run(["sinfo", "-h", "-o", "%t"], env=env, capture_output=True,
                                     text=True).stdout.strip() == "idle", timeout, "an idle node", d, daemons)
        yield env
    finally:
        for p in reversed(daemons):
            p.terminate()
        for p in reversed(daemons):
            try:
                p.wait(15)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        shutil.rmtree(d, ignore_errors=True)


def _wait(ready, timeout, what, d, daemons):
    end = time.monotonic() + timeout
    while not ready():
        dead = [p.args[0] for p in daemons if p.poll() is not None]
        if dead or time.monotonic() > end:
            logs = "".join(f"\n--- {n}\n" + open(os.path.join(d, n), errors="replace").read()[-2000:]
                           for n in sorted(os.listdir(d)) if n.endswith((".out", ".log")))
            why = f"{', '.join(dead)} ended" if dead else f"no {what} after {timeout} s"
            raise RuntimeError(f"the test cluster did not start: {why}{logs}")
        time.sleep(0.1)


if __name__ == "__main__":
    with slurm_cluster() as env:
        print(f"export SLURM_CONF={env['SLURM_CONF']}", flush=True)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        try:
            signal.pause()
        except KeyboardInterrupt:
            pass
