"""Enumerations of the Ozra format.

Every number here is stored in files: the values never change once released.
"""

import enum


class OzraSymbols(enum.Enum):
    """The 4-byte markers that open and close each block of an Ozra file."""

    BEGIN_OF_JUMP_TABLE = b"{JT:"
    END_OF_JUMP_TABLE = b":JT}"
    BEGIN_OF_FUNCTION_INDEX_BLOCK = b"{FI:"
    END_OF_FUNCTION_INDEX_BLOCK = b":FI}"
    BEGIN_OF_SPECTRUM_INDEX_BLOCK = b"{SI:"
    END_OF_SPECTRUM_INDEX_BLOCK = b":SI}"
    BEGIN_OF_SPECTRUM = b"{SP:"
    END_OF_SPECTRUM = b":SP}"


class PolarityTypes(enum.Enum):
    """Ion polarity of a scan."""

    POSITIVE = 1
    NEGATIVE = 2
    BOTH = 3


class SpectrumTypes(enum.Enum):
    """How a spectrum's points were recorded or stored."""

    UNKNOWN = 0
    CENTROID = 1
    PROFILE = 2


class DetectorTypes(enum.Enum):
    """The detector a function's data comes from."""

    UNKNOWN = 0
    MS = 1
    DAD = 2
    UV = 3
    FLUORESCENCE = 4
    ELSD = 5
    CHARGED_AEROSOL = 6
    REFRACTIVE_INDEX = 7
    ANALOG = 8


class VendorSpecificAdditionalConditionTypes(enum.Enum):
    """The acquisition software whose own scan settings a record carries."""

    AGILENT_MASS_HUNTER = 1
    SCIEX_ANALYST = 2
    SHIMADZU_IO_MODULE = 3
    THERMO_FISHER_RAW_FILE_READER = 4
    WATERS_MASS_LYNX = 5


class TripleQScanTypes(enum.Enum):
    """Triple-quadrupole scan modes."""

    PRECURSOR = 1
    PRODUCT = 2
    NEUTRAL_LOSS = 3
    NEUTRAL_GAIN = 4
