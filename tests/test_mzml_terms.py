"""What the mzML converter keeps beyond points: profile and picked centroids, per-spectrum terms,
instrument and sample."""

import numpy as np
import pytest

import mzml_synthetic as syn
from ozra_data_access.access import OzraFile
from ozra_data_access.convert import convert
from ozra_data_access.convert.peaks import pick_peaks
from ozra_data_access.arrays import spectrum_view

PROFILE_MS1 = [p for p in syn.MS1 if p[0] != "MS:1000127"] + [("MS:1000128", "profile spectrum")]


def gaussian_profile():
    """Three peaks, two of them six widths apart, on a 0.001 m/z grid."""
    mz = np.round(np.arange(99.5, 102.5, 0.001), 6)
    peaks = [(100.0, 5e4, 0.004), (101.0, 120.0, 0.004), (101.024, 80.0, 0.004)]
    intensity = sum(height * np.exp(-0.5 * ((mz - centre) / sigma) ** 2) for centre, height, sigma in peaks)
    return mz, intensity


def test_picked_centroids_lie_at_the_peaks_and_in_order():
    pytest.importorskip("scipy")
    mz, intensity = gaussian_profile()
    centroid_mz, centroid_intensity = pick_peaks(mz, intensity, "test")
    assert len(centroid_mz) == 3 and np.all(np.diff(centroid_mz) > 0)
    assert centroid_mz[0] == pytest.approx(100.0, abs=1e-6)
    assert centroid_intensity[0] == intensity.max()
    assert centroid_mz[1:] == pytest.approx([101.0, 101.024], abs=1e-5)


@pytest.mark.parametrize("profile_only", [False, True])
def test_profile_points_go_to_the_profile_slot(tmp_path, profile_only):
    pytest.importorskip("scipy")
    mz, intensity = gaussian_profile()
    source = syn.write_mzml(tmp_path / "profile.mzML", [syn.spectrum(0, mz, intensity, PROFILE_MS1, syn.scan(1.0))])
    report = convert(source, tmp_path / "profile.ozra", profile_only=profile_only)
    with OzraFile(str(tmp_path / "profile.ozra")) as ozra_file:
        spectrum = ozra_file.get_measurement(0).get_qual_analysis(0).get_spectrum(0)
        profile = spectrum_view(spectrum.get_profile_spectrum_points())
        centroid = spectrum_view(spectrum.get_spectrum_points())
    np.testing.assert_array_equal(profile["x"], mz)
    np.testing.assert_array_equal(profile["intensity"], intensity)
    if profile_only:
        np.testing.assert_array_equal(centroid, profile)
        assert not report.notes
    else:
        assert len(centroid) == 3
        assert report.notes == ["1 profile spectra: centroid points picked, profile points kept"]


def test_per_spectrum_terms_instrument_and_sample_are_kept(tmp_path):
    scan = syn.scan(0.5).replace("</scan>", syn.cv_param("MS:1000927", "ion injection time", "12.5",
                                                         ("UO:0000028", "millisecond")) + "</scan>")
    precursor = syn.precursor(400.0, collision_energy=30.0).replace(
        "</isolationWindow>", "</isolationWindow><selectedIonList count=\"1\"><selectedIon>"
        + syn.cv_param("MS:1000744", "selected ion m/z", "400.2") + syn.cv_param("MS:1000041", "charge state", "2")
        + syn.cv_param("MS:1000042", "peak intensity", "1.5e6") + "</selectedIon></selectedIonList>")
    text = "".join(syn.document([syn.spectrum(0, [100.0], [1.0], syn.MS2, scan, precursor)]))
    text = text.replace(syn.cv_param("MS:1000031", "instrument model"),
                        syn.cv_param("MS:1001911", "Q Exactive") + '<userParam name="sample name" value="ignored"/>')
    text = text.replace("<run ", '<sampleList count="1"><sample id="S_x0031_" name="">'
                        + syn.cv_param("MS:1000002", "sample name", "blank 1") + "</sample></sampleList><run ")
    source = tmp_path / "terms.mzML"
    source.write_text(text)
    convert(source, tmp_path / "terms.ozra")
    with OzraFile(str(tmp_path / "terms.ozra")) as ozra_file:
        measurement = ozra_file.get_measurement(0)
        spectrum = measurement.get_qual_analysis(0).get_spectrum(0)
        description = measurement._Measurement__measurement_index._MeasurementIndex__measurement_description
        assert spectrum.supplemental_properties == {"NativeId": "scan=1", "ChargeState": 2,
                                                    "PrecursorIntensity": 1.5e6, "IonInjectionTime": 12.5}
        assert [getattr(description, "_MeasurementDescription__" + name) for name in (
            "sample_name", "sample_id", "instrument_product_name", "instrument_manufacturer")] == [
            "blank 1", "S1", "Q Exactive", "Thermo Fisher Scientific"]


def test_ion_mobility_is_kept_per_spectrum_and_its_arrays_are_reported(tmp_path):
    mobility = ('<binaryDataArray encodedLength="0">' + syn.cv_param(*syn.FLOAT64[:2]) + syn.cv_param(*syn.ZLIB)
                + syn.cv_param("MS:1003006", "mean inverse reduced ion mobility array",
                               unit=("MS:1002814", "volt-second per square centimeter"))
                + "<binary></binary></binaryDataArray>")
    scan = syn.scan(1.0).replace("</scan>", syn.cv_param("MS:1002815", "inverse reduced ion mobility", "0.8123")
                                 + "</scan>")
    arrays = [syn.binary_array(syn.MZ, [100.0, 200.0]), syn.binary_array(syn.INTENSITY, [1.0, 2.0]), mobility]
    source = syn.write_mzml(tmp_path / "tims.mzML", [syn.spectrum(0, [100.0, 200.0], [1.0, 2.0], arrays=arrays,
                                                                   scan_xml=scan)])
    report = convert(source, tmp_path / "tims.ozra")
    assert report.not_stored == [("mean inverse reduced ion mobility array", "in 1 spectra or chromatograms: the "
                                  "format has no place for per-point arrays of this kind")]
    with OzraFile(str(tmp_path / "tims.ozra")) as ozra_file:
        spectrum = ozra_file.get_measurement(0).get_qual_analysis(0).get_spectrum(0)
        assert spectrum.supplemental_properties["InverseReducedIonMobility"] == 0.8123


@pytest.mark.parametrize("intensity, expected_mz, expected_intensity", [
    ([1.0, 2.0, 3.0, 4.0], (4 * 100.03 + 3 * 100.02) / 7, 4.0),  # rising to the end of the scan
    ([4.0, 3.0, 2.0, 1.0], (4 * 100.0 + 3 * 100.01) / 7, 4.0),
    ([5.0], 100.0, 5.0),
])
def test_a_profile_whose_maximum_is_at_its_edge_still_gets_a_centroid(intensity, expected_mz, expected_intensity):
    pytest.importorskip("scipy")
    mz = np.array([100.0, 100.01, 100.02, 100.03][:len(intensity)])
    centroid_mz, centroid_intensity = pick_peaks(mz, np.array(intensity), "test")
    assert centroid_mz == pytest.approx([expected_mz], rel=1e-12)
    assert list(centroid_intensity) == [expected_intensity]
