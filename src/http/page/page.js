"use strict";
// Long polling with the token in a header: it never goes into an address or a cookie. The
// token comes from the address's fragment, which the browser does not send; it is kept for the
// tab (a reload still works) and taken out of the address bar and the history at once.
(function () {
  const given = new URLSearchParams(location.hash.slice(1)).get("token");
  if (given) {
    try {
      sessionStorage.setItem("qdsToken", given);
    } catch (e) {
      // Storage refused (a private window's rules): the token stays for this load only.
    }
    history.replaceState(null, "", location.pathname + location.search);
  }
  let kept = null;
  try {
    kept = sessionStorage.getItem("qdsToken");
  } catch (e) {
    kept = null;
  }
  const token = given || kept;
  const texts = document.body.dataset;
  const byId = (id) => document.getElementById(id);
  let seq = 0;

  function timeOf(iso) {
    const t = new Date(iso);
    return isNaN(t) ? iso : t.toLocaleString(document.documentElement.lang);
  }

  function cell(row, text, className) {
    const td = document.createElement("td");
    td.textContent = text === undefined || text === null ? "" : String(text);
    if (className) td.className = className;
    row.appendChild(td);
  }

  function render(news) {
    const status = news.status;
    const state = byId("state");
    state.textContent = news.stateText || status.register;
    state.dataset.register = status.register;
    byId("error").textContent = [status.error, status.mqtt && status.mqtt.error]
      .filter(Boolean).join(" \u2014 ");
    byId("receipt").textContent = status.lastReceipt
      ? status.lastReceipt.number + " (" + timeOf(status.lastReceipt.time) + ")"
      : texts.none;
    byId("waiting").textContent = String(status.waiting);
    const body = document.createElement("tbody");
    body.id = "verdicts";
    for (const v of news.verdicts) {
      const row = document.createElement("tr");
      row.className = v.outcome;
      cell(row, timeOf(v.time));
      cell(row, v.file);
      cell(row, v.outcome === "sent" ? texts.sent : texts.failed, "outcome");
      cell(row, v.error);
      cell(row, v.outcome === "sent" ? "" : v.row);
      body.appendChild(row);
    }
    byId("verdicts").replaceWith(body);
  }

  async function poll() {
    if (!token) {
      byId("problem").textContent = texts.notoken;
      return;
    }
    for (;;) {
      try {
        const answer = await fetch("/v1/events?after=" + seq, {
          headers: { Authorization: "Bearer " + token },
          cache: "no-store",
        });
        if (answer.status === 401) {
          byId("problem").textContent = texts.badtoken;
          return;
        }
        if (!answer.ok) throw new Error("HTTP " + answer.status);
        const news = await answer.json();
        seq = news.seq;
        byId("problem").textContent = "";
        render(news);
      } catch (e) {
        byId("problem").textContent = texts.lost;
        await new Promise((resolve) => setTimeout(resolve, 1000));
      }
    }
  }

  poll();
})();
