// The page's state in its URL (after #), so that a view can be shared and opened again.
"use strict";

const ozraState = (() => {
  const DEFAULTS = { runs: "0", a: "0", c: "", k: "tic", tol: "10", unit: "ppm", dtol: "0",
                     views: "ms,spectrum,msmap,dad,uv,dadmap,traces" };
  const values = { ...DEFAULTS };
  for (const [key, value] of new URLSearchParams(location.hash.slice(1))) values[key] = value;

  function write() {
    const shown = new URLSearchParams();
    for (const [key, value] of Object.entries(values)) {
      if (value !== "" && value !== undefined && value !== null && value !== DEFAULTS[key]) shown.set(key, value);
    }
    history.replaceState(null, "", `#${shown}`);
  }

  return {
    get: (key) => values[key] ?? "",
    number: (key) => (values[key] === undefined || values[key] === "" ? null : Number(values[key])),
    list: (key) => (values[key] ? values[key].split(",") : []),
    set(changes) {
      for (const [key, value] of Object.entries(changes)) values[key] = value === null || value === undefined ? "" : String(value);
      write();
    },
  };
})();
