// convert in the page against the native morvane-cli convert, on the same
// streams in one run: the page's time (from the worker's own clock, the
// analysis apart) and where it went (the waits for the browser's reads,
// writes and other storage calls), the native time, a floor (the page's
// worker only reading the dropped file and writing the conversion's outputs,
// of their sizes, into the private storage by the same safe road: each made
// under a temporary name and moved onto its own), the converter's own
// computing (the same code with the storage answered at once, the file held
// in memory: built as the page's is, and without Asyncify's instrumentation),
// and the tab's memory (the peak resident and proportional set sizes of
// Chromium's renderer processes, sampled from /proc every 50 ms while the
// page converts).
//
//   node bench/web_convert.mjs --cli build/src/cli/morvane-cli --site build-web/site \
//     [--runs 3] STREAM...
//
// The scratch folder (the native outputs and the browser's profile, which
// holds the private storage) is made in TMPDIR: TMPDIR=/dev/shm keeps the
// disk's write-back of earlier runs from weighing on either side. The bench's
// inputs make good streams: build/bench/morvane-bench generate DIR writes a
// 600 MB stream (stream.str) and 200 MB ones of dense, sparse and mixed chunks.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {launchPage} from '../tests/web/browser.mjs';
import {serve} from '../web/serve.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  if (at < 0) return fallback;
  return args.splice(at, 2)[1];
};
const cli = path.resolve(option('--cli', 'build/src/cli/morvane-cli'));
const site = path.resolve(option('--site', 'build-web/site'));
// The computing-alone builds, beside the site (src/web/CMakeLists.txt).
const computeSite = path.join(path.dirname(site), 'bench-site');
const runs = Number(option('--runs', '3'));
const inputs = args.map((input) => path.resolve(input));
if (inputs.length === 0) {
  console.error('usage: web_convert.mjs [--cli PATH] [--site DIR] [--runs N] STREAM...');
  process.exit(2);
}
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'morvane-web-bench-'));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const load = () => os.loadavg().map((value) => value.toFixed(2)).join(' ');
const scratchFs = execFileSync('stat', ['-f', '-c', '%T', scratch], {encoding: 'utf8'}).trim();
console.log(`Scratch folder ${scratch} (${scratchFs}); load average at the start: ${load()}`);

// The renderers' memory, in MB: the highest resident, proportional and
// private (what Chromium's task manager counts as a tab's footprint) sizes seen.
function memorySampler() {
  const peak = {rss: 0, pss: 0, private: 0};
  const sample = () => {
    for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
      try {
        const command = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
        if (!command.includes('chrom') || !command.includes('--type=renderer')) continue;
        const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
        const field = (name) => Number((rollup.match(new RegExp('^' + name + ':\\s+(\\d+)', 'm')) || [0, 0])[1]) / 1024;
        peak.rss = Math.max(peak.rss, field('Rss'));
        peak.pss = Math.max(peak.pss, field('Pss'));
        peak.private = Math.max(peak.private, field('Private_Clean') + field('Private_Dirty'));
      } catch (gone) {
        // The process ended meanwhile.
      }
    }
  };
  const timer = setInterval(sample, 50);
  return {stop: () => (clearInterval(timer), sample(), peak)};
}

// The native conversion's time and the sizes of the files it wrote, by name.
function nativeConvert(input) {
  const out = fs.mkdtempSync(path.join(scratch, 'native-'));
  const start = process.hrtime.bigint();
  execFileSync(cli, ['convert', '-o', out, input], {stdio: ['ignore', 'ignore', 'inherit']});
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  const files = fs.readdirSync(out).sort().map((name) => [name, fs.statSync(path.join(out, name)).size]);
  fs.rmSync(out, {recursive: true});
  return {ms, files};
}

const browser = await launchPage(site, path.join(scratch, 'profile'));
let page = browser.page;
// Each run in a tab of its own: the tab's memory is that run's alone.
const freshTab = async () => {
  const next = await browser.context.newPage();
  await page.close();
  page = next;
  await page.goto(browser.origin + '/');
};
// The workers' threads of the renderers: every 20 ms, each one's time on a
// CPU and its time waiting for one (its run queue), from /proc's schedstat.
function workerThreadSampler() {
  const samples = [];
  const renderers = fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name)).filter((pid) => {
    try {
      const command = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      return command.includes('chrom') && command.includes('--type=renderer');
    } catch (gone) {
      return false;
    }
  });
  const sample = () => {
    const threads = new Map();
    for (const pid of renderers) {
      let tids = [];
      try {
        tids = fs.readdirSync(`/proc/${pid}/task`);
      } catch (gone) {
        continue;
      }
      for (const tid of tids) {
        try {
          if (fs.readFileSync(`/proc/${pid}/task/${tid}/comm`, 'utf8').trim() !== 'DedicatedWorker') continue;
          const [run, wait] = fs.readFileSync(`/proc/${pid}/task/${tid}/schedstat`, 'utf8').split(' ').map(Number);
          threads.set(tid, {run: run / 1e6, wait: wait / 1e6});
        } catch (gone) {
          // The thread ended meanwhile.
        }
      }
    }
    samples.push({at: Date.now(), threads: threads});
  };
  sample();
  const timer = setInterval(sample, 20);
  // The busiest worker thread (the converter's) from the last sample at or
  // before `from` (ms since the epoch) to the end.
  return {stop: (from) => {
    clearInterval(timer);
    sample();
    const first = samples.filter((s) => s.at <= from).at(-1) || samples[0];
    const last = samples.at(-1);
    let busiest = {run: 0, wait: 0};
    for (const [tid, end] of last.threads) {
      const start = first.threads.get(tid) || {run: 0, wait: 0};
      if (end.run - start.run > busiest.run) busiest = {run: end.run - start.run, wait: end.wait - start.wait};
    }
    return busiest;
  }};
}

// What the worker tells the page when a file is done, kept for the bench.
const pageConvert = async (input) => {
  await freshTab();
  await page.evaluate(() => {
    window.benchDone = null;
    worker.addEventListener('message', (event) => {
      if (event.data.type === 'done') window.benchDone = event.data;
    });
  });
  const memory = memorySampler();
  const threads = workerThreadSampler();
  await page.setInputFiles('#files-input', input);
  await page.waitForFunction(() => window.benchDone, null, {timeout: 600000, polling: 100});
  const peak = memory.stop();
  const done = await page.evaluate(() => window.benchDone);
  const converter = threads.stop(done.convertStart);
  if (done.convert !== 0) throw new Error(`${input}: the page did not convert it whole (${done.failure || done.convert})`);
  return {...done, ...peak, converterRun: converter.run, converterQueued: converter.wait};
};

// The floor: the dropped file read through its byte stream, and each of the
// conversion's outputs written as the reading goes, 512 KB at a time, by the
// road every output takes: made under a temporary name, given its room at
// once, closed and moved onto its name.
const floor = async (input, files) => {
  await freshTab();
  while (page.workers().length === 0) await new Promise((resolve) => setTimeout(resolve, 10));
  const [worker] = page.workers();
  await worker.evaluate(() => self.addEventListener('message', (event) => {
    if (event.data.type === 'floor') self.floorFile = event.data.file;
  }));
  await page.evaluate(() => {
    const picker = document.createElement('input');
    picker.type = 'file';
    picker.id = 'floor-input';
    picker.hidden = true;
    picker.addEventListener('change', () => worker.postMessage({type: 'floor', file: picker.files[0]}));
    document.body.append(picker);
  });
  await page.setInputFiles('#floor-input', input);
  await worker.evaluate(() => new Promise((resolve) => {
    const wait = () => (self.floorFile ? resolve() : setTimeout(wait, 10));
    wait();
  }));
  return worker.evaluate(async (files) => {
    const file = self.floorFile;
    const folder = await (await navigator.storage.getDirectory()).getDirectoryHandle('floor', {create: true});
    const total = files.reduce((sum, [, size]) => sum + size, 0);
    const start = performance.now();
    const reader = file.stream().getReader({mode: 'byob'});
    let buffer = new ArrayBuffer(4 * 1024 * 1024);
    let read = 0;
    let written = 0;
    let output = 0;
    let out = null;
    let at = 0;
    for (;;) {
      const {value, done} = await reader.read(new Uint8Array(buffer));
      if (value) buffer = value.buffer;
      read += done ? 0 : value.byteLength;
      for (const target = done ? total : Math.round((read * total) / file.size); written < target;) {
        const [name, size] = files[output];
        if (!out) {
          out = {handle: await folder.getFileHandle('.' + name + '.floor', {create: true})};
          out.access = await out.handle.createSyncAccessHandle();
          out.access.truncate(size);
        }
        const put = Math.min(512 * 1024, target - written, size - at, buffer.byteLength);
        at += out.access.write(new Uint8Array(buffer, 0, put), {at: at});
        written += put;
        if (at === size) {
          out.access.close();
          await out.handle.move(folder, name);
          out = null;
          at = 0;
          output++;
        }
      }
      if (done) break;
    }
    const ms = performance.now() - start;
    await (await navigator.storage.getDirectory()).removeEntry('floor', {recursive: true});
    return ms;
  }, files.filter(([, size]) => size > 0));
};

// The converter's own computing: each build on the file held in memory, the
// storage answered at once. Its outputs must be the native ones, by name and
// size, or the figure is no conversion's.
const computeServer = await serve(computeSite, 0);
const computeOrigin = `http://127.0.0.1:${computeServer.address().port}`;
const compute = async (input, files) => {
  await freshTab();
  await page.goto(computeOrigin + '/');
  await page.setInputFiles('#compute-input', input);
  const times = {};
  for (const build of ['morvane_compute', 'morvane_compute_async']) {
    const result = await page.evaluate((build) => new Promise((resolve) => {
      const worker = new Worker('compute.js');
      worker.onmessage = (event) => {
        worker.terminate();
        resolve(event.data);
      };
      worker.postMessage({build: build, file: document.querySelector('#compute-input').files[0], runs: 3});
    }), build);
    if (result.failure) throw new Error(`${input}: ${result.failure}`);
    const made = result.files.sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0));
    if (JSON.stringify(made) !== JSON.stringify(files)) {
      throw new Error(`${input}: ${build} made ${JSON.stringify(made)}, not ${JSON.stringify(files)}`);
    }
    times[build] = median(result.times);
  }
  return times;
};

const rows = [];
const waited = (run, keys) => keys.reduce((sum, key) => sum + (run.waits[key] || 0), 0);
try {
  for (const input of inputs) {
    execFileSync('cat', [input], {stdio: ['ignore', 'ignore', 'inherit'], maxBuffer: 0});
    const native = [];
    const web = [];
    const floors = [];
    const computes = [];
    for (let run = 0; run < runs; run++) {
      native.push(nativeConvert(input));
      web.push(await pageConvert(input));
      console.error(path.basename(input), 'native', native.at(-1).ms.toFixed(0), 'ms; page', JSON.stringify(web.at(-1)));
      floors.push(await floor(input, native[0].files));
      computes.push(await compute(input, native[0].files));
    }
    const nativeMs = median(native.map((run) => run.ms));
    const webMs = median(web.map((run) => run.convertMs));
    const storage = median(web.map((run) => waited(run, ['storage', 'close'])));
    const computing = median(computes.map((run) => run.morvane_compute_async));
    const plain = median(computes.map((run) => run.morvane_compute));
    const unwaited = web.map((run) => run.convertMs - waited(run, ['read', 'write', 'storage', 'close']));
    const rest = median(unwaited) - computing;
    rows.push({
      input: path.basename(input),
      MB: (fs.statSync(input).size / 1e6).toFixed(0),
      outputs: native[0].files.length,
      'native ms': nativeMs.toFixed(0),
      'page ms': webMs.toFixed(0),
      'page/native': (webMs / nativeMs).toFixed(2),
      'page floor ms': median(floors).toFixed(0),
      'read wait ms': median(web.map((run) => run.waits.read)).toFixed(0),
      'write wait ms': median(web.map((run) => run.waits.write)).toFixed(0),
      'storage calls ms': storage.toFixed(0),
      'compute ms': computing.toFixed(0),
      'of it Asyncify ms': (computing - plain).toFixed(0),
      'rest ms': rest.toFixed(0),
      'worker on CPU ms': median(web.map((run) => run.converterRun)).toFixed(0),
      'worker queued ms': median(web.map((run) => run.converterQueued)).toFixed(0),
      'analysis ms': median(web.map((run) => run.analyzeMs)).toFixed(0),
      'renderer RSS MB': Math.max(...web.map((run) => run.rss)).toFixed(0),
      'renderer PSS MB': Math.max(...web.map((run) => run.pss)).toFixed(0),
      'renderer private MB': Math.max(...web.map((run) => run.private)).toFixed(0),
    });
  }
} finally {
  await browser.close();
  computeServer.close();
  fs.rmSync(scratch, {recursive: true, force: true});
}
console.table(rows);
console.log(`Medians of ${runs} runs; memory: the highest seen in any run. Storage calls: the waits for ` +
  `the storage's calls but reads and writes (making, renaming, looking up, closing). Compute: the converter ` +
  `alone, the storage answered at once (Asyncify: what the page's build costs more than one without it). ` +
  `Rest: the page's time less its waits and the computing. Worker on CPU, queued: the converter's thread ` +
  `during the conversion, running and waiting for a CPU (from /proc). Load average at the end: ${load()}.`);
console.log('Within 3 times native: ' + (rows.every((row) => Number(row['page/native']) <= 3) ? 'yes' : 'no') +
  '; resident size below 256 MB: ' + (rows.every((row) => Number(row['renderer RSS MB']) < 256) ? 'yes' : 'no') + '.');
