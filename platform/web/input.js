// The game's key codes (game/Input.h: kKeyEnter, kKeySpace, kKeyWatch).
var KEY_ENTER = 13, KEY_SPACE = 32, KEY_WATCH = 87, KEY_DAILY = 68;
// A press from the page: the game takes it as the key it stands for.
function press(code) {
  if (Module._quillon_press) Module._quillon_press(code);
}
// Pointer events answer at once; the default would wait for a double tap or select text.
function padFor(element, code) {
  element.addEventListener('pointerdown', function (event) {
    event.preventDefault();
    element.classList.add('down');
    press(code);
  });
  for (var name of ['pointerup', 'pointercancel', 'pointerleave']) {
    element.addEventListener(name, function () { element.classList.remove('down'); });
  }
  element.addEventListener('contextmenu', function (event) { event.preventDefault(); });
  // Pressed from the keyboard (a click with no pointer behind it).
  element.addEventListener('click', function (event) { if (event.detail === 0) press(code); });
}
padFor(pads.low, KEY_SPACE);
padFor(pads.high, KEY_ENTER);
// A double-click asks for full screen; taps are jumps, however fast they come.
var lastPointer = 'mouse';
canvas.addEventListener('pointerdown', function (event) {
  lastPointer = event.pointerType;
  if (event.button === 0) press(KEY_ENTER);
});
document.addEventListener('contextmenu', function (event) { event.preventDefault(); });
// Gamepads with the standard mapping, any number of them, plugged in or out at any time. The
// face buttons as game/Input.h's KeyForPadButton maps them: bottom (0) starts and jumps high,
// right (1) and left (2) jump low, top (3) watches the best run, Start (9) plays the day's round.
// Read only once the browser has said a pad is there: asking costs each frame.
var padButtons = {}, padsSeen = false;
window.addEventListener('gamepadconnected', function () { padsSeen = true; });
function readPads() {
  if (!padsSeen) return;
  var all = navigator.getGamepads ? navigator.getGamepads() : [];
  for (var i = 0; i < all.length; i++) {
    var pad = all[i];
    if (!pad || !pad.connected) continue;
    var was = padButtons[pad.index] || [];
    var now = pad.buttons.map(function (b) { return b.pressed; });
    if (now[0] && !was[0]) press(KEY_ENTER);
    if ((now[1] && !was[1]) || (now[2] && !was[2])) press(KEY_SPACE);
    if (now[3] && !was[3]) press(KEY_WATCH);
    if (now[9] && !was[9]) press(KEY_DAILY);
    padButtons[pad.index] = now;
  }
}
// Enter or Space on a focused control presses it, and typing in a field types, not the game: the game's own listener, later
// on the window, never hears it.
window.addEventListener('keydown', function (event) {
  var on = event.target.tagName;
  if (on === 'INPUT' || (on === 'BUTTON' && (event.key === 'Enter' || event.key === ' '))) event.stopImmediatePropagation();
}, true);
// F11 and a double-click give the page the whole screen; Escape leaves it, as always. S shares
// the best run. Keys that would scroll the page never do: the game's page stays where it is.
var scrolling = ['ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight', 'PageUp', 'PageDown', 'Home', 'End', ' '];
window.addEventListener('keydown', function (event) {
  if (event.key === 'F11') {
    event.preventDefault();
    fullScreen();
  } else if (event.code === 'KeyS' && !event.repeat && !event.ctrlKey && !event.metaKey && !event.altKey &&
             !runs.classList.contains('none')) {
    document.getElementById('share').click();
  } else if (scrolling.indexOf(event.key) >= 0) {
    event.preventDefault();
  }
});
canvas.addEventListener('dblclick', function () {
  if (lastPointer === 'mouse') fullScreen();
});
canvas.addEventListener('click', function () { canvas.focus(); });
canvas.focus();
// The best run: its buttons, and a shared link's run, are runs.js's (inside the game's script).
document.getElementById('watch').addEventListener('click', function () {
  press(KEY_WATCH);
  canvas.focus();
});
document.getElementById('daily').addEventListener('click', function () {
  press(KEY_DAILY);
  canvas.focus();
});
// The board's controls come only from a board, and only once it has answered (board.js).
function boardScript() {
  var script = document.createElement('script');
  script.src = 'board.js';
  document.body.appendChild(script);
}
