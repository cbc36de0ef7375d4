// The developer console in Debian's chromium: a person's flow through it, against gox-host with
// gox-services. Screenshots go to the build folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { buildDir, startServers } from './servers.mjs';

const kChromium = process.env.GOX_CHROMIUM ?? '/usr/bin/chromium';
const kWaitMs = 10000;
const shots = path.join(buildDir, 'web');

let servers;
let browser;
let page;

before(async () => {
  fs.mkdirSync(shots, { recursive: true });
  servers = await startServers();
  browser = await puppeteer.launch({
    executablePath: kChromium,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  // Nothing but gox-host: a request anywhere else fails the test.
  page.on('request', (request) => {
    if (!request.url().startsWith(servers.hostUrl)) throw new Error(`the console fetched ${request.url()}`);
  });
});

after(async () => {
  await browser?.close();
  await servers?.stop();
});

async function callEndpoint(operationId, fields) {
  const details = `details[data-operation="${operationId}"]`;
  await page.$eval(details, (node) => { node.open = true; });
  for (const [name, value] of Object.entries(fields)) {
    const selector = `${details} [name="${name}"]`;
    await page.$eval(selector, (node) => { node.value = ''; });
    await page.type(selector, value);
  }
  await page.$eval(`${details} .result`, (node) => node.replaceChildren());
  await page.click(`${details} button[type="submit"]`);
  const status = await page.waitForSelector(`${details} .result .result-status`, { timeout: kWaitMs });
  return status.evaluate((node) => node.textContent);
}

test('the console shows the modules, their endpoints and the stand-ins', async () => {
  await page.goto(`${servers.hostUrl}/`, { waitUntil: 'domcontentloaded' });
  await page.waitForSelector('#modules li[data-module="gox-loadouts"]', { timeout: kWaitMs });
  await page.waitForSelector('#modules li[data-module="gox-inventory"]', { timeout: kWaitMs });
  const endpoints = await page.$$eval('details.endpoint', (nodes) => nodes.map((node) => node.dataset.operation));
  assert.equal(endpoints.length, 6);
  assert.ok(endpoints.includes('GetGoxInventoryV1SignedInventory'));
  await page.waitForFunction(() => document.querySelector('#connection').dataset.state === 'open',
                             { timeout: kWaitMs });
});

test('storing items through an endpoint form shows their events in the stream', async () => {
  const status = await callEndpoint('PostGoxLoadoutsV2ItemsById', { id: '1', body: '{"EMOTE":[10],"BANNER":[2]}' });
  assert.equal(status, '204');
  await page.waitForSelector('#events li[data-uri="/gox-loadouts/v2/items/1/EMOTE"][data-event-type="Update"]',
                             { timeout: kWaitMs });
  await page.waitForSelector('#events li[data-uri="/gox-loadouts/v2/items/1/BANNER"][data-event-type="Update"]',
                             { timeout: kWaitMs });
  // The uri filter keeps only what matches.
  await page.type('#filter-uri', 'BANNER');
  const shown = await page.$$eval('#events li', (nodes) => nodes.map((node) => node.dataset.uri));
  assert.ok(shown.length > 0 && shown.every((uri) => uri.includes('BANNER')), shown.join(', '));
  await page.$eval('#filter-uri', (node) => { node.value = ''; node.dispatchEvent(new Event('input')); });
});

test('entering champion select with the team-builder queue records the customization', async () => {
  await page.click('[data-action="champ-select-team-builder"]');
  await page.waitForFunction(() => {
    try { return JSON.parse(document.querySelector('#customization').textContent).length > 0; } catch { return false; }
  }, { timeout: kWaitMs });
  await page.screenshot({ path: path.join(shots, 'console.png') });
});

test('with the feature off the endpoints answer 503', async () => {
  await page.click('[data-action="feature-off"]');
  await page.waitForFunction(() => document.querySelector('#stand-in-answer').textContent.startsWith('200'),
                             { timeout: kWaitMs });
  const status = await callEndpoint('GetGoxLoadoutsV1Inventory', { inventoryTypes: '["EMOTE"]' });
  assert.equal(status, '503');
  const body = await page.$eval('details[data-operation="GetGoxLoadoutsV1Inventory"] .result .body',
                                (node) => node.textContent);
  assert.match(body, /Loadouts not enabled/);
  await page.click('[data-action="feature-on"]');
});

test('the reload button reloads a module and shows the outcome', async () => {
  await page.click('#modules li[data-module="gox-loadouts"] button.reload');
  await page.waitForSelector('#reload-outcome[data-outcome="reloaded"][data-ok="true"]', { timeout: kWaitMs });
  await page.waitForSelector('#modules li[data-module="gox-loadouts"][data-loads="2"]', { timeout: kWaitMs });
  const text = await page.$eval('#reload-outcome', (node) => node.textContent);
  assert.match(text, /^200 reloaded: reloaded gox-loadouts from /);
  // The reloaded module serves its endpoints, and read the stored items' state afresh.
  const status = await callEndpoint('GetGoxLoadoutsV2ItemsByIdByInventoryType', { id: '1', inventoryType: 'EMOTE' });
  assert.equal(status, '200');
  const endpoints = await page.$$eval('details.endpoint', (nodes) => nodes.length);
  assert.equal(endpoints, 6);  // gox-host's own reload operation has its button, not a form
});

test('a narrow window has no sideways scrolling', async () => {
  await page.setViewport({ width: 400, height: 800 });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  await page.screenshot({ path: path.join(shots, 'console-narrow.png'), fullPage: false });
  await page.setViewport({ width: 1280, height: 800 });
  assert.ok(overflow <= 0, `scrolls ${overflow} px sideways`);
});

test('the console says plainly when gox-host cannot be reached', async () => {
  await servers.stop();
  await page.waitForSelector('#unreachable:not([hidden])', { timeout: kWaitMs });
  const text = await page.$eval('#unreachable', (node) => node.textContent);
  assert.match(text, /cannot be reached/);
});
