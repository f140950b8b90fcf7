// A first look at a chromatogram on a plain canvas, drawn while the plotting library still loads
// (it takes a second or more to start); the interactive plot replaces it.
"use strict";

function ozraQuickLook(container, series, title) {
  const width = container.clientWidth || 600;
  const height = container.clientHeight || 300;
  const canvas = document.createElement("canvas");
  canvas.width = width;
  canvas.height = height;
  canvas.className = "quicklook";
  container.replaceChildren(canvas);
  const context = canvas.getContext("2d");
  const margin = { l: 64, r: 16, t: 58, b: 40 };
  let [xMin, xMax, yMin, yMax] = [Infinity, -Infinity, 0, -Infinity];
  for (const { x, y } of series) {
    for (let k = 0; k < x.length; k++) {
      if (x[k] === null || y[k] === null) continue;
      xMin = Math.min(xMin, x[k]); xMax = Math.max(xMax, x[k]);
      yMin = Math.min(yMin, y[k]); yMax = Math.max(yMax, y[k]);
    }
  }
  context.font = "12px system-ui, sans-serif";
  context.fillStyle = "#444";
  context.textAlign = "center";
  context.fillText(title, width / 2, 18);
  if (!(xMax > xMin) || !(yMax > yMin)) return;
  const px = (x) => margin.l + ((x - xMin) / (xMax - xMin)) * (width - margin.l - margin.r);
  const py = (y) => height - margin.b - ((y - yMin) / (yMax - yMin)) * (height - margin.t - margin.b);
  context.strokeStyle = "#ccc";
  context.strokeRect(margin.l, margin.t, width - margin.l - margin.r, height - margin.t - margin.b);
  context.fillText(`${xMin.toFixed(2)} – ${xMax.toFixed(2)} min`, width / 2, height - 12);
  const colours = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd"];
  series.forEach(({ x, y }, s) => {
    context.strokeStyle = colours[s % colours.length];
    context.beginPath();
    let drawing = false;
    for (let k = 0; k < x.length; k++) {
      if (x[k] === null || y[k] === null) { drawing = false; continue; }
      if (drawing) context.lineTo(px(x[k]), py(y[k])); else context.moveTo(px(x[k]), py(y[k]));
      drawing = true;
    }
    context.stroke();
  });
}
