// What other tools read from Tessaly's web face: ffprobe sees the MJPEG and WAV streams for what they are,
// and the README's HLS recipe (scripts/web_to_hls.sh) makes segments that hold the picture and the sound.
// Without ffmpeg's tools these tests say so in one line and are skipped.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {after, before, describe, test} from 'node:test';

import {Tessaly, haveProgram, probeStreams, run, tempDir} from './tessaly.js';

const recipe = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../scripts/web_to_hls.sh');
const skip = haveProgram('ffprobe') && haveProgram('ffmpeg') ? false : 'ffmpeg and ffprobe are not installed';
if (skip) console.log(`media tests skipped: ${skip}`);

describe('the streams as other tools see them', {skip}, () => {
  let server, folder;
  before(async () => {
    folder = tempDir('media');
    server = await Tessaly.start();
  });
  after(async () => {
    await server?.stop();
    fs.rmSync(folder, {recursive: true, force: true});
  });

  test('ffprobe sees MJPEG 320x240 and 16-bit 8,000 Hz mono sound', async () => {
    const [video] = await probeStreams(server.url + 'stream.mjpg');
    assert.deepEqual([video.codec_name, video.width, video.height], ['mjpeg', 320, 240]);
    const [sound] = await probeStreams(server.url + 'sound.wav', ['-analyzeduration', '1000000']);
    assert.deepEqual([sound.codec_name, Number(sound.sample_rate), sound.channels, sound.bits_per_sample],
        ['pcm_s16le', 8000, 1, 16]);
  });

  test('the HLS recipe writes segments with the picture and the sound', async () => {
    const hls = path.join(folder, 'hls');
    const {code, err} = await run('bash', [recipe, server.url, hls, '6'], 60000);
    assert.equal(code, 0, err);
    const segments = fs.readdirSync(hls).filter((name) => name.endsWith('.ts'));
    assert.ok(segments.length >= 2, `segments: ${segments}`);
    const streams = await probeStreams(path.join(hls, 'index.m3u8'));
    const video = streams.find((s) => s.codec_type === 'video');
    const sound = streams.find((s) => s.codec_type === 'audio');
    assert.deepEqual([video?.codec_name, video?.width, video?.height], ['h264', 320, 240]);
    assert.equal(sound?.codec_name, 'aac');
  });
});
