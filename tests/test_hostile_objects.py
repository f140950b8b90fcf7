"""Python objects that misbehave on purpose: the native code must raise, never crash.

Each case runs in a child process, so that a crash fails its test instead of
ending the test run. The child prints OK when the call ended as the case expects.
"""

import subprocess
import sys
import textwrap

import pytest

from ozra_data_access.samples import write_sample

OPEN = """
import gc, sys
from ozra_data_access import access, qual
from ozra_data_access.common import ValueRange
ozra_file = access.OzraFile(sys.argv[1])
measurement = ozra_file.get_measurement(0)
"""

CASES = {
    # A condition inside its own additional conditions: hash, equality and text recurse.
    "hash_of_a_condition_holding_itself": """
c = measurement.get_qual_analysis(0).unique_acquisition_conditions[0]
c.additional_conditions.append(c)
for action in (hash, type(c).__hash__, str):
    try:
        action(c)
    except RecursionError:
        pass
    else:
        raise SystemExit("no RecursionError")
""",
    # A spectrum condition whose __hash__ empties the analysis's spectrum list
    # while the XIC pre-filter holds one of its records (whose memory records made
    # at once would take over).
    "xic_pre_filter_list_emptied": """
from ozra_data_access._internal._index import SpectrumIndex
analysis = measurement.get_qual_analysis(0)
spectra = analysis._QualAnalysis__spectrum_index_list
description = spectra[0]._SpectrumIndex__spectrum_description
condition = qual.AcquisitionCondition(description)
keep = []
class Emptying(qual.AcquisitionCondition):
    def __hash__(self):
        spectra.clear()
        keep.extend(SpectrumIndex(position=-1) for _ in range(20000))
        return hash(condition)
description._InternalSpectrumDescription__acquisition_condition = Emptying(description)
option = qual.ChromatogramFilterOption(condition, ValueRange(100.0, 900.0), None)
analysis.get_multiple_xic([option])
""",
    # A wavelength whose __float__ empties the wavelength list during the DAD read.
    "dad_read_wavelengths_emptied": """
dad = measurement.get_dad_analysis(0)
reader = dad._DADAnalysis__function_index._FunctionIndex__reader
position = dad._DADAnalysis__spectrum_index_list[0]._SpectrumIndex__position
keep = []
class Wavelength:
    def __init__(self, value):
        self.value = value
    def __float__(self):
        if self.value == 200.0:
            wavelengths.clear()
            keep.extend(bytearray(64) for _ in range(20000))
        return self.value
wavelengths = [Wavelength(200.0 + i) for i in range(206)]
reader._OzraFileReader__set_buffer(position)
reader._OzraFileReader__read_dad_spectrum(wavelengths)
""",
    # An XicInfo stand-in whose range attribute empties the request list.
    "multiple_extraction_list_emptied": """
analysis = measurement.get_qual_analysis(0)
reader = analysis._QualAnalysis__function_index._FunctionIndex__reader
position = analysis._QualAnalysis__spectrum_index_list[0]._SpectrumIndex__position
class Info:
    def __init__(self):
        self._XicInfo__spectrum_point = []
        self._XicInfo__is_break_to_read = False
    @property
    def _XicInfo__range(self):
        infos.clear()
        return ValueRange(0.0, 1e9)
infos = [Info() for _ in range(1000)]
reader._OzraFileReader__set_buffer(position)
reader._OzraFileReader__read_spectrum_for_multiple_xic(infos)
""",
    # A spectrum record stand-in that shrinks the analysis's list while the profile
    # positions are set, after the list is published.
    "profile_positions_list_shrunk": """
real = qual.SpectrumIndex
class Shrinking:
    made = 0
    @classmethod
    def _SpectrumIndex__create_instance(cls, reader, position, index):
        record = real._SpectrumIndex__create_instance(reader, position, index)
        return cls(record)
    def __init__(self, record):
        self.record = record
    def __getattr__(self, name):
        return getattr(self.record, name)
    def _SpectrumIndex__set_profile_position(self, position):
        for holder in gc.get_referrers(self):
            if isinstance(holder, list):
                del holder[:]
qual.SpectrumIndex = Shrinking
try:
    measurement.get_qual_analysis(0)
except IndexError:
    pass
""",
    # Chromatogram points whose attribute empties their list while columns are made.
    "chromatogram_columns_list_emptied": """
from ozra_data_access.arrays import chromatogram_arrays
class Point:
    spectrum_index, retention_time, intensity = 0, 1.0, 2.0
    @property
    def x(self):
        points.clear()
        return 1.0
points = [Point() for _ in range(1000)]
chromatogram_arrays(points)
""",
    # An option's window property failing with an error other than AttributeError
    # once: the error reaches the caller instead of being dropped.
    "window_error_reaches_the_caller": """
analysis = measurement.get_qual_analysis(0)
condition = analysis.unique_acquisition_conditions[0]
class Failing(Exception):
    pass
class Option(qual.ChromatogramFilterOption):
    failed = False
    @property
    def extract_mz_range(self):
        if not Option.failed:
            Option.failed = True
            raise Failing()
        return ValueRange(100.0, 900.0)
try:
    analysis.get_multiple_xic([Option(condition, ValueRange(100.0, 900.0), None)])
except Failing:
    pass
else:
    raise SystemExit("the window's error was dropped")
""",
}


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    path = tmp_path_factory.mktemp("hostile") / "sample.ozra"
    write_sample(path, scans=40, points_per_spectrum=20, dad_spectra=20, compounds=3)
    return path


@pytest.mark.parametrize("case", sorted(CASES))
def test_hostile_objects_raise_instead_of_crashing(sample, case):
    script = OPEN + textwrap.dedent(CASES[case]) + "\nprint('OK')\n"
    run = subprocess.run([sys.executable, "-c", script, str(sample)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0 and run.stdout.strip().endswith("OK"), (run.returncode, run.stderr[-2000:])
