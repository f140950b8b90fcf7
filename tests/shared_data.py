"""Where the shared real measurements are: shared/data beside the repository, or OZRA_SHARED_DATA."""

import os
import pathlib

FOLDER = next((pathlib.Path(c) for c in (os.environ.get("OZRA_SHARED_DATA"),
                                         pathlib.Path(__file__).resolve().parents[2] / "shared" / "data")
               if c and pathlib.Path(c).is_dir()), None)
