// The ride profile's plots: speed, vertical g and lateral g against distance,
// the loaded track (heart on the rail) in one colour and, after a run, the
// rebuilt track (heart at the heartline distance) in another on the same
// axes, with their summary figures; after a run that valleyed, a line where
// the train stopped. The figures are the core's ride profile, sent by the
// worker as {type: 'profile', loaded, rebuilt, rebuild, stop, note}: `loaded`
// and `rebuilt` each {distance, speed, vertical, lateral, summary} or {error}
// (rebuilt null before a run or after a failed one), `rebuild` which rebuild
// made it, `stop` where the train stops after a valley (the run's figure) and
// `note` what to say about it.
/* global uPlot */
'use strict';

const CvqrnPlots = (() => {
  const charts = [];
  const rows = [
    { key: 'speed', title: 'Speed (m/s)' },
    { key: 'vertical', title: 'Vertical g (below 0 lifts the rider out of the seat)' },
    { key: 'lateral', title: 'Lateral g (positive towards the rider\'s left)' },
  ];
  const colours = { loaded: '#5fd3c6', rebuilt: '#f0b35a', stop: '#ff4a3d' };
  const height = 170;

  // A dashed vertical line where the train stopped.
  function stopMarker(stop) {
    return {
      hooks: {
        draw: [(u) => {
          if (stop == null) return;
          const x = Math.round(u.valToPos(stop, 'x', true));
          const { ctx } = u;
          ctx.save();
          ctx.strokeStyle = colours.stop;
          ctx.lineWidth = 2 * devicePixelRatio;
          ctx.setLineDash([6 * devicePixelRatio, 4 * devicePixelRatio]);
          ctx.beginPath();
          ctx.moveTo(x, u.bbox.top);
          ctx.lineTo(x, u.bbox.top + u.bbox.height);
          ctx.stroke();
          ctx.restore();
        }],
      },
    };
  }

  function width() {
    return Math.max(260, document.getElementById('plots').clientWidth);
  }

  // uPlot leaves gaps at null, not at NaN (where the train does not get, or
  // the track is vertical).
  const gaps = (values) => Array.from(values, (v) => (Number.isFinite(v) ? v : null));

  const fixed = (v, digits) => (v == null || !Number.isFinite(v) ? '–' : v.toFixed(digits));
  // Axis labels with a point whatever the browser's language (uPlot would
  // follow the language), with as many decimals as the tick spacing needs.
  const tickValues = (u, splits, axis, space, increment) => {
    const decimals = Math.max(0, Math.min(6, -Math.floor(Math.log10(increment || 1))));
    return splits.map((v) => (v == null ? '' : v.toFixed(decimals)));
  };
  const where = (e) => (e ? ` at ${fixed(e.distance, 1)} m` : '');

  function summaryTable(profiles) {
    const table = document.createElement('table');
    table.className = 'summary';
    table.id = 'profile-figures';
    // The plots' text alternative.
    table.createCaption().textContent = 'Ride profile figures';
    const lines = [
      ['', ...profiles.map((p) => p.label)],
      ['Highest vertical g', ...profiles.map((p) => fixed(p.summary.maxVertical?.value, 2) + where(p.summary.maxVertical))],
      ['Lowest vertical g', ...profiles.map((p) => fixed(p.summary.minVertical?.value, 2) + where(p.summary.minVertical))],
      ['Largest lateral g', ...profiles.map((p) => fixed(p.summary.maxLateral?.value, 2) + where(p.summary.maxLateral))],
      ['Lateral g RMS (over 5 m)', ...profiles.map((p) => `${fixed(p.summary.lateralRms, 3)} (${fixed(p.summary.lateralRms5m, 3)})`)],
      ['Speed (m/s)', ...profiles.map((p) => `${fixed(p.summary.minSpeed?.value, 1)} to ${fixed(p.summary.maxSpeed?.value, 1)}`)],
      ['Heart path (m)', ...profiles.map((p) => fixed(p.summary.length, 1))],
    ];
    lines.forEach((cells, i) => {
      const tr = table.insertRow();
      cells.forEach((text, j) => {
        const cell = document.createElement(i === 0 || j === 0 ? 'th' : 'td');
        cell.textContent = text;
        if (i === 0 && j > 0) cell.style.color = profiles[j - 1].colour;
        tr.append(cell);
      });
    });
    return table;
  }

  function show({ loaded, rebuilt, rebuild, stop, note: runNote }) {
    const holder = document.getElementById('plots');
    const note = document.getElementById('profile-note');
    for (const chart of charts) chart.destroy();
    charts.length = 0;
    holder.textContent = '';
    const profiles = [];
    const problems = [];
    const rebuiltLabel = rebuild ? `rebuilt (${rebuild})` : 'rebuilt';
    for (const [label, colour, p] of [['loaded', colours.loaded, loaded], [rebuiltLabel, colours.rebuilt, rebuilt]]) {
      if (!p) continue;
      if (p.error) problems.push(`No profile of the ${label} track: ${p.error}`);
      else profiles.push({ label, colour, ...p });
    }
    note.textContent = [runNote, stop != null ? 'The red line marks where it stops.' : '', ...problems]
      .filter((t) => t).join(' ');
    note.hidden = note.textContent === '';
    note.classList.toggle('marker-note', stop != null || problems.length > 0);
    if (profiles.length === 0) return;

    for (const row of rows) {
      const data = uPlot.join(profiles.map((p) => [Array.from(p.distance), gaps(p[row.key])]));
      const series = [{ label: 'distance (m)', value: (u, v) => fixed(v, 1) }];
      for (const p of profiles) {
        series.push({ label: p.label, stroke: p.colour, width: 1.5, spanGaps: false,
                      value: (u, v) => fixed(v, 2) });
      }
      const title = document.createElement('p');
      title.className = 'plot-title';
      title.textContent = row.title;
      const box = document.createElement('div');
      box.className = `plot plot-${row.key}`;
      box.setAttribute('role', 'img');
      box.setAttribute('aria-label', `${row.title} along the track; the figures are in the table ` +
                                     'Ride profile figures below');
      box.setAttribute('aria-describedby', 'profile-figures');
      holder.append(title, box);
      charts.push(new uPlot({
        width: width(), height, series, plugins: [stopMarker(stop)],
        scales: { x: { time: false } },
        axes: [{ stroke: '#8fa6b2', grid: { stroke: '#33454f' }, ticks: { stroke: '#33454f' },
                 values: tickValues },
               { stroke: '#8fa6b2', grid: { stroke: '#33454f' }, ticks: { stroke: '#33454f' }, size: 56,
                 values: tickValues }],
        cursor: { sync: { key: 'profile' } },
        hooks: { setCursor: [tellCursor] },
      }, data, box));
    }
    holder.append(summaryTable(profiles));
  }

  // The cursor's distance, for the 3D panel.
  let told = null;
  function tellCursor(u) {
    const { idx } = u.cursor;
    if (idx == null) return;
    const distance = u.data[0][idx];
    if (distance === told) return;
    told = distance;
    document.dispatchEvent(new CustomEvent('cvqrn-cursor', { detail: { distance } }));
  }

  // The cursor to `distance` (from the 3D panel); the synced plots follow.
  function moveCursor(distance) {
    const u = charts[0];
    if (!u) return;
    told = null;
    // Fired and published, so that the other plots' cursors follow.
    u.setCursor({ left: u.valToPos(distance, 'x'), top: u.bbox.height / devicePixelRatio / 2 }, true, true);
  }

  window.addEventListener('resize', () => {
    for (const chart of charts) chart.setSize({ width: width(), height });
  });

  return { show, moveCursor };
})();
