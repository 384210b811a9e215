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
  const heldQuality = 68; // the instrument silent, its last values held
  const daCurve = 4; // DA, drawn on its own scale
  const tenMinutesMs = 600 * 1000;
  const gapMs = 5 * 60 * 1000; // rows further apart than this are a gap in the recording
  let look = { curves: ['#ff0000', '#808000', '#004000', '#ff00ff', '#ff0000'],
               background: '#c0ffff', grid: '#ff80ff', band: 'rgba(128,128,128,0.24)' };
  let points = []; // {t: ms, v: [5 values or null], q: quality or null}, oldest first
  let newestEvent = null;
  let socket = null;
  let pollTimer = null;
  let drawPending = false;

  function byId(id) { return document.getElementById(id); }

  // Colours set from here go through the element's style object, which the
  // page's Content-Security-Policy allows (a style attribute in markup it blocks).
  function setPill(element, text, colour) {
    element.textContent = text;
    element.style.backgroundColor = colour || '#969696';
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
      div.style.backgroundColor = box.colour;
      div.classList.toggle('stale', !!box.stale);
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
    // The channels in the instrument's own units, the raw integer where no scaling is known yet.
    valueNames.forEach(function (name, i) {
      const channel = live.channels && i < live.channels.length ? live.channels[i] : null;
      const unit = channel ? channel.unit : (name === 'da' ? live.daUnit : null);
      byId(name).textContent = (channel ? channel.text : String(live[name])) + (unit ? ' ' + unit : '');
      byId('tile-' + name).classList.toggle('stale', !!live.valuesStale);
    });
    byId('quality').textContent = live.quality === null ? '—' : live.quality + ' ' + live.qualityText;
    renderBoxes(byId('inputs'), live.inputBoxes);
    renderBoxes(byId('relays'), live.relayBoxes);
    const link = byId('link');
    link.textContent = live.link.text;
    link.className = 'pill state-' + (/^[a-z]+(-[a-z]+)*$/.test(live.link.state) ? live.link.state : 'unknown');
    byId('linkDetail').textContent = live.link.detail;
    setPill(byId('recording'), live.recording.text, live.recording.colour);
    const alarms = byId('alarms');
    alarms.hidden = live.unacknowledged === null || live.unacknowledged === undefined;
    if (!alarms.hidden)
      setPill(alarms, '未确认报警 ' + live.unacknowledged, live.unacknowledged > 0 ? '#d20000' : '#00a000');
    byId('time').textContent = live.time.replace('T', ' ');
    addPoint(Date.parse(live.time), valueNames.map(function (n, i) {
      return live.channels && i < live.channels.length ? live.channels[i].value : live[n];
    }), live.quality);
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

  // An axis's step: 1, 2 or 5 times a power of ten, the smallest that spans
  // `span` in at most `count` steps, so that every label is a round number.
  function niceStep(span, count) {
    const raw = span / Math.max(1, count);
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const multiples = [1, 2, 5, 10];
    for (let i = 0; i < multiples.length; ++i) {
      if (multiples[i] * power >= raw * (1 - 1e-9))
        return multiples[i] * power;
    }
    return 10 * power;
  }

  // A value scale over low..high (0..1 when nothing is drawn; at least one
  // unit wide): widened to whole steps, with its ticks and their labels.
  function scaleOf(low, high, count) {
    if (!isFinite(low) || !isFinite(high)) { low = 0; high = 1; }
    if (high - low < 1) { high += 0.5; low -= 0.5; }
    const step = niceStep(high - low, count);
    const first = Math.floor(low / step + 1e-9), last = Math.ceil(high / step - 1e-9);
    const decimals = Math.max(0, -Math.floor(Math.log10(step) + 1e-9));
    const ticks = [];
    for (let k = first; k <= last; ++k)
      ticks.push({ value: k * step, label: (k * step).toFixed(decimals).replace(/^-(0\.?0*)$/, '$1') });
    return { low: first * step, high: last * step, step: step, ticks: ticks };
  }

  function pad(n) { return (n < 10 ? '0' : '') + n; }

  // The time axis of start..end (ms): a tick every ten minutes of the local
  // clock, "HH:mm"; when the range crosses midnight the first tick and the first
  // of each new day carry their date, "yyyy/MM/dd".
  function timeTicks(start, end) {
    const crosses = new Date(start).toDateString() !== new Date(end).toDateString();
    const tick = new Date(start);
    tick.setSeconds(0, 0);
    tick.setMinutes(Math.floor(tick.getMinutes() / 10) * 10);
    const ticks = [];
    let day = '';
    for (let t = tick.getTime(); t <= end; t += tenMinutesMs) {
      if (t < start)
        continue;
      const when = new Date(t);
      const date = when.getFullYear() + '/' + pad(when.getMonth() + 1) + '/' + pad(when.getDate());
      ticks.push({ t: t, label: pad(when.getHours()) + ':' + pad(when.getMinutes()),
                   date: crosses && date !== day ? date : '' });
      day = date;
    }
    return ticks;
  }
  // What a test (or anyone at the browser's console) reads the axes' rules through.
  window.zelmarAxes = { niceStep: niceStep, scaleOf: scaleOf, timeTicks: timeTicks };

  // Whether a row's values are drawn: a reading, or the last one held.
  function drawn(p) { return p.q === null || p.q === goodQuality || p.q === heldQuality; }

  // The lowest and highest value that `curves` draw.
  function rangeOf(curves) {
    let low = Infinity, high = -Infinity;
    points.forEach(function (p) {
      if (!drawn(p))
        return;
      curves.forEach(function (c) {
        const v = p.v[c];
        if (v !== null) { low = Math.min(low, v); high = Math.max(high, v); }
      });
    });
    return [low, high];
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
    // The channels share the left scale; DA, a retransmitted 0..100 % or mA
    // value of another size, has its own on the right.
    const tickCount = h < 300 ? 4 : 6;
    const channelRange = rangeOf([0, 1, 2, 3]);
    const daRange = rangeOf([daCurve]);
    const scales = [scaleOf(channelRange[0], channelRange[1], tickCount),
                    scaleOf(daRange[0], daRange[1], tickCount)];
    // The channels' labels have a margin on the left, DA's (in its colour: the
    // legend says "右轴") one on the right, both clear of the curves.
    context.font = '12px sans-serif';
    const labelWidth = function (scale) {
      return 8 + Math.max.apply(null, scale.ticks.map(function (t) {
        return context.measureText(t.label).width;
      }));
    };
    const plotL = Math.min(w / 2, labelWidth(scales[0]));
    const plotW = Math.max(plotL + 1, w - labelWidth(scales[1]));
    const x = function (t) { return plotL + (t - start) / hourMs * (plotW - plotL); };
    const y = function (scale, v) { return h - (v - scale.low) / (scale.high - scale.low) * h; };
    // The not-live spans: rows that hold no reading, and gaps in the recording.
    context.fillStyle = look.band;
    for (let i = 0; i < points.length; ++i) {
      const next = i + 1 < points.length ? points[i + 1].t : points[i].t + 1000;
      if (points[i].q !== goodQuality || next - points[i].t > gapMs)
        context.fillRect(x(points[i].t), 0, Math.max(1, x(next) - x(points[i].t)), h);
    }
    context.strokeStyle = look.grid;
    context.setLineDash([2, 4]);
    const clampY = function (gy) { return Math.max(12, Math.min(h - 4, gy + 4)); };
    scales[0].ticks.forEach(function (tick) {
      const gy = y(scales[0], tick.value);
      context.beginPath(); context.moveTo(plotL, gy); context.lineTo(plotW, gy); context.stroke();
    });
    context.fillStyle = '#fff';
    context.fillRect(0, 0, plotL, h);
    context.fillRect(plotW, 0, w - plotW, h);
    context.fillStyle = '#000';
    context.textAlign = 'right';
    scales[0].ticks.forEach(function (tick) {
      context.fillText(tick.label, plotL - 4, clampY(y(scales[0], tick.value)));
    });
    context.fillStyle = look.curves[daCurve];
    scales[1].ticks.forEach(function (tick) {
      context.fillText(tick.label, w - 4, clampY(y(scales[1], tick.value)));
    });
    context.fillStyle = '#000';
    context.textAlign = 'left';
    const times = timeTicks(start, end);
    times.forEach(function (tick) {
      const gx = x(tick.t);
      context.beginPath(); context.moveTo(gx, 0); context.lineTo(gx, h); context.stroke();
      // A label that would run into DA's margin is left to its line.
      if (gx + 3 + context.measureText(tick.date || tick.label).width > plotW)
        return;
      context.fillText(tick.label, gx + 3, h - 4);
      if (tick.date)
        context.fillText(tick.date, gx + 3, h - 18);
    });
    // The labels drawn, for a test to read back.
    canvas.dataset.channelLabels = scales[0].ticks.map(function (t) { return t.label; }).join(' ');
    canvas.dataset.daLabels = scales[1].ticks.map(function (t) { return t.label; }).join(' ');
    canvas.dataset.timeLabels = times.map(function (t) { return (t.date ? t.date + ' ' : '') + t.label; }).join(',');
    context.setLineDash([]);
    context.lineWidth = 1.5;
    for (let c = 0; c < valueNames.length; ++c) {
      const scale = scales[c === daCurve ? 1 : 0];
      context.strokeStyle = look.curves[c];
      // DA dashed, as in the history window, so that it reads apart from CH1.
      context.setLineDash(c === daCurve ? [6, 3] : []);
      context.beginPath();
      let drawing = false;
      let previous = null;
      points.forEach(function (p) {
        const v = p.v[c];
        if (v === null || !drawn(p) || (previous !== null && p.t - previous > gapMs)) {
          drawing = false;
        } else if (drawing) {
          context.lineTo(x(p.t), y(scale, v));
        } else {
          context.moveTo(x(p.t), y(scale, v));
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
        span.textContent = c === daCurve ? name + ' (右轴)' : name;
        span.style.color = look.curves[c];
        legend.appendChild(span);
      });
    }
    // The CSV of the range drawn, as a link the browser saves.
    byId('csv').href = base + 'api/history?ring=1s&format=csv&from=' +
      encodeURIComponent(new Date(start).toISOString()) + '&to=' + encodeURIComponent(new Date(end).toISOString());
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
        const loaded = history.rows.map(function (row, r) {
          // Each channel by the decimal point in force when the row was recorded.
          const decimals = history.decimals ? history.decimals[r] : null;
          const values = row.slice(1, 6).map(function (v, ch) {
            const dp = decimals && ch < decimals.length ? decimals[ch] : null;
            return v === null || dp === null ? v : v / Math.pow(10, dp);
          });
          return { t: Date.parse(row[0]), v: values, q: row[row.length - 1] };
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
