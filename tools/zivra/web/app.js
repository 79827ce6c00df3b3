// The page of zivra serve: renders the server's state and drives its JSON API.
// Everything the dongle does arrives as server-sent events (/api/events).
'use strict';

const $ = (id) => document.getElementById(id);
let state = { connected: false };
let countdown = null;

// ---- talking to the server ----------------------------------------------------------

async function call(path, body, type) {
  const opts = { method: body === undefined ? 'GET' : 'POST', credentials: 'same-origin', headers: {} };
  if (body !== undefined) {
    opts.body = type ? body : JSON.stringify(body);
    opts.headers['Content-Type'] = type || 'application/json';
  }
  let res;
  try {
    res = await fetch(path, opts);
  } catch (e) {
    return { ok: false, message: 'The server does not answer: is zivra serve still running?' };
  }
  let data = {};
  try { data = await res.json(); } catch (e) { /* a download or an empty body */ }
  if (!res.ok) {
    const err = data.error || {};
    return { ok: false, status: res.status, message: err.message || ('The request failed (' + res.status + ')'), hint: err.hint || '' };
  }
  return Object.assign({ ok: true }, data);
}

function say(text, kind) {
  const op = $('op');
  delete op.dataset.transient;
  op.hidden = false;
  op.className = 'op ' + (kind || '');
  $('op-text').textContent = text;
}

// While the dongle is busy with something, a banner says so; afterwards whatever was
// shown before comes back (events and answers may arrive in either order).
function showBusy(text) {
  const op = $('op');
  if (!op.dataset.transient) {
    op.dataset.prevText = $('op-text').textContent;
    op.dataset.prevKind = op.className;
    op.dataset.prevHidden = op.hidden ? '1' : '';
  }
  op.dataset.transient = '1';
  op.hidden = false;
  op.className = 'op busy';
  $('op-text').textContent = text;
}

function clearBusy() {
  const op = $('op');
  if (!op.dataset.transient) return;
  delete op.dataset.transient;
  $('op-text').textContent = op.dataset.prevText;
  op.className = op.dataset.prevKind;
  op.hidden = op.dataset.prevHidden === '1';
}

function outcome(r, fallback) {
  if (!countdown) $('op-progress').hidden = true;
  if (r.ok) say(r.message || fallback, 'good');
  else say(r.message + (r.hint ? ' — ' + r.hint : ''), 'bad');
  return r;
}

// ---- rendering ------------------------------------------------------------------------

function el(tag, attrs, text) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === 'dataset') Object.assign(e.dataset, v);
    else e.setAttribute(k, v);
  }
  if (text !== undefined) e.textContent = text;
  return e;
}

function hex(n) { return '0x' + (n >>> 0).toString(16).toUpperCase().padStart(8, '0'); }

function can(what) { return !!(state.connected && state.abilities && state.abilities[what]); }

function renderDongle() {
  const c = $('connection');
  const facts = $('facts');
  facts.replaceChildren();
  if (!state.connected) {
    const e = state.error || {};
    c.textContent = 'Not connected: ' + (e.message || 'no dongle found') + (e.hint ? ' — ' + e.hint : '');
    c.className = 'connection off';
    return;
  }
  const i = state.info;
  c.textContent = 'Connected: ' + (i.state === 'bootloader' ? 'bootloader ' + i.version : 'firmware ' + i.version);
  c.className = 'connection on';
  const rows = [
    ['Runs', i.state === 'bootloader' ? 'its bootloader' : 'its application firmware'],
    ['Generation', i.generation || '—'],
    ['Version', i.version],
    ['Edition (SKU)', i.sku || '—'],
    ['Keys recorded', i.keys_recorded ?? '—'],
    ['Keys remaining', i.keys_remaining ?? '—'],
  ];
  for (const [k, v] of rows) {
    const pair = el('div');
    pair.append(el('dt', {}, k), el('dd', {}, String(v)));
    facts.append(pair);
  }
}

function renderKeyboard() {
  const kb = $('keyboard');
  const groups = state.keys || [];
  const sig = JSON.stringify(groups);
  if (kb.dataset.sig === sig) return;
  kb.dataset.sig = sig;
  kb.replaceChildren();
  for (const g of groups) {
    const box = el('div', { class: 'group', role: 'group', 'aria-label': g.group });
    box.append(el('h3', {}, g.group));
    const keys = el('div', { class: 'keys' });
    for (const k of g.keys) {
      const b = el('button', { type: 'button', class: 'key', dataset: { key: k } }, k.replace(/_/g, ' '));
      b.addEventListener('click', () => keyClicked(k));
      keys.append(b);
    }
    box.append(keys);
    kb.append(box);
  }
}

function renderButtons() {
  const list = state.buttons || [];
  const body = $('buttons').querySelector('tbody');
  body.replaceChildren();
  for (const b of list) {
    const tr = el('tr', { dataset: { key: b.key, index: b.index } });
    tr.append(el('td', {}, String(b.index)), el('td', { class: 'name' }, b.key + (b.long_press ? ' (long press)' : '')),
              el('td', { class: 'mono' }, hex(b.hash)));
    const td = el('td');
    if (can('delete_index')) {
      const d = el('button', { type: 'button', class: 'small', 'aria-label': 'Delete ' + b.key + ' (#' + b.index + ')' }, 'Delete');
      d.addEventListener('click', () => run(call('/api/delete', { index: b.index }), 'Deleted.'));
      td.append(d);
    }
    tr.append(td);
    body.append(tr);
  }
  $('buttons').hidden = list.length === 0;
  $('no-buttons').hidden = list.length !== 0;
}

function renderSettings() {
  const form = $('settings-form');
  const list = state.settings || [];
  $('no-settings').hidden = list.length !== 0;
  // Rebuilt only when the fields change, so a message beside a field stays; values
  // follow the dongle unless the user is editing that field.
  const sig = JSON.stringify(list.map((s) => [s.name, s.min, s.max]));
  if (form.dataset.sig === sig) {
    for (const s of list) {
      const input = $('setting-' + s.name);
      if (input && input !== document.activeElement && input.getAttribute('aria-invalid') !== 'true') input.value = String(s.value);
    }
    return;
  }
  form.dataset.sig = sig;
  form.replaceChildren();
  for (const s of list) {
    const id = 'setting-' + s.name;
    const row = el('div', { class: 'setting' });
    row.append(el('label', { for: id }, s.name + ' — ' + s.description + ' (' + s.min + ' to ' + s.max + ')'));
    const input = el('input', { id, type: 'number', min: String(s.min), max: String(s.max), step: '1',
                                value: String(s.value), inputmode: 'numeric', 'aria-describedby': id + '-msg' });
    const save = el('button', { type: 'button', dataset: { setting: s.name } }, 'Set');
    const msg = el('span', { id: id + '-msg', class: 'msg', role: 'status' });
    save.addEventListener('click', () => saveSetting(s, input, msg));
    input.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); saveSetting(s, input, msg); } });
    row.append(input, save, msg);
    form.append(row);
  }
}

function render() {
  renderDongle();
  renderKeyboard();
  renderButtons();
  renderSettings();
  for (const e of document.querySelectorAll('[data-needs]')) e.hidden = !can(e.dataset.needs);
  const busy = !!state.busy;
  for (const b of document.querySelectorAll('main button, main input')) {
    if (b.closest('#live')) continue;
    if (b.id === 'fw-upgrade') continue;
    b.disabled = busy || !state.connected;
  }
  $('fw-upgrade').disabled = busy || !state.connected || !checkedImage;
  $('backup-link').classList.toggle('disabled', busy);
  $('backup-link').setAttribute('aria-disabled', busy ? 'true' : 'false');
  const live = $('live-btn');
  live.textContent = state.live ? 'Stop listening' : 'Start listening';
  live.setAttribute('aria-pressed', state.live ? 'true' : 'false');
  if (busy && !countdown) showBusy('Busy: ' + state.busy + '…');
  if (!busy) clearBusy();
}

// ---- actions ------------------------------------------------------------------------------

async function run(promise, fallback) {
  const r = await promise;
  return outcome(r, fallback);
}

function action() { return document.querySelector('input[name=action]:checked').value; }

function waitSeconds() {
  const w = Number($('wait').value);
  if (!Number.isInteger(w) || w < 1 || w > 100) {
    say('The wait must be 1 to 100 seconds.', 'bad');
    $('wait').focus();
    return null;
  }
  return w;
}

function startCountdown(text, seconds) {
  stopCountdown();
  const bar = $('op-progress');
  bar.hidden = false;
  bar.max = seconds;
  bar.value = seconds;
  let left = seconds;
  say(text + ' (' + left + ' s)', 'busy');
  countdown = setInterval(() => {
    left = Math.max(0, left - 1);
    bar.value = left;
    say(text + ' (' + left + ' s)', 'busy');
  }, 1000);
}

function stopCountdown() {
  if (countdown) clearInterval(countdown);
  countdown = null;
  $('op-progress').hidden = true;
}

async function keyClicked(key) {
  const a = action();
  if (a === 'delete') {
    await run(call('/api/delete', { key }), 'Deleted.');
    return;
  }
  const wait = waitSeconds();
  if (wait === null) return;
  const body = { key, wait };
  if (a === 'long') body.mode = 'long';
  if (a === 'macro') {
    body.mode = 'macro';
    body.more = $('macro-more').value.split(/\s+/).filter((s) => s);
    if (!body.more.length) {
      say('A macro needs the further keys it sends: type them in the box above the keyboard.', 'bad');
      $('macro-more').focus();
      return;
    }
  }
  startCountdown('Press the button on your remote for ' + key, wait);
  const r = await call('/api/record', body);
  stopCountdown();
  outcome(r, 'Recorded ' + key + '.');
}

async function saveSetting(s, input, msg) {
  const v = Number(input.value);
  if (input.value.trim() === '' || !Number.isInteger(v) || v < s.min || v > s.max) {
    msg.textContent = s.name + ' takes a whole number from ' + s.min + ' to ' + s.max + '; nothing was sent.';
    msg.className = 'msg bad';
    input.setAttribute('aria-invalid', 'true');
    input.focus();
    return;
  }
  input.removeAttribute('aria-invalid');
  const r = await call('/api/settings', { name: s.name, value: v });
  msg.textContent = r.ok ? 'Saved.' : r.message;
  msg.className = 'msg ' + (r.ok ? 'good' : 'bad');
  outcome(r, 'Saved.');
}

async function readFile(input) {
  const f = input.files && input.files[0];
  if (!f) return null;
  return { name: f.name, size: f.size, bytes: await f.arrayBuffer() };
}

let checkedImage = null;

function stage(text) {
  const items = $('fw-stages');
  if (items.lastChild && items.lastChild.textContent === text) return;
  items.append(el('li', {}, text));
}

function setupActions() {
  $('wait').addEventListener('change', () => waitSeconds());
  for (const r of document.querySelectorAll('input[name=action]'))
    r.addEventListener('change', () => { $('macro-row').hidden = action() !== 'macro'; });
  $('toggle-btn').addEventListener('click', async () => {
    const wait = waitSeconds();
    if (wait === null) return;
    startCountdown('Press the button on your remote for the toggle', wait);
    const r = await call('/api/record', { mode: 'toggle', wait });
    stopCountdown();
    outcome(r, 'Recorded the toggle.');
  });
  $('delete-next-btn').addEventListener('click', async () => {
    const wait = waitSeconds();
    if (wait === null) return;
    startCountdown('Press the remote button to delete', wait);
    const r = await call('/api/delete', { next: true, wait });
    stopCountdown();
    outcome(r, 'Deleted the button.');
  });
  $('backup-link').addEventListener('click', (e) => {
    if (state.busy) { e.preventDefault(); say('Wait until the dongle has finished ' + state.busy + '.', 'bad'); }
  });
  $('restore-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const f = await readFile($('restore-file'));
    if (!f) { say('Choose a backup file first.', 'bad'); $('restore-file').focus(); return; }
    if (f.size > 65536) { say(f.name + ' is larger than a configuration file can be (64 KiB); nothing was written.', 'bad'); return; }
    say('Restoring ' + f.name + '…', 'busy');
    await run(call('/api/restore', f.bytes, 'application/octet-stream'), 'Restored the backup.');
  });
  $('format-btn').addEventListener('click', () => {
    $('format-confirm').hidden = false;
    $('format-no').focus();
  });
  $('format-no').addEventListener('click', () => { $('format-confirm').hidden = true; $('format-btn').focus(); });
  $('format-yes').addEventListener('click', async () => {
    $('format-confirm').hidden = true;
    await run(call('/api/format', { confirm: true }), 'Erased.');
    $('format-btn').focus();
  });
  $('live-btn').addEventListener('click', async () => {
    const r = await call('/api/live', { on: !state.live });
    if (!r.ok) outcome(r);
  });
  $('fw-file').addEventListener('change', async () => {
    checkedImage = null;
    $('fw-verdict').textContent = '';
    const f = await readFile($('fw-file'));
    if (!f) return render();
    $('fw-check').textContent = 'Checking ' + f.name + '…';
    const r = await call('/api/firmware/check', f.bytes, 'application/octet-stream');
    $('fw-check').textContent = r.ok ? f.name + ': ' + r.message : f.name + ': ' + r.message;
    $('fw-check').className = r.ok ? 'good' : 'bad';
    if (r.ok) checkedImage = f;
    render();
  });
  $('fw-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    if (!checkedImage) return;
    $('fw-warning').hidden = false;
    $('fw-progress').hidden = false;
    $('fw-percent').hidden = false;
    $('fw-progress').value = 0;
    $('fw-stages').replaceChildren();
    $('fw-verdict').textContent = '';
    const r = await call('/api/upgrade', checkedImage.bytes, 'application/octet-stream');
    $('fw-warning').hidden = true;
    $('fw-verdict').textContent = r.ok ? r.message : 'The upgrade failed: ' + r.message + (r.hint ? ' — ' + r.hint : '');
    $('fw-verdict').className = r.ok ? 'good' : 'bad';
    outcome(r, 'Upgrade complete.');
  });
}

// ---- events -------------------------------------------------------------------------------

function addSignal(s) {
  const li = el('li', { class: 'signal' });
  const head = el('p', { class: 'sig-head' });
  head.append(el('strong', {}, s.protocol), ' ', el('span', { class: 'mono' }, '0x' + (s.scancode >>> 0).toString(16).toUpperCase()),
              ' ', el('span', { class: 'sig-key' }, s.key ? 'key ' + s.key : 'no key recorded'));
  li.append(head);
  if (s.description) li.append(el('p', { class: 'sig-desc' }, s.description));
  if (s.svg) {
    const img = el('img', { class: 'sig-pic', alt: 'The signal\'s pulses and spaces', src: 'data:image/svg+xml;charset=utf-8,' + encodeURIComponent(s.svg) });
    li.append(img);
  }
  const list = $('signals');
  list.prepend(li);
  while (list.children.length > 50) list.lastChild.remove();
}


function listen() {
  const es = new EventSource('/api/events');
  es.addEventListener('state', (e) => { state = JSON.parse(e.data); render(); });
  es.addEventListener('signal', (e) => addSignal(JSON.parse(e.data)));
  // A download has no answer the page waits for: its outcome comes as an event.
  es.addEventListener('done', (e) => {
    const d = JSON.parse(e.data);
    if (d.op !== 'backup') return;
    if (d.ok) say('Downloaded a backup.', 'good');
    else say((d.error && d.error.message) || 'The backup failed.', 'bad');
  });
  es.addEventListener('live', (e) => {
    const d = JSON.parse(e.data);
    state.live = d.on;
    render();
    if (d.message) say('Listening stopped: ' + d.message, 'bad');
  });
  es.addEventListener('progress', (e) => {
    const d = JSON.parse(e.data);
    if (d.op === 'restore' && d.percent !== undefined) {
      const bar = $('op-progress');
      bar.hidden = false;
      bar.max = 100;
      bar.value = d.percent;
      say('Restoring the backup… ' + d.percent + ' %', 'busy');
    }
    if (d.op !== 'upgrade') return;
    if (d.stage) stage(d.stage);
    if (d.percent !== undefined) {
      $('fw-progress').value = d.percent;
      $('fw-percent').textContent = d.percent + ' %';
    }
  });
  es.onerror = () => {
    if (es.readyState === EventSource.CLOSED) say('Lost the server: reload the page once zivra serve runs again.', 'bad');
  };
}

setupActions();
render();
listen();
