"""Converters from other formats into Ozra files.

    from ozra_data_access.convert import convert
    report = convert("run.mzML.gz", "run.ozra")
    print(report)

:func:`convert` reads mzML (plain or gzip-compressed, every binary encoding including
MS-Numpress through the optional extra `numpress`), mzXML (extra `mzxml`), Thermo `.raw` files
(extra `thermo`) and vendor runs (Agilent `.D`, Waters `.raw`, OpenLab `.dx`, through the
optional extra `vendor`), telling them apart by content (:mod:`ozra_data_access.convert.sources`); see :mod:`ozra_data_access.convert.mzml` and
:mod:`ozra_data_access.convert.vendor` for what each keeps and how.
"""

from ozra_data_access.convert.dispatch import convert
from ozra_data_access.convert.errors import ConversionError, MzmlError
from ozra_data_access.convert.mzml import MzmlConversion, UnsortedPointsWarning, convert_mzml
from ozra_data_access.convert.report import ConversionReport

__all__ = ["ConversionError", "ConversionReport", "MzmlConversion", "MzmlError", "UnsortedPointsWarning", "convert",
           "convert_mzml"]
