"""What kind of run a source is, decided from its content (never from its name alone).

Every place that must know how to read a source asks :func:`source_kind`; a source of no kind the
converters read is refused in one sentence naming what it is and which sources are supported.
"""

from __future__ import annotations

import fnmatch
import os
import re
import zipfile
import zlib

from ozra_data_access.convert.errors import ConversionError
from ozra_data_access.writer.blocks import MAGIC as OZRA_MAGIC

MZML = "mzml"
MZXML = "mzxml"
THERMO = "thermo"
VENDOR = "vendor"

SUPPORTED_SOURCES = ("mzML files (.mzML, gzip-compressed .mzML.gz), mzXML files, Agilent .D folders (ChemStation, MassHunter), "
                     "Waters .raw folders (MassLynx), Agilent OpenLab .dx archives and Thermo .raw files")

# Files that only an Agilent .D run folder holds (detector signals, MS data, MassHunter's AcqData).
_AGILENT_MARKERS = ("*.ch", "*.uv", "*.ms", "*.it", "acqdata")
# Files that only a Waters .raw run folder holds (its function table, function data, analog channels).
_WATERS_MARKERS = ("_functns.inf", "_func*.dat", "_chro*.dat")
# The data members of an OpenLab archive: detector signals and instrument traces.
_OPENLAB_MEMBERS = (".uv", ".ch", ".it")
# The data files of a run folder, which a conversion must account for: Agilent signal, absorbance and
# MS files, Waters functions and analog channels.
_RUN_DATA_FILE = re.compile(r"^(.+\.(uv|ch|ms)|_func\d{3}\.dat|_chro\d{3}\.dat)$")

_HEAD = 4096
GZIP_MAGIC = b"\x1f\x8b"
_ZIP = b"PK\x03\x04"
_XZ = b"\xfd7zXZ\x00"
_BZIP2 = b"BZh"
_ZSTD = b"\x28\xb5\x2f\xfd"
_THERMO = b"\x01\xa1" + "Finnigan".encode("utf-16-le")
_XML_ROOT = re.compile(rb"<(?![?!])(?:[\w.-]+:)?([\w.-]+)")
_XML_COMMENT = re.compile(rb"<!--.*?-->", re.DOTALL)


def source_kind(path: str) -> str:
    """`MZML`, `MZXML`, `THERMO` or `VENDOR` for a source the converters read; a `ConversionError` naming what it is otherwise."""
    if os.path.isdir(path):
        return _folder_kind(path)
    try:
        with open(path, "rb") as stream:
            head = stream.read(_HEAD)
    except OSError as error:
        raise ConversionError(f"{path}: cannot be read ({error.strerror or error})") from None
    if head.startswith(_ZIP):
        return _archive_kind(path)
    if head.startswith(GZIP_MAGIC):
        return _gzip_kind(path)
    if head.startswith(_THERMO):
        return THERMO
    what = _unsupported_file(head) or _xml_kind(head)
    if what in (MZML, MZXML):
        return what
    raise _refusal(path, what)


def run_data_files(folder: str) -> list:
    """The names of the data files directly in the run folder `folder`."""
    return [name for name in os.listdir(folder)
            if _RUN_DATA_FILE.match(name.lower()) and os.path.isfile(os.path.join(folder, name))]


def openlab_data_members(names: list) -> list:
    """The data members (.UV, .CH, .IT) among the member names of an OpenLab archive."""
    return [name for name in names if os.path.splitext(name)[1].lower() in _OPENLAB_MEMBERS]


def _folder_kind(path: str) -> str:
    names = [name.lower() for name in os.listdir(path)]
    if any(fnmatch.filter(names, marker) for marker in _AGILENT_MARKERS + _WATERS_MARKERS):
        return VENDOR
    raise _refusal(path, "a folder that holds no Agilent .D or Waters .raw run")


def _archive_kind(path: str) -> str:
    try:
        with zipfile.ZipFile(path) as archive:
            names = archive.namelist()
    except (zipfile.BadZipFile, OSError) as error:
        raise ConversionError(f"{path}: a damaged zip archive ({error})") from None
    if openlab_data_members(names):
        return VENDOR
    raise _refusal(path, "a zip archive that is not an OpenLab .dx run")


def _gzip_kind(path: str) -> str:
    # Only the start is inflated: a damaged or cut stream is left to the mzML reader, which names the fault.
    with open(path, "rb") as stream:
        compressed = stream.read(64 * 1024)
    try:
        head = zlib.decompressobj(wbits=31).decompress(compressed, _HEAD)
    except zlib.error:
        return MZML
    what = _unsupported_file(head) or _xml_kind(head)
    if what == MZML:
        return MZML
    raise _refusal(path, f"a gzip-compressed file that is not mzML ({what})")


def _unsupported_file(head: bytes) -> str:
    """What a file is, when its first bytes alone say it is of no kind read here ('' otherwise)."""
    if head.startswith(OZRA_MAGIC):
        return "an Ozra file (already converted)"
    if head.startswith(_XZ):
        return "an xz-compressed archive (such as .tar.xz)"
    if head.startswith(_BZIP2):
        return "a bzip2-compressed file"
    if head.startswith(_ZSTD):
        return "a zstd-compressed file"
    if head[257:262] == b"ustar":
        return "a tar archive"
    if not head:
        return "an empty file"
    return ""


def _xml_kind(head: bytes) -> str:
    """`MZML` or `MZXML` for such a document, else a description of what `head` begins."""
    text = head.lstrip(b"\xef\xbb\xbf \t\r\n")
    if text.startswith(b"<"):
        root = _xml_root(text)
        if root in ("mzML", "indexedmzML"):
            return MZML
        if root == "mzXML":
            return MZXML
        return f"an XML document of root <{root}>" if root else "an XML document"
    if b"\x00" in head:
        return "an unknown binary file"
    try:
        head.decode("utf-8")
    except UnicodeDecodeError as error:
        if error.start < len(head) - 4:  # a character cut at the end of the head is no evidence
            return "an unknown binary file"
    return "a plain text file"


def _xml_root(text: bytes) -> str:
    """The local name of the first element, past the declaration, comments and doctype."""
    match = _XML_ROOT.search(_XML_COMMENT.sub(b"", text))
    return match.group(1).decode("ascii", "replace") if match else ""


def _refusal(path: str, what: str) -> ConversionError:
    return ConversionError(f"{path}: {what} is not a source that can be converted; supported are {SUPPORTED_SOURCES}")
