// The ride profile in the page, as in the window: speed, the vertical,
// lateral and longitudinal forces and the roll of the loaded track (heart on
// the rail) and, after a run, of the rebuilt one (heart at the heartline
// distance), felt or raw, against distance or time; the comfort limits shaded
// and the stretches beyond them listed; the summary; a top and a side view;
// exports as CSV, PNG and SVG. One x range and one cursor run through every
// plot: wheel or drag to zoom, Shift and drag to pan, double-click for the
// whole ride.
//
// The figures are the core's, worked out by the window's own profile model in
// the worker and sent as one plain object of arrays and texts:
// {type: 'profile', loaded, rebuilt, rebuild, stop, note, caption, heartline,
//  felt, raw, comfortNote, extents, titles}: `rebuild` which rebuild made the
// rebuilt track, `stop` where the train stops after a valley (the run's
// figure) and `note` what to say about it; `loaded` and `rebuilt` each an object of
// number arrays (distance, time, speed, vertical, lateral, longitudinal,
// feltVertical, feltLateral, feltLongitudinal, roll, rollRate, heartX..Z,
// railX..Z; NaN where there is no value) with length and stopDistance, or
// {error}, or null; `felt` and `raw` each {summary, exceedances,
// noExceedance, ranges}. Each series is cut down to the lowest and highest
// sample of every column two pixels wide before it is drawn. Pictures are
// handed to the page's download(name, bytes).
/* global uPlot, download */
'use strict';

const CvqrnPlots = (() => {
  const colours = {
    loaded: '#5fd3c6', rebuilt: '#f0b35a', rail: '#b07a30', stop: '#ff4a3d', limit: 'rgba(255, 74, 61, 0.16)',
    offScale: '#ff5c8a', cursor: '#c8d6dc', start: '#3ddc84', axis: '#8fa6b2', grid: '#33454f',
    text: '#e4eef2', background: '#26363f',
  };
  const widths = { loaded: 3, rebuilt: 1.3 };
  const fontFamily = '"DejaVu Sans", Helvetica, Arial, sans-serif';
  // The plot area's left and right margins, the same in every plot so that
  // their x axes line up.
  const axisSize = 60;
  const plotHeight = 170;
  const plots = [
    { key: 'speed', scale: 'y' },
    { key: 'vertical', scale: 'y', force: true, limits: [6, -1.5] },
    { key: 'lateral', scale: 'y', force: true, limits: [1.8, -1.8] },
    { key: 'longitudinal', scale: 'y', force: true },
    { key: 'roll', scale: 'y', motion: true },
  ];
  const felt = { vertical: 'feltVertical', lateral: 'feltLateral', longitudinal: 'feltLongitudinal' };
  const which = ['loaded', 'rebuilt'];
  const minSpanShare = 1e-6;

  let message = null;
  let view = 'felt';
  let axis = 'distance';
  let extent = [0, 1];
  let shown = [0, 1];
  let cursorX = null;
  let charts = [];
  let panning = null;
  let maps = [];

  // ---- Numbers and texts.

  // Axis labels with a point whatever the browser's language (uPlot would
  // follow the language), with as many decimals as the tick spacing needs.
  const tickValues = (u, splits, axisIndex, space, increment) => {
    const decimals = Math.max(0, Math.min(6, -Math.floor(Math.log10(increment || 1))));
    return splits.map((v) => (v == null ? '' : v.toFixed(decimals)));
  };

  // `v` with `digits` decimals; never "-0.00"; "–" for no number.
  function fixed(v, digits) {
    if (v == null || !Number.isFinite(v)) return '–';
    const text = v.toFixed(digits);
    return /^-[0.]*$/.test(text) ? text.slice(1) : text;
  }

  // ---- Cutting a series down to its pixels (the window's DecimatePerColumn).

  // The points of (xs, ys) worth drawing over [lo, hi] on `columns` pixel
  // columns: in every column its lowest and its highest sample, in their
  // order, so that every spike keeps its full height; and the nearest sample
  // beyond each end. A sample without a value breaks the line (null). `xs`
  // rises and may end in NaN; nothing after the first NaN is drawn.
  function decimate(xs, ys, lo, hi, columns) {
    const outX = [];
    const outY = [];
    let n = 0;
    while (n < xs.length && !Number.isNaN(xs[n])) n += 1;
    if (n === 0 || columns < 1 || !(hi > lo)) return [outX, outY];
    const bound = (value, upper) => {
      let a = 0;
      let b = n;
      while (a < b) {
        const m = (a + b) >> 1;
        if (upper ? xs[m] <= value : xs[m] < value) a = m + 1;
        else b = m;
      }
      return a;
    };
    let first = bound(lo, false);
    let last = bound(hi, true);
    if (first > 0) first -= 1;
    if (last < n) last += 1;
    const scale = columns / (hi - lo);
    const columnOf = (v) => {
      if (v < lo) return -1;
      if (v > hi) return columns;
      return Math.min(columns - 1, Math.floor((v - lo) * scale));
    };
    let column = null;
    let lowest = 0;
    let highest = 0;
    let open = false;
    const emit = (i) => { outX.push(xs[i]); outY.push(ys[i]); };
    const flush = () => {
      if (!open) return;
      emit(Math.min(lowest, highest));
      if (lowest !== highest) emit(Math.max(lowest, highest));
      open = false;
    };
    for (let i = first; i < last; i += 1) {
      const y = ys[i];
      if (!Number.isFinite(y)) {
        flush();
        if (outY.length > 0 && outY[outY.length - 1] !== null) { outX.push(xs[i]); outY.push(null); }
        continue;
      }
      const c = columnOf(xs[i]);
      if (!open || c !== column) {
        flush();
        column = c;
        lowest = highest = i;
        open = true;
      } else {
        if (y < ys[lowest]) lowest = i;
        if (y > ys[highest]) highest = i;
      }
    }
    flush();
    if (outY.length > 0 && outY[outY.length - 1] === null) { outX.pop(); outY.pop(); }
    return [outX, outY];
  }

  // ---- The shared x range (the window's XRange).

  function showRange(lo, hi) {
    if (!(lo <= hi) || !Number.isFinite(lo) || !Number.isFinite(hi)) return;
    const whole = extent[1] - extent[0];
    const least = whole * minSpanShare;
    if (hi - lo < least) {
      const mid = (lo + hi) / 2;
      lo = mid - least / 2;
      hi = mid + least / 2;
    }
    if (hi - lo >= whole) {
      shown = extent.slice();
    } else {
      if (lo < extent[0]) { hi += extent[0] - lo; lo = extent[0]; }
      if (hi > extent[1]) { lo -= hi - extent[1]; hi = extent[1]; }
      shown = [lo, hi];
    }
    redrawAll();
  }
  const zoomed = () => shown[0] !== extent[0] || shown[1] !== extent[1];
  const zoomAround = (at, factor) => showRange(at - (at - shown[0]) * factor, at + (shown[1] - at) * factor);
  const panBy = (delta) => showRange(shown[0] + delta, shown[1] + delta);
  function centreOn(at) {
    const span = zoomed() ? shown[1] - shown[0] : (extent[1] - extent[0]) / 10;
    showRange(at - span / 2, at + span / 2);
  }

  // ---- Tracks and samples.

  const tracks = () => which.filter((w) => message && message[w] && !message[w].error);
  const valuesOf = (t, key) => (view === 'felt' && felt[key] ? t[felt[key]] : t[key]);
  const xsOf = (t) => (axis === 'time' ? t.time : t.distance);
  const rangeOf = (key) => message[view].ranges[key];

  // The sample of track `w` nearest to `x`, or -1.
  function sampleAt(w, x) {
    const t = message[w];
    if (!t || t.error || !Number.isFinite(x)) return -1;
    const xs = xsOf(t);
    let n = 0;
    while (n < xs.length && !Number.isNaN(xs[n])) n += 1;
    if (n === 0) return -1;
    let a = 0;
    let b = n;
    while (a < b) {
      const m = (a + b) >> 1;
      if (xs[m] < x) a = m + 1;
      else b = m;
    }
    if (a === n) return axis === 'time' && n < xs.length ? -1 : n - 1;
    if (a > 0 && x - xs[a - 1] < xs[a] - x) return a - 1;
    return a;
  }

  function xOfDistance(w, distance) {
    if (axis === 'distance') return distance;
    const save = axis;
    axis = 'distance';
    const k = sampleAt(w, distance);
    axis = save;
    return k < 0 ? NaN : message[w].time[k];
  }

  function readOut(x) {
    let text = axis === 'time' ? `${fixed(x, 2)} s` : `${fixed(x, 1)} m`;
    for (const w of tracks()) {
      const k = sampleAt(w, x);
      if (k < 0) continue;
      const t = message[w];
      const g = (key) => `${fixed(valuesOf(t, key)[k], 2)} g`;
      const where = axis === 'time' ? `${fixed(t.distance[k], 1)} m` : `${fixed(t.time[k], 2)} s`;
      text += `   ${w} at ${where}: ${fixed(t.speed[k], 1)} m/s, vertical ${g('vertical')}, ` +
              `lateral ${g('lateral')}, longitudinal ${g('longitudinal')}, roll ${fixed(t.roll[k], 0)}°`;
    }
    return text;
  }

  function statusLine() {
    if (!message || !message.loaded) return '';
    if (message.loaded.error) return `No profile: ${message.loaded.error}`;
    if (message.note) return message.note;
    if (!message.rebuilt) return 'Loaded track, heart on the rail. Run the heartline to compare.';
    return `Loaded track (heart on the rail) and rebuilt track (${message.rebuild}, heart ${fixed(message.heartline, 2)} m from the rail).`;
  }

  // ---- The plots.

  // The series of `plot` and, unless `withData` is false, their points.
  function plotData(plot, u, withData = true) {
    // Columns two pixels wide, each its lowest and highest sample: no more
    // points than pixels across.
    const columns = Math.max(1, Math.round((u ? u.bbox.width / uPlot.pxRatio : 600) / 2));
    const tables = [];
    const series = [];
    for (const w of tracks()) {
      const t = message[w];
      series.push({ w, rate: false });
      if (withData) tables.push(decimate(xsOf(t), valuesOf(t, plot.key), shown[0], shown[1], columns));
      if (plot.motion) {
        series.push({ w, rate: true });
        if (withData) tables.push(decimate(xsOf(t), t.rollRate, shown[0], shown[1], columns));
      }
    }
    if (tables.length === 0) return { data: [[]], series };
    const data = uPlot.join(tables.map(([xs, ys]) => [xs, ys]));
    return { data, series };
  }

  // Where a value runs off the scale: small triangles at the plot's edge.
  function offScaleMarks(u, ctx, scale, key) {
    const [lo, hi] = rangeOf(key);
    const { left, top, width, height } = u.bbox;
    const size = 4 * uPlot.pxRatio;
    ctx.fillStyle = colours.offScale;
    for (let s = 1; s < u.series.length; s += 1) {
      if (u.series[s].scale !== scale) continue;
      const ys = u.data[s];
      for (let i = 0; i < ys.length; i += 1) {
        const y = ys[i];
        if (y == null || (y <= hi && y >= lo)) continue;
        const x = u.valToPos(u.data[0][i], 'x', true);
        if (x < left || x > left + width) continue;
        const up = y > hi;
        const edge = up ? top + size * 2 : top + height - size * 2;
        ctx.beginPath();
        ctx.moveTo(x - size, edge + (up ? size : -size));
        ctx.lineTo(x + size, edge + (up ? size : -size));
        ctx.lineTo(x, edge + (up ? -size : size));
        ctx.closePath();
        ctx.fill();
      }
    }
  }

  // How uPlot draws series `s` ({w: the track, rate: roll rate}).
  const seriesOptions = (s) => ({
    label: `${s.w}${s.rate ? ' roll rate' : ''}`, stroke: colours[s.w], scale: s.rate ? 'rate' : 'y',
    width: s.rate ? 1 : widths[s.w], dash: s.rate ? [3, 3] : undefined, spanGaps: false, points: { show: false },
  });

  function makeChart(plot, index, holder, width) {
    const last = index === plots.length - 1;
    const { data, series } = plotData(plot, null);
    const uSeries = [{}, ...series.map(seriesOptions)];
    const clip = plot.force && view === 'raw';
    const axisStyle = { stroke: colours.axis, grid: { stroke: colours.grid, width: 1 }, ticks: { stroke: colours.grid } };
    const opts = {
      width, height: plotHeight + (last ? 22 : 0),
      legend: { show: false },
      series: uSeries,
      scales: {
        x: { time: false, auto: false, range: () => shown },
        y: { auto: false, range: () => rangeOf(plot.key) },
        rate: { auto: false, range: () => rangeOf('rollRate') },
      },
      axes: [
        { ...axisStyle, scale: 'x', space: 70, values: tickValues,
          label: last ? message.titles[axis] : undefined, labelSize: 20 },
        // Roll on multiples of 45 degrees.
        { ...axisStyle, scale: 'y', size: axisSize, space: 18, values: tickValues,
          incrs: plot.motion ? [1, 5, 15, 45, 90, 180] : undefined },
        plot.motion
          ? { ...axisStyle, scale: 'rate', side: 1, size: axisSize, space: 18, values: tickValues,
              grid: { show: false } }
          : { scale: 'y', side: 1, size: axisSize, values: (u, splits) => splits.map(() => ''),
              grid: { show: false }, ticks: { show: false }, stroke: 'transparent' },
      ],
      cursor: {
        sync: { key: 'cvqrn-profile' },
        drag: { x: true, y: false, setScale: false },
        points: { show: false },
        y: false,
        bind: {
          mousedown: (u, target, handler) => (e) => {
            if (e.shiftKey && e.button === 0) {
              panning = { u, lastX: e.clientX };
              e.preventDefault();
              return null;
            }
            return handler(e);
          },
          dblclick: () => () => { showRange(extent[0], extent[1]); return null; },
        },
      },
      hooks: {
        drawClear: [(u) => {
          // The comfort limits, beneath everything else.
          if (!plot.limits) return;
          const { ctx } = u;
          const { left, top, width: w, height: h } = u.bbox;
          const [lo, hi] = rangeOf(plot.key);
          ctx.save();
          ctx.fillStyle = colours.limit;
          const [upper, lower] = plot.limits;
          if (hi > upper) {
            const y = u.valToPos(upper, 'y', true);
            ctx.fillRect(left, top, w, y - top);
          }
          if (lo < lower) {
            const y = u.valToPos(lower, 'y', true);
            ctx.fillRect(left, y, w, top + h - y);
          }
          ctx.restore();
        }],
        draw: [(u) => {
          const { ctx } = u;
          ctx.save();
          if (clip) offScaleMarks(u, ctx, 'y', plot.key);
          if (plot.motion) offScaleMarks(u, ctx, 'rate', 'rollRate');
          const stop = stopX();
          if (stop != null) {
            const x = Math.round(u.valToPos(stop, 'x', true));
            ctx.strokeStyle = colours.stop;
            ctx.lineWidth = 2 * uPlot.pxRatio;
            ctx.setLineDash([6 * uPlot.pxRatio, 4 * uPlot.pxRatio]);
            ctx.beginPath();
            ctx.moveTo(x, u.bbox.top);
            ctx.lineTo(x, u.bbox.top + u.bbox.height);
            ctx.stroke();
          }
          ctx.restore();
        }],
        setSelect: [(u) => {
          if (u.select.width >= 4) {
            const a = u.posToVal(u.select.left, 'x');
            const b = u.posToVal(u.select.left + u.select.width, 'x');
            u.setSelect({ left: 0, top: 0, width: 0, height: 0 }, false);
            showRange(Math.min(a, b), Math.max(a, b));
          }
        }],
        setCursor: [(u) => {
          if (u.cursor.left == null || u.cursor.left < 0) return;
          if (u !== activeChart) return;
          hover(u.posToVal(u.cursor.left, 'x'));
        }],
      },
    };
    const title = document.createElement('p');
    title.className = 'plot-title';
    title.textContent = plot.motion
      ? 'Roll (°, solid) and roll rate (°/s, dotted)'
      : message.titles[plot.key];
    const box = document.createElement('div');
    box.className = `plot plot-${plot.key}`;
    // The plots' text alternative is the table of figures.
    box.setAttribute('role', 'img');
    box.setAttribute('aria-label', `${title.textContent} along the track; the figures are in the table ` +
                                   'Ride profile figures beside them');
    box.setAttribute('aria-describedby', 'profile-figures');
    holder.append(title, box);
    const u = new uPlot(opts, data, box);
    u.over.addEventListener('mouseenter', () => { activeChart = u; });
    u.over.addEventListener('mouseleave', () => {
      if (activeChart === u) activeChart = null;
      hover(null);
    });
    u.over.addEventListener('wheel', (e) => {
      e.preventDefault();
      const steps = -e.deltaY / 100;
      if (steps !== 0) zoomAround(u.posToVal(e.offsetX, 'x'), 0.8 ** steps);
    }, { passive: false });
    return { u, plot, title, series };
  }
  let activeChart = null;

  // Where the train stops after a valley, on the x axis: the run's figure, or
  // on a time axis the loaded train's last moment.
  function stopX() {
    if (!message || message.stop == null) return null;
    if (axis === 'distance') return message.stop;
    return message.extents.time[1];
  }

  function redrawAll() {
    for (const c of charts) {
      const { data } = plotData(c.plot, c.u);
      c.u.batch(() => {
        c.u.setData(data, false);
        c.u.setScale('x', { min: shown[0], max: shown[1] });
        // The value scales of the profile shown now: a refill must not keep
        // the last one's, which clipped a new rebuilt track's spikes.
        for (const [scale, key] of [['y', c.plot.key], ['rate', 'rollRate']]) {
          const [min, max] = rangeOf(key);
          c.u.setScale(scale, { min, max });
        }
      });
    }
    if (cursorX != null) placeCursor(cursorX);
    document.getElementById('plots').dataset.range = `${shown[0]},${shown[1]}`;
  }

  // The track the 3D panel shows: the rebuilt one after a run, else the loaded one.
  const shownIn3d = () => (message && message.rebuilt && !message.rebuilt.error ? 'rebuilt' : 'loaded');

  // The cursor's distance along the track the 3D panel shows, or null.
  function cursorDistance() {
    if (cursorX == null || !message) return null;
    if (axis === 'distance') return cursorX;
    const w = shownIn3d();
    const k = sampleAt(w, cursorX);
    return k < 0 ? null : message[w].distance[k];
  }

  // The cursor of every plot, the read-out and the dots on the views at x;
  // the 3D panel hears of it through a 'cvqrn-cursor' event.
  let told = null;
  function hover(x) {
    cursorX = x;
    const out = document.getElementById('profile-readout');
    if (out) out.textContent = x == null ? statusLine() : readOut(x);
    const indices = {};
    for (const w of tracks()) indices[w] = x == null ? -1 : sampleAt(w, x);
    for (const m of maps) m.draw(indices);
    const distance = cursorDistance();
    if (distance != null && distance !== told) {
      told = distance;
      document.dispatchEvent(new CustomEvent('cvqrn-cursor', { detail: { distance } }));
    }
  }

  // The cursor to `distance` metres along the track the 3D panel shows.
  function moveCursor(distance) {
    if (!message || tracks().length === 0) return;
    const x = xOfDistance(shownIn3d(), distance);
    if (Number.isFinite(x)) placeCursor(x);
  }

  function placeCursor(x) {
    for (const c of charts) {
      const left = c.u.valToPos(x, 'x');
      c.u.setCursor({ left, top: c.u.bbox.height / uPlot.pxRatio / 2 }, false);
    }
    hover(x);
  }

  function goTo(w, distance) {
    const x = xOfDistance(w, distance);
    if (!Number.isFinite(x)) return;
    centreOn(x);
    placeCursor(x);
  }

  // ---- The views from above and from the side.

  // The geometry of a view of `kind` in a box of w x h pixels: the lines in
  // pixels, the scale bars, the start and the way the train goes.
  function mapGeometry(kind, w, h) {
    const top = kind === 'top';
    const ts = tracks();
    const pointsOf = (t, rail) => {
      const xs = top ? (rail ? t.railX : t.heartX) : t.distance;
      const ys = top ? (rail ? t.railZ : t.heartZ) : (rail ? t.railY : t.heartY);
      return [xs, ys];
    };
    let minX = Infinity; let maxX = -Infinity; let minY = Infinity; let maxY = -Infinity;
    for (const wName of ts) {
      for (const rail of [false, true]) {
        const [xs, ys] = pointsOf(message[wName], rail);
        for (let i = 0; i < xs.length; i += 1) {
          minX = Math.min(minX, xs[i]); maxX = Math.max(maxX, xs[i]);
          minY = Math.min(minY, ys[i]); maxY = Math.max(maxY, ys[i]);
        }
      }
    }
    const area = { left: 14, top: 24, width: w - 28, height: h - 58 };
    let sx = area.width / Math.max(maxX - minX, 1e-6);
    let sy = area.height / Math.max(maxY - minY, 1e-6);
    if (top) sx = sy = Math.min(sx, sy);
    if (!top) sy = -sy;
    const ox = area.left + area.width / 2 - ((minX + maxX) / 2) * sx;
    const oy = area.top + area.height / 2 - ((minY + maxY) / 2) * sy;
    const place = (x, y) => [ox + x * sx, oy + y * sy];
    const line = (t, rail) => {
      const [xs, ys] = pointsOf(t, rail);
      const out = [];
      let lx = -1e9; let ly = -1e9;
      for (let i = 0; i < xs.length; i += 1) {
        const [px, py] = place(xs[i], ys[i]);
        // Closer than a pixel and a half: nothing a line this wide shows.
        if (Math.abs(px - lx) + Math.abs(py - ly) < 1.5) continue;
        out.push([px, py]);
        lx = px; ly = py;
      }
      return out;
    };
    const lines = [];
    if (message.loaded && !message.loaded.error) {
      lines.push({ points: line(message.loaded, false), colour: colours.loaded, width: widths.loaded });
    }
    if (message.rebuilt && !message.rebuilt.error) {
      lines.push({ points: line(message.rebuilt, true), colour: colours.rail, width: 1, dash: [4, 3] });
      lines.push({ points: line(message.rebuilt, false), colour: colours.rebuilt, width: 1 });
    }
    const round = (most) => {
      const power = 10 ** Math.floor(Math.log10(Math.max(most, 1e-9)));
      for (const m of [5, 2, 1]) if (m * power <= most) return m * power;
      return power;
    };
    const metres = (v) => (v >= 1000 ? `${v / 1000} km` : `${v} m`);
    const across = round((0.25 * w) / sx);
    const bars = [{ x0: 14, y0: h - 14, x1: 14 + across * sx, y1: h - 14, text: metres(across) }];
    if (!top) {
      const up = round((0.3 * h) / Math.abs(sy));
      bars.push({ x0: w - 60, y0: h - 14, x1: w - 60, y1: h - 14 - up * Math.abs(sy), text: metres(up) });
    }
    const loaded = message.loaded && !message.loaded.error ? message.loaded : null;
    let start = null;
    if (loaded) {
      const heart = line(loaded, false);
      const [x0, y0] = heart[0];
      let from = heart[0];
      let to = heart[0];
      for (const p of heart) {
        const reach = Math.hypot(p[0] - x0, p[1] - y0);
        if (reach < 16) from = p;
        to = p;
        if (reach >= 28) break;
      }
      start = { at: heart[0], from, to };
    }
    const dot = (wName, k) => {
      const t = message[wName];
      const [xs, ys] = pointsOf(t, false);
      return place(xs[k], ys[k]);
    };
    return { lines, bars, start, dot, caption: top ? 'Top view' : 'Side view: height along the track' };
  }

  function makeMap(kind, holder) {
    const canvas = document.createElement('canvas');
    canvas.className = `track-view track-view-${kind}`;
    holder.append(canvas);
    let geometry = null;
    let base = null;
    let scale = 1;  // device pixels per CSS pixel, as laid out
    const map = {
      kind, canvas,
      layout() {
        const w = canvas.clientWidth;
        const h = canvas.clientHeight;
        const ratio = window.devicePixelRatio || 1;
        canvas.width = Math.round(w * ratio);
        canvas.height = Math.round(h * ratio);
        scale = canvas.width / Math.max(1, w);
        geometry = mapGeometry(kind, w, h);
        base = document.createElement('canvas');
        base.width = canvas.width;
        base.height = canvas.height;
        const ctx = base.getContext('2d');
        ctx.scale(ratio, ratio);
        ctx.fillStyle = colours.background;
        ctx.fillRect(0, 0, w, h);
        ctx.fillStyle = colours.axis;
        ctx.font = `13px ${fontFamily}`;
        ctx.fillText(geometry.caption, 6, 16);
        for (const l of geometry.lines) {
          ctx.strokeStyle = l.colour;
          ctx.lineWidth = l.width;
          ctx.setLineDash(l.dash || []);
          ctx.beginPath();
          l.points.forEach(([x, y], i) => (i === 0 ? ctx.moveTo(x, y) : ctx.lineTo(x, y)));
          ctx.stroke();
        }
        ctx.setLineDash([]);
        ctx.strokeStyle = colours.text;
        ctx.fillStyle = colours.text;
        ctx.lineWidth = 1.2;
        for (const b of geometry.bars) {
          ctx.beginPath();
          ctx.moveTo(b.x0, b.y0); ctx.lineTo(b.x1, b.y1);
          const vertical = b.x0 === b.x1;
          for (const [x, y] of [[b.x0, b.y0], [b.x1, b.y1]]) {
            if (vertical) { ctx.moveTo(x - 4, y); ctx.lineTo(x + 4, y); } else { ctx.moveTo(x, y - 4); ctx.lineTo(x, y + 4); }
          }
          ctx.stroke();
          ctx.fillText(b.text, vertical ? b.x0 + 6 : b.x1 + 6, vertical ? (b.y0 + b.y1) / 2 + 4 : b.y0 + 4);
        }
        const s = geometry.start;
        if (s) {
          ctx.strokeStyle = colours.start;
          ctx.fillStyle = colours.start;
          ctx.lineWidth = 2;
          ctx.beginPath();
          ctx.arc(s.at[0], s.at[1], 4.5, 0, 2 * Math.PI);
          ctx.fill();
          const angle = Math.atan2(s.to[1] - s.from[1], s.to[0] - s.from[0]);
          ctx.beginPath();
          ctx.moveTo(s.at[0], s.at[1]);
          ctx.lineTo(s.to[0], s.to[1]);
          ctx.stroke();
          ctx.beginPath();
          ctx.moveTo(s.to[0], s.to[1]);
          for (const a of [0.45, -0.45]) ctx.lineTo(s.to[0] - 9 * Math.cos(angle + a), s.to[1] - 9 * Math.sin(angle + a));
          ctx.closePath();
          ctx.fill();
          ctx.fillText('start', s.at[0] + 7, s.at[1] + (s.at[1] < 40 ? 16 : -7));
        }
      },
      draw(indices) {
        if (!geometry) return;
        const ctx = canvas.getContext('2d');
        ctx.setTransform(1, 0, 0, 1, 0, 0);
        ctx.drawImage(base, 0, 0);
        const ratio = scale;
        ctx.scale(ratio, ratio);
        for (const w of which) {
          const k = indices ? indices[w] : -1;
          if (k == null || k < 0) continue;
          const [x, y] = geometry.dot(w, k);
          ctx.fillStyle = colours[w];
          ctx.strokeStyle = colours.background;
          ctx.lineWidth = 1.5;
          ctx.beginPath();
          ctx.arc(x, y, 5, 0, 2 * Math.PI);
          ctx.fill();
          ctx.stroke();
        }
      },
      geometry: () => geometry,
    };
    return map;
  }

  // ---- The side column: summary, exceedances, the limits' note.

  function summaryTable() {
    const table = document.createElement('table');
    table.className = 'summary';
    table.id = 'profile-figures';
    table.createCaption().textContent = 'Ride profile figures';
    const head = table.insertRow();
    const labels = [view === 'felt' ? 'Felt forces' : 'Raw forces', ...tracks()];
    labels.forEach((text, j) => {
      const th = document.createElement('th');
      th.textContent = text;
      if (j > 0) th.style.color = colours[text];
      head.append(th);
    });
    for (const row of message[view].summary) {
      const tr = table.insertRow();
      const th = document.createElement('th');
      th.textContent = row.label;
      if (row.toolTip) th.title = row.toolTip;
      tr.append(th);
      for (const w of tracks()) {
        const td = document.createElement('td');
        td.textContent = row[w];
        const at = row[`${w}At`];
        const tips = [];
        if (at != null) {
          td.className = 'goto';
          tips.push('Click to show it on the plots');
          td.addEventListener('click', () => goTo(w, at));
        }
        // The rebuilt figure against the loaded one: shaded where it rides
        // better or worse, the margin in the tool tip.
        if (w === 'rebuilt' && row.verdict) {
          td.classList.add(row.verdict);
          tips.unshift(row.verdictText);
        }
        if (tips.length) td.title = tips.join(' ');
        tr.append(td);
      }
    }
    return table;
  }

  function exceedanceList() {
    const list = document.createElement('ul');
    list.className = 'exceedances';
    const rows = message[view].exceedances;
    for (const e of rows) {
      const li = document.createElement('li');
      li.textContent = `${e.which}: ${e.text}`;
      li.style.color = colours[e.which];
      li.className = 'goto';
      li.title = 'Click to show it on the plots';
      li.addEventListener('click', () => goTo(e.which, e.distance));
      list.append(li);
    }
    if (rows.length === 0) {
      const li = document.createElement('li');
      li.textContent = message[view].noExceedance;
      list.append(li);
    }
    return list;
  }

  function legend() {
    const p = document.createElement('p');
    p.className = 'profile-legend';
    const add = (colour, mark, text) => {
      const span = document.createElement('span');
      const swatch = document.createElement('b');
      swatch.style.color = colour;
      swatch.textContent = mark;
      span.append(swatch, ` ${text}`);
      p.append(span);
    };
    add(colours.loaded, '▬', 'loaded track, heart on the rail');
    if (message.rebuilt && !message.rebuilt.error) {
      add(colours.rebuilt, '▬', `rebuilt track (${message.rebuild}), heart ${fixed(message.heartline, 2)} m from the rail (thin on wide where both agree)`);
      add(colours.rail, '- - -', 'new rail (views)');
    }
    if (view === 'raw') add(colours.offScale, '▲▼', 'runs off the scale');
    if (stopX() != null) add(colours.stop, '┆', 'where the train stops');
    return p;
  }

  // ---- Controls and exports.

  function radioPair(name, label, options, current, change) {
    const group = document.createElement('span');
    group.className = 'switch';
    group.append(`${label} `);
    for (const value of options) {
      const l = document.createElement('label');
      const input = document.createElement('input');
      input.type = 'radio';
      input.name = name;
      input.value = value;
      input.checked = value === current;
      input.addEventListener('change', () => change(value));
      l.append(input, ` ${value}`);
      group.append(l);
    }
    return group;
  }

  const stemOf = () => (message.caption.split(' · ')[0] || 'ride.cvtrack').replace(/\.cvtrack$/i, '') || 'ride';

  function today() {
    const d = new Date();
    const two = (n) => String(n).padStart(2, '0');
    return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ${two(d.getHours())}:${two(d.getMinutes())}`;
  }

  const escapeXml = (s) => String(s).replace(/[<>&"]/g, (c) => ({ '<': '&lt;', '>': '&gt;', '&': '&amp;', '"': '&quot;' })[c]);

  // The profile as on the screen, as an SVG drawing: the plots with uPlot's
  // own ticks and labels, the texts where they stand, the views as lines.
  function svgDrawing() {
    finishWaiting();  // the views drawn
    const root = document.getElementById('plots');
    const box = root.getBoundingClientRect();
    const W = Math.ceil(box.width);
    const H = Math.ceil(box.height);
    const out = [];
    const at = (el) => {
      const r = el.getBoundingClientRect();
      return { x: r.left - box.left, y: r.top - box.top, w: r.width, h: r.height };
    };
    const text = (x, y, s, { colour = colours.text, size = 13, anchor = 'start', weight = 'normal' } = {}) => {
      out.push(`<text x="${x.toFixed(1)}" y="${y.toFixed(1)}" fill="${colour}" font-size="${size}" ` +
               `text-anchor="${anchor}" font-weight="${weight}">${escapeXml(s)}</text>`);
    };
    const polyline = (points, colour, width, dash) => {
      if (points.length < 2) return;
      const d = points.map(([x, y], i) => `${i ? 'L' : 'M'}${x.toFixed(1)} ${y.toFixed(1)}`).join('');
      out.push(`<path d="${d}" fill="none" stroke="${colour}" stroke-width="${width}"` +
               `${dash ? ` stroke-dasharray="${dash.join(' ')}"` : ''}/>`);
    };
    out.push(`<rect width="${W}" height="${H}" fill="${colours.background}"/>`);
    // Every text of the profile that is not in a plot or a view, as the page
    // wraps it; what the exceedance list has scrolled out of sight is left out.
    const list = root.querySelector('.exceedances');
    const listBox = list ? at(list) : null;
    const pieces = [];
    for (const el of root.querySelectorAll('.profile-caption, .plot-title, th, td, .side-title, .exceedances li, .profile-note-limits, #profile-readout')) {
      const r = at(el);
      if (r.w === 0) continue;
      if (el.tagName === 'LI' && (r.y < listBox.y - 1 || r.y + r.h > listBox.y + listBox.h + 1)) continue;
      pieces.push({ el, r, content: el.textContent });
    }
    // The legend: each mark in its colour, then its words.
    for (const span of root.querySelectorAll('.profile-legend span')) {
      const mark = span.querySelector('b');
      const words = document.createRange();
      words.selectNodeContents(span);
      words.setStartAfter(mark);
      const r = words.getBoundingClientRect();
      pieces.push({ el: mark, r: at(mark), content: mark.textContent });
      const gap = 4;  // the space between the mark and its words
      pieces.push({ el: span, r: { x: r.left - box.left + gap, y: r.top - box.top, w: r.width + 2, h: r.height },
                    content: words.toString().trim() });
    }
    const measure = document.createElement('canvas').getContext('2d');
    for (const { el, r, content } of pieces) {
      const style = getComputedStyle(el);
      const size = parseFloat(style.fontSize);
      const colour = el.style.color || style.color;
      const weight = Number(style.fontWeight) >= 600 || style.fontWeight === 'bold' ? 'bold' : 'normal';
      measure.font = `${weight} ${size}px ${fontFamily}`;
      const lines = [];
      let current = '';
      for (const word of content.split(/(\s+)/)) {
        if (current && word.trim() && measure.measureText(current + word).width > r.w + 1) {
          lines.push(current.trimEnd());
          current = word;
        } else {
          current += word;
        }
      }
      if (current.trim()) lines.push(current.trimEnd());
      const lineHeight = parseFloat(style.lineHeight) || size * 1.35;
      lines.forEach((line, i) => text(r.x, r.y + size + i * lineHeight, line, { colour, size, weight }));
    }
    for (const c of charts) {
      const { u } = c;
      const r = at(u.over);
      const clipId = `clip-${c.plot.key}`;
      out.push(`<clipPath id="${clipId}"><rect x="${r.x}" y="${r.y}" width="${r.w}" height="${r.h}"/></clipPath>`);
      const px = (v, scale) => (scale === 'x' ? r.x + u.valToPos(v, 'x') : r.y + u.valToPos(v, scale));
      // The comfort limits.
      if (c.plot.limits) {
        const [lo, hi] = rangeOf(c.plot.key);
        const [upper, lower] = c.plot.limits;
        if (hi > upper) out.push(`<rect x="${r.x}" y="${r.y}" width="${r.w}" height="${(px(upper, 'y') - r.y).toFixed(1)}" fill="${colours.limit}"/>`);
        if (lo < lower) out.push(`<rect x="${r.x}" y="${px(lower, 'y').toFixed(1)}" width="${r.w}" height="${(r.y + r.h - px(lower, 'y')).toFixed(1)}" fill="${colours.limit}"/>`);
      }
      // uPlot's ticks and labels, with the grid.
      u.axes.forEach((a, i) => {
        if (!a._splits || !a._values || a.show === false) return;
        const scale = a.scale;
        const side = a.side;
        a._splits.forEach((v, k) => {
          const label = a._values[k];
          if (label === '' || label == null) return;
          if (side === 2) {
            const x = px(v, 'x');
            if (x < r.x - 0.5 || x > r.x + r.w + 0.5) return;
            out.push(`<line x1="${x.toFixed(1)}" y1="${r.y}" x2="${x.toFixed(1)}" y2="${r.y + r.h}" stroke="${colours.grid}"/>`);
            text(x, r.y + r.h + 16, label, { colour: colours.axis, size: 12, anchor: 'middle' });
          } else {
            const y = px(v, scale);
            if (y < r.y - 0.5 || y > r.y + r.h + 0.5) return;
            if (i === 1) out.push(`<line x1="${r.x}" y1="${y.toFixed(1)}" x2="${r.x + r.w}" y2="${y.toFixed(1)}" stroke="${colours.grid}"/>`);
            text(side === 3 ? r.x - 6 : r.x + r.w + 6, y + 4, label,
                 { colour: colours.axis, size: 12, anchor: side === 3 ? 'end' : 'start' });
          }
        });
        if (a.label && side === 2) text(r.x + r.w / 2, r.y + r.h + 34, a.label, { colour: colours.axis, size: 13, anchor: 'middle' });
      });
      out.push(`<g clip-path="url(#${clipId})">`);
      for (let s = 1; s < u.series.length; s += 1) {
        const series = u.series[s];
        let run = [];
        const flush = () => { polyline(run, series.stroke(), series.width, series.dash); run = []; };
        u.data[s].forEach((y, i) => {
          if (y === null) { flush(); return; }
          if (y === undefined) return;
          run.push([px(u.data[0][i], 'x'), px(y, series.scale)]);
        });
        flush();
      }
      const stop = stopX();
      if (stop != null) {
        const x = px(stop, 'x');
        out.push(`<line x1="${x}" y1="${r.y}" x2="${x}" y2="${r.y + r.h}" stroke="${colours.stop}" stroke-width="2" stroke-dasharray="6 4"/>`);
      }
      if (cursorX != null) {
        const x = px(cursorX, 'x').toFixed(1);
        out.push(`<line x1="${x}" y1="${r.y}" x2="${x}" y2="${r.y + r.h}" stroke="${colours.cursor}" stroke-dasharray="2 3"/>`);
      }
      out.push('</g>');
      out.push(`<rect x="${r.x}" y="${r.y}" width="${r.w}" height="${r.h}" fill="none" stroke="${colours.grid}"/>`);
    }
    for (const m of maps) {
      const g = m.geometry();
      if (!g) continue;
      const r = at(m.canvas);
      out.push(`<g transform="translate(${r.x.toFixed(1)} ${r.y.toFixed(1)})">`);
      out.push(`<rect width="${r.w}" height="${r.h}" fill="${colours.background}" stroke="${colours.grid}"/>`);
      text(6, 16, g.caption, { colour: colours.axis });
      for (const l of g.lines) polyline(l.points, l.colour, l.width, l.dash);
      for (const b of g.bars) {
        const vertical = b.x0 === b.x1;
        polyline([[b.x0, b.y0], [b.x1, b.y1]], colours.text, 1.2);
        for (const [x, y] of [[b.x0, b.y0], [b.x1, b.y1]]) {
          polyline(vertical ? [[x - 4, y], [x + 4, y]] : [[x, y - 4], [x, y + 4]], colours.text, 1.2);
        }
        text(vertical ? b.x0 + 6 : b.x1 + 6, vertical ? (b.y0 + b.y1) / 2 + 4 : b.y0 + 4, b.text);
      }
      if (g.start) {
        const s = g.start;
        out.push(`<circle cx="${s.at[0].toFixed(1)}" cy="${s.at[1].toFixed(1)}" r="4.5" fill="${colours.start}"/>`);
        polyline([s.at, s.to], colours.start, 2);
        const angle = Math.atan2(s.to[1] - s.from[1], s.to[0] - s.from[0]);
        const head = [s.to, ...[0.45, -0.45].map((a) => [s.to[0] - 9 * Math.cos(angle + a), s.to[1] - 9 * Math.sin(angle + a)])];
        out.push(`<path d="M${head.map((p) => p.map((v) => v.toFixed(1)).join(' ')).join('L')}Z" fill="${colours.start}"/>`);
        text(s.at[0] + 7, s.at[1] + (s.at[1] < 40 ? 16 : -7), 'start', { colour: colours.start });
      }
      for (const w of tracks()) {
        const k = cursorX == null ? -1 : sampleAt(w, cursorX);
        if (k < 0) continue;
        const [x, y] = g.dot(w, k);
        out.push(`<circle cx="${x.toFixed(1)}" cy="${y.toFixed(1)}" r="5" fill="${colours[w]}" stroke="${colours.background}" stroke-width="1.5"/>`);
      }
      out.push('</g>');
    }
    // A drawing about as wide as a landscape page, its text in a named sans family.
    const widthMm = 280;
    return `<?xml version="1.0" encoding="UTF-8"?>\n` +
      `<svg xmlns="http://www.w3.org/2000/svg" xml:space="preserve" style="white-space: pre" width="${widthMm}mm" height="${((widthMm * H) / W).toFixed(1)}mm" ` +
      `viewBox="0 0 ${W} ${H}" font-family='${fontFamily}'>\n<title>Ride profile</title>\n` +
      `<desc>${escapeXml(root.querySelector('.profile-caption').textContent)}</desc>\n` +
      `${out.join('\n')}\n</svg>\n`;
  }

  // The picture carries the date it was made.
  function withDate(make) {
    const caption = document.querySelector('#plots .profile-caption');
    const saved = caption.textContent;
    caption.textContent = `${message.caption} · ${today()}`;
    try {
      return make();
    } finally {
      caption.textContent = saved;
    }
  }

  function saveSvg() {
    const svg = withDate(svgDrawing);
    download(`${stemOf()}-profile.svg`, new Blob([svg], { type: 'image/svg+xml' }));
  }

  async function savePng() {
    const svg = withDate(svgDrawing);
    const url = URL.createObjectURL(new Blob([svg], { type: 'image/svg+xml' }));
    try {
      const image = new Image();
      await new Promise((resolve, reject) => {
        image.onload = resolve;
        image.onerror = () => reject(new Error('the picture could not be drawn'));
        image.src = url;
      });
      const box = document.getElementById('plots').getBoundingClientRect();
      const canvas = document.createElement('canvas');
      canvas.width = Math.ceil(box.width) * 2;  // sharp when zoomed or printed
      canvas.height = Math.ceil(box.height) * 2;
      canvas.getContext('2d').drawImage(image, 0, 0, canvas.width, canvas.height);
      const blob = await new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
      download(`${stemOf()}-profile.png`, blob);
    } finally {
      URL.revokeObjectURL(url);
    }
  }

  // ---- Putting it together.

  let onCsv = null;

  // What the plots are made for: a new profile with the same view and axis
  // and the same tracks, or the rebuilt one added after a run, only needs
  // new data (and series) in them.
  let frameKey = null;
  let frameTracks = [];
  const keyOf = () => `${view}|${axis}`;
  const fitsFrame = () => charts.length > 0 && keyOf() === frameKey && tracks().length > 0 &&
    frameTracks.every((w, i) => tracks()[i] === w);

  // `deferViews`: the views wait for the frame that paints the plots (a new
  // profile); else they are drawn at once (a switch, a resize).
  function build({ deferViews = false } = {}) {
    const holder = document.getElementById('plots');
    for (const c of charts) c.u.destroy();
    charts = [];
    maps = [];
    activeChart = null;
    holder.textContent = '';
    frameKey = null;
    if (!message || tracks().length === 0) return;
    frameKey = keyOf();
    frameTracks = tracks();

    const caption = document.createElement('p');
    caption.className = 'profile-caption';
    caption.textContent = message.caption;
    const controls = document.createElement('div');
    controls.className = 'profile-controls';
    controls.append(
      radioPair('profile-view', 'Forces:', ['felt', 'raw'], view, (v) => { view = v; build(); }),
      radioPair('profile-axis', 'Along:', ['distance', 'time'], axis, (a) => switchAxis(a)));
    const hint = document.createElement('span');
    hint.className = 'dim hint';
    hint.textContent = 'Wheel or drag across a plot to zoom, Shift+drag to pan, double-click for the whole ride.';
    const exports = document.createElement('span');
    exports.className = 'exports';
    const button = (label, id, action, enabled = true) => {
      const b = document.createElement('button');
      b.type = 'button';
      b.id = id;
      b.textContent = label;
      b.disabled = !enabled;
      b.addEventListener('click', action);
      exports.append(b);
    };
    button('CSV loaded', 'export-csv-loaded', () => onCsv && onCsv('loaded'));
    button('CSV rebuilt', 'export-csv-rebuilt', () => onCsv && onCsv('rebuilt'),
           !!(message.rebuilt && !message.rebuilt.error));
    button('PNG', 'export-png', () => savePng());
    button('SVG', 'export-svg', () => saveSvg());
    controls.append(hint, exports);

    const body = document.createElement('div');
    body.className = 'profile-columns';
    const column = document.createElement('div');
    column.className = 'profile-plots';
    const side = document.createElement('div');
    side.className = 'profile-side';
    body.append(column, side);
    const out = document.createElement('p');
    out.id = 'profile-readout';
    holder.append(caption, controls, legend(), body, out);

    const width = Math.max(300, column.clientWidth);
    plots.forEach((plot, i) => charts.push(makeChart(plot, i, column, width)));

    side.append(summaryTable());
    const limitsTitle = document.createElement('p');
    limitsTitle.className = 'side-title';
    limitsTitle.textContent = 'Beyond the comfort limits';
    const note = document.createElement('p');
    note.className = 'dim profile-note-limits';
    note.textContent = message.comfortNote;
    side.append(limitsTitle, exceedanceList(), note);
    for (const kind of ['top', 'side']) maps.push(makeMap(kind, side));
    redrawAll();
    if (deferViews) {
      afterPlotsShown(showViews);
    } else {
      showViews();
    }
  }

  // The views from above and from the side, and the cursor's read-out and
  // dots on them.
  function showViews() {
    for (const m of maps) m.layout();
    hover(cursorX);
  }

  // The plots show first: `work` (what the plots do not need) waits until
  // the frame that draws them has been painted, or a quarter of a second
  // where no frame comes (a page in the background). A newer call replaces
  // work still waiting; an export or settled() does it at once.
  let waiting = null;
  let waiters = [];
  function afterPlotsShown(work) {
    const token = {};
    waiting = { token, work };
    const go = () => {
      if (waiting && waiting.token === token) setTimeout(finishWaiting, 0);
    };
    requestAnimationFrame(() => {
      // The first task after the painted frame.
      setTimeout(() => {
        performance.clearMarks('cvqrn:plots-painted');
        performance.mark('cvqrn:plots-painted');
      }, 0);
      go();
    });
    setTimeout(go, 250);
  }
  function finishWaiting() {
    const pending = waiting;
    waiting = null;
    if (pending) pending.work();
    for (const resolve of waiters.splice(0)) resolve();
  }
  // Resolves once the work held back by afterPlotsShown is done.
  function settled() {
    if (!waiting) return Promise.resolve();
    return new Promise((resolve) => waiters.push(resolve));
  }

  // The series of a track the plots do not draw yet (the rebuilt one after a
  // run): uPlot adds them to the plots as they are.
  function addSeries() {
    for (const c of charts) {
      const { series } = plotData(c.plot, null, false);
      for (const s of series.slice(c.series.length)) c.u.addSeries(seriesOptions(s));
      c.series = series;
    }
    frameTracks = tracks();
  }

  // A new profile in the plots made for it: texts, figures, views and data.
  function refresh() {
    const holder = document.getElementById('plots');
    holder.querySelector('.profile-caption').textContent = message.caption;
    holder.querySelector('.profile-legend').replaceWith(legend());
    document.getElementById('export-csv-rebuilt').disabled = !(message.rebuilt && !message.rebuilt.error);
    holder.querySelector('table.summary').replaceWith(summaryTable());
    holder.querySelector('.exceedances').replaceWith(exceedanceList());
    redrawAll();
    afterPlotsShown(showViews);
  }

  function switchAxis(a) {
    // The same stretch of the loaded track stays in view.
    const w = tracks()[0];
    const wasZoomed = zoomed();
    const convert = (x) => {
      const k = sampleAt(w, x);
      return k < 0 ? NaN : (a === 'time' ? message[w].time[k] : message[w].distance[k]);
    };
    const lo = convert(shown[0]);
    const hi = convert(shown[1]);
    axis = a;
    extent = message.extents[axis].slice();
    shown = extent.slice();
    cursorX = null;
    build();
    if (wasZoomed && Number.isFinite(lo) && Number.isFinite(hi)) showRange(lo, hi);
  }

  function show(m) {
    message = m;
    cursorX = null;
    extent = m.extents ? m.extents[axis].slice() : [0, 1];
    shown = extent.slice();
    const note = document.getElementById('profile-note');
    const problems = which.filter((w) => m[w] && m[w].error).map((w) => `No profile of the ${w} track: ${m[w].error}`);
    note.textContent = [m.note, m.stop != null ? 'The red line marks where it stops.' : '', ...problems]
      .filter((t) => t).join(' ');
    note.hidden = note.textContent === '';
    note.classList.toggle('marker-note', m.stop != null || problems.length > 0);
    if (fitsFrame()) {
      addSeries();
      refresh();
    } else {
      build({ deferViews: true });
    }
  }

  document.addEventListener('mousemove', (e) => {
    if (!panning) return;
    const dx = e.clientX - panning.lastX;
    panning.lastX = e.clientX;
    const perPixel = (shown[1] - shown[0]) / (panning.u.bbox.width / uPlot.pxRatio);
    panBy(-dx * perPixel);
  });
  document.addEventListener('mouseup', () => { panning = null; });

  let resizeTimer = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => { if (message) build(); }, 100);
  });

  return {
    show,
    // Where the page's CSV buttons send their request (the worker writes the file).
    onCsv: (fn) => { onCsv = fn; },
    // For the tests: the plots, the decimation and the range.
    charts: () => charts.map((c) => c.u),
    decimate,
    goTo,
    // The 3D panel's side of the shared cursor.
    moveCursor,
    cursorDistance,
    range: () => shown.slice(),
    settled,
    svgDrawing: () => withDate(svgDrawing),
  };
})();
