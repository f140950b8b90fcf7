"""The vendor-specific and triple-quadrupole condition classes of ozra_data_access.qual."""

import gc
import math
import weakref

import pytest

from ozra_data_access import qual
from ozra_data_access._internal._description import (
    TripleQScanCondition,
    TripleQScanTypes,
    VendorSpecificAdditionalCondition,
)
from ozra_data_access._internal._description import VendorSpecificAdditionalConditionTypes as Vendor
from ozra_data_access.common import ValueRange

Agilent = qual.AgilentMassHunterCondition
SCIEX = qual.SCIEXAnalystCondition
Shimadzu = qual.ShimadzuIoModuleCondition
Thermo = qual.ThermoFisherRawFileReaderCondition
Waters = qual.WatersMassLynxCondition
VENDOR_CLASSES = [Agilent, SCIEX, Shimadzu, Thermo, Waters]
SCAN_CLASSES = [
    qual.PrecursorIonScanCondition,
    qual.ProductIonScanCondition,
    qual.NeutralLossScanCondition,
    qual.NeutralGainScanCondition,
]


def vendor(original_id=None, cone_voltage=None, scan_info_string=None):
    return VendorSpecificAdditionalCondition(
        type=Vendor.SCIEX_ANALYST, original_id=original_id, cone_voltage=cone_voltage, scan_info_string=scan_info_string
    )


def scan(target_mz=None, q1_range=None, q3_range=None):
    return TripleQScanCondition(type=TripleQScanTypes.PRODUCT, target_mz=target_mz, q1_range=q1_range, q3_range=q3_range)


class HashedAs:
    """A plain class whose __hash__ returns a given integer: the interpreter's own derivation."""

    def __init__(self, value):
        self.value = value

    def __hash__(self):
        return self.value


@pytest.mark.parametrize(
    "condition, text",
    [
        (Agilent(vendor(cone_voltage=135.0)), "Agilent|MassHunter: [Fragmentor Voltage] 135"),
        (Agilent(80.5), "Agilent|MassHunter: [Fragmentor Voltage] 80.5"),
        (Agilent(135), "Agilent|MassHunter"),
        (Agilent(None), "Agilent|MassHunter"),
        (Agilent(vendor()), "Agilent|MassHunter"),
        (SCIEX(vendor(2, 80.0)), "SCIEX|Analyst: [Experiment Index] 2, [DP] 80"),
        (SCIEX(vendor(2)), "SCIEX|Analyst: [Experiment Index] 2"),
        (SCIEX(vendor(cone_voltage=0.0)), "SCIEX|Analyst: [DP] 0"),
        (SCIEX(vendor()), "SCIEX|Analyst"),
        (Shimadzu(vendor(7)), "Shimadzu|IoModule: [Event Number] 7"),
        (Shimadzu(vendor(cone_voltage=3.0)), "Shimadzu|IoModule"),
        (Thermo(vendor(cone_voltage=12.0, scan_info_string="FTMS + p ESI")),
         "ThermoFisher|RawFileReader: [SID] 12, [Scan Filter] FTMS + p ESI"),
        (Thermo(vendor(cone_voltage=12.0, scan_info_string="")), "ThermoFisher|RawFileReader: [SID] 12"),
        (Thermo(12.0), "ThermoFisher|RawFileReader: [SID] 12"),
        (Thermo(vendor(scan_info_string="ITMS - c")), "ThermoFisher|RawFileReader: [Scan Filter] ITMS - c"),
        (Thermo(vendor(scan_info_string="")), "ThermoFisher|RawFileReader"),
        (Thermo(vendor()), "ThermoFisher|RawFileReader"),
        (Waters(vendor(3, 30.0)), "Waters|MassLynx: [Function Number] 3, [Cone Voltage] 30"),
        (Waters(vendor(3)), "Waters|MassLynx: [Function Number] 3"),
        (Waters(30.0), "Waters|MassLynx: [Cone Voltage] 30"),
        (Waters(-5.0), "Waters|MassLynx: [Cone Voltage] -5"),
        (Waters(1e16), "Waters|MassLynx: [Cone Voltage] 1e+16"),
        (Waters(vendor()), "Waters|MassLynx"),
        (qual.PrecursorIonScanCondition(scan(250.0, ValueRange(50.0, 400.0))),
         "Precursor Ion Scan: [Product Ion m/z] 250.0, [Q1 Range] 50.0-400.0"),
        (qual.PrecursorIonScanCondition(scan(250.0)), "Precursor Ion Scan: [Product Ion m/z] 250.0, [Q1 Range] None"),
        (qual.ProductIonScanCondition(scan(250, q3_range=ValueRange(50, 260))),
         "Product Ion Scan: [Precursor Ion m/z] 250, [Q3 Range] 50-260"),
        (qual.NeutralLossScanCondition(scan(18.0, ValueRange(100, 500), ValueRange(82, 482))),
         "Neutral Loss Scan: [Neutral Loss m/z] 18.0, [Q1 Range] 100-500, [Q3 Range] 82-482"),
        (qual.NeutralGainScanCondition(scan(18.0, ValueRange(100, 500), ValueRange(118, 518))),
         "Neutral Gain Scan: [Neutral Gain m/z] 18.0, [Q1 Range] 100-500, [Q3 Range] 118-518"),
    ],
)
def test_text(condition, text):
    assert str(condition) == text
    assert repr(condition) == text


def test_fields_come_from_the_record_or_a_bare_float():
    thermo = Thermo(vendor(4, 12.0, "filter"))
    assert (thermo.sid, thermo.scan_filter) == (12.0, "filter")
    waters = Waters(argument=vendor(3, 30.0))
    assert (waters.function_number, waters.cone_voltage) == (3, 30.0)
    assert (Waters(30.0).function_number, Waters(30.0).cone_voltage) == (None, 30.0)
    assert Thermo(12.0).scan_filter is None
    sciex = SCIEX(vendor_specific_additional_condition=vendor(2, 80.0))
    assert (sciex.experiment_index, sciex.dp) == (2, 80.0)
    loss = qual.NeutralLossScanCondition(triple_q_scan_condition=scan(18.0, ValueRange(1, 2), ValueRange(3, 4)))
    assert (loss.neutral_loss_mz, loss.q1_range, loss.q3_range) == (18.0, ValueRange(1, 2), ValueRange(3, 4))

    class Volts(float):
        pass

    assert Agilent(Volts(5.0)).fragmentor_voltage == 5.0
    # Neither a record nor a float: no error, every field None.
    for argument in (135, True, None, "80.0"):
        assert Agilent(argument).fragmentor_voltage is None
        assert (Waters(argument).function_number, Waters(argument).cone_voltage) == (None, None)


@pytest.mark.parametrize("cls", [SCIEX, Shimadzu, *SCAN_CLASSES])
def test_record_only_classes_fail_on_other_objects(cls):
    with pytest.raises(AttributeError):
        cls(30.0)


@pytest.mark.parametrize("cls", VENDOR_CLASSES + SCAN_CLASSES)
def test_constructor_takes_one_argument(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls(vendor(), vendor())
    with pytest.raises(TypeError):
        cls(record=vendor())


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (Agilent(80.0), Agilent(vendor(cone_voltage=80.0)), True),
        (Agilent(80.0), Waters(80.0), False),
        (Agilent(80.0), Agilent(80.5), False),
        (Agilent(None), Agilent(135), True),
        (Shimadzu(vendor(3)), Shimadzu(vendor(3.0)), True),
        (SCIEX(vendor(2, 80.0)), SCIEX(vendor(2, 81.0)), False),
        (SCIEX(vendor(2, 80.0)), SCIEX(vendor(None, 80.0)), False),
        (Thermo(vendor(1, 12.0, "a")), Thermo(vendor(2, 12.0, "b")), True),
        (Waters(vendor(1, 30.0)), Waters(30.0), False),
        (qual.NeutralLossScanCondition(scan(18.0, ValueRange(1, 2), ValueRange(3, 4))),
         qual.NeutralGainScanCondition(scan(18.0, ValueRange(1, 2), ValueRange(3, 4))), False),
        (qual.ProductIonScanCondition(scan(250, q3_range=ValueRange(50, 260))),
         qual.ProductIonScanCondition(scan(250.0, q3_range=ValueRange(50.0, 260.0))), True),
        (qual.ProductIonScanCondition(scan(250, q3_range=ValueRange(50, 260))),
         qual.ProductIonScanCondition(scan(250, q3_range=ValueRange(50, 261))), False),
        (qual.ProductIonScanCondition(scan(250)), qual.ProductIonScanCondition(scan(250, ValueRange(1, 2))), True),
    ],
)
def test_equality(a, b, equal):
    assert (a == b, b == a, a != b, b != a) == (equal, equal, not equal, not equal)
    if equal:
        assert hash(a) == hash(b)
        assert a.__hash__() == b.__hash__()
        assert len({a, b}) == 1
        assert {a: 1, b: 2} == {a: 2}


def test_equality_with_other_objects_and_nan():
    condition = Shimadzu(vendor(3))
    for other in (3, None, "Shimadzu|IoModule: [Event Number] 3", vendor(3)):
        assert (condition == other, other == condition) == (False, False)
        assert (condition != other, other != condition) == (True, True)
    assert condition.__eq__(5) is False
    nan = Agilent(math.nan)
    assert nan != nan and not nan == nan
    # A subclass instance counts as an instance of the class.
    Derived = type("Derived", (Shimadzu,), {})
    assert condition == Derived(vendor(3.0)) and Derived(vendor(3)) == condition
    assert hash(Derived(vendor(3))) == hash(condition)


@pytest.mark.parametrize(
    "condition, exact",
    [
        (SCIEX(vendor(2, 80.0)), 31 * (31 + 2) + 80),
        (SCIEX(vendor()), 31 * 31),
        (Agilent(None), 31),
        (Agilent(-5.0), 31 - 5),
        (Shimadzu(vendor(-1)), 31 - 2),  # hash(-1) is -2
        (Agilent(-32.0), -1),  # __hash__() may give -1; hash() then gives -2
        (Thermo(vendor(cone_voltage=0.5, scan_info_string="x")), 31 + 2**60),  # hash(0.5) is 2**60
        (Shimadzu(vendor(2**61 - 2)), 2**61 + 29),  # between 2**61 and 2**63: hash() is the value itself
        (qual.NeutralLossScanCondition(scan(2**61 - 2)), 31**3 + 31**2 * (2**61 - 2)),  # beyond 64 bits
        (qual.NeutralGainScanCondition(scan(-(2**61 - 2))), 31**3 - 31**2 * (2**61 - 2)),
        (qual.PrecursorIonScanCondition(scan(1, ValueRange(1, 2))), 31 * (31 + 1) + hash(ValueRange(1, 2))),
    ],
)
def test_exact_hash_and_its_reduction(condition, exact):
    assert condition.__hash__() == exact
    assert type(condition.__hash__()) is int
    assert hash(condition) == hash(HashedAs(exact))


def test_private_fields_are_reachable_and_read_only():
    sciex = SCIEX(vendor(2, 80.0))
    assert (sciex._SCIEXAnalystCondition__experiment_index, sciex._SCIEXAnalystCondition__dp) == (2, 80.0)
    thermo = Thermo(vendor(cone_voltage=1.0, scan_info_string="f"))
    assert thermo._ThermoFisherRawFileReaderCondition__scan_filter == "f"
    gain = qual.NeutralGainScanCondition(scan(1.0, ValueRange(1, 2)))
    assert gain._NeutralGainScanCondition__q1_range == ValueRange(1, 2)
    for name in ("dp", "_SCIEXAnalystCondition__dp"):
        with pytest.raises(AttributeError):
            setattr(sciex, name, 1.0)
    assert sciex.dp == 80.0


def test_cycles_through_a_field_are_collected():
    class Box:
        pass

    box = Box()
    condition = SCIEX(vendor(original_id=box, cone_voltage=1.0))
    box.condition = condition
    alive = weakref.ref(box)
    del box, condition
    gc.collect()
    assert alive() is None
