"""A source's kind is told from its content; anything else is refused naming what it is."""

import gzip
import io
import lzma
import re
import tarfile
import zipfile

import pytest

from ozra_data_access.convert import ConversionError, convert
from ozra_data_access.convert.sources import MZML, MZXML, THERMO, VENDOR, source_kind

MZML_HEAD = b'<?xml version="1.0"?>\n<!-- <mzXML> in a comment -->\n<indexedmzML xmlns="http://psi.hupo.org/ms/mzml">'


def _tar(data: bytes) -> bytes:
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w") as archive:
        info = tarfile.TarInfo("run.raw/_FUNC001.DAT")
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def _zip(member: str) -> bytes:
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr(member, b"data")
    return buffer.getvalue()


@pytest.mark.parametrize("name, content, kind", [
    ("run.bin", MZML_HEAD, MZML),  # by content, whatever the name
    ("run.xml", b'<?xml version="1.0"?>\n<mzXML xmlns="x">', MZXML),
    ("run.mzML.gz", gzip.compress(b"\xef\xbb\xbf" + MZML_HEAD), MZML),
    ("run.dx", _zip("abc/DAD1.UV"), VENDOR),
    ("run.RAW", b"\x01\xa1" + "Finnigan".encode("utf-16-le") + bytes(8), THERMO),
])
def test_files_of_a_read_kind(tmp_path, name, content, kind):
    (tmp_path / name).write_bytes(content)
    assert source_kind(str(tmp_path / name)) == kind


@pytest.mark.parametrize("marker", ["DAD1.UV", "MSD1.MS", "AcqData", "_FUNCTNS.INF", "_FUNC002.DAT", "_CHRO001.DAT"])
def test_run_folders_by_their_markers(tmp_path, marker):
    (tmp_path / "run").mkdir()
    (tmp_path / "run" / marker).write_bytes(b"")
    assert source_kind(str(tmp_path / "run")) == VENDOR


@pytest.mark.parametrize("name, content, what", [
    ("run.raw.tar.xz", lzma.compress(_tar(b"x")), "an xz-compressed archive"),
    ("run.tar", _tar(b"x"), "a tar archive"),
    ("run.mzML.gz", gzip.compress(b"just text\n"), "a gzip-compressed file that is not mzML (a plain text file)"),
    ("run.ozra", b"\x89OZRA\r\n\x1a\n" + bytes(64), "an Ozra file (already converted)"),
    ("notes.mzML", "plain text, é\n".encode(), "a plain text file"),
    ("other.xml", b"<?xml version='1.0'?><html>", "an XML document of root <html>"),
    ("run.bin", b"\x01\xa1F\x00i\x00n\x00n\x00\xff\xfe", "an unknown binary file"),
    ("empty.mzML", b"", "an empty file"),
    ("run.zip", _zip("readme.txt"), "a zip archive that is not an OpenLab .dx run"),
])
def test_other_sources_are_refused_naming_what_they_are(tmp_path, name, content, what):
    (tmp_path / name).write_bytes(content)
    with pytest.raises(ConversionError, match=re.escape(f"{name}: {what}") + ".* supported are mzML files") as caught:
        convert(tmp_path / name, tmp_path / "out.ozra")
    assert len(str(caught.value).splitlines()) == 1
    assert not (tmp_path / "out.ozra").exists()


def test_a_folder_of_no_run_is_refused(tmp_path):
    (tmp_path / "notes").mkdir()
    (tmp_path / "notes" / "readme.txt").write_text("x")
    with pytest.raises(ConversionError, match="notes: a folder that holds no Agilent .D or Waters .raw run"):
        source_kind(str(tmp_path / "notes"))
