// The demo's page: loads the content from the page's own folder (scene.2vef
// and Sound.mp3, by relative path only), shows a start screen, runs the demo
// (demo.js / demo.wasm) and says how it ended. The web host (webhost/ in the
// platform stand-in) calls Module.demoPage.
//
// Hooks in the page's address, for tests and the benchmark:
//   ?time=T   the demo's clock stands at T (0..10000); starts without a gesture
//             and keeps a copy of every presented 16-bit picture (keptPicture)
//   ?bench=P  runs every frame of the music at 25 fps as fast as it can, P
//             passes (1..100), shows nothing, then reports each frame's best
//             time's mean, 99th percentile and worst (window.benchResult)
//   ?threads=0|1  the one-thread or the threaded program, whatever the cores
//
// A page served cross-origin isolated (COOP and COEP headers) may share memory
// with workers. With at least kThreadedCores cores it loads the threaded
// program (threads/demo.js), which draws on every core; with fewer, the
// browser's own threads already take a core's share and the one-thread
// program is faster. Where the threaded one is missing, the one-thread one.
'use strict';
(function () {
  const params = new URLSearchParams(location.search);
  const number = (name, max) => (/^\d+$/.test(params.get(name) || '') ? Math.min(max, +params.get(name)) : -1);
  const hookTime = number('time', 10000);
  const benchPasses = number('bench', 100);
  const hooks = { time: hookTime, bench: benchPasses > 0 ? benchPasses : -1, keep: hookTime >= 0 ? 1 : -1 };
  const automatic = hooks.time >= 0 || hooks.bench > 0;
  const contentFiles = ['scene.2vef', 'Sound.mp3'];

  const screen = document.getElementById('screen');
  const message = document.getElementById('message');
  const bar = document.getElementById('bar');
  const fill = document.getElementById('fill');
  const again = document.getElementById('again');
  const canvas = document.getElementById('canvas');
  const context2d = canvas.getContext('2d');

  const state = window.demoState = { phase: 'loading', timing: {}, errors: [], presents: 0 };
  const say = (text) => { message.textContent = text; };
  const show = (visible) => screen.classList.toggle('hidden', !visible);

  if (typeof WebAssembly !== 'object') {
    say('This browser cannot run the demo: it has no WebAssembly.');
    bar.classList.add('hidden');
    return;
  }

  // Audio: one context, made now (it starts suspended until a gesture), so
  // that the music is decoded while the page loads.
  const AudioCtx = window.AudioContext || window.webkitAudioContext;
  const audio = AudioCtx ? new AudioCtx() : null;
  const decoded = {};  // file name -> AudioBuffer, or null when undecodable
  const sources = [];  // { node, start } of each played stream
  state.audio = audio;

  // ---- Input, queued for the host's PumpEvents ----
  const events = [];
  const playing = () => state.phase === 'playing';
  const toggleFullscreen = () => {
    if (document.fullscreenElement) document.exitFullscreen();
    else document.documentElement.requestFullscreen().catch(() => {});
  };
  const keep = new Set(['F5', 'F11', 'F12']);  // the browser's own
  // The key that starts the demo belongs to the start screen: its release is
  // not passed on either.
  let startKey = null;
  window.addEventListener('keydown', (e) => {
    if (state.phase === 'ready') { e.preventDefault(); startKey = e.code; start(); return; }
    if (!playing()) return;
    startKey = null;
    if (e.code === 'KeyF' && !e.repeat) { toggleFullscreen(); e.preventDefault(); return; }
    if (e.code === 'KeyF') return;
    events.push([1, e.code, 1, e.repeat ? 1 : 0]);
    if (!keep.has(e.code)) e.preventDefault();
  });
  window.addEventListener('keyup', (e) => {
    if (e.code === startKey) { startKey = null; return; }
    if (!playing() || e.code === 'KeyF') return;
    events.push([1, e.code, 0, 0]);
    if (!keep.has(e.code)) e.preventDefault();
  });
  const buttons = [0, 2, 1];  // DOM left, middle, right -> left, middle (2), right (1)
  canvas.addEventListener('mousedown', (e) => { if (playing() && e.button < 3) events.push([2, '', buttons[e.button], 1]); });
  window.addEventListener('mouseup', (e) => { if (playing() && e.button < 3) events.push([2, '', buttons[e.button], 0]); });
  canvas.addEventListener('mousemove', (e) => { if (playing()) events.push([3, '', e.movementX | 0, e.movementY | 0]); });
  canvas.addEventListener('wheel', (e) => {
    if (playing()) events.push([4, '', e.deltaY < 0 ? 120 : -120, 0]);
    e.preventDefault();
  }, { passive: false });
  canvas.addEventListener('dblclick', toggleFullscreen);
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
  screen.addEventListener('click', () => { if (state.phase === 'ready') start(); });

  let playAgain = null;
  again.addEventListener('click', (e) => {
    e.stopPropagation();
    if (!playAgain) return;
    const wake = playAgain;
    playAgain = null;
    again.classList.add('hidden');
    begin();
    wake(1);
  });

  // ---- What the web host calls ----
  let unshared = null;  // the picture's copy out of shared memory (threaded program)
  const page = {
    hook: (name) => (name in hooks ? hooks[name] : -1),
    viewWidth: () => window.innerWidth,
    viewHeight: () => window.innerHeight,
    show(rgba, width, height, x, y, w, h) {
      let pixels = new Uint8ClampedArray(rgba.buffer, rgba.byteOffset, width * height * 4);
      if (typeof SharedArrayBuffer !== 'undefined' && rgba.buffer instanceof SharedArrayBuffer) {
        // The threaded program's memory is shared; an ImageData cannot be.
        if (!unshared || unshared.length !== pixels.length) unshared = new Uint8ClampedArray(pixels.length);
        unshared.set(pixels);
        pixels = unshared;
      }
      context2d.putImageData(new ImageData(pixels, width, height), 0, 0);
      const style = canvas.style;
      style.left = x + 'px'; style.top = y + 'px'; style.width = w + 'px'; style.height = h + 'px';
      style.display = 'block';
      if (!state.timing.firstPresent) state.timing.firstPresent = performance.now();
      state.presents++;
    },
    keepPicture(bytes, width, height, pitch) {
      state.keptPicture = { bytes, width, height, pitch };
      state.keptCount = (state.keptCount || 0) + 1;
    },
    // The next input event: [kind, code, a, b] (web_host.cpp), or undefined.
    nextEvent: () => events.shift(),
    waitFrame: (wakeUp) => requestAnimationFrame(() => wakeUp()),
    ended(code) {
      state.phase = 'ended';
      state.exitCode = code;
      canvas.style.display = 'none';
      if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
      const last = state.errors.length ? state.errors[state.errors.length - 1] : '';
      // A demo that could not play says why on standard error, in one line.
      say(last || 'The demo has ended.');
      state.message = message.textContent;
      again.classList.remove('hidden');
      bar.classList.add('hidden');
      show(true);
    },
    waitPlayAgain(wakeUp) { playAgain = wakeUp; },
    benchResult(frames, mean, p99, worst) {
      window.benchResult = { frames, mean, p99, worst };
      say('Benchmark: ' + frames + ' frames, mean ' + mean.toFixed(2) + ' ms, 99th percentile ' +
          p99.toFixed(2) + ' ms, worst ' + worst.toFixed(2) + ' ms per frame');
    },
    audioFind: (name) => decoded[name] || null,
    audioPlay(name, loop) {
      const b = decoded[name];
      if (!b || !audio) return -1;
      const node = audio.createBufferSource();
      node.buffer = b;
      node.loop = !!loop;
      node.connect(audio.destination);
      const at = audio.currentTime;
      node.start(at);
      sources.push({ node, start: at });
      return sources.length - 1;
    },
    audioHeard(id) {
      const s = sources[id];
      if (!s || !audio) return 0;
      return Math.max(0, audio.currentTime - (audio.outputLatency || 0) - s.start);
    },
    audioStopAll() {
      for (const s of sources) { try { s.node.stop(); } catch (e) { /* never started */ } }
      sources.length = 0;
    },
  };

  // ---- Loading ----
  window.Module = {
    demoPage: page,
    noInitialRun: true,
    print: (text) => console.log(text),
    printErr: (text) => { console.warn(text); if (text.trim()) state.errors.push(text.trim()); },
    onAbort: (what) => fail('The demo stopped: ' + what),
  };
  function fail(text) {
    state.phase = 'failed';
    state.message = text;
    say(text);
    bar.classList.add('hidden');
    show(true);
  }

  // Fetches a file of the content with progress; null when it is missing.
  const loaded = new Array(contentFiles.length).fill(0);
  const totals = new Array(contentFiles.length).fill(0);
  function progress() {
    const total = totals.reduce((a, b) => a + b, 0);
    const done = loaded.reduce((a, b) => a + b, 0);
    fill.style.width = total > 0 ? Math.min(100, 100 * done / total) + '%' : '0';
  }
  async function fetchFile(index) {
    const response = await fetch(contentFiles[index], { credentials: 'same-origin' });
    if (!response.ok) return null;
    totals[index] = +response.headers.get('Content-Length') || 0;
    if (!response.body) return new Uint8Array(await response.arrayBuffer());
    const reader = response.body.getReader();
    const parts = [];
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      loaded[index] += value.length;
      if (loaded[index] > totals[index]) totals[index] = loaded[index];
      progress();
    }
    const bytes = new Uint8Array(loaded[index]);
    let at = 0;
    for (const p of parts) { bytes.set(p, at); at += p.length; }
    return bytes;
  }

  const runtimeReady = new Promise((resolve) => { Module.onRuntimeInitialized = resolve; });
  const load = (src, otherwise) => {
    const script = document.createElement('script');
    script.src = src;
    script.onerror = otherwise;
    document.body.appendChild(script);
  };
  const single = () => {
    state.program = 'demo.js';
    load('demo.js', () => fail('The demo\'s program (demo.js) could not be loaded.'));
  };
  const kThreadedCores = 4;
  const threaded = params.get('threads') === '1' ||
                   (params.get('threads') !== '0' && navigator.hardwareConcurrency >= kThreadedCores);
  if (window.crossOriginIsolated && threaded) {
    state.program = 'threads/demo.js';
    load('threads/demo.js', single);
  } else {
    single();
  }

  Promise.all([Promise.all(contentFiles.map((_, i) => fetchFile(i).catch(() => null))), runtimeReady])
    .then(async ([files]) => {
      state.timing.contentArrived = performance.now();
      // Missing files stay missing: the demo reports them as on the desktop.
      files.forEach((bytes, i) => { if (bytes) Module.FS.writeFile(contentFiles[i], bytes); });
      for (let i = 0; i < files.length; i++) {
        if (!files[i] || !/\.mp3$/i.test(contentFiles[i]) || !audio) continue;
        try {
          decoded[contentFiles[i]] = await audio.decodeAudioData(files[i].slice().buffer);
        } catch (e) {
          decoded[contentFiles[i]] = null;
        }
      }
      state.timing.decoded = performance.now();
      bar.classList.add('hidden');
      if (automatic) {
        start();
      } else {
        state.phase = 'ready';
        say('Click or press a key to start');
      }
    })
    .catch((e) => fail('The demo could not be loaded: ' + e));

  function begin() {
    state.phase = 'playing';
    state.errors.length = 0;
    show(false);
    if (audio && audio.state !== 'running' && !hooks.bench) audio.resume();
  }
  function start() {
    begin();
    state.timing.started = performance.now();
    try {
      Module.callMain([]);
    } catch (e) {
      if (e !== 'unwind') fail('The demo stopped: ' + e);
    }
  }
})();
