// As large as the window allows, by a whole number of device pixels a game pixel, placed on
// whole device pixels, so every pixel stays one crisp block. A window too small even for one
// device pixel a game pixel gets the picture shrunk to fit: a little soft, never cut off.
var touch = matchMedia('(pointer: coarse)');
var pads = { low: document.getElementById('low'), high: document.getElementById('high') };
var runs = document.getElementById('runs');
function fit() {
  var ratio = window.devicePixelRatio || 1;
  var room = document.documentElement;
  var width = room.clientWidth, height = room.clientHeight;
  // On a touch screen the two jump buttons take a strip for the thumbs: beside the picture
  // in landscape (low on the left, high on the right), below it in portrait.
  document.body.classList.toggle('touch', touch.matches);
  var help = document.getElementById('help');
  var upright = touch.matches && width <= height;
  var kept = !runs.classList.contains('none');
  var words = touch.matches ? 'Tap the picture to start; the left button jumps low, the right one high.' +
                              (upright ? ' Turn the phone for a bigger picture.' : '')
                            : 'Enter starts a game and makes the car jump high; Space makes it jump low. ' +
                              'D: the daily run. ' + (kept ? 'W: watch the best run. S: share it. ' : '') + 'F11: full screen.';
  // Only a change: the lines are watched, and every write would call for another fit.
  if (help.textContent !== words) help.textContent = words;
  var side = 0, below = 0;
  if (touch.matches && !upright) {
    side = Math.max(88, Math.round(width * 0.16));
    place(pads.low, 0, 0, side, height);
    place(pads.high, width - side, 0, side, height);
  } else if (touch.matches) {
    below = Math.max(110, Math.round(height * 0.22));
    place(pads.low, 0, height - below, width / 2, below);
    place(pads.high, width / 2, height - below, width / 2, below);
  }
  var across = Math.floor((width - 2 * side) * ratio), down = Math.floor((height - below) * ratio);
  var scale = Math.min(Math.floor(across / 425), Math.floor(down / 300));
  var shrink = Math.min(across / 425, down / 300);
  // On a dense screen (a phone's) a whole scale that leaves much of the room empty gives way to
  // one that fills it: at two device pixels a CSS pixel or more, a game pixel one device pixel
  // wider than its neighbour can't be seen. Elsewhere whole scales keep every pixel alike.
  var fractional = scale < 1 || (ratio >= 2 && scale / shrink < 0.8);
  var w = fractional ? Math.max(1, Math.floor(425 * shrink)) : 425 * scale;
  var h = fractional ? Math.max(1, Math.floor(300 * shrink)) : 300 * scale;
  // The full-screen button: over the picture's corner, or in the bar below it when upright,
  // where the lines leave it room.
  var full = document.getElementById('full');
  full.style.right = side + 6 + 'px';
  var edge = upright ? full.offsetWidth + 12 + 'px' : side ? side + 'px' : '';
  lines.style.left = lines.style.right = edge;
  // The lines go in the bar below the picture, measured there afresh each time (so a layout is
  // the same however often it is made); the picture rises to make room for them. Where even
  // that leaves too little, they sit at the bottom over the picture, and the help line goes.
  lines.className = '';
  lines.style.top = lines.style.bottom = '';
  var need = Math.ceil(lines.offsetHeight * ratio);
  // Upright, the picture sits at the top, the thumbs' buttons at the bottom.
  var left = Math.floor((across - w) / 2) + Math.round(side * ratio);
  var top = upright ? 0 : Math.max(0, Math.min(Math.floor((down - h) / 2), down - h - need));
  // Layout keeps CSS pixels in 64ths, and a corner that lands a hair before a device pixel
  // shifts game columns by one: the corner goes on a step both count exactly. The canvas keeps
  // its own size and is scaled as a whole: a box of a fractional CSS size would be drawn a
  // device pixel wider or narrower than the picture, one game column too many or too few.
  var step = 1;
  for (var m = 1; m <= 1024; m++) {
    if (Math.abs(m * ratio / 64 - Math.round(m * ratio / 64)) < 1e-6) { step = m / 64; break; }
  }
  var last = Math.round(side * ratio) + across - w;
  left = Math.round(left / ratio / step) * step * ratio;
  if (left > last) left -= step * ratio;
  top = Math.floor(top / ratio / step) * step * ratio;
  canvas.style.transform = 'scale(' + w / 425 / ratio + ',' + h / 300 / ratio + ')';
  canvas.style.left = left / ratio + 'px';
  canvas.style.top = top / ratio + 'px';
  full.style.top = upright ? (top + h) / ratio + 6 + 'px' : '6px';
  if (down - top - h < need) {
    lines.className = 'cramped';
    lines.style.bottom = below + 'px';
  } else {
    lines.style.top = (top + h) / ratio + 'px';
  }
  canvas.dataset.scale = fractional ? shrink : scale;
  // A change of device pixels a CSS pixel (a zoom, another screen) comes without a resize.
  if (fit.ratio !== ratio) {
    fit.ratio = ratio;
    // Held on to: a query nobody holds is collected with its listener.
    if (fit.query) fit.query.removeEventListener('change', fit);
    fit.query = matchMedia('(resolution: ' + ratio + 'dppx)');
    fit.query.addEventListener('change', fit);
  }
}
function place(element, left, top, width, height) {
  element.style.left = left + 'px';
  element.style.top = top + 'px';
  element.style.width = width + 'px';
  element.style.height = height + 'px';
}
function fullScreen() {
  if (document.fullscreenElement) {
    document.exitFullscreen();
  } else if (document.documentElement.requestFullscreen) {
    document.documentElement.requestFullscreen().catch(function () {});
  }
  canvas.focus();
}
window.addEventListener('resize', fit);
new MutationObserver(fit).observe(lines, { childList: true, subtree: true, characterData: true });
// The best run's buttons come and go by a class.
new MutationObserver(fit).observe(runs, { attributes: true, attributeFilter: ['class'] });
document.addEventListener('fullscreenchange', fit);
touch.addEventListener('change', fit);
document.getElementById('full').addEventListener('click', fullScreen);
fit();
