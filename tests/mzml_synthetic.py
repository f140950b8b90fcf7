"""Small mzML documents written from Python data, for the converter's tests and its benchmark.

Each function returns XML text; parameters are (accession, name) pairs of the PSI-MS ontology.
"""

import base64
import gzip
import zlib
from xml.sax.saxutils import quoteattr

import numpy as np

MINUTE = ("UO:0000031", "minute")
SECOND = ("UO:0000010", "second")
FLOAT64 = ("MS:1000523", "64-bit float", "<f8")
FLOAT32 = ("MS:1000521", "32-bit float", "<f4")
ZLIB = ("MS:1000574", "zlib compression")
NO_COMPRESSION = ("MS:1000576", "no compression")
MZ = ("MS:1000514", "m/z array")
INTENSITY = ("MS:1000515", "intensity array")
WAVELENGTH = ("MS:1000617", "wavelength array")
TIME = ("MS:1000595", "time array")
MS1 = [("MS:1000511", "ms level", "1"), ("MS:1000579", "MS1 spectrum"), ("MS:1000130", "positive scan"),
       ("MS:1000127", "centroid spectrum")]
MS2 = [("MS:1000511", "ms level", "2"), ("MS:1000580", "MSn spectrum"), ("MS:1000130", "positive scan"),
       ("MS:1000127", "centroid spectrum")]
ABSORPTION = [("MS:1000806", "absorption spectrum"), ("MS:1000128", "profile spectrum")]
THERMO_SOURCE = [("MS:1000768", "Thermo nativeID format"), ("MS:1000563", "Thermo RAW format")]


def cv_param(accession, name, value="", unit=None):
    unit_text = f' unitCvRef="UO" unitAccession="{unit[0]}" unitName="{unit[1]}"' if unit else ""
    return f'<cvParam cvRef="MS" accession="{accession}" name="{name}" value={quoteattr(str(value))}{unit_text}/>'


def cv_params(params):
    return "".join(cv_param(*p) for p in params)


def binary_array(kind, values, number=FLOAT64, compression=ZLIB, unit=None):
    data = np.asarray(values, dtype=number[2]).tobytes()
    if compression == ZLIB:
        data = zlib.compress(data)
    text = base64.b64encode(data).decode()
    return (f'<binaryDataArray encodedLength="{len(text)}">' + cv_param(*number[:2]) + cv_param(*compression)
            + cv_param(*kind, unit=unit) + f"<binary>{text}</binary></binaryDataArray>")


def scan(retention_time, unit=MINUTE, filter_string=None, window=None):
    params = cv_param("MS:1000016", "scan start time", retention_time, unit)
    if filter_string is not None:
        params += cv_param("MS:1000512", "filter string", filter_string)
    if window is not None:
        params += ('<scanWindowList count="1"><scanWindow>'
                   + cv_param("MS:1000501", "scan window lower limit", window[0])
                   + cv_param("MS:1000500", "scan window upper limit", window[1]) + "</scanWindow></scanWindowList>")
    return f'<scanList count="1"><scan>{params}</scan></scanList>'


def precursor(mz, spectrum_ref=None, collision_energy=None, offsets=None, selected=None):
    reference = f' spectrumRef="{spectrum_ref}"' if spectrum_ref else ""
    isolation = cv_param("MS:1000827", "isolation window target m/z", mz)
    if offsets:
        isolation += (cv_param("MS:1000828", "isolation window lower offset", offsets[0])
                      + cv_param("MS:1000829", "isolation window upper offset", offsets[1]))
    ions = ("" if selected is None else '<selectedIonList count="1"><selectedIon>'
            + cv_param("MS:1000744", "selected ion m/z", selected) + "</selectedIon></selectedIonList>")
    activation = "" if collision_energy is None else cv_param("MS:1000045", "collision energy", collision_energy)
    return (f"<precursor{reference}><isolationWindow>{isolation}</isolationWindow>{ions}"
            f"<activation>{activation}</activation></precursor>")


def spectrum(index, x, intensity, params=MS1, scan_xml="", precursor_xml="", x_kind=MZ, arrays=None):
    arrays = arrays if arrays is not None else [binary_array(x_kind, x), binary_array(INTENSITY, intensity)]
    precursors = f'<precursorList count="1">{precursor_xml}</precursorList>' if precursor_xml else ""
    return (f'<spectrum index="{index}" id="scan={index + 1}" defaultArrayLength="{len(intensity)}">'
            + cv_params(params) + scan_xml + precursors
            + f'<binaryDataArrayList count="{len(arrays)}">{"".join(arrays)}</binaryDataArrayList></spectrum>')


def chromatogram(index, identifier, time, intensity, params, precursor_xml="", product_mz=None, time_unit=MINUTE):
    product = ("" if product_mz is None else "<product><isolationWindow>"
               + cv_param("MS:1000827", "isolation window target m/z", product_mz) + "</isolationWindow></product>")
    return (f'<chromatogram index="{index}" id="{identifier}" defaultArrayLength="{len(time)}">' + cv_params(params)
            + precursor_xml + product + '<binaryDataArrayList count="2">'
            + binary_array(TIME, time, unit=time_unit) + binary_array(INTENSITY, intensity)
            + "</binaryDataArrayList></chromatogram>")


def document(spectra, chromatograms=(), source_params=(), run_id="synthetic"):
    """The document's text in pieces; `spectra` and `chromatograms` are iterables of element texts."""
    yield ('<?xml version="1.0" encoding="utf-8"?>\n'
           f'<mzML xmlns="http://psi.hupo.org/ms/mzml" version="1.1.0" id="{run_id}">'
           '<fileDescription><fileContent/><sourceFileList count="1">'
           '<sourceFile id="RAW1" name="synthetic.raw" location="file:///data">'
           + cv_params(source_params) + "</sourceFile></sourceFileList></fileDescription>"
           '<instrumentConfigurationList count="1"><instrumentConfiguration id="IC1">'
           + cv_param("MS:1000031", "instrument model") + "</instrumentConfiguration></instrumentConfigurationList>"
           f'<run id="{run_id}" defaultInstrumentConfigurationRef="IC1" defaultSourceFileRef="RAW1">'
           '<spectrumList count="0">')
    yield from spectra
    yield '</spectrumList><chromatogramList count="0">'
    yield from chromatograms
    yield "</chromatogramList></run></mzML>\n"


def write_mzml(path, spectra, chromatograms=(), **options):
    """Writes the document to `path` (gzip-compressed when the name ends with .gz) and returns `path`."""
    opener = gzip.open if str(path).endswith(".gz") else open
    with opener(path, "wt", encoding="utf-8") as file:
        for piece in document(spectra, chromatograms, **options):
            file.write(piece)
    return path


def encoded_array(kind, data, compression, number=FLOAT64):
    """A binaryDataArray of bytes already encoded (numpress, with or without zlib) under `compression`."""
    text = base64.b64encode(bytes(data)).decode()
    return (f'<binaryDataArray encodedLength="{len(text)}">' + cv_param(*number[:2]) + cv_param(*compression)
            + cv_param(*kind) + f"<binary>{text}</binary></binaryDataArray>")
