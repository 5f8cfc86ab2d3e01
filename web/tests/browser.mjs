// Starts Debian's Chromium headless with a fresh profile and drives the page
// through puppeteer-core (no browser of its own is downloaded).
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

export const chromiumPath = process.env.CVQRN_CHROMIUM || '/usr/bin/chromium';

// The download folders openPage made; close() removes them.
const downloadFolders = new Set();

// `webgl`: WebGL on Chromium's software renderer (SwiftShader), for the 3D panel.
export async function launch({ webgl = false } = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'cvqrn-chromium-'));
  const graphics = webgl ? ['--use-angle=swiftshader', '--enable-unsafe-swiftshader']
    : ['--disable-gpu'];
  const browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', ...graphics, '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--user-data-dir=${profile}`],
  });
  const close = async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
    for (const folder of downloadFolders) rmSync(folder, { recursive: true, force: true });
    downloadFolders.clear();
  };
  return { browser, close };
}

// One page on the site's index.html (a file:// URL unless `url` is given),
// with downloads going into a fresh folder, removed when the browser closes.
// `locale` (such as "de-DE") stands in for the browser's language.
export async function openPage(browser, site, { url, width = 1280, height = 1000, locale } = {}) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  const downloads = mkdtempSync(join(tmpdir(), 'cvqrn-downloads-'));
  downloadFolders.add(downloads);
  // The download folder is the browser's: the last page opened sets it.
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  if (locale) await cdp.send('Emulation.setLocaleOverride', { locale });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  // Everything the page asked for and did not get (a missing favicon, say).
  const missing = [];
  page.on('response', (r) => { if (r.status() >= 400) missing.push(`${r.url()} ${r.status()}`); });
  page.on('requestfailed', (r) => missing.push(`${r.url()} ${r.failure()?.errorText}`));
  await page.goto(url || pathToFileURL(join(site, 'index.html')).href);
  await page.waitForSelector('body[data-ready="1"]', { timeout: 30000 });
  return new PageDriver(page, downloads, errors, missing);
}

export class PageDriver {
  constructor(page, downloads, errors, missing) {
    this.page = page;
    this.downloads = downloads;
    this.errors = errors;
    this.missing = missing;
  }

  async doneCount() {
    return this.page.evaluate(() => Number(document.body.dataset.done || 0));
  }

  // Runs `act` and waits until the worker has finished the action it started.
  async act(act, timeout = 120000) {
    const before = await this.doneCount();
    await act();
    await this.page.waitForFunction(
      (n) => Number(document.body.dataset.done || 0) > n && !document.body.classList.contains('busy'),
      { timeout, polling: 'mutation' }, before);
  }

  async load(file) {
    const input = await this.page.$('#file-input');
    await this.act(() => input.uploadFile(file));
  }

  // Sets the six fields' texts directly (the key filter is tested separately).
  async setFields(values) {
    await this.page.evaluate((v) => {
      for (const [name, text] of Object.entries(v)) document.getElementById(name).value = text;
    }, values);
  }

  async heartline() {
    await this.act(() => this.page.click('#btnMod'));
  }

  // Saves and returns the downloaded file's name and bytes.
  async save() {
    this.clearDownloads();
    await this.act(() => this.page.click('#btnSave'));
    return this.download();
  }

  clearDownloads() {
    for (const f of readdirSync(this.downloads)) rmSync(join(this.downloads, f));
  }

  // Waits for the one download of an action and returns its name and bytes.
  async download() {
    const deadline = Date.now() + 20000;
    for (;;) {
      const files = readdirSync(this.downloads).filter((f) => !f.endsWith('.crdownload'));
      if (files.length === 1) {
        const path = join(this.downloads, files[0]);
        const size = statSync(path).size;
        await new Promise((r) => setTimeout(r, 50));
        if (statSync(path).size === size) return { name: files[0], bytes: readFileSync(path) };
      }
      if (Date.now() > deadline) throw new Error('no download appeared');
      await new Promise((r) => setTimeout(r, 10));
    }
  }

  async text(selector) {
    return this.page.$eval(selector, (e) => ('value' in e ? e.value : e.textContent));
  }

  // The message box on show, or null: {title, text, detail}.
  async box() {
    return this.page.evaluate(() => {
      const box = document.getElementById('box');
      if (!box.open) return null;
      return {
        title: document.getElementById('box-title').textContent,
        text: document.getElementById('box-text').textContent,
        detail: document.getElementById('box-detail').textContent,
      };
    });
  }

  async closeBox() {
    await this.page.click('#box-ok');
    await this.page.waitForFunction(() => !document.getElementById('box').open);
  }
}
