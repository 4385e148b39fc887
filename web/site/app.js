// The page: takes the files dropped or picked, gives each a card, and shows
// what the worker's converter tells of it. Everything about the files
// themselves (their analysis, their outputs' names, decoding, the problems'
// words) comes from the converter; this script only asks and shows.
'use strict';

const session = 'session-' + crypto.randomUUID();
const worker = new Worker('worker.js');
const cards = new Map();
let nextCard = 0;
let running = 0;
let walking = 0;  // drops the worker is still looking through
let notStreams = 0;  // files dropped by themselves that are no stream
const kNoStream = 3;  // what the analysis gives for such a file
let written = 0;
let troubled = 0;
// The WebMs being made, by job: what their worker's reports go to.
const webmJobs = new Map();
let nextWebm = 0;

// The session's outputs are cleared by a later page once this one is gone.
navigator.locks.request(session, () => new Promise(() => {}));
worker.postMessage({type: 'start', session: session});
if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js');

const $ = (selector, root = document) => root.querySelector(selector);

function sizeText(bytes) {
  if (bytes < 1024) return bytes + ' bytes';
  const units = ['KB', 'MB', 'GB'];
  let value = bytes / 1024;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit++;
  }
  return value.toFixed(value < 10 ? 1 : 0) + ' ' + units[unit];
}

function durationText(seconds) {
  const minutes = Math.floor(seconds / 60);
  const rest = seconds - 60 * minutes;
  return minutes + ':' + (rest < 10 ? '0' : '') + rest.toFixed(1);
}

function showStatus() {
  const text = running > 0 ? 'Converting: ' + running + (running === 1 ? ' file' : ' files') + ' to go.'
    : walking > 0 ? 'Looking through what was dropped…'
    : cards.size === 0 ? ''
    : 'Done: ' + written + (written === 1 ? ' file' : ' files') + ' written' +
      (troubled === 0 ? '.' : ', ' + troubled + ' ' + (notStreams > 0 ? 'file' : 'stream file') +
        (troubled === 1 ? '' : 's') + ' with problems.');
  $('#status').textContent = text;
  $('#download-all').disabled = written === 0;
}

// A file of this page's storage, as a link the browser can download or play.
// Each card's folder is looked up once: every step is a call to the
// browser's process, which the conversion going on needs too.
// A name may hold folders below the card's ("game/MOVIES/INTRO.STR0.sound.wav").
const cardFolders = new Map();
function storedFolder(path) {
  if (!cardFolders.has(path)) {
    const slash = path.lastIndexOf('/');
    const lookup = (slash < 0 ? navigator.storage.getDirectory().then((root) => root.getDirectoryHandle(session))
      : storedFolder(path.slice(0, slash))).then((parent) => parent.getDirectoryHandle(path.slice(slash + 1)));
    cardFolders.set(path, lookup);
    lookup.catch(() => cardFolders.delete(path));
  }
  return cardFolders.get(path);
}
async function storedFileUrl(folder, name) {
  const path = folder + '/' + name;
  const file = await (await (await storedFolder(path.slice(0, path.lastIndexOf('/'))))
    .getFileHandle(path.slice(path.lastIndexOf('/') + 1))).getFile();
  return {url: URL.createObjectURL(file), size: file.size};
}

function drawStrip(canvas, shares) {
  const context = canvas.getContext('2d');
  const cells = shares.length / 3;
  const lane = canvas.height / 3;
  const colours = ['#1f6f3f', '#7a3e9d', '#6b6b6b'];
  const totals = [0, 0, 0];
  context.clearRect(0, 0, canvas.width, canvas.height);
  for (let cell = 0; cell < cells; cell++) {
    for (let kind = 0; kind < 3; kind++) {
      const share = shares[3 * cell + kind] / 255;
      totals[kind] += share;
      if (share === 0) continue;
      context.globalAlpha = 0.25 + 0.75 * share;
      context.fillStyle = colours[kind];
      const x = (cell * canvas.width) / cells;
      context.fillRect(x, kind * lane, Math.ceil(canvas.width / cells), lane - 2);
    }
  }
  context.globalAlpha = 1;
  const percent = (total) => Math.round((100 * total) / cells) + '%';
  canvas.setAttribute('aria-label', 'Chunks of the file: sound ' + percent(totals[0]) + ', film ' +
    percent(totals[1]) + ', other ' + percent(totals[2]) + ' of its bytes');
}

function drawWaveform(canvas, envelope) {
  const context = canvas.getContext('2d');
  const columns = envelope.length / 2;
  const middle = canvas.height / 2;
  context.fillStyle = '#2c4a6e';
  for (let column = 0; column < columns; column++) {
    const low = envelope[2 * column] / 32768;
    const high = envelope[2 * column + 1] / 32768;
    const x = (column * canvas.width) / columns;
    const top = middle - high * middle;
    context.fillRect(x, top, Math.max(1, canvas.width / columns), Math.max(1, (high - low) * middle));
  }
}

// Questions to the worker that have an answer: the films' pictures and sound.
let nextRequest = 0;
const answers = new Map();
function ask(message) {
  return new Promise((resolve) => {
    message.request = nextRequest++;
    answers.set(message.request, resolve);
    worker.postMessage(message);
  });
}

// A film's player: its frames decoded in the worker and drawn on a canvas at
// their own times, the movie's sound tracks through Web Audio, whose clock
// leads the picture while one plays. A seek lands on the nearest key frame
// before the point and the worker decodes forward from there.
class FilmPlayer {
  constructor(card, name, facts, item) {
    Object.assign(this, {card: card, name: name, facts: facts, durationMs: facts.durationMs});
    this.playing = false;
    this.positionMs = 0;
    this.shown = -1;
    this.ready = null;
    this.inFlight = false;
    this.generation = 0;
    this.sounds = new Map();
    const box = document.createElement('div');
    box.className = 'player';
    this.canvas = document.createElement('canvas');
    this.canvas.className = 'film-picture';
    this.canvas.width = facts.width;
    this.canvas.height = facts.height;
    this.canvas.setAttribute('role', 'img');
    this.canvas.setAttribute('aria-label', name + ', not drawn yet');
    const controls = document.createElement('div');
    controls.className = 'player-controls';
    this.button = document.createElement('button');
    this.button.type = 'button';
    this.button.className = 'play';
    this.button.disabled = true;
    this.button.addEventListener('click', () => (this.playing ? this.pause() : this.play()));
    this.seek = document.createElement('input');
    this.seek.type = 'range';
    this.seek.className = 'seek';
    this.seek.min = 0;
    this.seek.max = Math.max(1, this.durationMs);
    this.seek.step = 100;
    this.seek.value = 0;
    this.seek.disabled = true;
    this.seek.setAttribute('aria-label', 'Position in ' + name);
    this.seek.addEventListener('input', () => this.seekTo(Number(this.seek.value)));
    this.time = document.createElement('span');
    this.time.className = 'time';
    this.status = document.createElement('span');
    this.status.className = 'player-status';
    this.status.setAttribute('role', 'status');
    controls.append(this.button, this.seek, this.time);
    box.append(this.canvas, controls, this.status);
    item.append(box);
    this.showButton();
    this.showTime(0);
    ask({type: 'film-index', id: card, name: name, codec: facts.codec, width: facts.width, height: facts.height})
      .then((answer) => this.start(answer.index, box, controls));
  }

  start(index, box, controls) {
    if (!index || !index.playable || index.frames.length === 0) {
      const line = document.createElement('p');
      line.textContent = 'Morvane has no player for ' + this.facts.codec + ' films.';
      box.replaceWith(line);
      return;
    }
    this.frames = index.frames;
    this.tracks = index.tracks;
    if (this.tracks.length > 1) {
      const label = document.createElement('label');
      label.textContent = 'Sound ';
      this.trackList = document.createElement('select');
      this.trackList.className = 'track';
      for (const track of this.tracks) {
        const option = document.createElement('option');
        option.value = track.number;
        option.textContent = 'sound ' + track.sound + ' (' + track.rate + ' Hz, ' +
          (track.channels === 1 ? 'mono' : 'stereo') + ')';
        this.trackList.append(option);
      }
      this.trackList.addEventListener('change', () => {
        if (this.playing) this.restartSound();
      });
      label.append(this.trackList);
      controls.append(label);
    }
    this.button.disabled = false;
    this.seek.disabled = false;
    this.seekTo(0);
  }

  showButton() {
    this.button.textContent = this.playing ? 'Pause' : 'Play';
    this.button.setAttribute('aria-label', (this.playing ? 'Pause ' : 'Play ') + this.name);
  }

  showTime(ms) {
    const text = durationText(ms / 1000) + ' of ' + durationText(this.durationMs / 1000);
    this.time.textContent = text;
    this.seek.setAttribute('aria-valuetext', text);
  }

  // The frame shown at `ms`: the last one that starts at or before it.
  frameAt(ms) {
    let low = 0;
    let high = this.frames.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (this.frames[middle][0] <= ms) low = middle; else high = middle - 1;
    }
    return low;
  }

  clock() { return this.audioClock ? 1000 * this.audio.currentTime : performance.now(); }
  position() { return this.playing ? this.startPosition + this.clock() - this.clockStart : this.positionMs; }

  request(index) {
    const generation = this.generation;
    this.inFlight = true;
    ask({type: 'film-picture', id: this.card, name: this.name, index: index, codec: this.facts.codec,
      width: this.facts.width, height: this.facts.height}).then((answer) => {
      if (generation !== this.generation) return;
      this.inFlight = false;
      if (answer.failure) {
        this.status.textContent = 'The film cannot be played here: ' + answer.failure;
        this.pause();
        return;
      }
      if (answer.problem) this.status.textContent = answer.problem;
      if (this.playing) this.ready = answer; else this.draw(answer);
    });
  }

  draw(picture) {
    this.canvas.getContext('2d').putImageData(new ImageData(picture.rgba, this.facts.width, this.facts.height), 0, 0);
    this.shown = picture.index;
    this.canvas.dataset.ms = picture.ms;
    this.canvas.setAttribute('aria-label', this.name + ' at ' + durationText(picture.ms / 1000));
  }

  seekTo(ms) {
    const playing = this.playing;
    if (playing) this.pause();
    this.generation++;
    this.inFlight = false;
    this.ready = null;
    this.positionMs = Math.max(0, Math.min(ms, this.durationMs));
    this.seek.value = this.positionMs;
    this.showTime(this.positionMs);
    this.request(this.frameAt(this.positionMs));
    if (playing) this.play();
  }

  async soundOf(number) {
    if (!this.sounds.has(number)) {
      this.sounds.set(number, ask({type: 'film-sound', id: this.card, name: this.name, track: number})
        .then((answer) => {
          if (answer.failure) throw new Error(answer.failure);
          const frames = answer.samples.length / answer.channels;
          const buffer = this.audio.createBuffer(answer.channels, Math.max(1, frames), answer.rate);
          for (let channel = 0; channel < answer.channels; channel++) {
            const out = buffer.getChannelData(channel);
            for (let i = 0; i < frames; i++) out[i] = answer.samples[i * answer.channels + channel] / 32768;
          }
          return {buffer: buffer, startMs: answer.startMs};
        }));
    }
    return this.sounds.get(number);
  }

  async play() {
    if (this.positionMs >= this.durationMs) this.positionMs = 0;
    this.playing = true;
    this.showButton();
    this.audioClock = false;
    if (this.tracks.length > 0) {
      if (!this.audio) this.audio = new AudioContext();
      // Without a sound device the audio clock may never run: the page's
      // clock leads then.
      await Promise.race([this.audio.resume(), new Promise((resolve) => setTimeout(resolve, 300))]);
      if (!this.playing) return;
      this.audioClock = this.audio.state === 'running';
    }
    this.clockStart = this.clock();
    this.startPosition = this.positionMs;
    if (this.audioClock) await this.restartSound();
    requestAnimationFrame(() => this.tick());
  }

  async restartSound() {
    if (this.source) this.source.stop();
    this.source = null;
    const number = this.trackList ? Number(this.trackList.value) : this.tracks[0].number;
    let sound;
    try {
      sound = await this.soundOf(number);
    } catch (error) {
      this.status.textContent = 'The sound cannot be played: ' + error.message;
      return;
    }
    if (!this.playing) return;
    const at = this.position();
    this.source = this.audio.createBufferSource();
    this.source.buffer = sound.buffer;
    this.source.connect(this.audio.destination);
    if (at >= sound.startMs) this.source.start(0, (at - sound.startMs) / 1000);
    else this.source.start(this.audio.currentTime + (sound.startMs - at) / 1000, 0);
  }

  pause() {
    this.positionMs = Math.min(this.position(), this.durationMs);
    this.playing = false;
    if (this.source) this.source.stop();
    this.source = null;
    this.showButton();
  }

  tick() {
    if (!this.playing) return;
    const now = this.position();
    if (now >= this.durationMs) {
      this.pause();
      this.positionMs = this.durationMs;
    }
    const wanted = this.frameAt(now);
    if (this.ready && this.ready.index <= wanted) {
      this.draw(this.ready);
      this.ready = null;
    }
    if (!this.inFlight && !this.ready && this.shown < this.frames.length - 1) {
      this.request(Math.max(wanted, this.shown + 1));
    }
    this.seek.value = Math.min(now, this.durationMs);
    this.showTime(Math.min(now, this.durationMs));
    if (this.playing) requestAnimationFrame(() => this.tick());
  }
}

class Card {
  // `place`: of a stream on a disc, the disc's card, whose folder holds its
  // outputs and after whose cards it comes. `file`: the stream dropped or
  // picked, which a film's WebM reads again; none for a stream on a disc.
  constructor(id, size, title, place, file) {
    this.id = id;
    this.title = title;
    this.folder = place ? place.folder : id;
    this.file = file || null;
    this.facts = new Map();
    this.outputs = 0;
    this.adding = [];  // outputs whose links are still being made
    this.element = $('#card-template').content.firstElementChild.cloneNode(true);
    this.element.id = id;
    this.element.setAttribute('aria-labelledby', id + '-title');
    const heading = $('.card-title', this.element);
    heading.id = id + '-title';
    heading.textContent = title + ' (' + sizeText(size) + ')';
    $('progress', this.element).setAttribute('aria-label', 'Progress of ' + title);
    this.setStatus('Waiting…');
    if (place) place.lastElement().after(this.element);
    else $('#cards').append(this.element);
  }

  setStatus(text) { $('.card-status', this.element).textContent = text; }

  report(kind, facts) {
    const show = (selector) => { $(selector, this.element).hidden = false; };
    switch (kind) {
      case 'progress':
        $('progress', this.element).value = facts.total > 0 ? (1000 * facts.done) / facts.total : 1000;
        this.setStatus('Converting… ' + Math.floor(facts.total > 0 ? (100 * facts.done) / facts.total : 100) + '%');
        break;
      case 'line':
        show('.analysis');
        $('.summary', this.element).textContent += facts.line + '\n';
        break;
      case 'row': {
        show('.analysis');
        const row = document.createElement('tr');
        const caption = document.createElement('th');
        caption.scope = 'row';
        caption.textContent = facts.caption;
        const value = document.createElement('td');
        value.textContent = facts.value;
        row.append(caption, value);
        $('.rows tbody', this.element).append(row);
        break;
      }
      case 'films': {
        show('.analysis');
        const line = $('.film-line', this.element);
        line.textContent = facts.line;
        line.hidden = false;
        break;
      }
      case 'notice': {
        const item = document.createElement('li');
        item.textContent = facts.text;
        $('.analysis-notices', this.element).append(item);
        break;
      }
      case 'strip':
        // A stream on a disc has its strip alone, no summary or rows.
        show('.analysis');
        show('.strip');
        drawStrip($('.strip-picture', this.element), facts.shares);
        break;
      case 'problem': {
        show('.problems');
        const item = document.createElement('li');
        item.textContent = facts.line;
        $('.problem-list', this.element).append(item);
        break;
      }
      case 'sound':
      case 'movie':
        this.facts.set(facts.path, Object.assign({kind: kind}, facts));
        break;
      case 'wrote':
        this.adding.push(this.addOutput(facts.path));
        break;
    }
  }

  async addOutput(name) {
    $('.outputs', this.element).hidden = false;
    this.outputs++;
    written++;
    showStatus();
    const item = document.createElement('li');
    item.className = 'output';
    const heading = document.createElement('h4');
    heading.textContent = name;
    item.append(heading);
    $('.output-list', this.element).append(item);
    const stored = await storedFileUrl(this.folder, name);
    const facts = this.facts.get(name);
    if (facts && facts.kind === 'sound') {
      const seconds = facts.rate > 0 ? facts.frames / facts.rate : 0;
      const line = document.createElement('p');
      line.textContent = facts.rate + ' Hz, ' + (facts.channels === 1 ? 'mono' : facts.channels + ' channels') +
        ', ' + durationText(seconds);
      const picture = document.createElement('canvas');
      picture.width = 600;
      picture.height = 64;
      picture.className = 'waveform';
      picture.setAttribute('role', 'img');
      picture.setAttribute('aria-label', 'Waveform of ' + name);
      drawWaveform(picture, facts.envelope);
      // The player is made when asked for: each costs the tab a few
      // megabytes, and a file may hold dozens of streams.
      const play = document.createElement('button');
      play.type = 'button';
      play.textContent = 'Play';
      play.setAttribute('aria-label', 'Play ' + name);
      play.addEventListener('click', () => {
        const player = document.createElement('audio');
        player.controls = true;
        player.src = stored.url;
        player.setAttribute('aria-label', 'Player of ' + name);
        play.replaceWith(player);
        player.play().catch(() => {});
        player.focus();
      });
      item.append(line, picture, play);
    } else if (facts && facts.kind === 'movie') {
      const line = document.createElement('p');
      // As the window's Video Format row says it: "cvid 320x240".
      line.textContent = facts.codec + ' ' + facts.width + 'x' + facts.height + ', ' + facts.frames +
        (facts.frames === 1 ? ' frame, ' : ' frames, ') + durationText(facts.durationMs / 1000);
      item.append(line);
      // The player and the WebM read the stream's own movie and file: a film
      // on a disc has its movie and poster to download, not yet those.
      if (this.file && facts.width > 0 && facts.height > 0) new FilmPlayer(this.id, name, facts, item);
      if (this.file && facts.codec === 'cvid') this.addWebmControl(item, name);
    } else if (name.endsWith('.film.png')) {
      const poster = document.createElement('img');
      poster.className = 'poster';
      poster.src = stored.url;
      poster.alt = 'Poster of ' + name.slice(0, -'.png'.length) + '.mkv: its first key frame';
      item.append(poster);
    }
    const link = document.createElement('a');
    link.href = stored.url;
    // Named as convert names the file; the heading tells where it lies.
    const file = name.slice(name.lastIndexOf('/') + 1);
    link.download = file;
    link.textContent = 'Download ' + file;
    const size = document.createElement('span');
    size.textContent = ' (' + sizeText(stored.size) + ')';
    const row = document.createElement('p');
    row.append(link, size);
    item.append(row);
  }

  // The film re-encoded in this browser as WebM (VP9 and Opus), to share:
  // named as morvane-cli convert --webm names it, beside the movie.
  addWebmControl(item, movieName) {
    const film = Number(movieName.slice(this.file.name.length, -'.film.mkv'.length));
    const name = this.file.name + film + '.film.webm';
    const box = document.createElement('div');
    box.className = 'webm';
    const make = document.createElement('button');
    make.type = 'button';
    make.textContent = 'WebM';
    make.setAttribute('aria-label', 'Make ' + name + ', to share: VP9 and Opus, which browsers and phones play');
    const progress = document.createElement('progress');
    progress.max = 1000;
    progress.value = 0;
    progress.hidden = true;
    progress.setAttribute('aria-label', 'Progress of ' + name);
    const cancel = document.createElement('button');
    cancel.type = 'button';
    cancel.textContent = 'Cancel';
    cancel.hidden = true;
    cancel.setAttribute('aria-label', 'Cancel ' + name);
    const status = document.createElement('span');
    status.className = 'webm-status';
    status.setAttribute('aria-live', 'polite');
    const problems = document.createElement('ul');
    problems.className = 'webm-problems';
    box.append(make, progress, cancel, status, problems);
    item.append(box);
    make.addEventListener('click', () => {
      make.disabled = true;
      progress.hidden = false;
      progress.value = 0;
      cancel.hidden = false;
      cancel.disabled = false;
      problems.replaceChildren();
      const old = $('a', status);
      if (old) URL.revokeObjectURL(old.href);
      status.textContent = 'Waiting…';
      const job = 'webm-' + nextWebm++;
      webmJobs.set(job, {
        report: (kind, facts) => {
          if (kind === 'progress') {
            progress.value = facts.total > 0 ? (1000 * facts.done) / facts.total : 1000;
            status.textContent = 'Encoding… ' + Math.floor(progress.value / 10) + '%';
          } else if (kind === 'problem') {
            const line = document.createElement('li');
            line.textContent = facts.line;
            problems.append(line);
          }
        },
        done: async (message) => {
          progress.hidden = true;
          cancel.hidden = true;
          make.disabled = false;
          if (message.cancelled) {
            status.textContent = 'Cancelled; no WebM written.';
          } else if (message.wrote) {
            const stored = await storedFileUrl(this.id, name);
            const link = document.createElement('a');
            link.href = stored.url;
            link.download = name;
            link.textContent = 'Download ' + name;
            status.textContent = '';
            status.append(link, ' (' + sizeText(stored.size) + ')' +
              (message.result === 0 ? '' : '; not whole, see the problems'));
          } else {
            status.textContent = 'No WebM written' + (message.failure ? ': ' + message.failure : '; see the problems.');
          }
          make.focus();
        },
      });
      cancel.onclick = () => {
        cancel.disabled = true;
        status.textContent = 'Cancelling…';
        worker.postMessage({type: 'cancel-webm', job: job});
      };
      worker.postMessage({type: 'webm', job: job, id: this.id, file: this.file, film: film});
    });
  }

  async finish(message) {
    // The card says it is done once every output has its link.
    await Promise.all(this.adding);
    $('progress', this.element).value = 1000;
    const whole = message.convert === 0;
    // The analysis finds no stream in it: the problem's one line says so.
    const noStream = message.analyze === kNoStream;
    if (!whole) troubled++;
    if (noStream) notStreams++;
    const outputs = this.outputs + (this.outputs === 1 ? ' file' : ' files') + ' written';
    this.setStatus(message.failure ? 'The converter failed: ' + message.failure
      : noStream ? 'Skipped: not a chunk stream.'
      : whole ? 'Converted whole: ' + outputs + '.' : 'Not converted whole: ' + outputs + '; see the problems.');
    this.element.classList.add(whole ? 'whole' : 'troubled');
  }
}

// A disc image: its card holds the disc's label, its tree of files with
// their kinds, the problems of the disc and its CD audio tracks; each stream
// on it gets a card of its own after it as the conversion comes to it.
class DiscCard extends Card {
  constructor(id, size, title) {
    super(id, size, title);
    this.parts = [];
    this.part = null;  // the card of the stream being converted
  }

  lastElement() { return this.parts.length ? this.parts[this.parts.length - 1].element : this.element; }

  report(kind, facts) {
    if (kind === 'disc') {
      $('.disc', this.element).hidden = false;
      $('.disc-label', this.element).textContent = 'Label: ' + facts.label;
    } else if (kind === 'part') {
      this.endPart();
      this.addToTree(facts);
      if (!facts.converted) return;
      this.part = new Card(this.id + '-' + this.parts.length, facts.size, this.title + '/' + facts.path, this);
      this.part.setStatus('Converting…');
      this.parts.push(this.part);
    } else if (kind === 'progress' || !this.part) {
      super.report(kind, facts);
    } else {
      this.part.report(kind, facts);
    }
  }

  addToTree(facts) {
    const row = document.createElement('tr');
    for (const text of [facts.path, sizeText(facts.size), facts.kind]) {
      const cell = document.createElement('td');
      cell.textContent = text;
      row.append(cell);
    }
    // The files in the order of their paths, each folder's before what
    // follows it ("/" sorts first), whatever the order they lie in on the
    // disc; the tracks after them.
    const key = facts.kind === 'CD audio' ? null : facts.path.replaceAll('/', '\x01');
    row.dataset.key = key === null ? '' : key;
    const body = $('.disc-tree tbody', this.element);
    const next = key === null ? null
      : [...body.rows].find((other) => other.dataset.key === '' || other.dataset.key > key);
    body.insertBefore(row, next || null);
  }

  // The stream's card says how it went once every output has its link.
  endPart() {
    const part = this.part;
    this.part = null;
    if (!part) return;
    part.ending = Promise.all(part.adding).then(() => {
      $('progress', part.element).value = 1000;
      const whole = $('.problem-list', part.element).children.length === 0;
      const outputs = part.outputs + (part.outputs === 1 ? ' file' : ' files') + ' written';
      part.setStatus(whole ? 'Converted whole: ' + outputs + '.' : 'Not converted whole: ' + outputs + '; see the problems.');
      part.element.classList.add(whole ? 'whole' : 'troubled');
    });
  }

  async finish(message) {
    this.endPart();
    await Promise.all(this.parts.map((part) => part.ending));
    this.outputs += this.parts.reduce((sum, part) => sum + part.outputs, 0);
    await super.finish(message);
  }
}

// What was dropped or picked goes to the worker first, which passes over
// what the walk of morvane-cli convert passes over; the files it takes
// come back here, each to get its card.
function addFiles(entries) {
  if (entries.length === 0) return;
  walking++;
  showStatus();
  worker.postMessage({type: 'walk', entries: entries});
}

function addCards(entries) {
  for (const {file, title, disc, companions} of entries) {
    const id = 'card-' + nextCard++;
    const size = file.size + (companions || []).reduce((sum, companion) => sum + companion.file.size, 0);
    cards.set(id, disc ? new DiscCard(id, size, title) : new Card(id, size, title, null, file));
    running++;
    // The zip keeps the folders of what was dropped.
    worker.postMessage({type: 'convert', id: id, file: file, companions: disc ? companions || [] : undefined,
      folder: title.slice(0, title.length - file.name.length)});
  }
  showStatus();
}

worker.onmessage = async (event) => {
  const message = event.data;
  if (message.type === 'webm-report') {
    webmJobs.get(message.job).report(message.kind, message.facts);
  } else if (message.type === 'webm-done') {
    const job = webmJobs.get(message.job);
    webmJobs.delete(message.job);
    await job.done(message);
  } else if (answers.has(message.request) && message.type !== 'report') {
    answers.get(message.request)(message);
    answers.delete(message.request);
  } else if (message.type === 'walked') {
    walking--;
    addCards(message.entries);
    if (message.entries.length === 0 && running + walking === 0) {
      $('#status').textContent = 'Nothing to convert: what was dropped holds no stream or disc image.';
    }
  } else if (message.type === 'report') {
    cards.get(message.id).report(message.kind, message.facts);
  } else if (message.type === 'done') {
    await cards.get(message.id).finish(message);
    running--;
    showStatus();
  } else if (message.type === 'zip') {
    const link = $('#zip-link');
    if (message.failure) {
      $('#status').textContent = 'The zip could not be made: ' + message.failure;
      return;
    }
    const root = await navigator.storage.getDirectory();
    const file = await (await (await root.getDirectoryHandle(session)).getFileHandle(message.name)).getFile();
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(file);
    link.download = message.name;
    link.textContent = 'Download ' + message.name + ' (' + sizeText(file.size) + ')';
    link.hidden = false;
    $('#status').textContent = message.name + ' is ready: ' + message.entries + ' files in it.';
    link.focus();
  }
};

// A dropped folder's files, with their paths inside it.
async function filesOf(entry) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    return [{file: file, title: entry.fullPath.replace(/^\//, '')}];
  }
  const reader = entry.createReader();
  const found = [];
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) break;
    for (const child of batch) found.push(...await filesOf(child));
  }
  return found.sort((a, b) => (a.title < b.title ? -1 : a.title > b.title ? 1 : 0));
}

document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', (event) => {
  if (!event.relatedTarget) document.body.classList.remove('dragging');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry()).filter(Boolean);
  const found = [];
  for (const entry of entries) found.push(...await filesOf(entry));
  addFiles(found);
});

for (const [button, input] of [['#pick-files', '#files-input'], ['#pick-folder', '#folder-input']]) {
  $(button).addEventListener('click', () => $(input).click());
  $(input).addEventListener('change', (event) => {
    addFiles([...event.target.files].map((file) => ({file: file, title: file.webkitRelativePath || file.name})));
    event.target.value = '';
  });
}

$('#download-all').addEventListener('click', () => {
  $('#zip-link').hidden = true;
  $('#status').textContent = 'Making the zip of every file written…';
  worker.postMessage({type: 'zip'});
});
