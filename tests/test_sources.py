"""Sources are recognised by their content; any other source is refused in one sentence naming what
it is and what the converters read."""

import gzip
import io
import re
import shutil
import tarfile
import zipfile

import pytest

from shared_data import DATA, VENDOR
from ozra_data_access.cli import main
from ozra_data_access.convert import ConversionError, convert
from ozra_data_access.convert.sources import MZML, SUPPORTED, VENDOR as VENDOR_KIND, source_kind
from ozra_data_access.samples import write_sample


def _tar_gz(path):
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode="w") as archive:
        info = tarfile.TarInfo("run/readme.txt")
        info.size = 5
        archive.addfile(info, io.BytesIO(b"hello"))
    path.write_bytes(gzip.compress(data.getvalue()))


@pytest.mark.parametrize("make, what", [
    (lambda path: shutil.copy(VENDOR / "blue.raw.tar.xz", path), "an xz-compressed file (such as a .tar.xz archive)"),
    (lambda path: write_sample(str(path), scans=5, points_per_spectrum=5, dad_spectra=0), "an Ozra file already"),
    (lambda path: path.write_text("sample, amount\nA, 1\n"), "a text file, not a measurement"),
    (lambda path: shutil.copy(DATA / "DOM_b.mzXML", path), "an mzXML file, which this version cannot read"),
    (lambda path: path.write_text('<?xml version="1.0"?>\n<html><body/></html>'), "an XML document whose root element is <html>"),
    (lambda path: zipfile.ZipFile(path, "w").writestr("notes.txt", "x"), "a zip archive that is not an Agilent"),
    (_tar_gz, "a gzip-compressed tar archive"),
    (lambda path: path.mkdir(), "a folder holding no Agilent"),
    (lambda path: path.write_bytes(bytes(range(256)) * 4), "a file of no format the converters know"),
])
def test_unsupported_sources_are_refused_naming_what_they_are(tmp_path, capsys, make, what):
    source = tmp_path / "source"
    make(source)
    with pytest.raises(ConversionError, match="source: " + re.escape(what)):
        convert(source, tmp_path / "out.ozra")
    assert main(["convert", str(source), str(tmp_path / "out.ozra")]) == 1
    assert capsys.readouterr().err.strip().endswith(f"the converters read {SUPPORTED}")
    assert not (tmp_path / "out.ozra").exists()


@pytest.mark.parametrize("source, kind", [
    (DATA / "small.mzML", MZML), (DATA / "wk_chrom.mzML.gz", MZML), (VENDOR / "red.D", VENDOR_KIND),
    (VENDOR / "amber.D", VENDOR_KIND),
])
def test_supported_sources_are_recognised_whatever_their_name(tmp_path, source, kind):
    renamed = tmp_path / "run.data"
    (shutil.copytree if source.is_dir() else shutil.copy)(source, renamed)
    assert source_kind(str(renamed)) == kind


def test_the_help_names_every_source_read():
    from ozra_data_access.cli.convert import SUPPORTED as listed

    assert listed == SUPPORTED
