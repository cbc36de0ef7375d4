// A client built from gox-host's /openapi.json calls every endpoint of both modules against
// gox-host with gox-services, and the document passes an OpenAPI validator and a linter. The client
// sends exactly what the document declares, so a parameter described in a form the module does not
// bind fails here.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { promisify } from 'node:util';
import SwaggerClient from 'swagger-client';
import SwaggerParser from '@apidevtools/swagger-parser';
import { buildDir, repo, startServers } from './servers.mjs';

const run = promisify(execFile);
const here = path.join(repo, 'tests/web');

let servers;
let document;
let client;
const called = new Set();

before(async () => {
  servers = await startServers();
  document = await (await fetch(`${servers.hostUrl}/openapi.json`)).json();
  client = await SwaggerClient({ spec: structuredClone(document) });
});

after(async () => {
  await servers?.stop();
});

// Calls one operation and answers { status, body }, failures included.
async function call(operationId, parameters = {}, requestBody = undefined) {
  called.add(operationId);
  try {
    const response = await client.execute({ operationId, parameters, requestBody });
    return { status: response.status, body: response.body, url: response.url };
  } catch (error) {
    if (!error.response) throw error;
    return { status: error.response.status, body: error.response.body, url: error.response.url };
  }
}

async function admin(method, adminPath, body) {
  const response = await fetch(`${servers.hostUrl}/admin/${adminPath}`, {
    method,
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  assert.equal(response.status, 200, `${method} /admin/${adminPath}`);
  return response.json();
}

function entitlementTypes(body) {
  return [...new Set(body.entitlements.map((entry) => entry.inventoryType))].sort();
}

test('the document names the server gox-host listens on', () => {
  assert.deepEqual(document.servers.map((server) => server.url), [servers.hostUrl]);
});

test('the document passes the OpenAPI validator', async () => {
  await SwaggerParser.validate(structuredClone(document));
});

test('the linter reports no errors on the document', async () => {
  const file = path.join(buildDir, 'web', 'openapi.json');
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(document, null, 2));
  const redocly = path.join(here, 'node_modules/.bin/redocly');
  const env = { ...process.env, REDOCLY_TELEMETRY: 'off', REDOCLY_SUPPRESS_UPDATE_NOTICE: 'true' };
  // Exits non-zero on any error; warnings (a license, say) are shown but pass.
  const { stdout, stderr } = await run(redocly, ['lint', file, '--config', path.join(here, 'redocly.yaml'),
    '--format', 'stylish'], { env, timeout: 60000 });
  assert.doesNotMatch(stdout + stderr, /\berror\b/);
});

test('the inventory with one type and with two', async () => {
  const one = await call('GetGoxLoadoutsV1Inventory', { inventoryTypes: ['EMOTE'] });
  assert.equal(one.status, 200, JSON.stringify(one.body));
  assert.deepEqual(entitlementTypes(one.body), ['EMOTE']);
  const two = await call('GetGoxLoadoutsV1Inventory', { inventoryTypes: ['EMOTE', 'BANNER'] });
  assert.equal(two.status, 200, JSON.stringify(two.body));
  assert.deepEqual(entitlementTypes(two.body), ['BANNER', 'EMOTE']);
  assert.ok(two.body.entitlements.some((entry) => entry.inventoryType === 'EMOTE' && entry.itemId === 10));
  const every = await call('GetGoxLoadoutsV1Inventory', { inventoryTypes: [] });
  assert.equal(every.status, 200, JSON.stringify(every.body));
  assert.deepEqual(entitlementTypes(every.body), ['BANNER', 'COMPANION', 'EMOTE']);
});

test('the inventory module signs one token per asked type', async () => {
  const signed = await call('GetGoxInventoryV1SignedInventory', { inventoryTypes: ['EMOTE', 'BANNER'] });
  assert.equal(signed.status, 200, JSON.stringify(signed.body));
  assert.deepEqual(Object.keys(signed.body).sort(), ['BANNER', 'EMOTE']);
  for (const token of Object.values(signed.body)) assert.match(token, /^[\w-]+\.[\w-]+\.[\w-]+$/);
});

test('store, read, send to the game and delete loadout items', async () => {
  const stored = await call('PostGoxLoadoutsV2ItemsById', { id: 1 }, { EMOTE: [10], BANNER: [2] });
  assert.equal(stored.status, 204, JSON.stringify(stored.body));
  const read = await call('GetGoxLoadoutsV2ItemsByIdByInventoryType', { id: 1, inventoryType: 'EMOTE' });
  assert.equal(read.status, 200);
  assert.deepEqual(read.body, [10]);

  const sent = await call('PostGoxLoadoutsV1SendItemsToDuviRidazeById', { id: 1 });
  assert.equal(sent.status, 204, JSON.stringify(sent.body));
  const received = await admin('GET', 'game-customization');
  assert.ok(received.length > 0, 'the game received nothing');

  const removed = await call('DeleteGoxLoadoutsV2ItemsById', { id: 1, inventoryType: 'EMOTE' });
  assert.equal(removed.status, 204, JSON.stringify(removed.body));
  const banner = await call('GetGoxLoadoutsV2ItemsByIdByInventoryType', { id: 1, inventoryType: 'BANNER' });
  assert.deepEqual(banner.body, [2]);
});

test('failures come in the documented failure shape with the documented statuses', async () => {
  const notOwned = await call('PostGoxLoadoutsV2ItemsById', { id: 2 }, { EMOTE: [99] });
  assert.equal(notOwned.status, 500);
  assert.equal(notOwned.body.httpStatus, 500);
  assert.equal(typeof notOwned.body.message, 'string');
  assert.ok(document.paths['/gox-loadouts/v2/items/{id}'].post.responses['500']);

  const config = await admin('GET', 'resources/gox-platform-config/v1/namespaces/Loadouts');
  await admin('PUT', 'resources/gox-platform-config/v1/namespaces/Loadouts', { ...config, Enabled: false });
  try {
    const off = await call('GetGoxLoadoutsV1Inventory', { inventoryTypes: ['EMOTE'] });
    assert.deepEqual([off.status, off.body.message], [503, 'Loadouts not enabled']);
    assert.ok(document.paths['/gox-loadouts/v1/inventory'].get.responses['503']);
  } finally {
    await admin('PUT', 'resources/gox-platform-config/v1/namespaces/Loadouts', config);
  }
});

test('a module reloads through the documented admin operation and serves on', async () => {
  const reloaded = await call('ReloadModule', { name: 'gox-inventory' });
  assert.equal(reloaded.status, 200, JSON.stringify(reloaded.body));
  assert.equal(reloaded.body.outcome, 'reloaded');
  assert.equal(reloaded.body.loads, 2);
  const missing = await call('ReloadModule', { name: 'gox-nobody' });
  assert.equal(missing.status, 404);
  assert.equal(missing.body.outcome, 'no-module');
  const signed = await call('GetGoxInventoryV1SignedInventory', { inventoryTypes: ['EMOTE'] });
  assert.equal(signed.status, 200, JSON.stringify(signed.body));
});

test('every operation of the document was called', () => {
  const operations = [];
  for (const item of Object.values(document.paths))
    for (const operation of Object.values(item)) operations.push(operation.operationId);
  assert.ok(operations.length >= 5);
  assert.deepEqual(operations.filter((id) => !called.has(id)), []);
});
