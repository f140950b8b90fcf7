// Export of a plot: PNG through the plotting library's own button, SVG and CSV through two more.
"use strict";

const ozraExport = (() => {
  function download(name, text, type) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([text], { type }));
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  }

  function quoted(value) {
    const text = value === null || value === undefined || Number.isNaN(value) ? "" : String(value);
    return /[",\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
  }

  // The data of every trace of the plot: one row per point of a line (trace, x, y), one row per
  // cell of a map (trace, x from, x to, y from, y to, value).
  function csv(plot) {
    const rows = [];
    for (const trace of plot.data) {
      const name = trace.name || trace.type;
      if (trace.type === "heatmap") {
        rows.push(["trace", "x_from", "x_to", "y_from", "y_to", "value"]);
        const z = trace.z;
        const raw = trace.customdata_values || z;  // the values before the colour scale's log
        for (let i = 0; i + 1 < trace.x.length; i++) {
          for (let j = 0; j + 1 < trace.y.length; j++) {
            rows.push([name, trace.x[i], trace.x[i + 1], trace.y[j], trace.y[j + 1], raw[i][j]]);
          }
        }
      } else {
        if (rows.length === 0) rows.push(["trace", "x", "y"]);
        const x = trace.csv_x || trace.x;
        const y = trace.csv_y || trace.y;
        for (let k = 0; k < x.length; k++) rows.push([name, x[k], y[k]]);
      }
    }
    return rows.map((row) => row.map(quoted).join(",")).join("\n") + "\n";
  }

  function buttons(name) {
    return [
      { name: "Download as SVG", icon: Plotly.Icons.camera,
        click: (plot) => Plotly.downloadImage(plot, { format: "svg", filename: name }) },
      { name: "Download data as CSV", icon: Plotly.Icons.disk,
        click: (plot) => download(`${name}.csv`, csv(plot), "text/csv") },
    ];
  }

  return { buttons, csv };
})();
