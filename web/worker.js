// The page's worker: holds the engine (the core and the window's logic as
// WebAssembly) and runs every action the page sends it, so that a long
// heartline run never holds up the page. What the window would draw comes
// back as messages; after each action the worker says "done". The page
// compiles the WebAssembly module once and sends it as the first message.
/* global createCvqrn */
'use strict';

let win = null;
let broken = false;

// The buffers of every typed array among a message's values (one level of
// objects deep: the ride profiles), handed over rather than copied.
function transferables(message) {
  const buffers = new Set();
  const visit = (value, depth) => {
    if (ArrayBuffer.isView(value)) buffers.add(value.buffer);
    else if (value && typeof value === 'object' && depth < 2) {
      for (const inner of Object.values(value)) visit(inner, depth + 1);
    }
  };
  visit(message, 0);
  return [...buffers];
}

function post(message) {
  self.postMessage(message, transferables(message));
}

// Buffers of profiles the page has done with, handed back for the next
// profile's arrays: filling memory that has been written before is many
// times faster than a fresh buffer, whose every page the system must first
// clear (some 15 ms for the 4 MB of a 2400-segment run).
const spareBuffers = [];
const kSpareBuffers = 2;

function takeSpare(buffers) {
  for (const buffer of buffers) {
    if (buffer instanceof ArrayBuffer && buffer.byteLength > 0) spareBuffers.push(buffer);
  }
  spareBuffers.splice(0, Math.max(0, spareBuffers.length - kSpareBuffers));
}

// A copy of `view` (numbers in the engine's memory) in the smallest spare
// buffer that holds it, or in a new one.
function copyOut(view) {
  let best = -1;
  for (let i = 0; i < spareBuffers.length; i += 1) {
    const size = spareBuffers[i].byteLength;
    if (size >= view.byteLength && (best < 0 || size < spareBuffers[best].byteLength)) best = i;
  }
  const buffer = best >= 0 ? spareBuffers.splice(best, 1)[0] : new ArrayBuffer(view.byteLength);
  const copy = new view.constructor(buffer, 0, view.length);
  copy.set(view);
  return copy;
}

let receiveModule;
const compiled = new Promise((resolve) => { receiveModule = resolve; });

const ready = compiled.then((module) => createCvqrn({
  // The module the page compiled, instantiated here without compiling it again.
  instantiateWasm(imports, receiveInstance) {
    WebAssembly.instantiate(module, imports).then(
      (instance) => receiveInstance(instance, module),
      (error) => {
        broken = true;
        post({ type: 'crashed', what: String(error && error.message ? error.message : error) });
      });
    return {};
  },
  onAbort(what) {
    broken = true;
    post({ type: 'crashed', what: String(what) });
  },
})).then((engine) => {
  win = new engine.Window(post, copyOut);
  win.start();
  post({ type: 'ready' });
});

function run(action, data) {
  if (data.separator) win.setDecimalSeparator(data.separator);
  if (data.texts) win.setFields(data.texts);
  if (data.smooth !== undefined) win.setSmoothRide(!!data.smooth);
  switch (action) {
    case 'load':
      win.load(data.name, new Uint8Array(data.bytes));
      break;
    case 'heartline':
      win.heartline();
      break;
    case 'save':
      win.save(!!data.inPlace);
      break;
    case 'precisionLostFocus':
      win.precisionLostFocus();
      break;
    case 'timerFired':
      win.timerFired();
      break;
    case 'scene':  // the 3D panel's meshes
      win.scene(data.channel || 'Vertical');
      break;
    case 'profileCsv':
      win.profileCsv(data.which === 'rebuilt' ? 'rebuilt' : 'loaded');
      break;
    default:
      break;
  }
}

self.onmessage = async (event) => {
  const data = event.data;
  if (data.type === 'engine') {
    receiveModule(data.module);
    return;
  }
  if (data.type === 'spareBuffers') {
    takeSpare(data.buffers);
    return;
  }
  try {
    await ready;
    if (!broken) run(data.type, data);
  } catch (error) {
    if (!broken) {
      broken = true;
      post({ type: 'crashed', what: String(error && error.message ? error.message : error) });
    }
  }
  post({ type: 'done', action: data.type });
};
