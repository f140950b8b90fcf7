"""What a source is, decided from its content in one place: folder markers, zip members, the XML
root element, magic bytes. A source the converters do not read is refused in one sentence that
names what it is and what is read."""

from __future__ import annotations

import os
import re
import zipfile
import zlib

from ozra_data_access.convert.errors import ConversionError

SUPPORTED = ("mzML files (.mzML, .mzML.gz), Agilent ChemStation/MassHunter .D folders, Agilent OpenLab .dx "
             "archives and Waters MassLynx .raw folders")

MZML = "mzML"
VENDOR = "vendor"

_HEAD_BYTES = 4096
_AGILENT_DATA = re.compile(r".+\.(ch|uv|ms)$", re.IGNORECASE)
_WATERS_DATA = re.compile(r"^(_FUNCTNS\.INF|_FUNC\d{3}\.DAT|_CHRO\d{3}\.DAT)$", re.IGNORECASE)
_OPENLAB_MEMBER = re.compile(r"(^|/)injection\.acmd$|\.(uv|ch|it)$", re.IGNORECASE)
_ROOT = re.compile(rb"<([A-Za-z_][\w.-]*:)?([A-Za-z_][\w.-]*)[\s/>]")
_MAGIC = (
    (b"\x89OZRA", "an Ozra file already (nothing to convert; open it with ozra_data_access.access.OzraFile)"),
    (b"\xfd7zXZ\x00", "an xz-compressed file (such as a .tar.xz archive): unpack it, then convert the run inside"),
    (b"BZh", "a bzip2-compressed file: unpack it, then convert what is inside"),
    (b"\x01\xa1F\x00i\x00n\x00n\x00i\x00g\x00a\x00n\x00", "a Thermo .raw file, which this version cannot read"),
    (b"%PDF", "a PDF document, not a measurement"),
)


def source_kind(path: str) -> str:
    """MZML or VENDOR for a source the converters read; ConversionError naming what it is otherwise."""
    if os.path.isdir(path):
        return _folder_kind(path)
    with open(path, "rb") as stream:
        head = stream.read(_HEAD_BYTES)
    for magic, what in _MAGIC:
        if head.startswith(magic):
            raise _refusal(path, what)
    if head.startswith(b"PK\x03\x04"):
        return _zip_kind(path)
    if head.startswith(b"\x1f\x8b"):
        return _xml_kind(path, _gunzipped_head(path), "gzip-compressed ")
    return _xml_kind(path, head, "")


def _refusal(path: str, what: str) -> ConversionError:
    return ConversionError(f"{path}: {what}; the converters read {SUPPORTED}")


def _folder_kind(path: str) -> str:
    names = os.listdir(path)
    if any(_WATERS_DATA.match(name) for name in names):
        return VENDOR
    if any(_AGILENT_DATA.match(name) for name in names) or os.path.isdir(os.path.join(path, "AcqData")):
        return VENDOR
    raise _refusal(path, "a folder holding no Agilent (.ch, .uv, .ms, AcqData/) or Waters (_FUNCTNS.INF, "
                         "_FUNCnnn.DAT, _CHROnnn.DAT) data files")


def _zip_kind(path: str) -> str:
    try:
        with zipfile.ZipFile(path) as archive:
            members = archive.namelist()
    except (zipfile.BadZipFile, OSError) as error:
        raise _refusal(path, f"a damaged zip archive ({error})") from None
    if any(_OPENLAB_MEMBER.search(member) for member in members):
        return VENDOR
    raise _refusal(path, "a zip archive that is not an Agilent OpenLab .dx archive (no injection.acmd, .UV or "
                         ".CH member)")


def _gunzipped_head(path: str) -> bytes:
    """The first bytes of a gzip file's content, as far as they can be had (a cut file's reader names
    the cut itself)."""
    with open(path, "rb") as stream:
        compressed = stream.read(1 << 16)
    try:
        return zlib.decompressobj(wbits=16 + zlib.MAX_WBITS).decompress(compressed, _HEAD_BYTES)
    except zlib.error as error:
        raise _refusal(path, f"a damaged gzip file ({error})") from None


def _xml_kind(path: str, head: bytes, packing: str) -> str:
    if len(head) > 262 and head[257:262] == b"ustar":
        raise _refusal(path, f"{_a(packing + 'tar')} archive: unpack it, then convert the run inside")
    text = head.lstrip(b"\xef\xbb\xbf \t\r\n")
    if text.startswith(b"<"):
        for match in _ROOT.finditer(text):
            name = match.group(2).decode("ascii", "replace")
            if text[match.start() + 1:match.start() + 2] in (b"?", b"!"):
                continue
            if name in ("mzML", "indexedmzML"):
                return MZML
            if name == "mzXML":
                raise _refusal(path, f"{_a(packing + 'mzXML')} file, which this version cannot read (convert it to "
                                     "mzML)")
            raise _refusal(path, f"{_a(packing + 'XML')} document whose root element is <{name}>, not <mzML>")
    if _is_text(head):
        raise _refusal(path, f"{_a(packing + 'text')} file, not a measurement")
    raise _refusal(path, f"{_a(packing + 'file')} of no format the converters know")


def _a(words: str) -> str:
    """`words` with its article ("an mzXML", "an XML", "a gzip-compressed ...")."""
    return ("an " if words[0] in "aeiouAEIOUmMX" else "a ") + words


def _is_text(head: bytes) -> bool:
    try:
        decoded = head.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return all(character.isprintable() or character in "\t\r\n" for character in decoded)
