// The page: the window's panel in HTML. The window's logic itself runs in the
// worker (see worker.js); this script shows what it reports, sends it the
// field texts and the user's actions, and keeps the fields numeric while the
// user types, with the window's own key filter.
/* global CVQRN_ENGINE_SOURCE, CVQRN_WASM_BASE64, CVQRN_WORKER_SOURCE, createCvqrn, CvqrnPlots,
   CvqrnPanel3d */
'use strict';

const $ = (id) => document.getElementById(id);
const parameterNames = [];
let worker = null;
let busy = 0;            // messages sent to the worker and not yet done
let acting = 0;          // of those, the user's Load, Heartline and Save
let workerReady = false; // the worker's engine has started
let messageTimer = 0;
let question = null;     // the in-place question of the save that just ended
let unsaved = false;     // a result waits that has not been downloaded
let engine = null;       // the engine on this thread (see main)
let texts = null;        // the window's own texts, from the engine
// The loaded and the rebuilt track of the last ride profile shown.
let shownLoaded = null;
let shownRebuilt = null;
// The user's actions the worker has been sent and has not finished, oldest
// first; `over` once the worker says the user's part is done (a run's
// profiles may still be computing then).
const inFlight = [];
// Every number on the page has a decimal point, whatever the browser's
// language: the fields read "." (a typed "," goes in as "."), and the display
// fields, the plots and the figures write it.
const decimalSeparator = '.';
// The largest file the page takes: a loaded track lives in the browser's
// memory several times over (the file, the track as loaded, the rebuilt
// one), within the 2 GB the engine may use.
const kMaxFileBytes = 256 * 1024 * 1024;

// ---- The engine's WebAssembly module, compiled once for this thread and the worker.

const engineModule = (() => {
  const text = atob(CVQRN_WASM_BASE64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i += 1) bytes[i] = text.charCodeAt(i);
  return WebAssembly.compile(bytes);
})();

// The loader's options that instantiate the compiled module instead of compiling one.
function withModule(module) {
  return {
    instantiateWasm(imports, receiveInstance) {
      WebAssembly.instantiate(module, imports).then((instance) => receiveInstance(instance, module));
      return {};
    },
  };
}

// ---- The engine on this thread: the key filter and the fields' design data.

async function startEngineHere() {
  const script = document.createElement('script');
  script.textContent = CVQRN_ENGINE_SOURCE;
  document.head.append(script);
  return createCvqrn(withModule(await engineModule));
}

// ---- The worker.

function startWorker() {
  const source = new Blob([CVQRN_ENGINE_SOURCE, '\n', CVQRN_WORKER_SOURCE],
                          { type: 'text/javascript' });
  const url = URL.createObjectURL(source);
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  busy = 0;
  acting = 0;
  inFlight.length = 0;
  workerReady = false;
  shownLoaded = null;
  shownRebuilt = null;
  worker.onmessage = (event) => show(event.data);
  const started = worker;
  engineModule.then((module) => started.postMessage({ type: 'engine', module }), () => {});
  worker.onerror = (event) => {
    event.preventDefault();
    crashed(event.message || 'the worker could not start');
  };
}

function fieldTexts() {
  const texts = {};
  for (const name of parameterNames) texts[name] = $(name).value;
  return texts;
}

const userActions = ['load', 'heartline', 'save'];

// Sends one action with the current field texts. Like the window, which
// handles no click while it works, the page ignores Load, Heartline and Save
// while one of them is still running; the fields stay usable.
function send(type, extra = {}, transfer = []) {
  if (userActions.includes(type)) {
    if (acting > 0) return false;
    acting += 1;
    inFlight.push({ type, over: false });
  }
  busy += 1;
  document.body.classList.add('busy');
  worker.postMessage({ type, texts: fieldTexts(), separator: decimalSeparator,
                       smooth: $('chk_smooth') ? $('chk_smooth').checked : false, ...extra },
                     transfer);
  return true;
}

// The user's part of the oldest unfinished action is over.
function actionOver() {
  const action = inFlight.find((a) => !a.over);
  if (!action) return;
  action.over = true;
  acting = Math.max(0, acting - 1);
}

// A display field or a parameter field gets its text.
function setText(id, text) {
  const element = $(id);
  if ('value' in element) element.value = text;
  else element.textContent = text;
}

const lightNames = { loaded: 'loaded', heartlined: 'heartlined', saved: 'saved' };

// A status light, on or off, with its state as text for assistive technology.
function setLight(light, on) {
  const element = $('light-' + light);
  element.classList.toggle('on', on);
  const label = (on ? '' : 'not ') + lightNames[light];
  element.setAttribute('aria-label', label);
  element.title = label;
}

// A message of the page's own on the message line, cleared after `ms` (0: kept).
function pageMessage(text, ms = 0) {
  clearTimeout(messageTimer);
  $('message').value = text;
  if (ms > 0) messageTimer = setTimeout(() => { $('message').value = ''; }, ms);
}

// The buffers of the tracks `old` that no track of `kept` shares go back to
// the worker, which fills them with the next profile (the plots keep no
// reference to a profile they no longer show).
function handBack(old, kept) {
  const bufferOf = (t) => (t && t.distance instanceof Float64Array ? t.distance.buffer : null);
  const keep = new Set(kept.map(bufferOf));
  const buffers = [...new Set(old.map(bufferOf))].filter((b) => b && !keep.has(b) && b.byteLength > 0);
  if (buffers.length > 0) worker.postMessage({ type: 'spareBuffers', buffers }, buffers);
}

// A named moment of the last action, for the page's benchmark (each name
// holds only its latest moment).
function mark(name) {
  performance.clearMarks(name);
  performance.mark(name);
}

// What the worker reports.
function show(m) {
  switch (m.type) {
    case 'field': setText(m.field, m.text); break;
    case 'light': setLight(m.light, m.on); break;
    case 'progressVisible':
      $('progress').hidden = !m.visible;
      document.body.classList.toggle('running', m.visible);
      break;
    case 'progress': {
      const percent = Math.max(0, Math.min(100, m.fraction * 100));
      $('progress-fill').style.width = percent + '%';
      $('progress').setAttribute('aria-valuenow', String(Math.floor(percent)));
      break;
    }
    case 'message': $('message').value = m.text; break;
    case 'timer':
      clearTimeout(messageTimer);
      messageTimer = setTimeout(() => send('timerFired'), m.ms);
      break;
    case 'timerStop': clearTimeout(messageTimer); break;
    case 'box': showBox(m); break;
    case 'question': question = m; break;
    case 'download': download(m.name, m.bytes); break;
    case 'loaded':
      $('track-name').textContent = m.name;
      break;
    case 'unloaded': showNoTrack(m.name); break;
    case 'actionOver': actionOver(); break;
    case 'resultState': unsaved = m.unsaved; break;
    case 'profile':
      mark('cvqrn:profile-in');
      // The worker sends the loaded track's arrays only when they change.
      if (m.loaded === 'unchanged') m.loaded = shownLoaded;
      CvqrnPlots.show(m);
      CvqrnPanel3d.profileChanged(m);
      handBack([shownLoaded, shownRebuilt], [m.loaded, m.rebuilt]);
      shownLoaded = m.loaded;
      shownRebuilt = m.rebuilt;
      mark('cvqrn:plots-drawn');
      break;
    case 'scene': CvqrnPanel3d.show(m); break;
    case 'timing': document.body.dataset.lastRunMs = String(m.ms); mark('cvqrn:run'); break;
    case 'ready': workerReady = true; break;
    case 'crashed': crashed(m.what); break;
    case 'done':
      // An action is done once the profile's views it brought are drawn too.
      doneInOrder = doneInOrder.then(() => CvqrnPlots.settled()).then(() => actionDone(m))
        .catch((error) => setTimeout(() => { throw error; }));  // reported, and the chain goes on
      break;
    default: break;
  }
}

// Chains the actions' ends, so that they count in the order they came.
let doneInOrder = Promise.resolve();

// The worker has finished an action.
function actionDone(m) {
  busy = Math.max(0, busy - 1);
  if (userActions.includes(m.action)) {
    actionOver();  // when the worker did not say so before
    inFlight.shift();
  }
  if (busy === 0) document.body.classList.remove('busy');
  if (m.action === 'load') {
    $('progress').hidden = true;
    pageMessage(pendingNote, 4000);
    pendingNote = '';
  }
  document.body.dataset.done = String(Number(document.body.dataset.done || 0) + 1);
  if (m.action === 'save' && question) askInPlace();
}

// The engine stopped (out of memory, or a fault): say so, and start afresh.
// An engine that never started is not started again.
function crashed(what) {
  if (!workerReady) {
    worker.terminate();
    showBox({ title: 'Page Error', warning: true, detail: what,
              text: 'The page could not start its heartline engine. Use a current browser ' +
                    'with WebAssembly and Web Workers switched on.' });
    return;
  }
  showBox({
    title: 'Engine Stopped',
    text: 'The heartline engine stopped unexpectedly, most likely because the track needs ' +
          'more memory than the browser gives this page. Nothing was saved. The page has been ' +
          'reset: load the track again, perhaps with fewer segments or a lower precision.',
    detail: what,
    warning: true,
  });
  worker.terminate();
  for (const light of ['loaded', 'heartlined', 'saved']) setLight(light, false);
  unsaved = false;
  $('progress').hidden = true;
  document.body.classList.remove('busy', 'running');
  startWorker();
}

// After a refused load the page shows no track: no name, no end data, no
// plots, no lights and no message of the track before.
function showNoTrack(refusedName) {
  $('track-name').textContent = `No track loaded: "${refusedName}" was refused.`;
  for (const id of ['str_slope_in', 'str_radius_in', 'str_tilt_in', 'str_slope_out',
    'str_radius_out', 'str_tilt_out']) setText(id, '–');
  for (const light of ['loaded', 'heartlined', 'saved']) setLight(light, false);
  clearTimeout(messageTimer);
  $('message').value = '';
  CvqrnPlots.show({ loaded: null, rebuilt: null, note: 'No track loaded.' });
}

function showBox({ title, text, detail, warning }) {
  const box = $('box');
  $('box-title').textContent = title;
  $('box-text').textContent = text;
  $('box-detail').textContent = detail || '';
  $('box-details').hidden = !detail;
  $('box-details').open = false;
  box.classList.toggle('warning', !!warning);
  if (!box.open) box.showModal();
  $('box-ok').focus();
}

// The save asked whether to overwrite the file in place (and took No for the
// moment): ask the user, and on Yes save again with that answer.
function askInPlace() {
  const q = question;
  question = null;
  const detail = q.detail ? '\n\n' + q.detail : '';
  if (window.confirm(q.title + '\n\n' + q.text + detail)) send('save', { inPlace: true });
}

// `bytes`: an array of bytes or a Blob.
function download(name, bytes) {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// ---- Loading: the button's file chooser, or a file dropped anywhere.

const megabytes = (bytes) => `${Math.round(bytes / (1024 * 1024))} MB`;

// The window's load box for `name`, refused for `why` (plain words).
function loadRefused(name, why, detail) {
  showBox({ title: texts.loadErrorTitle, warning: true, detail,
            text: engine.loadRefusedText(name, why) });
}

// Reads the file with the load's progress on the message line and its bar.
function readWithProgress(file, note) {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    const bar = $('progress');
    bar.hidden = false;
    bar.classList.add('loading');
    const show = (done) => {
      const percent = file.size > 0 ? Math.floor((done / file.size) * 100) : 100;
      $('progress-fill').style.width = percent + '%';
      bar.setAttribute('aria-valuenow', String(percent));
      pageMessage(`${note}Reading ${file.name}: ${percent} %`);
    };
    show(0);
    reader.onprogress = (e) => show(e.loaded);
    reader.onload = () => {
      show(file.size);
      resolve(new Uint8Array(reader.result));
    };
    reader.onerror = () => reject(reader.error || new Error('the file could not be read'));
    reader.readAsArrayBuffer(file);
  });
}

// `note`: a sentence about the load to keep on the message line after it.
async function loadFile(file, note = '') {
  if (!file || acting > 0 || !engine) return;
  if (file.size > kMaxFileBytes) {
    loadRefused(file.name,
                `It is ${megabytes(file.size)}, more than the ${megabytes(kMaxFileBytes)} ` +
                'this page can hold in the browser\'s memory. Open it in the CV-QRN program ' +
                'or with cv-qrn-cli.',
                `${file.size} bytes; the page takes files of up to ${kMaxFileBytes} bytes.`);
    return;
  }
  let bytes;
  acting += 1;  // no other action while the file is read
  try {
    bytes = await readWithProgress(file, note ? note + ' ' : '');
  } catch (error) {
    loadRefused(file.name, 'The browser could not read it.', String(error.message || error));
    return;
  } finally {
    acting -= 1;
    $('progress').classList.remove('loading');
  }
  pageMessage(`${note ? note + ' ' : ''}Checking ${file.name}…`);
  if (!send('load', { name: file.name, bytes }, [bytes.buffer])) return;
  pendingNote = note;
}

// The page's note about a load, shown once the load is done.
let pendingNote = '';

function setUpLoading() {
  const input = $('file-input');
  input.addEventListener('change', () => {
    loadFile(input.files[0]);
    input.value = '';
  });
  let depth = 0;
  const veil = $('drop-veil');
  const hasFiles = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  window.addEventListener('dragenter', (e) => {
    if (!hasFiles(e)) return;
    depth += 1;
    veil.hidden = false;
  });
  window.addEventListener('dragleave', () => {
    depth = Math.max(0, depth - 1);
    if (depth === 0) veil.hidden = true;
  });
  window.addEventListener('dragover', (e) => {
    if (hasFiles(e)) e.preventDefault();
  });
  window.addEventListener('drop', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    depth = 0;
    veil.hidden = true;
    const files = e.dataTransfer.files;
    const note = files.length > 1
      ? `${files.length} files dropped: only "${files[0].name}" is loaded.` : '';
    loadFile(files[0], note);
  });
}

// ---- The parameter fields.

// Lets through only what the key filter accepts, one character at a time, as
// if each had been typed where the caret stands; a "," where the field takes
// a decimal point goes in as ".".
function filterInput(engine, spec, input, event) {
  if (!event.data || !event.inputType.startsWith('insert')) return;
  let text = input.value;
  let start = input.selectionStart;
  let end = input.selectionEnd;
  let changed = false;
  let refused = false;
  for (const ch of event.data) {
    const taken = engine.filterKey(text, start, ch.codePointAt(0), spec.allowDecimal,
                                   spec.allowMinus);
    if (taken === 0) {
      refused = true;
      continue;
    }
    // A decimal comma goes in as the point.
    const put = String.fromCodePoint(taken);
    if (put !== ch) refused = true;
    text = text.slice(0, start) + put + text.slice(end);
    start += put.length;
    end = start;
    changed = true;
  }
  if (!refused) return;  // the browser inserts it as typed
  event.preventDefault();
  if (changed) {
    input.value = text;
    input.setSelectionRange(start, start);
  }
}

// The "Smooth ride" switch, above the six settings as in the window; off at start.
function buildSmoothSwitch(engine) {
  const spec = engine.smoothSpec();
  const label = document.createElement('label');
  label.className = 'switch';
  label.title = spec.toolTip;
  const caption = document.createElement('span');
  caption.textContent = spec.caption;
  const input = document.createElement('input');
  input.type = 'checkbox';
  input.id = 'chk_smooth';
  input.setAttribute('role', 'switch');
  input.title = spec.toolTip;
  label.append(caption, input);
  $('parameter-fields').append(label);
}

function buildFields() {
  const holder = $('parameter-fields');
  const specs = engine.fieldSpecs();
  for (let i = 0; i < specs.length; i += 1) {
    const spec = specs[i];
    if (!spec.parameter) {
      setText(spec.name, spec.text);
      continue;
    }
    parameterNames.push(spec.name);
    const label = document.createElement('label');
    label.title = spec.toolTip;
    const caption = document.createElement('span');
    caption.textContent = spec.caption;
    const input = document.createElement('input');
    input.id = spec.name;
    input.value = spec.text;
    // The on-screen keyboard of a tablet: digits, and a point or minus where the field takes one.
    input.inputMode = spec.allowMinus ? 'text' : spec.allowDecimal ? 'decimal' : 'numeric';
    input.autocomplete = 'off';
    input.spellcheck = false;
    input.title = spec.toolTip;
    input.addEventListener('beforeinput', (e) => filterInput(engine, spec, input, e));
    input.addEventListener('focus', () => input.select());
    input.addEventListener('mouseup', (e) => {
      // Keep the selection made on focus when the field was entered by a click.
      if (input.dataset.justFocused) e.preventDefault();
      delete input.dataset.justFocused;
    });
    input.addEventListener('mousedown', () => {
      if (document.activeElement !== input) input.dataset.justFocused = '1';
    });
    if (spec.name === 'str_precision') {
      input.addEventListener('blur', () => send('precisionLostFocus'));
    }
    label.append(caption, input);
    holder.append(label);
  }
}

// ---- Actions and keys.

function setUpActions() {
  $('btnLoad').addEventListener('click', () => {
    if (acting === 0) $('file-input').click();
  });
  $('btnMod').addEventListener('click', () => send('heartline'));
  $('btnSave').addEventListener('click', () => send('save'));
  // The action buttons do not take the keyboard focus, as on the window, so a
  // value typed into the precision field reaches the run as typed.
  for (const id of ['btnLoad', 'btnMod', 'btnSave']) {
    $(id).addEventListener('mousedown', (e) => e.preventDefault());
  }
  window.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.altKey || $('box').open) return;
    if (e.key === 'o' || e.key === 'O') {
      e.preventDefault();
      if (acting === 0) $('file-input').click();
    } else if (e.key === 'Enter') {
      e.preventDefault();
      send('heartline');
    } else if (e.key === 's' || e.key === 'S') {
      e.preventDefault();
      send('save');
    }
  });
}

// The window's recommended heartlines, in its columns (a real minus sign
// reads better than a hyphen), and the heads of the track data grid.
function buildTables() {
  const { rows, rowsPerColumn } = engine.recommendedHeartlines();
  const table = $('recommended-table');
  for (let r = 0; r < rowsPerColumn; r += 1) {
    const tr = table.insertRow();
    for (let i = r; i < rows.length; i += rowsPerColumn) {
      const negative = rows[i].metres.startsWith('-');
      tr.insertCell().textContent = rows[i].style;
      const value = tr.insertCell();
      value.textContent = negative ? '\u2212' + rows[i].metres.slice(1) : rows[i].metres;
      if (negative) value.className = 'neg';
    }
  }
  const heads = document.querySelectorAll('table.ends thead th');
  texts.dataColumnHeads.forEach((head, c) => { heads[c + 1].textContent = head; });
  const rowHeads = document.querySelectorAll('table.ends tbody th');
  texts.dataRowHeads.forEach((head, r) => { rowHeads[r].textContent = head; });
}

async function main() {
  setUpLoading();
  setUpActions();
  for (const light of ['loaded', 'heartlined', 'saved']) setLight(light, false);
  // A result not yet downloaded is lost with the page: the browser asks first.
  window.addEventListener('beforeunload', (e) => {
    if (!unsaved) return;
    e.preventDefault();
    e.returnValue = '';
  });
  // The worker writes the profile's CSV, as cv-qrn-cli does, and sends it as a download.
  CvqrnPlots.onCsv((which) => send('profileCsv', { which }));
  startWorker();
  engine = await startEngineHere();
  texts = engine.texts();
  buildSmoothSwitch(engine);
  buildFields();
  buildTables();
  CvqrnPanel3d.start(engine, send);
  document.body.dataset.ready = '1';
}

main().catch((error) => {
  showBox({ title: 'Page Error', warning: true,
            text: 'The page could not start its heartline engine. Use a current browser ' +
                  'with WebAssembly switched on.',
            detail: String(error && error.message ? error.message : error) });
});
