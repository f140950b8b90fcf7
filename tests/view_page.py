"""Where `ozra view` draws its chromatogram's points on the screen: for the browser tests, the view
benchmark and the README screenshot, which click on it as a user would."""

CHROMIUM = "/usr/bin/chromium"

_POINT = """(fraction) => {
    const plot = document.getElementById('chrom');
    const trace = plot.data.find((d) => d.meta === 'chromatogram');
    let k = 0;
    if (fraction === null) trace.y.forEach((v, i) => { if (v > trace.y[k]) k = i; });
    else k = Math.floor(fraction * (trace.x.length - 1));
    const layout = plot._fullLayout, box = plot.getBoundingClientRect();
    return {x: box.left + layout._size.l + layout.xaxis.l2p(trace.x[k]),
            y: box.top + layout._size.t + layout.yaxis.l2p(trace.y[k])};
}"""


def click_chromatogram(page, fraction=None):
    """Clicks the drawn chromatogram's point at `fraction` of its points (None: its highest point)."""
    where = page.evaluate(_POINT, fraction)
    page.mouse.click(where["x"], where["y"])
