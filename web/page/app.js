// Tessaly's page: the live picture from /stream.mjpg (read with a stream reader, drawn into a canvas,
// mirrored as the receivers paint it unless the viewer turns that off), the sound from /sound.wav played
// through the Web Audio API with a small jitter buffer, the alarm button, and the server's state from
// /status.json every 2 seconds. window.tessaly holds the figures that the page measures (frames shown,
// capture-to-browser latency, sound received and its gaps), for the viewer and for tests.
'use strict';

const tessaly = {
  frames: 0,
  latencyMs: [],      // capture-to-browser latency of the latest pictures that carry a time stamp
  sound: null,        // the sound figures while sound plays
  clockOffsetUs: null // server clock minus this page's clock, from the status answer with the shortest trip
};
window.tessaly = tessaly;

const $ = (id) => document.getElementById(id);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function say(text) {
  $('message').textContent = text;
}

// ---- Mirroring, remembered by the browser ----

const mirrorKey = 'tessaly.mirror';
$('mirror').checked = localStorage.getItem(mirrorKey) !== 'off';
$('mirror').addEventListener('change', () => {
  localStorage.setItem(mirrorKey, $('mirror').checked ? 'on' : 'off');
});

// ---- The time stamp strip along the picture's bottom 16 lines (see platform/capture/timestamp.h) ----

const stamp = {
  blocks: 80,
  syncHead: 0xb2,
  syncTail: 0x4d,
  minContrast: 48,
  mask: 2 ** 48
};

function crc16(bytes) {
  let crc = 0xffff;
  for (const b of bytes) {
    crc ^= b << 8;
    for (let i = 0; i < 8; i++) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xffff : (crc << 1) & 0xffff;
  }
  return crc;
}

// The capture time in microseconds carried by an upright 320 x 240 picture's bottom 16 lines (RGBA pixels
// of ImageData rows 224 to 239), or null when the strip holds none.
function readStamp(strip) {
  const luma = [];
  for (let k = 0; k < stamp.blocks; k++) {
    const top = k < 40 ? 0 : 8;  // the upper line of blocks first, then the lower one
    const left = (k % 40) * 8;
    let sum = 0;
    for (let y = 0; y < 8; y++) {
      for (let x = 0; x < 8; x++) {
        const p = ((top + y) * 320 + left + x) * 4;
        sum += 29 * strip[p + 2] + 150 * strip[p + 1] + 77 * strip[p];
      }
    }
    luma.push(Math.floor(sum / (64 * 256)));
  }
  let white = 0, black = 0;
  for (let i = 0; i < 8; i++) {
    const head = (stamp.syncHead >> (7 - i)) & 1, tail = (stamp.syncTail >> (7 - i)) & 1;
    if (head) white += luma[i]; else black += luma[i];
    if (tail) white += luma[72 + i]; else black += luma[72 + i];
  }
  white = Math.floor(white / 8);
  black = Math.floor(black / 8);
  if (white - black < stamp.minContrast) return null;
  const threshold = Math.floor((white + black) / 2);
  const bytes = [];
  for (let i = 0; i < 10; i++) {
    let v = 0;
    for (let b = 0; b < 8; b++) v = (v << 1) | (luma[8 * i + b] > threshold ? 1 : 0);
    bytes.push(v);
  }
  if (bytes[0] !== stamp.syncHead || bytes[9] !== stamp.syncTail) return null;
  if (((bytes[7] << 8) | bytes[8]) !== crc16(bytes.slice(1, 7))) return null;
  let t = 0;
  for (let i = 1; i <= 6; i++) t = t * 256 + bytes[i];
  return t;
}

function noteLatency(stampUs) {
  if (stampUs === null || tessaly.clockOffsetUs === null) return;
  const serverNow = performance.now() * 1000 + tessaly.clockOffsetUs;
  let age = (serverNow % stamp.mask) - stampUs;  // the stamp keeps the clock's low 48 bits
  if (age < -stamp.mask / 2) age += stamp.mask;
  if (age > stamp.mask / 2) age -= stamp.mask;
  tessaly.latencyMs.push(age / 1000);
  if (tessaly.latencyMs.length > 1000) tessaly.latencyMs.shift();
}

// ---- The picture: multipart JPEG parts from a stream reader ----

const canvas = $('picture');
const context = canvas.getContext('2d');
const work = document.createElement('canvas');  // the picture upright, to read its strip
work.width = 320;
work.height = 240;
const workContext = work.getContext('2d', {willReadFrequently: true});

async function showPicture(jpeg) {
  const bitmap = await createImageBitmap(new Blob([jpeg], {type: 'image/jpeg'}));
  workContext.drawImage(bitmap, 0, 0, 320, 240);
  context.save();
  if ($('mirror').checked) {
    context.translate(320, 0);
    context.scale(-1, 1);
  }
  context.drawImage(bitmap, 0, 0, 320, 240);
  context.restore();
  bitmap.close();
  tessaly.frames++;
  noteLatency(readStamp(workContext.getImageData(0, 224, 320, 16).data));
}

// Collects bytes from a stream reader and hands out what the caller asks for.
class ByteQueue {
  constructor(reader) {
    this.reader = reader;
    this.chunks = [];
    this.length = 0;
  }
  async fill(n) {
    while (this.length < n) {
      const {value, done} = await this.reader.read();
      if (done) return false;
      this.chunks.push(value);
      this.length += value.length;
    }
    return true;
  }
  peekText(limit) {
    const n = Math.min(limit, this.length);
    return new TextDecoder('latin1').decode(this.take(n, true));
  }
  take(n, keep = false) {
    const out = new Uint8Array(n);
    let at = 0, i = 0;
    while (at < n) {
      const c = this.chunks[i++];
      const k = Math.min(c.length, n - at);
      out.set(c.subarray(0, k), at);
      at += k;
    }
    if (!keep) this.drop(n);
    return out;
  }
  drop(n) {
    this.length -= n;
    while (n > 0) {
      const c = this.chunks[0];
      if (c.length <= n) {
        n -= c.length;
        this.chunks.shift();
      } else {
        this.chunks[0] = c.subarray(n);
        n = 0;
      }
    }
  }
}

// Reads one part: its header up to the blank line (Content-Length tells the JPEG's size), the JPEG and
// the line end behind it. Null at the end of the stream.
async function readPart(bytes) {
  for (;;) {
    const head = bytes.peekText(512);
    const end = head.indexOf('\r\n\r\n');
    if (end >= 0) {
      const length = /Content-Length:\s*(\d+)/i.exec(head.slice(0, end));
      if (!length) throw new Error('a part without Content-Length');
      bytes.drop(end + 4);
      const size = Number(length[1]);
      if (!(await bytes.fill(size + 2))) return null;
      const jpeg = bytes.take(size);
      bytes.drop(2);
      return jpeg;
    }
    if (head.length >= 512) throw new Error('a part header longer than 512 bytes');
    if (!(await bytes.fill(bytes.length + 1))) return null;
  }
}

async function watchPictures() {
  for (let retryMs = 1000; ; retryMs = Math.min(retryMs * 2, 8000)) {
    try {
      const response = await fetch('stream.mjpg', {cache: 'no-store'});
      if (!response.ok) throw new Error(String(response.status));
      $('connection').textContent = '接続しました。';
      retryMs = 1000;
      const bytes = new ByteQueue(response.body.getReader());
      for (let jpeg; (jpeg = await readPart(bytes)) !== null;) await showPicture(jpeg);
    } catch (e) {
      console.warn('picture stream:', e.message);
    }
    $('connection').textContent = '映像を受信できません。再接続します…';
    await sleep(retryMs);
  }
}

// ---- The server's state every 2 seconds, and the clock offset for the latency ----

function showState(s) {
  $('security').textContent = s.security_mode ? 'オン' : 'オフ';
  $('capture').textContent = s.capture_fps.toFixed(1) + ' 枚/秒';
  $('viewers').textContent = (s.web.picture_viewers + s.web.sound_listeners) + ' 人 (映像 ' +
      s.web.picture_viewers + '、音声 ' + s.web.sound_listeners + ')／最大 ' + s.web.max_viewers + ' 人';
  const list = $('receivers');
  const rows = s.receivers.length ? s.receivers.map((r) => r.slot + ' ' + r.address + ' ' + r.ticks) : ['なし'];
  list.replaceChildren(...rows.map((text) => {
    const li = document.createElement('li');
    li.textContent = text;
    return li;
  }));
  $('receiver-count').textContent = '接続 ' + s.receivers.length + ' 台／最大 ' + s.max_receivers + ' 台';
  const recent = tessaly.latencyMs.slice(-30).sort((a, b) => a - b);
  $('latency').textContent = recent.length ? recent[recent.length >> 1].toFixed(0) + ' ms' : '-';
}

let bestTripUs = Infinity;

// Asks for the state; the answer with the shortest round trip sets the clock offset (its error is at most
// half that trip).
async function fetchState() {
  const sent = performance.now();
  const response = await fetch('status.json', {cache: 'no-store'});
  const received = performance.now();
  if (!response.ok) throw new Error(String(response.status));
  const s = await response.json();
  const tripUs = (received - sent) * 1000;
  if (tripUs <= bestTripUs) {
    bestTripUs = tripUs;
    tessaly.clockOffsetUs = s.clock_us - (sent + received) / 2 * 1000;
  }
  return s;
}

async function pollState() {
  for (let quick = 5; ; quick--) {
    try {
      showState(await fetchState());
    } catch (e) {
      console.warn('status:', e.message);
    }
    await sleep(quick > 0 ? 50 : 2000);  // a few quick answers first, for a good clock offset
  }
}

// ---- The alarm ----

// The alarm sounds where the server stands: the page asks once before each one.
$('alarm').addEventListener('click', async () => {
  if (!window.confirm('警報を鳴らしますか？')) return;
  try {
    const response = await fetch('alarm', {method: 'POST'});
    if (!response.ok) throw new Error(String(response.status));
    const answer = await response.json();
    say(answer.played ? '警報を鳴らしました。' : 'セキュリティモードがオフです。警報は鳴らしませんでした。');
  } catch (e) {
    say('警報を送れませんでした。(' + e.message + ')');
  }
});

// ---- The sound: 8,000 Hz 16-bit mono from /sound.wav, scheduled about 0.4 s ahead ----

const sound = {
  rate: 8000,
  headerBytes: 44,
  aheadS: 0.4,     // the jitter buffer: how far ahead of the output the samples are scheduled
  mostAheadS: 1.2, // beyond this a chunk is dropped, so that latency cannot grow without bound
  audio: null,
  abort: null
};

function newSoundFigures() {
  return {samples: 0, crossings: 0, last: 0, chunks: 0, dropped: 0, underruns: 0, maxSilenceS: 0,
          maxArrivalGapS: 0, lastArrival: null, frequencyHz: 0};
}

function playChunk(pcm) {
  const figures = tessaly.sound;
  const now = performance.now() / 1000;
  if (figures.lastArrival !== null) figures.maxArrivalGapS = Math.max(figures.maxArrivalGapS, now - figures.lastArrival);
  figures.lastArrival = now;
  const n = pcm.length >> 1;
  const view = new DataView(pcm.buffer, pcm.byteOffset, n * 2);
  const buffer = sound.audio.createBuffer(1, n, sound.rate);
  const samples = buffer.getChannelData(0);
  for (let i = 0; i < n; i++) {
    const s = view.getInt16(2 * i, true);
    if ((s < 0) !== (figures.last < 0)) figures.crossings++;
    figures.last = s;
    samples[i] = s / 32768;
  }
  figures.samples += n;
  figures.chunks++;
  figures.frequencyHz = figures.crossings / 2 / (figures.samples / sound.rate);
  const out = sound.audio.currentTime;
  if (sound.next < out) {  // the output ran dry: start again one jitter buffer ahead
    if (figures.chunks > 1) {
      figures.underruns++;
      figures.maxSilenceS = Math.max(figures.maxSilenceS, out - sound.next);
    }
    sound.next = out + sound.aheadS;
  } else if (sound.next - out > sound.mostAheadS) {
    figures.dropped++;
    return;
  }
  const source = sound.audio.createBufferSource();
  source.buffer = buffer;
  source.connect(sound.audio.destination);
  source.start(sound.next);
  sound.next += buffer.duration;
}

async function listen(signal) {
  const response = await fetch('sound.wav', {cache: 'no-store', signal});
  if (!response.ok) throw new Error(String(response.status));
  const reader = response.body.getReader();
  let skip = sound.headerBytes;
  let odd = null;  // a sample's first byte at the end of a chunk
  for (;;) {
    const {value, done} = await reader.read();
    if (done) return;
    let bytes = value;
    if (skip > 0) {
      const k = Math.min(skip, bytes.length);
      skip -= k;
      bytes = bytes.subarray(k);
    }
    if (odd !== null && bytes.length > 0) {
      const joined = new Uint8Array(bytes.length + 1);
      joined[0] = odd;
      joined.set(bytes, 1);
      bytes = joined;
      odd = null;
    }
    if (bytes.length % 2) {
      odd = bytes[bytes.length - 1];
      bytes = bytes.subarray(0, bytes.length - 1);
    }
    if (bytes.length > 0) playChunk(bytes);
  }
}

async function startSound() {
  sound.audio = sound.audio || new AudioContext();
  await sound.audio.resume();
  sound.abort = new AbortController();
  sound.next = 0;
  tessaly.sound = newSoundFigures();
  $('sound').textContent = '音声を止める';
  say('音声を再生します。');
  try {
    await listen(sound.abort.signal);
  } catch (e) {
    if (e.name !== 'AbortError') say('音声を受信できません。(' + e.message + ')');
  }
  stopSound();
}

function stopSound() {
  if (sound.abort) sound.abort.abort();
  sound.abort = null;
  $('sound').textContent = '音声を聞く';
}

// Browsers start sound only on a user's gesture: the button.
$('sound').addEventListener('click', () => {
  if (sound.abort) {
    stopSound();
    say('音声を止めました。');
  } else {
    startSound();
  }
});

watchPictures();
pollState();
