// The page in Debian's Chromium, headless:
//   node page_test.mjs SITE NATIVE_BUILD SAMPLES_DIR CORPUS_DIR WORK_DIR
// SITE is the built page, NATIVE_BUILD the dev build (its cv-qrn-cli and
// make_long_track), CORPUS_DIR a folder made by make_corpus (layouts and cases.txt). Checks that
//  - every sample and every corpus case gives, downloaded from the page, the
//    very bytes cv-qrn-cli heartline writes with the same settings (or fails
//    where it fails), and the samples and the first layouts again with the
//    Smooth ride switch on give the bytes of `heartline --smooth`;
//  - a damaged file, a valley and refused settings show their messages, and
//    the fields keep to their input rules; after a refused load no track is shown;
//  - the page answers and paints while a long run works in its worker, and a
//    Save made while the profiles are still computing is not lost;
//  - loads show their progress, a file too large for the page is refused at once;
//  - in a German browser a decimal comma goes in as a point and every number
//    has a point; the page fits a phone from 320 px; the accessibility tree
//    names the lights and the plots' table, and the display fields are no live
//    regions; text and focus ring contrast; favicon, two dropped files, the
//    warning before a result is lost, the Smooth ride switch;
//  - the ride profile's plots line up, zoom together and draw no more points
//    than they have pixels across, the decimation keeps every local extreme, and
//    the CSV, PNG and SVG exports carry what they should; runs after a load
//    refill the plots as plots made afresh draw them, the views drawn too.
import { execFile, execFileSync, spawnSync } from 'node:child_process';
import { closeSync, existsSync, mkdirSync, openSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { basename, join } from 'node:path';
import { launch, openPage } from './browser.mjs';

const [site, nativeBuild, samplesDir, corpusDir, work] = process.argv.slice(2);
const cli = join(nativeBuild, 'cli', 'cv-qrn-cli');
if (!work) {
  console.error('usage: node page_test.mjs SITE NATIVE_BUILD SAMPLES_DIR CORPUS_DIR WORK_DIR');
  process.exit(2);
}
mkdirSync(work, { recursive: true });

const failures = [];
function check(ok, what) {
  if (!ok) {
    failures.push(what);
    console.log(`FAIL ${what}`);
  }
}

// How many runs the byte comparison repeats with the smooth rebuild: the
// samples and the first 40 layouts.
const kSmoothCases = 43;
const kValleyText = 'Something went wrong! The train probably valleyed. Check the speed settings.';
const optionField = {
  '--segments': 'str_segments', '--precision': 'str_precision', '--heartline': 'str_heartline',
  '--start-speed': 'str_startspeed', '--end-speed': 'str_endspeed', '--filter': 'str_filter',
};
const defaults = {
  str_segments: '100', str_heartline: '1.04', str_startspeed: '14.3', str_endspeed: '12.9',
  str_precision: '6', str_filter: '15',
};

// The field texts for cv-qrn-cli options of the form --name=value.
function fieldsOf(args) {
  const fields = { ...defaults };
  for (const arg of args) {
    const [name, value] = arg.split('=');
    if (name in optionField) fields[optionField[name]] = value;
  }
  return fields;
}

function nativeRun(input, args) {
  const out = join(work, 'native.cvtrack');
  const run = spawnSync(cli, ['heartline', input, out, ...args], { encoding: 'utf8' });
  return run.status === 0 ? readFileSync(out) : null;
}

// The same run in the background, into a file of its own: the bytes, or null
// where cv-qrn-cli fails.
function nativeRunLater(input, args, out) {
  return new Promise((resolve) => {
    execFile(cli, ['heartline', input, out, ...args], (error) => {
      resolve(error ? null : readFileSync(out));
    });
  });
}

function cases() {
  const list = [];
  for (const f of readdirSync(samplesDir).filter((n) => n.endsWith('.cvtrack')).sort()) {
    list.push({ name: f, input: join(samplesDir, f), args: [] });
    list.push({ name: `${f} hanging`, input: join(samplesDir, f),
                args: ['--heartline=-1.1', '--start-speed=20'] });
  }
  const corpus = [];
  for (const line of readFileSync(join(corpusDir, 'cases.txt'), 'utf8').split('\n')) {
    const [file, ...args] = line.trim().split(/\s+/);
    if (file) corpus.push({ name: file, input: join(corpusDir, file), args, corpus: true });
  }
  list.push(...corpus);
  // The smooth rebuild with the Smooth ride switch on: the samples and the
  // first corpus layouts, which it rebuilds or refuses as cv-qrn-cli does.
  const smooth = list.filter((c) => !c.name.endsWith('hanging')).slice(0, kSmoothCases);
  for (const c of smooth) {
    list.push({ ...c, name: `${c.name} smooth`, args: [...c.args, '--smooth'], corpus: false, smooth: true });
  }
  return list;
}

async function sameBytesAsNative(p) {
  let compared = 0;
  let comparedCorpus = 0;
  let failed = 0;
  let comparedSmooth = 0;
  // cv-qrn-cli runs the cases one after the other while the page works on the
  // ones before (both cores busy, not one waiting for the other).
  const list = cases();
  const expectedBytes = [];
  let previous = Promise.resolve();
  list.forEach((c, i) => {
    previous = previous.then(() => nativeRunLater(c.input, c.args, join(work, `native-${i}.cvtrack`)));
    expectedBytes.push(previous);
  });
  for (const [i, c] of list.entries()) {
    const expected = await expectedBytes[i];
    await p.setFields(fieldsOf(c.args));
    const smoothOn = await p.page.$eval('#chk_smooth', (e) => e.checked);
    if (smoothOn !== Boolean(c.smooth)) await p.page.click('#chk_smooth');
    await p.load(c.input);
    check((await p.box()) === null, `${c.name}: loads without a message`);
    await p.heartline();
    const box = await p.box();
    if (expected === null) {
      failed += 1;
      check(box !== null && box.text.length > 0, `${c.name}: the page reports the failure cv-qrn-cli reports`);
      if (box) await p.closeBox();
      continue;
    }
    check(box === null, `${c.name}: runs without a message (${box && box.text})`);
    if (box) {
      await p.closeBox();
      continue;
    }
    const download = await p.save();
    const stem = basename(c.input, '.cvtrack');
    check(download.name === `${stem}-hl.cvtrack`, `${c.name}: download named ${download.name}`);
    check(Buffer.compare(download.bytes, expected) === 0, `${c.name}: downloaded bytes equal cv-qrn-cli's`);
    compared += 1;
    if (c.corpus) comparedCorpus += 1;
    if (c.smooth) comparedSmooth += 1;
  }
  if (await p.page.$eval('#chk_smooth', (e) => e.checked)) await p.page.click('#chk_smooth');
  console.log(`byte-identical: ${compared} runs compared (${comparedCorpus} corpus layouts, ` +
              `${comparedSmooth} smooth rebuilds), ${failed} failing in both`);
  return { comparedCorpus, comparedSmooth };
}

async function messages(p) {
  // A damaged file: the first half of a sample.
  const whole = readFileSync(join(samplesDir, 'family_coaster.cvtrack'));
  const damaged = join(work, 'damaged.cvtrack');
  writeFileSync(damaged, whole.subarray(0, whole.length >> 1));
  // A track first, so that the refusal has something to replace.
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  await p.heartline();
  await p.load(damaged);
  let box = await p.box();
  check(box && box.title === 'Load Error' && box.detail.length > 0 &&
        box.text.startsWith('Error Loading Track File!\n\nCV-QRN cannot open "damaged.cvtrack". The file ends early'),
        `a damaged file is refused with its name and reason in plain words: ${JSON.stringify(box)}`);
  if (box) await p.closeBox();
  // The page then shows no track: no old name, end data, lights, plots or "OK".
  const shown = await p.page.evaluate(() => ({
    name: document.getElementById('track-name').textContent,
    slope: document.getElementById('str_slope_in').textContent,
    lights: [...document.querySelectorAll('.light.on')].length,
    plots: document.querySelectorAll('#plots .plot').length,
    note: document.getElementById('profile-note').textContent,
    message: document.getElementById('message').value,
  }));
  check(shown.name.startsWith('No track loaded') && shown.slope === '–' && shown.lights === 0 &&
        shown.plots === 0 && shown.note === 'No track loaded.' && shown.message === '',
        `after a refused load the page shows no track: ${JSON.stringify(shown)}`);
  const notTrack = join(work, 'notes.txt');
  writeFileSync(notTrack, 'not a track');
  await p.load(notTrack);
  box = await p.box();
  check(box && box.text.startsWith('Error Loading Track File!\n\nCV-QRN cannot open "notes.txt". CV-QRN opens only files whose names end in ".cvtrack".'),
        `a file with another name is refused with the rule: ${JSON.stringify(box)}`);
  if (box) await p.closeBox();
  await p.heartline();
  check((await p.box()) === null && !(await p.lightOn('heartlined')),
        'after a refused load Heartline does nothing');

  // A valley, at the window's defaults on the high hill.
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'high_hill.cvtrack'));
  await p.heartline();
  box = await p.box();
  // cv-qrn-cli prints the same message and, on the next line, where the train stopped.
  const native = spawnSync(cli, ['heartline', join(samplesDir, 'high_hill.cvtrack'), join(work, 'hill.cvtrack')],
                           { encoding: 'utf8' }).stderr.split('\n');
  check(box && box.text.startsWith(kValleyText) && native[0] === kValleyText && box.detail.split('\n')[0] === native[1],
        `the high hill valleys with the message and where, as cv-qrn-cli says it: ${JSON.stringify(box)} / ${native[1]}`);
  // The advice under the designed text, as cv-qrn-cli gives it; the plots' note
  // repeats it, with the stop where the box's details put it.
  check(box && box.text === `${kValleyText}\n\n${native[2]}.`, `the valley box advises: ${box && box.text}`);
  // Read before the box closes: the line shows it for 3 s only.
  check((await p.text('#message')) === '- ERROR -', 'the message line says - ERROR -');
  if (box) await p.closeBox();
  const where = / ([0-9]+\.[0-9]{3}) m along the track/.exec(native[1]);
  const note = await p.text('#profile-note');
  check(where && note.includes(`the train stops ${where[1]} m along the track.`) && note.includes(native[2]),
        `the plots' note gives the stop as ${where && where[1]} m and the advice: ${note}`);
  const downloadsBefore = readdirSync(p.downloads).length;
  await p.act(() => p.page.click('#btnSave'));
  check(readdirSync(p.downloads).length === downloadsBefore, 'nothing is saved after a failed run');

  // Refused settings: no 16-bit value, a value the run cannot take, no number.
  for (const [field, text, words] of [
    ['str_segments', '40000', /^Segments \(#\) must be a whole number from 1 to 32,767; "40000" is outside that range\.$/],
    ['str_filter', '-99999', /^Filter \(#\) must be a whole number/],
    ['str_segments', '0', /segment/i],
    ['str_heartline', '', / holds no number\. Type a value into it and run again\.$/],
    ['str_endspeed', '-', / holds no number\./],
  ]) {
    await p.setFields({ ...defaults, str_startspeed: '20', [field]: text });
    await p.heartline();
    box = await p.box();
    check(box && box.title === 'Invalid Setting' && words.test(box.text),
          `${field} = ${text} is refused: ${JSON.stringify(box)}`);
    if (box) await p.closeBox();
  }
}

// Clicks `selector` and returns the file it downloads: {name, bytes}.
async function downloadOf(p, selector) {
  p.clearDownloads();
  await p.page.click(selector);
  return p.download();
}

// The ride profile's plots after a load, a run and a valley; then, on the
// loop sample: plot areas that line up, series cut down to their pixels, one
// range through zoom and reset, the exceedance list, and the exports.
async function plots(p) {
  const state = () => p.page.evaluate(() => ({
    plots: document.querySelectorAll('#plots .plot').length,
    series: CvqrnPlots.charts()[0].series.length - 1,
    note: document.getElementById('profile-note').hidden ? '' : document.getElementById('profile-note').textContent,
  }));
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  let s = await state();
  check(s.plots === 5 && s.series === 1, `after a load: five plots of the loaded track (${JSON.stringify(s)})`);
  await p.heartline();
  s = await state();
  check(s.plots === 5 && s.series === 2, `after a run: loaded and rebuilt on each plot (${JSON.stringify(s)})`);
  await p.load(join(samplesDir, 'high_hill.cvtrack'));
  await p.heartline();
  if (await p.box()) await p.closeBox();
  s = await state();
  check(s.plots === 5 && s.series === 1 && /the train stops [0-9]+\.[0-9]{3} m along the track\./.test(s.note),
        `after a valley: the loaded track and where the train stopped (${JSON.stringify(s)})`);

  const loop = join(samplesDir, 'loop_and_helix.cvtrack');
  await p.setFields(defaults);
  await p.load(loop);
  await p.heartline();
  // Every plot area starts and ends at the same pixel; no series holds more
  // points than the plot has pixels across.
  const layout = await p.page.evaluate(() => CvqrnPlots.charts().map((u) => {
    const r = u.over.getBoundingClientRect();
    const pixels = u.bbox.width / uPlot.pxRatio;
    const most = Math.max(...u.data.slice(1).map((ys) => ys.filter((v) => v !== undefined).length));
    return { left: r.left, right: r.right, pixels, most };
  }));
  check(layout.length === 5 && layout.every((l) => l.left === layout[0].left && l.right === layout[0].right),
        `the plot areas line up: ${JSON.stringify(layout.map((l) => [l.left, l.right]))}`);
  check(layout.every((l) => l.most <= l.pixels + 3),
        `no more points than pixels across: ${JSON.stringify(layout.map((l) => [l.most, l.pixels]))}`);

  // The decimation keeps each column's lowest and highest value, so every
  // local extreme of the series lies within what its column draws.
  const kept = await p.page.evaluate(() => {
    const n = 20000;
    const xs = new Float64Array(n);
    const ys = new Float64Array(n);
    let seed = 7;
    const random = () => { seed = (seed * 16807) % 2147483647; return seed / 2147483647 - 0.5; };
    for (let i = 0; i < n; i += 1) { xs[i] = 0.5 * i; ys[i] = Math.sin(xs[i] / 300) + 0.2 * random(); }
    ys[1234] = 41; ys[5000] = -30; ys[9000] = NaN;
    const problems = [];
    for (const [lo, hi] of [[0, 9999.5], [2000, 3000]]) {
      const columns = 300;
      const [dx, dy] = CvqrnPlots.decimate(xs, ys, lo, hi, columns);
      if (dx.length > 2 * columns + 3) problems.push(`${dx.length} points`);
      const col = (v) => Math.min(columns - 1, Math.floor((v - lo) * (columns / (hi - lo))));
      const drawnLo = new Array(columns).fill(Infinity);
      const drawnHi = new Array(columns).fill(-Infinity);
      dx.forEach((x, k) => {
        if (dy[k] === null || x < lo || x > hi) return;
        drawnLo[col(x)] = Math.min(drawnLo[col(x)], dy[k]);
        drawnHi[col(x)] = Math.max(drawnHi[col(x)], dy[k]);
      });
      for (let i = 1; i + 1 < n; i += 1) {
        if (xs[i] < lo || xs[i] > hi || !Number.isFinite(ys[i])) continue;
        const extreme = (ys[i] > ys[i - 1] && ys[i] > ys[i + 1]) || (ys[i] < ys[i - 1] && ys[i] < ys[i + 1]);
        if (extreme && !(ys[i] >= drawnLo[col(xs[i])] && ys[i] <= drawnHi[col(xs[i])])) problems.push(`sample ${i}`);
      }
      if (lo === 0 && !(dy.includes(41) && dy.includes(-30) && dy.includes(null))) problems.push('spikes or gap lost');
    }
    return problems;
  });
  check(kept.length === 0, `the decimation keeps every local extreme: ${kept.slice(0, 5).join(', ')}`);

  // A wheel step on one plot zooms all of them; a double-click shows the whole ride.
  const ranges = () => p.page.evaluate(() => CvqrnPlots.charts().map((u) => [u.scales.x.min, u.scales.x.max]));
  const whole = await ranges();
  await p.page.evaluate(() => {
    const u = CvqrnPlots.charts()[1];
    const r = u.over.getBoundingClientRect();
    u.over.dispatchEvent(new WheelEvent('wheel', { deltaY: -200, clientX: r.left + r.width / 2,
                                                   clientY: r.top + r.height / 2, bubbles: true, cancelable: true }));
  });
  const zoomed = await ranges();
  check(zoomed.every((r) => r[0] === zoomed[0][0] && r[1] === zoomed[0][1]) &&
        Math.abs((zoomed[0][1] - zoomed[0][0]) - 0.64 * (whole[0][1] - whole[0][0])) < 1e-6,
        `a wheel step zooms every plot alike: ${JSON.stringify(zoomed[0])} of ${JSON.stringify(whole[0])}`);
  await p.page.evaluate(() => {
    const u = CvqrnPlots.charts()[3];
    u.over.dispatchEvent(new MouseEvent('dblclick', { bubbles: true, cancelable: true }));
  });
  check(JSON.stringify(await ranges()) === JSON.stringify(whole), 'a double-click shows the whole ride again');

  // The exceedance list: a click centres the plots on the stretch.
  const listed = await p.page.evaluate(() => [...document.querySelectorAll('#plots .exceedances li.goto')].map((li) => li.textContent));
  check(listed.length > 0 && /^loaded: Vertical above \+6 g at [0-9.]+–[0-9.]+ m for [0-9.]+ s, peak [0-9.]+ g$/.test(listed[0]),
        `the loop's exceedances are listed with where and how long: ${listed[0]}`);
  await p.page.click('#plots .exceedances li.goto');
  const centred = await p.page.evaluate(() => CvqrnPlots.range());
  check(centred[1] - centred[0] < 0.2 * (whole[0][1] - whole[0][0]), `a click on an exceedance zooms to it: ${centred}`);
  await p.page.evaluate(() => CvqrnPlots.charts()[0].over.dispatchEvent(new MouseEvent('dblclick', { bubbles: true })));

  // The rebuilt figures are judged against the loaded ones: the default
  // rebuild's loop pushes far harder sideways, and the table says so.
  const judged = await p.page.evaluate(() => [...document.querySelectorAll('#plots table.summary tr')]
    .filter((tr) => tr.cells.length === 3)
    .map((tr) => [tr.cells[0].textContent, tr.cells[2].className, tr.cells[2].title]));
  const lateralRow = judged.find((r) => r[0] === 'Largest lateral');
  check(lateralRow && lateralRow[1].split(' ').includes('worse') &&
        lateralRow[2].startsWith('Worse than the loaded track by more than 0.1 g.'),
        `the rebuilt lateral is marked worse: ${JSON.stringify(lateralRow)}`);
  check(judged.filter((r) => r[0] === 'Highest vertical' || r[0] === 'Lowest speed')
    .every((r) => !/better|worse|same/.test(r[1])), `speeds and the highest vertical are not judged: ${JSON.stringify(judged)}`);
  // Raw forces: the summary names them, and the 5 m RMS explains itself.
  await p.page.click('input[name="profile-view"][value="raw"]');
  const raw = await p.page.evaluate(() => ({
    head: document.querySelector('#plots table.summary th').textContent,
    tip: [...document.querySelectorAll('#plots table.summary th')].find((th) => th.textContent === 'Lateral RMS over 5 m')?.title,
  }));
  check(raw.head === 'Raw forces' && raw.tip && raw.tip.length > 20, `the raw view's summary: ${JSON.stringify(raw)}`);
  await p.page.click('input[name="profile-view"][value="felt"]');

  // The CSV of either track is the file cv-qrn-cli writes of it.
  const loadedCsv = await downloadOf(p, '#export-csv-loaded');
  const cliCsv = join(work, 'cli.csv');
  execFileSync(cli, ['profile', loop, '--csv', cliCsv]);
  check(loadedCsv.name === 'loop_and_helix-profile.csv' && Buffer.compare(loadedCsv.bytes, readFileSync(cliCsv)) === 0,
        `the loaded track's CSV is cv-qrn-cli's (${loadedCsv.name}, ${loadedCsv.bytes.length} bytes)`);
  const rebuiltCsv = await downloadOf(p, '#export-csv-rebuilt');
  nativeRun(loop, []);
  execFileSync(cli, ['profile', join(work, 'native.cvtrack'), '--heartline', '1.04', '--csv', cliCsv]);
  check(rebuiltCsv.name === 'loop_and_helix-hl-profile.csv' && Buffer.compare(rebuiltCsv.bytes, readFileSync(cliCsv)) === 0,
        `the rebuilt track's CSV is cv-qrn-cli's (${rebuiltCsv.name})`);

  // Pictures: the caption with the track, the six settings and the date; an
  // SVG in a named sans family, about a landscape page wide.
  const svg = await downloadOf(p, '#export-svg');
  const text = svg.bytes.toString('utf8');
  check(svg.name === 'loop_and_helix-profile.svg' && /font-family='"DejaVu Sans", Helvetica, Arial, sans-serif'/.test(text) &&
        / width="280mm"/.test(text) && /<desc>loop_and_helix\.cvtrack · default rebuild · Segments 100, Heartline 1\.04 m, V in 14\.3 m\/s, V out 12\.9 m\/s, Precision 6, Filter 15 · 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}/.test(text),
        `the SVG carries its caption and font (${svg.name}, ${text.length} bytes)`);
  const png = await downloadOf(p, '#export-png');
  check(png.name === 'loop_and_helix-profile.png' && png.bytes.subarray(1, 4).toString() === 'PNG' && png.bytes.length > 50000,
        `the PNG is a picture (${png.name}, ${png.bytes.length} bytes)`);
}

// Runs after a load: the first adds the rebuilt track's series to the plots,
// the next refills them while the worker sends the loaded track's arrays no
// more and reuses the buffers the page hands back. Each must draw what plots
// made afresh draw, with the views beside them drawn by the time the run is done.
async function refilledPlots(p) {
  // What the plots and views show, read the moment the page counts the run
  // as done (clicking "Heartline it!" unless `click` is false).
  const drawn = (click = true) => p.page.evaluate((clickNow) => new Promise((resolve) => {
    const read = () => ({
      data: JSON.stringify(CvqrnPlots.charts().map((u) => [u.series.map((s) => s.label), u.data])),
      scales: JSON.stringify(CvqrnPlots.charts().map((u) => [u.scales.y.min, u.scales.y.max,
                                                           u.scales.rate.min, u.scales.rate.max])),
      loadedPoints: CvqrnPlots.charts()[1].data[1].filter((v) => v != null).length,
      readout: document.getElementById('profile-readout').textContent,
      // Distinct colours along the top view's middle row: its lines are drawn.
      viewColours: (() => {
        const c = document.querySelector('#plots .track-view-top');
        const row = c.getContext('2d').getImageData(0, Math.floor(c.height / 2), c.width, 1).data;
        const seen = new Set();
        for (let i = 0; i < row.length; i += 4) seen.add(`${row[i]},${row[i + 1]},${row[i + 2]}`);
        return seen.size;
      })(),
    });
    if (!clickNow) { resolve(read()); return; }
    const before = Number(document.body.dataset.done || 0);
    const watch = new MutationObserver(() => {
      if (Number(document.body.dataset.done || 0) <= before || document.body.classList.contains('busy')) return;
      watch.disconnect();
      resolve(read());
    });
    watch.observe(document.body, { attributes: true, attributeFilter: ['data-done', 'class'] });
    document.getElementById('btnMod').click();
  }), click);
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'loop_and_helix.cvtrack'));
  const first = await drawn();
  const again = await drawn();
  // None of the arrays still shown went back to the worker with the buffers handed back.
  const buffers = await p.page.evaluate(() => ({
    loaded: shownLoaded.distance.length, rebuilt: shownRebuilt.distance.length,
  }));
  await p.page.click('input[name="profile-view"][value="raw"]');
  await p.page.click('input[name="profile-view"][value="felt"]');
  const afresh = await drawn(false);
  check(first.loadedPoints > 100 && first.data === afresh.data,
        'the first run after a load adds the rebuilt series as plots made afresh draw them');
  check(again.data === afresh.data && again.loadedPoints === first.loadedPoints,
        'a run again draws the loaded track from the arrays sent at the load, as plots made afresh');
  // A refill once kept the value scales of the plots it refilled: after the
  // load they fitted the loaded track alone and clipped the rebuilt one's spikes.
  for (const [name, d] of [['first', first], ['again', again]]) {
    check(d.scales === afresh.scales,
          `after the ${name} run the value scales are those of plots made afresh: ${d.scales} against ${afresh.scales}`);
  }
  check(buffers.loaded > 100 && buffers.rebuilt > 100, `the shown profile's arrays stay usable: ${JSON.stringify(buffers)}`);
  for (const [name, d] of [['first', first], ['again', again]]) {
    check(d.readout.startsWith('Loaded track (heart on the rail) and rebuilt track') && d.viewColours > 3,
          `the views and the read-out are drawn when the ${name} run is done: ${d.viewColours} colours, ${d.readout}`);
  }
}

async function inputRules(p) {
  const type = async (field, keys, { selectAll = true, caret } = {}) => {
    await p.page.focus(`#${field}`);
    await p.page.evaluate((f, all, at) => {
      const e = document.getElementById(f);
      if (all) e.select(); else e.setSelectionRange(at, at);
    }, field, selectAll, caret ?? 0);
    await p.page.keyboard.type(keys);
    return p.text(`#${field}`);
  };
  await p.setFields(defaults);
  const table = [
    ['str_heartline', '-', { selectAll: true }, '-'],
    ['str_heartline', '-', { selectAll: false, caret: 0 }, '-1.04'],
    ['str_heartline', '-', { selectAll: false, caret: 2 }, '1.04'],
    ['str_heartline', '.', { selectAll: true }, '1.04'],
    ['str_startspeed', '-2x5', { selectAll: true }, '25'],
    ['str_segments', '1.5e3', { selectAll: true }, '153'],
  ];
  for (const [field, keys, how, want] of table) {
    await p.setFields(defaults);
    const got = await type(field, keys, how);
    check(got === want, `typing ${JSON.stringify(keys)} into ${field} (${JSON.stringify(how)}) gives ${want}, not ${got}`);
  }
  // The precision clamp when the field loses the focus.
  for (const [typed, want, message] of [['3', '4', 'Precision has been adjusted to 4'],
    ['17', '16', 'Precision has been adjusted to 16']]) {
    await p.setFields(defaults);
    await type('str_precision', typed);
    await p.act(() => p.page.keyboard.press('Tab'));
    check((await p.text('#str_precision')) === want && (await p.text('#message')) === message,
          `precision ${typed} becomes ${want} with its message`);
  }
}

// The page served over HTTP (as ./run.sh --web and any static host serve it)
// works as from file://; a file dropped on it loads like a picked one. In a
// German browser the display fields show a decimal comma while the
// parameter fields still read ".".
async function servedAndDropped(browser) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
  const server = createServer((req, res) => {
    const name = req.url === '/' ? 'index.html' : basename(decodeURIComponent(req.url.split('?')[0]));
    try {
      const body = readFileSync(join(site, name));
      res.writeHead(200, { 'Content-Type': types[name.slice(name.lastIndexOf('.'))] || 'text/plain' });
      res.end(body);
    } catch {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  try {
    const p = await openPage(browser, site, { url: `http://127.0.0.1:${server.address().port}/`,
                                              locale: 'de-DE' });
    const sample = join(samplesDir, 'loop_and_helix.cvtrack');
    const bytes = [...readFileSync(sample)];
    await p.act(() => p.page.evaluate((data) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(data)], 'loop_and_helix.cvtrack'));
      for (const type of ['dragenter', 'dragover', 'drop']) {
        window.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
      }
    }, bytes));
    check((await p.text('#track-name')) === 'loop_and_helix.cvtrack', 'a dropped file loads');
    check(p.missing.length === 0, `the page gets everything it asks for (a favicon too): ${p.missing.join('; ')}`);
    const slope = await p.text('#str_slope_in');
    check(/^-?[0-9]+\.[0-9]{3}$/.test(slope), `a German browser shows the slope as ${slope}, with a point as every number`);
    await p.heartline();
    const download = await p.save();
    check(Buffer.compare(download.bytes, nativeRun(sample, [])) === 0,
          'served over HTTP, the page writes the same bytes as cv-qrn-cli');
    // Two files dropped at once: the first is loaded, and the page says so.
    await p.act(() => p.page.evaluate((data) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(data)], 'loop_and_helix.cvtrack'));
      transfer.items.add(new File([new Uint8Array(data)], 'second.cvtrack'));
      for (const type of ['dragenter', 'dragover', 'drop']) {
        window.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
      }
    }, bytes));
    const said = await p.text('#message');
    check(said === '2 files dropped: only "loop_and_helix.cvtrack" is loaded.', `two dropped files: ${said}`);
    check(p.errors.length === 0, `no script errors over HTTP: ${p.errors.join('; ')}`);
    await p.page.close();
  } finally {
    server.close();
  }
}

// The smooth ride switch: off at start with its tool tip; the plots name the
// rebuild that made the orange curve.
async function smoothSwitch(p) {
  const state = await p.page.$eval('#chk_smooth', (e) => ({ on: e.checked, tip: e.title }));
  check(!state.on && state.tip.startsWith('Smooth ride'), `the Smooth ride switch starts off: ${JSON.stringify(state)}`);
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  for (const on of [true, false]) {
    await p.page.click('#chk_smooth');
    await p.heartline();
    const legend = await p.text('#plots .profile-legend');
    const name = on ? 'rebuilt track (smooth rebuild)' : 'rebuilt track (default rebuild)';
    check(legend.includes(name), `after a run with the switch ${on ? 'on' : 'off'} the plots say ${name}: ${legend}`);
  }
}

// A result not downloaded yet: leaving the page asks first; once saved, it does not.
async function leaving(p) {
  const asks = () => p.page.evaluate(() => {
    const event = new Event('beforeunload', { cancelable: true });
    window.dispatchEvent(event);
    return event.defaultPrevented;
  });
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  check(!(await asks()), 'a loaded track alone does not hold the page');
  await p.heartline();
  check(await asks(), 'leaving the page with a result not saved asks first');
  await p.save();
  check(!(await asks()), 'once the result is saved the page can be left without a question');
}

// A file too large for the page is refused at once; a large one shows its load's progress.
async function loading(p) {
  const sparse = (name, megabytes) => {
    const path = join(work, name);
    const fd = openSync(path, 'w');
    closeSync(fd);
    execFileSync('truncate', ['-s', `${megabytes}M`, path]);
    return path;
  };
  const huge = sparse('huge.cvtrack', 300);
  const started = Date.now();
  await (await p.page.$('#file-input')).uploadFile(huge);
  await p.page.waitForFunction(() => document.getElementById('box').open, { timeout: 10000 });
  const box = await p.box();
  const took = Date.now() - started;
  check(box.text.includes('It is 300 MB, more than the 256 MB this page can hold') && took < 3000,
        `a 300 MB file is refused at once (${took} ms): ${box.text}`);
  await p.closeBox();
  rmSync(huge);

  const big = sparse('big.cvtrack', 100);
  await p.page.evaluate(() => {
    window.loadSeen = [];
    window.loadWatch = setInterval(() => window.loadSeen.push(
      [document.getElementById('message').value, !document.getElementById('progress').hidden]), 20);
  });
  await p.load(big);
  const seen = await p.page.evaluate(() => { clearInterval(window.loadWatch); return window.loadSeen; });
  const reading = seen.filter(([text, bar]) => bar && /^(Reading big\.cvtrack: [0-9]+ %|Checking big\.cvtrack)/.test(text));
  check(reading.length > 0, `a 100 MB load shows its progress on the message line with the bar (${seen.length} looks)`);
  if (await p.box()) await p.closeBox();
  rmSync(big);
}

// The accessibility tree: the lights' states as text, the plots with their
// table of figures as text alternative, one live region (the message line);
// contrast of the buttons' texts and of the focus ring.
async function accessibility(p) {
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  await p.heartline();
  const cdp = await p.page.createCDPSession();
  const { nodes } = await cdp.send('Accessibility.getFullAXTree');
  await cdp.detach();
  const named = (role) => nodes.filter((n) => !n.ignored && n.role?.value === role).map((n) => n.name?.value);
  const images = named('image').concat(named('img'));
  for (const light of ['loaded', 'heartlined', 'not saved']) {
    check(images.includes(light), `the accessibility tree names a light "${light}": ${JSON.stringify(images)}`);
  }
  check(images.filter((n) => / along the track; the figures are in the table Ride profile figures/.test(n)).length === 5,
        `the five plots have a text alternative: ${JSON.stringify(images)}`);
  check(named('table').includes('Ride profile figures'), `the figures' table is labelled: ${JSON.stringify(named('table'))}`);
  const live = nodes.filter((n) => !n.ignored && (n.properties || []).some(
    (q) => q.name === 'live' && q.value?.value !== 'off') && !['StaticText', 'InlineTextBox'].includes(n.role?.value));
  check(live.length === 1 && live[0].role?.value === 'status',
        `only the message line is a live region: ${JSON.stringify(live.map((n) => [n.role?.value, n.name?.value]))}`);

  const contrast = await p.page.evaluate(() => {
    const rgb = (c) => c.match(/[0-9.]+/g).slice(0, 3).map(Number);
    const lum = (c) => {
      const [r, g, b] = rgb(c).map((v) => { const s = v / 255; return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4; });
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const ratio = (a, b) => { const [x, y] = [lum(a), lum(b)].sort((m, n) => n - m); return (x + 0.05) / (y + 0.05); };
    const style = (e) => getComputedStyle(e);
    const button = document.getElementById('btnLoad');
    const box = style(document.querySelector('.box')).backgroundColor;
    const field = document.getElementById('str_segments');
    field.focus();
    const ring = style(field);
    return {
      text: ratio(style(button).color, style(button).backgroundColor),
      hint: ratio(style(button.querySelector('small')).color, style(button).backgroundColor),
      dim: ratio(style(document.querySelector('.box .dim')).color, box),
      ring: ratio(ring.outlineColor, box),
      ringWidth: parseFloat(ring.outlineWidth),
      ringStyle: ring.outlineStyle,
    };
  });
  check(contrast.text >= 4.5 && contrast.hint >= 4.5 && contrast.dim >= 4.5,
        `button text, shortcut hints and notes have 4.5:1: ${JSON.stringify(contrast)}`);
  check(contrast.ring >= 3 && contrast.ringWidth >= 2 && contrast.ringStyle !== 'none',
        `a visible focus ring of 3:1: ${JSON.stringify(contrast)}`);
}

// A Save made while the profiles of a long run are still computing is not lost.
async function saveWhileProfiling(p) {
  const long = join(work, 'long.cvtrack');
  await p.setFields({ ...defaults, str_segments: '2400', str_precision: '6' });
  await p.load(long);
  for (const f of readdirSync(p.downloads)) rmSync(join(p.downloads, f));
  const before = await p.doneCount();
  await p.page.click('#btnMod');
  await p.page.waitForFunction(() => document.getElementById('message').value === 'OK',
                               { polling: 5, timeout: 120000 });
  const profilesPending = (await p.doneCount()) === before;
  await p.page.click('#btnSave');
  const deadline = Date.now() + 60000;
  let files = [];
  while (Date.now() < deadline) {
    files = readdirSync(p.downloads).filter((f) => !f.endsWith('.crdownload'));
    if (files.length > 0) break;
    await new Promise((r) => setTimeout(r, 50));
  }
  console.log(`save right after OK: profiles ${profilesPending ? 'still computing' : 'already done'} at the click`);
  check(profilesPending, 'the Save was made while the profiles were still computing (else the check proves nothing)');
  check(files.length === 1 && files[0] === 'long-hl.cvtrack', `a Save right after "OK" downloads the result: ${files}`);
  await p.act(async () => {});  // the profiles finish
}

// The page on a phone: nothing wider than the screen, the profile's box in line with the boxes above.
async function phone(browser) {
  for (const width of [320, 360, 390]) {
    const p = await openPage(browser, site, { width, height: 800 });
    await p.load(join(samplesDir, 'family_coaster.cvtrack'));
    await p.heartline();
    const layout = await p.page.evaluate(() => {
      const edges = (e) => { const r = e.getBoundingClientRect(); return [r.left, r.right]; };
      return {
        scroll: document.documentElement.scrollWidth,
        boxes: [...document.querySelectorAll('.box, .actions button')].map(edges),
        panel: edges(document.querySelector('#panel .settings')),
        profile: edges(document.getElementById('profile')),
        fonts: [...document.querySelectorAll('input')].map((e) => parseFloat(getComputedStyle(e).fontSize)),
        // End data on one line each ("straight" not broken in two).
        ends: [...document.querySelectorAll('.ends .out')].map((e) => e.getBoundingClientRect().height),
      };
    });
    check(layout.scroll <= width, `at ${width} px the page is ${layout.scroll} px wide`);
    check(layout.boxes.every(([l, r]) => l >= 0 && r <= width), `at ${width} px every box fits: ${JSON.stringify(layout.boxes)}`);
    check(Math.abs(layout.profile[0] - layout.panel[0]) < 1 && Math.abs(layout.profile[1] - layout.panel[1]) < 1,
          `at ${width} px the profile lines up with the boxes above: ${layout.profile} / ${layout.panel}`);
    check(layout.fonts.every((f) => f >= 16), `at ${width} px the fields' text is at least 16 px: ${layout.fonts}`);
    check(Math.max(...layout.ends) - Math.min(...layout.ends) < 1,
          `at ${width} px every end value stands on one line: ${layout.ends}`);
    await p.page.close();
  }
}

// In a German browser a typed decimal comma goes in as a point and reaches the
// run (the download equals cv-qrn-cli's with the point); a comma stays refused
// where no decimal point is allowed; every number on the page has a point.
async function german(browser) {
  const p = await openPage(browser, site, { locale: 'de-DE' });
  const sample = join(samplesDir, 'loop_and_helix.cvtrack');
  await p.load(sample);
  for (const [field, keys, want] of [['str_heartline', '1,1', '1.1'], ['str_startspeed', '15,5', '15.5'],
    ['str_endspeed', '12,9,', '12.9'], ['str_segments', '8,0', '80']]) {
    await p.page.focus(`#${field}`);
    await p.page.evaluate((f) => document.getElementById(f).select(), field);
    await p.page.keyboard.type(keys);
    const got = await p.text(`#${field}`);
    check(got === want, `in a German browser typing ${keys} into ${field} gives ${want}, not ${got}`);
  }
  await p.heartline();
  const download = await p.save();
  const expected = nativeRun(sample, ['--heartline=1.1', '--start-speed=15.5', '--segments=80']);
  check(expected !== null && Buffer.compare(download.bytes, expected) === 0,
        'the run reads 1,1 as 1.1: the download equals cv-qrn-cli heartline --heartline=1.1');
  const texts = await p.page.evaluate(() => document.querySelector('.trackdata').innerText + '\n' +
                                            document.getElementById('profile').innerText);
  check(!/[0-9],[0-9]/.test(texts) && /[0-9]\.[0-9]{3}/.test(texts),
        `in a German browser every number has a point: ${texts.replace(/\s+/g, ' ').slice(0, 300)}`);
  check(p.errors.length === 0, `no script errors in a German browser: ${p.errors.join('; ')}`);
  await p.page.close();
}

// A long run: the page keeps painting frames and answering while the worker works.
async function responsive(p) {
  const long = join(work, 'long.cvtrack');
  // Long enough (some seconds) that a run holding the page would be plain to
  // see even on a busy machine.
  execFileSync(join(nativeBuild, 'samples', 'make_long_track'), [long, '8000']);
  await p.setFields({ ...defaults, str_segments: '2400', str_precision: '6' });
  await p.load(long);
  // A message still on show would end its countdown amid the run, and that
  // action's "done" would end the watch below early.
  await p.page.waitForFunction(() => document.getElementById('message').value === '',
                               { timeout: 10000 });
  const before = await p.doneCount();
  await p.page.evaluate(() => {
    window.frames_ = 0;
    const tick = () => { window.frames_ += 1; requestAnimationFrame(tick); };
    requestAnimationFrame(tick);
    // The progress steps the worker sends.
    window.progressSteps_ = 0;
    const shown = worker.onmessage;
    worker.onmessage = (e) => {
      if (e.data.type === 'progress') window.progressSteps_ += 1;
      shown(e);
    };
  });
  await p.page.click('#btnMod');
  const answers = [];
  const fractions = new Set();
  let running = true;
  while (running) {
    const t0 = Date.now();
    const state = await p.page.evaluate(() => ({
      done: Number(document.body.dataset.done || 0),
      width: document.getElementById('progress-fill').style.width,
      visible: !document.getElementById('progress').hidden,
    }));
    // Counted while the bar shows, i.e. while the worker runs (not while the
    // page draws the results afterwards).
    if (state.visible) {
      answers.push(Date.now() - t0);
      fractions.add(state.width);
    }
    running = state.done <= before;
    await new Promise((r) => setTimeout(r, 20));
  }
  const frames = await p.page.evaluate(() => window.frames_);
  const steps = await p.page.evaluate(() => ({ sent: window.progressSteps_, ms: Number(document.body.dataset.lastRunMs) }));
  const slowest = Math.max(...answers);
  console.log(`long run: ${answers.length} answers during the run, slowest ${slowest} ms, ` +
              `${frames} frames painted, ${fractions.size} bar positions seen`);
  check(answers.length >= 5 && slowest < 500, 'the page answers within 500 ms throughout a long run');
  check(frames >= 5, 'the page keeps painting during a long run');
  check(fractions.size >= 3, 'the progress bar moves during a long run');
  // Each step costs the run a message: the bar moves at most 25 times a second, as the window's.
  check(steps.sent >= 3 && steps.sent <= Math.ceil(steps.ms / 40) + 2,
        `the run sends its progress at most 25 times a second: ${steps.sent} steps in ${steps.ms.toFixed(0)} ms`);
}

const { browser, close } = await launch();
let downloads = '';
try {
  const p = await openPage(browser, site);
  downloads = p.downloads;
  p.lightOn = (light) => p.page.$eval(`#light-${light}`, (e) => e.classList.contains('on'));
  // A fresh page shows the window's defaults in the six fields.
  for (const [field, text] of Object.entries(defaults)) {
    check((await p.text(`#${field}`)) === text, `${field} starts as ${text}`);
  }
  await messages(p);
  await plots(p);
  await refilledPlots(p);
  await smoothSwitch(p);
  await leaving(p);
  await accessibility(p);
  await inputRules(p);
  await responsive(p);
  await saveWhileProfiling(p);
  await loading(p);
  const { comparedCorpus, comparedSmooth } = await sameBytesAsNative(p);
  check(comparedCorpus >= 50, `at least 50 corpus layouts byte-identical (${comparedCorpus})`);
  // The smooth rebuild's least-squares solve amplifies last bits that rounding
  // to single hides in the default one (its functions are portable_math's,
  // and Eigen the page compiles itself): its bytes are compared too.
  check(comparedSmooth >= 10, `at least 10 smooth rebuilds byte-identical (${comparedSmooth})`);
  check(p.errors.length === 0, `no script errors: ${p.errors.join('; ')}`);
  // Last: they open pages of their own, and the download folder is the browser's.
  await phone(browser);
  await german(browser);
  await servedAndDropped(browser);
} finally {
  await close();
}
check(downloads !== '' && !existsSync(downloads), `the driver removed its download folder ${downloads}`);
if (failures.length > 0) {
  console.log(`${failures.length} checks failed`);
  process.exit(1);
}
console.log('page tests passed');
