"""Quantitative and analog-detector analyses.

A measurement hands these out for its non-qualitative functions. They carry the
function's index record and description; reading their data is not offered yet.
"""


class _FunctionAnalysis:
    """What the quantitative and the analog analysis have in common."""

    _kind = ""

    def __init__(self):
        raise Exception("Inaccessible due to protection level")

    @classmethod
    def _create(cls, function_index, index):
        analysis = object.__new__(cls)
        analysis._function_index = function_index
        analysis._index = index
        return analysis

    @property
    def index(self):
        """The analysis's position among the measurement's analyses of its kind."""
        return self._index

    @property
    def function_description(self):
        """The function's stored description record."""
        return self._function_index._FunctionIndex__function_description

    def __str__(self):
        return "[" + str(self._index) + "] " + self._kind + " analysis"

    __repr__ = __str__


class QuanAnalysis(_FunctionAnalysis):
    """A quantitative (targeted MS) analysis of a measurement."""

    _kind = "quantitative"

    @classmethod
    def __create_instance(cls, function_index, index):
        return cls._create(function_index, index)


class AnalogAnalysis(_FunctionAnalysis):
    """An analysis of a non-MS, non-qualitative detector (an analog channel)."""

    _kind = "analog"

    @classmethod
    def __create_instance(cls, function_index, index):
        return cls._create(function_index, index)
