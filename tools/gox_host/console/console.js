// gox-host's developer console: everything it shows comes from gox-host itself (the OpenAPI
// document, the event stream, the resource tree and the admin API); nothing is loaded from elsewhere.
'use strict';

const kKnownPaths = [
  '/gox-loadouts/v1/enabled',
  '/gox-login/v1/session',
  '/bxo-auth/v1/authorization/access-token',
  '/quarnclient/region-locale',
  '/gox-player-preferences/v1/player-preferences-ready',
  '/gox-platform-config/v1/namespaces/Loadouts',
  '/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes',
  '/gox-gameflow/v1/session',
];
const kLoginPath = '/gox-login/v1/session';
const kGameflowPath = '/gox-gameflow/v1/session';
const kConfigPath = '/gox-platform-config/v1/namespaces/Loadouts';
const kValidTypesPath = '/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes';
const kMaxEvents = 500;
const kPollMs = 3000;

const $ = (id) => document.getElementById(id);
const knownPaths = new Set(kKnownPaths);
const events = [];
let savedLogin = null;
let reachable = null;

function pretty(text) {
  if (text === '') return '(empty)';
  try { return JSON.stringify(JSON.parse(text), null, 2); } catch { return text; }
}

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') node.textContent = value;
    else node.setAttribute(name, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function setReachable(ok) {
  if (reachable === ok) return;
  reachable = ok;
  $('unreachable').hidden = ok;
  const status = $('connection');
  status.dataset.state = ok ? 'open' : 'closed';
  status.textContent = ok ? 'connected' : 'gox-host cannot be reached';
}

// fetch that notes whether gox-host answered at all.
async function request(method, path, body, headers = {}) {
  let response;
  try {
    response = await fetch(path, { method, body, headers, cache: 'no-store' });
  } catch (error) {
    setReachable(false);
    throw error;
  }
  setReachable(true);
  const text = await response.text();
  return { status: response.status, headers: [...response.headers.entries()], text };
}

async function admin(method, path, value) {
  return request(method, `/admin${path}`, value === undefined ? undefined : JSON.stringify(value),
                 value === undefined ? {} : { 'content-type': 'application/json' });
}

// ---- modules ----

async function loadModules() {
  const answer = await admin('GET', '/modules');
  const list = $('modules');
  list.replaceChildren();
  const select = $('filter-module');
  for (const module of JSON.parse(answer.text)) {
    const reload = element('button', { type: 'button', class: 'reload', text: 'Reload' });
    reload.addEventListener('click', () => reloadModule(module.name).catch(() => {}));
    const loads = module.loads > 1 ? `loaded ${module.loads} times, last` : 'loaded';
    list.append(element('li', { 'data-module': module.name, 'data-loads': String(module.loads) },
                        element('strong', { text: module.name }), ` ${module.version} `,
                        element('span', { class: 'note', text: `${loads} ${module.loadedAt}` }), ' ', reload));
    if (![...select.options].some((option) => option.value === module.name))
      select.append(element('option', { value: module.name, text: module.name }));
  }
}

// Reloads a module from its file and shows what came of it; the lists follow the module's new API.
async function reloadModule(name) {
  const outcome = $('reload-outcome');
  outcome.dataset.outcome = 'pending';
  outcome.textContent = `Reloading ${name} …`;
  const answer = await admin('POST', `/modules/${encodeURIComponent(name)}/reload`);
  let result = {};
  try { result = JSON.parse(answer.text); } catch { /* shown as text below */ }
  outcome.dataset.outcome = result.outcome || 'failed';
  outcome.dataset.ok = String(answer.status === 200);
  outcome.textContent = `${answer.status} ${result.outcome || ''}: ${result.message || answer.text}`;
  await Promise.all([loadModules(), loadEndpoints(), loadLog()]);
}

// ---- endpoints ----

function parameterInput(parameter) {
  const json = parameter.content && parameter.content['application/json'];
  const schema = json ? json.schema : parameter.schema || {};
  const hint = json ? 'JSON, e.g. ["EMOTE"]' : (schema.type || 'value');
  const input = element('input', { name: parameter.name, 'data-in': parameter.in, placeholder: hint });
  if (json) input.dataset.json = 'true';
  return element('label', {}, element('span', { text: `${parameter.name} (${parameter.in}${parameter.required ? ', required' : ''})` }), input);
}

function operationForm(path, method, operation) {
  const form = element('form');
  for (const parameter of operation.parameters || []) form.append(parameterInput(parameter));
  if (operation.requestBody) {
    const body = element('textarea', { name: 'body', rows: '3', placeholder: 'JSON body, e.g. {"EMOTE":[10]}' });
    form.append(element('label', {}, element('span', { text: 'body (JSON)' }), body));
  }
  form.append(element('button', { type: 'submit', text: 'Call' }));
  const result = element('div', { class: 'result' });
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    let url = path;
    const query = [];
    const headers = {};
    for (const input of form.querySelectorAll('input')) {
      const value = input.value;
      if (input.dataset.in === 'path') url = url.replace(`{${input.name}}`, encodeURIComponent(value));
      else if (input.dataset.in === 'header') { if (value !== '') headers[input.name] = value; }
      else if (value !== '' || input.dataset.json === 'true') query.push(`${encodeURIComponent(input.name)}=${encodeURIComponent(value)}`);
    }
    if (query.length > 0) url += `?${query.join('&')}`;
    const bodyInput = form.querySelector('textarea[name="body"]');
    let body;
    if (bodyInput) { body = bodyInput.value; headers['content-type'] = 'application/json'; }
    result.replaceChildren(element('p', { text: `${method.toUpperCase()} ${url} …` }));
    try {
      const answer = await request(method.toUpperCase(), url, body, headers);
      const ok = answer.status < 400;
      result.replaceChildren(
        element('p', {}, `${method.toUpperCase()} ${url} → `,
                element('span', { class: 'result-status', 'data-ok': String(ok), text: String(answer.status) })),
        element('pre', { class: 'answer headers', text: answer.headers.map(([n, v]) => `${n}: ${v}`).join('\n') }),
        element('pre', { class: 'answer body', text: pretty(answer.text) }));
    } catch {
      result.replaceChildren(element('p', { class: 'result-status', 'data-ok': 'false', text: 'no answer' }));
    }
  });
  return element('div', {}, form, result);
}

async function loadEndpoints() {
  const answer = await request('GET', '/openapi.json');
  const openApi = JSON.parse(answer.text);
  const container = $('endpoints');
  container.replaceChildren();
  for (const [path, item] of Object.entries(openApi.paths)) {
    if (path.startsWith('/admin/')) continue;  // gox-host's own operations have controls of their own
    for (const [method, operation] of Object.entries(item)) {
      const summary = element('summary', {}, element('span', { class: 'method', text: method.toUpperCase() }),
                              element('code', { text: path }), ` ${operation.operationId}`);
      const details = element('details', { class: 'endpoint', 'data-operation': operation.operationId }, summary,
                              element('p', { class: 'note', text: operation.description || '' }),
                              operationForm(path, method, operation));
      container.append(details);
    }
  }
}

// ---- events ----

function moduleOfUri(uri) {
  const match = /^\/([^/]+)\//.exec(uri || '');
  return match ? match[1] : '';
}

function eventShown(entry) {
  const uriFilter = $('filter-uri').value;
  const moduleFilter = $('filter-module').value;
  if (uriFilter && !(entry.uri || '').includes(uriFilter)) return false;
  if (moduleFilter && moduleOfUri(entry.uri) !== moduleFilter) return false;
  return true;
}

function eventItem(entry) {
  const item = element('li', { 'data-uri': entry.uri || '', 'data-event-type': entry.eventType || '' });
  item.append(element('strong', { text: `${entry.eventType || '?'} ` }), element('code', { text: entry.uri || '' }),
              ` (${entry.event || ''})`);
  item.addEventListener('click', () => item.querySelector('pre')?.remove() ??
    item.append(element('pre', { text: JSON.stringify(entry.data, null, 2) })));
  return item;
}

function renderEvents() {
  $('events').replaceChildren(...events.filter(eventShown).map(eventItem));
}

function openEvents() {
  const source = new EventSource('/events');
  source.onopen = () => setReachable(true);
  source.onerror = () => { if (source.readyState !== EventSource.OPEN) setReachable(false); };
  source.onmessage = (message) => {
    let entry;
    try { entry = JSON.parse(message.data); } catch { return; }
    events.push(entry);
    if (events.length > kMaxEvents) events.shift();
    if (entry.uri && !knownPaths.has(entry.uri)) { knownPaths.add(entry.uri); renderPaths(); }
    const module = moduleOfUri(entry.uri);
    const select = $('filter-module');
    if (module && ![...select.options].some((option) => option.value === module))
      select.append(element('option', { value: module, text: module }));
    if (eventShown(entry)) $('events').append(eventItem(entry));
  };
}

// ---- resource tree ----

function renderPaths() {
  const list = $('resource-paths');
  list.replaceChildren(...[...knownPaths].sort().map((path) => {
    const link = element('a', { text: path, 'data-path': path });
    link.addEventListener('click', () => { $('resource-path').value = path; readResource(path); });
    return element('li', {}, link);
  }));
}

async function readResource(path) {
  const answer = await request('GET', `/resources${path}`);
  $('resource-value').textContent = `${answer.status}\n${pretty(answer.text)}`;
}

// ---- stand-ins ----

function gameflow(phase, teamBuilder) {
  return { phase, gameData: { queue: { isTeamBuilderManaged: teamBuilder } } };
}

async function setFeature(enabled) {
  const current = await admin('GET', `/resources${kConfigPath}`);
  const config = JSON.parse(current.text);
  config.Enabled = enabled;
  return admin('PUT', `/resources${kConfigPath}`, config);
}

const kActions = {
  'login': () => admin('PUT', `/resources${kLoginPath}`, savedLogin),
  'logout': () => admin('DELETE', `/resources${kLoginPath}`),
  'champ-select-team-builder': () => admin('PUT', `/resources${kGameflowPath}`, gameflow('ChampSelect', true)),
  'champ-select-classic': () => admin('PUT', `/resources${kGameflowPath}`, gameflow('ChampSelect', false)),
  'lobby': () => admin('PUT', `/resources${kGameflowPath}`, gameflow('Lobby', true)),
  'feature-on': () => setFeature(true),
  'feature-off': () => setFeature(false),
};

async function showStandInAnswer(answer) {
  $('stand-in-answer').textContent = `${answer.status}\n${pretty(answer.text)}`;
  await Promise.all([loadCustomization(), loadLog()]);
}

async function setValidTypes(event) {
  event.preventDefault();
  let types;
  try { types = JSON.parse($('valid-types-input').value); } catch {
    $('stand-in-answer').textContent = 'ValidInventoryTypes must be a JSON array of texts';
    return;
  }
  const current = JSON.parse((await admin('GET', `/resources${kConfigPath}`)).text);
  current.ValidInventoryTypes = types;
  await admin('PUT', `/resources${kConfigPath}`, current);
  await showStandInAnswer(await admin('PUT', `/resources${kValidTypesPath}`, types));
}

async function loadCustomization() {
  const answer = await admin('GET', '/game-customization');
  $('customization').textContent = pretty(answer.text);
}

async function loadLog() {
  const answer = await admin('GET', '/log');
  const log = $('log');
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.textContent = answer.status === 200 ? JSON.parse(answer.text).lines.join('\n') : pretty(answer.text);
  if (atEnd) log.scrollTop = log.scrollHeight;
}

// ---- start ----

async function loadEverything() {
  await Promise.all([loadModules(), loadEndpoints(), loadCustomization(), loadLog()]);
  const login = await admin('GET', `/resources${kLoginPath}`);
  if (login.status === 200) savedLogin = JSON.parse(login.text);
}

function start() {
  $('origin').textContent = location.origin;
  renderPaths();
  for (const button of document.querySelectorAll('[data-action]'))
    button.addEventListener('click', async () => {
      try { await showStandInAnswer(await kActions[button.dataset.action]()); } catch { /* shown as unreachable */ }
    });
  $('valid-types').addEventListener('submit', (event) => setValidTypes(event).catch(() => {}));
  $('customization-refresh').addEventListener('click', () => loadCustomization().catch(() => {}));
  $('log-refresh').addEventListener('click', () => loadLog().catch(() => {}));
  $('resource-form').addEventListener('submit', (event) => {
    event.preventDefault();
    readResource($('resource-path').value).catch(() => {});
  });
  $('filter-uri').addEventListener('input', renderEvents);
  $('filter-module').addEventListener('change', renderEvents);
  $('events-clear').addEventListener('click', () => { events.length = 0; renderEvents(); });
  openEvents();
  let loaded = false;
  const poll = async () => {
    try {
      if (!loaded) { await loadEverything(); loaded = true; } else await loadLog();
    } catch { /* the banner says so */ }
    setTimeout(poll, kPollMs);
  };
  poll();
}

start();
