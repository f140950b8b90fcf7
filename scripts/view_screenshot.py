"""Takes docs/view.png: `ozra view` of a generated sample run (MS, DAD and traces) in headless
chromium, a peak of the TIC clicked and its base peak's XIC shown.

    PYTHONPATH=src python3 scripts/view_screenshot.py [docs/view.png]
"""

import pathlib
import sys
import tempfile
import threading

from playwright.sync_api import sync_playwright

from ozra_data_access.samples import write_sample
from ozra_data_access.view import Runs, ViewerServer


def main() -> None:
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "docs/view.png")
    with tempfile.TemporaryDirectory() as folder:
        path = write_sample(pathlib.Path(folder) / "sample.ozra", scans=1200, dad_spectra=600)
        runs = Runs([str(path)])
        server = ViewerServer(("127.0.0.1", 0), runs)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            with sync_playwright() as playwright:
                browser = playwright.chromium.launch(executable_path="/usr/bin/chromium", args=["--no-sandbox"])
                page = browser.new_page(viewport={"width": 1500, "height": 1250})
                page.goto(server.url + "#tr=quan:0:0;quan:0:1;quan:0:2&w0=250&w1=260")
                page.wait_for_function("window.ozraView && window.ozraView.ready", timeout=60_000)
                where = page.evaluate("""() => {
                    const plot = document.getElementById('chrom');
                    const trace = plot.data.find((d) => d.meta === 'chromatogram');
                    let k = 0;
                    trace.y.forEach((v, i) => { if (v > trace.y[k]) k = i; });
                    const layout = plot._fullLayout, box = plot.getBoundingClientRect();
                    return {x: box.left + layout._size.l + layout.xaxis.l2p(trace.x[k]),
                            y: box.top + layout._size.t + layout.yaxis.l2p(trace.y[k])};
                }""")
                page.mouse.click(where["x"], where["y"])
                page.wait_for_function("window.ozraView.spectrum", timeout=30_000)
                mz = page.evaluate("""() => { const d = document.getElementById('spectrum').data.at(-1);
                    let k = 0; d.csv_y.forEach((v, i) => { if (v > d.csv_y[k]) k = i; }); return d.csv_x[k]; }""")
                page.fill("#mz", f"{mz:.4f}")
                page.dispatch_event("#mz", "change")
                page.wait_for_function("document.getElementById('chrom').data.some((d) => d.meta === 'xic')")
                page.wait_for_timeout(500)
                page.screenshot(path=str(target), full_page=True)
                browser.close()
        finally:
            server.shutdown()
            runs.close()
    print(f"wrote {target}")


if __name__ == "__main__":
    main()
