"""Conditions built from the records the reader decodes: every vendor and scan type, both paths."""

import pytest

from conftest import spectrum
from ozra_data_access.access import OzraFile
from ozra_data_access._internal._description import TripleQScanTypes as Scan
from ozra_data_access._internal._description import VendorSpecificAdditionalConditionTypes as Vendor
from ozra_data_access.common import PolarityTypes, SpectrumTypes, ValueRange
from ozra_data_access import qual
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    TripleQScanConditionData,
    VendorSpecificConditionData,
)

VENDORS = [
    (Vendor.AGILENT_MASS_HUNTER, "Agilent|MassHunter: [Fragmentor Voltage] 80"),
    (Vendor.SCIEX_ANALYST, "SCIEX|Analyst: [Experiment Index] 2, [DP] 80"),
    (Vendor.SHIMADZU_IO_MODULE, "Shimadzu|IoModule: [Event Number] 2"),
    (Vendor.THERMO_FISHER_RAW_FILE_READER, "ThermoFisher|RawFileReader: [SID] 80, [Scan Filter] FTMS + p"),
    (Vendor.WATERS_MASS_LYNX, "Waters|MassLynx: [Function Number] 2, [Cone Voltage] 80"),
]
SCANS = [
    (Scan.PRECURSOR, "Precursor Ion Scan: [Product Ion m/z] 250.5, [Q1 Range] 50-300"),
    (Scan.PRODUCT, "Product Ion Scan: [Precursor Ion m/z] 250.5, [Q3 Range] 10.5-260"),
    (Scan.NEUTRAL_LOSS, "Neutral Loss Scan: [Neutral Loss m/z] 250.5, [Q1 Range] 50-300, [Q3 Range] 10.5-260"),
    (Scan.NEUTRAL_GAIN, "Neutral Gain Scan: [Neutral Gain m/z] 250.5, [Q1 Range] 50-300, [Q3 Range] 10.5-260"),
]


def stored_condition(vendor_type, scan_type):
    return AcquisitionConditionData(
        AcquisitionCoreConditionData(
            ms_level=2,
            polarity=PolarityTypes.NEGATIVE,
            collision_energy=35.0,
            mass_range=ValueRange(50.0, 1000.0),
            original_measured_spectrum_type=SpectrumTypes.CENTROID,
            vendor_specific_additional_condition=VendorSpecificConditionData(
                vendor_type, original_id=2, cone_voltage=80.0, scan_info_string="FTMS + p"
            ),
            triple_q_scan_condition=TripleQScanConditionData(
                scan_type, target_mz=250.5, q1_range=ValueRange(50, 300), q3_range=ValueRange(10.5, 260)
            ),
        ),
        precursor_value=445.12,
    )


def test_stored_conditions_of_every_vendor_and_scan_type(write_ozra):
    pairs = [(v, s) for v, _ in VENDORS for s, _ in SCANS]
    spectra = [spectrum(float(i), acquisition_condition_index=i) for i in range(len(pairs))]
    path = write_ozra(FunctionData.qual_ms(spectra, acquisition_conditions=[stored_condition(*p) for p in pairs]))
    with OzraFile(path) as f:
        conditions = f.get_measurement(0).get_qual_analysis(0).unique_acquisition_conditions
    assert len(conditions) == len(pairs) == len(set(conditions))
    texts = {v: t for v, t in VENDORS} | {s: t for s, t in SCANS}
    for condition, (vendor_type, scan_type) in zip(conditions, pairs):
        assert str(condition) == (
            "MS2-, [Mass Range] 50.0-1000.0, [Collision Energy] 35.0, [Precursor Value] 445.12, "
            "[Original Measured Spectrum Type] Centroid; " + texts[vendor_type] + "; " + texts[scan_type]
        )


@pytest.mark.parametrize(
    "key, cls",
    [
        ("FragmentorVoltage", qual.AgilentMassHunterCondition),
        ("In-SourceCID", qual.ThermoFisherRawFileReaderCondition),
        ("ConeVoltage", qual.WatersMassLynxCondition),
    ],
)
def test_conditions_from_decoded_spectrum_descriptions(write_ozra, key, cls):
    spectra = [
        spectrum(1.0, ms_level=1, cone_voltage=20.0, supplemental_properties={key: "x"}, is_profile_spectrum_measured=True),
        spectrum(2.0, ms_level=1, cone_voltage=20.0, supplemental_properties={key: "x"}, is_profile_spectrum_measured=True),
        spectrum(3.0, ms_level=1, cone_voltage=30.0, supplemental_properties={key: "x"}, is_profile_spectrum_measured=True),
    ]
    path = write_ozra(FunctionData.qual_ms(spectra))
    with OzraFile(path) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        first, second, third = (analysis.get_spectrum(i).acquisition_condition for i in range(3))
    assert first == second and first is not second and hash(first) == hash(second)
    assert first != third
    assert [type(c) for c in first.additional_conditions] == [cls]
    assert first.original_measured_spectrum_type == SpectrumTypes.PROFILE
    assert str(first).startswith("MS1+, [Original Measured Spectrum Type] Profile; ")
    assert len(analysis.unique_acquisition_conditions) == 2


@pytest.mark.parametrize("cone_voltage", [None, 20.0], ids=["told by its values", "with a cone voltage"])
@pytest.mark.parametrize("route", ["unique conditions", "spectrum's condition"])
def test_each_condition_field_comes_from_its_own_description_field(write_ozra, cone_voltage, route):
    """Every field distinct, so that a value read from another field of the description shows."""
    fields = dict(ms_level=2, polarity=PolarityTypes.NEGATIVE, collision_energy=35.0, precursor_value=445.12,
                  precursor_range=ValueRange(444.5, 445.5), mass_range=ValueRange(50.0, 1000.0),
                  is_profile_spectrum_measured=True, cone_voltage=cone_voltage,
                  supplemental_properties={"ConeVoltage": "x"} if cone_voltage else {})
    path = write_ozra(FunctionData.qual_ms([spectrum(1.0, **fields)]))
    with OzraFile(path) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        condition = analysis.unique_acquisition_conditions[0] if route == "unique conditions" else \
            analysis.get_spectrum(0).acquisition_condition
    assert (condition.ms_level, condition.polarity, condition.collision_energy, condition.precursor_value,
            condition.precursor_range, condition.mass_range, condition.original_measured_spectrum_type) == \
        (2, PolarityTypes.NEGATIVE, 35.0, 445.12, ValueRange(444.5, 445.5), ValueRange(50.0, 1000.0),
         SpectrumTypes.PROFILE)
    assert [type(c) for c in condition.additional_conditions] == \
        ([qual.WatersMassLynxCondition] if cone_voltage else [])
