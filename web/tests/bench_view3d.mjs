// Frame time of the page's 3D panel in headless Chromium on its software
// renderer (SwiftShader), on the family and loop samples after their run and
// on the benchmarks' 2000-segment winding track (some 16 km, loaded, drawn
// as a track), from outside and from the rider's seat:
//   node bench_view3d.mjs SITE SAMPLES_DIR NATIVE_BUILD
// Prints the fastest of five rounds of 20 frames each. The target is under
// 33 ms a frame.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { launch, openPage } from './browser.mjs';

const [site, samples, nativeBuild] = process.argv.slice(2);
if (!nativeBuild) {
  console.error('usage: node bench_view3d.mjs SITE SAMPLES_DIR NATIVE_BUILD');
  process.exit(2);
}
const work = mkdtempSync(join(tmpdir(), 'cvqrn-bench3d-'));
const long = join(work, 'long.cvtrack');
execFileSync(join(nativeBuild, 'samples', 'make_long_track'), [long, '2000']);
const tracks = [
  ['family', join(samples, 'family_coaster.cvtrack'), true, 27],
  ['loop', join(samples, 'loop_and_helix.cvtrack'), true, 62],
  ['long 2000', long, false, 8000],
];
const rounds = 5;

const { browser, close } = await launch({ webgl: true });
try {
  for (const [name, file, run, rideAt] of tracks) {
    const p = await openPage(browser, site, { width: 1400, height: 1100 });
    await p.load(file);
    if (run) await p.heartline();
    await p.page.click('#btn3d');
    await p.page.waitForFunction(() => window.CvqrnView3d && document.getElementById('view3d').dataset.samples,
                                 { timeout: 120000 });
    const size = await p.page.$eval('#view3d canvas', (c) => `${c.width} x ${c.height}`);
    const times = {};
    for (const ride of [false, true]) {
      await p.page.evaluate((on, d) => {
        window.CvqrnView3d.setCursorForTest(d);
        window.CvqrnView3d.setRide(on);
      }, ride, rideAt);
      let best = Infinity;
      for (let i = 0; i < rounds; i += 1) {
        best = Math.min(best, await p.page.evaluate(() => window.CvqrnView3d.timeFrames(20)));
      }
      times[ride ? 'ride' : 'outside'] = best;
    }
    const samplesCount = await p.page.$eval('#view3d', (e) => e.dataset.samples);
    console.log(`${name.padEnd(10)} ${run ? 'after its run' : 'loaded'}, ${samplesCount} samples, ${size}: ` +
                `${times.outside.toFixed(1)} ms from outside, ${times.ride.toFixed(1)} ms from the rider's seat`);
    if (p.errors.length) throw new Error(`page errors: ${p.errors.join('; ')}`);
    await p.page.close();
  }
} finally {
  await close();
  rmSync(work, { recursive: true, force: true });
}
