"""Exceptions of ozra_data_access."""


class OzraException(Exception):
    """Base class of the errors this package raises itself."""


class OzraFormatError(OzraException):
    """The file is not a valid Ozra file: damaged, truncated or of an unknown version.

    The message names what was expected and the byte offset where it was not found.
    """
