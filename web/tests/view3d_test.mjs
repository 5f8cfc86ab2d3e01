// The page's 3D panel in headless Chromium on its software renderer:
//   node view3d_test.mjs SITE SAMPLES_DIR [PICTURES_DIR]
// Checks that three.js is loaded only when the panel opens, that the panel
// draws the track where the track is (from outside and from the rider's
// seat), that its marker follows the plots' cursor and a click on the track
// moves that cursor, and times a frame (the target is under 33 ms). With
// PICTURES_DIR it also writes the family and loop samples from outside and
// from the rider's seat there.
import { join } from 'node:path';
import { launch, openPage } from './browser.mjs';

const [site, samples, pictures] = process.argv.slice(2);
if (!samples) {
  console.error('usage: node view3d_test.mjs SITE SAMPLES_DIR [PICTURES_DIR]');
  process.exit(2);
}

const failures = [];
let checks = 0;
function check(ok, what) {
  checks += 1;
  if (!ok) {
    failures.push(what);
    console.log(`FAIL ${what}`);
  }
}

const background = [0x1c, 0x21, 0x29];
const same = (a, b) => a.every((v, i) => Math.abs(v - b[i]) <= 2);
// The cursor marker is the one light, unsaturated thing drawn.
const isMarker = (c) => Math.max(...c) > 140 && Math.max(...c) - Math.min(...c) < 16;

async function openPanel(p) {
  const before = await p.page.evaluate(() => Number(document.getElementById('view3d').dataset.scenes || 0));
  await p.page.click('#btn3d');
  await p.page.waitForFunction(() => window.CvqrnView3d && document.getElementById('view3d').dataset.samples,
                               { timeout: 60000 });
  return before;
}

// Whether anything but background lies within 2 pixels of `at`.
async function drawnNear(p, at) {
  return p.page.evaluate(({ x, y }, bg) => {
    for (let dy = -2; dy <= 2; dy += 1) {
      for (let dx = -2; dx <= 2; dx += 1) {
        const c = window.CvqrnView3d.pixel(x + dx, y + dy);
        if (!c.every((v, i) => Math.abs(v - bg[i]) <= 2)) return true;
      }
    }
    return false;
  }, at, background);
}

const { browser, close } = await launch({ webgl: true });
try {
  const p = await openPage(browser, site, { width: 1400, height: 1100 });
  await p.load(join(samples, 'family_coaster.cvtrack'));
  await p.heartline();
  check(await p.page.evaluate(() => !window.CvqrnView3d && ![...document.scripts].some((s) => s.src.endsWith('view3d.js'))),
        'three.js is not loaded before the panel opens');
  await openPanel(p);
  const n = Number(await p.page.$eval('#view3d', (e) => e.dataset.samples));
  check(n > 100, `the scene has the track's samples (${n})`);

  // From outside: every tenth sample's rail point is drawn, a corner is not.
  const railPixels = await p.page.evaluate(() => {
    const out = [];
    const v = window.CvqrnView3d;
    for (let i = 0; i < v.pathSize(); i += 10) {
      const r = v.railPoint(i);
      out.push(v.project(r[0], r[1], r[2]));
    }
    return out;
  });
  let drawn = 0;
  for (const at of railPixels) if (await drawnNear(p, at)) drawn += 1;
  check(drawn === railPixels.length, `every tenth rail point is drawn (${drawn} of ${railPixels.length})`);
  const corner = await p.page.evaluate(() => window.CvqrnView3d.pixel(2, 2));
  check(same(corner, background), `the corner shows the background (${corner})`);

  // The plots' cursor moves the marker.
  const markerPixel = (d) => p.page.evaluate((dist) => {
    const m = window.CvqrnView3d.markerPoint(dist);
    return window.CvqrnView3d.project(m[0], m[1], m[2]);
  }, d);
  const first = await markerPixel(40);
  const second = await markerPixel(150);
  const pixelAt = (at) => p.page.evaluate(({ x, y }) => window.CvqrnView3d.pixel(x, y), at);
  check(!isMarker(await pixelAt(first)), 'no marker before the cursor is set');
  await p.page.evaluate(() => CvqrnPlots.moveCursor(40));
  const cursorAfterPlot = Number(await p.page.$eval('#view3d', (e) => e.dataset.cursor));
  check(Math.abs(cursorAfterPlot - 40) < 0.6, `the plots' cursor reaches the panel (${cursorAfterPlot})`);
  check(isMarker(await pixelAt(first)), 'the marker stands at the cursor');
  await p.page.evaluate(() => CvqrnPlots.moveCursor(150));
  check(!isMarker(await pixelAt(first)) && isMarker(await pixelAt(second)), 'the marker moves with the cursor');

  // A click on the track moves the cursor there, and the plots' cursor with it.
  const target = await p.page.evaluate(() => {
    const v = window.CvqrnView3d;
    const i = Math.floor(v.pathSize() / 2);
    const r = v.railPoint(i);
    return { at: v.project(r[0], r[1], r[2]), distance: v.sampleDistance(i) };
  });
  const box = await (await p.page.$('#view3d canvas')).boundingBox();
  await p.page.mouse.move(box.x + target.at.x, box.y + target.at.y);
  const hover = await p.page.$eval('.view3d-readout', (e) => e.textContent);
  check(/ m\/s {3}vertical /.test(hover), `hovering shows the values (${hover})`);
  await p.page.mouse.click(box.x + target.at.x, box.y + target.at.y);
  const clicked = Number(await p.page.$eval('#view3d', (e) => e.dataset.cursor));
  check(Math.abs(clicked - target.distance) < 1.5, `a click moves the cursor (${clicked} for ${target.distance})`);
  const plotted = await p.page.evaluate(() => CvqrnPlots.cursorDistance());
  check(Math.abs(plotted - target.distance) < 1.5, `the plots' cursor follows the click (${plotted})`);

  // From the rider's seat the rails ahead are drawn.
  await p.page.evaluate(() => { window.CvqrnView3d.setCursorForTest(60); window.CvqrnView3d.setRide(true); });
  const ahead = await p.page.evaluate(() => {
    const v = window.CvqrnView3d;
    const r = v.railPoint(v.sampleAt(66));
    return v.project(r[0], r[1], r[2]);
  });
  check(await drawnNear(p, ahead), 'the rider sees the rails ahead');
  const rideMs = await p.page.evaluate(() => window.CvqrnView3d.timeFrames(20));
  await p.page.evaluate(() => window.CvqrnView3d.setRide(false));
  const outsideMs = await p.page.evaluate(() => window.CvqrnView3d.timeFrames(20));
  console.log(`frame time, family coaster, 3D panel ${await p.page.$eval('#view3d canvas', (c) => `${c.width} x ${c.height}`)}: ` +
              `${outsideMs.toFixed(1)} ms from outside, ${rideMs.toFixed(1)} ms from the rider's seat`);
  check(p.errors.length === 0, `no page errors (${p.errors.join('; ')})`);

  if (pictures) {
    for (const [name, file, rideAt] of [['family', 'family_coaster.cvtrack', 27], ['loop', 'loop_and_helix.cvtrack', 62]]) {
      const q = await openPage(browser, site, { width: 1400, height: 1000 });
      await q.load(join(samples, file));
      await q.heartline();
      await openPanel(q);
      await q.page.evaluate(() => CvqrnPlots.moveCursor(60));
      const panel = await q.page.$('#profile');
      await panel.screenshot({ path: join(pictures, `web-3d-${name}-outside.png`) });
      await q.page.evaluate((d) => { window.CvqrnView3d.setCursorForTest(d); window.CvqrnView3d.setRide(true); }, rideAt);
      await panel.screenshot({ path: join(pictures, `web-3d-${name}-ride.png`) });
      await q.page.close();
    }
  }
} finally {
  await close();
}

console.log(`${checks - failures.length} passed, ${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
