// The ride profile's plots: speed, vertical g and lateral g against distance,
// the loaded track (heart at the rail) in one colour and the rebuilt track in
// another on the same axes, and where the train stopped after a run that
// valleyed. The figures come from the core's ride profile, sent by the worker
// as {type: 'profile', loaded, rebuilt, stop}: `loaded` and `rebuilt` each
// {distance, speed, vertical, lateral} (arrays of equal length, rebuilt null
// before a run), `stop` the distance where the train stopped or null.
/* global uPlot */
'use strict';

const CvqrnPlots = (() => {
  const charts = [];
  const rows = [
    { key: 'speed', title: 'Speed (m/s)' },
    { key: 'vertical', title: 'Vertical g (below 0 lifts the rider)' },
    { key: 'lateral', title: 'Lateral g (positive towards the rider\'s left)' },
  ];
  const colours = { loaded: '#5fd3c6', rebuilt: '#f0b35a', stop: '#e0302a' };

  // A vertical line where the train stopped.
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
    return Math.max(280, document.getElementById('plots').clientWidth);
  }

  function show({ loaded, rebuilt, stop }) {
    const holder = document.getElementById('plots');
    for (const chart of charts) chart.destroy();
    charts.length = 0;
    holder.textContent = '';
    document.getElementById('profile-note').hidden = true;
    for (const row of rows) {
      const tables = [[loaded.distance, loaded[row.key]]];
      if (rebuilt) tables.push([rebuilt.distance, rebuilt[row.key]]);
      const data = uPlot.join(tables);
      const series = [{ label: 'distance (m)', value: (u, v) => (v == null ? '–' : v.toFixed(1)) },
        { label: 'loaded', stroke: colours.loaded, width: 1.5, spanGaps: true }];
      if (rebuilt) series.push({ label: 'rebuilt', stroke: colours.rebuilt, width: 1.5, spanGaps: true });
      const title = document.createElement('p');
      title.className = 'plot-title';
      title.textContent = row.title;
      if (stop != null) {
        const note = document.createElement('span');
        note.className = 'marker-note';
        note.textContent = `  · the train stopped at ${stop.toFixed(1)} m`;
        title.append(note);
      }
      const box = document.createElement('div');
      holder.append(title, box);
      charts.push(new uPlot({
        width: width(), height: 170, series, plugins: [stopMarker(stop)],
        scales: { x: { time: false } },
        axes: [{ stroke: '#8fa6b2', grid: { stroke: '#33454f' } },
               { stroke: '#8fa6b2', grid: { stroke: '#33454f' } }],
        cursor: { sync: { key: 'profile' } },
      }, data, box));
    }
  }

  window.addEventListener('resize', () => {
    for (const chart of charts) chart.setSize({ width: width(), height: 170 });
  });

  return { show };
})();
