// The README's pictures of the page, in headless Chromium:
//   node screenshots.mjs SITE SAMPLES_DIR OUT_DIR
// web-desktop.png: 1280 px wide, after a heartline run on the family coaster;
// web-tablet.png: 768 px wide, after a run on the high hill that valleyed
// (its message box closed, the stop marked on the plots);
// web-phone.png: 390 px wide, after a run on the family coaster.
import { join } from 'node:path';
import { launch, openPage } from './browser.mjs';

const [site, samples, out] = process.argv.slice(2);
if (!out) {
  console.error('usage: node screenshots.mjs SITE SAMPLES_DIR OUT_DIR');
  process.exit(2);
}
const { browser, close } = await launch();
try {
  const desktop = await openPage(browser, site, { width: 1280, height: 900 });
  await desktop.load(join(samples, 'family_coaster.cvtrack'));
  await desktop.heartline();
  await desktop.page.screenshot({ path: join(out, 'web-desktop.png'), fullPage: true });

  const tablet = await openPage(browser, site, { width: 768, height: 1024 });
  await tablet.setFields({ str_startspeed: '14.3' });
  await tablet.load(join(samples, 'high_hill.cvtrack'));
  await tablet.heartline();
  await tablet.closeBox();
  await tablet.page.screenshot({ path: join(out, 'web-tablet.png'), fullPage: true });

  const phone = await openPage(browser, site, { width: 390, height: 844 });
  await phone.load(join(samples, 'family_coaster.cvtrack'));
  await phone.heartline();
  await phone.page.screenshot({ path: join(out, 'web-phone.png'), fullPage: true });
} finally {
  await close();
}
