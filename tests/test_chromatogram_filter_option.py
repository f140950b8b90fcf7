"""ChromatogramFilterOption of ozra_data_access.qual."""

import pytest

from ozra_data_access import qual
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access.common import PolarityTypes, ValueRange

Option = qual.ChromatogramFilterOption


@pytest.fixture
def condition():
    return qual.AcquisitionCondition(InternalSpectrumDescription(ms_level=1, polarity=PolarityTypes.POSITIVE))


def test_text_follows_the_retention_time_range(condition):
    option = Option(condition, ValueRange(445.0, 445.5))
    two = "[AcquisitionCondition] MS1+, [Extract m/z Range] 445.0-445.5"
    assert str(option) == repr(option) == two
    option.retention_time_range = ValueRange(1.5, 3)
    assert str(option) == two + ", [Retention Time Range] 1.5-3"
    option.retention_time_range = None
    assert str(option) == two
    assert str(Option(None, None)) == "[AcquisitionCondition] None, [Extract m/z Range] None"


def test_properties_hold_what_was_given(condition):
    mz, rt = ValueRange(1, 2), ValueRange(3, 4)
    option = Option(extract_mz_range=mz, acquisition_condition=condition, retention_time_range=rt)
    assert (option.acquisition_condition, option.extract_mz_range, option.retention_time_range) == (condition, mz, rt)
    assert option.extract_mz_range is mz and option.acquisition_condition is condition
    assert Option(condition, mz).retention_time_range is None
    replacement = object()
    option.acquisition_condition = replacement
    option.extract_mz_range = "anything"
    assert option.acquisition_condition is replacement and option.extract_mz_range == "anything"
    assert option._ChromatogramFilterOption__acquisition_condition is replacement
    with pytest.raises(AttributeError):
        option._ChromatogramFilterOption__extract_mz_range = mz
    with pytest.raises(AttributeError):
        del option.extract_mz_range


def test_identity_equality_and_argument_count(condition):
    a, b = Option(condition, ValueRange(1, 2)), Option(condition, ValueRange(1, 2))
    assert a != b and a == a and len({a, b}) == 2
    with pytest.raises(TypeError):
        Option(condition)
    with pytest.raises(TypeError):
        Option(condition, ValueRange(1, 2), None, None)
    with pytest.raises(TypeError):
        Option(condition, ValueRange(1, 2), rt_range=None)
