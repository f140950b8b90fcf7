"""The extension modules load once per process: reload keeps the loaded module,
a sub-interpreter's import is refused with ImportError (run in a child process)."""

import subprocess
import sys

SCRIPT = """
import importlib
import ozra_data_access.qual as qual
from ozra_data_access.common import ValueRange
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters

before = qual.AcquisitionCondition
assert importlib.reload(qual) is qual and qual.AcquisitionCondition is before
interpreter = interpreters.create()
try:
    interpreters.run_string(interpreter, "import ozra_data_access.qual")
except Exception as error:
    print(error)
else:
    print("imported")
assert str(ValueRange(1.0, 2.0)) == "1.0-2.0"
"""


def test_a_second_load_is_refused_and_the_first_keeps_working():
    run = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    assert "ImportError" in run.stdout and ("cannot be reloaded or imported in a sub-interpreter" in run.stdout
                                            or "does not support loading in subinterpreters" in run.stdout)
