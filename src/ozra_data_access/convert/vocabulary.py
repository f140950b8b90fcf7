"""The accessions of the PSI-MS and unit ontologies that the mzML converter reads and the mzML export
writes: one table for both directions.

Only these terms are interpreted; every other cvParam is left unread.
"""

# Spectrum kinds and representation.
MS_LEVEL = "MS:1000511"
MS1_SPECTRUM = "MS:1000579"
CENTROID_SPECTRUM = "MS:1000127"
PROFILE_SPECTRUM = "MS:1000128"
NEGATIVE_SCAN = "MS:1000129"
POSITIVE_SCAN = "MS:1000130"
#: Spectra of light rather than ions: they go to a DAD function.
RADIATION_SPECTRA = frozenset({
    "MS:1000804",  # electromagnetic radiation spectrum
    "MS:1000805",  # emission spectrum
    "MS:1000806",  # absorption spectrum
})

# Spectrum summary and scan settings.
TOTAL_ION_CURRENT = "MS:1000285"
BASE_PEAK_MZ = "MS:1000504"
BASE_PEAK_INTENSITY = "MS:1000505"
SCAN_START_TIME = "MS:1000016"
FILTER_STRING = "MS:1000512"
SCAN_WINDOW_LOWER = "MS:1000501"
SCAN_WINDOW_UPPER = "MS:1000500"

#: Per-spectrum terms kept as supplemental properties, and written back from them:
#: key -> (where the term is, accession, type, unit accession or None). "NativeId" (the spectrum's id)
#: and "FilterString" (FILTER_STRING) are kept too.
SPECTRUM_TERMS = {
    "ChargeState": ("selected ion", "MS:1000041", int, None),
    "PrecursorIntensity": ("selected ion", "MS:1000042", float, "MS:1000131"),  # number of detector counts
    "IonInjectionTime": ("scan", "MS:1000927", float, "UO:0000028"),  # in milliseconds
    "PresetScanConfiguration": ("scan", "MS:1000616", int, None),
    # Ion mobility of the whole spectrum; per-peak mobility arrays are not stored (reported).
    "InverseReducedIonMobility": ("scan", "MS:1002815", float, "MS:1002814"),  # 1/K0, in V*s/cm^2
    "IonMobilityDriftTime": ("scan", "MS:1002476", float, "UO:0000028"),  # in milliseconds
    "FaimsCompensationVoltage": ("scan", "MS:1001581", float, "UO:0000218"),  # in volts
}

# Precursors.
COLLISION_ENERGY = "MS:1000045"
SELECTED_ION_MZ = "MS:1000744"
ISOLATION_TARGET = "MS:1000827"
ISOLATION_LOWER_OFFSET = "MS:1000828"
ISOLATION_UPPER_OFFSET = "MS:1000829"
NO_COMBINATION = "MS:1000795"

# Binary data arrays: the kinds read, their number types and compressions.
MZ_ARRAY = "MS:1000514"
INTENSITY_ARRAY = "MS:1000515"
WAVELENGTH_ARRAY = "MS:1000617"
TIME_ARRAY = "MS:1000595"
#: The arrays that give a spectrum's or chromatogram's values, the first one present being taken.
VALUE_ARRAYS = (
    INTENSITY_ARRAY,
    "MS:1000820",  # flow rate array
    "MS:1000821",  # pressure array
    "MS:1000822",  # temperature array
)
ARRAY_KINDS = frozenset({MZ_ARRAY, WAVELENGTH_ARRAY, TIME_ARRAY, *VALUE_ARRAYS})
NUMBER_TYPES = {
    "MS:1000521": "<f4",  # 32-bit float
    "MS:1000523": "<f8",  # 64-bit float
    "MS:1000519": "<i4",  # 32-bit integer
    "MS:1000522": "<i8",  # 64-bit integer
}
UNREADABLE_NUMBER_TYPES = {
    "MS:1000520": "16-bit float",
    "MS:1001479": "null-terminated ASCII string",
}
ZLIB_COMPRESSION = "MS:1000574"
NO_COMPRESSION = "MS:1000576"
#: The MS-Numpress compressions: (the variant, whether zlib follows it).
NUMPRESS_COMPRESSIONS = {
    "MS:1002312": ("linear", False),  # MS-Numpress linear prediction compression
    "MS:1002313": ("pic", False),  # MS-Numpress positive integer compression
    "MS:1002314": ("slof", False),  # MS-Numpress short logged float compression
    "MS:1002746": ("linear", True),  # ... followed by zlib compression
    "MS:1002747": ("pic", True),
    "MS:1002748": ("slof", True),
}
UNSUPPORTED_COMPRESSIONS = {
    "MS:1003088": "truncation and zlib compression",
    "MS:1003089": "truncation, delta prediction and zlib compression",
    "MS:1003090": "truncation, linear prediction and zlib compression",
    "MS:1003780": "zstd compression",
    "MS:1003781": "byte-shuffled zstd compression",
    "MS:1003782": "dictionary-encoded zstd compression",
    "MS:1003783": "MS-Numpress linear prediction compression followed by zstd compression",
    "MS:1003784": "MS-Numpress positive integer compression followed by zstd compression",
    "MS:1003785": "MS-Numpress short logged float compression followed by zstd compression",
    "MS:1003826": "coordinate grid encoding",
}

#: The array kinds' units and the MS-Numpress compressions the mzML export writes.
MZ_UNIT = "MS:1000040"
NANOMETER = "UO:0000018"
MINUTE = "UO:0000031"
ELECTRONVOLT = "UO:0000266"
NUMBER_OF_DETECTOR_COUNTS = "MS:1000131"
NON_STANDARD_ARRAY = "MS:1000786"
#: Non-standard arrays holding a spectrum's other representation beside its own arrays: the
#: centroid points of a profile spectrum, the profile points of a centroid spectrum. The mzML export
#: writes them (each with its own arrayLength) and the converter stores them in place of picking.
CENTROID_MZ_ARRAY = "centroid m/z array"
CENTROID_INTENSITY_ARRAY = "centroid intensity array"
PROFILE_MZ_ARRAY = "profile m/z array"
PROFILE_INTENSITY_ARRAY = "profile intensity array"
REPRESENTATION_ARRAYS = frozenset({CENTROID_MZ_ARRAY, CENTROID_INTENSITY_ARRAY, PROFILE_MZ_ARRAY,
                                   PROFILE_INTENSITY_ARRAY})
NUMPRESS_LINEAR = "MS:1002312"
NUMPRESS_SLOF = "MS:1002314"

# Units of time: minutes per unit as (numerator, denominator), so that seconds become exactly value / 60.
MINUTES_PER_UNIT = {
    "UO:0000031": (1, 1),  # minute
    "MS:1000038": (1, 1),  # minute (older files)
    "UO:0000010": (1, 60),  # second
    "MS:1000039": (1, 60),  # second (older files)
    "UO:0000028": (1, 60000),  # millisecond
    "UO:0000032": (60, 1),  # hour
}
MINUTES_PER_NAMED_UNIT = {"minute": (1, 1), "second": (1, 60), "millisecond": (1, 60000), "hour": (60, 1)}

# Chromatograms.
SRM_CHROMATOGRAM = "MS:1001473"
SIM_CHROMATOGRAM = "MS:1001472"
CRM_CHROMATOGRAM = "MS:1001474"
#: Chromatograms of chosen ions or reactions: they go to a quantitative function.
MASS_CHROMATOGRAMS = {
    SRM_CHROMATOGRAM: "selected reaction monitoring chromatogram",
    SIM_CHROMATOGRAM: "selected ion monitoring chromatogram",
    CRM_CHROMATOGRAM: "consecutive reaction monitoring chromatogram",
    "MS:1000627": "selected ion current chromatogram",
    "MS:4000025": "precursor ion current chromatogram",
}
#: Chromatograms summed from the spectra themselves: the reader rebuilds them, so they are stored only
#: when the file has no MS spectra.
DERIVED_CHROMATOGRAMS = {
    "MS:1000235": "total ion current chromatogram",
    "MS:1000628": "basepeak chromatogram",
    "MS:1000810": "ion current chromatogram",
}
#: Chromatograms of detectors other than the mass spectrometer: they go to analog functions.
DETECTOR_CHROMATOGRAMS = {
    "MS:1000811": "electromagnetic radiation chromatogram",
    "MS:1000812": "absorption chromatogram",
    "MS:1000813": "emission chromatogram",
    "MS:1003019": "pressure chromatogram",
    "MS:1003020": "flow rate chromatogram",
    "MS:1002715": "temperature chromatogram",
}

#: The software id the mzML export writes: a file with it gives its userParams back as supplemental
#: properties (other files' userParams are not read).
EXPORT_SOFTWARE = "ozra_data_access"
#: The userParam of the export's sample element holding the measurement's description as JSON: the
#: fields mzML has no place for (sample id, dilution, plate and well, the time as stored...).
MEASUREMENT_PARAM = "ozra measurement"
#: ... and the userParam holding the supplemental properties of its analyses, by kind ("qual", "dad",
#: "analog"), each kind a list in analysis order.
ANALYSES_PARAM = "ozra analyses"
MEASUREMENT_FIELDS = ("sample_name", "sample_id", "acquisition_method_file_name", "dilution_factor",
                      "injection_volume", "original_file_path", "instrument_product_name", "measurement_user_name",
                      "plate_code", "well_code", "measurement_date_time", "instrument_manufacturer",
                      "source_file_definition", "supplemental_properties", "hash")

# Instruments and source files.
INSTRUMENT_SERIAL_NUMBER = "MS:1000529"
INSTRUMENT_MODEL = "MS:1000031"  # the generic term, whose value names the model
SAMPLE_NAME = "MS:1000002"
SHA1 = "MS:1000569"
THERMO_NATIVE_ID_FORMAT = "MS:1000768"
THERMO_RAW_FORMAT = "MS:1000563"
#: Who made the instrument, from the format of its raw file (models: instrument_models.py).
MANUFACTURERS = {
    "MS:1000563": "Thermo Fisher Scientific",  # Thermo RAW format
    "MS:1000562": "SCIEX",  # ABI WIFF format
    "MS:1000526": "Waters",  # Waters raw format
    "MS:1001509": "Agilent",  # Agilent MassHunter format
    "MS:1000815": "Bruker Daltonics",  # Bruker BAF format
}
