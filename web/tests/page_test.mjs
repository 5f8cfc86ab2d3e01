// The page in Debian's Chromium, headless:
//   node page_test.mjs SITE NATIVE_BUILD SAMPLES_DIR CORPUS_DIR WORK_DIR
// SITE is the built page, NATIVE_BUILD the dev build (its cv-qrn-cli and
// make_long_track), CORPUS_DIR a folder made by make_corpus (layouts and cases.txt). Checks that
//  - every sample and every corpus case gives, downloaded from the page, the
//    very bytes cv-qrn-cli heartline writes with the same settings (or fails
//    where it fails);
//  - a damaged file, a valley and refused settings show their messages, and
//    the fields keep to their input rules;
//  - the page answers and paints while a long run works in its worker;
//  - a Save made the moment a run's result exists, while the worker still
//    works out the ride profiles, is not lost.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
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
    fields[optionField[name]] = value;
  }
  return fields;
}

function nativeRun(input, args) {
  const out = join(work, 'native.cvtrack');
  const run = spawnSync(cli, ['heartline', input, out, ...args], { encoding: 'utf8' });
  return run.status === 0 ? readFileSync(out) : null;
}

function cases() {
  const list = [];
  for (const f of readdirSync(samplesDir).filter((n) => n.endsWith('.cvtrack')).sort()) {
    list.push({ name: f, input: join(samplesDir, f), args: [] });
    list.push({ name: `${f} hanging`, input: join(samplesDir, f),
                args: ['--heartline=-1.1', '--start-speed=20'] });
  }
  for (const line of readFileSync(join(corpusDir, 'cases.txt'), 'utf8').split('\n')) {
    const [file, ...args] = line.trim().split(/\s+/);
    if (file) list.push({ name: file, input: join(corpusDir, file), args, corpus: true });
  }
  return list;
}

async function sameBytesAsNative(p) {
  let compared = 0;
  let comparedCorpus = 0;
  let failed = 0;
  for (const c of cases()) {
    const expected = nativeRun(c.input, c.args);
    await p.setFields(fieldsOf(c.args));
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
  }
  console.log(`byte-identical: ${compared} runs compared (${comparedCorpus} corpus layouts), ` +
              `${failed} failing in both`);
  return comparedCorpus;
}

async function messages(p) {
  // A damaged file: the first half of a sample.
  const whole = readFileSync(join(samplesDir, 'family_coaster.cvtrack'));
  const damaged = join(work, 'damaged.cvtrack');
  writeFileSync(damaged, whole.subarray(0, whole.length >> 1));
  await p.load(damaged);
  let box = await p.box();
  check(box && box.title === 'Load Error' && box.text === 'Error Loading Track File!' && box.detail.length > 0,
        `a damaged file is refused with its reason: ${JSON.stringify(box)}`);
  if (box) await p.closeBox();
  const notTrack = join(work, 'notes.txt');
  writeFileSync(notTrack, 'not a track');
  await p.load(notTrack);
  box = await p.box();
  check(box && box.text === 'Error Loading Track File!', 'a file that is no track file is refused');
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
  check(box && box.text === kValleyText && native[0] === kValleyText && box.detail.split('\n')[0] === native[1],
        `the high hill valleys with the message and where, as cv-qrn-cli says it: ${JSON.stringify(box)} / ${native[1]}`);
  if (box) await p.closeBox();
  check((await p.text('#message')) === '- ERROR -', 'the message line says - ERROR -');
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

// The ride profile's plots after a load, a run and a valley.
async function plots(p) {
  const state = () => p.page.evaluate(() => ({
    plots: document.querySelectorAll('#plots .plot').length,
    series: document.querySelectorAll('#plots .plot-speed .u-series').length - 1,
    note: document.getElementById('profile-note').hidden ? '' : document.getElementById('profile-note').textContent,
  }));
  await p.setFields(defaults);
  await p.load(join(samplesDir, 'family_coaster.cvtrack'));
  let s = await state();
  check(s.plots === 3 && s.series === 1, `after a load: three plots of the loaded track (${JSON.stringify(s)})`);
  await p.heartline();
  s = await state();
  check(s.plots === 3 && s.series === 2, `after a run: loaded and rebuilt on each plot (${JSON.stringify(s)})`);
  await p.load(join(samplesDir, 'high_hill.cvtrack'));
  await p.heartline();
  if (await p.box()) await p.closeBox();
  s = await state();
  check(s.plots === 3 && s.series === 1 && /stopped [0-9.]+ m along/.test(s.note),
        `after a valley: the loaded track and where the train stopped (${JSON.stringify(s)})`);
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
    const slope = await p.text('#str_slope_in');
    check(/^-?[0-9]+,[0-9]{3}$/.test(slope), `a German browser shows the slope as ${slope} with a decimal comma`);
    await p.heartline();
    const download = await p.save();
    check(Buffer.compare(download.bytes, nativeRun(sample, [])) === 0,
          'served over HTTP, the page writes the same bytes as cv-qrn-cli');
    check(p.errors.length === 0, `no script errors over HTTP: ${p.errors.join('; ')}`);
    await p.page.close();
  } finally {
    server.close();
  }
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
  const slowest = Math.max(...answers);
  console.log(`long run: ${answers.length} answers during the run, slowest ${slowest} ms, ` +
              `${frames} frames painted, ${fractions.size} bar positions seen`);
  check(answers.length >= 5 && slowest < 500, 'the page answers within 500 ms throughout a long run');
  check(frames >= 5, 'the page keeps painting during a long run');
  check(fractions.size >= 3, 'the progress bar moves during a long run');
}

// Save clicked the moment the run's result exists ('acted'), while the worker
// still works out the ride profiles: the click waits in the worker's queue and
// downloads the run's bytes. (Fault caught: a Save dropped until the profiles
// are done.) Runs on the long track responsive() made.
async function saveRightAfterOk(p) {
  const long = join(work, 'long.cvtrack');
  const args = ['--segments=2400', '--precision=6'];
  await p.setFields(fieldsOf(args));
  await p.load(long);
  p.clearDownloads();
  // Saves at the run's 'acted', or (a page that never says so) at its 'done'.
  const saved = p.page.evaluate(() => new Promise((resolve) => {
    worker.addEventListener('message', function onActed(e) {
      if (e.data.action !== 'heartline' || !['acted', 'done'].includes(e.data.type)) return;
      worker.removeEventListener('message', onActed);
      const profilesPending = e.data.type === 'acted' && document.body.classList.contains('busy');
      document.getElementById('btnSave').click();
      resolve(profilesPending);
    });
  }));
  await p.act(() => p.page.click('#btnMod'));
  check(await saved, 'Save was clicked while the worker still worked out the profiles');
  const download = await p.download();
  check(Buffer.compare(download.bytes, nativeRun(long, args)) === 0,
        'a Save right after OK downloads the bytes cv-qrn-cli writes');
  check(await p.lightOn('saved'), 'a Save right after OK lights the third light');
}

const { browser, close } = await launch();
try {
  const p = await openPage(browser, site);
  p.lightOn = (light) => p.page.$eval(`#light-${light}`, (e) => e.classList.contains('on'));
  // A fresh page shows the window's defaults in the six fields.
  for (const [field, text] of Object.entries(defaults)) {
    check((await p.text(`#${field}`)) === text, `${field} starts as ${text}`);
  }
  await messages(p);
  await plots(p);
  await inputRules(p);
  await responsive(p);
  await saveRightAfterOk(p);
  const comparedCorpus = await sameBytesAsNative(p);
  check(comparedCorpus >= 50, `at least 50 corpus layouts byte-identical (${comparedCorpus})`);
  check(p.errors.length === 0, `no script errors: ${p.errors.join('; ')}`);
  // Last: it opens a second page, and the download folder is the browser's.
  await servedAndDropped(browser);
} finally {
  await close();
}
if (failures.length > 0) {
  console.log(`${failures.length} checks failed`);
  process.exit(1);
}
console.log('page tests passed');
