// Starts gox-services and gox-host on ephemeral loopback ports for one test file, and stops them.
// The executables come from GOX_BUILD_DIR (build/default by default).
import { spawn } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repo = path.resolve(here, '../..');
export const buildDir = path.resolve(repo, process.env.GOX_BUILD_DIR ?? 'build/default');

const kReadyTimeoutMs = 20000;

// Starts `executable` with `args` and resolves with its URL once it prints "<name> listening on URL".
function startOne(name, args) {
  const child = spawn(path.join(buildDir, name), args, { stdio: ['ignore', 'pipe', 'pipe'] });
  let log = '';
  child.stderr.on('data', (chunk) => { log += chunk; });
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`${name} did not get ready in ${kReadyTimeoutMs} ms:\n${log}`));
    }, kReadyTimeoutMs);
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`${name} exited with ${code} before it was ready:\n${log}`));
    });
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const match = out.match(new RegExp(`${name} listening on (http://\\S+)`));
      if (match) {
        clearTimeout(timer);
        child.removeAllListeners('exit');
        resolve({ child, url: match[1], log: () => log });
      }
    });
  });
}

function stopOne(server) {
  if (!server || server.child.exitCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const timer = setTimeout(() => server.child.kill('SIGKILL'), 10000);
    server.child.on('exit', () => { clearTimeout(timer); resolve(); });
    server.child.kill('SIGTERM');
  });
}

// Both servers, gox-host pointed at gox-services: { hostUrl, servicesUrl, stop() }.
export async function startServers() {
  const services = await startOne('gox-services', ['--listen', '127.0.0.1:0']);
  let host;
  try {
    host = await startOne('gox-host', ['--listen', '127.0.0.1:0', '--services-url', services.url]);
  } catch (error) {
    await stopOne(services);
    throw error;
  }
  return {
    hostUrl: host.url,
    servicesUrl: services.url,
    hostLog: host.log,
    stop: async () => { await stopOne(host); await stopOne(services); },
  };
}
