"""A stop by SIGTERM or SIGHUP leaves no temporary behind; temporaries of ended runs are removed."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest

from ozra_data_access.writer.atomic import atomic_output
from ozra_data_access.writer.temporaries import temporary_path

# The writer takes the stop signals at their defaults, as a shell starts it: a suite run under nohup
# hands SIGHUP down ignored, and an ignored signal is left ignored.
WRITER = textwrap.dedent("""
    import signal, sys, time
    for name in ("SIGTERM", "SIGHUP"):
        signal.signal(getattr(signal, name), signal.SIG_DFL)
    from ozra_data_access.cli import Stopped, stop_on_signals
    from ozra_data_access.writer.atomic import atomic_output
    try:
        with stop_on_signals(), atomic_output(sys.argv[1]) as out:
            out.write(b"x" * 1000)
            print("writing", flush=True)
            time.sleep(60)
    except Stopped as stopped:
        sys.exit(128 + stopped.signum)
""")


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP])
def test_a_stop_signal_removes_the_temporary_file(tmp_path, signum):
    writer = subprocess.Popen([sys.executable, "-c", WRITER, str(tmp_path / "out.csv")], stdout=subprocess.PIPE,
                              text=True)
    assert writer.stdout.readline() == "writing\n"
    assert len(os.listdir(tmp_path)) == 1  # the temporary
    writer.send_signal(signum)
    assert writer.wait(timeout=30) == 128 + signum
    assert os.listdir(tmp_path) == []


def test_temporaries_of_ended_processes_are_removed_and_no_others(tmp_path):
    ended = subprocess.run([sys.executable, "-c", "import os; print(os.getpid())"], capture_output=True, text=True)
    dead_pid = int(ended.stdout)
    own = temporary_path(str(tmp_path), "out.csv", "tmp")
    stale = own.replace(f".{os.getpid()}-", f".{dead_pid}-")
    other_output = stale.replace(".out.csv.", ".other.csv.")
    other_host = stale.replace("@", "@another-machine.")
    for path in (own, stale, other_output, other_host):
        open(path, "wb").close()
    with atomic_output(tmp_path / "out.csv") as out:
        out.write(b"done")
    kept = [os.path.basename(path) for path in (own, other_output, other_host)] + ["out.csv"]
    assert sorted(os.listdir(tmp_path)) == sorted(kept)
