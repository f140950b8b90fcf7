"""The shared real runs converted once per test session, for the export tests."""

import tarfile
import warnings

from ozra_data_access.convert import convert
from shared_data import DATA, MZML_FILES, VENDOR

#: Every shared run the converter reads: mzML, mzXML, the vendor folders and files.
VENDOR_RUNS = ["amber.D", "copper.D", "cyan.D", "orange.D", "red.D", "silver.D", "yellow.D", "blue.raw",
               "thermo/small.RAW"]
ALL_RUNS = MZML_FILES + ["DOM_b.mzXML"] + VENDOR_RUNS


def source_path(name, unpacked):
    """The path of a shared run; blue.raw is unpacked from its archive into `unpacked` first."""
    if name == "blue.raw":
        if not (unpacked / "blue.raw").exists():
            with tarfile.open(VENDOR / "blue.raw.tar.xz") as archive:
                archive.extractall(unpacked, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
        return unpacked / "blue.raw"
    return VENDOR / name if name in VENDOR_RUNS else DATA / name


class ConvertedRuns:
    """Converts each run on first use into one folder, and remembers the result."""

    def __init__(self, folder):
        self.folder = folder
        self.done = {}

    def __call__(self, name):
        if name not in self.done:
            target = self.folder / (name.replace("/", "_") + ".ozra")
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                convert(source_path(name, self.folder), target)
            self.done[name] = target
        return self.done[name]
