'use strict';
// The instrument's page: live values pushed over a WebSocket as each poll
// lands (or /api/live once a second where WebSockets are blocked), the last
// hour's trend from the 1-second ring and the newest journal events.
(function () {
  const base = location.pathname.endsWith('/') ? location.pathname : location.pathname + '/';
  const hourMs = 3600 * 1000;
  const valueNames = ['ch1', 'ch2', 'ch3', 'ch4', 'da'];
  const curveNames = ['CH1', 'CH2', 'CH3', 'CH4', 'DA'];
  const goodQuality = 192;
  let look = { curves: ['#ff0000', '#808000', '#004000', '#ff00ff', '#ff0000'],
               background: '#c0ffff', grid: '#ff80ff', band: 'rgba(128,128,128,0.24)' };
  let points = []; // {t: ms, v: [5 values or null], q: quality or null}, oldest first
  let newestEvent = null;
  let socket = null;
  let pollTimer = null;
  let drawPending = false;

  function byId(id) { return document.getElementById(id); }

  function setPill(element, text, colour) {
    element.textContent = text;
    element.style.background = colour || '#969696';
  }

  function renderBoxes(container, boxes) {
    if (container.children.length !== boxes.length) {
      container.textContent = '';
      boxes.forEach(function (box, i) {
        const div = document.createElement('div');
        div.className = 'box';
        div.dataset.index = String(i);
        const label = document.createElement('span');
        label.className = 'label';
        const text = document.createElement('span');
        text.className = 'text';
        div.appendChild(label);
        div.appendChild(text);
        container.appendChild(div);
      });
    }
    boxes.forEach(function (box, i) {
      const div = container.children[i];
      div.children[0].textContent = box.name;
      div.children[1].textContent = box.text;
      div.style.background = box.colour;
    });
  }

  let updates = 0;

  function render(live) {
    // How many snapshots this page has shown, and the link state of the first:
    // what a test or a benchmark reads back from the page.
    document.body.dataset.updates = String(++updates);
    document.body.dataset.sequence = String(live.sequence);
    if (updates === 1)
      document.body.dataset.firstLink = live.link.text;
    byId('address').textContent = '地址 ' + live.address;
    valueNames.forEach(function (name) { byId(name).textContent = String(live[name]); });
    byId('quality').textContent = live.quality === null ? '—' : live.quality + ' ' + live.qualityText;
    renderBoxes(byId('inputs'), live.inputBoxes);
    renderBoxes(byId('relays'), live.relayBoxes);
    setPill(byId('link'), live.link.text, live.link.colour);
    byId('linkDetail').textContent = live.link.detail;
    setPill(byId('recording'), live.recording.text, live.recording.colour);
    const alarms = byId('alarms');
    alarms.hidden = live.unacknowledged === null || live.unacknowledged === undefined;
    if (!alarms.hidden)
      setPill(alarms, '未确认报警 ' + live.unacknowledged, live.unacknowledged > 0 ? '#d20000' : '#00a000');
    byId('time').textContent = live.time.replace('T', ' ');
    addPoint(Date.parse(live.time), valueNames.map(function (n) { return live[n]; }), live.quality);
  }

  function addPoint(t, values, quality) {
    if (isNaN(t))
      return;
    if (points.length && t <= points[points.length - 1].t)
      return;
    points.push({ t: t, v: values, q: quality });
    const oldest = t - hourMs;
    let drop = 0;
    while (drop < points.length && points[drop].t < oldest)
      ++drop;
    if (drop)
      points.splice(0, drop);
    scheduleDraw();
  }

  function scheduleDraw() {
    if (drawPending)
      return;
    drawPending = true;
    setTimeout(function () { drawPending = false; draw(); }, 250);
  }

  function draw() {
    const canvas = byId('trend');
    // Drawn at the size it is shown, in device pixels: sharp and unstretched on a phone.
    const ratio = window.devicePixelRatio || 1;
    const shownWidth = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const shownHeight = Math.max(1, Math.round(canvas.clientHeight * ratio));
    if (canvas.width !== shownWidth || canvas.height !== shownHeight) {
      canvas.width = shownWidth;
      canvas.height = shownHeight;
    }
    const context = canvas.getContext('2d');
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    const w = canvas.clientWidth, h = canvas.clientHeight;
    context.fillStyle = look.background;
    context.fillRect(0, 0, w, h);
    const end = points.length ? points[points.length - 1].t : Date.now();
    const start = end - hourMs;
    let low = Infinity, high = -Infinity;
    points.forEach(function (p) {
      p.v.forEach(function (v) { if (v !== null) { low = Math.min(low, v); high = Math.max(high, v); } });
    });
    if (!isFinite(low)) { low = 0; high = 1; }
    if (high - low < 1) { high += 0.5; low -= 0.5; }
    const margin = (high - low) * 0.05;
    low -= margin; high += margin;
    const x = function (t) { return (t - start) / hourMs * w; };
    const y = function (v) { return h - (v - low) / (high - low) * h; };
    // The not-live spans: rows that hold no reading, and gaps in the recording.
    context.fillStyle = look.band;
    for (let i = 0; i < points.length; ++i) {
      const next = i + 1 < points.length ? points[i + 1].t : points[i].t + 1000;
      if (points[i].q !== goodQuality || next - points[i].t > 5 * 60 * 1000)
        context.fillRect(x(points[i].t), 0, Math.max(1, x(next) - x(points[i].t)), h);
    }
    context.strokeStyle = look.grid;
    context.setLineDash([2, 4]);
    context.fillStyle = '#000';
    context.font = '12px sans-serif';
    for (let k = 0; k <= 6; ++k) {
      const gy = h * k / 6;
      context.beginPath(); context.moveTo(0, gy); context.lineTo(w, gy); context.stroke();
      context.fillText((high - (high - low) * k / 6).toFixed(1), 4, Math.min(h - 4, gy + 14));
    }
    for (let k = 1; k < 6; ++k) {
      const gx = w * k / 6;
      context.beginPath(); context.moveTo(gx, 0); context.lineTo(gx, h); context.stroke();
      const when = new Date(start + hourMs * k / 6);
      context.fillText(when.toTimeString().slice(0, 5), gx + 3, h - 4);
    }
    context.setLineDash([]);
    context.lineWidth = 1.5;
    for (let c = 0; c < valueNames.length; ++c) {
      context.strokeStyle = look.curves[c];
      context.beginPath();
      let drawing = false;
      let previous = null;
      points.forEach(function (p) {
        const v = p.v[c];
        const held = p.q === null || p.q === goodQuality || p.q === 68;
        if (v === null || !held || (previous !== null && p.t - previous > 5 * 60 * 1000)) {
          drawing = false;
        } else if (drawing) {
          context.lineTo(x(p.t), y(v));
        } else {
          context.moveTo(x(p.t), y(v));
          drawing = true;
        }
        previous = p.t;
      });
      context.stroke();
    }
    const legend = byId('legend');
    if (!legend.children.length) {
      curveNames.forEach(function (name, c) {
        const span = document.createElement('span');
        span.textContent = name;
        span.style.color = look.curves[c];
        legend.appendChild(span);
      });
    }
  }

  function get(path) {
    return fetch(base + path, { credentials: 'same-origin', cache: 'no-store' }).then(function (r) {
      if (!r.ok)
        throw new Error(path + ': ' + r.status);
      return r.json();
    });
  }

  function loadHistory() {
    const now = Date.now();
    const from = new Date(now - hourMs).toISOString();
    const to = new Date(now + 60 * 1000).toISOString();
    return get('api/history?ring=1s&from=' + encodeURIComponent(from) + '&to=' + encodeURIComponent(to))
      .then(function (history) {
        look = history.look;
        const loaded = history.rows.map(function (row) {
          return { t: Date.parse(row[0]), v: row.slice(1, 6), q: row[row.length - 1] };
        });
        const after = loaded.length ? loaded[loaded.length - 1].t : -Infinity;
        points = loaded.concat(points.filter(function (p) { return p.t > after; }));
        byId('legend').textContent = '';
        draw();
      }).catch(function () { draw(); });
  }

  function loadEvents() {
    const query = newestEvent === null ? 'api/events' : 'api/events?since=' + newestEvent;
    return get(query).then(function (answer) {
      newestEvent = answer.newest;
      const body = byId('events').tBodies[0];
      answer.events.forEach(function (e) {
        const row = body.insertRow(0);
        [e.time.replace('T', ' '), e.kindText, e.source, e.detail].forEach(function (text) {
          row.insertCell(-1).textContent = text;
        });
      });
      while (body.rows.length > 50)
        body.deleteRow(body.rows.length - 1);
    }).catch(function () {});
  }

  function pollLive() {
    get('api/live').then(render).catch(function () {});
  }

  function startPolling() {
    byId('transport').textContent = '每秒查询';
    if (pollTimer === null)
      pollTimer = setInterval(pollLive, 1000);
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    try {
      socket = new WebSocket(scheme + location.host + base + 'api/live');
    } catch (e) {
      startPolling();
      return;
    }
    socket.onopen = function () {
      byId('transport').textContent = '实时推送';
      if (pollTimer !== null) { clearInterval(pollTimer); pollTimer = null; }
    };
    socket.onmessage = function (message) { render(JSON.parse(message.data)); };
    socket.onclose = function () {
      socket = null;
      startPolling();
      setTimeout(connect, 10000);
    };
  }

  window.addEventListener('resize', scheduleDraw);
  loadHistory().then(function () { pollLive(); connect(); });
  loadEvents();
  setInterval(loadEvents, 2000);
})();
