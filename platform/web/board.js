// The day's board, under the picture: fetched by the page only where a quillon-board serves it,
// and shown only once the board has answered (offline, the page stays as it is everywhere else).
// The top ten and the player's own place; the daily run just played, posted under a name the
// page remembers; a code from the desktop pasted and posted; any entry watched in the picture.
// Names are other players' words: they are only ever set as text.
(function () {
  var lines = document.getElementById('lines');
  var box = document.createElement('details');
  box.id = 'board';
  box.innerHTML = '<summary>Daily board</summary><ol id="board-list"></ol>' +
    '<form><input id="board-code" size="28" placeholder="Paste a run code" aria-label="A daily run\u2019s code to post">' +
    '<button type="submit">Post the code</button></form>';
  // Forms: Enter in a field posts (the page keeps keys typed in a field from the game, and so
  // from any listener; a form's own submission still comes).
  var post = document.createElement('form');
  post.id = 'board-post';
  post.hidden = true;
  post.innerHTML = '<input id="board-name" size="14" maxlength="24" placeholder="Your name" aria-label="Your name on the board">' +
    '<button type="submit">Post your daily run</button>';
  var said = document.createElement('p');
  said.id = 'board-said';
  said.setAttribute('role', 'status');
  var list = box.querySelector('ol'), name = post.querySelector('input');
  var style = document.createElement('style');
  style.textContent = '#board summary { cursor: pointer; pointer-events: auto; } #lines form { margin: 3px; } #board ol { margin: 2px auto; padding: 0; ' +
    'list-style: none; } #board li button { margin-left: 6px; } #lines input { background: #000; color: #9c9; ' +
    'border: 1px solid #363; font: 13px sans-serif; }';
  document.head.appendChild(style);
  try {
    name.value = localStorage.getItem('quillon-name') || '';
  } catch (e) {
  }
  var day = new Date().toISOString().slice(0, 10), posted = '';
  function today() { return new Date().toISOString().slice(0, 10); }
  function focusGame() { if (Module.canvas) Module.canvas.focus(); }

  function show(entries) {
    list.textContent = '';
    var mine = name.value.trim();
    entries.forEach(function (e, i) {
      if (i >= 10 && e.name !== mine) return;
      var item = document.createElement('li');
      item.textContent = e.rank + '. ' + e.name + ' \u2013 ' + e.score;
      if (e.name === mine) item.style.fontWeight = 'bold';
      var watch = document.createElement('button');
      watch.type = 'button';
      watch.textContent = 'Watch';
      watch.setAttribute('aria-label', 'Watch ' + e.name + '\u2019s run');
      watch.addEventListener('click', function () {
        Module.quillonWatchCode(e.code);
        focusGame();
      });
      item.appendChild(watch);
      list.appendChild(item);
    });
    if (!entries.length) list.appendChild(document.createElement('li')).textContent = 'No daily run posted yet for ' + day + '.';
    if (window.fit) fit();
  }
  function refresh() {
    fetch('api/board/' + day, { cache: 'no-store' }).then(function (r) { return r.json(); })
      .then(function (body) {
        if (!body.entries) return;
        if (!box.parentNode) {
          lines.appendChild(post);
          lines.appendChild(box);
          lines.appendChild(said);
        }
        show(body.entries);
      }, function () {});
  }
  function send(code) {
    var who = name.value.trim();
    if (!who) {
      said.textContent = 'Give a name for the board first.';
      name.focus();
      return;
    }
    try {
      localStorage.setItem('quillon-name', who);
    } catch (e) {
    }
    fetch('api/runs', { method: 'POST', headers: { 'Content-Type': 'application/json' },
                        body: JSON.stringify({ name: who, code: code }) })
      .then(function (r) { return r.json().then(function (body) { return [r.ok, body]; }); })
      .then(function (answer) {
        var body = answer[1];
        if (!answer[0]) {
          said.textContent = 'Not posted: ' + (body.error || 'the board said no') + '.';
          return;
        }
        posted = code;
        post.hidden = true;
        day = body.day;
        said.textContent = 'Posted: ' + body.score + ' points, place ' + body.rank + ' on ' + body.day + '.';
        box.open = true;
        refresh();
      }, function () { said.textContent = 'The board could not be reached: try again.'; })
      .then(function () { if (window.fit) fit(); });
  }
  post.addEventListener('submit', function (event) {
    event.preventDefault();
    send(Module.quillonDailyRun());
  });
  box.querySelector('form').addEventListener('submit', function (event) {
    event.preventDefault();
    var code = box.querySelector('form input').value.trim();
    if (code) send(code);
  });
  box.addEventListener('toggle', function () { if (window.fit) fit(); });
  // A daily run kept and not posted yet is offered; a new day shows its own board.
  setInterval(function () {
    var code = Module.quillonDailyRun ? Module.quillonDailyRun() : '';
    var offer = !!code && code !== posted;
    if (post.hidden === offer) {
      post.hidden = !offer;
      if (window.fit) fit();
    }
    if (today() !== day && !posted) {
      day = today();
      refresh();
    }
  }, 1000);
  setInterval(refresh, 30000);
  refresh();
})();
