// Brings the game's folder in from the browser's storage while the WebAssembly still loads,
// so the stored best score is there when the game reads it. A browser that refuses storage,
// or never answers, leaves a folder in memory: the best score then holds for this visit.
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  Module.quillonStorage = 'pending';
  addRunDependency('quillon-storage');
  function done(state) {
    if (Module.quillonStorage !== 'pending') return;
    Module.quillonStorage = state;
    removeRunDependency('quillon-storage');
  }
  try {
    FS.mkdir('/quillon');
    FS.mount(IDBFS, {}, '/quillon');
    FS.syncfs(true, function (error) { done(error ? 'memory' : 'browser'); });
  } catch (e) {
    done('memory');
  }
  setTimeout(function () { done('memory'); }, 3000);
});
