// The page's player, after the loader (it uses the module's exports and heap views). It keeps
// time by the movie's clock through the library (korva_wait), shows each picture by its changed
// rectangles, and plays the first sound track through an AudioWorklet fed with the PCM the
// library decodes, three quarters of a second ahead of the picture as the movie stores it.
'use strict';

function korvaShowError(text) {
  const box = document.getElementById('message');
  if (!box) return;
  box.textContent = text;
  box.hidden = false;
}

var korva = (function () {
  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const kInfo = { width: 0, height: 1, frames: 2, rateNum: 3, rateDen: 4, alpha: 5, doubling: 6, keyFrames: 7,
                  tracks: 8, played: 9, trackRate: 10, channels: 11, bits: 12 };
  // The silence a track starts with after its sound was cut (a seek, a resume): the engine
  // primes its rings with three quarters of a second too.
  const kPrimeSeconds = 0.75;

  let ready = false;          // the module has started
  let pending = null;         // a movie given before it had
  let player = 0;             // the WebPlayer of the open movie
  let info = null;
  let name = '';
  let image = null;           // ImageData over the player's pixels in the module's memory
  let ctx2d = null;
  let playing = false;
  let ended = false;
  let shown = 0;              // the frame on the canvas
  let sound = null;           // { context, node, resync }
  let frameTimer = 0;
  let lastBytes = null;       // the open movie's bytes, to open it again with another doubling
  const counters = { decodeMs: 0, decoded: 0, skipped: 0, firstAt: 0, lastAt: 0 };
  const capture = params.get('capture') === '1' ? [] : null;  // the PCM handed to the worklet

  // ---- The sound: one worklet node; it takes PCM bytes as the library hands them out.
  const kWorklet = `
class KorvaSound extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const o = options.processorOptions;
    this.channels = o.channels; this.bits = o.bits; this.step = o.rate / sampleRate;
    this.queue = []; this.at = 0; this.phase = 0; this.silence = 0; this.paused = false;
    this.queued = 0; this.underruns = 0; this.played = 0;
    this.port.onmessage = (e) => {
      const d = e.data;
      if (d.pcm) {
        const s = this.bits === 16 ? new Int16Array(d.pcm) : new Uint8Array(d.pcm);
        this.queue.push(s); this.queued += s.length;
      } else if (d.flush !== undefined) {
        this.queue = []; this.at = 0; this.queued = 0; this.silence = d.flush;
      } else if (d.paused !== undefined) {
        this.paused = d.paused;
      } else if (d.report) {
        this.port.postMessage({ queued: this.queued / this.channels + this.silence, underruns: this.underruns,
                                played: this.played });
      }
    };
  }
  sample(v) { return this.bits === 16 ? v / 32768 : (v - 128) / 128; }
  process(inputs, outputs) {
    const out = outputs[0], left = out[0], right = out[1] || out[0];
    if (this.paused) return true;
    let starved = false;
    for (let i = 0; i < left.length; ++i) {
      if (this.silence > 0) { this.silence--; continue; }
      const b = this.queue[0];
      if (!b) { starved = true; break; }
      const l = this.sample(b[this.at]), r = this.channels === 2 ? this.sample(b[this.at + 1]) : l;
      left[i] = l; right[i] = r;
      this.phase += this.step;
      while (this.phase >= 1 && this.queue.length) {
        this.phase -= 1; this.at += this.channels; this.queued -= this.channels; this.played++;
        if (this.at >= this.queue[0].length) { this.queue.shift(); this.at = 0; }
      }
    }
    if (starved && this.played) this.underruns++;
    return true;
  }
}
registerProcessor('korva-sound', KorvaSound);
`;

  async function openSound(rate, channels, bits) {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context || !window.AudioWorkletNode) return null;
    let context;
    try {
      context = new Context({ sampleRate: rate });  // the track's own rate: nothing is resampled
    } catch (e) {
      context = new Context();
    }
    const url = URL.createObjectURL(new Blob([kWorklet], { type: 'text/javascript' }));
    await context.audioWorklet.addModule(url);
    URL.revokeObjectURL(url);
    const node = new AudioWorkletNode(context, 'korva-sound', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
      processorOptions: { rate, channels, bits } });
    node.connect(context.destination);
    const s = { context, node, rate, channels, bits, resync: false, report: null };
    node.port.onmessage = (e) => { s.report = e.data; };
    // Where the browser wants a gesture first, the sound joins at the first one, in step with
    // the picture from there on.
    const wake = () => {
      if (context.state !== 'running') context.resume();
    };
    for (const ev of ['pointerdown', 'keydown']) document.addEventListener(ev, wake, { capture: true });
    context.onstatechange = () => {
      if (context.state === 'running' && s.resync && playing) resyncSound();
    };
    return s;
  }

  function closeSound() {
    if (!sound) return;
    sound.node.disconnect();
    sound.context.close();
    sound = null;
  }

  // Hands what the library has decoded to the worklet (or lets it go while the sound cannot play).
  function feedSound() {
    if (!player) return;
    for (;;) {
      const n = _web_read_pcm(player);
      if (n <= 0) return;
      if (!sound) continue;
      if (sound.context.state !== 'running') { sound.resync = true; continue; }
      const at = _web_pcm(player);
      const bytes = HEAPU8.slice(at, at + n);
      if (capture) capture.push(bytes.slice());
      sound.node.port.postMessage({ pcm: bytes.buffer }, [bytes.buffer]);
    }
  }

  // Picture and sound from the frame after the one shown, the sound starting with the engine's
  // priming silence: after a seek, a step or a resume the worklet holds nothing stale.
  function resyncSound() {
    if (!sound || !player) return;
    sound.resync = false;
    _web_pause(player, 1);
    _web_seek(player, shown >= info.frames ? 1 : shown + 1);
    sound.node.port.postMessage({ flush: Math.round(kPrimeSeconds * sound.rate) });
    if (playing) _web_pause(player, 0);  // the clock starts again from here
  }

  // ---- The picture

  function word(i) { return HEAPU32[(_web_info(player) >> 2) + i]; }

  function pixels() {
    // The module's memory may have grown (and moved) since the view was made.
    if (!image || image.data.buffer !== HEAPU8.buffer) {
      const n = info.width * info.height * 4;
      image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, _web_pixels(player), n), info.width, info.height);
    }
    return image;
  }

  // Converts the decoded picture and puts its changed rectangles on the canvas; false when the
  // library skipped the copy because the frame was late.
  function show(whole) {
    const r = _web_copy(player, whole ? 1 : 0);
    if (r === 1) { counters.skipped++; return false; }
    if (r !== 0) { fail(); return false; }
    const img = pixels();
    const c = _web_changes(player) >> 2;
    const count = HEAPU32[c];
    for (let i = 0; i < count; ++i) {
      const at = c + 1 + 4 * i;
      ctx2d.putImageData(img, 0, 0, HEAP32[at], HEAP32[at + 1], HEAP32[at + 2], HEAP32[at + 3]);
    }
    return true;
  }

  function fail() {
    korvaShowError(UTF8ToString(_web_error(player)) || 'The movie cannot be played.');
    stopClock();
    playing = false;
    updateUi();
  }

  // Decodes the current frame (its sound to the worklet), shows it and loads the next.
  function decodeFrame(copy) {
    const t0 = performance.now();
    if (_web_decode(player) !== 0) { fail(); return false; }
    counters.decodeMs += performance.now() - t0;
    counters.decoded++;
    shown = _web_current_frame(player);
    if (copy) show(false);
    counters.lastAt = performance.now();
    if (counters.decoded === 1) counters.firstAt = counters.lastAt;
    feedSound();
    _web_next(player);
    return true;
  }

  function tick() {
    frameTimer = requestAnimationFrame(tick);
    if (!player || !playing) return;
    // Every frame that is due by the clock is decoded; the library skips the copies of late
    // ones (at most three in a row), never the decoding.
    for (let n = 0; n < 8 && _web_wait(player) === 0; ++n) {
      if (!decodeFrame(true)) return;
      if (shown >= info.frames && params.get('loop') !== '1') {
        playing = false;
        ended = true;
        _web_pause(player, 1);  // the worklet plays out what it holds
        break;
      }
    }
    feedSound();
    updateUi();
  }

  function stopClock() {
    if (frameTimer) cancelAnimationFrame(frameTimer);
    frameTimer = 0;
  }

  // ---- Controls

  function setPlaying(on) {
    if (!player || on === playing) return;
    if (on && ended) {
      // Played through: from the start again (the library is at frame 1 already).
      ended = false;
      if (sound) sound.node.port.postMessage({ flush: 0 });
    }
    playing = on;
    _web_pause(player, on ? 0 : 1);
    if (sound) {
      if (on && sound.context.state !== 'running') sound.context.resume();
      sound.node.port.postMessage({ paused: !on });
      if (on && sound.resync) resyncSound();
    }
    if (!frameTimer) tick();
    updateUi();
  }

  function step() {
    if (!player || playing) return;
    if (ended) ended = false;
    decodeFrame(true);
    if (sound) sound.resync = true;
    updateUi();
  }

  function seek(frame) {
    if (!player) return;
    frame = Math.max(1, Math.min(info.frames, frame | 0));
    _web_pause(player, 1);
    if (_web_seek(player, frame) !== 0) { fail(); return; }
    ended = false;
    if (!decodeFrame(false)) return;
    show(true);
    if (sound) {
      sound.node.port.postMessage({ flush: Math.round(kPrimeSeconds * sound.rate) });
      sound.resync = false;
    }
    if (playing) _web_pause(player, 0);  // the clock starts again from here
    updateUi();
  }

  function stop() {
    if (!player) return;
    playing = false;
    _web_pause(player, 1);
    if (sound) { sound.node.port.postMessage({ paused: true }); sound.resync = true; }
    seek(1);
  }

  function statsText() {
    if (!player) return '';
    const s = _web_stats(player) >> 2;
    const fps = info.rateNum / info.rateDen;
    const per = counters.decoded ? counters.decodeMs / counters.decoded : 0;
    let text = `${name}  ${info.width}x${info.height}  ${fps.toFixed(2)} fps  frame ${shown}/${info.frames}` +
               `  decoded ${HEAPU32[s]}  skipped ${HEAPU32[s + 1]}  decode ${per.toFixed(2)} ms/frame` +
               ` (video ${HEAPU32[s + 4]} ms, sound ${HEAPU32[s + 5]} ms in all)`;
    if (sound) {
      sound.node.port.postMessage({ report: true });
      const r = sound.report;
      text += `  sound ${sound.rate} Hz ${sound.channels === 2 ? 'stereo' : 'mono'} ${sound.context.state}`;
      if (r) text += `, ${(r.queued / sound.rate).toFixed(2)} s queued, ${r.underruns} underruns`;
    }
    return text;
  }

  function updateUi() {
    $('play').innerHTML = playing ? '&#10074;&#10074;' : '&#9654;';
    $('step').disabled = playing || !player;
    if (info) {
      $('frame').textContent = `frame ${shown} / ${info.frames}`;
      if (document.activeElement !== $('position')) $('position').value = String(shown || 1);
    }
    document.body.dataset.frame = String(shown);
    document.body.dataset.state = !player ? 'empty' : playing ? 'playing' : ended ? 'ended' : 'paused';
    if (!$('stats').hidden) $('stats').textContent = statsText();
  }

  function applyBackdrop() {
    const v = $('backdrop').value, canvas = $('picture');
    $('colour').hidden = v !== 'colour';
    canvas.classList.toggle('checker', v === 'checker');
    canvas.style.backgroundColor = v === 'checker' ? '' : v === 'colour' ? $('colour').value : v;
  }

  // Decodes the whole movie as fast as it goes, `passes` times (paused, no picture shown, the sound
  // let go); the best pass's milliseconds a frame. The movie is back at the frame shown after.
  function timeDecoding(passes) {
    if (!player || playing) return 0;
    let best = Infinity;
    for (let k = 0; k < passes; ++k) {
      _web_seek(player, 1);
      const t0 = performance.now();
      for (let n = 0; n < info.frames; ++n) {
        if (_web_decode(player) !== 0) { fail(); return 0; }
        _web_next(player);
      }
      best = Math.min(best, performance.now() - t0);
      while (_web_read_pcm(player) > 0) {}
    }
    seek(shown || 1);
    return best / info.frames;
  }

  // ---- Opening

  function close() {
    stopClock();
    closeSound();
    if (player) _web_close(player);
    player = 0;
    info = null;
    image = null;
    playing = ended = false;
    shown = 0;
  }

  async function openBytes(bytes, movieName) {
    if (!ready) { pending = { bytes, name: movieName }; return; }
    close();
    $('message').hidden = true;
    name = movieName;
    lastBytes = bytes;
    const at = _malloc(Math.max(1, bytes.length));
    if (!at) { korvaShowError('Out of memory: the movie does not fit.'); return; }
    HEAPU8.set(bytes, at);
    const doubling = Number($('double').value);
    const p = _web_open(at, bytes.length, doubling, 1);  // the player owns the bytes now
    if (!p) {
      korvaShowError(`${movieName}: ${UTF8ToString(_web_error(0)) || 'not a movie this page can play.'}`);
      updateUi();
      return;
    }
    player = p;
    info = {};
    for (const k in kInfo) info[k] = word(kInfo[k]);
    const canvas = $('picture');
    canvas.width = info.width;
    canvas.height = info.height;
    ctx2d = canvas.getContext('2d', { willReadFrequently: true });
    $('position').max = String(info.frames);
    $('controls').hidden = false;
    $('hint').hidden = true;
    document.title = `${movieName} - Korva`;
    if (info.played) {
      try {
        sound = await openSound(info.trackRate, info.channels, info.bits);
      } catch (e) {
        sound = null;
        console.warn('no sound:', e);
      }
      if (p !== player) return;  // another movie was opened meanwhile
    }
    counters.decodeMs = counters.decoded = counters.skipped = counters.firstAt = counters.lastAt = 0;
    if (params.get('paused') === '1') {
      // Shows the first frame and waits.
      decodeFrame(true);
      if (sound) sound.resync = true;
      updateUi();
    } else {
      setPlaying(true);
    }
  }

  async function openUrl(url) {
    let response;
    try {
      response = await fetch(url);
    } catch (e) {
      korvaShowError(`${url}: cannot be read (${e.message}).`);
      return;
    }
    if (!response.ok) {
      korvaShowError(`${url}: cannot be read (${response.status} ${response.statusText}).`);
      return;
    }
    await openBytes(new Uint8Array(await response.arrayBuffer()), decodeURIComponent(url.split('/').pop()));
  }

  async function openFile(file) {
    if (!file) return;
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      korvaShowError(`${file.name}: cannot be read (${e.message}).`);
      return;
    }
    await openBytes(bytes, file.name);
  }

  // ---- Wiring

  function onKey(e) {
    if (e.target && e.target.tagName === 'INPUT' && e.target.type !== 'range' && e.target.type !== 'checkbox') return;
    switch (e.key) {
      case ' ': setPlaying(!playing); break;
      case 'Enter': step(); break;
      case 'Escape': if (!document.fullscreenElement) stop(); else return; break;
      case 'f': case 'F': fullScreen(); break;
      default: return;
    }
    e.preventDefault();
  }

  function fullScreen() {
    if (document.fullscreenElement) document.exitFullscreen();
    else if ($('stage').requestFullscreen) $('stage').requestFullscreen();
  }

  function wire() {
    document.addEventListener('keydown', onKey);
    $('file').addEventListener('change', (e) => openFile(e.target.files[0]));
    $('play').addEventListener('click', () => setPlaying(!playing));
    $('step').addEventListener('click', step);
    $('full').addEventListener('click', fullScreen);
    $('position').addEventListener('change', (e) => seek(Number(e.target.value)));
    $('showstats').addEventListener('change', (e) => { $('stats').hidden = !e.target.checked; updateUi(); });
    $('backdrop').addEventListener('change', applyBackdrop);
    $('colour').addEventListener('input', applyBackdrop);
    $('double').addEventListener('change', () => { if (lastBytes) openBytes(lastBytes.slice(), name); });
    document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('drag'); });
    document.addEventListener('dragleave', () => document.body.classList.remove('drag'));
    document.addEventListener('drop', (e) => {
      e.preventDefault();
      document.body.classList.remove('drag');
      if (e.dataTransfer.files.length) openFile(e.dataTransfer.files[0]);
    });
    window.addEventListener('error', (e) => korvaShowError(`The page failed: ${e.message}`));
    window.addEventListener('unhandledrejection', (e) => korvaShowError(`The page failed: ${e.reason}`));
    if (params.get('double')) $('double').value = params.get('double');
    if (params.get('stats') === '1') { $('showstats').checked = true; $('stats').hidden = false; }
    applyBackdrop();
    updateUi();
  }

  wire();
  if (location.protocol === 'file:') {
    korvaShowError('This page needs a web server: opened from a file it cannot load korva.wasm or a movie. ' +
                   '`./korva web` serves it, or put index.html, korva.js and korva.wasm on any web server.');
  }
  Module.onRuntimeInitialized = () => {
    ready = true;
    // (no destructuring here: the loader's minifier drops it)
    if (pending) { const movie = pending; pending = null; openBytes(movie.bytes, movie.name); }
  };
  if (params.get('movie') && location.protocol !== 'file:') openUrl(params.get('movie'));

  // What scripts (and the tests) may ask of the page.
  return {
    open: openUrl,
    play: () => setPlaying(true),
    pause: () => setPlaying(false),
    step,
    seek,
    stop,
    get frame() { return shown; },
    get state() { return document.body.dataset.state; },
    get info() { return info; },
    timeDecoding,
    captured: () => capture,
    statistics() {
      if (!player) return null;
      const s = _web_stats(player) >> 2;
      return { decoded: HEAPU32[s], skipped: HEAPU32[s + 1], playbackMs: HEAPU32[s + 2], videoMs: HEAPU32[s + 4],
               soundMs: HEAPU32[s + 5], copyMs: HEAPU32[s + 6], pageDecodeMs: counters.decodeMs, pageDecoded: counters.decoded,
               pageSkipped: counters.skipped, playedMs: counters.lastAt - counters.firstAt, sound: sound ? sound.context.state : 'none',
               report: sound ? sound.report : null, text: statsText() };
    },
  };
})();
