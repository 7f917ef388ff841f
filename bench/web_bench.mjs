// Whole-program figures for Tessaly's web face on 127.0.0.1 (test picture at 15 per second, a tone):
//   1. capture-to-browser latency in chromium, read from the test picture's time stamp by the page itself,
//      with nothing else watching;
//   2. 50 MJPEG viewers beside 10 native receivers that ask once per captured picture and take the sound:
//      the server's CPU share and resident memory, JPEG encodes per second against the capture rate, each
//      viewer's pictures per second, and the browser's latency meanwhile.
// Usage: node bench/web_bench.mjs [SECONDS] [VIEWERS]   (defaults 20 and 50; needs `bash scripts/setup.sh`)
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';

import {Tessaly, launchChromium, sleep} from '../tests/browser/tessaly.js';

const seconds = Number(process.argv[2] || 20);
const viewerCount = Number(process.argv[3] || 50);
const receiverCount = 10;
const ticksPerSecond = 100;  // USER_HZ of /proc/PID/stat on Linux

const percentile = (values, p) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))] : NaN;
};

function serverUsage(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  const rss = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1];
  return {cpuTicks: Number(stat[11]) + Number(stat[12]), rssKiB: Number(rss), at: performance.now()};
}

function status(port) {
  return new Promise((resolve, reject) => {
    http.get({host: '127.0.0.1', port, path: '/status.json'}, (res) => {
      let body = '';
      res.on('data', (d) => { body += d; });
      res.on('end', () => resolve(JSON.parse(body)));
    }).on('error', reject);
  });
}

// An MJPEG viewer that counts the pictures it receives.
function mjpegViewer(port) {
  const viewer = {parts: 0, request: null};
  viewer.request = http.get({host: '127.0.0.1', port, path: '/stream.mjpg'}, (res) => {
    let tail = '';
    res.setEncoding('latin1');
    res.on('data', (chunk) => {
      const text = tail + chunk;
      viewer.parts += text.split('--tessalyframe\r\n').length - 1;
      tail = text.slice(-20);
    });
  });
  viewer.request.on('error', () => {});
  return viewer;
}

// A native receiver that asks for a frame once per captured picture (15 a second) and takes the sound.
function nativeReceiver(videoPort, soundPort) {
  const request = Buffer.from('VideoNext|END', 'utf16le');
  const receiver = {frames: 0, sockets: []};
  const video = net.connect(videoPort, '127.0.0.1', () => video.write(request));
  receiver.sockets.push(video);
  let last = 0, nextAt = performance.now();
  video.on('data', (chunk) => {
    const ended = chunk.length >= 2 ? chunk[chunk.length - 2] === 0xff && chunk[chunk.length - 1] === 0xff
                                    : last === 0xff && chunk[0] === 0xff;
    last = chunk[chunk.length - 1];
    if (!ended) return;
    if (receiver.frames++ === 0) {  // placed: its sound connection pairs with this video connection
      const sound = net.connect(soundPort, '127.0.0.1');
      sound.on('data', () => {});
      sound.on('error', () => {});
      receiver.sockets.push(sound);
    }
    nextAt += 1000 / 15;
    setTimeout(() => video.write(request), Math.max(0, nextAt - performance.now()));
  });
  video.on('error', () => {});
  return receiver;
}

async function browserLatency(browser, url, ms) {
  const page = await browser.newPage();
  await page.goto(url, {waitUntil: 'load'});
  await page.waitForFunction(() => window.tessaly.latencyMs.length > 0, {timeout: 10000});
  await page.evaluate(() => { window.tessaly.latencyMs.length = 0; });
  await sleep(ms);
  const latency = await page.evaluate(() => window.tessaly.latencyMs.slice());
  await page.close();
  return latency;
}

const describe = (latency) =>
  `median ${percentile(latency, 0.5).toFixed(1)} ms, p99 ${percentile(latency, 0.99).toFixed(1)} ms (${latency.length} pictures)`;

const {browser, reason} = await launchChromium();
// Every viewer comes from 127.0.0.1: one address may hold them all.
const server = await Tessaly.start({extra: ['--http-max-viewers', String(viewerCount + 5), '--http-per-address', String(2 * viewerCount + 16)]});
const pid = server.child.pid;
const videoPort = Number(server.child.spawnargs[server.child.spawnargs.indexOf('--video-port') + 1]);
const soundPort = Number(server.child.spawnargs[server.child.spawnargs.indexOf('--sound-port') + 1]);
try {
  if (browser) {
    console.log(`capture-to-browser latency, chromium alone: ${describe(await browserLatency(browser, server.url, seconds * 1000))}`);
  } else {
    console.log(`no browser latency: ${reason}`);
  }

  const receivers = [];
  for (let i = 0; i < receiverCount; i++) {
    receivers.push(nativeReceiver(videoPort, soundPort));
    await sleep(100);  // one at a time, so that each sound connection pairs with its own video connection
  }
  const viewers = Array.from({length: viewerCount}, () => mjpegViewer(server.port));
  await sleep(2000);
  const before = {usage: serverUsage(pid), status: await status(server.port),
    parts: viewers.map((v) => v.parts), frames: receivers.map((r) => r.frames)};
  const latency = browser ? browserLatency(browser, server.url, seconds * 1000) : sleep(seconds * 1000);
  const peakRss = [];
  for (const end = performance.now() + seconds * 1000; performance.now() < end; await sleep(500)) {
    peakRss.push(serverUsage(pid).rssKiB);
  }
  const loadLatency = await latency;
  const after = {usage: serverUsage(pid), status: await status(server.port)};
  const elapsed = (after.usage.at - before.usage.at) / 1000;
  const cpu = 100 * (after.usage.cpuTicks - before.usage.cpuTicks) / ticksPerSecond / elapsed;
  const rates = viewers.map((v, i) => (v.parts - before.parts[i]) / elapsed);
  const receiverRates = receivers.map((r, i) => (r.frames - before.frames[i]) / elapsed);
  console.log(`${viewerCount} MJPEG viewers beside ${receiverCount} native receivers at 15 requests/s, ${elapsed.toFixed(1)} s:`);
  console.log(`  server CPU ${cpu.toFixed(1)} % of one core, RSS ${after.usage.rssKiB} KiB (peak ${Math.max(...peakRss)} KiB)`);
  console.log(`  JPEG encodes ${((after.status.jpeg_encodes - before.status.jpeg_encodes) / elapsed).toFixed(2)}/s, capture ${after.status.capture_fps} pictures/s`);
  console.log(`  viewer pictures/s: min ${Math.min(...rates).toFixed(2)}, median ${percentile(rates, 0.5).toFixed(2)}, max ${Math.max(...rates).toFixed(2)}`);
  console.log(`  native receiver frames/s: min ${Math.min(...receiverRates).toFixed(2)}, median ${percentile(receiverRates, 0.5).toFixed(2)}`);
  console.log(`  web viewers counted by the server: ${after.status.web.picture_viewers}, receivers listed: ${after.status.receivers.length}`);
  if (browser) console.log(`  capture-to-browser latency meanwhile: ${describe(loadLatency)}`);
  viewers.forEach((v) => v.request.destroy());
  receivers.forEach((r) => r.sockets.forEach((s) => s.destroy()));
} finally {
  await server.stop();
  if (browser) await browser.close();
}
