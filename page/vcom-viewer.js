/*
 * Viewer and gallery: a file the browser can show opens inside the page (images, video, audio,
 * texts, PDF), with previous/next through the folder's viewable files, swipes and arrow keys;
 * a folder that holds photos or videos can be shown as a grid of thumbnails.
 *
 * Files are fetched from "vm-view" and thumbnails from "vm-thumb" (both "file" = hex path, as
 * for downloads). Photos browsers cannot show (HEIC, TIFF, ...; the build lists them in
 * core.converted) are shown as the server converts them ("vm-picture"); before a video is
 * played, its facts ("vm-facts": container and codecs, duration, size) tell whether this browser
 * can play it at all. The server serves only viewable kinds, markup as plain text, each answer
 * sandboxed; here every name goes into the page as text, never as markup.
 */
(function (global) {
  'use strict';
  var core = global.VelmarindCore;
  if (!core) return;
  var el = core.el;

  var T = core.texts({
    close: ['閉じる', 'Close'],
    prev: ['前へ', 'Previous'],
    next: ['次へ', 'Next'],
    download: ['ダウンロード', 'Download'],
    cannotPlay: ['このブラウザでは再生できません。ダウンロードしてご覧ください。',
      'This browser cannot play this file. Download it to view it.'],
    cannotPlayVideo: ['このブラウザではこの動画を再生できません。ダウンロードしてご覧ください。',
      'This browser cannot play this video. Download it to watch it.'],
    cannotShow: ['表示できませんでした。', 'The file could not be shown.'],
    gone: ['「%s」を表示できません。移動または削除された可能性があります。', '"%s" cannot be shown. It may have been moved or deleted.'],
    pdfHint: ['PDF が表示されないときは、上のボタンでダウンロードしてください。',
      'If the PDF does not show, download it with the button above.'],
    cut: ['先頭の部分だけを表示しています。全体はダウンロードしてください。',
      'Only the beginning is shown. Download the file for all of it.'],
    loading: ['読み込み中…', 'Loading…'],
    gallery: ['サムネイル表示', 'Thumbnails'],
    list: ['一覧表示', 'List']
  });

  var VIEW_DOC = 'vm-view';
  var THUMB_DOC = 'vm-thumb';
  var PICTURE_DOC = 'vm-picture';
  var FACTS_DOC = 'vm-facts';
  var DOWNLOAD_DOC = 'download.html';
  var GALLERY_KEY = 'velmarind.gallery';
  // Texts are shown up to this many bytes (a range request); longer ones say so.
  var TEXT_LIMIT = 1 << 20;
  // Thumbnails asked for at once: the server makes two at a time, and the browser keeps its
  // other connections for the rest of the page.
  var THUMBS_IN_FLIGHT = 4;
  // A thumbnail the server was too busy for is asked again after this.
  var THUMB_RETRY_MS = 1000;
  // A horizontal swipe of at least this many pixels steps to the previous or next file.
  var SWIPE_PX = 50;
  // A video's controls lie along its bottom, this high: a sideways drag there seeks.
  var VIDEO_CONTROLS_PX = 56;
  // Tiles go into the grid in batches, as rows go into the listing: a screenful first.
  var FIRST_TILES = 60;
  var TILE_BATCH = 300;
  // Later batches wait for an idle moment, but no longer than this.
  var TILES_WAIT_MS = 150;

  var KINDS = {
    image: ['jpg', 'jpeg', 'jpe', 'jfif', 'png', 'gif', 'webp', 'avif', 'bmp'],
    picture: core.converted || [],
    video: ['mp4', 'm4v', 'webm', 'mov', 'mkv', 'avi', '3gp', 'mts', 'm2ts', 'wmv', 'flv', 'mpg', 'mpeg', 'ogv'],
    audio: ['mp3', 'm4a', 'aac', 'ogg', 'oga', 'opus', 'flac', 'wav'],
    pdf: ['pdf'],
    text: ['txt', 'text', 'md', 'markdown', 'csv', 'tsv', 'log', 'json', 'ini', 'cfg', 'conf', 'toml',
      'yaml', 'yml', 'c', 'h', 'cc', 'cpp', 'cxx', 'hpp', 'hh', 'hxx', 'cs', 'java', 'kt', 'go', 'rs',
      'py', 'rb', 'pl', 'php', 'lua', 'swift', 'm', 'js', 'mjs', 'cjs', 'ts', 'tsx', 'jsx', 'css',
      'scss', 'sh', 'bash', 'zsh', 'bat', 'ps1', 'sql', 'r', 'tex', 'diff', 'patch', 'srt', 'vtt',
      'html', 'htm', 'xhtml', 'xml', 'svg', 'cmake', 'mk', 'gradle', 'properties']
  };
  // Files that are only downloaded, but get an icon of their own in the gallery.
  var ARCHIVES = ['zip', '7z', 'rar', 'tar', 'gz', 'tgz', 'bz2', 'tbz', 'xz', 'txz', 'zst', 'lzh', 'lha', 'cab', 'iso'];
  var kindOfExtension = {};
  Object.keys(KINDS).forEach(function (k) { KINDS[k].forEach(function (x) { kindOfExtension[x] = k; }); });

  function extension(entry) {
    var dot = entry.name.lastIndexOf('.');
    return dot <= 0 ? '' : entry.name.substring(dot + 1).toLowerCase();
  }

  // The viewer's kind of a listing entry, or null for files that are only downloaded.
  function kindOf(entry) {
    if (!entry || entry.dir) return null;
    return kindOfExtension[extension(entry)] || null;
  }

  // Kinds whose tiles get a thumbnail from the server.
  var THUMBNAILED = { image: true, picture: true, video: true };

  // The kind a gallery tile shows: a viewer kind, "dir", "archive" or "file".
  function tileKind(entry) {
    if (entry.dir) return 'dir';
    return kindOf(entry) || (ARCHIVES.indexOf(extension(entry)) >= 0 ? 'archive' : 'file');
  }

  // The file's date and size: an address of one state of the file, which the browser may keep.
  function address(doc, entry) {
    return doc + '?file=' + entry.full + '&v=' + (entry.date || '').replace(/\D/g, '') + '-' + entry.size;
  }

  // ---- the viewer ------------------------------------------------------------

  var viewer = null; // {box, stage, title, count, list, at, view, pushed}

  function iconButton(cls, label, text, onClick) {
    var b = el('button', 'vm-viewer-btn ' + cls, text);
    b.type = 'button';
    b.title = label;
    b.setAttribute('aria-label', label);
    b.addEventListener('click', onClick);
    return b;
  }

  function buildViewer() {
    var box = el('div', 'vm-viewer');
    box.setAttribute('role', 'dialog');
    box.setAttribute('aria-modal', 'true');
    box.tabIndex = -1;
    var bar = el('div', 'vm-viewer-bar');
    var title = el('span', 'vm-viewer-title');
    var count = el('span', 'vm-viewer-count');
    var facts = el('span', 'vm-viewer-facts');
    var save = el('a', 'vm-viewer-btn vm-viewer-save', '⤓');
    save.title = T.download;
    save.setAttribute('aria-label', T.download);
    bar.appendChild(title);
    bar.appendChild(facts);
    bar.appendChild(count);
    bar.appendChild(save);
    bar.appendChild(iconButton('vm-viewer-close', T.close, '✕', function () { closeViewer(); }));
    var stage = el('div', 'vm-viewer-stage');
    var prev = iconButton('vm-viewer-prev', T.prev, '‹', function () { step(-1); });
    var next = iconButton('vm-viewer-next', T.next, '›', function () { step(1); });
    // The buttons have a row of their own below the file, so that they never lie over a
    // player's controls; only a picture, which has none, has them on its sides (style below).
    var foot = el('div', 'vm-viewer-foot');
    foot.appendChild(prev);
    foot.appendChild(next);
    box.appendChild(bar);
    box.appendChild(stage);
    box.appendChild(foot);
    // A swipe anywhere in the viewer steps, the buttons included (a thumb rests there), but
    // not where a player drags sideways itself. The browser's own sideways gestures (Back
    // among them) are off in the viewer (style below).
    var startX = null, startY = 0;
    box.addEventListener('touchstart', function (e) {
      var t = e.touches[0];
      startX = e.touches.length === 1 && !dragsItself(e.target, t) ? t.clientX : null;
      startY = t.clientY;
    }, { passive: true });
    box.addEventListener('touchend', function (e) {
      if (startX === null || !e.changedTouches.length) return;
      var dx = e.changedTouches[0].clientX - startX, dy = e.changedTouches[0].clientY - startY;
      startX = null;
      if (Math.abs(dx) < SWIPE_PX || Math.abs(dx) <= 2 * Math.abs(dy)) return;
      // No click follows on a button where the swipe ended: one step per swipe.
      if (e.cancelable) e.preventDefault();
      step(dx < 0 ? 1 : -1);
    });
    document.body.appendChild(box);
    return { box: box, stage: stage, title: title, facts: facts, count: count, save: save, prev: prev, next: next };
  }

  // Whether a sideways drag that starts here belongs to the element: an audio player is all
  // controls, and a video seeks along its bottom.
  function dragsItself(target, touch) {
    var tag = target && target.tagName;
    if (tag === 'AUDIO') return true;
    return tag === 'VIDEO' && touch.clientY > target.getBoundingClientRect().bottom - VIDEO_CONTROLS_PX;
  }

  // The viewable files of the folder shown, in the listing's order (and filter).
  function viewables(view) {
    return (view.shown || view.sorted || []).filter(function (e) { return kindOf(e) !== null; });
  }

  function openViewer(view, entry) {
    var list = viewables(view);
    var at = list.indexOf(entry);
    if (at < 0) return;
    if (!viewer) viewer = buildViewer();
    var firstOpen = !viewer.open;
    viewer.open = true;
    viewer.list = list;
    viewer.view = view;
    viewer.opener = document.activeElement;
    document.documentElement.classList.add('vm-viewing');
    viewer.box.hidden = false;
    // Back closes the viewer: it adds a history entry of its own, at the same address.
    if (firstOpen && global.history.pushState) {
      global.history.pushState({ vmViewer: true }, '', global.location.href);
      viewer.pushed = true;
    }
    show(at);
    viewer.box.focus();
  }

  function closeViewer(fromHistory) {
    if (!viewer || !viewer.open) return;
    viewer.open = false;
    viewer.stage.textContent = ''; // stops a video or a sound
    viewer.box.hidden = true;
    document.documentElement.classList.remove('vm-viewing');
    if (viewer.pushed && !fromHistory) {
      viewer.pushed = false;
      global.history.back();
    }
    viewer.pushed = false;
    if (viewer.opener && viewer.opener.focus) viewer.opener.focus({ preventScroll: true });
  }

  function step(delta) {
    if (!viewer || !viewer.open) return;
    var to = viewer.at + delta;
    if (to >= 0 && to < viewer.list.length) show(to);
  }

  function note(text) { return el('p', 'vm-viewer-note', text); }

  // Puts in place of the element that failed to show entry why: the file is gone since the
  // listing (asked as the download asks), or else fallback (a text, or a function that makes
  // what is shown instead).
  function explain(entry, failed, fallback) {
    fetch(DOWNLOAD_DOC + '?file=' + entry.full, { method: 'HEAD', cache: 'no-store', credentials: 'same-origin' }).then(function (r) {
      return r.status === 404 || r.status === 410 || r.status === 500;
    }, function () { return false; }).then(function (gone) {
      if (!viewer.open || failed.parentNode !== viewer.stage) return; // another file is shown by now
      // Nothing is left to show: the buttons leave a picture's sides for their row.
      if (gone || typeof fallback !== 'function') {
        viewer.box.setAttribute('data-kind', 'note');
        viewer.stage.replaceChild(note(gone ? T.gone.replace('%s', function () { return entry.name; }) : fallback), failed);
      } else {
        viewer.stage.replaceChild(fallback(), failed);
      }
    });
  }

  function show(at) {
    var entry = viewer.list[at];
    var kind = kindOf(entry);
    var src = address(VIEW_DOC, entry);
    viewer.at = at;
    viewer.title.textContent = entry.name;
    viewer.count.textContent = (at + 1) + ' / ' + viewer.list.length;
    viewer.save.href = DOWNLOAD_DOC + '?file=' + entry.full;
    viewer.save.setAttribute('download', entry.name);
    viewer.prev.disabled = at === 0;
    viewer.next.disabled = at === viewer.list.length - 1;
    var stage = viewer.stage;
    stage.textContent = '';
    // A converted picture is laid out as any picture.
    var look = kind === 'picture' ? 'image' : kind;
    stage.setAttribute('data-kind', look);
    viewer.box.setAttribute('data-kind', look);
    var media;
    viewer.facts.textContent = '';
    if (kind === 'image' || kind === 'picture') {
      media = el('img', 'vm-viewer-image');
      media.alt = entry.name;
      media.addEventListener('error', function () { explain(entry, media, T.cannotShow); });
      media.src = kind === 'image' ? src : address(PICTURE_DOC, entry);
    } else if (kind === 'video') {
      media = el('p', 'vm-viewer-hint', T.loading);
      showVideo(media, entry, src);
    } else if (kind === 'audio') {
      media = player('audio', entry, src, T.cannotPlay);
    } else if (kind === 'pdf') {
      // Some browsers keep their PDF reader out of a sandboxed answer: the way out is said.
      stage.appendChild(el('p', 'vm-viewer-hint', T.pdfHint));
      media = el('iframe', 'vm-viewer-pdf');
      media.title = entry.name;
      media.src = src;
      // The frame shows any answer, a missing file's too: whether it is there is asked apart.
      fetch(src, { method: 'HEAD', credentials: 'same-origin' }).then(function (r) {
        if (!r.ok) explain(entry, media, T.cannotShow);
      }, function () { /* the frame says it */ });
    } else {
      media = el('pre', 'vm-viewer-text', T.loading);
      showText(media, src, entry);
    }
    stage.appendChild(media);
    // The neighbours' images are fetched ahead, so a step shows at once.
    [at - 1, at + 1].forEach(function (k) {
      var near = viewer.list[k];
      var nearKind = kindOf(near);
      if (nearKind === 'image') new Image().src = address(VIEW_DOC, near);
      else if (nearKind === 'picture') new Image().src = address(PICTURE_DOC, near);
    });
  }

  // A player of the file; when it fails, fallback takes its place.
  function player(kind, entry, src, fallback) {
    var media = el(kind, 'vm-viewer-' + kind);
    media.controls = true;
    media.preload = 'metadata';
    if (kind === 'video') {
      media.playsInline = true;
      media.setAttribute('playsinline', '');
    }
    media.addEventListener('error', function () { explain(entry, media, fallback); });
    media.src = src;
    return media;
  }

  // "1:05", "1:02:05".
  function clock(seconds) {
    var s = Math.round(seconds), h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
    var mmss = (h ? String(m).padStart(2, '0') : m) + ':' + String(s % 60).padStart(2, '0');
    return h ? h + ':' + mmss : mmss;
  }

  function factsText(facts) {
    var parts = [];
    if (facts && typeof facts.duration === 'number') parts.push(clock(facts.duration));
    if (facts && facts.width && facts.height) parts.push(facts.width + ' × ' + facts.height);
    return parts.join(' · ');
  }

  // Whether this browser says it can play what the facts describe. A Matroska file is tried
  // when its codecs would play in MP4: browsers read more of it than they admit.
  function playable(facts) {
    var probe = document.createElement('video');
    var codecs = facts.codecs ? '; codecs="' + facts.codecs + '"' : '';
    if (probe.canPlayType(facts.type + codecs)) return true;
    return facts.type === 'video/x-matroska' && probe.canPlayType('video/mp4' + codecs) !== '';
  }

  // What stands in for a video this browser cannot play: its thumbnail, its duration and size,
  // the reason and the way to it.
  function unplayable(entry, facts) {
    var box = el('div', 'vm-viewer-unplayable');
    var poster = el('img', 'vm-viewer-poster');
    poster.alt = '';
    poster.addEventListener('error', function () { poster.remove(); });
    poster.src = address(THUMB_DOC, entry);
    box.appendChild(poster);
    var line = factsText(facts);
    if (line) box.appendChild(el('p', 'vm-viewer-facts-line', line));
    box.appendChild(note(T.cannotPlayVideo));
    var save = el('a', 'vm-btn vm-viewer-download', '⤓ ' + T.download);
    save.href = DOWNLOAD_DOC + '?file=' + entry.full;
    save.setAttribute('download', entry.name);
    box.appendChild(save);
    return box;
  }

  // A video: its facts first, then the player, or what stands in for it. Without facts (the
  // server could not read the container) the player tries, and its error decides.
  function showVideo(waiting, entry, src) {
    fetch(address(FACTS_DOC, entry), { credentials: 'same-origin' }).then(function (r) {
      return r.ok ? r.json() : null;
    }).catch(function () { return null; }).then(function (facts) {
      if (!viewer.open || waiting.parentNode !== viewer.stage) return; // another file is shown by now
      viewer.facts.textContent = factsText(facts);
      var shown = facts && facts.type && !playable(facts) ? unplayable(entry, facts)
        : player('video', entry, src, function () { return unplayable(entry, facts); });
      viewer.stage.replaceChild(shown, waiting);
    });
  }

  // The bytes as text: UTF-8 when they are, else Shift_JIS.
  function decodeText(buf) {
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(buf);
    } catch (e) {
      // A limit may cut a UTF-8 character in two: only its last bytes are then in doubt.
      try { return new TextDecoder('utf-8', { fatal: true }).decode(buf.slice(0, Math.max(0, buf.byteLength - 3))); } catch (e2) { /* not UTF-8 */ }
      try { return new TextDecoder('shift_jis').decode(buf); } catch (e3) { return new TextDecoder('utf-8').decode(buf); }
    }
  }

  function showText(pre, src, entry) {
    var cut = entry.size > TEXT_LIMIT;
    fetch(src, { credentials: 'same-origin', headers: cut ? { Range: 'bytes=0-' + (TEXT_LIMIT - 1) } : {} }).then(function (r) {
      if (!r.ok) throw new Error('HTTP ' + r.status);
      return r.arrayBuffer();
    }).then(function (buf) {
      if (!pre.isConnected) return;
      pre.textContent = decodeText(buf);
      if (cut) pre.parentNode.insertBefore(note(T.cut), pre);
    }, function () {
      if (pre.isConnected) explain(entry, pre, T.cannotShow);
    });
  }

  document.addEventListener('keydown', function (e) {
    if (!viewer || !viewer.open || e.altKey || e.ctrlKey || e.metaKey) return;
    var tag = e.target && e.target.tagName;
    var inMedia = tag === 'VIDEO' || tag === 'AUDIO';
    if (e.key === 'Escape') { e.preventDefault(); closeViewer(); }
    else if (e.key === 'ArrowLeft' && !inMedia) { e.preventDefault(); step(-1); }
    else if (e.key === 'ArrowRight' && !inMedia) { e.preventDefault(); step(1); }
  });
  global.addEventListener('popstate', function () { closeViewer(true); });

  // A plain click on a viewable file opens it here; downloads stay a click away in the row.
  core.on('openFile', function (ask) {
    var ev = ask.event;
    if (ask.handled || kindOf(ask.entry) === null) return;
    if (ev.button !== 0 || ev.ctrlKey || ev.metaKey || ev.shiftKey || ev.altKey) return;
    ev.preventDefault();
    ask.handled = true;
    openViewer(ask.view, ask.entry);
  });

  // A viewable file's row also gets a download button of its own. It has a download attribute,
  // so the core's table downloads it after asking whether the file is still there.
  core.on('rowParts', function (parts, e) {
    if (e.dir || kindOf(e) === null) return;
    parts.linkClass += ' vm-viewable';
    var name = core.escapeHtml(e.name);
    parts.after += '<a class="vm-row-save" href="' + DOWNLOAD_DOC + '?file=' + e.full + '" download="' + name +
      '" title="' + core.escapeHtml(T.download) + '" aria-label="' + core.escapeHtml(T.download) + ': ' + name + '"></a>';
  });

  // ---- the gallery ---------------------------------------------------------

  function galleryWanted() {
    try { return global.localStorage.getItem(GALLERY_KEY) === '1'; } catch (e) { return false; }
  }

  function rememberGallery(on) {
    try { global.localStorage.setItem(GALLERY_KEY, on ? '1' : '0'); } catch (e) { /* storage off */ }
  }

  // Thumbnails in view are asked for, newest first, a few at a time; one that leaves the view
  // before its turn is not asked for, and one on its way is called off (the server drops it).
  var thumbs = { queue: [], flying: 0, observer: null };

  function thumbObserver() {
    if (thumbs.observer || !global.IntersectionObserver) return thumbs.observer;
    thumbs.observer = new IntersectionObserver(function (changes) {
      // The queue is served from its end: of the tiles that came into view together, the
      // top one goes last into it, and is asked for first.
      changes.slice().reverse().forEach(function (c) {
        var tile = c.target;
        tile.vmVisible = c.isIntersecting;
        if (c.isIntersecting) want(tile);
        else unwant(tile);
      });
      pump();
    }, { rootMargin: '200px 0px' });
    return thumbs.observer;
  }

  function want(tile) {
    if (tile.vmState) return; // asked, loaded or broken
    var i = thumbs.queue.indexOf(tile);
    if (i >= 0) thumbs.queue.splice(i, 1);
    thumbs.queue.push(tile);
  }

  function unwant(tile) {
    var i = thumbs.queue.indexOf(tile);
    if (i >= 0) thumbs.queue.splice(i, 1);
    if (tile.vmState === 'asked' && tile.vmAbort) tile.vmAbort.abort();
  }

  function pump() {
    while (thumbs.flying < THUMBS_IN_FLIGHT && thumbs.queue.length) load(thumbs.queue.pop());
  }

  function settle(tile, state) {
    tile.vmState = state;
    tile.classList.add(state === 'loaded' ? 'vm-loaded' : 'vm-broken');
  }

  function load(tile) {
    if (!tile.isConnected) return;
    var abort = global.AbortController ? new AbortController() : null;
    tile.vmState = 'asked';
    tile.vmAbort = abort;
    thumbs.flying++;
    fetch(tile.vmThumb, { credentials: 'same-origin', signal: abort ? abort.signal : undefined }).then(function (r) {
      if (r.status === 503) throw { busy: true };
      if (!r.ok) throw { broken: true };
      return r.blob();
    }).then(function (blob) {
      var img = tile.querySelector('img');
      img.onload = function () { settle(tile, 'loaded'); };
      img.onerror = function () { settle(tile, 'broken'); };
      img.src = URL.createObjectURL(blob);
    }).catch(function (why) {
      if (why && why.broken) { settle(tile, 'broken'); return; }
      // Called off, or too busy: asked again while still in view.
      tile.vmState = null;
      if (why && why.busy) setTimeout(function () { if (tile.vmVisible) { want(tile); pump(); } }, THUMB_RETRY_MS);
    }).then(function () {
      thumbs.flying--;
      tile.vmAbort = null;
      pump();
    });
  }

  // A tile's markup: tiles are made many at a time from markup, as the listing's rows are, and
  // clicks on them are handled by the grid (galleryClick).
  function tileHtml(entry) {
    var kind = tileKind(entry);
    var name = core.escapeHtml(entry.name);
    return '<button type="button" class="vm-tile vm-tile-' + kind + '" title="' + name + '">' + (THUMBNAILED[kind] ? '<img alt="">' : '') + '<span class="vm-tile-name">' + name + '</span></button>';
  }

  function galleryClick(id) {
    return function (ev) {
      var tile = ev.target.closest ? ev.target.closest('.vm-tile') : null;
      var entry = tile && tile.vmEntry, view = core.views[id];
      if (!entry || !view) return;
      if (entry.dir) core.exf(id, view.nameHex, entry.full);
      else if (kindOf(entry)) openViewer(view, entry);
      else global.location.href = DOWNLOAD_DOC + '?file=' + entry.full;
    };
  }

  function later(fn) {
    if (global.requestIdleCallback) global.requestIdleCallback(fn, { timeout: TILES_WAIT_MS });
    else setTimeout(fn, 0);
  }

  function fillGallery(id, view, grid) {
    var list = view.shown || view.sorted || [];
    var mine = view.galleryFill = (view.galleryFill || 0) + 1;
    var observer = thumbObserver();
    grid.textContent = '';
    thumbs.queue = [];
    var at = 0;
    function batch() {
      if (view.galleryFill !== mine || core.views[id] !== view) return;
      var from = at, html = '';
      for (var end = Math.min(list.length, at + (at ? TILE_BATCH : FIRST_TILES)); at < end; at++) html += tileHtml(list[at]);
      var last = grid.lastChild;
      grid.insertAdjacentHTML('beforeend', html);
      for (var tile = last ? last.nextSibling : grid.firstChild, i = from; tile; tile = tile.nextSibling, i++) {
        tile.vmEntry = list[i];
        if (tile.firstChild.tagName === 'IMG') {
          tile.vmThumb = address(THUMB_DOC, list[i]);
          if (observer) observer.observe(tile);
        }
      }
      // The rest when the page is idle: the thumbnails of the first screen arrive first.
      if (at < list.length) later(batch);
    }
    batch();
  }

  function setGallery(id, view, root, on) {
    root.classList.toggle('vm-gallery-on', on);
    var toggle = root.querySelector('.vm-gallery-toggle');
    if (toggle) {
      toggle.textContent = on ? T.list : T.gallery;
      toggle.setAttribute('aria-pressed', on ? 'true' : 'false');
    }
    var grid = root.querySelector('.vm-gallery');
    if (on) fillGallery(id, view, grid);
    else { grid.textContent = ''; view.galleryFill = (view.galleryFill || 0) + 1; }
  }

  core.on('listing', function (id, view, root) {
    var images = view.data.entries.some(function (e) { return THUMBNAILED[kindOf(e)]; });
    if (!images) return;
    var toggle = el('button', 'vm-btn vm-gallery-toggle');
    toggle.type = 'button';
    toggle.addEventListener('click', function () {
      var on = !root.classList.contains('vm-gallery-on');
      rememberGallery(on);
      setGallery(id, view, root, on);
    });
    var grid = el('div', 'vm-gallery');
    grid.addEventListener('click', galleryClick(id));
    var table = root.querySelector('table.vm-list');
    root.insertBefore(toggle, table);
    root.insertBefore(grid, table);
    setGallery(id, view, root, galleryWanted());
  });

  core.on('filtered', function (id, view) {
    var root = document.getElementById(id);
    if (root && root.classList.contains('vm-gallery-on')) fillGallery(id, view, root.querySelector('.vm-gallery'));
  });

  // ---- look ------------------------------------------------------------------

  // Icons of the gallery's tiles by kind (SVG on a 24 by 24 grid).
  var SHEET = '<path d="M6 2.5h8l4.5 4.5v14.5H6z" fill="#fff" stroke="#8a97ab"/><path d="M14 2.5V7h4.5" fill="none" stroke="#8a97ab"/>';
  var PICTURE_ICON = '<rect x="2.5" y="4.5" width="19" height="15" rx="2" fill="#fff" stroke="#5b8dd6"/><path d="M4.5 17.5l5-6 4 4 2-2 4 4z" fill="#5b8dd6"/><circle cx="16" cy="9" r="1.8" fill="#e8b93b"/>';
  var TILE_ICONS = {
    dir: '<path d="M2 6a2 2 0 0 1 2-2h5l2 2h9a2 2 0 0 1 2 2v10a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2z" fill="#e8b93b"/><path d="M2 9h20" stroke="#f3cf6b" stroke-width="2"/>',
    image: PICTURE_ICON,
    picture: PICTURE_ICON,
    video: '<rect x="2" y="5" width="20" height="14" rx="2" fill="#3d4656"/><path d="M10 8.5v7l6-3.5z" fill="#fff"/>',
    audio: '<path d="M9 17V6l10-2v11" fill="none" stroke="#8a4fc0" stroke-width="2"/><circle cx="6.5" cy="17" r="2.5" fill="#8a4fc0"/><circle cx="16.5" cy="15" r="2.5" fill="#8a4fc0"/>',
    text: SHEET + '<path d="M8.5 11h7.5M8.5 14h7.5M8.5 17h5" stroke="#8a97ab"/>',
    pdf: SHEET + '<rect x="3.5" y="12" width="13" height="6.5" rx="1" fill="#c8372d"/><path d="M6 17v-3.5h1.2a1 1 0 0 1 0 2H6M9.5 17v-3.5h.8a1.75 1.75 0 0 1 0 3.5zM14.5 13.5h-1.8V17M12.7 15.2h1.4" fill="none" stroke="#fff" stroke-width=".8"/>',
    archive: SHEET + '<path d="M11 2.5v1.5h2v1.5h-2V7h2v1.5h-2V10h2" fill="none" stroke="#8a6d3b"/><rect x="10" y="11" width="4" height="5" rx="1" fill="#8a6d3b"/>',
    file: SHEET
  };
  // Kept with the part it styles: the shared style sheet stays the core's.
  var style = el('style');
  style.textContent = [
    // Sideways gestures in the viewer are its own: the browser neither pans nor goes Back.
    'html.vm-viewing { overflow: hidden; overscroll-behavior: none; }',
    '.vm-viewer { position: fixed; inset: 0; z-index: 1000; display: flex; flex-direction: column; background: #111; color: #eee; outline: none; touch-action: pan-y pinch-zoom; overscroll-behavior: none; }',
    '.vm-viewer[hidden] { display: none; }',
    '.vm-viewer-bar { display: flex; align-items: center; gap: 6px; padding: 4px 6px; background: #222; }',
    '.vm-viewer-title { flex: 1 1 auto; min-width: 0; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; font-weight: bold; }',
    '.vm-viewer-count, .vm-viewer-facts { flex: none; color: #aaa; font-size: 0.9em; }',
    '.vm-viewer-facts:empty { display: none; }',
    '.vm-viewer-unplayable { display: flex; flex-direction: column; align-items: center; gap: 8px; max-width: 100%; padding: 8px; text-align: center; }',
    '.vm-viewer-poster { max-width: min(100%, 480px); max-height: 40vh; object-fit: contain; }',
    '.vm-viewer-facts-line { margin: 0; color: #ccc; }',
    '.vm-viewer-download { display: inline-flex; align-items: center; min-height: 44px; padding: 0 18px; font-size: 1.1em; text-decoration: none; }',
    '.vm-viewer-btn { flex: none; display: inline-flex; align-items: center; justify-content: center; min-width: 44px; min-height: 44px; border: 0; border-radius: 6px; background: transparent; color: #eee; font-size: 22px; text-decoration: none; cursor: pointer; }',
    '.vm-viewer-btn:hover, .vm-viewer-btn:focus { background: #333; }',
    '.vm-viewer-stage { position: relative; flex: 1 1 auto; min-height: 0; display: flex; flex-direction: column; align-items: center; justify-content: center; overflow: auto; overscroll-behavior: contain; touch-action: pan-y pinch-zoom; }',
    '.vm-viewer-image { max-width: 100%; max-height: 100%; object-fit: contain; }',
    // A video fills the stage: a swipe finds it above its controls whatever its size.
    '.vm-viewer-video { width: 100%; height: 100%; min-height: 0; object-fit: contain; }',
    '.vm-viewer-audio { width: min(90%, 600px); }',
    '.vm-viewer-pdf { width: 100%; height: 100%; border: 0; background: #fff; }',
    '.vm-viewer-stage[data-kind="text"] { justify-content: flex-start; align-items: stretch; background: #fff; }',
    '.vm-viewer-text { margin: 0; padding: 10px 12px; color: #1d2330; font: 14px/1.5 ui-monospace, monospace; white-space: pre-wrap; overflow-wrap: anywhere; }',
    '.vm-viewer-hint { flex: none; margin: 4px 8px; color: #aaa; font-size: 0.85em; }',
    '.vm-viewer-note { margin: 8px; padding: 8px 12px; border-radius: 6px; background: #fdeaea; color: #8c1d1d; }',
    '.vm-viewer-foot { flex: none; display: flex; justify-content: space-between; padding: 4px 6px; background: #222; }',
    '.vm-viewer-prev, .vm-viewer-next { width: 64px; font-size: 36px; }',
    '.vm-viewer-prev:disabled, .vm-viewer-next:disabled { visibility: hidden; }',
    // A picture has no controls: there the buttons lie on its sides, and it has the whole height.
    '.vm-viewer[data-kind="image"] .vm-viewer-foot { display: contents; }',
    '.vm-viewer[data-kind="image"] .vm-viewer-prev, .vm-viewer[data-kind="image"] .vm-viewer-next { position: absolute; top: 50%; margin-top: -28px; width: 48px; height: 56px; background: rgba(0,0,0,0.35); }',
    '.vm-viewer[data-kind="image"] .vm-viewer-prev { left: 4px; } .vm-viewer[data-kind="image"] .vm-viewer-next { right: 4px; }',
    '.vm-row-save { flex: none; display: inline-flex; align-items: center; justify-content: center; min-width: 44px; min-height: 44px; margin-left: 4px; color: #2d66b8; text-decoration: none; font-size: 20px; }',
    // The arrow drawn by the style sheet: one node less in each of a big folder's rows.
    '.vm-row-save::before { content: "⤓"; }',
    '.vm-list td.vm-n { display: flex; align-items: center; }',
    '.vm-gallery-toggle { margin: 0 0 8px; }',
    '.vm-area.vm-gallery-on table.vm-list { display: none; }',
    '.vm-gallery { display: grid; grid-template-columns: repeat(auto-fill, minmax(112px, 1fr)); gap: 6px; }',
    '.vm-gallery:empty { display: none; }',
    '.vm-tile { position: relative; display: flex; flex-direction: column; justify-content: flex-end; aspect-ratio: 1; padding: 0; overflow: hidden; border: 1px solid #d5d9e0; border-radius: 6px; background: #e9edf3; font: inherit; cursor: pointer; }',
    '.vm-tile img { position: absolute; inset: 0; width: 100%; height: 100%; object-fit: cover; }',
    '.vm-tile img:not([src]) { display: none; }',
    // A video's thumbnail is marked as such.
    '.vm-tile-video.vm-loaded::after { content: "▶"; position: absolute; left: 6px; top: 4px; color: #fff; font-size: 18px; text-shadow: 0 0 3px #000; }',
    '.vm-tile-name { position: relative; padding: 2px 4px; background: rgba(255,255,255,0.85); color: #1d2330; font-size: 12px; text-align: left; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }',
    '.vm-tile-dir { background: #f7e7b5; } .vm-tile-dir .vm-tile-name { font-weight: bold; }',
    // The kind's icon, under a thumbnail until it has come (and where none comes).
    '.vm-tile::before { content: ""; position: absolute; left: 0; right: 0; top: 0; bottom: 22px; background: center / 48% no-repeat; }'
  ].concat(Object.keys(TILE_ICONS).map(function (kind) {
    return '.vm-tile-' + kind + '::before { background-image: url("data:image/svg+xml,' +
      encodeURIComponent('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24">' + TILE_ICONS[kind] + '</svg>') + '"); }';
  })).join('\n');
  document.head.appendChild(style);
})(window);
