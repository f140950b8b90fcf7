"""The one error type of the converters."""

from ozra_data_access.exception import OzraException


class ConversionError(OzraException):
    """A source the converters cannot turn into an Ozra file, or a target they must not write.

    The message names the file and what is wrong with it. Nothing is written when it is raised.
    """


class MzmlError(ConversionError, ValueError):
    """An mzML file the converter cannot read: malformed, truncated, or using an encoding it does not decode."""
