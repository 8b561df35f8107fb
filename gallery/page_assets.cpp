// The gallery page's style sheet and script: plain CSS and JavaScript served
// by the service itself, so that a guest's browser asks nothing of anyone else.
#include "server_internal.h"

namespace keepframe::gallery {

const char* const kPageStyle = R"css(
*{box-sizing:border-box}
[hidden]{display:none!important}
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;background:#14110f;color:#eee;margin:0;
line-height:1.45}
a{color:#e8b86d}
h1{font-weight:400;font-size:1.9em;margin:0 0 .2em}
h2{font-weight:400;font-size:1.3em;margin:0 0 .4em}
.login{max-width:26em;margin:12vh auto;padding:0 1.2em}
.login form{margin:2em 0;display:flex;gap:.5em;flex-wrap:wrap}
input,button,.button{font:inherit;font-size:1.05em;padding:.55em .9em;border-radius:6px}
input[type=password]{flex:1 1 12em;border:1px solid #555;background:#221d1a;color:#eee}
button,.button{background:#e8b86d;color:#14110f;border:0;cursor:pointer;text-decoration:none;display:inline-block}
.button.quiet,button.quiet{background:transparent;color:#e8b86d;border:1px solid #e8b86d}
.note{color:#f09a8a}
.top{display:flex;flex-wrap:wrap;align-items:flex-end;justify-content:space-between;gap:1em;padding:1.4em 1.2em .6em}
.studio p{margin:0;color:#bbb}
.studio a{white-space:nowrap}
.cover{margin:0;height:42vh;min-height:12em;max-height:32em;background:#000}
.cover img{width:100%;height:100%;object-fit:cover;object-position:50% 30%;display:block}
.find{margin:1.2em;padding:1em 1.2em;background:#201b18;border-radius:8px;max-width:48em}
.find p{margin:.3em 0 .8em;color:#ccc}
.find .about{font-size:.9em;color:#aaa}
.find .status{color:#eee;font-weight:600}
.find .status.problem{color:#f09a8a}
.grid{display:flex;flex-wrap:wrap;gap:4px;padding:4px 1.2em 3em}
.grid a{display:block;background:#2a2420;overflow:hidden}
.grid img{width:100%;height:100%;object-fit:cover;display:block}
.empty{padding:1em 1.2em;color:#bbb}
.viewer{position:fixed;inset:0;background:#000;z-index:10;display:flex;align-items:center;
justify-content:center;touch-action:pan-y;padding-bottom:3.4em}
.viewer[hidden]{display:none}
.viewer img{max-width:100vw;max-height:calc(100vh - 3.6em);object-fit:contain;user-select:none}
.viewer .nav{position:absolute;top:50%;transform:translateY(-50%);background:rgba(20,17,15,.6);color:#eee;
font-size:2em;width:1.6em;height:1.6em;padding:0;border-radius:50%;line-height:1}
.viewer .prev{left:.4em}.viewer .next{right:.4em}
.viewer .close{position:absolute;top:.4em;right:.4em;background:rgba(20,17,15,.6);color:#eee;font-size:1.6em;
width:1.7em;height:1.7em;padding:0;border-radius:50%;line-height:1}
.viewer .bar{position:absolute;bottom:0;left:0;right:0;display:flex;justify-content:space-between;
align-items:center;gap:1em;padding:.6em 1em;color:#ccc}
@media (max-width:600px){h1{font-size:1.5em}.top{padding:1em .8em .6em}.cover{height:28vh;min-height:9em}
.grid{padding:4px 4px 3em}.find{margin:.8em .5em;padding:.8em}.viewer .nav{display:none}}
)css";

const char* const kPageScript = R"js('use strict';
(function () {
  const root = document.getElementById('gallery');
  if (!root) return;
  const slug = root.dataset.slug;
  const base = '/gallery/' + encodeURIComponent(slug);
  const grid = document.getElementById('grid');
  const viewer = document.getElementById('viewer');
  const viewerImage = document.getElementById('viewer-image');
  const viewerName = document.getElementById('viewer-name');
  const viewerDownload = document.getElementById('viewer-download');
  let photos = [];   // every photograph of the gallery, in the photographer's order
  let shown = [];    // what the grid shows: all, or the matches of a search
  let current = -1;  // the index in `shown` the viewer shows

  const image = (p, kind) => base + '/image/' + p.file_id + '/' + kind;

  // Rows of equal height that fill the width: photographs are added to a row
  // until it is wider than the page at the target height, then scaled to fit.
  function layout() {
    grid.textContent = '';
    if (shown.length === 0) return;
    const width = grid.clientWidth - parseFloat(getComputedStyle(grid).paddingLeft) -
                  parseFloat(getComputedStyle(grid).paddingRight);
    const target = window.innerWidth <= 600 ? 130 : 230;
    const gap = 4;
    let row = [];
    let ratios = 0;
    const place = (items, sum, last) => {
      const height = last ? Math.min(target, (width - gap * (items.length - 1)) / sum)
                          : (width - gap * (items.length - 1)) / sum;
      for (const i of items) {
        const p = shown[i];
        const cell = document.createElement('a');
        cell.href = image(p, 'large');
        cell.dataset.index = String(i);
        cell.style.width = Math.floor(ratio(p) * height) + 'px';
        cell.style.height = Math.floor(height) + 'px';
        const img = document.createElement('img');
        img.loading = 'lazy';
        img.src = image(p, 'small');
        img.alt = p.filename;
        cell.appendChild(img);
        cell.addEventListener('click', (e) => { e.preventDefault(); open(i); });
        grid.appendChild(cell);
      }
    };
    shown.forEach((p, i) => {
      row.push(i);
      ratios += ratio(p);
      if (ratios * target + gap * (row.length - 1) >= width) {
        place(row, ratios, false);
        row = [];
        ratios = 0;
      }
    });
    if (row.length) place(row, ratios, true);
  }
  const ratio = (p) => (p.width > 0 && p.height > 0 ? p.width / p.height : 1.5);

  function open(i) {
    current = (i + shown.length) % shown.length;
    const p = shown[current];
    viewerImage.src = image(p, 'large');
    viewerImage.alt = p.filename;
    viewerName.textContent = p.filename + '  ·  ' + (current + 1) + ' / ' + shown.length;
    if (viewerDownload) viewerDownload.href = base + '/photo/' + p.file_id + '?download=1';
    viewer.hidden = false;
    document.body.style.overflow = 'hidden';
    for (const next of [current + 1, current - 1]) {  // the neighbours, ready for the next step
      const q = shown[(next + shown.length) % shown.length];
      new Image().src = image(q, 'large');
    }
  }
  function close() {
    viewer.hidden = true;
    document.body.style.overflow = '';
    current = -1;
  }
  document.getElementById('viewer-prev').addEventListener('click', () => open(current - 1));
  document.getElementById('viewer-next').addEventListener('click', () => open(current + 1));
  document.getElementById('viewer-close').addEventListener('click', close);
  document.addEventListener('keydown', (e) => {
    if (viewer.hidden) return;
    if (e.key === 'ArrowLeft') open(current - 1);
    else if (e.key === 'ArrowRight') open(current + 1);
    else if (e.key === 'Escape') close();
    else return;
    e.preventDefault();
  });
  let touchX = null;
  let touchY = null;
  viewer.addEventListener('touchstart', (e) => {
    touchX = e.changedTouches[0].clientX;
    touchY = e.changedTouches[0].clientY;
  }, {passive: true});
  viewer.addEventListener('touchend', (e) => {
    if (touchX === null) return;
    const dx = e.changedTouches[0].clientX - touchX;
    const dy = e.changedTouches[0].clientY - touchY;
    touchX = null;
    if (Math.abs(dx) > 50 && Math.abs(dx) > Math.abs(dy)) open(current + (dx < 0 ? 1 : -1));
    else if (dy > 80 && Math.abs(dy) > Math.abs(dx)) close();
  });

  let resizeTimer = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(layout, 100);
  });

  // "Find my photos": the selfie goes to the service as a JPEG (a photo of
  // another kind is turned into one here first) and the grid shows the matches.
  const selfie = document.getElementById('selfie');
  const status = document.getElementById('find-status');
  const showAll = document.getElementById('show-all');
  function say(text, problem) {
    status.textContent = text;
    status.classList.toggle('problem', !!problem);
  }
  async function asJpeg(file) {
    if (file.type === 'image/jpeg') return file;
    const bitmap = await createImageBitmap(file);
    const scale = Math.min(1, 2000 / Math.max(bitmap.width, bitmap.height));
    const canvas = document.createElement('canvas');
    canvas.width = Math.round(bitmap.width * scale);
    canvas.height = Math.round(bitmap.height * scale);
    canvas.getContext('2d').drawImage(bitmap, 0, 0, canvas.width, canvas.height);
    return new Promise((resolve, reject) =>
      canvas.toBlob((b) => (b ? resolve(b) : reject(new Error('no JPEG'))), 'image/jpeg', 0.9));
  }
  if (selfie) {
    selfie.addEventListener('change', async () => {
      const file = selfie.files[0];
      selfie.value = '';
      if (!file) return;
      say('Looking for you in ' + photos.length + ' photos…', false);
      try {
        const body = await asJpeg(file);
        const reply = await fetch(base + '/face-search', {
          method: 'POST', body: body, credentials: 'same-origin', headers: {'Content-Type': 'image/jpeg'}});
        const answer = await reply.json().catch(() => ({}));
        if (!reply.ok) {
          say(answer.detail || 'The search did not work. Try again.', true);
          return;
        }
        const byId = new Map(photos.map((p) => [p.file_id, p]));
        shown = answer.matches.map((m) => byId.get(m.file_id)).filter((p) => p);
        say(shown.length === 0 ? 'You were not found in this gallery\'s photos.'
                               : 'You are in ' + shown.length + (shown.length === 1 ? ' photo' : ' photos') +
                                 ', best match first.', false);
        showAll.hidden = false;
        layout();
        status.scrollIntoView({block: 'start'});
      } catch (err) {
        say('This photo cannot be used. Take a selfie or choose a JPEG photo.', true);
      }
    });
    showAll.addEventListener('click', () => {
      shown = photos;
      showAll.hidden = true;
      say('', false);
      layout();
    });
  }

  fetch(base + '/photos.json', {credentials: 'same-origin'})
    .then((r) => (r.ok ? r.json() : Promise.reject(new Error(r.status))))
    .then((answer) => {
      photos = answer.photos;
      shown = photos;
      root.dataset.count = String(photos.length);
      layout();
      root.classList.add('ready');
    })
    .catch(() => {
      grid.textContent = 'The photos could not be loaded. Reload the page to try again.';
    });
})();
)js";

}  // namespace keepframe::gallery
