// The web page in headless Chromium, driven through its DevTools protocol (puppeteer-core):
//   node tests/web/page_test.js NATIVE_BUILD WEB_BUILD WORK_DIR
// NATIVE_BUILD holds krvtool (the reference pictures and sound), WEB_BUILD the page (index.html,
// korva.js, korva.wasm); the movies, references and screenshots go to WORK_DIR.
// Checks: a paused frame's canvas pixels (read back, and in a screenshot) equal `krvtool frames`;
// Enter steps exactly one frame; seeking to N shows N; the PCM handed to the audio worklet equals
// `krvtool pcm`; a 640 x 480, 30 fps stereo movie plays in real time without skipped frames; a
// file that is not a movie, a cut file and a missing one give their messages on the page; crafted
// movies (the thumbnailer tests' ones) get a refusal in words or play, within seconds, in bounded memory.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const zlib = require('zlib');
const { execFileSync } = require('child_process');
const puppeteer = require('puppeteer-core');

const [nativeDir, webDir, workDir] = process.argv.slice(2).map((p) => path.resolve(p));
if (!workDir) {
  console.error('usage: node tests/web/page_test.js NATIVE_BUILD WEB_BUILD WORK_DIR');
  process.exit(2);
}
const krvtool = path.join(nativeDir, 'krvtool');
let passed = 0, failed = 0;

function check(ok, what, detail) {
  if (ok) { passed++; console.log(`ok    ${what}`); return; }
  failed++;
  console.log(`FAIL  ${what}${detail ? `: ${detail}` : ''}`);
}

function tool(...args) { return execFileSync(krvtool, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] }); }

// ---- A PNG reader for the screenshots (8-bit RGB or RGBA, not interlaced).
function readPng(buffer) {
  let at = 8, width = 0, height = 0, type = 0;
  const idat = [];
  while (at < buffer.length) {
    const len = buffer.readUInt32BE(at), kind = buffer.toString('latin1', at + 4, at + 8);
    const body = buffer.subarray(at + 8, at + 8 + len);
    if (kind === 'IHDR') {
      width = body.readUInt32BE(0); height = body.readUInt32BE(4); type = body[9];
      if (body[8] !== 8 || (type !== 2 && type !== 6) || body[12] !== 0) throw new Error('unexpected PNG kind');
    } else if (kind === 'IDAT') idat.push(body);
    at += 12 + len;
  }
  const bpp = type === 6 ? 4 : 3, stride = width * bpp;
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const out = Buffer.alloc(width * height * 4);
  let prev = Buffer.alloc(stride);
  for (let y = 0; y < height; ++y) {
    const f = raw[y * (stride + 1)], line = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let x = 0; x < stride; ++x) {
      const a = x >= bpp ? line[x - bpp] : 0, b = prev[x], c = x >= bpp ? prev[x - bpp] : 0;
      let p = 0;
      if (f === 1) p = a; else if (f === 2) p = b; else if (f === 3) p = (a + b) >> 1;
      else if (f === 4) { const q = a + b - c, pa = Math.abs(q - a), pb = Math.abs(q - b), pc = Math.abs(q - c);
        p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c; }
      line[x] = (line[x] + p) & 255;
    }
    for (let x = 0; x < width; ++x) {
      out[(y * width + x) * 4] = line[x * bpp]; out[(y * width + x) * 4 + 1] = line[x * bpp + 1];
      out[(y * width + x) * 4 + 2] = line[x * bpp + 2]; out[(y * width + x) * 4 + 3] = bpp === 4 ? line[x * bpp + 3] : 255;
    }
    prev = line;
  }
  return { width, height, data: out };
}

// RGBA pixels against the reference surface (format 6, RGBA, alpha 0 without an alpha plane):
// colours equal, every pixel opaque. The first difference, or ''.
function differs(rgba, reference) {
  if (rgba.length !== reference.length) return `${rgba.length} bytes against ${reference.length}`;
  for (let i = 0; i < rgba.length; i += 4) {
    if (rgba[i] !== reference[i] || rgba[i + 1] !== reference[i + 1] || rgba[i + 2] !== reference[i + 2] ||
        rgba[i + 3] !== 255)
      return `pixel ${i / 4}: ${Array.from(rgba.subarray(i, i + 4))} against ${Array.from(reference.subarray(i, i + 3))}`;
  }
  return '';
}

// krvtool numbers its files from 0 for frame 1.
function reference(dir, frame) {
  return fs.readFileSync(path.join(dir, `frame_${String(frame - 1).padStart(6, '0')}.raw`));
}

// ---- The page and the test movies over HTTP on the loopback address.
function serve() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = url.startsWith('/t/') ? path.join(workDir, url.slice(3)) : path.join(webDir, url.slice(1) || 'index.html');
    fs.readFile(file, (err, data) => {
      if (err) { res.writeHead(404); res.end('not found'); return; }
      res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
      res.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function canvasPixels(page) {
  return Buffer.from(await page.evaluate(() => {
    const c = document.getElementById('picture');
    return Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data);
  }));
}

async function screenshotPixels(page, file) {
  const box = await (await page.$('#picture')).boundingBox();
  const png = await page.screenshot({ clip: { x: box.x, y: box.y, width: box.width, height: box.height }, path: file });
  return readPng(Buffer.from(png)).data;
}

async function main() {
  fs.mkdirSync(workDir, { recursive: true });
  const movie = (name) => path.join(workDir, name);
  // The demo movie (320 x 240, 25 fps, stereo) and a 640 x 480, 30 fps one with stereo sound and
  // every block kind in a typical mix.
  tool('sample', movie('demo.krv'), '--demo');
  tool('sample', movie('vga.krv'), '--size', '640x480', '--rate', '30', '--frames', '150', '--stereo',
       '--content', 'typical');
  fs.writeFileSync(movie('notes.krv'), 'These are notes, not a movie.\n'.repeat(40));
  const demo = fs.readFileSync(movie('demo.krv'));
  fs.writeFileSync(movie('cut.krv'), demo.subarray(0, demo.length >> 1));
  const refs = path.join(workDir, 'frames');
  fs.rmSync(refs, { recursive: true, force: true });
  fs.mkdirSync(refs);
  tool('frames', movie('demo.krv'), refs, '--format', '6', '--raw', '--cpu', 'plain');
  tool('pcm', movie('vga.krv'), '0', movie('vga.pcm'));
  // Doubled pictures (the first frame) and a movie with an alpha plane: an opaque bar and disc
  // on a clear field, coded exactly.
  for (const mode of ['2', '5']) {
    const dir = path.join(workDir, `frames-double${mode}`);
    fs.rmSync(dir, { recursive: true, force: true });
    fs.mkdirSync(dir);
    tool('frames', movie('demo.krv'), dir, '--format', '6', '--raw', '--cpu', 'plain', '--double', mode, '--every', '1000');
  }
  for (let i = 1; i <= 3; ++i) {
    execFileSync('convert', ['-size', '64x48', 'xc:none', '-fill', 'rgba(200,40,30,1)', '-draw',
                             `rectangle ${4 * i},0 31,47`, '-fill', 'rgba(20,180,90,1)', '-draw',
                             `circle 40,24 ${44 + i},24`, `PNG32:${movie(`alpha_${i}.png`)}`]);
  }
  execFileSync(path.join(nativeDir, 'krvenc'), [movie('alpha_%d.png'), '-o', movie('alpha.krv'), '--quality', '100'],
               { stdio: 'ignore' });
  const alphaRefs = path.join(workDir, 'frames-alpha');
  fs.rmSync(alphaRefs, { recursive: true, force: true });
  fs.mkdirSync(alphaRefs);
  tool('frames', movie('alpha.krv'), alphaRefs, '--format', '6', '--raw', '--cpu', 'plain');
  const crafted = path.join(workDir, 'crafted');
  fs.mkdirSync(crafted, { recursive: true });
  execFileSync(path.join(nativeDir, 'make_crafted_movies'), [crafted]);

  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}/`;
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-gpu', '--mute-audio',
           '--disable-background-timer-throttling', '--disable-renderer-backgrounding'],
  });
  const errors = [];
  async function open(query) {
    const page = await browser.newPage();
    await page.setViewport({ width: 900, height: 560 });
    page.on('pageerror', (e) => errors.push(`${query}: ${e.message}`));
    await page.goto(`${base}index.html?${query}`);
    return page;
  }
  const until = (page, fn, arg, timeout = 30000) => page.waitForFunction(fn, { timeout, polling: 50 }, arg);

  try {
    // ---- A paused frame, a step, seeks.
    let page = await open('movie=/t/demo.krv&stats=1');
    await until(page, () => window.korva && korva.frame >= 30);
    await page.keyboard.press('Space');
    await until(page, () => korva.state === 'paused');
    let frame = await page.evaluate(() => korva.frame);
    let d = differs(await canvasPixels(page), reference(refs, frame));
    check(!d, `demo paused at frame ${frame}: the canvas equals krvtool frames`, d);
    d = differs(await screenshotPixels(page, path.join(workDir, 'canvas.png')), reference(refs, frame));
    check(!d, `demo paused at frame ${frame}: the screenshot equals krvtool frames`, d);
    await page.keyboard.press('Enter');
    await until(page, (f) => korva.frame === f + 1, frame);
    d = differs(await canvasPixels(page), reference(refs, frame + 1));
    check(!d, `Enter steps to exactly frame ${frame + 1}`, d);
    await page.keyboard.press('Enter');
    d = differs(await canvasPixels(page), reference(refs, frame + 2));
    check(await page.evaluate(() => korva.frame) === frame + 2 && !d, `and again to frame ${frame + 2}`, d);
    for (const n of [77, 26, 150, 1, 101]) {
      await page.evaluate((v) => {
        const bar = document.getElementById('position');
        bar.value = String(v);
        bar.dispatchEvent(new Event('change'));
      }, n);
      const at = await page.evaluate(() => korva.frame);
      d = differs(await canvasPixels(page), reference(refs, n));
      check(at === n && !d, `the position bar seeks to frame ${n}`, at !== n ? `shows ${at}` : d);
    }
    // Seeking while playing plays on from there.
    await page.keyboard.press('Space');
    await until(page, () => korva.state === 'playing');
    await page.evaluate(() => korva.seek(40));
    await until(page, () => korva.frame >= 46);
    check(true, 'a seek while playing plays on from the frame sought');
    await page.keyboard.press('Escape');
    await until(page, () => korva.state === 'paused' && korva.frame === 1);
    d = differs(await canvasPixels(page), reference(refs, 1));
    check(!d, 'Escape stops at frame 1', d);
    // The page as the README shows it.
    await page.evaluate(() => korva.seek(88));
    await page.setViewport({ width: 960, height: 420 });
    await page.screenshot({ path: path.join(workDir, 'page.png') });
    await page.close();

    // ---- Doubling modes: the first frame shown as the memory surface shows it.
    // Mode 2 from the address, then mode 5 from the menu (the movie opened again in the same page).
    page = await open('movie=/t/demo.krv&paused=1&double=2');
    for (const mode of [2, 5]) {
      if (mode !== 2) await page.select('#double', String(mode));
      await until(page, (m) => window.korva && korva.info && korva.info.doubling === m && korva.state === 'paused' &&
                               korva.frame === 1, mode);
      d = differs(await canvasPixels(page), reference(path.join(workDir, `frames-double${mode}`), 1));
      check(!d, `doubling mode ${mode}: the first frame equals krvtool frames --double ${mode}`, d);
    }
    await page.close();

    // ---- Alpha over a colour: opaque pixels show the movie's colour, clear ones the colour behind.
    page = await open('movie=/t/alpha.krv&paused=1');
    await until(page, () => window.korva && korva.state === 'paused');
    await page.keyboard.press('Enter');
    await page.select('#backdrop', '#ffffff');
    {
      const shot = await screenshotPixels(page, path.join(workDir, 'alpha.png'));
      const ref = reference(alphaRefs, 2);
      let bad = '', opaque = 0, clear = 0;
      for (let i = 0; i < ref.length && !bad; i += 4) {
        const a = ref[i + 3];
        if (a !== 0 && a !== 255) continue;  // the disc's edge: blended by the browser
        const want = a ? [ref[i], ref[i + 1], ref[i + 2]] : [255, 255, 255];
        if (shot[i] !== want[0] || shot[i + 1] !== want[1] || shot[i + 2] !== want[2])
          bad = `pixel ${i / 4} (alpha ${a}): ${Array.from(shot.subarray(i, i + 3))} against ${want}`;
        if (a) opaque++; else clear++;
      }
      check(!bad && opaque > 1000 && clear > 1000,
            `alpha over white: ${opaque} opaque pixels show the movie, ${clear} clear ones the white`, bad);
    }
    await page.close();

    // ---- Real time: 640 x 480 at 30 fps with stereo sound, through to the end, its PCM captured.
    page = await open('movie=/t/vga.krv&capture=1');
    await until(page, () => window.korva && korva.state === 'ended', null, 60000);
    await new Promise((r) => setTimeout(r, 300));
    const s = await page.evaluate(() => korva.statistics());
    check(s.decoded === 150 && s.skipped === 0 && s.pageSkipped === 0,
          `vga.krv: 150 frames decoded, none skipped (${s.decoded} decoded, ${s.skipped} skipped)`);
    // Frame 1 to frame 150 take 149 frame times: 4.967 s.
    const played = s.playedMs / 1000;
    check(Math.abs(played - 149 / 30) < 0.2, `vga.krv: played in real time (frame 1 to 150 in ${played.toFixed(2)} s, ` +
          `due in ${(149 / 30).toFixed(2)} s)`);
    const pcm = Buffer.concat((await page.evaluate(() => korva.captured().map((b) => Array.from(b))))
      .map((a) => Buffer.from(a)));
    const want = fs.readFileSync(movie('vga.pcm'));
    check(pcm.equals(want), `the PCM handed to the worklet equals krvtool pcm (${pcm.length} of ${want.length} bytes)`);
    const fast = await page.evaluate(() => korva.timeDecoding(3));
    console.log(`      in the page, playing vga.krv: video ${(s.videoMs / s.decoded).toFixed(2)} ms a frame by the ` +
                `engine's clock, sound ${(s.soundMs / s.decoded).toFixed(2)} ms, conversion to RGBA and showing ` +
                `${(s.copyMs / s.decoded).toFixed(2)} ms; korva_decode ` +
                `${(s.pageDecodeMs / s.pageDecoded).toFixed(2)} ms by the page's; as fast as it goes ` +
                `${fast.toFixed(2)} ms (best of 3 passes)`);
    check(s.sound === 'running', `the sound ran (the audio context is ${s.sound})`);
    fs.writeFileSync(path.join(workDir, 'web_figures.txt'),
                     `${fast.toFixed(3)} ${(s.pageDecodeMs / s.pageDecoded).toFixed(3)} ${s.videoMs} ${s.soundMs}\n`);
    await page.close();

    // ---- Errors, in words on the page.
    for (const [query, words] of [['movie=/t/notes.krv', /Not a Korva file/i], ['movie=/t/cut.krv', /./],
                                  ['movie=/t/missing.krv', /404/]]) {
      page = await open(query);
      await until(page, () => !document.getElementById('message').hidden);
      const text = await page.$eval('#message', (e) => e.textContent);
      check(words.test(text), `${query}: "${text}"`);
      await page.close();
    }
    // A cut file chosen with the file picker.
    page = await open('');
    await until(page, () => window.korva);
    await (await page.$('#file')).uploadFile(movie('cut.krv'));
    await until(page, () => !document.getElementById('message').hidden);
    const text = await page.$eval('#message', (e) => e.textContent);
    check(/^cut\.krv: ./.test(text), `a cut file from the file picker: "${text}"`);
    await page.close();
    // Where the browser wants a gesture before sound (here its audio contexts are made to start
    // suspended, as Chromium's policy does on pages without one), the picture plays at once and
    // the sound joins at the first click.
    page = await browser.newPage();
    page.on('pageerror', (e) => errors.push(`gesture: ${e.message}`));
    await page.evaluateOnNewDocument(() => {
      let gesture = false;
      for (const kind of ['pointerdown', 'keydown'])
        window.addEventListener(kind, (e) => { if (e.isTrusted) gesture = true; }, true);
      const Real = window.AudioContext;
      window.AudioContext = class extends Real {
        constructor(options) { super(options); this.suspend(); }
        resume() { return gesture ? super.resume() : Promise.resolve(); }
      };
    });
    await page.goto(`${base}index.html?movie=/t/demo.krv`);
    await until(page, () => window.korva && korva.frame >= 10);
    const before = await page.evaluate(() => korva.statistics().sound);
    await page.mouse.click(5, 5);
    await until(page, () => korva.statistics().sound === 'running');
    const at = await page.evaluate(() => korva.frame);
    await until(page, (f) => korva.frame >= f + 10 && korva.statistics().report &&
                            korva.statistics().report.played > 0, at);
    check(before === 'suspended', `without a gesture the picture plays and the sound waits (${before})`);
    check(true, 'after a click the sound plays and the picture goes on');
    await page.close();

    // ---- Crafted movies, as a visitor might drop them: each answers within a few seconds, a
    // refusal in words or the movie playing (a player plays on over damaged packets), and the
    // module's memory stays within what the library's limits (512 MiB) and the page's own picture
    // and copy of the file need, and stops growing while a movie plays.
    const kAnswerMs = 5000, kMemoryBound = 1024 << 20;
    const figures = [];
    const mib = (n) => `${(n / 1048576).toFixed(0)} MiB`;
    for (const [name, answer] of [['huge.krv', /^huge\.krv: .*larger than the limit of 64 megapixels/],
                                  ['many.krv', /^many\.krv: .*ends inside the movie's track tables/],
                                  ['index.krv', 'either'],  // 3 million empty frames
                                  ['loud.krv', 'plays'],    // its sound ring field at the maximum
                                  ['big.krv', 'either']]) { // 8192 x 4096, every frame a damaged key frame
      const t0 = Date.now();
      if (name === 'huge.krv') {
        // Through the file picker, as a dropped file comes.
        page = await open('');
        await until(page, () => window.korva);
        await (await page.$('#file')).uploadFile(path.join(crafted, name));
      } else {
        page = await open(`movie=/t/crafted/${name}`);
      }
      const answered = await until(page, () => !document.getElementById('message').hidden ||
                                                (window.korva && korva.frame >= 2), null, 20000)
        .then(() => true, () => false);
      const ms = Date.now() - t0;
      const look = () => page.evaluate(() => ({
        text: document.getElementById('message').hidden ? '' : document.getElementById('message').textContent,
        frame: window.korva ? korva.frame : 0,
        state: window.korva ? korva.state : '',
        wasm: HEAPU8.buffer.byteLength,
      }));
      // A little longer for what comes late: an error after the first frames, memory still growing.
      await new Promise((r) => setTimeout(r, 300));
      const seen = await look();
      let later = seen;
      if (!seen.text) {
        await new Promise((r) => setTimeout(r, 700));
        later = await look();
      }
      const js = (await page.metrics()).JSHeapUsedSize;
      const what = seen.text ? `"${seen.text}"` : `plays (frame ${seen.frame}, then ${later.frame})`;
      figures.push(`${name} ${ms} ms, WebAssembly memory ${mib(later.wasm)}, script heap ${mib(js)}: ${what}`);
      const plays = !seen.text && !later.text && (later.frame > seen.frame || later.state === 'ended') &&
                    later.wasm === seen.wasm;
      const refused = seen.text && (answer instanceof RegExp ? answer : new RegExp(`^${name}: .`)).test(seen.text);
      const right = answer === 'plays' ? plays : answer === 'either' ? plays || refused : refused;
      check(answered && right && ms < kAnswerMs && later.wasm <= kMemoryBound,
            `crafted ${name}: ${what} in ${ms} ms, ${mib(later.wasm)}`,
            !answered ? 'no answer within 20 s' : !right ? `expected ${answer}` :
            ms >= kAnswerMs ? `over ${kAnswerMs} ms` : 'over the memory bound');
      await page.close();
    }
    fs.writeFileSync(path.join(workDir, 'crafted_figures.txt'), figures.join('\n') + '\n');
    check(errors.length === 0, 'no uncaught error on any page', errors.join('; '));
  } finally {
    await browser.close();
    server.close();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

main().catch((e) => { console.error(e); process.exit(1); });
