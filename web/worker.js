// The page's worker: holds the engine (the core and the window's logic as
// WebAssembly) and runs every action the page sends it, so that a long
// heartline run never holds up the page. What the window would draw comes
// back as messages; after each action the worker says "done".
/* global createCvqrn */
'use strict';

let win = null;
let broken = false;

function post(message) {
  if (message.bytes) self.postMessage(message, [message.bytes.buffer]);
  else self.postMessage(message);
}

const ready = createCvqrn({
  onAbort(what) {
    broken = true;
    post({ type: 'crashed', what: String(what) });
  },
}).then((engine) => {
  win = new engine.Window(post);
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
    default:
      break;
  }
}

self.onmessage = async (event) => {
  const data = event.data;
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
