// The heartline run on the benchmarks' 2000-segment winding track (rebuilt as
// 2400 segments at precision 6), in the page in headless Chromium against the
// native cv-qrn-cli, and the page's size.
//   node bench_page.mjs SITE NATIVE_BUILD
// The page's runs and cv-qrn-cli's take turns, so that both see the same
// machine. Timed inside the page from the click on "Heartline it!", for the
// first run after a load and for a run again: the run in the worker (the
// window logic's Heartline action: run and end analysis), the profile
// arriving, the plots drawn, the first task after the frame that paints them
// (click to finished, goal: at most 1.5 x native), and the action done with
// the views and tables beside the plots; cv-qrn-cli as the whole process
// (load, run, save). Prints the fastest and the median of seven rounds, the
// ratios page / native (of the fastest, of the medians, and the median ratio
// of each page run to the native run just before it), and the size of every file of the page and of the
// WebAssembly module alone, raw and gzip -9.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { launch, openPage } from './browser.mjs';

const [site, nativeBuild] = process.argv.slice(2);
if (!nativeBuild) {
  console.error('usage: node bench_page.mjs SITE NATIVE_BUILD');
  process.exit(2);
}
const work = mkdtempSync(join(tmpdir(), 'cvqrn-bench-'));
const track = join(work, 'long.cvtrack');
execFileSync(join(nativeBuild, 'samples', 'make_long_track'), [track, '2000']);
const options = ['--segments=2400', '--precision=6'];
const repetitions = 7;

function nativeRun() {
  const start = process.hrtime.bigint();
  const run = spawnSync(join(nativeBuild, 'cli', 'cv-qrn-cli'),
                        ['heartline', track, join(work, 'out.cvtrack'), ...options]);
  if (run.status !== 0) throw new Error(`cv-qrn-cli failed: ${run.stderr}`);
  return Number(process.hrtime.bigint() - start) / 1e6;
}

// One click on "Heartline it!", timed in the page: the moments the page
// marks (see page.js and plots.js), in ms after the click, and when the
// action counted as done.
function pageRun(page) {
  return page.evaluate(() => new Promise((resolve) => {
    const before = Number(document.body.dataset.done || 0);
    let start = 0;
    const watch = new MutationObserver(() => {
      if (Number(document.body.dataset.done || 0) <= before ||
          document.body.classList.contains('busy')) return;
      const done = performance.now() - start;
      watch.disconnect();
      // The moment `name` was marked during this run (NaN: it was not).
      const at = (name) => {
        const marks = performance.getEntriesByName(name, 'mark').filter((m) => m.startTime >= start);
        return marks.length > 0 ? marks[marks.length - 1].startTime - start : NaN;
      };
      resolve({ worker: Number(document.body.dataset.lastRunMs), run: at('cvqrn:run'),
                profile: at('cvqrn:profile-in'), drawn: at('cvqrn:plots-drawn'),
                painted: at('cvqrn:plots-painted'), done });
    });
    watch.observe(document.body, { attributes: true, attributeFilter: ['data-done', 'class'] });
    start = performance.now();
    document.getElementById('btnMod').click();
  }));
}

// Each round: a load, a run (the rebuilt track joins the plots), a run again
// (its profile replaces the one shown), each run after a native one.
const native = [];  // [first, again] of each round
const first = [];
const again = [];
const { browser, close } = await launch();
try {
  const p = await openPage(browser, site);
  await p.setFields({ str_segments: '2400', str_precision: '6' });
  for (let i = 0; i < repetitions; i += 1) {
    await p.load(track);
    for (const runs of [first, again]) {
      native.push(nativeRun());
      runs.push(await pageRun(p.page));
      if (await p.box()) throw new Error('the run failed in the page');
    }
  }
} finally {
  await close();
  rmSync(work, { recursive: true, force: true });
}

const fastest = (values) => Math.min(...values);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const figure = (values, stat) => stat(values).toFixed(0).padStart(5);
const nativeFastest = fastest(native);
const nativeMedian = median(native);
console.log(`heartline, 2000 -> 2400 segments, precision 6 (${repetitions} rounds; fastest, median):`);
console.log(`  native cv-qrn-cli (whole process)            ${figure(native, fastest)} ${figure(native, median)} ms`);
const rows = [
  ['the run inside the worker', 'worker'],
  ['  its end heard on the page', 'run'],
  ['the ride profiles received', 'profile'],
  ['the plots drawn', 'drawn'],
  ['click to finished (plots painted)', 'painted', true],
  ['done, views and tables drawn too', 'done'],
];
// Each page run against the native run just before it, on a machine that
// others share: the median of those paired ratios, beside the ratios of the
// fastest and of the medians.
const line = (label, runs, natives, key, goal) => {
  const values = runs.map((r) => r[key]);
  const paired = median(values.map((v, i) => v / natives[i]));
  const ratios = `${(fastest(values) / nativeFastest).toFixed(2)} ${(median(values) / nativeMedian).toFixed(2)} ` +
                 `${paired.toFixed(2)} x native`;
  console.log(`  page, ${label.padEnd(37)}${figure(values, fastest)} ${figure(values, median)} ms  ` +
              `(${ratios}${goal ? '; goal: at most 1.5' : ''})`);
};
console.log(' a run again (the plots refilled); ratios: fastest, median, median of pairs:');
for (const [label, key, goal] of rows) line(label, again, native.filter((_, i) => i % 2 === 1), key, goal);
console.log(' the first run after a load (the rebuilt track joins the plots):');
for (const [label, key, goal] of rows) line(label, first, native.filter((_, i) => i % 2 === 0), key, goal);

let raw = 0;
let packed = 0;
console.log('page files (bytes, gzip -9):');
for (const name of readdirSync(site).sort()) {
  const bytes = readFileSync(join(site, name));
  const gz = gzipSync(bytes, { level: 9 }).length;
  raw += bytes.length;
  packed += gz;
  console.log(`  ${name.padEnd(22)} ${String(bytes.length).padStart(8)} ${String(gz).padStart(8)}`);
}
console.log(`  ${'total'.padEnd(22)} ${String(raw).padStart(8)} ${String(packed).padStart(8)}`);
const engine = readFileSync(join(site, 'engine-source.js'), 'utf8');
const base64 = /CVQRN_WASM_BASE64 = "([A-Za-z0-9+/=]+)"/.exec(engine);
if (base64) {
  const wasm = Buffer.from(base64[1], 'base64');
  console.log(`  the WebAssembly module alone: ${wasm.length} bytes, ${gzipSync(wasm, { level: 9 }).length} gzip -9` +
              ' (carried inside engine-source.js as base64)');
}
