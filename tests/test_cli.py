"""The `ozra` command: the demo writes a sample and prints its walk."""

from ozra_data_access.cli import main


def test_demo_walks_the_sample(tmp_path, capsys):
    assert main(["demo", "--output-dir", str(tmp_path), "--seed", "2"]) == 0
    out = capsys.readouterr().out
    assert "format version    1.0.0" in out
    assert "[#Qual] 1, [#Quan] 1, [#DAD] 1, [#Analog] 1" in out
    assert "MS analysis [0] 600 spectra, 6 spectrum conditions" in out
    assert "XIC of m/z" in out and "max plot 190-600 nm: 300 points" in out
    assert main(["show", str(tmp_path / "sample.ozra")]) == 0
    assert capsys.readouterr().out == out.split("\n", 1)[1]
