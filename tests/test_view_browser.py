"""`ozra view` in a real headless browser: the page of converted shared runs, clicked and typed into
as a user would, its plots compared with the library's own answers. Screenshots of each view are
saved under the test's temporary folder."""

import os
import pathlib
import threading

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.arrays import chromatogram_arrays
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import convert
from ozra_data_access.qual import ChromatogramFilterOption
from ozra_data_access.view import Runs, ViewerServer
from shared_data import DATA, VENDOR
from view_page import CHROMIUM, click_chromatogram

sync_api = pytest.importorskip("playwright.sync_api")
pytestmark = [pytest.mark.skipif(not pathlib.Path(CHROMIUM).exists(), reason="no chromium at /usr/bin/chromium (apt-get install chromium)"),
              pytest.mark.skipif(not (DATA / "small.mzML").exists(), reason="the shared runs are not on this machine")]


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("view")
    ms = folder / "small.ozra"
    convert(DATA / "small.mzML", ms)
    paths = [str(ms)]
    if (VENDOR / "red.D").is_dir():
        pytest.importorskip("rainbow")
        convert(VENDOR / "red.D", folder / "red.ozra")
        paths.append(str(folder / "red.ozra"))
    return paths


@pytest.fixture(scope="module")
def server(files):
    runs = Runs(files)
    served = ViewerServer(("127.0.0.1", 0), runs)
    thread = threading.Thread(target=served.serve_forever, daemon=True)
    thread.start()
    yield served
    served.shutdown()
    served.server_close()
    runs.close()


@pytest.fixture(scope="module")
def browser():
    with sync_api.sync_playwright() as playwright:
        # The browser is not ours to check: a run under the sanitizers preloads their runtime, which
        # chromium's start script does not survive.
        environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
        launched = playwright.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox"], env=environment)
        yield launched
        launched.close()


@pytest.fixture
def open_page(browser, server, tmp_path):
    pages = []

    def opener(state=""):
        page = browser.new_page(viewport={"width": 1400, "height": 1300})
        pages.append(page)
        page.goto(server.url + state)
        page.wait_for_function("window.ozraView && window.ozraView.ready", timeout=60_000)
        return page

    yield opener
    for k, page in enumerate(pages):
        page.screenshot(path=str(tmp_path / f"view{k}.png"), full_page=True)
        page.close()


def plot_traces(page, plot_id, meta=None):
    """The x and y of the traces of a plot (those with the given meta)."""
    return page.evaluate("""([id, meta]) => document.getElementById(id).data
        .filter((d) => meta === null || d.meta === meta).map((d) => ({x: d.x, y: d.y, name: d.name}))""",
                         [plot_id, meta])


def errors(page):
    return page.inner_text("#errors")


def ms_reference(path):
    with OzraFile(path) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        condition = analysis.unique_acquisition_conditions[0]
        tic = chromatogram_arrays(analysis.get_tic(condition))
        apex = int(tic.spectrum_index[np.argmax(tic.intensity)])
        points = analysis.get_spectrum(apex).get_spectrum_points()
        base_mz = max(points, key=lambda p: p.intensity).x
        window = ValueRange(base_mz - base_mz * 10e-6, base_mz + base_mz * 10e-6)
        xic = chromatogram_arrays(analysis.get_xic(ChromatogramFilterOption(condition, window)))
    return tic, apex, base_mz, xic




def test_tic_drawn_apex_click_shows_its_spectrum_and_typed_mz_its_xic(open_page, files):
    tic, apex, base_mz, xic = ms_reference(files[0])
    page = open_page()
    drawn = plot_traces(page, "chrom", "chromatogram")[0]
    np.testing.assert_array_equal(drawn["y"], tic.intensity)

    click_chromatogram(page)
    page.wait_for_function(f"window.ozraView.spectrum && window.ozraView.spectrum.index === {apex}", timeout=20_000)
    assert f"spectrum {apex} at" in page.evaluate("document.getElementById('spectrum').layout.title.text")

    page.fill("#mz", repr(base_mz))
    page.dispatch_event("#mz", "change")
    page.wait_for_function("document.getElementById('chrom').data.some((d) => d.meta === 'xic')", timeout=20_000)
    shown = plot_traces(page, "chrom", "xic")[0]
    np.testing.assert_array_equal(shown["y"], xic.intensity)
    np.testing.assert_array_equal(shown["x"], xic.retention_time)
    assert errors(page) == ""


def test_the_url_reopens_the_same_view(open_page):
    page = open_page()
    click_chromatogram(page)
    page.wait_for_function("window.ozraView.spectrum", timeout=20_000)
    page.fill("#mz", "445.12")
    page.dispatch_event("#mz", "change")
    page.wait_for_function("document.getElementById('chrom').data.some((d) => d.meta === 'xic')", timeout=20_000)
    page.select_option("#unit", "Da")
    page.wait_for_function("document.getElementById('chrom').data.some((d) => d.name.includes(' Da '))")
    first = {"spectrum": page.evaluate("window.ozraView.spectrum"), "chrom": plot_traces(page, "chrom")}

    again = open_page(page.url[page.url.index("#"):])
    assert again.input_value("#mz") == "445.12" and again.input_value("#unit") == "Da"
    assert again.evaluate("window.ozraView.spectrum") == first["spectrum"]
    assert plot_traces(again, "chrom") == first["chrom"]


def test_dad_map_and_max_plot_drawn_and_a_window_outside_refused_in_the_page(open_page, files):
    if len(files) < 2:
        pytest.skip("red.D is not on this machine")
    with OzraFile(files[1]) as ozra_file:
        dad = ozra_file.get_measurement(0).get_dad_analysis(0)
        max_plot = chromatogram_arrays(dad.get_max_plot(ValueRange(190.0, 400.0), 0.0))
        spectra = dad.get_spectra_count()
    page = open_page("#runs=1")
    np.testing.assert_array_equal(plot_traces(page, "dadplot", "max_plot")[0]["y"], max_plot.intensity)
    grid = page.evaluate("""() => { const d = document.getElementById('dadmap').data[0];
                                    return {type: d.type, rows: d.z.length, columns: d.z[0].length}; }""")
    assert grid["type"] == "heatmap" and 50 <= grid["rows"] <= min(spectra, 1000) and grid["columns"] > 50

    page.fill("#w0", "500")
    page.fill("#w1", "510")
    page.dispatch_event("#w1", "change")
    page.wait_for_function("document.getElementById('errors').innerText.includes('outside')", timeout=20_000)
    assert "190-400 nm" in errors(page)


def test_a_map_exports_every_cell_as_csv_and_the_plot_as_svg(open_page, files):
    if len(files) < 2:
        pytest.skip("red.D is not on this machine")
    page = open_page("#runs=1&views=dadmap")
    exported = page.evaluate("""async () => {
        const plot = document.getElementById('dadmap');
        const trace = plot.data[0];
        return {csv: ozraExport.csv(plot), cells: trace.z.length * trace.z[0].length,
                first: trace.customdata_values[0][0],
                svg: (await Plotly.toImage(plot, {format: 'svg'})).slice(0, 30)};
    }""")
    rows = exported["csv"].splitlines()
    assert rows[0] == "trace,x_from,x_to,y_from,y_to,value" and len(rows) == exported["cells"] + 1
    assert float(rows[1].split(",")[-1]) == pytest.approx(exported["first"])
    assert exported["svg"].startswith("data:image/svg+xml")
