// Shared by the browser and media tests: tessaly started --headless on ports of 127.0.0.1 that it reports (and
// stopped, whatever happened), Debian's chromium through puppeteer-core, ffmpeg's tools, and a plain HTTP
// request. Every wait is bounded.
import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const binDir = process.env.TESSALY_BIN_DIR || path.resolve(here, '../../build/bin');
export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export function tempDir(name) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `tessaly-${name}-`));
}

// The ports in a port file of tessaly (lines name=port), or null while it is not there whole.
function readPortFile(file) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch {
    return null;
  }
  const ports = Object.fromEntries(text.split('\n').filter((l) => l.includes('=')).map((l) => l.split('=')));
  return ['video', 'sound', 'http'].every((name) => name in ports) ? ports : null;
}

// A running tessaly: its HTTP port, its standard output so far, commands on its standard input. It listens
// on ports that the system chooses and writes them to its port file, so that no two runs race for a port.
export class Tessaly {
  static async start({capture = 'testpattern', audioOut = 'null', extra = []} = {}) {
    const portFile = path.join(tempDir('ports'), 'ports');
    const args = ['--headless', '--serve', '--capture', capture, '--audio-in', 'tone', '--audio-out', audioOut,
      '--bind', '127.0.0.1', '--video-port', '0', '--sound-port', '0', '--http-port', 'any', '--port-file',
      portFile, ...extra];
    const server = new Tessaly(spawn(path.join(binDir, 'tessaly'), args, {stdio: ['pipe', 'pipe', 'pipe']}));
    let ports = null;
    const deadline = Date.now() + 10000;
    while (!ports && Date.now() < deadline && server.running()) {
      await sleep(50);
      ports = readPortFile(portFile);
    }
    fs.rmSync(path.dirname(portFile), {recursive: true, force: true});
    if (ports) server.setPort(Number(ports.http));
    if (!ports || !(await server.waitFor(`web: ${server.url}`))) {
      await server.stop();
      throw new Error(`tessaly did not start its web page:\n${server.output}${server.errors}`);
    }
    return server;
  }

  constructor(child) {
    this.child = child;
    this.output = '';
    this.errors = '';
    this.ended = new Promise((resolve) => child.once('exit', resolve));
    child.stdout.on('data', (d) => { this.output += d; });
    child.stderr.on('data', (d) => { this.errors += d; });
  }

  setPort(port) {
    this.port = port;
    this.url = `http://127.0.0.1:${port}/`;
  }

  running() {
    return this.child.exitCode === null && this.child.signalCode === null;
  }

  async waitFor(text, ms = 10000) {
    for (const deadline = Date.now() + ms; Date.now() < deadline; await sleep(50)) {
      if (this.output.includes(text)) return true;
    }
    return this.output.includes(text);
  }

  send(line) {
    this.child.stdin.write(line + '\n');
  }

  // Ends it as SIGTERM does (its own shutdown), then for good after 5 s.
  async stop() {
    if (!this.running()) return;
    this.child.kill('SIGTERM');
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
    await this.ended;
    clearTimeout(timer);
  }
}

// Chromium headless through puppeteer-core, or the reason why it cannot run here.
export async function launchChromium() {
  if (!fs.existsSync(chromiumPath)) return {reason: `no chromium at ${chromiumPath}`};
  let puppeteer;
  try {
    puppeteer = (await import('puppeteer-core')).default;
  } catch {
    return {reason: 'puppeteer-core is not installed (scripts/setup.sh installs it)'};
  }
  try {
    const browser = await puppeteer.launch({
      executablePath: chromiumPath,
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'],
      timeout: 30000
    });
    return {browser};
  } catch (e) {
    return {reason: `chromium cannot start: ${e.message.split('\n')[0]}`};
  }
}

export function haveProgram(name) {
  return spawnSync('sh', ['-c', `command -v ${name}`]).status === 0;
}

// Runs a program to its end (bounded); its exit status and output.
export function run(program, args, timeoutMs = 30000) {
  return new Promise((resolve) => {
    const child = spawn(program, args, {stdio: ['ignore', 'pipe', 'pipe']});
    let out = '', err = '';
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { err += d; });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.once('exit', (code) => {
      clearTimeout(timer);
      resolve({code, out, err});
    });
  });
}

// The streams of a media file or address as ffprobe sees them.
export async function probeStreams(input, extra = []) {
  const {code, out, err} = await run('ffprobe', ['-v', 'error', ...extra, '-show_entries',
    'stream=codec_type,codec_name,width,height,sample_rate,channels,bits_per_sample', '-of', 'json', input]);
  if (code !== 0) throw new Error(`ffprobe ${input}: ${err}`);
  return JSON.parse(out).streams;
}

// One plain HTTP request to 127.0.0.1; resolves with the status and the body (at most 64 KB of it).
export function request(port, pathName, {method = 'GET', headers = {}} = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({host: '127.0.0.1', port, path: pathName, method, headers, timeout: 10000}, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (d) => {
        body += d;
        if (body.length > 65536) res.destroy();
      });
      res.on('end', () => resolve({status: res.statusCode, headers: res.headers, body}));
      res.on('close', () => resolve({status: res.statusCode, headers: res.headers, body}));
    });
    req.on('timeout', () => req.destroy(new Error('timed out')));
    req.on('error', reject);
    req.end();
  });
}
