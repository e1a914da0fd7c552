#!/usr/bin/env node
// Plays a SWF, or an HTML page that embeds one, with Ruffle in headless Chromium and
// prints one JSON report line: what was seen (two screenshots), what was heard (the peak
// of everything routed to the speakers), what the Flash runtime complained about and the
// title the browser read from the page.
//
//   node playback.js TARGET [--expect plays|still] [--audio] [--t1 S] [--t2 S]
//                           [--timeout S] [--shots DIR] [--probe X,Y]... [--click X,Y]...
//
// --probe reports the colour at stage pixel (X, Y) of the second screenshot; --click clicks
// there half a second after the movie has loaded (before the first screenshot).
//
// Exit 0 only when the verdict is the expected one (and, with --audio, sound was heard).
// Modules (playwright-core, @ruffle-rs/ruffle) are found through NODE_PATH.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const http = require('http');
const zlib = require('zlib');

const CHROMIUM = '/usr/bin/chromium';
const RUFFLE_PREFIX = '/__ruffle/';
const PAGE_PATH = '/__harness.html';
const CLICK_AT = 0.5;

function parseArgs(argv) {
  const opts = { expect: 'plays', audio: false, t1: 1.0, t2: 3.0, timeout: 60, shots: null, target: null, probes: [], clicks: [] };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`missing value after ${a}`);
      return argv[++i];
    };
    if (a === '--expect') opts.expect = value();
    else if (a === '--audio') opts.audio = true;
    else if (a === '--t1') opts.t1 = Number(value());
    else if (a === '--t2') opts.t2 = Number(value());
    else if (a === '--timeout') opts.timeout = Number(value());
    else if (a === '--shots') opts.shots = value();
    else if (a === '--probe') opts.probes.push(parsePoint(value(), a));
    else if (a === '--click') opts.clicks.push(parsePoint(value(), a));
    else if (a.startsWith('--')) throw new Error(`unknown option ${a}`);
    else if (opts.target === null) opts.target = path.resolve(a);
    else throw new Error(`unexpected argument ${a}`);
  }
  if (!opts.target) throw new Error('no target file given');
  if (!['plays', 'still'].includes(opts.expect)) throw new Error(`--expect takes plays or still, not ${opts.expect}`);
  if (!(opts.t1 > 0 && opts.t2 > opts.t1)) throw new Error('need 0 < --t1 < --t2');
  if (opts.clicks.length && opts.t1 <= CLICK_AT) throw new Error(`clicks come at ${CLICK_AT} s: --t1 must be later`);
  return opts;
}

function parsePoint(text, option) {
  const m = /^(\d+),(\d+)$/.exec(text);
  if (!m) throw new Error(`${option} takes X,Y in pixels, not ${text}`);
  return { x: Number(m[1]), y: Number(m[2]) };
}

// --- SWF header -------------------------------------------------------------------

function readSwfHeader(file) {
  const raw = fs.readFileSync(file);
  const sig = raw.toString('latin1', 0, 3);
  if (raw.length < 8 || (sig !== 'FWS' && sig !== 'CWS')) throw new Error(`${file} is not a SWF file`);
  const body = sig === 'CWS' ? zlib.inflateSync(raw.subarray(8)) : raw.subarray(8);
  let bit = 0;
  const bits = (n) => {
    let v = 0;
    for (let k = 0; k < n; k++, bit++) v = (v << 1) | ((body[bit >> 3] >> (7 - (bit & 7))) & 1);
    return v;
  };
  const signed = (n) => {
    const v = bits(n);
    return n > 0 && (v & (1 << (n - 1))) ? v - (1 << n) : v;
  };
  const nbits = bits(5);
  const xmin = signed(nbits), xmax = signed(nbits), ymin = signed(nbits), ymax = signed(nbits);
  const at = (bit + 7) >> 3;
  return {
    version: raw[3],
    width: Math.round((xmax - xmin) / 20),
    height: Math.round((ymax - ymin) / 20),
    frameRate: body.readUInt16LE(at) / 256,
    frameCount: body.readUInt16LE(at + 2),
  };
}

// --- PNG screenshots ----------------------------------------------------------------

// Chromium's screenshots are 8-bit RGB or RGBA, non-interlaced; that is all we decode.
function decodePng(buf) {
  let pos = 8, width = 0, height = 0, channels = 0;
  const idat = [];
  while (pos < buf.length) {
    const len = buf.readUInt32BE(pos);
    const type = buf.toString('latin1', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + len);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      if (data[8] !== 8 || data[12] !== 0) throw new Error('unsupported PNG layout');
      channels = { 2: 3, 6: 4 }[data[9]];
      if (!channels) throw new Error(`unsupported PNG colour type ${data[9]}`);
    } else if (type === 'IDAT') idat.push(data);
    pos += 12 + len;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const out = Buffer.alloc(width * height * 3);
  let prev = Buffer.alloc(stride), line = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const src = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? line[i - channels] : 0;
      const b = prev[i];
      const c = i >= channels ? prev[i - channels] : 0;
      let p;
      switch (filter) {
        case 0: p = 0; break;
        case 1: p = a; break;
        case 2: p = b; break;
        case 3: p = (a + b) >> 1; break;
        case 4: {
          const e = a + b - c, pa = Math.abs(e - a), pb = Math.abs(e - b), pc = Math.abs(e - c);
          p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: throw new Error(`bad PNG filter ${filter}`);
      }
      line[i] = (src[i] + p) & 0xff;
    }
    for (let x = 0; x < width; x++) line.copy(out, (y * width + x) * 3, x * channels, x * channels + 3);
    [prev, line] = [line, prev];
  }
  return { width, height, rgb: out };
}

// What fraction of the picture differs from its most common colour, how many colours
// it has, and what fraction of pixels changed between two pictures of the same size.
function pictureFigures(pic) {
  const counts = new Map();
  for (let i = 0; i < pic.rgb.length; i += 3) {
    const key = (pic.rgb[i] << 16) | (pic.rgb[i + 1] << 8) | pic.rgb[i + 2];
    counts.set(key, (counts.get(key) || 0) + 1);
  }
  let top = 0, topKey = 0;
  for (const [k, n] of counts) if (n > top) { top = n; topKey = k; }
  const pixels = pic.width * pic.height;
  return {
    colours: counts.size,
    dominant: '#' + topKey.toString(16).padStart(6, '0'),
    detail: pixels ? 1 - top / pixels : 0,
  };
}

function colourAt(pic, { x, y }) {
  if (x >= pic.width || y >= pic.height) return null;
  const i = (y * pic.width + x) * 3;
  return '#' + [0, 1, 2].map((k) => pic.rgb[i + k].toString(16).padStart(2, '0')).join('');
}

function changedFraction(a, b) {
  if (a.width !== b.width || a.height !== b.height) return 1;
  let changed = 0;
  for (let i = 0; i < a.rgb.length; i += 3) {
    const d = Math.abs(a.rgb[i] - b.rgb[i]) + Math.abs(a.rgb[i + 1] - b.rgb[i + 1]) + Math.abs(a.rgb[i + 2] - b.rgb[i + 2]);
    if (d > 24) changed++;
  }
  return changed / (a.width * a.height);
}

// --- local web server ---------------------------------------------------------------

// Pages go out as many web servers send them: with no character set.
const MIME = {
  '.html': 'text/html', '.htm': 'text/html', '.js': 'text/javascript',
  '.wasm': 'application/wasm', '.swf': 'application/x-shockwave-flash', '.flv': 'video/x-flv',
  '.map': 'application/json', '.png': 'image/png',
};

function rufflePageConfig() {
  return JSON.stringify({
    publicPath: RUFFLE_PREFIX,
    autoplay: 'on',
    unmuteOverlay: 'hidden',
    splashScreen: false,
    warnOnUnsupportedContent: false,
    contextMenu: 'off',
    letterbox: 'off',
    logLevel: 'info',
    allowScriptAccess: false,
    allowNetworking: 'all',
  });
}

function rufflePreamble() {
  return `<script>window.RufflePlayer = window.RufflePlayer || {}; window.RufflePlayer.config = ${rufflePageConfig()};</script>` +
    `<script src="${RUFFLE_PREFIX}ruffle.js"></script>`;
}

// A page for a bare SWF (its address relative to the page): the player element at the movie's stage
// size, nothing else.
function swfPage(name, header) {
  return `<!doctype html><html><head>${rufflePreamble()}</head>` +
    '<body style="margin:0;background:#7f7f7f">' +
    `<div id="stage" style="width:${header.width}px;height:${header.height}px"></div><script>` +
    'const player = window.RufflePlayer.newest().createPlayer();' +
    `player.style.width = "${header.width}px"; player.style.height = "${header.height}px";` +
    'document.getElementById("stage").appendChild(player);' +
    `player.ruffle().load({ url: ${JSON.stringify(name)} }).catch((e) => console.error("harness: load failed: " + e));` +
    '</script></body></html>';
}

// Our pages embed the SWF with object/embed; Ruffle's polyfill takes them over once its
// script is on the page, which is the one thing the harness adds.
function injectRuffle(html) {
  const m = /<head[^>]*>|<html[^>]*>/i.exec(html);
  const at = m ? m.index + m[0].length : 0;
  return html.slice(0, at) + rufflePreamble() + html.slice(at);
}

function startServer(root, ruffleDir, pageBody) {
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
    const send = (status, type, body) => {
      res.writeHead(status, { 'Content-Type': type, 'Cache-Control': 'no-store' });
      res.end(body);
    };
    if (url === PAGE_PATH && pageBody) return send(200, MIME['.html'], pageBody);
    const base = url.startsWith(RUFFLE_PREFIX) ? ruffleDir : root;
    const rel = url.startsWith(RUFFLE_PREFIX) ? url.slice(RUFFLE_PREFIX.length) : url.slice(1);
    const file = path.resolve(base, rel);
    if (file !== base && !file.startsWith(base + path.sep)) return send(403, 'text/plain', 'outside');
    fs.readFile(file, (err, data) => {
      if (err) return send(404, 'text/plain', 'not found');
      const ext = path.extname(file).toLowerCase();
      if (base === root && (ext === '.html' || ext === '.htm')) data = injectRuffle(data.toString('utf8'));
      send(200, MIME[ext] || 'application/octet-stream', data);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

// --- in-page audio tap --------------------------------------------------------------

// Runs in the page before Ruffle: everything connected to the speakers goes through an
// analyser first, and a timer keeps the loudest sample seen so far.
function audioTap() {
  window.__audio = { peak: 0, contexts: 0 };
  const taps = new WeakMap();
  const tapFor = (ctx) => {
    let tap = taps.get(ctx);
    if (!tap) {
      tap = ctx.createAnalyser();
      tap.fftSize = 2048;
      origConnect.call(tap, ctx.destination);
      taps.set(ctx, tap);
      window.__audio.contexts++;
      const samples = new Float32Array(tap.fftSize);
      setInterval(() => {
        tap.getFloatTimeDomainData(samples);
        for (const s of samples) if (Math.abs(s) > window.__audio.peak) window.__audio.peak = Math.abs(s);
      }, 20);
    }
    return tap;
  };
  const origConnect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function (target, ...rest) {
    if (target instanceof AudioDestinationNode) return origConnect.call(this, tapFor(target.context), ...rest);
    return origConnect.call(this, target, ...rest);
  };
}

// --- console classification ---------------------------------------------------------

// Ruffle reports uncaught ActionScript exceptions, verify failures and broken movies on
// its console; any of these fails the run even if pictures move.
const AS_ERROR = /(Error #\d{4})|(VerifyError|ReferenceError|TypeError|ArgumentError|RangeError|SecurityError)|(AVM[12] error)|(uncaught)|(panicked)/i;
const LOAD_ERROR = /(harness: load failed)|(failed to (load|fetch|open))|(invalid swf)|(not a valid)|(Couldn't load)/i;

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!fs.existsSync(opts.target)) throw new Error(`${opts.target} does not exist`);
  const { chromium } = require('playwright-core');
  const ruffleDir = path.dirname(require.resolve('@ruffle-rs/ruffle/package.json'));
  const ext = path.extname(opts.target).toLowerCase();
  const root = path.dirname(opts.target);
  const isPage = ext === '.html' || ext === '.htm';
  const header = isPage ? null : readSwfHeader(opts.target);
  const server = await startServer(root, ruffleDir, isPage ? null : swfPage(encodeURIComponent(path.basename(opts.target)), header));
  const base = `http://127.0.0.1:${server.address().port}`;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'playback-profile-'));
  const report = { target: opts.target, verdict: 'INFRA_ERROR', swf: header, console: [], asErrors: [], loadErrors: [] };
  let browser = null;
  const deadline = setTimeout(() => {
    report.verdict = 'TIMEOUT';
    finish(report, opts, 2);
  }, opts.timeout * 1000);
  try {
    // A persistent context is how playwright takes a profile folder of our own: a fresh
    // one per run, so nothing carries over between cases.
    browser = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      viewport: { width: 1024, height: 768 },
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--autoplay-policy=no-user-gesture-required'],
    });
    const context = browser;
    await context.route(/^(?!http:\/\/127\.0\.0\.1)/, (route) => route.abort());
    const page = await context.newPage();
    await page.addInitScript(audioTap);
    page.on('console', (msg) => note(report, `${msg.type()}: ${msg.text()}`));
    page.on('pageerror', (err) => note(report, `pageerror: ${err.message}`));
    await page.goto(base + (isPage ? '/' + encodeURIComponent(path.basename(opts.target)) : PAGE_PATH));
    const player = page.locator('ruffle-player, ruffle-object, ruffle-embed').first();
    await player.waitFor({ state: 'attached', timeout: 15000 });
    // The clock starts when the movie has loaded, so a busy machine does not shift the shots.
    report.title = await page.title();
    report.metadata = await loadedMovie(page, player);
    if (!report.metadata) {
      report.verdict = 'LOAD_ERROR';
      throw new Error('the movie did not load within 15 s');
    }
    const since = opts.clicks.length ? await clickAt(page, player, opts.clicks) : 0;
    const first = await shotAt(page, player, opts.t1, since, opts, 't1');
    const second = await shotAt(page, player, opts.t2, opts.t1, opts, 't2');
    const audio = await page.evaluate(() => window.__audio);
    report.audioPeak = Number(audio.peak.toFixed(4));
    report.first = pictureFigures(first);
    report.second = pictureFigures(second);
    report.changed = Number(changedFraction(first, second).toFixed(4));
    report.screenshotSeconds = Number(opts.shotSeconds.toFixed(2));  // how late the clock ran
    report.probes = Object.fromEntries(opts.probes.map((p) => [`${p.x},${p.y}`, colourAt(second, p)]));
    report.verdict = judge(report);
  } catch (err) {
    report.error = String(err && err.stack || err);
  } finally {
    clearTimeout(deadline);
    if (browser) await browser.close().catch(() => {});
    server.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  finish(report, opts, report.verdict === opts.expect.toUpperCase() && (!opts.audio || report.audioPeak > 0.01) ? 0 : 1);
}

// Ruffle styles its console lines ("%cWARN%c file%c text", then the CSS); keep the text.
function plainConsole(text) {
  return text.replace(/%c/g, '').replace(/\s*color: [a-z]+; background: #444 color: gray; font-style: italic color: inherit$/, '')
    .replace(/\s*background: #[0-9A-Fa-f]+; color: #[0-9A-Fa-f]+$/, '');
}

function note(report, raw) {
  const line = plainConsole(raw);
  report.console.push(line);
  if (AS_ERROR.test(line) || /^\w+: ERROR core\/src\/avm/.test(line)) report.asErrors.push(line);
  else if (LOAD_ERROR.test(line)) report.loadErrors.push(line);
}

async function loadedMovie(page, player) {
  for (let waited = 0; waited < 15000; waited += 100) {
    const meta = await player.evaluate((el) => { try { return el.ruffle().metadata; } catch (e) { return null; } });
    if (meta) return meta;
    await page.waitForTimeout(100);
  }
  return null;
}

// Ruffle offers a "hardware acceleration" notice over the movie when the pointer first
// enters a player that renders in software, as here; it would take the clicks.
async function clickAt(page, player, points) {
  await page.waitForTimeout(CLICK_AT * 1000);
  await player.evaluate((el) => {
    const style = document.createElement('style');
    style.textContent = '#hardware-acceleration-modal { display: none !important; }';
    el.shadowRoot.appendChild(style);
  });
  const box = await player.boundingBox();
  for (const { x, y } of points) await page.mouse.click(box.x + x, box.y + y);
  return CLICK_AT;
}

async function shotAt(page, player, at, since, opts, label) {
  await page.waitForTimeout((at - since) * 1000);
  const started = Date.now();
  const png = await player.screenshot({ timeout: 10000 });
  opts.shotSeconds = (opts.shotSeconds || 0) + (Date.now() - started) / 1000;
  if (opts.shots) {
    fs.mkdirSync(opts.shots, { recursive: true });
    fs.writeFileSync(path.join(opts.shots, `${path.parse(opts.target).name}-${label}.png`), png);
  }
  return decodePng(png);
}

function judge(r) {
  if (r.asErrors.length) return 'AS_ERROR';
  if (r.loadErrors.length) return 'LOAD_ERROR';
  if (r.second.colours <= 1) return 'BLANK';
  return r.changed > 0.01 ? 'PLAYS' : 'STILL';
}

function finish(report, opts, code) {
  process.stdout.write(JSON.stringify(report) + '\n');
  process.exit(code);
}

main().catch((err) => {
  process.stdout.write(JSON.stringify({ verdict: 'INFRA_ERROR', error: String(err && err.stack || err) }) + '\n');
  process.exit(2);
});
