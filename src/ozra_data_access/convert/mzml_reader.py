"""Reading mzML as a stream: the run's header, then one record per spectrum and chromatogram.

The XML is parsed incrementally (`xml.etree.ElementTree.iterparse`); each spectrum or
chromatogram element is turned into a plain record and then dropped from the tree, so memory
stays that of one spectrum however long the run. Gzip-compressed files are recognised by
their first bytes.
"""

from __future__ import annotations

import gzip
import os
import xml.etree.ElementTree as ElementTree
import zlib
from dataclasses import dataclass, field
from typing import BinaryIO, Iterator, NamedTuple, Optional, Union

import numpy as np

from ozra_data_access.convert import vocabulary as cv
from ozra_data_access.convert.mzml_arrays import MzmlError, decode_array
from ozra_data_access.convert.sources import GZIP_MAGIC

_ROOTS = ("mzML", "indexedmzML")


class Param(NamedTuple):
    """One cvParam: its value text, its name, and its unit's accession and name (None without a unit);
    a userParam also has the type of its value (an XML Schema type name, or None)."""

    value: str
    name: str
    unit: Optional[str]
    unit_name: Optional[str]
    type: Optional[str] = None


#: The cvParams of an element (and of the groups it refers to), by accession; its userParams by
#: USER_PARAM + name.
Params = dict

USER_PARAM = "userParam:"


class Array(NamedTuple):
    """A decoded binary data array and the cvParam that names its kind (with its unit)."""

    values: np.ndarray
    kind: Param


@dataclass
class Precursor:
    """A precursor (or a chromatogram's product): its isolation window, first selected ion and activation."""

    spectrum_ref: Optional[str] = None
    isolation: Params = field(default_factory=dict)
    selected_ion: Params = field(default_factory=dict)
    activation: Params = field(default_factory=dict)


@dataclass
class MzmlSpectrum:
    """One spectrum element: its own cvParams, its first scan's, its scan windows, precursors and arrays."""

    id: str
    params: Params
    scan: Params
    scan_windows: list
    precursors: list
    arrays: dict
    unread_arrays: list = field(default_factory=list)  # the names of arrays of a kind not stored


@dataclass
class MzmlChromatogram:
    """One chromatogram element: its cvParams, precursor and product, and arrays."""

    id: str
    params: Params
    precursor: Optional[Precursor]
    product: Optional[Precursor]
    arrays: dict
    unread_arrays: list = field(default_factory=list)


@dataclass
class SourceFile:
    """A sourceFile element: the file the mzML was made from."""

    id: Optional[str]
    name: Optional[str]
    location: Optional[str]
    params: Params


@dataclass
class MzmlHeader:
    """What the file says before its first spectrum: the run, its source file, sample and instrument."""

    version: Optional[str] = None
    run_id: Optional[str] = None
    start_time_stamp: Optional[str] = None
    source_file: Optional[SourceFile] = None
    sample_id: Optional[str] = None
    sample_name: Optional[str] = None
    sample: Params = field(default_factory=dict)
    instrument: Params = field(default_factory=dict)
    software: list = field(default_factory=list)  # the ids of the softwareList's software


class _Tags:
    """The qualified tag names of one file's namespace."""

    def __init__(self, namespace: str):
        def q(path: str) -> str:
            return "/".join(namespace + part for part in path.split("/"))

        self.cv_param = q("cvParam")
        self.user_param = q("userParam")
        self.group_ref = q("referenceableParamGroupRef")
        self.spectrum = q("spectrum")
        self.chromatogram = q("chromatogram")
        self.lists = (q("spectrumList"), q("chromatogramList"))
        self.scan = q("scanList/scan")
        self.scan_window = q("scanWindowList/scanWindow")
        self.precursor = q("precursorList/precursor")
        self.chromatogram_precursor = q("precursor")
        self.product = q("product")
        self.isolation = q("isolationWindow")
        self.selected_ion = q("selectedIonList/selectedIon")
        self.activation = q("activation")
        self.array = q("binaryDataArrayList/binaryDataArray")
        self.binary = q("binary")


class MzmlReader:
    """An open mzML file: `header` is read on opening, `items()` then streams its spectra and chromatograms.

    Use it as a context manager, or call `close()`.
    """

    def __init__(self, source: Union[str, "os.PathLike[str]"]):
        self.source = os.fspath(source)
        self._file = _open(self.source)
        self._stream = _BoundedStream(self._file, self.source)
        try:
            self._events = self._parse(ElementTree.iterparse(self._stream, events=("start", "end")))
            self._groups: dict = {}
            self._tags: Optional[_Tags] = None
            #: The spectrum list's count attribute, once `items()` has reached the list (None if not given).
            self.spectrum_count: Optional[int] = None
            self.header = self._read_header()
        except BaseException:
            self._file.close()
            raise

    def __enter__(self) -> "MzmlReader":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def close(self) -> None:
        """Closes the file."""
        self._file.close()

    def items(self) -> Iterator[Union[MzmlSpectrum, MzmlChromatogram]]:
        """Every spectrum and chromatogram, in file order, each read once."""
        tags = self._tags
        container = None
        depth = 0  # of the element being read below the spectrum or chromatogram list
        for event, element in self._events:
            if event == "start":
                if element.tag in tags.lists:
                    container, depth = element, 0
                    if element.tag == tags.lists[0] and (element.get("count") or "").isdigit():
                        self.spectrum_count = int(element.get("count"))
                elif container is not None:
                    depth += 1
                    if depth == 1 and element.tag in (tags.spectrum, tags.chromatogram):
                        self._stream.allow_item(element.get("defaultArrayLength"))
                continue
            if element.tag in tags.lists:
                container = None
                continue
            depth -= 1
            if depth != 0 or container is None:
                continue
            # A child of the list is read, then released, whatever it is.
            item = None
            if element.tag == tags.spectrum:
                item = self._spectrum(element)
            elif element.tag == tags.chromatogram:
                item = self._chromatogram(element)
            self._stream.allow_item(None)
            element.clear()
            # Every child the list holds so far is done with or still referenced by the parser (which
            # goes on filling an element it has begun): dropping them all keeps each removal cheap.
            del container[:]
            if item is not None:
                yield item

    def _parse(self, events):
        """The parser's events, its syntax errors and damaged compression raised as `MzmlError`; one
        generator serves the whole file."""
        stream = self._stream
        try:
            for event in events:
                stream.mark()
                yield event
        except ElementTree.ParseError as error:
            raise MzmlError(f"{self.source}: not well-formed XML ({error})") from None
        except (EOFError, zlib.error, gzip.BadGzipFile) as error:
            raise MzmlError(f"{self.source}: the gzip-compressed file is truncated or damaged ({error})") from None

    def _read_header(self) -> MzmlHeader:
        header = MzmlHeader()
        source_files: dict = {}
        samples: dict = {}
        instruments: dict = {}
        for event, element in self._events:
            local = element.tag.rpartition("}")[2]
            if self._tags is None:
                if local not in _ROOTS:
                    raise MzmlError(f"{self.source}: not an mzML file (its root element is <{local}>)")
                self._tags = _Tags(element.tag[: len(element.tag) - len(local)])
            if event == "start":
                if local == "mzML":
                    header.version = element.get("version")
                elif local == "run":
                    header.run_id = element.get("id")
                    header.start_time_stamp = element.get("startTimeStamp")
                    header.source_file = _chosen(source_files, element.get("defaultSourceFileRef"))
                    header.sample_id, header.sample_name, header.sample = (
                        _chosen(samples, element.get("sampleRef")) or (None, None, {}))
                    header.instrument = _chosen(instruments, element.get("defaultInstrumentConfigurationRef")) or {}
                    return header
            elif local == "referenceableParamGroup":
                self._groups[element.get("id")] = self._params(element)
            elif local == "sourceFile":
                source_files[element.get("id")] = SourceFile(
                    element.get("id"), element.get("name"), element.get("location"), self._params(element))
            elif local == "sample":
                samples[element.get("id")] = (element.get("id"), element.get("name"), self._params(element))
            elif local == "instrumentConfiguration":
                instruments[element.get("id")] = self._params(element)
            elif local == "software":
                header.software.append(element.get("id"))
        raise MzmlError(f"{self.source}: the file has no <run> element")

    def _params(self, element) -> Params:
        params = {}
        tags = self._tags
        for child in element:
            if child.tag == tags.cv_param:
                a = child.attrib
                params[a.get("accession")] = Param(a.get("value", ""), a.get("name", ""), a.get("unitAccession"),
                                                   a.get("unitName"))
            elif child.tag == tags.user_param:
                a = child.attrib
                params[USER_PARAM + a.get("name", "")] = Param(a.get("value", ""), a.get("name", ""),
                                                              a.get("unitAccession"), a.get("unitName"),
                                                              a.get("type"))
            elif child.tag == tags.group_ref:
                group = self._groups.get(child.get("ref"))
                if group is None:
                    raise MzmlError(f"{self.source}: no referenceableParamGroup {child.get('ref')!r}")
                for accession, param in group.items():
                    params.setdefault(accession, param)
        return params

    def _optional_params(self, element) -> Params:
        return {} if element is None else self._params(element)

    def _precursor(self, element) -> Precursor:
        tags = self._tags
        return Precursor(
            element.get("spectrumRef"),
            self._optional_params(element.find(tags.isolation)),
            self._optional_params(element.find(tags.selected_ion)),
            self._optional_params(element.find(tags.activation)),
        )

    def _spectrum(self, element) -> MzmlSpectrum:
        tags = self._tags
        identifier = element.get("id", "")
        scan = element.find(tags.scan)
        windows = [] if scan is None else [self._params(w) for w in scan.iterfind(tags.scan_window)]
        arrays, unread = self._arrays(element, f"spectrum {identifier!r}")
        return MzmlSpectrum(
            identifier,
            self._params(element),
            self._optional_params(scan),
            windows,
            [self._precursor(p) for p in element.iterfind(tags.precursor)],
            arrays,
            unread,
        )

    def _chromatogram(self, element) -> MzmlChromatogram:
        tags = self._tags
        identifier = element.get("id", "")
        precursor = element.find(tags.chromatogram_precursor)
        product = element.find(tags.product)
        arrays, unread = self._arrays(element, f"chromatogram {identifier!r}")
        return MzmlChromatogram(
            identifier,
            self._params(element),
            None if precursor is None else self._precursor(precursor),
            None if product is None else self._precursor(product),
            arrays,
            unread,
        )

    def _arrays(self, element, where: str) -> tuple[dict, list]:
        """The arrays of the kinds stored, by kind, and the names of the other arrays."""
        arrays, declared_lengths, unread = {}, {}, []
        declared = _declared_length(element.get("defaultArrayLength"), where)
        for array in element.iterfind(self._tags.array):
            params = self._params(array)
            kind = next((accession for accession in cv.ARRAY_KINDS if accession in params), None)
            named = params.get(cv.NON_STANDARD_ARRAY)
            if kind is None and named is not None and named.value in cv.REPRESENTATION_ARRAYS:
                kind = named.value  # kept under its name: the other representation of the points
            if kind is None:
                unread.append(_array_name(params))
                continue
            kind_param = params[kind] if kind in params else Param("", kind, None, None)
            binary = array.find(self._tags.binary)
            text = None if binary is None else binary.text
            length = declared if array.get("arrayLength") is None else _declared_length(array.get("arrayLength"), where)
            arrays[kind] = Array(decode_array(text, params, f"{where}, {kind_param.name}", length), kind_param)
            declared_lengths[kind] = length
        # Arrays that disagree with each other are named by the spectrum's or chromatogram's own check.
        if len({len(array.values) for array in arrays.values()}) == 1:
            for kind, array in arrays.items():
                if len(array.values) != declared_lengths[kind]:
                    raise MzmlError(f"{where}: its {array.kind.name} holds {len(array.values):,} values, "
                                    f"the element declares {declared_lengths[kind]:,}")
        return arrays, unread


def _array_name(params: Params) -> str:
    """The name of an array of a kind not stored (an ion mobility array, a non-standard array...)."""
    named = [param for param in params.values() if param.name.endswith(" array")]
    if not named:
        return "array of no named kind"
    param = named[0]
    return f"{param.name} {param.value!r}" if param.value else param.name


def _declared_length(text: Optional[str], where: str) -> int:
    """The number of values an element declares for its arrays (defaultArrayLength, arrayLength)."""
    try:
        length = int(text) if text is not None else None
    except ValueError:
        length = None
    if length is None or length < 0:
        raise MzmlError(f"{where}: its array length {text!r} is not a count of values")
    return length


def _chosen(table: dict, reference: Optional[str]):
    """The entry named by `reference`, else the first one, else None."""
    if reference in table:
        return table[reference]
    return next(iter(table.values()), None)


class _BoundedStream:
    """The file as the XML parser reads it: in large chunks (the system's expat scans a token that
    spans feeds again on every feed, so small feeds make one long attribute or text quadratic), and
    with a bound on the bytes between two element boundaries, so that no text or attribute can make
    the parser hold more than its element can need.

    The bound is DEFAULT_ALLOWANCE bytes, and inside a spectrum or chromatogram ITEM_FACTOR times
    the base64 text its declared array length needs as float64 (an array kind per binary array
    allowed), whichever is larger; the parser's own read-ahead (one chunk) is added to either."""

    CHUNK = 1 << 20
    DEFAULT_ALLOWANCE = 64 << 20
    ITEM_FACTOR = 8

    def __init__(self, file: BinaryIO, source: str):
        self._file = file
        self._source = source
        self._read = 0
        self._marked = 0
        self._allowance = self.DEFAULT_ALLOWANCE

    def read(self, size: int = -1) -> bytes:
        if self._read - self._marked > self._allowance + self.CHUNK:
            raise MzmlError(f"{self._source}: more than {self._allowance:,} bytes without an element boundary "
                            f"near byte {self._marked:,} of the XML (an oversized text or attribute)")
        data = self._file.read(self.CHUNK)
        self._read += len(data)
        return data

    def mark(self) -> None:
        """An element boundary was reached: the bound counts from here."""
        self._marked = self._read

    def allow_item(self, declared_length: Optional[str]) -> None:
        """The bound for the spectrum or chromatogram that declares `declared_length` values (None:
        outside any)."""
        length = int(declared_length) if declared_length and declared_length.isdigit() else 0
        self._allowance = max(self.DEFAULT_ALLOWANCE, self.ITEM_FACTOR * length * 8 * 4 // 3)


def _open(path: str) -> BinaryIO:
    file = open(path, "rb")
    if file.read(2) == GZIP_MAGIC:
        file.close()
        return gzip.open(path, "rb")
    file.seek(0)
    return file
