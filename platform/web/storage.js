// The game's folder, /quillon/, lives in memory and is kept in the browser's IndexedDB, in the
// layout Emscripten's IDBFS gives it (so a best stored by an earlier build is still read).
// The stored file is brought in while the WebAssembly loads. Where the browser takes longer than
// about three seconds, the game starts all the same ('late'): nothing is stored until the stored
// best has been read, and when it comes, however late, the game is told and keeps the larger;
// meanwhile a round's best waits where the browser writes at once, for this visit's storage or
// the next visit's. A browser that refuses storage leaves the folder in memory: the best score
// then holds for this visit, the page says so, and nothing is ever written over what could not
// be read.
var QUILLON_DB = '/quillon', QUILLON_STORE = 'FILE_DATA', QUILLON_FILE = '/quillon/Quillon.ini';
var QUILLON_RUN = '/quillon/Quillon.run';
// A file's record, as IDBFS keeps it.
var QUILLON_FILE_MODE = 33206;

Module.quillonStatus = function (text) {
  var line = document.getElementById('status');
  if (line) line.textContent = text;
};
Module.quillonNotice = function (text) {
  var line = document.getElementById('notice');
  if (line) line.textContent = text;
};

Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  FS.mkdir('/quillon');
  Module.quillonStorage = 'pending';
  addRunDependency('quillon-storage');
  var slow = setTimeout(function () { Module.quillonStatus('Waiting for the browser\u2019s storage\u2026'); }, 1000);
  // The player is not held up for longer: play starts, the best follows when it comes.
  var late = setTimeout(function () {
    Module.quillonStorage = 'late';
    Module.quillonNotice('The best score is still loading\u2026');
    removeRunDependency('quillon-storage');
  }, 3000);
  // Long enough for any browser that will answer soon: the player hears what is going on, and
  // the page goes on waiting.
  var never = setTimeout(function () {
    Module.quillonNotice('The browser\u2019s storage has not answered yet: a new best score waits on this page and is stored once it does.');
  }, 30000);
  function done(db, state) {
    var was = Module.quillonStorage;
    if (was !== 'pending' && was !== 'late') return;
    clearTimeout(slow);
    clearTimeout(late);
    clearTimeout(never);
    Module.quillonDb = db;
    Module.quillonStorage = state;
    Module.quillonNotice(state === 'browser' ? ''
      : 'This browser keeps no data for this page: the best score lasts only for this visit.');
    if (was === 'pending') removeRunDependency('quillon-storage');
    else Module._quillon_storage_ready();
  }
  try {
    var request = indexedDB.open(QUILLON_DB, 21);
    request.onupgradeneeded = function () {
      var store = request.result.objectStoreNames.contains(QUILLON_STORE)
        ? request.transaction.objectStore(QUILLON_STORE) : request.result.createObjectStore(QUILLON_STORE);
      if (!store.indexNames.contains('timestamp')) store.createIndex('timestamp', 'timestamp', { unique: false });
    };
    request.onerror = function (event) { event.preventDefault(); done(null, 'memory'); };
    request.onblocked = function () { done(null, 'memory'); };
    request.onsuccess = function () {
      var db = request.result;
      try {
        var waiting = function () { return Module.quillonStorage === 'pending' || Module.quillonStorage === 'late'; };
        quillonLoad(db, waiting, function () { done(db, 'browser'); }, function () { done(null, 'memory'); });
      } catch (e) {
        done(null, 'memory');
      }
    };
  } catch (e) {
    done(null, 'memory');
  }
  // What an earlier visit meant to store when it went away before its write had ended: the
  // game rolls it forward if it is whole and better than what is stored.
  try {
    var pending = localStorage.getItem('quillon-pending');
    if (pending !== null) {
      var bytes = new Uint8Array(pending.length);
      for (var i = 0; i < pending.length; i++) bytes[i] = pending.charCodeAt(i) & 255;
      FS.writeFile(QUILLON_FILE + '.new', bytes);
    }
  } catch (e) {
  }
});

// The best and the run kept with it, read together into the folder in memory.
// `still` says when they come whether they are still wanted.
function quillonLoad(db, still, then, failed) {
  var files = db.transaction([QUILLON_STORE], 'readonly').objectStore(QUILLON_STORE);
  var get = files.get(QUILLON_FILE), run = files.get(QUILLON_RUN);
  run.onsuccess = function () {
    if (!still()) return;
    if (get.result && get.result.contents) FS.writeFile(QUILLON_FILE, get.result.contents);
    if (run.result && run.result.contents) FS.writeFile(QUILLON_RUN, run.result.contents);
    then();
  };
  get.onerror = run.onerror = function (event) { event.preventDefault(); failed(); };
}

// A best another tab stored: this one reads it in, and the game measures its round against it.
var quillonTabs = typeof BroadcastChannel === 'function' ? new BroadcastChannel('quillon') : null;
if (quillonTabs) quillonTabs.onmessage = function () {
  if (Module.quillonStorage !== 'browser') return;
  try {
    quillonLoad(Module.quillonDb, function () { return true; }, function () { Module._quillon_storage_ready(); }, function () {});
  } catch (e) {
  }
};

// One write: the read, the game's decision and the put in a single transaction, so that a
// larger best another tab stored in the meantime is seen and kept; the run kept with the best
// (`companion`) is read, decided and put in the same one, after it.
Module.quillonTransact = function (context, path, companion) {
  var outcome = -1;
  function end() {
    Module.quillonPending = null;
    try { localStorage.removeItem('quillon-pending'); } catch (e) { }
    Module._quillon_transaction_done(context, outcome);
  }
  try {
    var transaction = Module.quillonDb.transaction([QUILLON_STORE], 'readwrite');
    var store = transaction.objectStore(QUILLON_STORE);
    var paths = companion ? [path, companion] : [path];
    var gets = paths.map(function (p) { return store.get(p); });
    var written = [];
    gets[gets.length - 1].onsuccess = function () {
      outcome = 0;
      paths.forEach(function (p, i) {
        var now = gets[i].result && gets[i].result.contents ? gets[i].result.contents : null;
        if (now) HEAPU8.set(now, Module._quillon_transaction_buffer(context, now.length));
        var length = Module._quillon_transaction_change(context, now ? 1 : 0, i);
        var text = now;
        if (length >= 0) {
          var at = Module._quillon_transaction_result(context);
          text = HEAPU8.slice(at, at + length);
          store.put({ timestamp: new Date(), mode: QUILLON_FILE_MODE, contents: text }, p);
          if (i === 0) outcome = 1;
        }
        if (text) written.push([p, text]);
      });
    };
    // The folder in memory follows what is stored, once it is.
    transaction.oncomplete = function () {
      written.forEach(function (w) { FS.writeFile(w[0], w[1]); });
      if (outcome > 0 && quillonTabs) quillonTabs.postMessage(1);
      end();
    };
    transaction.onabort = transaction.onerror = function (event) {
      if (event) event.preventDefault();
      outcome = -1;
      end();
    };
  } catch (e) {
    end();
  }
};

// A page hidden or left while a write is still on its way keeps what it meant to store where
// the browser writes at once.
function quillonKeepPending() {
  if (!Module.quillonPending) return;
  try {
    var text = '';
    for (var i = 0; i < Module.quillonPending.length; i++) text += String.fromCharCode(Module.quillonPending[i]);
    localStorage.setItem('quillon-pending', text);
  } catch (e) {
  }
}
addEventListener('pagehide', quillonKeepPending);
addEventListener('visibilitychange', function () { if (document.visibilityState === 'hidden') quillonKeepPending(); });
