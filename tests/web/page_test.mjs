// The page in a real browser (the system's Chromium, a persistent profile so
// that the private storage is on disk): streams of every shape dropped on it
// must give what the native morvane-cli gives, byte for byte and word for
// word; no request may leave the page; axe finds nothing; and the page works
// again with the network cut.
//
//   MORVANE_CLI=build/src/cli/morvane-cli MORVANE_STREAMS=build/tests/make_web_streams \
//   MORVANE_SITE=build-web/site node --test tests/web/page_test.mjs
import {after, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync, spawnSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {launchPage} from './browser.mjs';

const require = createRequire(import.meta.url);
const cli = path.resolve(process.env.MORVANE_CLI);
const site = path.resolve(process.env.MORVANE_SITE);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'morvane-web-test-'));
after(() => fs.rmSync(scratch, {recursive: true, force: true}));
const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
const lines = (text) => text.split('\n').filter((line) => line !== '');
// How strong a tone is in one channel of a stereo 16-bit WAV at 22050 Hz:
// the Goertzel power relative to the samples' energy (a pure tone: 0.5).
function toneLevel(wav, channel, hz) {
  const coefficient = 2 * Math.cos(2 * Math.PI * hz / 22050);
  let previous = 0, earlier = 0, energy = 0, count = 0;
  for (let at = 44 + 2 * channel; at + 1 < wav.length; at += 4) {
    const x = wav.readInt16LE(at) / 32768;
    [earlier, previous] = [previous, x + coefficient * previous - earlier];
    energy += x * x;
    count += 1;
  }
  return (previous * previous + earlier * earlier - coefficient * previous * earlier) / (energy * count);
}

// The streams: the demo and one of each shape the command line's tests use.
const streams = path.join(scratch, 'streams');
fs.mkdirSync(streams);
const discs = path.join(scratch, 'discs');
fs.mkdirSync(discs);
execFileSync(path.resolve(process.env.MORVANE_STREAMS), [streams, discs]);
execFileSync(cli, ['make-demo', path.join(streams, 'demo.str')]);
const names = fs.readdirSync(streams).sort();

// What the native build makes of each, every stream alone in a folder of its own.
function native(name) {
  const run = (command) => {
    const folder = fs.mkdtempSync(path.join(scratch, command + '-'));
    fs.copyFileSync(path.join(streams, name), path.join(folder, name));
    const result = spawnSync(cli, [command, name], {cwd: folder, encoding: 'utf8'});
    return {folder: folder, out: result.stdout, err: result.stderr, status: result.status};
  };
  const convert = run('convert');
  const analyze = run('analyze');
  const written = new Map(lines(convert.out).map((file) => [file, fs.readFileSync(path.join(convert.folder, file))]));
  // Each movie's picture and frame count, as FFmpeg reads them.
  const films = new Map([...written.keys()].filter((file) => file.endsWith('.mkv')).map((file) => [file,
    execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v', '-count_packets', '-show_entries',
      'stream=codec_tag_string,width,height,nb_read_packets', '-of', 'csv=p=0', path.join(convert.folder, file)],
    {encoding: 'utf8'}).trim().split(',')]));
  // A file that is no stream gets its one line, not the rows of an analysis.
  const stream = !convert.err.includes(': not a chunk stream; skipped');
  return {written: written, films: films, problems: lines(convert.err), whole: convert.status === 0,
    analysis: stream ? lines(analyze.out) : [], filmLine: filmLine(fs.readFileSync(path.join(streams, name)))};
}

// The film chunks and frames of a chunk stream, by a walk of its own: none
// for a file that is no chunk stream or an IFF file.
function filmLine(bytes) {
  const printable = (at) => [...bytes.subarray(at, at + 4)].every((byte) => byte >= 0x20 && byte < 0x7F);
  if (bytes.length < 8 || !printable(0) || bytes.toString('latin1', 0, 4) === 'FORM') return null;
  if (bytes.readUInt32BE(4) < 8 || bytes.readUInt32BE(4) > bytes.length) return null;
  let chunks = 0;
  let frames = 0;
  for (let at = 0; at + 8 <= bytes.length;) {
    const size = bytes.readInt32BE(at + 4);
    if (size < 8) break;
    if (bytes.toString('latin1', at, at + 4) === 'FILM' && size >= 20 && at + 20 <= bytes.length) {
      chunks++;
      if (['FRME', 'DFRM'].includes(bytes.toString('latin1', at + 16, at + 20))) frames++;
    }
    at += size;
  }
  return `Film chunks: ${chunks}, frames: ${frames}`;
}
const expected = new Map(names.map((name) => [name, native(name)]));

// Each file of a zip and the hash of its bytes, a line each; its checksums checked.
const zipListing = (zip) => execFileSync('python3', ['-c', `
import hashlib, sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
assert archive.testzip() is None, 'a checksum is wrong'
for entry in archive.infolist(): print(entry.filename + '\\t' + hashlib.sha256(archive.read(entry)).hexdigest())
`, zip], {encoding: 'utf8'});

test('the page converts as morvane-cli does', async (t) => {
  const {context, page, origin, requests, close} = await launchPage(site, path.join(scratch, 'profile'));
  t.after(close);
  const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  const violations = async () => {
    await page.evaluate(axeSource);
    const found = await page.evaluate(async () => (await window.axe.run()).violations);
    return found.map((violation) => violation.id + ': ' + violation.nodes.map((node) => node.target).join(' '));
  };
  assert.deepEqual(await violations(), [], 'axe on the empty page');

  // One stream a page load: Chromium lets a page download ten files without asking.
  const convert = async (files) => {
    await page.reload();
    await page.setInputFiles('#files-input', files.map((name) => path.join(streams, name)));
    await page.waitForFunction((count) => document.querySelectorAll('.card.whole, .card.troubled').length === count,
      files.length, {timeout: 120000});
  };
  for (const name of names) {
    await t.test(name, async () => {
      await convert([name]);
      const wanted = expected.get(name);
      const card = await page.$eval('.card', (element) => ({
        whole: element.classList.contains('whole'),
        problems: [...element.querySelectorAll('.problem-list li')].map((item) => item.textContent),
        analysis: element.querySelector('.summary').textContent.split('\n').filter((line) => line !== '').concat(
          [...element.querySelectorAll('.rows tbody tr')].map((row) => row.cells[0].textContent + ' ' +
            row.cells[1].textContent)),
        downloads: [...element.querySelectorAll('.output-list a[download]')].map((link) => link.download),
        filmLine: element.querySelector('.film-line').hidden ? null : element.querySelector('.film-line').textContent,
        films: [...element.querySelectorAll('.output')].filter((item) => item.querySelector('h4').textContent
          .endsWith('.mkv')).map((item) => [item.querySelector('h4').textContent, item.querySelector('p').textContent]),
      }));
      assert.deepEqual(card.problems, wanted.problems, 'the problems, as on stderr');
      assert.equal(card.whole, wanted.whole, 'converted whole or not, as the exit status says');
      assert.deepEqual(card.analysis, wanted.analysis, 'the summary and the fifteen rows');
      assert.equal(card.filmLine, wanted.filmLine, 'the film chunks and frames below the rows');
      assert.deepEqual(card.downloads, [...wanted.written.keys()], 'a download for every file written');
      assert.equal(card.films.length, wanted.films.size, 'a film card for every movie');
      for (const [file, line] of card.films) {
        const [tag, width, height, frames] = wanted.films.get(file);
        assert.ok(line.startsWith(`${tag} ${width}x${height}, ${frames} frame`), file + ': ' + line);
      }
      for (const file of card.downloads) {
        const [download] = await Promise.all([page.waitForEvent('download'), page.click(`a[download="${file}"]`)]);
        assert.equal(download.suggestedFilename(), file);
        const bytes = fs.readFileSync(await download.path());
        assert.ok(bytes.equals(wanted.written.get(file)), file + ': the same bytes');
        if (file === 'left and right.str0.sound.wav') {
          // 440 Hz at the even offsets of each pair comes out on the left.
          assert.ok(toneLevel(bytes, 0, 440) > 0.4 && toneLevel(bytes, 0, 660) < 0.01, 'left: 440 Hz');
          assert.ok(toneLevel(bytes, 1, 660) > 0.4 && toneLevel(bytes, 1, 440) < 0.01, 'right: 660 Hz');
        }
      }
    });
  }

  await t.test('the demo film: its poster, its picture 2.0 s in, and it plays', async () => {
    await convert(['demo.str']);
    const poster = await page.waitForFunction(() => {
      const image = document.querySelector('img.poster');
      return image && image.complete && image.naturalWidth === 320 && image.naturalHeight === 240;
    }, null, {timeout: 10000});
    assert.ok(await poster.jsonValue(), 'the poster is shown');
    // Our decoder's frame for 2.0 s, as FFmpeg decodes the native movie: the
    // decoder's tests hold the two byte for byte.
    const movie = path.join(scratch, 'demo.str0.film.mkv');
    fs.writeFileSync(movie, expected.get('demo.str').written.get('demo.str0.film.mkv'));
    const wanted = execFileSync('ffmpeg', ['-v', 'error', '-ss', '2.0', '-i', movie, '-frames:v', '1', '-f', 'rawvideo',
      '-pix_fmt', 'rgb24', '-'], {maxBuffer: 1 << 24});
    await page.waitForFunction(() => document.querySelector('canvas.film-picture')?.dataset.ms === '0');
    await page.focus('.seek');
    await page.$eval('.seek', (seek) => {
      seek.value = 2000;
      seek.dispatchEvent(new Event('input', {bubbles: true}));
    });
    await page.waitForFunction(() => document.querySelector('canvas.film-picture').dataset.ms === '2000');
    const rgba = await page.$eval('canvas.film-picture',
      (canvas) => [...canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data]);
    let squares = 0;
    for (let p = 0, q = 0; q < wanted.length; p += 4, q += 3) {
      for (let k = 0; k < 3; k++) squares += (rgba[p + k] - wanted[q + k]) ** 2;
    }
    const psnr = squares === 0 ? Infinity : 10 * Math.log10((255 * 255 * wanted.length) / squares);
    assert.ok(psnr >= 40, 'the canvas 2.0 s in: ' + psnr + ' dB');
    // Played from there with the keyboard, the picture moves on with the time shown.
    await page.focus('button.play');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => Number(document.querySelector('canvas.film-picture').dataset.ms) >= 2500,
      null, {timeout: 10000});
    assert.equal(await page.$eval('button.play', (button) => button.getAttribute('aria-label')),
      'Pause demo.str0.film.mkv');
    assert.match(await page.$eval('.time', (time) => time.textContent), /^0:0[2-4]\.\d of 0:04\.0$/);
    assert.deepEqual(await violations(), [], 'axe on the player');
  });

  await t.test('the film card makes the demo film\'s WebM in the browser, and can cancel it', async () => {
    await convert(['demo.str']);
    const name = 'demo.str0.film.webm';
    // Cancelled at once (both clicks in one go: the demo's WebM takes well
    // under a second): nothing is left of it.
    await page.evaluate(() => {
      const [make, cancel] = document.querySelectorAll('.webm button');
      make.click();
      cancel.click();
    });
    await page.waitForFunction(() => document.querySelector('.webm-status').textContent.startsWith('Cancelled'),
      null, {timeout: 60000});
    assert.equal(await page.$(`.webm a[download="${name}"]`), null);
    const [worker] = page.workers();
    assert.deepEqual(await worker.evaluate(async () => {
      const found = [];
      for await (const entry of (await folderOf(session, 'card-0')).keys()) found.push(entry);
      return found.filter((entry) => entry.includes('.webm'));
    }), [], 'no WebM, whole or not, is left');
    await page.click('.webm button:has-text("WebM")');
    await page.waitForSelector(`.webm a[download="${name}"]`, {timeout: 120000});
    assert.deepEqual(await page.$$eval('.webm-problems li', (items) => items.map((item) => item.textContent)), []);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click(`.webm a[download="${name}"]`)]);
    assert.equal(download.suggestedFilename(), name);
    const webm = path.join(scratch, name);
    fs.copyFileSync(await download.path(), webm);
    const movie = path.join(scratch, 'demo.str0.film.mkv');
    fs.writeFileSync(movie, expected.get('demo.str').written.get('demo.str0.film.mkv'));
    const ffmpeg = (...args) => execFileSync('ffmpeg', ['-nostdin', '-v', 'error', ...args],
      {maxBuffer: 1 << 30});
    const probe = (file, ...args) => execFileSync('ffprobe', ['-v', 'error', ...args, file], {encoding: 'utf8'}).trim();
    assert.equal(ffmpeg('-i', webm, '-f', 'null', '-').length, 0, 'FFmpeg decodes it without a word');
    assert.equal(probe(webm, '-show_entries', 'stream=codec_name,width,height', '-of', 'csv=p=0'),
      'vp9,320,240\nopus');
    assert.equal(probe(webm, '-count_frames', '-select_streams', 'v', '-show_entries', 'stream=nb_read_frames',
      '-of', 'csv=p=0'), '48');
    const duration = Number(probe(webm, '-show_entries', 'format=duration', '-of', 'csv=p=0'));
    assert.ok(Math.abs(duration - 4) <= 1 / 12, 'duration ' + duration);
    // Every frame near our decoder's (which FFmpeg's decoding of the movie
    // equals byte for byte).
    const frames = (file) => ffmpeg('-i', file, '-map', '0:v:0', '-vsync', 'passthrough', '-f', 'rawvideo',
      '-pix_fmt', 'rgb24', '-');
    const ours = frames(movie), shared = frames(webm);
    assert.equal(shared.length, ours.length);
    const size = 320 * 240 * 3;
    for (let at = 0; at < ours.length; at += size) {
      let squares = 0;
      for (let i = at; i < at + size; i++) squares += (ours[i] - shared[i]) ** 2;
      const psnr = 10 * Math.log10(255 * 255 * size / Math.max(squares, 1e-9));
      assert.ok(psnr >= 30, `frame ${at / size}: ${psnr.toFixed(1)} dB`);
    }
    // The sound's first 100 ms where the movie's are, within 10 ms.
    const sound = (file) => {
      const start = Number(probe(file, '-select_streams', 'a:0', '-show_frames', '-read_intervals', '%+#1',
        '-show_entries', 'frame=pts_time', '-of', 'csv=p=0')) * 1000;
      const bytes = ffmpeg('-i', file, '-map', '0:a:0', '-f', 's16le', '-ac', '1', '-ar', '22050', '-t', '0.1', '-');
      return {start: start, samples: new Int16Array(bytes.buffer, bytes.byteOffset, bytes.length >> 1)};
    };
    const a = sound(movie), b = sound(webm);
    let best = 0, bestScore = -Infinity;
    for (let lag = -661; lag <= 661; lag++) {
      let score = 0, energy = 0;
      for (let i = 0; i < a.samples.length; i++) {
        const j = i + lag;
        if (j < 0 || j >= b.samples.length) continue;
        score += a.samples[i] * b.samples[j];
        energy += b.samples[j] * b.samples[j];
      }
      score = energy > 0 ? score / Math.sqrt(energy) : 0;
      if (score > bestScore) [best, bestScore] = [lag, score];
    }
    const offset = b.start - a.start + best * 1000 / 22050;
    assert.ok(Math.abs(offset) <= 10, 'the sound is ' + offset.toFixed(1) + ' ms off');
  });

  await t.test('over an earlier file and a folder in the way, as morvane-cli', async () => {
    const name = 'interleaved.str';
    const [earlier, inTheWay] = [name + '0.sound.wav', name + '1.sound.wav'];
    const folder = fs.mkdtempSync(path.join(scratch, 'over-'));
    fs.copyFileSync(path.join(streams, name), path.join(folder, name));
    fs.writeFileSync(path.join(folder, earlier), 'an earlier file');
    fs.mkdirSync(path.join(folder, inTheWay));
    const wanted = spawnSync(cli, ['convert', name], {cwd: folder, encoding: 'utf8'});
    await page.reload();
    // The first card's folder of the new session, set up as the native one.
    while (page.workers().length === 0) await new Promise((resolve) => setTimeout(resolve, 10));
    const [worker] = page.workers();
    await worker.evaluate(async ([earlier, inTheWay]) => {
      while (!session) await new Promise((resolve) => setTimeout(resolve, 10));
      const card = await folderOf(session, 'card-0');
      const access = await (await card.getFileHandle(earlier, {create: true})).createSyncAccessHandle();
      access.write(new TextEncoder().encode('an earlier file'), {at: 0});
      access.close();
      await card.getDirectoryHandle(inTheWay, {create: true});
    }, [earlier, inTheWay]);
    await page.setInputFiles('#files-input', path.join(streams, name));
    await page.waitForSelector('.card.whole, .card.troubled', {timeout: 60000});
    const problems = await page.$$eval('.problem-list li', (items) => items.map((item) => item.textContent));
    assert.deepEqual(problems, lines(wanted.stderr));
    assert.equal(wanted.status, 1);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click(`a[download="${earlier}"]`)]);
    assert.ok(fs.readFileSync(await download.path()).equals(fs.readFileSync(path.join(folder, earlier))));
    // Nothing else is left in the card's folder: no temporary, no map.
    const left = await worker.evaluate(async () => {
      const found = [];
      const card = await folderOf(session, 'card-0');
      for await (const [entry, handle] of card.entries()) found.push(entry + ' ' + handle.kind);
      return found.sort();
    });
    assert.deepEqual(left, [earlier + ' file', inTheWay + ' directory']);
  });

  await t.test('a folder gives the files morvane-cli convert takes of it, and no others', async () => {
    const tree = path.join(scratch, 'tree');
    const place = (name, from) => {
      fs.mkdirSync(path.dirname(path.join(tree, name)), {recursive: true});
      fs.copyFileSync(path.join(streams, from), path.join(tree, name));
    };
    place('disc1/intro.str', 'demo.str');
    place('disc2/intro.str', 'interleaved.str');
    place('.hidden.str', 'demo.str');
    fs.writeFileSync(path.join(tree, 'notes.txt'), 'no stream\n');
    // A first run leaves its outputs in the tree; the second, as the page, passes over them.
    for (let run = 0; run < 2; run++) assert.equal(spawnSync(cli, ['convert', 'tree'], {cwd: scratch}).status, 0);
    const wanted = lines(spawnSync(cli, ['convert', 'tree'], {cwd: scratch, encoding: 'utf8'}).stdout);
    await page.reload();
    await page.setInputFiles('#folder-input', tree);
    await page.waitForFunction(() => document.querySelectorAll('.card').length > 0 &&
      document.querySelectorAll('.card.whole, .card.troubled').length === document.querySelectorAll('.card').length,
    null, {timeout: 120000});
    const offered = await page.$$eval('.card', (elements) => elements.flatMap((element) => {
      const title = element.querySelector('.card-title').textContent.replace(/ \([^)]*\)$/, '');
      const folder = title.slice(0, title.lastIndexOf('/') + 1);
      return [...element.querySelectorAll('.output-list a[download]')].map((link) => folder + link.download);
    }));
    assert.deepEqual(offered, wanted);
    const titles = await page.$$eval('.card-title', (items) => items.map((item) => item.textContent.replace(/ \([^)]*\)$/, '')));
    assert.deepEqual(titles, ['tree/disc1/intro.str', 'tree/disc2/intro.str'], 'a card for each stream, and no other');
  });

  // A disc as morvane-cli converts it, its files copied into a folder of their own.
  const nativeDisc = (files) => {
    const folder = fs.mkdtempSync(path.join(scratch, 'disc-'));
    for (const file of files) fs.copyFileSync(path.join(discs, file), path.join(folder, path.basename(file)));
    const image = path.basename(files[0]);
    const convert = spawnSync(cli, ['convert', image], {cwd: folder, encoding: 'utf8'});
    const list = spawnSync(cli, ['list', image], {cwd: folder, encoding: 'utf8'});
    spawnSync(cli, ['unpack', image, '-o', 'unpacked'], {cwd: folder});
    return {written: new Map(lines(convert.stdout).map((file) => [file, fs.readFileSync(path.join(folder, file))])),
      problems: lines(convert.stderr), whole: convert.status === 0, list: lines(list.stdout),
      file: (discPath) => fs.readFileSync(path.join(folder, 'unpacked', discPath))};
  };
  const discCases = [['a .iso', ['iso/game.iso']], ['a .cue with its .bin', ['cue/game.cue', 'cue/game.bin']],
    ['a looping folder', ['bad.iso']]];
  for (const [label, files] of discCases) {
    await t.test(label + ' gives what morvane-cli convert gives', async () => {
      const wanted = nativeDisc(files);
      await page.reload();
      await page.setInputFiles('#files-input', files.map((file) => path.join(discs, file)));
      await page.waitForSelector('#card-0.whole, #card-0.troubled', {timeout: 120000});
      const seen = await page.$$eval('.card', (elements) => elements.map((element) => ({
        title: element.querySelector('.card-title').textContent.replace(/ \([^)]*\)$/, ''),
        whole: element.classList.contains('whole'),
        label: element.querySelector('.disc-label').textContent,
        tree: [...element.querySelectorAll('.disc-tree tbody tr')].map((row) => [row.cells[0].textContent, row.cells[2].textContent]),
        problems: [...element.querySelectorAll('.problem-list li')].map((item) => item.textContent),
        outputs: [...element.querySelectorAll('.output h4')].map((heading) => heading.textContent),
        filmLine: element.querySelector('.film-line').hidden ? null : element.querySelector('.film-line').textContent,
      })));
      const image = path.basename(files[0]);
      const [disc, ...parts] = seen;
      assert.equal(disc.title, image, 'one card for the disc, and no other for the sheet\'s file');
      assert.equal(disc.whole, wanted.whole, 'whole or not, as the exit status says');
      assert.equal(disc.label, wanted.list[0]);
      // The tree as list shows it, folders aside: each file's path and kind.
      const listed = wanted.list.slice(1).map((line) => line.split('\t')).filter((fields) => fields[1] !== 'folder');
      assert.deepEqual(disc.tree.map(([file]) => file), listed.map((fields) => fields[0]));
      for (const [index, [, kind]] of disc.tree.entries()) assert.ok(listed[index][2].startsWith(kind), kind);
      assert.deepEqual(parts.map((part) => part.title).sort(), listed.filter((fields) => /^(stream|AIFF)/.test(fields[2]))
        .map((fields) => image + '/' + fields[0]).sort(), 'a card for each stream');
      for (const part of parts) {
        assert.equal(part.filmLine, filmLine(wanted.file(part.title.slice(image.length + 1))), part.title + ': its film line');
      }
      assert.deepEqual(seen.flatMap((card) => card.problems).sort(), [...wanted.problems].sort(), 'the problems, as on stderr');
      assert.deepEqual(seen.flatMap((card) => card.outputs).sort(), [...wanted.written.keys()].sort(), 'every file written');
      const outputs = page.locator('.output');
      for (let index = 0; index < await outputs.count(); index++) {
        const name = await outputs.nth(index).locator('h4').textContent();
        // Headless Chromium now and then lets a download click that follows
        // another at once go by without a download: the click is given again.
        let download;
        for (let attempt = 1; !download; attempt++) {
          try {
            [download] = await Promise.all([page.waitForEvent('download', {timeout: 10000}),
              outputs.nth(index).locator('a[download]').click()]);
          } catch (error) {
            if (attempt === 3) throw error;
          }
        }
        assert.equal(download.suggestedFilename(), path.basename(name), 'named as convert names it');
        assert.ok(fs.readFileSync(await download.path()).equals(wanted.written.get(name)), name + ': the same bytes');
      }
    });
  }

  await t.test('Download all of a disc keeps its folders', async () => {
    const wanted = [...nativeDisc(['cue/game.cue', 'cue/game.bin']).written].map(([file, bytes]) => file + '\t' + sha(bytes));
    await page.reload();
    await page.setInputFiles('#files-input', [path.join(discs, 'cue/game.cue'), path.join(discs, 'cue/game.bin')]);
    await page.waitForSelector('#card-0.whole, #card-0.troubled', {timeout: 120000});
    await page.click('#download-all');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#zip-link:not([hidden])')]);
    assert.deepEqual(lines(zipListing(await download.path())).sort(), wanted.sort());
    assert.deepEqual(await violations(), [], 'axe after a disc');
  });

  await t.test('a disc met in a folder is converted as morvane-cli convert converts it', async () => {
    const tree = path.join(scratch, 'shelf');
    fs.mkdirSync(path.join(tree, 'box'), {recursive: true});
    for (const file of ['game.cue', 'game.bin']) fs.copyFileSync(path.join(discs, 'cue', file), path.join(tree, 'box', file));
    fs.writeFileSync(path.join(tree, 'notes.txt'), 'no stream\n');
    const run = spawnSync(cli, ['convert', 'shelf'], {cwd: scratch});
    assert.equal(run.status, 0);
    const wanted = lines(run.stdout.toString()).map((file) => file + '\t' + sha(fs.readFileSync(path.join(scratch, file))));
    fs.rmSync(path.join(tree, 'box', 'game'), {recursive: true});
    await page.reload();
    await page.setInputFiles('#folder-input', tree);
    await page.waitForSelector('#card-0.whole, #card-0.troubled', {timeout: 120000});
    const titles = await page.$$eval('.card-title', (items) => items.map((item) => item.textContent.replace(/ \([^)]*\)$/, '')));
    assert.equal(titles[0], 'shelf/box/game.cue', 'the sheet\'s card, and none for its file or the notes');
    assert.ok(titles.slice(1).every((title) => title.startsWith('shelf/box/game.cue/')), titles.join());
    await page.click('#download-all');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#zip-link:not([hidden])')]);
    assert.deepEqual(lines(zipListing(await download.path())).sort(), wanted.sort());
  });

  await t.test('Download all of one stream is named after it', async () => {
    await convert(['demo.str']);
    await page.click('#download-all');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#zip-link:not([hidden])')]);
    assert.equal(download.suggestedFilename(), 'demo.str.zip');
  });

  await convert(names);
  assert.deepEqual(await violations(), [], 'axe after the conversion');
  await t.test('the status line counts files when some were no stream', async () => {
    const troubled = [...expected.values()].filter((wanted) => !wanted.whole).length;
    const written = [...expected.values()].reduce((sum, wanted) => sum + wanted.written.size, 0);
    assert.equal(await page.textContent('#status'), `Done: ${written} files written, ${troubled} files with problems.`);
  });

  await t.test('Download all gives every file in one zip', async () => {
    await page.click('#download-all');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#zip-link:not([hidden])')]);
    assert.equal(download.suggestedFilename(), 'morvane.zip');
    const listing = zipListing(await download.path());
    const all = [...expected.values()].flatMap((wanted) => [...wanted.written].map(([file, bytes]) => file + '\t' + sha(bytes)));
    assert.deepEqual(lines(listing).sort(), all.sort());
  });

  await t.test('no request leaves the page', () => {
    const elsewhere = requests.filter((url) => !url.startsWith(origin + '/') && !url.startsWith('blob:'));
    assert.deepEqual(elsewhere, []);
  });

  await t.test('with the network cut, the page loads and converts again', async () => {
    await page.evaluate(() => navigator.serviceWorker.ready);
    await context.setOffline(true);
    await page.reload();
    await page.setInputFiles('#files-input', path.join(streams, 'demo.str'));
    await page.waitForSelector('.card.whole', {timeout: 60000});
    const demo = expected.get('demo.str');
    const [download] = await Promise.all([page.waitForEvent('download'),
      page.click('a[download="demo.str0.sound.wav"]')]);
    assert.ok(fs.readFileSync(await download.path()).equals(demo.written.get('demo.str0.sound.wav')));
  });
});
