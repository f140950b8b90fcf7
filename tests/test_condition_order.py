"""The unique conditions of an MS analysis are sorted natively when they are plain conditions of numbers:
the order is the interpreter's sort of the set by (ms_level, polarity key, (has energy, energy))."""

import math

from hypothesis import given, settings, strategies as st

import ozra_bytes as ob
from ozra_data_access._internal import _enum
from ozra_data_access.access import OzraFile

LEVELS = st.sampled_from([1, 2, 3, 2.0, 1.5, True, None, -1, 2 ** 60, math.nan])
POLARITIES = st.sampled_from([None, *_enum.PolarityTypes])
ENERGIES = st.sampled_from([None, 20.0, 20, 0.0, -0.0, 35.5, -3, 2 ** 60, math.inf, math.nan])


def interpreter_order(conditions):
    unique = set()
    for condition in conditions:
        unique.add(condition)
    return sorted(unique, key=lambda c: (c.ms_level, (0,) if c.polarity is None else (1, c.polarity.value),
                                         (c.collision_energy is not None, c.collision_energy)))


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(LEVELS, POLARITIES, ENERGIES), min_size=1, max_size=12))
def test_unique_conditions_in_the_interpreters_order(tmp_path_factory, spectra):
    descriptions = [ob.spectrum_description(i, float(i), ms_level=level, polarity=polarity, collision_energy=energy)
                    for i, (level, polarity, energy) in enumerate(spectra)]
    path = tmp_path_factory.mktemp("order") / "run.ozra"
    path.write_bytes(ob.one_function_file(descriptions))
    with OzraFile(str(path)) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        conditions = [analysis.get_spectrum(i).acquisition_condition for i in range(len(spectra))]
        expected = interpreter_order(conditions)
        assert [id(c) for c in analysis.unique_acquisition_conditions] == [id(c) for c in expected]
