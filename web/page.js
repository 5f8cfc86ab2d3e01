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
let actedEarly = 0;      // of those, the ones whose result exists while their worker still works
let workerReady = false; // the worker's engine has started
let messageTimer = 0;
let question = null;     // the in-place question of the save that just ended
// The display fields show numbers with the decimal separator of the
// browser's language, as the window does with the desktop's; the parameter
// fields always read ".".
const decimalSeparator =
  new Intl.NumberFormat().formatToParts(1.5).find((p) => p.type === 'decimal')?.value || '.';

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
  actedEarly = 0;
  workerReady = false;
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
    if (acting > 0) return;
    acting += 1;
  }
  busy += 1;
  document.body.classList.add('busy');
  worker.postMessage({ type, texts: fieldTexts(), separator: decimalSeparator, ...extra }, transfer);
}

// What the worker reports.
function show(m) {
  switch (m.type) {
    case 'field': $(m.field).value = m.text; break;
    case 'light': $('light-' + m.light).classList.toggle('on', m.on); break;
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
    case 'profile': CvqrnPlots.show(m); CvqrnPanel3d.profileChanged(m); break;
    case 'scene': CvqrnPanel3d.show(m); break;
    case 'timing': document.body.dataset.lastRunMs = String(m.ms); break;
    case 'ready': workerReady = true; break;
    // The action's result exists (the ride profiles follow): the next action
    // may be sent, and waits in the worker's queue until they are done.
    case 'acted':
      if (userActions.includes(m.action) && acting > 0) {
        acting -= 1;
        actedEarly += 1;
      }
      break;
    case 'crashed': crashed(m.what); break;
    case 'done':
      busy = Math.max(0, busy - 1);
      if (userActions.includes(m.action)) {
        if (actedEarly > 0) actedEarly -= 1;
        else acting = Math.max(0, acting - 1);
      }
      if (busy === 0) document.body.classList.remove('busy');
      document.body.dataset.done = String(Number(document.body.dataset.done || 0) + 1);
      if (m.action === 'save' && question) askInPlace();
      break;
    default: break;
  }
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
  for (const light of ['loaded', 'heartlined', 'saved']) $('light-' + light).classList.remove('on');
  $('progress').hidden = true;
  document.body.classList.remove('busy', 'running');
  startWorker();
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

async function loadFile(file) {
  if (!file) return;
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch (error) {
    showBox({ title: 'Load Error', text: 'Error Loading Track File!', warning: true,
              detail: `The browser could not read "${file.name}": ${error.message}` });
    return;
  }
  send('load', { name: file.name, bytes }, [bytes.buffer]);
}

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
    loadFile(e.dataTransfer.files[0]);
  });
}

// ---- The parameter fields.

// Lets through only what the key filter accepts, one character at a time, as
// if each had been typed where the caret stands.
function filterInput(engine, spec, input, event) {
  if (!event.data || !event.inputType.startsWith('insert')) return;
  let text = input.value;
  let start = input.selectionStart;
  let end = input.selectionEnd;
  let changed = false;
  let refused = false;
  for (const ch of event.data) {
    const key = ch.codePointAt(0);
    if (engine.filterKey(text, start, key, spec.allowDecimal, spec.allowMinus) === 0) {
      refused = true;
      continue;
    }
    text = text.slice(0, start) + ch + text.slice(end);
    start += ch.length;
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

function buildFields(engine) {
  const holder = $('parameter-fields');
  const captions = {
    str_segments: 'Segments (#)', str_heartline: 'Heartline (m)', str_startspeed: 'V in (m/s)',
    str_endspeed: 'V out (m/s)', str_precision: 'Precision (#)', str_filter: 'Filter (#)',
  };
  const specs = engine.fieldSpecs();
  for (let i = 0; i < specs.length; i += 1) {
    const spec = specs[i];
    if (!spec.parameter) {
      $(spec.name).value = spec.text;
      continue;
    }
    parameterNames.push(spec.name);
    const label = document.createElement('label');
    label.title = spec.toolTip;
    const caption = document.createElement('span');
    caption.textContent = captions[spec.name];
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

async function main() {
  setUpLoading();
  setUpActions();
  startWorker();
  const engine = await startEngineHere();
  buildFields(engine);
  CvqrnPanel3d.start(engine, send);
  document.body.dataset.ready = '1';
}

main().catch((error) => {
  showBox({ title: 'Page Error', warning: true,
            text: 'The page could not start its heartline engine. Use a current browser ' +
                  'with WebAssembly switched on.',
            detail: String(error && error.message ? error.message : error) });
});
