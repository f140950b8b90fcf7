"""Converters from other formats into Ozra files.

    from ozra_data_access.convert import convert_mzml
    convert_mzml("run.mzML.gz", "run.ozra")
"""

from ozra_data_access.convert.mzml import MzmlConversion, UnsortedPointsWarning, convert_mzml
from ozra_data_access.convert.mzml_arrays import MzmlError

__all__ = ["MzmlConversion", "MzmlError", "UnsortedPointsWarning", "convert_mzml"]
