// A recording in Debian's chromium, headless: the <video> element plays the fragmented MP4 that the recorder
// writes (H.264 and AAC), knows its length and seeks in it. record_driver makes the recording.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {after, describe, test} from 'node:test';

import {binDir, launchChromium, run, tempDir} from './tessaly.js';

const chromium = await launchChromium();
const driver = path.join(binDir, 'record_driver');
const skip = !chromium.browser ? chromium.reason : !fs.existsSync(driver) ? `no ${driver}` : false;
if (skip) console.log(`recording browser test skipped: ${skip}`);

after(async () => {
  if (chromium.browser) await chromium.browser.close();
});

describe('a recording in chromium', {skip}, () => {
  test('plays, has its length and seeks', async () => {
    const folder = tempDir('recording');
    const made = await run(driver, ['--dir', folder, '--seconds', '6', '--pre', '1', '--post', '1',
      '--event', '1.5:3.5', '--noise', '6']);
    assert.equal(made.code, 0, made.err);
    const video = fs.readdirSync(folder).find((name) => name.endsWith('.mp4'));
    fs.writeFileSync(path.join(folder, 'player.html'), `<video src="${video}" muted></video>`);

    const page = await chromium.browser.newPage();
    await page.goto(`file://${folder}/player.html`, {waitUntil: 'load', timeout: 20000});
    await page.waitForFunction(() => document.querySelector('video').readyState >= 1, {timeout: 10000});
    const facts = await page.evaluate(() => {
      const v = document.querySelector('video');
      return {duration: v.duration, width: v.videoWidth, height: v.videoHeight, error: v.error && v.error.message};
    });
    assert.equal(facts.error, null);
    assert.equal(facts.width, 320);
    assert.equal(facts.height, 240);
    assert.ok(Math.abs(facts.duration - 4) < 0.5, `duration ${facts.duration}`);

    const played = await page.evaluate(() => new Promise((resolve) => {
      const v = document.querySelector('video');
      v.play();
      setTimeout(() => resolve({at: v.currentTime, soundBytes: v.webkitAudioDecodedByteCount}), 1500);
    }));
    assert.ok(played.at > 0.5, `played to ${played.at}`);
    assert.ok(played.soundBytes > 0, 'no sound decoded');
    const seeked = await page.evaluate(() => new Promise((resolve) => {
      const v = document.querySelector('video');
      v.pause();
      v.addEventListener('seeked', () => resolve({at: v.currentTime, error: v.error && v.error.message}),
        {once: true});
      v.currentTime = 3.2;
    }));
    assert.equal(seeked.error, null);
    assert.ok(Math.abs(seeked.at - 3.2) < 0.3, `seeked to ${seeked.at}`);
    await page.close();
    fs.rmSync(folder, {recursive: true, force: true});
  });
});
