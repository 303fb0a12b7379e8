// The best run, when one is kept (its buttons in layout.js's `runs`): watched in the window, or
// shared as a link that plays it. Part of the game's script (a --pre-js), for its files and memory.
// Asked of the game only when the best's or the run's file has changed: a run counts only
// while it reaches the best kept beside it.
var quillonKept = { files: null, code: '' };
function quillonKeptRun() {
  var files;
  try {
    files = FS.readFile('/quillon/Quillon.run', { encoding: 'utf8' }) + '\n' +
      FS.readFile('/quillon/Quillon.ini', { encoding: 'utf8' });
  } catch (e) {
    return '';
  }
  if (files !== quillonKept.files) {
    quillonKept.files = files;
    quillonKept.code = UTF8ToString(_quillon_kept_run());
  }
  return quillonKept.code;
}
setInterval(function () {
  var none = !runtimeInitialized || !quillonKeptRun();
  if (runs.classList.contains('none') !== none) runs.classList.toggle('none', none);
}, 1000);
document.getElementById('share').addEventListener('click', function () {
  var code = quillonKeptRun();
  if (location.protocol === 'file:') {
    // A link to a file on this device opens nothing anywhere else: the code is what travels.
    Module.quillonShareLink = '';
    Module.quillonNotice('This page is a file on this device, so a link to it opens nowhere else. The run\u2019s code: ' + code);
    Module.canvas.focus();
    return;
  }
  var link = location.href.split('#')[0] + '#run=' + code;
  Module.quillonShareLink = link;
  var said = function () { Module.quillonNotice('Link copied: anyone who opens it watches this run.'); };
  var shown = function () { Module.quillonNotice('Copy this link to share the run: ' + link); };
  if (navigator.clipboard && navigator.clipboard.writeText) navigator.clipboard.writeText(link).then(said, shown);
  else shown();
  Module.canvas.focus();
});
// A shared link's run plays once the title has shown, and then the title is the player's: the
// address loses its run, so a reload doesn't play it again. A new #run= in an open tab plays too.
var quillonSharedRun = '';
var quillonSharedProblem = '';
function quillonTakeSharedRun() {
  if (location.hash.indexOf('#run=') !== 0) return;
  var text = location.hash.slice(5);
  history.replaceState(null, '', location.href.split('#')[0]);
  try {
    quillonSharedRun = decodeURIComponent(text);
  } catch (e) {
    quillonSharedRun = '';
    quillonSharedProblem = 'the link is damaged';
  }
  quillonWatchShared();
}
function quillonWatchShared() {
  if (!quillonSharedRun && !quillonSharedProblem) return;
  if (!Module.quillonPresented) {
    setTimeout(quillonWatchShared, 200);
    return;
  }
  var problem = quillonSharedProblem || 'the code is too long';
  // A code too long to be one is not even handed over.
  if (!quillonSharedProblem && quillonSharedRun.length <= 65536) {
    var bytes = new TextEncoder().encode(quillonSharedRun);
    HEAPU8.set(bytes, _quillon_watch_buffer(bytes.length));
    problem = UTF8ToString(_quillon_watch());
  }
  quillonSharedRun = quillonSharedProblem = '';
  if (problem) Module.quillonNotice('This run can\u2019t be played: ' + problem + '.');
}
window.addEventListener('hashchange', quillonTakeSharedRun);
// For the board's script: the day's kept daily run, and a board entry's run to watch.
Module.quillonDailyRun = function () { return runtimeInitialized ? UTF8ToString(_quillon_daily_run()) : ''; };
Module.quillonWatchCode = function (code) {
  quillonSharedRun = code;
  quillonWatchShared();
};
quillonTakeSharedRun();
