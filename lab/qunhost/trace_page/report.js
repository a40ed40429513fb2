// The plots of qunhost's trace report. Every plot shares one time window:
// dragging across any of them zooms all, and the commands at the top print
// the listing of (or make a finer report of) exactly that window.
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('trace-data').textContent);
  var N = data.buckets, W = data.width, O = data.origin;
  var full = { min: O, max: O + Math.max(N, 1) * W };
  var win = { min: full.min, max: full.max };
  var plots = [];
  var xs = [];
  for (var i = 0; i < N; ++i) xs.push(O + i * W);

  var COLOURS = ['#1f77b4', '#ff7f0e', '#2ca02c', '#9467bd', '#8c564b', '#7f7f7f',
                 '#17becf', '#bcbd22', '#e377c2', '#393b79', '#637939', '#843c39'];
  var NO_POINTS = { show: false };
  var FAILED = '#d62728', WRITE = '#ff7f0e', PAUSE = 'rgba(110,120,135,0.16)',
      DROP = '#d62728', DAMAGE = 'rgba(148,103,189,0.55)';

  // ---- time as text ------------------------------------------------------------------
  function pad(n, width) { var s = String(n); while (s.length < width) s = '0' + s; return s; }
  function decimalsFor(step) { return step >= 1 ? 0 : Math.min(6, Math.ceil(-Math.log10(step) - 1e-9)); }
  function clock(s, decimals) {
    var neg = s < 0; s = Math.abs(s);
    var h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60), sec = s - 3600 * h - 60 * m;
    var secText = sec.toFixed(decimals);
    if (decimals > 0 ? sec < 10 : sec < 9.5) secText = '0' + secText;
    return (neg ? '-' : '') + (h > 0 ? h + ':' + pad(m, 2) : m) + ':' + secText;
  }
  function timeText(s, step) {
    var decimals = decimalsFor(step || 0.001);
    return full.max - full.min < 120 ? s.toFixed(decimals) + ' s' : clock(s, decimals);
  }
  function wallText(s) {
    var d = new Date(data.wallStart / 1000 + s * 1000);
    if (isNaN(d.getTime())) return '';  // a clock no calendar holds
    return d.toISOString().replace('T', ' ').replace('Z', ' UTC');
  }
  function spanText(s) {
    if (s < 1) return (s * 1000).toPrecision(3) + ' ms';
    if (s < 120) return s.toPrecision(4) + ' s';
    if (s < 7200) return (s / 60).toFixed(1) + ' min';
    return (s / 3600).toFixed(2) + ' h';
  }
  function option(s) { return s.toFixed(3) + 's'; }

  // ---- the shared window -------------------------------------------------------------
  function setWindow(min, max) {
    var span = Math.max(max - min, W / 4, 0.001);
    if (span > full.max - full.min) span = full.max - full.min;
    min = Math.max(full.min, Math.min(min, full.max - span));
    win = { min: min, max: min + span };
    plots.forEach(function (u) {
      if (u.counts) u.setData(binned(u.counts), false);
      u.setScale('x', { min: win.min, max: win.max });
    });
    showWindow();
  }
  function zoom(factor) {
    var mid = (win.min + win.max) / 2, half = (win.max - win.min) * factor / 2;
    setWindow(mid - half, mid + half);
  }
  function pan(share) {
    var shift = (win.max - win.min) * share;
    setWindow(win.min + shift, win.max + shift);
  }

  function quote(path) { return /[\s"&|<>^]/.test(path) ? '"' + path.replace(/"/g, '') + '"' : path; }
  function commands(extra) {
    var lines = [];
    var files = data.files.filter(function (f) {
      return f.first >= 0 && f.first <= win.max && f.last >= win.min;
    });
    if (files.length === 0) files = data.files.slice(0, 1);
    // Each recording counts its times from its own start.
    var byOffset = {};
    files.forEach(function (f) { (byOffset[f.offset] = byOffset[f.offset] || []).push(f.path); });
    Object.keys(byOffset).forEach(function (offset) {
      var from = Math.max(0, Math.floor((win.min - offset) * 1000) / 1000);
      var to = Math.ceil((win.max - offset) * 1000) / 1000;
      lines.push('qunhost --trace ' + byOffset[offset].map(quote).join(' ') + ' ' + extra +
                 ' --from ' + option(from) + ' --to ' + option(to) + data.filter);
    });
    return lines.join('\n');
  }
  function setCommand(id, text) {
    var area = document.getElementById(id);
    area.value = text;
    area.rows = text.split('\n').length;
    area.style.height = (22 * area.rows + 2) + 'px';
  }
  function showWindow() {
    var whole = win.min <= full.min && win.max >= full.max;
    document.getElementById('window-text').textContent =
        (whole ? 'All of this report: ' : 'Window ') + timeText(win.min) + ' to ' +
        timeText(win.max) + ' (' + spanText(win.max - win.min) + ' of ' +
        spanText(full.max - full.min) + ')';
    setCommand('list-command', commands('--list'));
    setCommand('report-command', commands('--report window.html'));
    // The address names the window too, for a link to it.
    try {
      history.replaceState(null, '', whole ? location.pathname + location.search
                                           : '#window=' + win.min.toFixed(6) + ',' + win.max.toFixed(6));
    } catch (e) { /* some browsers refuse it for files */ }
  }

  // "#window=FROM,TO" opens the page on that window, "#sort=writes" sorts
  // the gates by a column of their list, "#gate-N" shows a gate's plot.
  function fromAddress(address) {
    address.slice(1).split('&').forEach(function (part) {
      var pair = part.split('=');
      if (pair[0] === 'window' && pair[1]) {
        var bounds = pair[1].split(',').map(parseFloat);
        if (bounds.length === 2 && isFinite(bounds[0]) && isFinite(bounds[1]) && bounds[1] > bounds[0])
          setWindow(bounds[0], bounds[1]);
      } else if (pair[0] === 'sort' && pair[1]) {
        Array.prototype.forEach.call(document.querySelectorAll('table.gates th'), function (th) {
          if (th.textContent === decodeURIComponent(pair[1])) th.click();
        });
      } else if (/^gate-[0-9]+$/.test(pair[0])) {
        var target = document.getElementById(pair[0]);
        if (target && target.make) { var make = target.make; target.make = null; make(); }
      }
    });
  }

  // ---- marks drawn over the plots -----------------------------------------------------
  function drawMarks(u, labelled) {
    var ctx = u.ctx, b = u.bbox;
    ctx.save();
    ctx.beginPath();
    ctx.rect(b.left, b.top, b.width, b.height);
    ctx.clip();
    function x(t) { return u.valToPos(t, 'x', true); }
    ctx.fillStyle = PAUSE;
    data.pauses.forEach(function (p) {
      var x0 = x(p[0]), x1 = x(p[0] + p[1]);
      if (x1 >= b.left && x0 <= b.left + b.width) ctx.fillRect(x0, b.top, Math.max(1, x1 - x0), b.height);
    });
    ctx.fillStyle = DAMAGE;
    data.damaged.forEach(function (d) { ctx.fillRect(x(d[0]) - 2, b.top, 5, b.height); });
    ctx.strokeStyle = DROP;
    ctx.lineWidth = 2 * devicePixelRatio;
    ctx.setLineDash([4 * devicePixelRatio, 3 * devicePixelRatio]);
    data.drops.forEach(function (d) {
      ctx.beginPath();
      ctx.moveTo(x(d[0]), b.top);
      ctx.lineTo(x(d[0]), b.top + b.height);
      ctx.stroke();
    });
    if (labelled) {
      ctx.setLineDash([]);
      ctx.font = (11 * devicePixelRatio) + 'px sans-serif';
      ctx.textAlign = 'left';
      ctx.textBaseline = 'top';
      // Beside the mark, on whichever side has room.
      var label = function (text, at, y, colour) {
        var room = b.left + b.width - at > ctx.measureText(text).width + 8;
        ctx.textAlign = room ? 'left' : 'right';
        ctx.fillStyle = colour;
        ctx.fillText(text, room ? at + 4 : at - 4, y);
      };
      data.drops.forEach(function (d) { label(d[1] + ' lost', x(d[0]), b.top + 2, DROP); });
      data.damaged.forEach(function (d) {
        label('damaged: ' + d[1] + ' bytes', x(d[0]), b.top + 16 * devicePixelRatio, '#6a3d9a');
      });
    }
    ctx.restore();
  }

  // ---- one plot ------------------------------------------------------------------------
  // Steps of a clock: seconds in 1, 2, 5, minutes and hours in their usual parts.
  var TIME_STEPS = [1e-6, 2e-6, 5e-6, 1e-5, 2e-5, 5e-5, 1e-4, 2e-4, 5e-4, 0.001, 0.002, 0.005,
                    0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900,
                    1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800];
  function timeAxis() {
    return {
      stroke: '#5d6778', grid: { stroke: '#eef1f5' }, ticks: { stroke: '#d8dde6' }, incrs: TIME_STEPS,
      values: function (u, splits, ax, space, step) {
        return splits.map(function (v) { return timeText(v, step); });
      },
    };
  }
  function makePlot(element, options, columns, labelled, x) {
    var width = Math.max(300, element.clientWidth || 600);
    var opts = {
      width: width,
      height: options.height || 150,
      title: options.title,
      padding: [8, 12, 0, 4],
      scales: { x: { time: false, range: function () { return [win.min, win.max]; } } },
      axes: [timeAxis(), Object.assign({ stroke: '#5d6778', grid: { stroke: '#eef1f5' },
                                         ticks: { stroke: '#d8dde6' }, size: 56 }, options.yAxis || {})],
      series: [{ label: 'time', value: function (u, v) { return v == null ? '' : timeText(v) + ' \u00b7 ' + wallText(v); } }]
          .concat(options.series),
      bands: options.bands,
      legend: { show: options.legend !== false },
      cursor: {
        sync: { key: 'trace', setSeries: false },
        drag: { x: true, y: false, setScale: false },
        points: { size: 6 },
      },
      hooks: {
        setSelect: [function (u) {
          if (u.select.width > 2) {
            setWindow(u.posToVal(u.select.left, 'x'), u.posToVal(u.select.left + u.select.width, 'x'));
          }
          u.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
        }],
        draw: [function (u) { drawMarks(u, labelled); if (options.draw) options.draw(u); }],
        ready: [function (u) {
          u.over.addEventListener('dblclick', function () { setWindow(full.min, full.max); });
        }],
      },
    };
    if (options.yScale) opts.scales.y = options.yScale;
    var u = new uPlot(opts, [x || xs].concat(columns), element);
    plots.push(u);
    return u;
  }

  // Counts are drawn in bins of whole buckets, about 300 across the window,
  // so that the rhythm of a plant shows rather than the single bursts of
  // each of its read cycles; zoomed in, the bins are the buckets themselves.
  function binned(counts) {
    var k = Math.max(1, Math.floor((win.max - win.min) / W / 300));
    var x = [], columns = counts.series.map(function () { return []; });
    for (var i = 0; i < N; i += k) {
      x.push(O + i * W);
      counts.series.forEach(function (series, s) {
        var sum = 0;
        for (var j = i; j < Math.min(i + k, N); ++j) sum += series[j];
        columns[s].push(counts.perSecond ? sum / (k * W) : sum);
      });
    }
    return [x].concat(columns);
  }
  function countsPlot(element, options, series, perSecond, labelled) {
    var counts = { series: series, perSecond: perSecond };
    var u = makePlot(element, options, binned(counts).slice(1), labelled, binned(counts)[0]);
    u.counts = counts;
    return u;
  }

  function stepped() { return uPlot.paths.stepped({ align: 1 }); }
  function rateValue(u, v) { return v == null ? '' : (v < 10 ? v.toFixed(2) : v.toFixed(0)) + ' /s'; }

  // ---- the plots ------------------------------------------------------------------------
  function callsPlot() {
    var series = [], columns = [];
    var failed = new Array(N).fill(0);
    data.kinds.forEach(function (kind, k) {
      kind.failed.forEach(function (c, i) { failed[i] += c; });
      if (kind.total === 0) return;
      series.push({ label: kind.name, stroke: COLOURS[k], width: 1.5, paths: stepped(), value: rateValue,
                    points: NO_POINTS });
      columns.push(kind.ok.map(function (c, i) { return c + kind.failed[i]; }));
    });
    series.push({ label: 'failed', stroke: FAILED, width: 2, fill: 'rgba(214,39,40,0.12)', paths: stepped(),
                  value: rateValue, points: NO_POINTS });
    columns.push(failed);
    // A cold start's clearing runs thousands of calls a second, a plant tens:
    // a scale that is linear near zero and logarithmic above shows both.
    countsPlot(document.getElementById('plot-calls'),
               { height: 240, series: series,
                 yScale: { distr: 4, asinh: 1, range: function (u, min, max) { return [0, Math.max(max, 1) * 1.5]; } },
                 yAxis: { label: 'calls per second', values: function (u, splits) {
                   return splits.map(function (v) { return v < 0 ? '' : v >= 1000 ? v / 1000 + 'k' : v; });
                 } } }, columns, true, true);
  }

  function statusesPlot() {
    var element = document.getElementById('plot-statuses');
    if (data.statuses.length === 0) {
      element.innerHTML = '<p class="none">Every selected call answered 0.</p>';
      return;
    }
    var bars = uPlot.paths.bars({ size: [1, 12], align: 1 });
    var series = data.statuses.map(function (s, k) {
      var colour = COLOURS[(k + 3) % COLOURS.length];
      return { label: String(s.status), stroke: colour, fill: colour, width: 1, paths: bars, points: NO_POINTS,
               value: function (u, v) { return v == null ? '' : v + ' calls'; } };
    });
    countsPlot(element, { height: 170, series: series,
                          yAxis: { label: 'calls in a bin', incrs: [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 1e4, 1e5, 1e6] } },
               data.statuses.map(function (s) { return s.counts; }), false, false);
  }

  // Plots of a grid are made when they come near the screen.
  var pending = [];
  var observer = 'IntersectionObserver' in window ? new IntersectionObserver(function (entries) {
    entries.forEach(function (entry) {
      if (!entry.isIntersecting || !entry.target.make) return;
      observer.unobserve(entry.target);
      var make = entry.target.make;
      entry.target.make = null;
      make();
    });
  }, { rootMargin: '400px 0px' }) : null;
  function lazily(cell, make) {
    cell.make = make;
    if (observer) observer.observe(cell); else pending.push(make);
  }
  function cell(grid, id, title, sub) {
    var element = document.createElement('div');
    element.className = 'cell';
    if (id) element.id = id;
    var heading = document.createElement('h3');
    heading.textContent = title;
    var small = document.createElement('span');
    small.className = 'sub';
    small.textContent = sub;
    heading.appendChild(small);
    element.appendChild(heading);
    var plot = document.createElement('div');
    element.appendChild(plot);
    grid.appendChild(element);
    return { cell: element, plot: plot };
  }

  function durationPlots() {
    var grid = document.getElementById('plot-durations');
    if (data.places.length === 0) {
      grid.outerHTML = '<p class="none">No call selected.</p>';
      return;
    }
    data.places.forEach(function (place) {
      var c = cell(grid, null, place.name, count(place.calls, 'call'));
      var micros = function (u, v) { return v == null ? '' : v.toPrecision(3) + ' \u00b5s'; };
      lazily(c.cell, function () {
        makePlot(c.plot, {
          height: 130,
          series: [{ label: 'median', stroke: COLOURS[0], width: 1, value: micros, points: dots(COLOURS[0]) },
                   { label: '99th percentile', stroke: COLOURS[1], width: 1, value: micros, points: dots(COLOURS[1]) }],
          yScale: { distr: 3 },
          yAxis: { label: '\u00b5s', values: function (u, s) { return s.map(function (v) { return v == null ? '' : +v.toPrecision(3); }); } },
        }, [place.p50, place.p99], false);
      });
    });
  }

  function dots(colour) { return { show: true, size: 3, fill: colour, stroke: colour }; }

  // A value holds from one read to the next (the last one read in a bucket
  // after it), unless the card was not asked for it for longer than the
  // pauses' threshold: then it is unknown.
  function held(gate) {
    var lo = gate.lo.slice(), hi = gate.hi ? gate.hi.slice() : null, end = gate.end || gate.lo;
    var last = -1;
    for (var i = 0; i < N; ++i) {
      if (gate.lo[i] != null) { last = i; continue; }
      if (last < 0 || (i - last) * W > data.gap) continue;
      lo[i] = end[last];
      if (hi) hi[i] = end[last];
    }
    return { lo: lo, hi: hi };
  }

  function gatePlot(gate, element) {
    var isBit = gate.bits;
    var value = function (u, v) { return v == null ? '' : String(v); };
    var values = held(gate);
    // Where zoomed in far enough, a dot marks each bucket a read fell in
    // (the steps between them are held values).
    var reads = { size: 4, filter: function (u, s, show) {
      if (!show) return null;
      var shown = [];
      var range = u.series[s].idxs;
      for (var i = range[0]; i <= range[1]; ++i) if (gate.lo[i] != null) shown.push(i);
      return shown;
    } };
    var series = [{ label: gate.hi ? 'lowest' : 'value', stroke: COLOURS[0], width: 1.5, points: reads,
                    value: value, paths: stepped() }];
    var columns = [values.lo];
    var bands;
    if (gate.hi) {
      series.push({ label: 'highest', stroke: COLOURS[0], width: 1, value: value, paths: stepped(), points: reads });
      columns.push(values.hi);
      bands = [{ series: [2, 1], fill: 'rgba(31,119,180,0.18)' }];
    }
    makePlot(element, {
      height: 130,
      series: series,
      bands: bands,
      yScale: { range: function (u, min, max) {
        gate.marks.forEach(function (m) { if (m[2] === 0) { min = Math.min(min, m[1]); max = Math.max(max, m[1]); } });
        if (min == null || !isFinite(min)) { min = 0; max = 1; }
        if (isBit) return [-0.15, 1.15];
        var padding = (max - min) * 0.08 || Math.max(Math.abs(max) * 0.05, 1);
        return [min - padding, max + 3 * padding];  // room above for the writes' labels
      } },
      draw: function (u) { drawWrites(u, gate); },
    }, columns, false);
  }

  function drawWrites(u, gate) {
    var ctx = u.ctx, b = u.bbox, r = 5 * devicePixelRatio;
    ctx.save();
    ctx.beginPath();
    ctx.rect(b.left - r, b.top - r, b.width + 2 * r, b.height + 2 * r);
    ctx.clip();
    gate.marks.forEach(function (m) {
      var x = u.valToPos(m[0], 'x', true);
      var ok = m[2] === 0;
      var y = ok ? u.valToPos(m[1], 'y', true) : b.top + b.height / 2;
      ctx.strokeStyle = ok ? WRITE : FAILED;
      ctx.lineWidth = devicePixelRatio;
      ctx.setLineDash([2 * devicePixelRatio, 2 * devicePixelRatio]);
      ctx.beginPath();
      ctx.moveTo(x, b.top);
      ctx.lineTo(x, b.top + b.height);
      ctx.stroke();
      ctx.setLineDash([]);
      ctx.lineWidth = 2 * devicePixelRatio;
      ctx.beginPath();
      if (ok) {
        ctx.fillStyle = WRITE;
        ctx.moveTo(x, y - r); ctx.lineTo(x + r, y); ctx.lineTo(x, y + r); ctx.lineTo(x - r, y);
        ctx.closePath();
        ctx.fill();
      } else {
        ctx.moveTo(x - r, y - r); ctx.lineTo(x + r, y + r);
        ctx.moveTo(x + r, y - r); ctx.lineTo(x - r, y + r);
        ctx.stroke();
      }
      ctx.font = (11 * devicePixelRatio) + 'px sans-serif';
      ctx.textAlign = 'left';
      ctx.fillStyle = ok ? '#a04a00' : FAILED;
      ctx.textBaseline = 'bottom';
      var text = ok ? 'wrote ' + m[1] : 'write failed (' + m[2] + ')';
      ctx.fillText(text, x + r + 2, Math.max(b.top + 12 * devicePixelRatio, y - 2));
    });
    ctx.restore();
  }

  function count(n, what) { return n + ' ' + what + (n === 1 ? '' : 's'); }

  function gatePlots() {
    var grid = document.getElementById('gate-plots');
    data.gates.forEach(function (gate, g) {
      var sub = count(gate.reads, 'read') + ', ' + count(gate.changes, 'change') +
                (gate.writes ? ', ' + count(gate.writes, 'write') : '') + ' \u00b7 ' + gate.routines;
      var c = cell(grid, 'gate-' + g, gate.name, sub);
      lazily(c.cell, function () { gatePlot(gate, c.plot); });
    });
  }

  // ---- tables ------------------------------------------------------------------------
  function sortable(table) {
    var headings = table.querySelectorAll('th');
    Array.prototype.forEach.call(headings, function (th, column) {
      th.addEventListener('click', function () {
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows);
        var numeric = th.classList.contains('n');
        rows.sort(function (a, b) {
          var x = a.cells[column].getAttribute('data-v') || a.cells[column].textContent;
          var y = b.cells[column].getAttribute('data-v') || b.cells[column].textContent;
          return numeric ? parseFloat(y) - parseFloat(x) : x.localeCompare(y);
        });
        rows.forEach(function (row) { body.appendChild(row); });
        // The plots follow the list.
        var grid = document.getElementById('gate-plots');
        rows.forEach(function (row) {
          var plot = document.getElementById('gate-' + row.getAttribute('data-g'));
          if (plot) grid.appendChild(plot);
        });
        Array.prototype.forEach.call(headings, function (h) { h.classList.remove('sorted'); });
        th.classList.add('sorted');
      });
    });
  }
  function jumps() {
    Array.prototype.forEach.call(document.querySelectorAll('tr.jump'), function (row) {
      row.addEventListener('click', function () {
        var from = parseFloat(row.getAttribute('data-from')), to = parseFloat(row.getAttribute('data-to'));
        var margin = Math.max((to - from) * 0.5, W * 20, 0.05);
        setWindow(from - margin, to + margin);
        document.getElementById('calls').scrollIntoView();
      });
    });
  }

  function copyButtons() {
    Array.prototype.forEach.call(document.querySelectorAll('button.copy'), function (button) {
      button.addEventListener('click', function () {
        var area = document.getElementById(button.getAttribute('data-copy'));
        area.focus();
        area.select();
        var done = false;
        try { done = document.execCommand('copy'); } catch (e) { done = false; }
        if (!done && navigator.clipboard) navigator.clipboard.writeText(area.value);
        button.textContent = 'copied';
        setTimeout(function () { button.textContent = 'copy'; }, 1200);
      });
    });
  }

  function keys() {
    document.addEventListener('keydown', function (e) {
      if (e.target && e.target.tagName === 'TEXTAREA') return;
      if (e.key === 'ArrowLeft') pan(-0.5);
      else if (e.key === 'ArrowRight') pan(0.5);
      else if (e.key === '+' || e.key === '=') zoom(0.5);
      else if (e.key === '-') zoom(2);
      else if (e.key === '0' || e.key === 'Home') setWindow(full.min, full.max);
      else return;
      e.preventDefault();
    });
    document.getElementById('zoom-in').onclick = function () { zoom(0.5); };
    document.getElementById('zoom-out').onclick = function () { zoom(2); };
    document.getElementById('pan-left').onclick = function () { pan(-0.5); };
    document.getElementById('pan-right').onclick = function () { pan(0.5); };
    document.getElementById('zoom-all').onclick = function () { setWindow(full.min, full.max); };
  }

  function resizing() {
    var timer = null;
    window.addEventListener('resize', function () {
      clearTimeout(timer);
      timer = setTimeout(function () {
        plots.forEach(function (u) {
          var width = u.root.parentNode.clientWidth;
          if (width > 0) u.setSize({ width: width, height: u.height });
        });
      }, 150);
    });
  }

  callsPlot();
  statusesPlot();
  durationPlots();
  gatePlots();
  pending.forEach(function (make) { make(); });
  Array.prototype.forEach.call(document.querySelectorAll('table.gates'), sortable);
  jumps();
  copyButtons();
  keys();
  resizing();
  var opened = location.hash;
  showWindow();
  if (opened) fromAddress(opened);
})();
