// The front panel: renders the simulator's state snapshots and timeline lines from /events,
// and turns every control into the words of an orvixsim command posted to /cli, so that the
// page can do nothing the command line cannot.
'use strict';

const AREAS = ['bus', 'cast', 'source', 'ui', 'env', 'syslog', 'eureka'];
const MAX_LINES = 500;
const OWNERS = { cast: 'Cast', other: 'Another source', standby: 'Standby' };
// The receiver operations whose answer the daemon waits for: the consent changes an app asks
// for. It takes an answer to anything else as one to a request it never made.
const REQUESTS = new Set(['AcceptTos', 'SetUsageReportOptIn']);
const APP = 'front-panel';

const $ = (id) => document.getElementById(id);
let snapshot = null;
// Simulator clock minus this page's, taken when the last snapshot arrived.
let clockOffset = 0;
const answered = new Set();
const shownAreas = new Set(AREAS);

function text(id, value, unknown = '–') {
  $(id).textContent = value === null || value === undefined || value === '' ? unknown : String(value);
}

function yesNo(value) {
  return value === null || value === undefined ? null : value ? 'yes' : 'no';
}

function clock(ms) {
  if (typeof ms !== 'number' || !isFinite(ms) || ms < 0) return '–:––';
  const s = Math.floor(ms / 1000);
  const h = Math.floor(s / 3600);
  const mm = String(Math.floor(s / 60) % 60);
  const ss = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${mm.padStart(2, '0')}:${ss}` : `${mm}:${ss}`;
}

async function cli(words) {
  const reply = await fetch('cli', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(words),
  });
  let body = null;
  try {
    body = await reply.json();
  } catch (e) {
    body = null;
  }
  if (!reply.ok) throw new Error(body && body.error ? body.error : `HTTP ${reply.status}`);
  return body;
}

// Runs the steps (each the words of a command, or a function giving them) one after the other
// and says how it went; a failing step stops the rest and its reason is shown. Commands go out
// one at a time, in the order the person gave them: a slider moved by key presses must leave
// the last value set, not whichever request the server happened to take last.
// The outcome is shown beside the control that asked, in its group: on a phone a line at
// the end of all the controls would be out of sight.
let queue = Promise.resolve();
let lastControl = null;
function act(label, ...steps) {
  const group = lastControl && lastControl.closest('fieldset');
  const status = group ? group.querySelector('.status') : null;
  queue = queue.then(() => run(status, label, steps));
  return queue;
}

async function run(status, label, steps) {
  status = status || document.createElement('p');
  status.className = 'status';
  status.textContent = `${label}…`;
  try {
    for (const step of steps) {
      for (const words of typeof step === 'function' ? await step() : [step]) await cli(words);
    }
    status.textContent = `${label}: done`;
  } catch (e) {
    status.className = 'status error';
    status.textContent = `${label} failed: ${e.message}`;
  }
}

function renderSpeaker(sp) {
  text('device-name', sp.name, 'speaker');
  text('sp-owner', OWNERS[sp.owner] || sp.owner);
  text('sp-volume', sp.volume);
  text('sp-muted', yesNo(sp.muted));
  text('sp-timezone', sp.timezone);
  text('sp-terms', sp.terms, 'not set');
  text('sp-crash', sp.crashReports, 'not set');
  syncSlider('device-volume', sp.volume);
  $('device-mute').setAttribute('aria-pressed', String(sp.muted === true));
  $('device-mute').textContent = sp.muted ? 'Unmute' : 'Mute';
}

function renderReceiver(rx) {
  text('rx-connected', yesNo(rx.connected));
  text('rx-app', rx.app, 'none');
  text('rx-volume', rx.volume);
  text('rx-muted', yesNo(rx.muted));
  syncSlider('sender-volume', rx.volume);
  $('sender-mute').setAttribute('aria-pressed', String(rx.muted === true));
  $('sender-mute').textContent = rx.muted ? 'Sender unmute' : 'Sender mute';
  const ops = $('rx-ops');
  ops.replaceChildren(...(rx.ops || []).slice().reverse().map((op) => {
    const li = document.createElement('li');
    li.textContent = op;
    return li;
  }));
}

function renderNowPlaying(np) {
  const playing = np.title || np.artist || np.album;
  text('np-title', np.title, playing ? 'Untitled' : 'Nothing playing');
  text('np-artist', np.artist, '');
  const album = [np.album, np.albumArtist && np.albumArtist !== np.artist ? np.albumArtist : null];
  text('np-album', album.filter(Boolean).join(' · '), '');
  const state = np.state ? String(np.state).toLowerCase() : 'idle';
  $('np-state').textContent = state;
  $('np-state').dataset.state = state;
  showCover(np.image);
}

// Only an address the browser can fetch is asked for: a bare file name such as the UI's own
// default art means something on the device, not on this server.
function showCover(url) {
  const img = $('cover');
  if (!url || !/^(https?|data):/i.test(url)) {
    img.hidden = true;
    img.removeAttribute('src');
    $('cover-placeholder').hidden = false;
    return;
  }
  if (img.getAttribute('src') !== url) {
    img.hidden = true;
    $('cover-placeholder').hidden = false;
    img.src = url;
  }
}

// A slider the person is moving keeps their value; otherwise it shows the state's.
function syncSlider(id, value) {
  const slider = $(id);
  if (document.activeElement === slider) return;
  if (typeof value === 'number') slider.value = value;
  $(`${id}-out`).textContent = typeof value === 'number' ? slider.value : '–';
}

// The position now: the last one the daemon reported, moved on by the time since while the
// track plays, never past its end.
function position(np) {
  if (typeof np.positionMs !== 'number') return null;
  let ms = np.positionMs;
  if (String(np.state).toLowerCase() === 'playing' && typeof np.positionAtMs === 'number') {
    ms += Math.max(0, performance.now() + clockOffset - np.positionAtMs);
  }
  if (typeof np.durationMs === 'number' && np.durationMs > 0) ms = Math.min(ms, np.durationMs);
  return ms;
}

function renderProgress() {
  if (!snapshot) return;
  const np = snapshot.nowPlaying;
  const ms = position(np);
  const total = typeof np.durationMs === 'number' && np.durationMs > 0 ? np.durationMs : null;
  const bar = $('progress');
  bar.setAttribute('aria-valuemax', String(Math.round((total || 0) / 1000)));
  bar.setAttribute('aria-valuenow', String(Math.round((ms || 0) / 1000)));
  bar.setAttribute('aria-valuetext', `${clock(ms)} of ${clock(total)}`);
  $('progress-fill').style.width = total && ms !== null ? `${(100 * ms) / total}%` : '0%';
  text('np-position', clock(ms));
  text('np-duration', clock(total));
}

function onState(data) {
  snapshot = JSON.parse(data);
  clockOffset = snapshot.nowPlaying.nowMs - performance.now();
  renderSpeaker(snapshot.speaker);
  renderNowPlaying(snapshot.nowPlaying);
  renderReceiver(snapshot.receiver);
  renderProgress();
}

function onLine(data) {
  const line = JSON.parse(data);
  const li = document.createElement('li');
  li.dataset.area = line.area;
  li.hidden = !shownAreas.has(line.area);
  const seq = document.createElement('span');
  seq.className = 'seq';
  seq.textContent = line.seq;
  const area = document.createElement('span');
  area.className = 'area';
  area.textContent = line.area;
  const body = document.createElement('span');
  body.className = 'text';
  body.textContent = line.text;
  li.append(seq, area, body);
  const list = $('lines');
  list.prepend(li);
  while (list.children.length > MAX_LINES) list.lastElementChild.remove();
  if (line.area === 'bus' && / MID 572 /.test(line.text)) showReply();
}

async function showReply() {
  try {
    const read = await cli(['bus', 'read', '572']);
    let shown = read.payload;
    try {
      shown = JSON.stringify(JSON.parse(read.payload), null, 1);
    } catch (e) {
      // not JSON: shown as it came
    }
    $('app-reply').textContent = shown;
  } catch (e) {
    $('app-reply').textContent = `unreadable: ${e.message}`;
  }
}

function connect() {
  const events = new EventSource('events');
  events.addEventListener('open', () => {
    // Every (re)connection sends the recent lines again.
    $('lines').replaceChildren();
    $('link').textContent = 'live';
    $('link').className = 'link up';
  });
  events.addEventListener('error', () => {
    $('link').textContent = 'simulator unreachable, retrying…';
    $('link').className = 'link down';
  });
  events.addEventListener('state', (e) => onState(e.data));
  events.addEventListener('line', (e) => onLine(e.data));
}

function consentRequest(extra) {
  return ['bus', 'write', '571',
    JSON.stringify({ request_type: 'get', id: 'tos', device_uuid: APP, ...extra })];
}

// An answer (success) to every consent request the receiver took (a non-negative id) that
// this page has not answered yet, oldest first.
async function openRequests() {
  const log = await cli(['cast', 'log']);
  const ids = log.filter((e) => REQUESTS.has(e.op) && typeof e.result === 'number' &&
    e.result >= 0 && !answered.has(e.result)).map((e) => e.result);
  if (ids.length === 0) throw new Error('no consent request waits for an answer');
  ids.forEach((id) => answered.add(id));
  return ids.map((id) => ['cast', 'respond', String(id), '0']);
}

function wire() {
  for (const type of ['click', 'change']) {
    $('controls').addEventListener(type, (e) => { lastControl = e.target; }, true);
  }
  for (const button of document.querySelectorAll('button[data-cli]')) {
    button.addEventListener('click', () => act(button.textContent, JSON.parse(button.dataset.cli)));
  }
  for (const [id, words] of [['device-volume', (v) => ['source', 'volume', v]],
    ['sender-volume', (v) => ['cast', 'volume', v]]]) {
    const slider = $(id);
    slider.addEventListener('input', () => { $(`${id}-out`).textContent = slider.value; });
    // On release (or each key press), not on every pixel of a drag.
    slider.addEventListener('change', () => act(slider.labels[0].firstChild.textContent.trim(),
      words(slider.value)));
  }
  $('device-mute').addEventListener('click', (e) => act(e.target.textContent,
    ['source', 'play-control', e.target.getAttribute('aria-pressed') === 'true' ? 'UNMUTE' : 'MUTE']));
  $('sender-mute').addEventListener('click', (e) => act(e.target.textContent,
    ['cast', 'mute', e.target.getAttribute('aria-pressed') === 'true' ? '0' : '1']));
  $('sample').addEventListener('click', () => act('Sample track', ['cast', 'request-resources'],
    ['cast', 'media', '--state', '2', '--time', '1', '--stream', '1', '--duration', '215.5',
      '--title', 'Quiet Harbour', '--artist', 'The Lanterns', '--album', 'Night Ferry',
      '--album-artist', 'The Lanterns']));
  $('answer').addEventListener('click', () => act('Answer', openRequests));
  $('auto-answer').addEventListener('change', (e) => act('Answer at once',
    ['cast', 'auto-respond', e.target.checked ? '0' : 'off']));
  $('ask-consent').addEventListener('click', () => act('Ask', consentRequest({})));
  $('accept-terms').addEventListener('click', () => act('Accept', consentRequest(
    { request_type: 'set', action: 'accepted', user_ip: '127.0.0.1' })));
  $('cover').addEventListener('load', () => {
    $('cover').hidden = false;
    $('cover-placeholder').hidden = true;
  });
  $('cover').addEventListener('error', () => {
    $('cover').hidden = true;
    $('cover-placeholder').hidden = false;
  });

  const filters = document.querySelector('#timeline .filters');
  for (const area of AREAS) {
    const label = document.createElement('label');
    label.className = 'check';
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = true;
    box.addEventListener('change', () => {
      if (box.checked) shownAreas.add(area); else shownAreas.delete(area);
      for (const li of $('lines').children) li.hidden = !shownAreas.has(li.dataset.area);
    });
    label.append(box, ` ${area}`);
    filters.append(label);
  }
}

wire();
connect();
setInterval(renderProgress, 250);
