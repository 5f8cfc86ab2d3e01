// The 3D panel's drawing: the meshes and lines the engine built (the same
// arrays the window draws), shown with three.js. The camera, the pick, the
// rider's seat and the ride's playback are the engine's (a SceneView on the
// page's own engine), so the panel behaves as the window does.
//
// Bundled with three.js into view3d.js (an IIFE that sets window.CvqrnView3d),
// which the page loads only when the panel opens.
import {
  AmbientLight, BufferAttribute, BufferGeometry, ColorManagement, DirectionalLight, DoubleSide,
  Line, LineBasicMaterial, LineSegments, LinearSRGBColorSpace, Matrix4, Mesh, MeshLambertMaterial,
  PerspectiveCamera, Scene, Vector3, WebGLRenderer,
} from 'three';

// The engine's colours are meant as they are, as in the window.
ColorManagement.enabled = false;

const kBackground = 0x1c2129;
const kPickPixels = 8;
const kDragTurn = 0.008;  // radians per pixel
const keys = {
  ArrowLeft: 'left', ArrowRight: 'right', ArrowUp: 'up', ArrowDown: 'down',
  '+': 'in', '=': 'in', '-': 'out', Home: 'reset',
};

let engine = null;
let hooks = {};
let root = null;
let renderer = null;
let scene = null;
let camera = null;
let light = null;
let view = null;           // the engine's SceneView of the scene shown
let objects = [];          // what the scene shows, disposed on the next one
let trackMesh = null;     // drawn by chunks, as the engine's draw list says
let railLines = null;     // the track's far level: its rails as lines
let marker = null;
let cursor = null;         // metres along the path, or null
let ride = false;
let playing = false;
let lastFrame = 0;
let recolour = false;      // the next scene only changes the colouring
let path = null;           // the scene's per-sample arrays
const el = {};

const rgb = (c) => `rgb(${c.map((v) => Math.round(v * 255)).join(',')})`;

function geometryOf(mesh) {
  const g = new BufferGeometry();
  g.setAttribute('position', new BufferAttribute(mesh.positions, 3));
  g.setAttribute('normal', new BufferAttribute(mesh.normals, 3));
  g.setAttribute('color', new BufferAttribute(mesh.colours, 3));
  g.setIndex(new BufferAttribute(mesh.indices, 1));
  return g;
}

function meshOf(mesh) {
  if (!mesh || mesh.indices.length === 0) return null;
  return new Mesh(geometryOf(mesh),
    new MeshLambertMaterial({ vertexColors: true, side: DoubleSide }));
}

// The track: its triangles and its rail lines share the vertices; which
// chunks each draws is set for every frame (groups of one material).
function trackOf(m) {
  if (!m.track || m.track.indices.length === 0) return [null, null];
  const mesh = new Mesh(geometryOf(m.track),
    [new MeshLambertMaterial({ vertexColors: true, side: DoubleSide })]);
  mesh.frustumCulled = false;
  const g = new BufferGeometry();
  for (const name of ['position', 'color']) g.setAttribute(name, mesh.geometry.getAttribute(name));
  g.setIndex(new BufferAttribute(m.railLines, 1));
  const lines = new LineSegments(g, [new LineBasicMaterial({ vertexColors: true })]);
  lines.frustumCulled = false;
  return [mesh, lines];
}

function setGroups(object, ranges) {
  if (!object) return;
  object.geometry.clearGroups();
  for (let i = 0; i + 1 < ranges.length; i += 2) object.geometry.addGroup(ranges[i], ranges[i + 1], 0);
}

const viewProjection = new Matrix4();

// The chunks in view at the detail their distance asks for.
function chooseDetail() {
  if (!view || !trackMesh) return;
  camera.updateMatrixWorld();
  viewProjection.multiplyMatrices(camera.projectionMatrix, camera.matrixWorldInverse);
  const list = view.drawList(viewProjection.elements, camera.position.x, camera.position.y,
                             camera.position.z, focalPixels());
  setGroups(trackMesh, list.triangles);
  setGroups(railLines, list.lines);
}

const focalPixels = () => (0.5 * el.canvas.clientHeight) / Math.tan((camera.fov * Math.PI) / 360);

function lineOf(line) {
  if (!line || line.positions.length < 6) return null;
  const g = new BufferGeometry();
  g.setAttribute('position', new BufferAttribute(line.positions, 3));
  const [r, gr, b] = line.colour;
  const material = new LineBasicMaterial();
  material.color.setRGB(r, gr, b);
  return new Line(g, material);
}

function dispose(object) {
  if (!object) return;
  scene.remove(object);
  object.geometry.dispose();
  for (const material of [object.material].flat()) material.dispose();
}

function button(text, title) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = text;
  b.title = title;
  return b;
}

function buildPanel(container) {
  root = container;
  root.textContent = '';
  const bar = document.createElement('div');
  bar.className = 'view3d-bar';
  el.ride = button('Ride', 'The rider\'s view from the seat at the cursor');
  el.reset = button('Reset view', 'Show the whole track again (Home)');
  el.play = button('Play', 'Moves the cursor along the track at the train\'s speed (Space)');
  el.channel = document.createElement('select');
  el.channel.title = 'The felt force that colours the track';
  for (const name of ['Vertical', 'Lateral', 'Longitudinal']) {
    el.channel.append(new Option(`${name} g`, name));
  }
  el.legend = document.createElement('div');
  el.legend.className = 'view3d-legend';
  bar.append(el.ride, el.reset, el.play, el.channel, el.legend);
  el.canvasBox = document.createElement('div');
  el.canvasBox.className = 'view3d-canvas';
  el.readOut = document.createElement('p');
  el.readOut.className = 'view3d-readout';
  el.readOut.textContent = 'Hover the track for its values; click it to move the cursor there.';
  root.append(bar, el.canvasBox, el.readOut);

  renderer = new WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
  renderer.outputColorSpace = LinearSRGBColorSpace;
  renderer.setPixelRatio(1);
  renderer.setClearColor(kBackground);
  el.canvas = renderer.domElement;
  el.canvas.tabIndex = 0;
  el.canvasBox.append(el.canvas);
  scene = new Scene();
  camera = new PerspectiveCamera(50, 1, 0.1, 1000);
  // three.js divides diffuse light by pi: these give the window's shading,
  // 0.38 of the colour unlit and all of it facing the light.
  scene.add(new AmbientLight(0xffffff, 0.38 * Math.PI));
  light = new DirectionalLight(0xffffff, 0.62 * Math.PI);
  scene.add(light, light.target);

  el.ride.addEventListener('click', () => setRide(!ride));
  el.reset.addEventListener('click', () => { if (view) { view.reset(aspect()); draw(); } });
  el.play.addEventListener('click', () => setPlaying(!playing));
  el.channel.addEventListener('change', () => {
    recolour = true;
    hooks.onChannel?.(el.channel.value);
  });
  listen();
  new ResizeObserver(() => draw()).observe(el.canvasBox);
}

function setRide(on) {
  ride = on;
  el.ride.classList.toggle('on', on);
  if (on && cursor == null) setCursor(0, true);
  updateMarker();
  draw();
}

function setPlaying(on) {
  if (on && !view) return;
  playing = on;
  el.play.textContent = on ? 'Pause' : 'Play';
  el.play.classList.toggle('on', on);
  if (!on) return;
  if (cursor == null || cursor >= view.end()) setCursor(0, true);
  lastFrame = performance.now();
  requestAnimationFrame(step);
}

function step(now) {
  if (!playing || !view) return;
  const seconds = Math.max(0, (now - lastFrame) / 1000);
  lastFrame = now;
  const next = view.rideOn(cursor, seconds);
  if (next === cursor && seconds > 0) {
    setPlaying(false);  // at the end, or where the train stops
    return;
  }
  setCursor(next, true);
  requestAnimationFrame(step);
}

// The cursor at `distance`; `tell` passes it on to the plots.
function setCursor(distance, tell) {
  cursor = distance;
  if (root) root.dataset.cursor = String(distance);
  updateMarker();
  draw();
  if (tell) hooks.onCursor?.(distance);
}

function updateMarker() {
  if (!scene) return;
  dispose(marker);
  marker = null;
  if (!view || cursor == null || ride) return;
  marker = meshOf(view.marker(cursor));
  if (marker) scene.add(marker);
}

function legend(m) {
  const { stops, exceed, noForce } = m.legend;
  const lo = stops[0].g;
  const hi = stops[stops.length - 1].g;
  const at = (g) => ((g - lo) / (hi - lo)) * 100;
  const gradient = stops.map((s) => `${rgb(s.colour)} ${at(s.g).toFixed(1)}%`).join(', ');
  el.legend.innerHTML = '';
  const bar = document.createElement('div');
  bar.className = 'scale';
  bar.style.background = `linear-gradient(to right, ${gradient})`;
  const labels = document.createElement('div');
  labels.className = 'labels';
  for (const s of stops) {
    const span = document.createElement('span');
    span.textContent = `${s.g.toFixed(1)} g`;
    span.style.left = `${at(s.g)}%`;
    labels.append(span);
  }
  const swatch = (colour, text) => {
    const s = document.createElement('span');
    s.className = 'swatch';
    s.innerHTML = `<i style="background:${rgb(colour)}"></i>`;
    s.append(text);
    return s;
  };
  const scaleBox = document.createElement('div');
  scaleBox.className = 'scale-box';
  scaleBox.append(bar, labels);
  el.legend.append(scaleBox, swatch(exceed, 'beyond comfort'), swatch(noForce, 'no force'));
}

// A scene from the worker: meshes, lines, the path and the legend.
function show(m) {
  if (!root) return;
  legend(m);
  if (recolour && trackMesh && trackMesh.geometry.attributes.color.count * 3 === m.track.colours.length) {
    recolour = false;
    const colours = new BufferAttribute(m.track.colours, 3);
    trackMesh.geometry.setAttribute('color', colours);
    railLines.geometry.setAttribute('color', colours);
    draw();
    return;
  }
  recolour = false;
  path = m.path;
  for (const o of objects) dispose(o);
  objects = [];
  [trackMesh, railLines] = trackOf(m);
  for (const o of [trackMesh, railLines, meshOf(m.valley), lineOf(m.drawnHeart), lineOf(m.rebuiltHeart)]) {
    if (!o) continue;
    scene.add(o);
    objects.push(o);
  }
  const first = view == null;
  const old = view;
  view = new engine.SceneView(m.path, m.bounds);
  view.setChunks(m.chunks, m.fullVertices);
  view.reset(aspect());
  if (old) old.delete();
  if (cursor != null) cursor = Math.min(cursor, view.end());
  if (first) el.canvas.focus({ preventScroll: true });
  updateMarker();
  root.dataset.samples = String(view.size());
  draw();
}

const aspect = () => Math.max(1, el.canvasBox.clientWidth) / Math.max(1, el.canvasBox.clientHeight);

function place() {
  const width = Math.max(1, el.canvasBox.clientWidth);
  const height = Math.max(1, el.canvasBox.clientHeight);
  if (el.canvas.width !== width || el.canvas.height !== height) renderer.setSize(width, height, false);
  el.canvas.style.width = '100%';
  el.canvas.style.height = '100%';
  camera.aspect = width / height;
  camera.fov = engine.fieldOfView(ride);
  const radius = Math.max(view ? view.radius() : 100, 10);
  if (ride) {
    camera.near = 0.05;
    camera.far = 4 * radius;
  } else {
    const d = view ? view.distance() : 100;
    camera.near = Math.max(0.05, 0.01 * d);
    camera.far = d + 3 * radius;
  }
  if (view) {
    const look = view.look(ride, cursor ?? 0);
    camera.position.set(...look.eye);
    camera.up.set(...look.up);
    camera.lookAt(...look.target);
    // From over the viewer's shoulder, as in the window.
    light.target.position.set(...look.target);
    light.position.copy(camera.position).sub(light.target.position).normalize()
      .add(new Vector3(0.3, 0.8, 0.2)).add(light.target.position);
  }
  camera.updateProjectionMatrix();
}

function draw() {
  if (!renderer) return;
  place();
  chooseDetail();
  renderer.render(scene, camera);
}

function pickAt(x, y) {
  if (!view) return -1;
  const w = el.canvas.clientWidth;
  const h = el.canvas.clientHeight;
  place();
  const nx = (2 * x) / w - 1;
  const ny = 1 - (2 * y) / h;
  const near = new Vector3(nx, ny, -1).unproject(camera);
  const far = new Vector3(nx, ny, 1).unproject(camera);
  return view.pick(near.x, near.y, near.z, far.x - near.x, far.y - near.y, far.z - near.z,
                   kPickPixels / focalPixels());
}

function listen() {
  const canvas = el.canvas;
  let press = null;
  let last = null;
  let moved = false;
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
  canvas.addEventListener('pointerdown', (e) => {
    press = { x: e.offsetX, y: e.offsetY, button: e.button, shift: e.shiftKey };
    last = { x: e.offsetX, y: e.offsetY };
    moved = false;
    canvas.setPointerCapture(e.pointerId);
  });
  canvas.addEventListener('pointermove', (e) => {
    if (!press) {
      const sample = pickAt(e.offsetX, e.offsetY);
      el.readOut.textContent = sample >= 0 ? view.hoverText(sample)
        : 'Hover the track for its values; click it to move the cursor there.';
      return;
    }
    const dx = e.offsetX - last.x;
    const dy = e.offsetY - last.y;
    last = { x: e.offsetX, y: e.offsetY };
    if (Math.abs(e.offsetX - press.x) + Math.abs(e.offsetY - press.y) > 3) moved = true;
    if (!view || ride) return;
    if (press.button === 0 && !press.shift) view.orbit(dx * kDragTurn, dy * kDragTurn);
    else view.pan(-dx / canvas.clientHeight, dy / canvas.clientHeight);
    draw();
  });
  canvas.addEventListener('pointerup', (e) => {
    const click = press && press.button === 0 && !moved;
    press = null;
    if (!click) return;
    const sample = pickAt(e.offsetX, e.offsetY);
    if (sample >= 0) setCursor(view.sampleDistance(sample), true);
  });
  canvas.addEventListener('wheel', (e) => {
    if (!view || ride) return;
    e.preventDefault();
    view.zoom(0.85 ** (-e.deltaY / 100));
    draw();
  }, { passive: false });
  canvas.addEventListener('keydown', (e) => {
    if (e.key === ' ') {
      e.preventDefault();
      setPlaying(!playing);
      return;
    }
    const name = keys[e.key];
    if (!name || !view || ride) return;
    e.preventDefault();
    view.key(name, e.shiftKey, aspect());
    draw();
  });
}

window.CvqrnView3d = {
  // Builds the panel in `container` once; `theHooks`: onChannel(name), onCursor(distance).
  start(theEngine, container, theHooks) {
    engine = theEngine;
    hooks = theHooks;
    if (!root) buildPanel(container);
    draw();
  },
  show,
  // The plots' cursor moved.
  setCursor(distance) { setCursor(distance, false); },
  stop() { setPlaying(false); },
  channel() { return el.channel.value; },
  // For the tests: where a point lands on the canvas, in CSS pixels; the
  // colour drawn at a canvas pixel; the marker's point; the time of n frames.
  project(x, y, z) {
    place();
    const p = new Vector3(x, y, z).project(camera);
    return { x: ((p.x + 1) / 2) * el.canvas.clientWidth, y: ((1 - p.y) / 2) * el.canvas.clientHeight };
  },
  pixel(x, y) {
    draw();
    const gl = renderer.getContext();
    const out = new Uint8Array(4);
    gl.readPixels(Math.round(x), el.canvas.height - 1 - Math.round(y), 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, out);
    return Array.from(out.slice(0, 3));
  },
  markerPoint(distance) { return view ? view.markerPoint(distance) : null; },
  pathSize() { return path ? path.distance.length : 0; },
  railPoint(i) { return Array.from(path.rail.slice(3 * i, 3 * i + 3)); },
  sampleDistance(i) { return path.distance[i]; },
  sampleAt(distance) {
    let best = 0;
    path.distance.forEach((d, i) => { if (Math.abs(d - distance) < Math.abs(path.distance[best] - distance)) best = i; });
    return best;
  },
  setCursorForTest(distance) { setCursor(distance, false); },
  setRide,
  timeFrames(n) {
    // Reading a pixel back waits for the frame, which finish() does not in Chromium.
    const gl = renderer.getContext();
    const out = new Uint8Array(4);
    const start = performance.now();
    for (let i = 0; i < n; i += 1) {
      draw();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, out);
    }
    return (performance.now() - start) / n;
  },
};
