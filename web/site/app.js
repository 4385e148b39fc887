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
    : cards.size === 0 ? ''
    : 'Done: ' + written + (written === 1 ? ' file' : ' files') + ' written' +
      (troubled > 0 ? ', ' + troubled + (troubled === 1 ? ' stream file' : ' stream files') + ' with problems.' : '.');
  $('#status').textContent = text;
  $('#download-all').disabled = written === 0;
}

// A file of this page's storage, as a link the browser can download or play.
// Each card's folder is looked up once: every step is a call to the
// browser's process, which the conversion going on needs too.
const cardFolders = new Map();
async function storedFileUrl(folder, name) {
  if (!cardFolders.has(folder)) {
    const lookup = navigator.storage.getDirectory()
      .then((root) => root.getDirectoryHandle(session))
      .then((sessionFolder) => sessionFolder.getDirectoryHandle(folder));
    cardFolders.set(folder, lookup);
    lookup.catch(() => cardFolders.delete(folder));
  }
  const card = await cardFolders.get(folder);
  const file = await (await card.getFileHandle(name)).getFile();
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

class Card {
  constructor(id, file, title) {
    this.id = id;
    this.file = file;
    this.facts = new Map();
    this.outputs = 0;
    this.adding = [];  // outputs whose links are still being made
    this.element = $('#card-template').content.firstElementChild.cloneNode(true);
    this.element.id = id;
    this.element.setAttribute('aria-labelledby', id + '-title');
    const heading = $('.card-title', this.element);
    heading.id = id + '-title';
    heading.textContent = title + ' (' + sizeText(file.size) + ')';
    $('progress', this.element).setAttribute('aria-label', 'Progress of ' + title);
    this.setStatus('Waiting…');
    $('#cards').append(this.element);
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
      case 'notice': {
        const item = document.createElement('li');
        item.textContent = facts.text;
        $('.analysis-notices', this.element).append(item);
        break;
      }
      case 'strip':
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
    const stored = await storedFileUrl(this.id, name);
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
      if (facts.codec === 'cvid') this.addWebmControl(item, name);
    }
    const link = document.createElement('a');
    link.href = stored.url;
    link.download = name;
    link.textContent = 'Download ' + name;
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
    if (!whole) troubled++;
    const outputs = this.outputs + (this.outputs === 1 ? ' file' : ' files') + ' written';
    this.setStatus(message.failure ? 'The converter failed: ' + message.failure
      : whole ? 'Converted whole: ' + outputs + '.' : 'Not converted whole: ' + outputs + '; see the problems.');
    this.element.classList.add(whole ? 'whole' : 'troubled');
  }
}

function addFiles(entries) {
  for (const {file, title} of entries) {
    const id = 'card-' + nextCard++;
    cards.set(id, new Card(id, file, title));
    running++;
    // The zip keeps the folders of what was dropped.
    worker.postMessage({type: 'convert', id: id, file: file, folder: title.slice(0, title.length - file.name.length)});
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
