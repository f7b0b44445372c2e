// The line board's page. Everything the database says is put in as text
// (textContent), never as markup: a station may be named anything.
'use strict';
(function () {
  const root = document.documentElement;
  const store = window.localStorage;
  let texts = null;
  let lang = store.getItem('zentrel-board-lang') || root.dataset.lang || 'zh_CN';
  const tiles = new Map();      // station → its latest JSON
  const tileNodes = new Map();  // station → its element
  let summary = null;
  let dbTrouble = '';
  let linkLost = false;
  let current = null;           // the station whose page is open
  let detail = null;
  let detailTimer = 0;
  let sortBy = { key: 't', up: false };
  let plots = [];
  window.zentrelLatencies = []; // commit → on screen, ms (the benchmark reads them)

  function t(key, ...args) {
    let s = (texts && texts[lang] && texts[lang][key]) || key;
    args.forEach((a, i) => { s = s.replace('%' + (i + 1), a); });
    return s;
  }
  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }
  const num = (x, d) => (x === null || x === undefined ? '—' : Number(x).toFixed(d));
  const pct = (x) => (x === null || x === undefined ? '—' : (x * 100).toFixed(1) + ' %');
  function clock(ms) {
    if (!ms) return '—';
    const d = new Date(ms);
    return d.toLocaleTimeString(lang === 'en' ? 'en-GB' : 'zh-CN', { hour12: false });
  }
  function span(ms) {
    const s = Math.round(ms / 1000);
    if (s < 120) return s + ' s';
    if (s < 7200) return Math.round(s / 60) + ' min';
    return (s / 3600).toFixed(1) + ' h';
  }
  // Each station's acknowledged signals (the newest's time), in a Map: a
  // station named __proto__ or toString is a key like any other. Stored as
  // pairs; an older page's object is read too.
  function acks() {
    let stored = [];
    try { stored = JSON.parse(store.getItem('zentrel-board-acks') || '[]'); } catch (e) { stored = []; }
    const pairs = Array.isArray(stored) ? stored : Object.entries(stored || {});
    return new Map(pairs.filter((p) => Array.isArray(p) && typeof p[0] === 'string' && typeof p[1] === 'number'));
  }

  // ---- the line ------------------------------------------------------------
  function figure(label, value, cls, field) {
    const f = el('div', 'figure' + (cls ? ' ' + cls : ''));
    f.appendChild(el('span', 'label', label));
    const v = el('span', 'value', value);
    if (field) v.dataset.field = field;
    f.appendChild(v);
    return f;
  }
  function renderSummary() {
    const box = document.getElementById('summary');
    box.replaceChildren();
    if (!summary) return;
    box.append(figure(t('measuring'), summary.measuring, 'measuring', 'measuring'),
      figure(t('idle'), summary.idle, 'idle', 'idle'),
      figure(t('away'), summary.away, 'away', 'away'),
      figure(t('cells_today'), summary.cells, '', 'cells'),
      figure(t('yield_today'), pct(summary.yield), '', 'yield'),
      figure(t('ng_hour'), summary.ng_hour, summary.ng_hour > 0 ? 'bad' : '', 'ng_hour'));
  }
  function renderStatus() {
    const s = document.getElementById('status');
    s.textContent = linkLost ? t('connection_lost') : (dbTrouble ? t('db_trouble', dbTrouble) : '');
  }
  function ruleWords(rules) {
    return rules.split(/\s+/).filter(Boolean).map((r) => {
      const m = /^([RV])(\d)$/.exec(r);
      return m ? t(m[1] === 'R' ? 'rule_r' : 'rule_v', t('rule' + m[2])) : r;
    }).join(lang === 'en' ? '; ' : '；'); // the programs' punctuation: full-width in Chinese only
  }
  function renderTile(tile) {
    let node = tileNodes.get(tile.station);
    if (!node) {
      node = el('article', 'tile');
      node.dataset.station = tile.station;
      node.addEventListener('click', (e) => {
        if (e.target.closest('button')) return;
        location.hash = '#station=' + encodeURIComponent(tile.station);
      });
      tileNodes.set(tile.station, node);
    }
    node.className = 'tile ' + tile.state;
    node.dataset.state = tile.state;
    const head = el('div', 'head');
    head.append(el('span', 'name', tile.station), el('span', 'state', t(tile.state)));
    const parts = [head];
    if (tile.behind_ms) parts.push(el('div', 'behind', t('behind', span(tile.behind_ms))));
    parts.push(el('div', 'lot', t('lot') + ' ' + (tile.lot || '—') + ' · ' + t('set') + ' ' + (tile.set || '—')));
    const figs = el('div', 'figures');
    figs.append(figure(t('cells_today'), tile.cells, '', 'cells'),
      figure(t('yield_today'), pct(tile.yield), '', 'yield'),
      figure(t('per_minute'), tile.per_minute, '', 'per_minute'));
    parts.push(figs);
    const last = el('div', 'line');
    last.append(t('last_reading') + ' ');
    if (tile.last && tile.last.t) {
      const b = el('b', '', num(tile.last.r, 3) + ' mΩ · ' + num(tile.last.v, 4) + ' V');
      b.dataset.field = 'last';
      last.append(b, ' ' + clock(tile.last.t));
    } else {
      last.append(el('b', '', t('no_reading')));
    }
    parts.push(last);
    const ng = el('div', 'line ng');
    ng.append(t('last_ng') + ' ');
    if (tile.last_ng) {
      const b = el('b', '', [tile.last_ng.cell, num(tile.last_ng.r, 3) + ' mΩ', num(tile.last_ng.v, 4) + ' V'].filter(Boolean).join(' · '));
      b.dataset.field = 'last_ng';
      ng.append(b, ' ' + clock(tile.last_ng.t));
    } else {
      ng.append(el('span', '', t('none')));
    }
    parts.push(ng);
    const acked = acks().get(tile.station) || 0;
    const open = (tile.signals || []).filter((s) => s.t > acked);
    if (open.length) {
      const sig = el('div', 'signals');
      sig.append(el('div', '', t('signals') + ' (' + open.length + ')'));
      open.slice(0, 3).forEach((s) => {
        const line = el('div', 'rule', clock(s.t) + ' ' + (s.cell || '') + ' ' + ruleWords(s.rules));
        sig.append(line);
      });
      const ack = el('button', '', t('acknowledge'));
      ack.type = 'button';
      ack.addEventListener('click', () => {
        const a = acks();
        a.set(tile.station, open[0].t);
        store.setItem('zentrel-board-acks', JSON.stringify([...a]));
        renderTile(tiles.get(tile.station));
      });
      sig.append(ack);
      parts.push(sig);
    }
    node.replaceChildren(...parts);
    return node;
  }
  function renderBoard() {
    const box = document.getElementById('board');
    const names = [...tiles.keys()].sort();
    if (!names.length) {
      box.replaceChildren(el('div', 'empty', t('no_stations')));
      return;
    }
    box.replaceChildren(...names.map((n) => renderTile(tiles.get(n))));
  }
  function take(event) {
    if (event.full) {
      tiles.clear();
      tileNodes.clear();
    }
    (event.tiles || []).forEach((tile) => tiles.set(tile.station, tile));
    if (event.summary) summary = event.summary;
    dbTrouble = event.db && event.db !== 'ok' ? event.db : '';
    if (event.full || (event.tiles || []).some((x) => !tileNodes.has(x.station))) {
      renderBoard();
    } else {
      (event.tiles || []).forEach((tile) => renderTile(tile));
    }
    renderSummary();
    renderStatus();
    if (event.commit_ms && !event.full) {
      const l = window.zentrelLatencies;
      l.push(Date.now() - event.commit_ms);
      if (l.length > 20000) l.splice(0, l.length - 20000);
    }
    if (current && (event.tiles || []).some((x) => x.station === current)) {
      clearTimeout(detailTimer);
      detailTimer = setTimeout(loadStation, 500);
    }
  }
  function listen() {
    const source = new EventSource('/api/events');
    source.onmessage = (m) => {
      linkLost = false;
      take(JSON.parse(m.data));
      document.body.dataset.live = 'yes';
    };
    source.onerror = () => {
      linkLost = true;
      document.body.dataset.live = 'no';
      renderStatus();
    };
  }

  // ---- a station's page ------------------------------------------------------
  const axis = { stroke: '#8b98a8', grid: { stroke: '#2b3645', width: 1 }, ticks: { stroke: '#2b3645' } };
  const two = (n) => String(n).padStart(2, '0');
  const timeAxis = Object.assign({}, axis, {
    values: (u, splits) => splits.map((s) => {
      const d = new Date(s * 1000);
      const hm = two(d.getHours()) + ':' + two(d.getMinutes());
      return splits.length > 1 && splits[1] - splits[0] < 60 ? hm + ':' + two(d.getSeconds()) : hm;
    }),
  });
  const heads = { t: 'time', r: 'R (mΩ)', v: 'V (V)' };
  function chartBox(title) {
    const box = el('div', 'chart');
    box.append(el('h3', '', title));
    return box;
  }
  function size(box) { return { width: Math.max(300, box.clientWidth - 16), height: 240 }; }
  function plot(box, opts, data) {
    const p = new uPlot(Object.assign(size(box), opts), data, box);
    plots.push(p);
    return p;
  }
  function hourChart(box, hour) {
    plot(box, {
      scales: { x: { time: true } },
      series: [{ label: t('time'), value: (u, s) => (s === null ? '—' : clock(s * 1000)) },
        { label: 'R (mΩ)', stroke: '#58a6ff', scale: 'r', width: 1 }, { label: 'V (V)', stroke: '#f0883e', scale: 'v', width: 1 }],
      axes: [timeAxis, Object.assign({ scale: 'r' }, axis), Object.assign({ scale: 'v', side: 1, grid: { show: false } }, axis)],
    }, [hour.t, hour.r, hour.v]);
  }
  function histogram(box, values) {
    const v = values.filter((x) => x !== null);
    if (v.length < 2) { box.append(el('div', 'note', t('no_records'))); return; }
    const lo = Math.min(...v), hi = Math.max(...v);
    const bins = Math.max(5, Math.min(40, Math.ceil(Math.sqrt(v.length))));
    const w = (hi - lo) / bins || 1;
    const x = [], y = new Array(bins).fill(0);
    for (let i = 0; i < bins; i++) x.push(lo + (i + 0.5) * w);
    v.forEach((r) => { y[Math.min(bins - 1, Math.floor((r - lo) / w))]++; });
    plot(box, {
      scales: { x: { time: false } },
      series: [{ label: 'R (mΩ)' }, { label: t('count'), stroke: '#58a6ff', fill: 'rgba(88,166,255,0.35)', paths: uPlot.paths.bars({ size: [0.9, 60] }) }],
      axes: [axis, axis],
    }, [x, y]);
  }
  function controlChart(box, values, rules, letter, limits, unit) {
    if (!limits || limits.centre === undefined) {
      box.append(el('div', 'note', t('baseline', detail.control.needed)));
    }
    const n = values.length;
    const x = values.map((_, i) => i + 1);
    const line = (k) => values.map(() => (limits && limits[k] !== undefined ? limits[k] : null));
    const flagged = values.map((val, i) => (rules[i].split(/\s+/).some((r) => r[0] === letter) ? val : null));
    if (n < 1) return;
    plot(box, {
      scales: { x: { time: false } },
      series: [{ label: '#' },
        { label: letter + ' (' + unit + ')', stroke: '#58a6ff', width: 1, points: { show: n < 300, size: 4 } },
        { label: t('centre'), stroke: '#8b98a8', width: 1, points: { show: false } },
        { label: t('ucl'), stroke: '#f85149', width: 1, dash: [6, 4], points: { show: false } },
        { label: t('lcl'), stroke: '#f85149', width: 1, dash: [6, 4], points: { show: false } },
        { label: t('signal'), stroke: '#db61a2', paths: () => null, points: { show: true, size: 9, fill: '#db61a2' } }],
      axes: [axis, axis],
    }, [x, values, line('centre'), line('ucl'), line('lcl'), flagged]);
  }
  function recordsTable(box) {
    const cols = detail.columns;
    const show = ['t', 'record', 'cell', 'verdict', 'grade', 'r', 'v', 'rules'].concat(detail.stages ? ['stage', 'k', 'reason'] : []);
    const idx = (k) => cols.indexOf(k);
    const rows = detail.records.slice();
    const i = idx(sortBy.key);
    rows.sort((a, b) => {
      const x = a[i], y = b[i];
      const c = (x === null) - (y === null) || (x < y ? -1 : x > y ? 1 : 0);
      return sortBy.up ? c : -c;
    });
    const table = el('table');
    const head = el('tr');
    show.forEach((k) => {
      const label = heads[k] || k;
      const th = el('th', sortBy.key === k ? 'sorted' + (sortBy.up ? ' up' : '') : '', label.includes('(') ? label : t(label));
      th.dataset.key = k;
      th.addEventListener('click', () => {
        sortBy = { key: k, up: sortBy.key === k ? !sortBy.up : true };
        renderStationTable();
      });
      head.append(th);
    });
    const thead = el('thead');
    thead.append(head);
    const body = el('tbody');
    rows.slice(0, 1000).forEach((row) => {
      const tr = el('tr');
      show.forEach((k) => {
        const v = row[idx(k)];
        let text = v;
        if (k === 't') text = new Date(v).toLocaleString(lang === 'en' ? 'en-GB' : 'zh-CN', { hour12: false });
        else if (k === 'r') text = num(v, 3);
        else if (k === 'v') text = num(v, 4);
        else if (k === 'k') text = v === null ? '' : num(v, 2);
        else if (k === 'rules') text = v ? ruleWords(v) : '';
        tr.append(el('td', k === 'verdict' ? v : k === 'rules' ? 'rules' : '', text));
      });
      body.append(tr);
    });
    table.append(thead, body);
    box.replaceChildren(el('h3', '', t('records') + ' (' + detail.records.length + ')'), table);
  }
  function renderStationTable() {
    const box = document.querySelector('#station .records');
    if (box && detail) recordsTable(box);
  }
  function renderStation() {
    const page = document.getElementById('station');
    plots.forEach((p) => p.destroy());
    plots = [];
    const top = el('div', 'top');
    const back = el('button', '', t('back'));
    back.type = 'button';
    back.addEventListener('click', () => { location.hash = ''; });
    top.append(back, el('h2', '', detail.station),
      el('span', 'meta', t('lot') + ' ' + (detail.lot || '—') + ' · ' + t('set') + ' ' + (detail.set || '—')));
    const charts = el('div', 'charts');
    const hourBox = chartBox(t('last_hour')), histBox = chartBox(t('histogram'));
    const rBox = chartBox(t('control_r')), vBox = chartBox(t('control_v'));
    charts.append(hourBox, histBox, rBox, vBox);
    const kBox = detail.stages ? chartBox(t('k_chart')) : null;
    if (kBox) charts.append(kBox);
    const records = el('div', 'records');
    page.replaceChildren(top, charts, records);
    const c = detail.columns, rec = detail.records;
    const col = (k) => rec.map((row) => row[c.indexOf(k)]);
    hourChart(hourBox, detail.hour);
    histogram(histBox, col('r'));
    controlChart(rBox, col('r'), col('rules').map((x) => x || ''), 'R', detail.control.r, 'mΩ');
    controlChart(vBox, col('v'), col('rules').map((x) => x || ''), 'V', detail.control.v, 'V');
    if (kBox) {
      const k = col('k');
      plot(kBox, { scales: { x: { time: false } }, series: [{ label: '#' }, { label: 'K', stroke: '#3fb950', points: { show: true, size: 5 }, paths: () => null }], axes: [axis, axis] },
        [k.map((_, i) => i + 1), k]);
    }
    recordsTable(records);
  }
  function loadStation() {
    if (!current) return;
    const name = current;
    fetch('/api/station?name=' + encodeURIComponent(name), { credentials: 'same-origin' })
      .then((r) => (r.ok ? r.json() : r.text().then((m) => { throw new Error(m); })))
      .then((d) => { if (current === name) { detail = d; renderStation(); } })
      .catch((e) => { dbTrouble = String(e.message || e); renderStatus(); });
  }
  function route() {
    const m = /^#station=(.*)$/.exec(location.hash);
    current = m ? decodeURIComponent(m[1]) : null;
    document.getElementById('board').hidden = !!current;
    document.getElementById('station').hidden = !current;
    if (current) loadStation();
    else { plots.forEach((p) => p.destroy()); plots = []; detail = null; }
  }

  // ---- the language ----------------------------------------------------------
  function applyLanguage() {
    root.lang = lang === 'en' ? 'en' : 'zh-CN';
    document.title = 'Zentrel · ' + t('title');
    document.getElementById('title').textContent = t('title');
    const other = lang === 'en' ? 'zh_CN' : 'en';
    document.getElementById('lang').textContent = t('switch'); // the other language, named in this one
    renderSummary();
    renderBoard();
    renderStatus();
    if (current && detail) renderStation();
  }
  document.getElementById('lang').addEventListener('click', () => {
    lang = lang === 'en' ? 'zh_CN' : 'en';
    store.setItem('zentrel-board-lang', lang);
    applyLanguage();
  });
  const params = new URLSearchParams(location.search);
  if (params.get('lang') === 'en' || params.get('lang') === 'zh_CN') lang = params.get('lang');
  let resizeTimer = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => { if (current && detail) renderStation(); }, 200);
  });
  window.addEventListener('hashchange', route);
  fetch('/api/texts', { credentials: 'same-origin' }).then((r) => r.json()).then((x) => {
    texts = x;
    applyLanguage();
    route();
    listen();
  });
})();
