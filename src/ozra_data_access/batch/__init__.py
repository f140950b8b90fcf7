"""Many runs at once: targeted extraction, chromatograms and conversion across a cohort, on Dask.

    from ozra_data_access.batch import extract_xics
    result = extract_xics(paths, "targets.csv")                 # local threads
    result = extract_xics(paths, targets, client=client)         # a distributed.Client
    result = extract_xics(paths, targets, scheduler="tcp://host:8786", out="results.parquet")

One Dask task per file opens the file by path and extracts what was asked; only the resulting
tables travel back (or, with `out`, the workers write their parts of a Parquet dataset). A file
that fails becomes a row of the errors table and the other files complete. Needs the `batch`
extra (dask, distributed, pandas, pyarrow).
"""

from ozra_data_access.batch.jobs import (
    BatchResult,
    ConversionResult,
    convert_files,
    extract_chromatograms,
    extract_dad_chromatograms,
    extract_xics,
)
from ozra_data_access.batch.runner import LOCAL_SCHEDULERS
from ozra_data_access.batch.targets import Target, TargetError, read_targets

__all__ = [
    "BatchResult",
    "ConversionResult",
    "LOCAL_SCHEDULERS",
    "Target",
    "TargetError",
    "convert_files",
    "extract_chromatograms",
    "extract_dad_chromatograms",
    "extract_xics",
    "read_targets",
]
