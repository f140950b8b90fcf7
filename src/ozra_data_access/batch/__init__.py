"""Many runs at once: targeted extraction, chromatograms, conversion and export across a cohort, on Dask.

    from ozra_data_access.batch import extract_xics
    result = extract_xics(paths, "targets.csv")                 # local threads
    result = extract_xics(paths, targets, client=client)         # a distributed.Client
    result = extract_xics(paths, targets, scheduler="tcp://host:8786", out="results.parquet")

One Dask task per file opens the file by path and extracts what was asked; only the resulting
tables travel back (or, with `out`, the workers write their parts of a Parquet dataset). A file
that fails becomes a row of the errors table and the other files complete. Needs the `batch`
extra (dask, distributed, pandas, pyarrow).
"""

try:
    import dask  # noqa: F401
    import distributed  # noqa: F401
    import pandas  # noqa: F401
    import pyarrow  # noqa: F401
except ImportError as error:
    raise ImportError(f"ozra_data_access.batch needs the [batch] extra (dask, distributed, pandas, pyarrow): "
                      f"pip install 'ozra_data_access[batch]' ({error})") from error

from ozra_data_access.batch.export import ExportResult, export_files
from ozra_data_access.batch.jobs import (
    BatchResult,
    ConversionResult,
    convert_files,
    extract_chromatograms,
    extract_dad_chromatograms,
    extract_xics,
)
from ozra_data_access.batch.runner import LOCAL_SCHEDULERS
from ozra_data_access.targets import Target, TargetError, read_targets

__all__ = [
    "BatchResult",
    "ConversionResult",
    "ExportResult",
    "LOCAL_SCHEDULERS",
    "Target",
    "TargetError",
    "convert_files",
    "export_files",
    "extract_chromatograms",
    "extract_dad_chromatograms",
    "extract_xics",
    "read_targets",
]
