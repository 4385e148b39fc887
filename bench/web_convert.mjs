// convert in the page against the native morvane-cli convert, on the same
// streams in one run: the page's time (from the worker's own clock, the
// analysis apart), the native time, a floor (the page's worker only reading
// the dropped file a window at a time and writing as many bytes into the
// private storage as the conversion writes), and the tab's memory (the peak
// resident and proportional set sizes of Chromium's renderer processes,
// sampled from /proc every 50 ms while the page converts).
//
//   node bench/web_convert.mjs --cli build/src/cli/morvane-cli --site build-web/site \
//     [--runs 3] STREAM...
//
// The bench's inputs make good streams: build/bench/morvane-bench generate DIR
// writes a 600 MB stream (stream.str) and 200 MB ones of dense, sparse and
// mixed chunks.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {launchPage} from '../tests/web/browser.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  if (at < 0) return fallback;
  return args.splice(at, 2)[1];
};
const cli = path.resolve(option('--cli', 'build/src/cli/morvane-cli'));
const site = path.resolve(option('--site', 'build-web/site'));
const runs = Number(option('--runs', '3'));
const inputs = args.map((input) => path.resolve(input));
if (inputs.length === 0) {
  console.error('usage: web_convert.mjs [--cli PATH] [--site DIR] [--runs N] STREAM...');
  process.exit(2);
}
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'morvane-web-bench-'));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

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

function nativeConvert(input) {
  const out = fs.mkdtempSync(path.join(scratch, 'native-'));
  const start = process.hrtime.bigint();
  execFileSync(cli, ['convert', '-o', out, input], {stdio: ['ignore', 'ignore', 'inherit']});
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  const written = fs.readdirSync(out).reduce((sum, name) => sum + fs.statSync(path.join(out, name)).size, 0);
  fs.rmSync(out, {recursive: true});
  return {ms, written};
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
  await page.setInputFiles('#files-input', input);
  await page.waitForFunction(() => window.benchDone, null, {timeout: 600000, polling: 100});
  const peak = memory.stop();
  const done = await page.evaluate(() => window.benchDone);
  if (done.convert !== 0) throw new Error(`${input}: the page did not convert it whole (${done.failure || done.convert})`);
  return {...done, ...peak};
};

// The floor: the same window of reads, and the same number of bytes written,
// with nothing done between them.
const floor = async (input, written) => {
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
  return worker.evaluate(async (written) => {
    // As the page's platform layer reads and writes: the file's byte stream
    // into one buffer, and the write buffer's 512 KB at a time.
    const file = self.floorFile;
    const root = await navigator.storage.getDirectory();
    const out = await (await root.getFileHandle('floor.bin', {create: true})).createSyncAccessHandle();
    const start = performance.now();
    const reader = file.stream().getReader({mode: 'byob'});
    let buffer = new ArrayBuffer(16 * 1024 * 1024);
    let read = 0;
    let at = 0;
    for (;;) {
      const {value, done} = await reader.read(new Uint8Array(buffer));
      if (value) buffer = value.buffer;
      if (done) break;
      read += value.byteLength;
      for (const target = Math.round((read * written) / file.size); at < target;) {
        at += out.write(new Uint8Array(buffer, 0, Math.min(512 * 1024, target - at, buffer.byteLength)), {at: at});
      }
    }
    out.flush();
    const ms = performance.now() - start;
    out.close();
    await root.removeEntry('floor.bin');
    return ms;
  }, written);
};

const rows = [];
try {
  for (const input of inputs) {
    execFileSync('cat', [input], {stdio: ['ignore', 'ignore', 'inherit'], maxBuffer: 0});
    const native = [];
    const web = [];
    const floors = [];
    for (let run = 0; run < runs; run++) {
      native.push(nativeConvert(input));
      web.push(await pageConvert(input));
      console.error(path.basename(input), 'native', native.at(-1).ms.toFixed(0), 'ms; page', JSON.stringify(web.at(-1)));
      floors.push(await floor(input, native[0].written));
    }
    const nativeMs = median(native.map((run) => run.ms));
    const webMs = median(web.map((run) => run.convertMs));
    rows.push({
      input: path.basename(input),
      MB: (fs.statSync(input).size / 1e6).toFixed(0),
      'native ms': nativeMs.toFixed(0),
      'page ms': webMs.toFixed(0),
      'page/native': (webMs / nativeMs).toFixed(2),
      'page floor ms': median(floors).toFixed(0),
      'page read wait ms': median(web.map((run) => run.waits.read)).toFixed(0),
      'page write wait ms': median(web.map((run) => run.waits.write)).toFixed(0),
      'analysis ms': median(web.map((run) => run.analyzeMs)).toFixed(0),
      'renderer RSS MB': Math.max(...web.map((run) => run.rss)).toFixed(0),
      'renderer PSS MB': Math.max(...web.map((run) => run.pss)).toFixed(0),
      'renderer private MB': Math.max(...web.map((run) => run.private)).toFixed(0),
    });
  }
} finally {
  await browser.close();
  fs.rmSync(scratch, {recursive: true, force: true});
}
console.table(rows);
console.log(`Medians of ${runs} runs; memory: the highest seen in any run. Within 3 times native: ` +
  (rows.every((row) => Number(row['page/native']) <= 3) ? 'yes' : 'no') + '; resident size below 256 MB: ' +
  (rows.every((row) => Number(row['renderer RSS MB']) < 256) ? 'yes' : 'no') + '.');
