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

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from view_page import CHROMIUM, click_chromatogram  # noqa: E402


def main() -> None:
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "docs/view.png")
    with tempfile.TemporaryDirectory() as folder:
        path = write_sample(pathlib.Path(folder) / "sample.ozra", scans=1200, dad_spectra=600)
        runs = Runs([str(path)])
        server = ViewerServer(("127.0.0.1", 0), runs)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            with sync_playwright() as playwright:
                browser = playwright.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox"])
                page = browser.new_page(viewport={"width": 1500, "height": 1250})
                page.goto(server.url + "#tr=quan:0:0;quan:0:1;quan:0:2&w0=250&w1=260")
                page.wait_for_function("window.ozraView && window.ozraView.ready", timeout=60_000)
                click_chromatogram(page)
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
