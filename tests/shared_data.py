"""Where the tests find the shared real files: shared/data beside the repository, or the folder
OZRA_SHARED_DATA names. Nothing of them is copied into this repository."""

import os
import pathlib


def _shared_data():
    candidates = [os.environ.get("OZRA_SHARED_DATA"), pathlib.Path(__file__).resolve().parents[2] / "shared" / "data"]
    return next((pathlib.Path(c) for c in candidates if c and pathlib.Path(c).is_dir()), pathlib.Path("shared/data"))


DATA = _shared_data()
MZML_FILES = sorted(p.name for p in DATA.glob("*.mzML*")) if DATA.is_dir() else []
VENDOR = DATA / "vendor"
