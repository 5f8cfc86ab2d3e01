// The heartline run on the benchmarks' 2000-segment winding track (rebuilt as
// 2400 segments at precision 6), in the page in headless Chromium against the
// native cv-qrn-cli, and the page's size.
//   node bench_page.mjs SITE NATIVE_BUILD
// The page's runs and cv-qrn-cli's take turns, so that both see the same
// machine. Prints the fastest of five runs each: the page's run as timed
// inside its worker (the window logic's Heartline action: run and end
// analysis) and from click to finished (the ride profiles worked out in the
// worker, handed over and drawn, a frame painted), cv-qrn-cli as the whole
// process (load, run, save); the ratios page / native (goal for click to
// finished: at most 1.5); the size of every file of the page and of the
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
const repetitions = 5;

function nativeRun() {
  const start = process.hrtime.bigint();
  const run = spawnSync(join(nativeBuild, 'cli', 'cv-qrn-cli'),
                        ['heartline', track, join(work, 'out.cvtrack'), ...options]);
  if (run.status !== 0) throw new Error(`cv-qrn-cli failed: ${run.stderr}`);
  return Number(process.hrtime.bigint() - start) / 1e6;
}

let native = Infinity;
let inWorker = Infinity;
let clickToDone = Infinity;
const { browser, close } = await launch();
try {
  const p = await openPage(browser, site);
  await p.setFields({ str_segments: '2400', str_precision: '6' });
  await p.load(track);
  for (let i = 0; i < repetitions; i += 1) {
    native = Math.min(native, nativeRun());
    const start = Date.now();
    await p.heartline();
    // The plots drawn: a frame painted after the worker's last message.
    await p.page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    clickToDone = Math.min(clickToDone, Date.now() - start);
    inWorker = Math.min(inWorker, Number(await p.page.evaluate(() => document.body.dataset.lastRunMs)));
    if (await p.box()) throw new Error('the run failed in the page');
  }
} finally {
  await close();
  rmSync(work, { recursive: true, force: true });
}

console.log(`heartline, 2000 -> 2400 segments, precision 6 (fastest of ${repetitions}):`);
console.log(`  native cv-qrn-cli (whole process)  ${native.toFixed(0)} ms`);
console.log(`  page, inside the worker           ${inWorker.toFixed(0)} ms  (${(inWorker / native).toFixed(2)} x native)`);
console.log(`  page, click to finished            ${clickToDone.toFixed(0)} ms  (${(clickToDone / native).toFixed(2)} x native)`);

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
