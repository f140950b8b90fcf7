"""Everything the storage layer offers, read from one file: the blocks and records
through the reader protocol, then every spectrum and profile spectrum with each read
that applies to it. A damaged file may end a read only with OzraFormatError; a spectrum
that one read refuses is still tried with the others."""

import array

from ozra_bytes import functions_with_spectra
from ozra_data_access._internal._index import JumpTable
from ozra_data_access._internal._reader import OzraFileReader, XicInfo
from ozra_data_access.common import ValueRange
from ozra_data_access.exception import OzraFormatError

RANGES = [ValueRange(0.0, 1e300), ValueRange(150.0, 450.0)]


def attempt(read):
    try:
        read()
    except OzraFormatError:
        pass


def read_spectra(reader, position, wavelengths):
    def at(read):
        def positioned():
            reader._OzraFileReader__set_buffer(position)
            read()
        attempt(positioned)

    infos = [XicInfo._XicInfo__create_instance(r) for r in RANGES]
    at(reader._OzraFileReader__read_spectrum)
    at(lambda: reader._OzraFileReader__read_spectrum_for_multiple_xic(infos))
    if isinstance(wavelengths, array.array) and wavelengths.typecode == "d":
        at(lambda: reader._OzraFileReader__read_dad_spectrum(wavelengths))
        at(lambda: reader._OzraFileReader__read_dad_spectrum_for_multiple_xic(infos, wavelengths))


def walk(path):
    reader = OzraFileReader._OzraFileReader__create_instance(path)
    with reader._OzraFileReader__stream:
        table = JumpTable._JumpTable__create_instance(reader)
        for measurement in table._JumpTable__measurement_index_list:
            for function, spectra in functions_with_spectra(reader, measurement):
                qual = function._FunctionIndex__function_description._FunctionDescription__qual_description
                wavelengths = getattr(qual, "_QualDescription__wavelength_arr", None)
                for index in spectra:
                    read_spectra(reader, index._SpectrumIndex__position, wavelengths)
                    if index._SpectrumIndex__profile_position != 0:
                        read_spectra(reader, index._SpectrumIndex__profile_position, wavelengths)
