"""`ozra view` speed: the native binned map, and the page's own times measured in the browser.

    PYTHONPATH=src python3 benchmarks/bench_view.py [--spectra 20000] [--points 1000] [--repeats 5]

A generated run (one MS condition, `spectra` centroid spectra of `points` points each, compounds
eluting over 30 minutes, and a DAD function of 3,000 spectra x 200 wavelengths) is written, then:
- native: QualAnalysis.get_binned_map of every point into 1,000 x 500 bins (best of `repeats`),
  with the m/z window given and with the default one, which takes a second read of every spectrum,
  on the run written with raw points and with zstd points (decompression bounds the latter: some
  60% of its time is in libzstd);
- page, on the zstd run (headless chromium at /usr/bin/chromium, times taken with performance.now() in the page,
  median of `repeats`): the first TIC on screen after opening the page (a fresh browser profile,
  and again from the browser's cache); the spectrum on screen after a click on the TIC; the XIC
  on screen after an m/z is typed; the run's retention time x m/z map after the time axis is
  reset to the whole run, and after a zoom (both re-binned natively).
Each target is under 1 s (0.2 s for the native map); a figure over its target is marked.
"""

import argparse
import os
import statistics
import sys
import tempfile
import threading

import numpy as np

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.view import Runs, ViewerServer
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from timing import best_of  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from view_page import CHROMIUM, click_chromatogram  # noqa: E402

RUN_MINUTES = 30.0


def ms_spectra(spectra, points):
    """Noise on a fixed m/z grid, with 40 compounds eluting as Gaussian peaks."""
    rng = np.random.default_rng(3)
    x = np.sort(rng.uniform(100.0, 1500.0, points))
    compounds = rng.choice(points, 40, replace=False)
    apexes = rng.uniform(1.0, RUN_MINUTES - 1.0, 40)
    heights = rng.uniform(1e4, 1e7, 40)
    for k in range(spectra):
        rt = RUN_MINUTES * k / spectra
        intensity = rng.exponential(200.0, points)
        intensity[compounds] += heights * np.exp(-0.5 * ((rt - apexes) / 0.1) ** 2)
        yield SpectrumData(retention_time=rt, x=x, intensity=intensity)


def dad_spectra(spectra, wavelengths):
    rng = np.random.default_rng(4)
    for k in range(spectra):
        yield SpectrumData(retention_time=RUN_MINUTES * k / spectra,
                           intensity=rng.normal(0.0, 1.0, len(wavelengths)).astype(np.float32))


def write_run(path, spectra, points, point_encoding):
    wavelengths = np.arange(200.0, 600.0, 2.0)
    write_file(path, [MeasurementData(functions=[
        FunctionData.qual_ms(ms_spectra(spectra, points)),
        FunctionData.dad(dad_spectra(3000, wavelengths), wavelengths=wavelengths)])], point_encoding=point_encoding)


def native_map_seconds(path, repeats):
    """The map with its m/z window given (one read of each spectrum, as the page asks once it
    knows the run's extent), and with the default window (the points' own extent: two reads)."""
    with OzraFile(path) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        condition = analysis.unique_acquisition_conditions[0]
        default, binned = best_of(repeats, lambda: analysis.get_binned_map(condition, 1000, 500))
        assert binned.spectrum_count.sum() == analysis.get_spectra_count()
        window = ValueRange(float(binned.x_edges[0]), float(binned.x_edges[-1]))
        given, again = best_of(repeats, lambda: analysis.get_binned_map(condition, 1000, 500, x_range=window))
        np.testing.assert_array_equal(again.values, binned.values)
    return given, default


# Page-side: the time from a user's action (seen by a listener in the page) to the mark the page
# sets when the plot it changes is drawn.
LISTEN = """() => {
    window.benchmarkStart = null;
    for (const kind of ['mousedown', 'change'])
        document.addEventListener(kind, () => { window.benchmarkStart = performance.now(); }, true);
}"""


def after(page, mark, act):
    """Milliseconds from the action `act` starts in the page until the plot's mark is newer."""
    page.evaluate("() => { window.benchmarkStart = performance.now(); }")
    before = page.evaluate(f"window.ozraView.marks[{mark!r}] || 0")
    act()
    page.wait_for_function(f"(window.ozraView.marks[{mark!r}] || 0) > {before}", timeout=60_000)
    return page.evaluate(f"window.ozraView.marks[{mark!r}] - window.benchmarkStart")


def page_times(url, repeats):
    from playwright.sync_api import sync_playwright

    times = {name: [] for name in ("first TIC, fresh profile", "first TIC, from cache", "spectrum after a click",
                                   "XIC after typing an m/z", "whole-run m/z map", "m/z map after a zoom")}
    with sync_playwright() as playwright:
        browser = playwright.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox"])
        for r in range(repeats):
            context = browser.new_context(viewport={"width": 1400, "height": 1000})
            page = context.new_page()
            for label in ("first TIC, fresh profile", "first TIC, from cache"):
                page.goto(url + "#views=ms,spectrum,msmap")
                page.wait_for_function("window.ozraView && window.ozraView.ready", timeout=120_000)
                times[label].append(page.evaluate("window.ozraView.marks['first-tic']"))
                page.goto("about:blank")
            page.goto(url + "#views=ms,spectrum,msmap")
            page.wait_for_function("window.ozraView && window.ozraView.ready", timeout=120_000)
            page.evaluate(LISTEN)
            times["spectrum after a click"].append(after(page, "spectrum", lambda: click_chromatogram(page, 0.2 + 0.1 * r)))
            mz = page.evaluate(f"document.getElementById('spectrum').data.at(-1).csv_x[{10 + r}]")
            page.fill("#mz", repr(mz))
            times["XIC after typing an m/z"].append(after(page, "xic", lambda: page.dispatch_event("#mz", "change")))
            start, end = 5.0 + r, 8.0 + r
            times["m/z map after a zoom"].append(after(page, "msmap", lambda: page.evaluate(
                f"Plotly.relayout('chrom', {{'xaxis.range': [{start}, {end}]}})")))
            times["whole-run m/z map"].append(after(page, "msmap", lambda: page.evaluate(
                "Plotly.relayout('chrom', {'xaxis.autorange': true})")))
            assert page.inner_text("#errors") == "", page.inner_text("#errors")
            context.close()
        browser.close()
    return {name: statistics.median(values) / 1000 for name, values in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spectra", type=int, default=20_000)
    parser.add_argument("--points", type=int, default=1_000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        rows = []
        size = f"{args.spectra:,} x {args.points:,} points into 1,000 x 500 bins"
        # zstd (what conversions write by default) is bound by decompression; raw by the reads.
        for encoding in ("raw", "zstd"):
            path = os.path.join(directory, f"view-{encoding}.ozra")
            write_run(path, args.spectra, args.points, encoding)
            given, default = native_map_seconds(path, args.repeats)
            rows += [(f"native binned map, {size}, {encoding}, m/z window given", given, 0.2),
                     (f"native binned map, {size}, {encoding}, default window (two reads)", default, 0.2)]
        if os.path.exists(CHROMIUM):
            runs = Runs([path])
            server = ViewerServer(("127.0.0.1", 0), runs)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            try:
                rows += [(f"page: {name}", seconds, 1.0) for name, seconds in page_times(server.url, args.repeats).items()]
            finally:
                server.shutdown()
                runs.close()
        else:
            print(f"(no chromium at {CHROMIUM}: the page's times are not measured)")
    width = max(len(name) for name, _, _ in rows)
    print(f"{'what':<{width}}  seconds  target")
    for name, seconds, target in rows:
        print(f"{name:<{width}}  {seconds:7.3f}  < {target:g} s{'' if seconds < target else '  OVER'}")


if __name__ == "__main__":
    main()
