// Questions to the server, the "working" indicator and the error box: every failure is shown in
// the page, none leaves it dead.
"use strict";

const ozraApi = (() => {
  const WORKING_DELAY_MS = 200;
  let pending = 0;
  let timer = null;

  function started() {
    pending += 1;
    if (timer === null) timer = setTimeout(() => { document.getElementById("working").hidden = false; }, WORKING_DELAY_MS);
  }

  function finished() {
    pending -= 1;
    if (pending > 0) return;
    clearTimeout(timer);
    timer = null;
    const working = document.getElementById("working");
    if (working) working.hidden = true;
  }

  function showError(message) {
    const box = document.getElementById("errors");
    if (!box) { console.error(message); return; }
    const line = document.createElement("div");
    line.textContent = message;
    const close = document.createElement("button");
    close.textContent = "dismiss";
    close.onclick = () => line.remove();
    line.appendChild(close);
    box.appendChild(line);
  }

  // The answer of /api/<name>; a refusal rejects with the server's text (shown by `guarded`).
  async function ask(name, params) {
    const query = new URLSearchParams();
    for (const [key, value] of Object.entries(params || {})) {
      if (value !== undefined && value !== null && value !== "") query.set(key, value);
    }
    started();
    try {
      const response = await fetch(`/api/${name}?${query}`);
      const answer = await response.json().catch(() => ({ error: `${response.status} ${response.statusText}` }));
      if (!response.ok) throw new Error(answer.error || `${name}: ${response.status}`);
      return answer;
    } finally {
      finished();
    }
  }

  // Runs `work`, showing its failure in the page instead of leaving a view half drawn.
  async function guarded(what, work) {
    try {
      return await work();
    } catch (error) {
      showError(`${what}: ${error.message || error}`);
      return null;
    }
  }

  window.addEventListener("error", (event) => showError(`page error: ${event.message}`));
  window.addEventListener("unhandledrejection", (event) => showError(`page error: ${event.reason}`));

  // Asked at once, while the plotting library is still loading.
  const overview = ask("overview", {});
  return { ask, guarded, showError, overview };
})();
