// Tessaly's events on the page: a banner while an event lasts (and the browser's notification when the
// viewer allowed it), the list of events from /events.json with each thumbnail and, for recorded events, a
// player. /events (Server-Sent Events) tells of each start and end; the list is read again then.
// window.tessalyEvents holds what the page shows, for tests.
'use strict';

// Its own scope: the page's other script has globals of the same names.
(() => {
  const watched = { list: [], live: null, messages: 0 };
  window.tessalyEvents = watched;

  const byId = (id) => document.getElementById(id);

  function localTime(iso) {
    const at = new Date(iso);
    return isNaN(at) ? iso : at.toLocaleString();
  }

  function seconds(event) {
    if (!event.end) return '継続中';
    return Math.round((new Date(event.end) - new Date(event.start)) / 1000) + ' 秒';
  }

  function eventItem(event) {
    const item = document.createElement('li');
    item.dataset.id = event.id;
    if (event.video) {
      const video = document.createElement('video');
      video.controls = true;
      video.preload = 'none';
      video.poster = event.thumbnail;
      video.src = event.video;
      video.setAttribute('playsinline', '');
      item.append(video);
    } else {
      const image = document.createElement('img');
      image.src = event.thumbnail;
      image.alt = 'イベント ' + event.id;
      item.append(image);
    }
    const facts = document.createElement('p');
    facts.textContent = localTime(event.start) + ' · ' + seconds(event) + ' · 最大 ' + event.peak + ' 画素';
    item.append(facts);
    if (event.video) {
      const remove = document.createElement('button');
      remove.type = 'button';
      remove.textContent = '削除';
      remove.addEventListener('click', () => deleteRecording(event));
      item.append(remove);
    }
    return item;
  }

  async function deleteRecording(event) {
    if (!confirm('録画 ' + event.id + ' を削除しますか?')) return;
    const answer = await fetch(event.video, { method: 'DELETE' });
    if (!answer.ok) alert('削除できませんでした: ' + (await answer.text()));
    await loadEvents();
  }

  async function loadEvents() {
    try {
      const answer = await fetch('events.json', { cache: 'no-store' });
      if (!answer.ok) return;
      watched.list = await answer.json();
    } catch {
      return;
    }
    // Items that did not change are kept as they are, so that a video being watched plays on.
    const list = byId('event-list');
    const kept = new Map([...list.children].map((item) => [item.dataset.key, item]));
    list.replaceChildren(...watched.list.map((event) => {
      const key = JSON.stringify(event);
      const item = kept.get(key) || eventItem(event);
      item.dataset.key = key;
      return item;
    }));
    byId('event-count').textContent = watched.list.length === 0 ? 'イベントはまだありません。' : '';
  }

  function showBanner(event) {
    watched.live = event;
    const banner = byId('event-banner');
    banner.hidden = event === null;
    if (event) banner.textContent = '動きを検知しています (' + localTime(event.start) + ' から)';
  }

  function notify(event) {
    if (!('Notification' in window) || Notification.permission !== 'granted') return;
    new Notification('Tessaly: 動きを検知しました', { body: localTime(event.start), tag: event.id });
  }

  function listen() {
    const source = new EventSource('events');
    source.addEventListener('motion-start', (message) => {
      const event = JSON.parse(message.data);
      watched.messages++;
      showBanner(event);
      notify(event);
      loadEvents();
    });
    source.addEventListener('motion-end', (message) => {
      const event = JSON.parse(message.data);
      watched.messages++;
      if (watched.live && watched.live.id === event.id) showBanner(null);
      loadEvents();
    });
  }

  const permission = byId('notify');
  if ('Notification' in window && Notification.permission === 'default') {
    permission.hidden = false;
    permission.addEventListener('click', async () => {
      await Notification.requestPermission();
      permission.hidden = true;
    });
  }

  loadEvents().then(() => {
    const running = watched.list.find((event) => !event.end);
    showBanner(running || null);
  });
  listen();
})();
