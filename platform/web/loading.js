// The page's side of the game: what the C++ (WebPlatform, WebFileSystem) and the page say to
// each other. Three scripts, joined into index.html and quillon.html at build time: this one
// (loading, and the contract), layout.js (where the picture and the buttons go), input.js (taps,
// buttons, gamepads and the page's keys).
//
// The page gives the game (on Module):
//   canvas                 the picture's canvas
//   quillonStatus(text)    the loading line; quillonNotice(text) the line for news (storage.js)
//   quillonStorage         'pending', 'late', 'browser' or 'memory': where the best is kept
//   quillonTransact(t, p)  one IndexedDB transaction around a write of file p (storage.js)
//   quillonPending         what a write meant to store, kept should the page go away
//   fit(), readPads()      called by the game: at each frame when the device pixels changed,
//                          and at each pump for the gamepads
// The game sets, for the page and its tests: quillonCanvas, quillonContext, quillonImage,
//   quillonPresented (frames shown), quillonFirstFrameMs, and each frame's fingerprint into
//   quillonFingerprints when a test made that array; runs.js sets quillonShareLink.
// The game exports: _quillon_press(13, 32, 87, 68 or 27: Enter, Space, W, D, Escape) for a press from
//   the page, _quillon_storage_ready() when storage answered late or another tab stored, _quillon_watch_buffer(n)
//   and _quillon_watch() to hand over a shared link's code (the answer is empty, or why it
//   can't be played), and _quillon_transaction_buffer, _change, _result, _done for
//   quillonTransact, and _quillon_daily_run() for the day's kept daily run; runs.js gives the
//   board's script (board.js) quillonDailyRun() and quillonWatchCode(code). The page sets quillonFailed once it has said that the game could not
//   start.
// Says what went wrong, in place of a black picture.
function problem(text) {
  Module.quillonFailed = true;
  var line = document.getElementById('problem') || document.querySelector('main').appendChild(document.createElement('p'));
  line.id = 'problem';
  line.setAttribute('role', 'alert');
  line.textContent = text;
  document.getElementById('status').textContent = '';
}
// Whatever fails before the first frame is shown (a script error, a promise nobody caught, a
// file of another build) is said at once.
function failedToStart(event) {
  if (!window.Module || Module.quillonPresented || Module.quillonFailed) return;
  var why = event.reason || event.error || event.message || '';
  problem('The game could not start (' + (why.message || why) + '). Reload the page to try again.');
}
window.addEventListener('error', failedToStart);
window.addEventListener('unhandledrejection', failedToStart);
var canvas = document.getElementById('canvas');
var lines = document.getElementById('lines');
var Module = { canvas: canvas };
var fromFile = location.protocol === 'file:';
if (typeof WebAssembly !== 'object') {
  problem('This browser cannot run Quillon: it has no WebAssembly. A current Chrome, Edge, Firefox or Safari can.');
}
// The game's code with a loading line that counts what has arrived (the one-file page
// carries it inside).
if (typeof quillonOneFile === 'undefined') Module.instantiateWasm = function (imports, done) {
  var arrived = false;
  fetch('quillon.wasm').then(function (response) {
    if (!response.ok) throw new Error('status ' + response.status);
    // A board serving the page says so on each file: its part of the page comes from it then.
    if (response.headers.get('X-Quillon-Board')) boardScript();
    var total = Number(response.headers.get('Content-Length')) || 0;
    if (!response.body || !total) return response.arrayBuffer();
    var reader = response.body.getReader(), parts = [], got = 0;
    function next() {
      return reader.read().then(function (part) {
        if (part.done) return new Blob(parts).arrayBuffer();
        parts.push(part.value);
        got += part.value.length;
        Module.quillonStatus('Loading\u2026 ' + Math.min(100, Math.floor(got * 100 / total)) + '%');
        return next();
      });
    }
    return next();
  }).then(function (bytes) {
    arrived = true;
    return WebAssembly.instantiate(bytes, imports);
  }).then(function (result) {
    done(result.instance, result.module);
  }).catch(function (error) {
    // Arrived but not of this page's build, or broken: said as any failure to start.
    if (arrived) return failedToStart({ error: error });
    problem(fromFile
      ? 'Opened from a file, this page cannot load the game: open quillon.html, the one-file version, instead.'
      : 'The game could not be loaded (quillon.wasm is missing or was refused). Reload the page to try again.');
  });
  return {};
};
Module.onAbort = function () {
  if (!Module.quillonFailed) problem('The game stopped with an error. Reload the page to start it again.');
};
// A second visit and a reload work with no network.
if ('serviceWorker' in navigator && !fromFile) navigator.serviceWorker.register('sw.js').catch(function () {});
