// One session played back: the screen movie with the gestures drawn over it in step with the
// playhead, a timeline of screens, gestures, the crash and the time in the background, the
// events that jump the player, speeds, skipping idle stretches, the camera movie as a picture
// in the picture, and the web pages as their tiles with the touches on them. The playhead,
// speed and skipping are in the URL.
import {api, clock, duration, el, header, me, readState, showError, svg, when, writeState}
  from './console.js';
import {COLOURS, gestureMark} from './gestures.js';

const SHOWN = 1.2;       // seconds a gesture stays drawn (the timeline keeps whole seconds)
const IDLE = 4;          // a stretch without events this long or longer is idle
const GESTURES = new Set(['tap', 'double_tap', 'swipe', 'pinch', 'rotation']);

const id = location.pathname.split('/').filter(Boolean).pop();
const state = readState();
const video = document.getElementById('screen');
const overlay = document.getElementById('overlay');
const stage = document.getElementById('stage');
let session = null;
let camera = null;
let total = 0;
let idle = [];
let skipping = state.skip === '1';
let speed = Number(state.speed) || 1;

function idleStretches(events, end) {
  const times = [0, ...events.filter((e) => e.kind !== 'background').map((e) => e.t), end]
    .sort((a, b) => a - b);
  const out = [];
  for (let i = 1; i < times.length; ++i) {
    if (times[i] - times[i - 1] >= IDLE) out.push([times[i - 1] + 1.5, times[i] - 0.5]);
  }
  return out;
}

// Where the picture is inside the <video> box (it keeps its proportions), for the overlay.
function layout() {
  const w = video.videoWidth, h = video.videoHeight;
  if (!w || !h) return;
  const box = video.getBoundingClientRect(), outer = stage.getBoundingClientRect();
  const scale = Math.min(box.width / w, box.height / h);
  const shownW = w * scale, shownH = h * scale;
  Object.assign(overlay.style, {
    left: `${box.left - outer.left + (box.width - shownW) / 2}px`,
    top: `${box.top - outer.top + (box.height - shownH) / 2}px`,
    width: `${shownW}px`, height: `${shownH}px`});
  // The movie is the window stretched onto the frame: the overlay speaks the window's points.
  const d = session.device || {};
  overlay.setAttribute('viewBox', `0 0 ${d.width || w} ${d.height || h}`);
}

function draw(now) {
  overlay.replaceChildren();
  overlay.dataset.time = now.toFixed(2);
  const d = session.device || {};
  const wide = d.width || video.videoWidth || 400;
  for (const e of session.events) {
    if (now < e.t || now >= e.t + SHOWN) continue;
    const fade = Math.min(1, 1 - (now - e.t - SHOWN / 2) / (SHOWN / 2));
    if (e.kind === 'screen') {
      overlay.append(svg('text', {x: 8, y: 22, fill: '#fff', 'font-size': 15, stroke: '#000',
                                  'stroke-width': 0.6, class: 'screen-name',
                                  'fill-opacity': fade}, e.screen));
      continue;
    }
    if (e.kind === 'rotation') {
      overlay.append(svg('text', {x: wide - 90, y: 22, fill: '#fff', 'font-size': 15,
                                  class: 'rotation'}, 'rotated'));
      continue;
    }
    if (!GESTURES.has(e.kind)) continue;
    const x = e.touch_x ?? e.x, y = e.touch_y ?? e.y;
    const mark = gestureMark(e.kind, x, y, e.direction, wide / 390, {t: e.t});
    mark.setAttribute('opacity', fade.toFixed(2));
    overlay.append(mark);
  }
}

function timeline() {
  const bar = document.getElementById('timeline');
  const at = (t) => `${Math.max(0, Math.min(100, (t / total) * 100))}%`;
  const parts = [];
  for (const [a, b] of idle) {
    parts.push(el('div', {class: 'span idle', style: `left:${at(a)};width:calc(${at(b)} - ${at(a)})`,
                          title: `idle ${duration(b - a)}`}));
  }
  for (const e of session.events) {
    if (e.kind === 'screen') {
      parts.push(el('div', {class: 'marker screen', style: `left:${at(e.t)}`,
                            title: `${clock(e.t)} ${e.screen}`, dataset: {t: e.t}}));
    } else if (e.kind === 'crash') {
      parts.push(el('div', {class: 'marker crash', style: `left:${at(e.t)}`, title: 'crash'}));
    } else if (e.kind === 'background') {
      parts.push(el('div', {class: 'marker background', style: `left:${at(e.t)}`,
                            title: `${clock(e.t)} to the background`}));
      if (total - e.t > 0.5) {
        parts.push(el('div', {class: 'span background',
                              style: `left:${at(e.t)};width:calc(100% - ${at(e.t)})`,
                              title: 'in the background'}));
      }
    } else {
      parts.push(el('div', {class: `marker gesture kind-${e.kind}`, style: `left:${at(e.t)}`,
                            title: `${clock(e.t)} ${e.kind.replace('_', ' ')}`}));
    }
  }
  const head = el('div', {class: 'playhead', id: 'playhead'});
  parts.push(head);
  bar.replaceChildren(...parts);
  bar.onclick = (event) => {
    const box = bar.getBoundingClientRect();
    seek(((event.clientX - box.left) / box.width) * total);
  };
}

function eventList() {
  const rows = session.events.map((e, i) => el('tr', {dataset: {index: i, t: e.t, kind: e.kind}},
    el('td', {}, el('button', {type: 'button', class: 'link jump', onclick: () => {
      seek(e.t);
      video.play().catch(() => {});
    }}, clock(e.t))),
    el('td', {}, el('span', {class: 'dot', style: `background:${COLOURS[e.kind] || '#444'}`}),
       e.kind.replace('_', ' ') + (e.direction ? ` ${e.direction}` : '')),
    el('td', {}, e.screen || ''),
    el('td', {}, e.x === null || e.x === undefined ? '' : `${Math.round(e.x)}, ${Math.round(e.y)}`)));
  document.getElementById('events').replaceChildren(el('table', {id: 'event-list'},
    el('thead', {}, el('tr', {}, ['Time', 'What', 'Screen', 'Where'].map((h) => el('th', {}, h)))),
    el('tbody', {}, rows)));
}

function markCurrent(now) {
  let current = -1;
  session.events.forEach((e, i) => {
    if (e.t <= now) current = i;
  });
  for (const row of document.querySelectorAll('#event-list tbody tr')) {
    row.classList.toggle('current', Number(row.dataset.index) === current);
  }
}

function controls() {
  const speeds = [1, 2, 4, 8].map((s) => el('button', {type: 'button', class: 'speed',
    'aria-pressed': String(s === speed), dataset: {speed: s}, onclick: () => setSpeed(s)}, `${s}x`));
  const play = el('button', {type: 'button', id: 'play', onclick: () => {
    if (video.paused) video.play().catch(() => {});
    else video.pause();
  }}, 'Play');
  const skip = el('label', {}, el('input', {type: 'checkbox', id: 'skip', checked: skipping,
    onchange: (event) => {
      skipping = event.target.checked;
      writeState(Object.assign(readState(), {skip: skipping ? '1' : ''}));
    }}), ' skip idle');
  document.getElementById('controls').replaceChildren(play,
    el('span', {class: 'time', id: 'time'}, '0:00'), ...speeds, skip);
}

function setSpeed(s) {
  speed = s;
  video.playbackRate = s;
  if (camera) camera.playbackRate = s;
  for (const b of document.querySelectorAll('button.speed')) {
    b.setAttribute('aria-pressed', String(Number(b.dataset.speed) === s));
  }
  writeState(Object.assign(readState(), {speed: s === 1 ? '' : s}));
}

function seek(t) {
  video.currentTime = Math.max(0, Math.min(t, total));
  if (camera) camera.currentTime = video.currentTime;
  tick();
}

// One step of the player: skipping, the overlay, the time, the playhead, the camera.
function tick() {
  let now = video.currentTime;
  if (skipping && !video.paused) {
    const stretch = idle.find(([a, b]) => now >= a && now < b);
    if (stretch) {
      video.currentTime = stretch[1];
      now = stretch[1];
    }
  }
  draw(now);
  document.getElementById('time').textContent = `${clock(now)} / ${clock(total)}`;
  const head = document.getElementById('playhead');
  if (head) head.style.left = `${Math.min(100, (now / total) * 100)}%`;
  markCurrent(now);
  if (camera && Math.abs(camera.currentTime - now) > 0.3) camera.currentTime = now;
  document.getElementById('play').textContent = video.paused ? 'Play' : 'Pause';
}

function loop() {
  tick();
  if (!video.paused) requestAnimationFrame(loop);
}

function facts() {
  const d = session.device || {};
  const rows = [
    ['Started', when(session.started_at)],
    ['Length', duration(session.duration_s)],
    ['User', session.user],
    ['Device', [d.model, d.os && `system ${d.os}`].filter(Boolean).join(', ')],
    ['Screen', d.width && d.height ? `${d.width} x ${d.height} points` : ''],
    ['Application', [d.app_name, session.version && `version ${session.version}`].filter(Boolean).join(', ')],
    ['Installation', session.installation],
    ['Tags', session.tags.join(', ')],
    ['Location', session.location ? `${session.location.latitude}, ${session.location.longitude}` : ''],
    ['Favourite', session.favourite ? 'yes' : ''],
    ['Ended', session.crashed ? 'in a crash' : 'in the background'],
  ].filter(([, v]) => v !== '' && v !== null && v !== undefined);
  document.getElementById('facts').replaceChildren(
    ...rows.flatMap(([k, v]) => [el('dt', {}, k), el('dd', {}, v)]));
}

async function actions() {
  const who = await me();
  if (who.role !== 'admin') return;
  const problem = el('p', {class: 'error', hidden: true});
  document.getElementById('actions').replaceChildren(el('button', {type: 'button',
    class: 'danger', id: 'delete-installation', onclick: async () => {
      if (!confirm('Delete everything this installation sent: every session, movie and tile?')) return;
      try {
        await api('/api/v1/installations/' + encodeURIComponent(session.installation),
                  {method: 'DELETE'});
        location.assign('/console/?app=' + encodeURIComponent(session.app));
      } catch (error) {
        problem.textContent = error.message;
        problem.hidden = false;
      }
    }}, "Delete this installation's data"), problem);
}

function webPages() {
  const section = document.getElementById('web');
  if (!session.web_pages.length) return;
  section.append(el('h2', {}, 'Web pages'));
  const pages = el('div', {class: 'pages'});
  for (const page of session.web_pages) {
    const w = page.columns * page.tile_width, h = page.rows * page.tile_height;
    if (!(w > 0 && h > 0)) continue;
    const scale = Math.min(1, 360 / w);
    const box = el('div', {class: 'webpage', style: `width:${w * scale}px;height:${h * scale}px`});
    for (const tile of page.tiles) {
      box.append(el('img', {src: tile.url, alt: '', style: `left:${tile.x * scale}px;` +
        `top:${tile.y * scale}px;width:${page.tile_width * scale}px;height:${page.tile_height * scale}px`}));
    }
    const marks = svg('svg', {viewBox: `0 0 ${w} ${h}`, width: w * scale, height: h * scale});
    for (const t of page.touches) marks.append(gestureMark(t.kind, t.x, t.y, null, 1, {t: t.t}));
    box.append(marks);
    pages.append(el('figure', {}, box, el('figcaption', {}, page.address, ' ',
      el('span', {class: 'muted'}, `(${page.tiles.length} of ${page.rows * page.columns} tiles, ` +
                                   `${page.touches.length} touches)`))));
  }
  section.append(pages);
}

async function start() {
  await header('sessions');
  session = await api('/api/v1/sessions/' + encodeURIComponent(id));
  document.getElementById('title').textContent =
    `Session of ${session.user || 'an unnamed user'}, ${when(session.started_at)}`;
  document.title = `Session ${session.id} · Rivlo console`;
  total = Math.max(session.duration_s, ...session.events.map((e) => e.t + 1));
  idle = idleStretches(session.events, total);
  facts();
  actions();
  controls();
  timeline();
  eventList();
  webPages();
  if (!session.media.screen) {
    stage.replaceChildren(el('p', {class: 'muted', style: 'color:#fff;padding:20px'},
                             'This session has no screen movie.'));
    return;
  }
  if (session.media.camera) {
    camera = el('video', {id: 'camera', src: session.media.camera, muted: true, playsinline: true,
                          preload: 'auto', title: 'front camera'});
    stage.append(camera);
  }
  video.src = session.media.screen;
  video.addEventListener('loadedmetadata', () => {
    total = Math.max(total, video.duration || 0);
    idle = idleStretches(session.events, total);
    timeline();
    layout();
    setSpeed(speed);
    if (state.t) seek(Number(state.t));
    tick();
  });
  video.addEventListener('play', () => {
    if (camera) camera.play().catch(() => {});
    requestAnimationFrame(loop);
  });
  video.addEventListener('pause', () => {
    if (camera) camera.pause();
    writeState(Object.assign(readState(), {t: video.currentTime.toFixed(1)}));
    tick();
  });
  video.addEventListener('seeked', tick);
  window.addEventListener('resize', layout);
  new ResizeObserver(layout).observe(video);
}

start().catch((error) => showError(document.querySelector('main'), error));
