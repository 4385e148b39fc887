// The worker: runs the converter (morvane.wasm) on each file in turn and
// passes on what it tells; every output goes into the page's private
// storage, in a folder of the session for each file. It also builds the zip
// of every output there, a piece at a time, never whole in memory.
'use strict';

importScripts('morvane.js');

let session = '';
let morvane = null;
let startFailure = '';
// The folder each file was dropped in, within what was dropped ("disc/"), and
// its name, by card.
const droppedIn = {};
const fileNames = {};
// One task at a time, in the order asked: the converter runs one command at once.
let queue = Promise.resolve();

async function folderOf(...names) {
  let folder = await navigator.storage.getDirectory();
  for (const name of names) folder = await folder.getDirectoryHandle(name, {create: true});
  return folder;
}

// The sessions of pages that are gone (no one holds their lock) leave their
// outputs behind: they are removed when a page starts.
async function clearOldSessions() {
  const held = new Set(((await navigator.locks.query()).held || []).map((lock) => lock.name));
  const root = await navigator.storage.getDirectory();
  for await (const name of root.keys()) {
    if (name.startsWith('session-') && name !== session && !held.has(name)) {
      await root.removeEntry(name, {recursive: true}).catch(() => {});
    }
  }
}

// The films' players: what the converter told of each movie (its picture
// and sound blocks, where they lie in it), by card and name; and a decoder of
// the film with the frame it would decode next. The movie is read a frame at
// a time from the page's storage: no Matroska is read here.
const films = new Map();
const filmKey = (id, name) => id + '/' + name;
const baseName = (path) => path.slice(path.lastIndexOf('/') + 1);

function filmReport(id, kind, facts) {
  const key = filmKey(id, baseName(facts.path));
  if (!films.has(key)) films.set(key, {id: id, name: baseName(facts.path), frames: [], tracks: new Map()});
  const film = films.get(key);
  if (kind === 'movie-track') {
    film.tracks.set(facts.track, {number: facts.track, sound: facts.sound, rate: facts.rate,
      channels: facts.channels, blocks: []});
  } else if (facts.track === 1) {
    film.frames.push({ms: facts.ms, key: facts.key, offset: facts.offset, size: facts.size});
  } else if (film.tracks.has(facts.track)) {
    film.tracks.get(facts.track).blocks.push({ms: facts.ms, offset: facts.offset, size: facts.size});
  }
}

async function movieFile(film) {
  if (!film.file) film.file = await (await (await folderOf(session, film.id)).getFileHandle(film.name)).getFile();
  return film.file;
}

// The picture at frame `index`: decoded forward from the frame the decoder
// stands at, or from the nearest key frame before it when that is nearer
// or the frame is behind.
async function filmPicture(message) {
  const film = films.get(filmKey(message.id, message.name));
  const frames = film.frames;
  const index = Math.max(0, Math.min(message.index, frames.length - 1));
  if (!openDecoder(film, message)) throw new Error('Morvane cannot decode ' + message.codec + ' films');
  let start = index;
  while (start > 0 && !frames[start].key) start--;
  if (index < film.next || start > film.next) film.next = start;
  const file = await movieFile(film);
  let problem = '';
  for (; film.next <= index; film.next++) {
    const frame = frames[film.next];
    const bytes = new Uint8Array(await file.slice(frame.offset, frame.offset + frame.size).arrayBuffer());
    morvane.HEAPU8.set(bytes, morvane._morvane_film_frame(film.decoder, bytes.length));
    const told = morvane.ccall('morvane_film_decode', 'string', ['number'], [film.decoder]);
    if (told) problem = told;
  }
  const rgb = morvane._morvane_film_rgb(film.decoder);
  const pixels = message.width * message.height;
  const rgba = new Uint8ClampedArray(4 * pixels);
  const heap = morvane.HEAPU8;
  for (let p = 0, q = rgb; p < 4 * pixels; p += 4, q += 3) {
    rgba[p] = heap[q];
    rgba[p + 1] = heap[q + 1];
    rgba[p + 2] = heap[q + 2];
    rgba[p + 3] = 255;
  }
  postMessage({type: 'film-picture', request: message.request, index: index, ms: frames[index].ms, rgba: rgba,
    problem: problem}, [rgba.buffer]);
}

// A sound track of the movie whole, its samples as the movie holds them:
// 16-bit, channels interleaved.
async function filmSound(message) {
  const film = films.get(filmKey(message.id, message.name));
  const track = film.tracks.get(message.track);
  const file = await movieFile(film);
  const total = track.blocks.reduce((sum, block) => sum + block.size, 0);
  const bytes = new Uint8Array(total);
  let at = 0;
  for (const block of track.blocks) {
    bytes.set(new Uint8Array(await file.slice(block.offset, block.offset + block.size).arrayBuffer()), at);
    at += block.size;
  }
  const samples = new Int16Array(bytes.buffer, 0, total >> 1);
  postMessage({type: 'film-sound', request: message.request, rate: track.rate, channels: track.channels,
    startMs: track.blocks.length ? track.blocks[0].ms : 0, samples: samples}, [bytes.buffer]);
}

function openDecoder(film, facts) {
  if (film.decoder === undefined) {
    film.decoder = morvane ? morvane.ccall('morvane_film_open', 'number', ['string', 'number', 'number'],
      [facts.codec, facts.width, facts.height]) : 0;
    film.next = 0;
  }
  return film.decoder !== 0;
}

// What the page's player is told of a movie once it is written: its
// frames' times and key flags, its sound tracks, and whether its codec can be
// decoded here.
function filmIndex(message) {
  const film = films.get(filmKey(message.id, message.name));
  if (!film) return null;
  return {playable: openDecoder(film, message), frames: film.frames.map((frame) => [frame.ms, frame.key]),
    tracks: [...film.tracks.values()].map((track) => ({number: track.number, sound: track.sound, rate: track.rate,
      channels: track.channels}))};
}

// A file converted, with the files a disc's cue sheet names beside it
// (`companions`, each at its path from the sheet's folder).
async function convert(id, file, companions) {
  if (!morvane) {
    postMessage({type: 'done', id: id, convert: -1, failure: startFailure});
    return;
  }
  await folderOf(session, id);
  const folder = '/' + session + '/' + id + '/';
  morvane.morvaneFolder = folder.slice(0, -1);
  morvane.morvaneInputs = new Map([[folder + file.name, file]]);
  for (const companion of companions || []) morvane.morvaneInputs.set(folder + companion.name, companion.file);
  morvane.morvaneReport = (kind, facts) => {
    if (kind === 'movie-track' || kind === 'movie-block') return filmReport(id, kind, facts);
    postMessage({type: 'report', id: id, kind: kind, facts: facts});
  };
  try {
    const start = performance.now();
    // A disc has no analysis of its own: each stream on it is told as it is converted.
    const analyze = companions ? 0
      : await morvane.ccall('morvane_analyze', 'number', ['string'], [file.name], {async: true});
    const analyzed = performance.now();
    const before = Object.assign({}, morvane.morvaneTimes);
    const converted = await morvane.ccall('morvane_convert', 'number', ['string'], [file.name], {async: true});
    // How long the conversion waited for the browser (its reads, its writes
    // and its storage's other calls), and when it began, for the bench.
    const waits = {};
    for (const key in morvane.morvaneTimes) waits[key] = morvane.morvaneTimes[key] - (before[key] || 0);
    postMessage({type: 'done', id: id, analyze: analyze, convert: converted, analyzeMs: analyzed - start,
      convertMs: performance.now() - analyzed, convertStart: performance.timeOrigin + analyzed, waits: waits});
  } catch (error) {
    postMessage({type: 'done', id: id, convert: -1, failure: String(error && error.message || error)});
  } finally {
    morvane.morvaneInputs = new Map();
  }
}

// A path with "." and ".." resolved.
function resolved(path) {
  const names = [];
  for (const name of path.split('/')) {
    if (name === '' || name === '.') continue;
    if (name === '..') names.pop();
    else names.push(name);
  }
  return '/' + names.join('/');
}

// The files the page takes of what was dropped or picked, by the walk's own
// rule (the converter's): what a folder holds is passed over when hidden,
// written by a run, or no stream or disc image by its first bytes. A disc's
// cue sheet takes the files it names along, which get no card of their own.
async function walk(entries) {
  const taken = [];
  for (const entry of entries) {
    const named = !entry.title.includes('/');
    if (morvane) {
      // A file that can't be read is taken: its card tells why.
      const start = await entry.file.slice(0, 2064).arrayBuffer().then((bytes) => new Uint8Array(bytes), () => null);
      let takes = 1;
      try {
        if (start) {
          takes = morvane.ccall('morvane_walk_takes', 'number', ['string', 'number', 'array', 'number', 'number'],
            [entry.title, named ? 1 : 0, start, start.length, entry.file.size]);
        }
      } catch (error) {
        // Taken: its conversion tells what is wrong.
      }
      if (!takes) continue;
      entry.disc = takes === 2;
    }
    taken.push(entry);
  }
  const byPath = new Map(entries.map((entry) => ['/walk/' + entry.title, entry]));
  const throughSheet = new Set();
  for (const entry of taken.filter((entry) => entry.disc)) {
    morvane.morvaneFolder = '/walk';
    morvane.morvaneInputs = new Map([...byPath].map(([path, named]) => [path, named.file]));
    try {
      const listed = await morvane.ccall('morvane_cue_files', 'string', ['string'], ['/walk/' + entry.title], {async: true});
      const folder = ('/walk/' + entry.title).replace(/[^/]*$/, '');
      entry.companions = [];
      for (const path of listed.split('\n').filter(Boolean).map(resolved)) {
        const companion = byPath.get(path);
        // One the sheet names that was not given: the conversion tells it missing.
        if (!companion || !path.startsWith(folder)) continue;
        entry.companions.push({name: path.slice(folder.length), file: companion.file});
        throughSheet.add(companion);
      }
    } catch (error) {
      // The sheet's files get cards of their own; its conversion tells what is wrong.
    } finally {
      morvane.morvaneInputs = new Map();
    }
  }
  postMessage({type: 'walked', entries: taken.filter((entry) => !throughSheet.has(entry))});
}

// One film of a file re-encoded as WebM by the browser's encoders, beside
// the file's other outputs: the converter reads the file once more, decodes
// the film's frames and the sound beside it, and writes the WebM a packet
// at a time (never the whole film in memory). Module.morvaneCancel ends it
// at the encoders' next call, and the unfinished file is removed.
let webmJob = null;
const cancelledJobs = new Set();
async function shareFilm(job, id, file, film) {
  const reply = {type: 'webm-done', job: job, result: -1, wrote: false, cancelled: false};
  if (cancelledJobs.delete(job)) {
    postMessage(Object.assign(reply, {cancelled: true}));
    return;
  }
  if (!morvane) {
    postMessage(Object.assign(reply, {failure: startFailure}));
    return;
  }
  const path = '/' + session + '/' + id + '/' + file.name;
  morvane.morvaneFolder = '/' + session + '/' + id;
  morvane.morvaneInputs = new Map([[path, file]]);
  morvane.morvaneCancel = false;
  webmJob = job;
  morvane.morvaneReport = (kind, facts) => {
    if (kind === 'wrote') reply.wrote = true;
    // The encoders' cancellation is no problem of the film's.
    if (kind === 'problem' && morvane.morvaneCancel) return;
    postMessage({type: 'webm-report', job: job, kind: kind, facts: facts});
  };
  try {
    reply.result = await morvane.ccall('morvane_share_film', 'number', ['string', 'number'], [file.name, film],
      {async: true});
    reply.cancelled = morvane.morvaneCancel && !reply.wrote;
  } catch (error) {
    reply.failure = String(error && error.message || error);
  } finally {
    morvane.morvaneInputs = new Map();
    morvane.morvaneCancel = false;
    webmJob = null;
  }
  postMessage(reply);
}

// The zip: stored entries (the WAVs gain nothing from deflating), ZIP64
// where a size or an offset needs more than 32 bits.
const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(crc, bytes) {
  crc = ~crc;
  for (let i = 0; i < bytes.length; i++) crc = crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
  return ~crc >>> 0;
}

class Record {
  constructor(size) {
    this.bytes = new Uint8Array(size);
    this.view = new DataView(this.bytes.buffer);
    this.at = 0;
  }
  u16(value) { this.view.setUint16(this.at, value, true); this.at += 2; return this; }
  u32(value) { this.view.setUint32(this.at, value >>> 0, true); this.at += 4; return this; }
  u64(value) { this.view.setBigUint64(this.at, BigInt(value), true); this.at += 8; return this; }
  raw(bytes) { this.bytes.set(bytes, this.at); this.at += bytes.length; return this; }
}

const kMax32 = 0xFFFFFFFF;  // a field that says "see the ZIP64 record"
// Sizes and offsets from here on take ZIP64 records.
const kZip64From = kMax32;
const field32 = (value) => (value >= kZip64From ? kMax32 : value);
const kUtf8Names = 0x0800;

function dosTime(date) {
  return {
    time: (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1),
    day: ((date.getFullYear() - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate(),
  };
}

// Every file of the session's folders, in the order the files were dropped,
// each under a name of its own in the zip: its folder within what was
// dropped and its name.
async function zipEntries() {
  const entries = [];
  const sessionFolder = await folderOf(session);
  // A disc's outputs keep its folders.
  const gather = async (folder, card, below) => {
    for await (const [name, handle] of folder.entries()) {
      if (handle.kind === 'directory') {
        await gather(handle, card, below + name + '/');
        continue;
      }
      // Half-written files under their temporary names are no outputs.
      if (/^\..*\.morvane-......$/.test(name)) continue;
      entries.push({handle: handle, name: (droppedIn[card] || '') + below + name, card: Number(card.slice('card-'.length))});
    }
  };
  for await (const [card, folder] of sessionFolder.entries()) {
    if (folder.kind === 'directory') await gather(folder, card, '');
  }
  entries.sort((a, b) => a.card - b.card || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  const taken = new Set();
  for (const entry of entries) {
    const name = entry.name;
    for (let n = 2; taken.has(entry.name); n++) entry.name = name.replace(/(\.[^./]*)?$/, ' (' + n + ')$1');
    taken.add(entry.name);
  }
  return entries;
}

async function makeZip() {
  const folder = await folderOf(session);
  let zipName = 'morvane.zip';
  // The outputs of one stream are named after it: demo.str.zip.
  let entries = [];
  try {
    entries = await zipEntries();
  } catch (error) {
    postMessage({type: 'zip', failure: String(error && error.message || error)});
    return;
  }
  const cardsIn = new Set(entries.map((entry) => entry.card));
  if (cardsIn.size === 1) zipName = fileNames['card-' + [...cardsIn][0]] + '.zip';
  const temporary = '.' + zipName + '.morvane-' + Math.random().toString(36).slice(2, 8).padEnd(6, '0');
  const out = await (await folder.getFileHandle(temporary, {create: true})).createSyncAccessHandle();
  const encoder = new TextEncoder();
  const when = dosTime(new Date());
  const piece = new Uint8Array(4 * 1024 * 1024);
  const central = [];
  let at = 0;
  const write = (bytes) => {
    const put = out.write(bytes, {at: at});
    if (put !== bytes.length) throw new Error('the storage is full');
    at += put;
  };
  try {
    for (const entry of entries) {
      const input = await entry.handle.createSyncAccessHandle({mode: 'read-only'});
      try {
        const size = input.getSize();
        const name = encoder.encode(entry.name);
        const big = size >= kZip64From;
        const offset = at;
        const local = new Record(30 + name.length + (big ? 20 : 0));
        local.u32(0x04034B50).u16(big ? 45 : 20).u16(kUtf8Names).u16(0).u16(when.time).u16(when.day)
          .u32(0).u32(big ? kMax32 : size).u32(big ? kMax32 : size).u16(name.length).u16(big ? 20 : 0).raw(name);
        if (big) local.u16(0x0001).u16(16).u64(size).u64(size);
        write(local.bytes);
        let crc = 0;
        for (let done = 0; done < size;) {
          const got = input.read(piece.subarray(0, Math.min(piece.length, size - done)), {at: done});
          if (got <= 0) throw new Error(entry.name + ' ended early');
          const bytes = piece.subarray(0, got);
          crc = crc32(crc, bytes);
          write(bytes);
          done += got;
        }
        // The checksum is known only now: into the local header it goes.
        const patch = new Uint8Array(4);
        new DataView(patch.buffer).setUint32(0, crc, true);
        out.write(patch, {at: offset + 14});
        central.push({name: name, size: size, crc: crc, offset: offset});
      } finally {
        input.close();
      }
    }
    const centralStart = at;
    for (const entry of central) {
      const extra = [];
      if (entry.size >= kZip64From) extra.push(entry.size, entry.size);
      if (entry.offset >= kZip64From) extra.push(entry.offset);
      const record = new Record(46 + entry.name.length + (extra.length ? 4 + 8 * extra.length : 0));
      record.u32(0x02014B50).u16(45).u16(extra.length ? 45 : 20).u16(kUtf8Names).u16(0).u16(when.time)
        .u16(when.day).u32(entry.crc).u32(field32(entry.size)).u32(field32(entry.size))
        .u16(entry.name.length).u16(extra.length ? 4 + 8 * extra.length : 0).u16(0).u16(0).u16(0).u32(0)
        .u32(field32(entry.offset)).raw(entry.name);
      if (extra.length) {
        record.u16(0x0001).u16(8 * extra.length);
        for (const value of extra) record.u64(value);
      }
      write(record.bytes);
    }
    const centralSize = at - centralStart;
    const zip64 = central.length >= 0xFFFF || centralStart >= kZip64From || centralSize >= kZip64From;
    if (zip64) {
      const recordStart = at;
      write(new Record(56).u32(0x06064B50).u64(44).u16(45).u16(45).u32(0).u32(0).u64(central.length)
        .u64(central.length).u64(centralSize).u64(centralStart).bytes);
      write(new Record(20).u32(0x07064B50).u32(0).u64(recordStart).u32(1).bytes);
    }
    const count = Math.min(central.length, 0xFFFF);
    write(new Record(22).u32(0x06054B50).u16(0).u16(0).u16(count).u16(count)
      .u32(zip64 ? kMax32 : centralSize).u32(zip64 ? kMax32 : centralStart).u16(0).bytes);
    out.truncate(at);
    out.flush();
    out.close();
    await folder.removeEntry(zipName).catch(() => {});
    const made = await folder.getFileHandle(temporary);
    await made.move(folder, zipName);
    postMessage({type: 'zip', name: zipName, entries: central.length});
  } catch (error) {
    try { out.close(); } catch (closed) { /* closed already */ }
    await folder.removeEntry(temporary).catch(() => {});
    postMessage({type: 'zip', failure: String(error && error.message || error)});
  }
}

onmessage = (event) => {
  const message = event.data;
  if (message.type === 'start') {
    session = message.session;
    queue = queue.then(async () => {
      try {
        morvane = await createMorvane({morvaneReader: new Worker('reader.js')});
      } catch (error) {
        startFailure = 'the converter did not load (' + String(error && error.message || error) + ')';
      }
      await clearOldSessions().catch(() => {});
    });
  } else if (message.type === 'walk') {
    queue = queue.then(() => walk(message.entries));
  } else if (message.type === 'convert') {
    droppedIn[message.id] = message.folder || '';
    fileNames[message.id] = message.file.name;
    queue = queue.then(() => convert(message.id, message.file, message.companions));
  } else if (message.type === 'zip') {
    queue = queue.then(makeZip);
  } else if (message.type === 'webm') {
    queue = queue.then(() => shareFilm(message.job, message.id, message.file, message.film));
  } else if (message.type === 'cancel-webm') {
    if (webmJob === message.job && morvane) morvane.morvaneCancel = true;
    else cancelledJobs.add(message.job);  // not begun yet: it ends as it begins
  } else if (message.type === 'film-index') {
    queue = queue.then(() => postMessage({type: 'film-index', request: message.request, index: filmIndex(message)}));
  } else if (message.type === 'film-picture' || message.type === 'film-sound') {
    // After the conversions asked for before: the converter runs one call at once.
    queue = queue.then(() => (message.type === 'film-picture' ? filmPicture : filmSound)(message))
      .catch((error) => postMessage({type: message.type, request: message.request,
        failure: String(error && error.message || error)}));
  }
};
