"""The Ozra file reader and the extraction record of multiple-window reads."""

from ozra_data_access._internal._storage import OzraFileReader, XicInfo

__all__ = ["OzraFileReader", "XicInfo"]
