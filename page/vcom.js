/*
 * Velmarind page script.
 *
 * The index page calls exf(id, nameHex, pathHex) from its shared-folder links
 * and cmd_text() from its text button; everything else here is wired up by the
 * script itself: the folder listing with its path line and sorting, downloads,
 * and uploads of several files (file chooser or drag and drop) with progress.
 *
 * This source is UTF-8. The build writes every non-ASCII character as a \u
 * escape, so the served file is pure ASCII and reads the same on the
 * Shift_JIS pages whatever charset the browser assumes: keep Japanese to
 * string literals and comments, where an escape means the character.
 */
(function (global) {
  'use strict';

  // Texts shown to the user.
  var T = {
    pick: '上の共有フォルダを選ぶと、ここに中身が表示されます。',
    loading: '読み込み中…',
    loadFailed: '一覧を読み込めませんでした',
    retry: 'もう一度',
    loginNeeded: 'ログインし直してください。',
    reloadPage: 'ページを再読み込み',
    empty: 'このフォルダは空です。',
    colName: '名前',
    colDate: '更新日時',
    colSize: 'サイズ',
    up: '上のフォルダへ',
    folders: 'フォルダ',
    files: 'ファイル',
    count: '個',
    refresh: '更新',
    dropHint: 'ここにファイルをドロップしてもアップロードできます',
    dropNow: 'ドロップするとこの共有フォルダにアップロードします',
    chooseFiles: 'アップロードするファイルを選んでください。',
    busy: 'アップロード中です。終わるまでお待ちください。',
    noFolder: '先に共有フォルダを開いてください。',
    uploading: 'アップロード中',
    uploadedTo: '個のファイルをアップロードしました:',
    partly: '個のファイルのうち、保存できたのは',
    partlyEnd: '個です:',
    noneSaved: 'アップロードしたファイルはサーバーに保存されませんでした。',
    uploadFailed: 'アップロードに失敗しました',
    netError: '通信エラー',
    aborted: '中断されました',
    uploadDest: 'アップロード先:'
  };

  var LIST_DOC = 'script.html';
  var DOWNLOAD_DOC = 'download.html';
  var TEXT_DOC = 'text.html';
  var UPLOAD_DOC = 'index.html';
  // Uploads are saved under this prefix; new entries with it tell what arrived.
  var UPLOAD_PREFIX = '__vupd_img_';
  var STORE_KEY = 'velmarind.view.';
  var HEX_SEP = '2f'; // "/" separates path components, never a trail byte in Shift_JIS

  // Per element id: what is shown there.
  var views = {};
  // Hex full path of every folder seen in a listing -> its UTF-8 name.
  var folderNames = {};
  // The upload going on, if any.
  var uploading = false;
  // The share the upload form currently targets.
  var current = null;
  // The sort order chosen last; kept while moving between folders.
  var sortPrefs = { key: 'name', asc: true };

  // Gives a page made for a wide screen the phone viewport; false when it has
  // one already (or no head to put it in).
  function addViewport(doc) {
    var head = doc.head || doc.getElementsByTagName('head')[0];
    if (!head || doc.querySelector('meta[name="viewport"]')) return false;
    var m = doc.createElement('meta');
    m.name = 'viewport';
    m.content = 'width=device-width, initial-scale=1';
    head.appendChild(m);
    return true;
  }

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = text;
    return e;
  }

  function now() { return String(Date.now()); }

  // ---- listing data ------------------------------------------------------

  var RECORD = /;;([DF])::(.*?)::([0-9a-fA-F]*)::([0-9a-fA-F]*)::(\d{4}\/\d\d\/\d\d_\d\d:\d\d:\d\d)?::(\d*)(?=;;[DF]::|$)/g;

  // Parses the one-line listing: four header fields, then D and F records.
  // Returns null when the text is not listing data (a login page, say).
  function parseListing(text) {
    var line = text.replace(/[\r\n]+$/, '');
    if (/^\s*</.test(line)) return null;
    // The head is what stands before the fourth ";;": only that much is split.
    var cuts = [];
    for (var at = line.indexOf(';;'); at >= 0 && cuts.length < 4; at = line.indexOf(';;', at + 2)) cuts.push(at);
    if (cuts.length < 3) return null;
    var headLen = cuts.length === 4 ? cuts[3] : line.length;
    var parts = line.substring(0, headLen).split(';;');
    var head = { pid: parts[0], name: parts[1], nameHex: parts[2], pathHex: parts[3] };
    var rest = line.substring(headLen);
    var entries = [];
    var m;
    RECORD.lastIndex = 0;
    while ((m = RECORD.exec(rest)) !== null) {
      entries.push({
        dir: m[1] === 'D',
        name: m[2],
        hex: m[3].toLowerCase(),
        full: m[4].toLowerCase(),
        date: m[5] || '',
        size: m[6] === '' ? -1 : Number(m[6])
      });
    }
    return { head: head, entries: entries };
  }

  function fetchListing(id, nameHex, pathHex) {
    var url = LIST_DOC + '?pid=' + encodeURIComponent(id) + '&name=' + nameHex +
      '&path=' + pathHex + '&tt=' + now();
    return fetch(url, { cache: 'no-store', credentials: 'same-origin' }).then(function (r) {
      if (!r.ok) throw new Error('HTTP ' + r.status);
      return r.arrayBuffer();
    }).then(function (buf) {
      // The data is UTF-8 although the server calls it text/html.
      return parseListing(new TextDecoder('utf-8').decode(buf));
    });
  }

  // ---- formatting --------------------------------------------------------

  function readableSize(n) {
    if (n < 0) return '';
    if (n < 1024) return n + ' B';
    var units = ['KB', 'MB', 'GB', 'TB'];
    var v = n / 1024, u = 0;
    while (v >= 1024 && u < units.length - 1) { v /= 1024; u++; }
    return (v < 10 ? v.toFixed(1) : Math.round(v).toString()) + ' ' + units[u];
  }

  function groupDigits(n) {
    return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }

  // "2013/04/05_09:07:30" -> day part and time part (minutes)
  function splitDate(d) {
    if (!d) return ['', ''];
    return [d.substring(0, 10), d.substring(11, 16)];
  }

  function hexToBytes(hex) {
    var out = new Uint8Array(hex.length >> 1);
    for (var i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
    return out;
  }

  // The bytes as UTF-8 text; null when they are not UTF-8.
  function strictUtf8(bytes) {
    try { return new TextDecoder('utf-8', { fatal: true }).decode(bytes); } catch (e) { return null; }
  }

  // A path component as text: the hex carries Shift_JIS bytes, or UTF-8 for
  // names that Shift_JIS cannot hold.
  function decodeName(hex) {
    var bytes = hexToBytes(hex);
    var text = strictUtf8(bytes);
    if (text !== null) return text;
    try { return new TextDecoder('shift_jis').decode(bytes); } catch (e) { return hex; }
  }

  // ---- path line ---------------------------------------------------------

  var LINK_ARGS = /exf\('[^']*','([0-9a-fA-F]*)','([0-9a-fA-F]*)'\)/;
  // The index page's share links, [{link, nameHex, rootHex}]: the page does
  // not change under the script, so they are read once.
  var shares = null;

  function shareLinks() {
    if (shares && shares.length) return shares;
    shares = [];
    var links = document.querySelectorAll('a.sh1');
    for (var i = 0; i < links.length; i++) {
      var m = LINK_ARGS.exec(links[i].getAttribute('href') || '');
      if (m) shares.push({ link: links[i], nameHex: m[1].toLowerCase(), rootHex: m[2].toLowerCase() });
    }
    return shares;
  }

  // The index page link of a share: {link, nameHex, rootHex}, or null.
  function shareLink(nameHex) {
    var list = shareLinks();
    for (var i = 0; i < list.length; i++) if (list[i].nameHex === nameHex) return list[i];
    return null;
  }

  function shareRoot(nameHex) {
    var s = shareLink(nameHex);
    return s ? s.rootHex : null;
  }

  // A share name that Shift_JIS cannot hold comes as its UTF-8 bytes, which
  // the Shift_JIS page shows as half-width katakana: show the real name.
  function fixShareLabels() {
    shareLinks().forEach(function (s) {
      if (!/[\uff61-\uff9f]/.test(s.link.textContent)) return;
      var text = strictUtf8(hexToBytes(s.nameHex)); // null: a real Shift_JIS name
      if (text !== null && /[^\x00-\x7f]/.test(text)) s.link.textContent = text;
    });
  }

  // The name to show for a share: its link text, else what the listing says.
  function shareLabel(nameHex, fallback) {
    var s = shareLink(nameHex);
    return s ? s.link.textContent : fallback;
  }

  // The folders from the share down to pathHex: [{name, hex}], the share first.
  function crumbs(shareName, rootHex, pathHex) {
    var list = [{ name: shareName, hex: rootHex }];
    if (pathHex.length <= rootHex.length || pathHex.indexOf(rootHex) !== 0) return list;
    var start = rootHex.length;
    for (var i = start; i + 2 <= pathHex.length; i += 2) {
      if (pathHex.substr(i, 2) !== HEX_SEP) continue;
      var hex = pathHex.substring(0, i + 2);
      var name = folderNames[hex] || decodeName(pathHex.substring(start, i));
      list.push({ name: name, hex: hex });
      start = i + 2;
    }
    return list;
  }

  // ---- rendering ---------------------------------------------------------

  // Made once: building a collator costs more than a whole sort of a folder.
  var COLLATOR = (typeof Intl !== 'undefined' && Intl.Collator) ?
    new Intl.Collator('ja', { numeric: true, sensitivity: 'base' }) : null;

  function byName(a, b) {
    if (COLLATOR) return COLLATOR.compare(a.name, b.name);
    var x = a.name.toLowerCase(), y = b.name.toLowerCase();
    return x < y ? -1 : x > y ? 1 : 0;
  }

  // Folders first, always; within each group by the chosen column, ties by name.
  function sortEntries(entries, key, asc) {
    var sign = asc ? 1 : -1;
    return entries.slice().sort(function (a, b) {
      if (a.dir !== b.dir) return a.dir ? -1 : 1;
      if (a.dir) return key === 'name' ? sign * byName(a, b) : byName(a, b);
      var c = 0;
      if (key === 'date') c = a.date < b.date ? -1 : a.date > b.date ? 1 : 0;
      else if (key === 'size') c = a.size - b.size;
      else c = byName(a, b);
      return c !== 0 ? sign * c : byName(a, b);
    });
  }

  function message(box, text, kind) {
    box.textContent = text || '';
    box.className = 'vm-msg' + (kind ? ' vm-' + kind : '');
    return box;
  }

  function render(id, view) {
    var root = document.getElementById(id);
    if (!root) return;
    var data = view.data;
    root.textContent = '';
    root.classList.add('vm-area');

    var bar = el('nav', 'vm-path');
    var trail = crumbs(view.shareName, view.rootHex, view.pathHex);
    trail.forEach(function (c, i) {
      if (i > 0) bar.appendChild(el('span', 'vm-sep', '/'));
      if (i === trail.length - 1) {
        bar.appendChild(el('span', 'vm-crumb vm-here', c.name));
      } else {
        var b = el('button', 'vm-crumb', c.name);
        b.type = 'button';
        b.addEventListener('click', function () { exf(id, view.nameHex, c.hex); });
        bar.appendChild(b);
      }
    });
    var rb = el('button', 'vm-refresh', T.refresh);
    rb.type = 'button';
    rb.title = T.refresh;
    rb.addEventListener('click', function () { exf(id, view.nameHex, view.pathHex); });
    bar.appendChild(rb);
    root.appendChild(bar);

    var table = el('table', 'vm-list');
    var thead = el('thead');
    var hr = el('tr');
    [['name', T.colName, 'vm-n'], ['date', T.colDate, 'vm-d'], ['size', T.colSize, 'vm-s']].forEach(function (col) {
      var th = el('th', col[2]);
      var b = el('button', 'vm-sort', col[1]);
      b.type = 'button';
      if (view.sortKey === col[0]) {
        b.className += view.sortAsc ? ' vm-asc' : ' vm-desc';
        th.setAttribute('aria-sort', view.sortAsc ? 'ascending' : 'descending');
      }
      b.addEventListener('click', function () {
        if (view.sortKey === col[0]) view.sortAsc = !view.sortAsc;
        else { view.sortKey = col[0]; view.sortAsc = col[0] === 'name'; }
        sortPrefs.key = view.sortKey; sortPrefs.asc = view.sortAsc;
        render(id, view);
      });
      th.appendChild(b);
      hr.appendChild(th);
    });
    thead.appendChild(hr);
    table.appendChild(thead);

    var tbody = el('tbody');
    if (trail.length > 1) {
      var upRow = el('tr', 'vm-up');
      var upCell = el('td', 'vm-n');
      upCell.colSpan = 3;
      var ub = el('button', 'vm-item vm-dir', '..');
      ub.type = 'button';
      ub.title = T.up;
      ub.setAttribute('aria-label', T.up);
      ub.addEventListener('click', function () { exf(id, view.nameHex, trail[trail.length - 2].hex); });
      upCell.appendChild(ub);
      upRow.appendChild(upCell);
      tbody.appendChild(upRow);
    }
    var dirs = 0, files = 0;
    sortEntries(data.entries, view.sortKey, view.sortAsc).forEach(function (e) {
      if (e.dir) dirs++; else files++;
      var tr = el('tr', (e.dir ? 'vm-row-dir' : 'vm-row-file') + (view.fresh[e.hex] ? ' vm-new' : ''));
      var n = el('td', 'vm-n');
      var link;
      if (e.dir) {
        link = el('button', 'vm-item vm-dir', e.name);
        link.type = 'button';
        link.addEventListener('click', function () { exf(id, view.nameHex, e.full); });
      } else {
        link = el('a', 'vm-item vm-file', e.name);
        link.href = DOWNLOAD_DOC + '?file=' + e.full;
        link.setAttribute('download', e.name);
      }
      n.appendChild(link);
      tr.appendChild(n);
      var d = el('td', 'vm-d');
      var dp = splitDate(e.date);
      if (dp[0]) {
        d.appendChild(el('span', 'vm-day', dp[0]));
        d.appendChild(document.createTextNode(' '));
        d.appendChild(el('span', 'vm-time', dp[1]));
        d.title = e.date.replace('_', ' ');
      }
      tr.appendChild(d);
      var s = el('td', 'vm-s', readableSize(e.size));
      if (!e.dir) s.title = groupDigits(e.size) + ' B';
      tr.appendChild(s);
      tbody.appendChild(tr);
    });
    table.appendChild(tbody);
    root.appendChild(table);

    if (data.entries.length === 0) root.appendChild(el('p', 'vm-empty', T.empty));
    root.appendChild(el('p', 'vm-count', T.folders + ' ' + dirs + ' ' + T.count + ' / ' +
      T.files + ' ' + files + ' ' + T.count));
    root.appendChild(el('p', 'vm-drop-hint', T.dropHint));
  }

  function renderProblem(id, text, retry, login) {
    var root = document.getElementById(id);
    if (!root) return;
    root.textContent = '';
    var box = message(el('div', 'vm-msg'), text, 'error');
    var b = el('button', 'vm-btn', login ? T.reloadPage : T.retry);
    b.type = 'button';
    b.addEventListener('click', login ? function () { location.reload(); } : retry);
    box.appendChild(document.createTextNode(' '));
    box.appendChild(b);
    root.appendChild(box);
  }

  // ---- the upload form ---------------------------------------------------

  function form() { return document.forms.mform || null; }

  function showForm(view) {
    var f = form();
    if (!f) return;
    current = view;
    if (f.dirname) f.dirname.value = view.nameHex;
    f.style.display = 'block';
    var active = shareLink(view.nameHex);
    shareLinks().forEach(function (s) { s.link.classList.toggle('vm-active', s === active); });
    f.classList.add('vm-form');
    var dest = document.getElementById('vm-dest');
    if (dest) dest.textContent = T.uploadDest + ' ' + view.shareName;
  }

  function setupForm() {
    var f = form();
    if (!f || f.getAttribute('data-vm') === '1') return;
    f.setAttribute('data-vm', '1');
    if (f.ifile) f.ifile.multiple = true;

    var dest = el('div', 'vm-dest');
    dest.id = 'vm-dest';
    f.insertBefore(dest, f.firstChild);

    var prog = el('div', 'vm-progress');
    prog.id = 'vm-progress';
    prog.hidden = true;
    var bar = el('progress');
    bar.max = 100;
    bar.value = 0;
    var label = el('span', 'vm-progress-label');
    prog.appendChild(bar);
    prog.appendChild(label);
    var msg = el('div', 'vm-msg');
    msg.id = 'vm-upload-msg';
    msg.setAttribute('role', 'status');
    var hr = f.getElementsByTagName('hr');
    var anchor = hr.length && hr[hr.length - 1].parentNode === f ? hr[hr.length - 1] : null;
    f.insertBefore(prog, anchor);
    f.insertBefore(msg, anchor);

    f.addEventListener('submit', function (ev) {
      ev.preventDefault();
      var list = f.ifile && f.ifile.files ? Array.prototype.slice.call(f.ifile.files) : [];
      upload(list);
    });
  }

  function uploadMessage(text, kind) {
    var box = document.getElementById('vm-upload-msg');
    if (box) message(box, text, kind);
  }

  // The names starting with the upload prefix in the share's top folder.
  function uploadedNames(view) {
    return fetchListing(view.id, view.nameHex, view.rootHex).then(function (d) {
      var names = {};
      if (d) d.entries.forEach(function (e) { if (!e.dir && e.name.indexOf(UPLOAD_PREFIX) === 0) names[e.hex] = e.name; });
      return names;
    }, function () { return null; });
  }

  // Sends the files as one multipart body: "menu", the file parts, then
  // "dirname", the order in which the server reads them.
  function upload(files) {
    var view = current;
    if (!view) { uploadMessage(T.noFolder, 'error'); return; }
    if (uploading) { uploadMessage(T.busy, 'error'); return; }
    if (!files.length) { uploadMessage(T.chooseFiles, 'error'); return; }
    uploading = true;
    var f = form();
    var prog = document.getElementById('vm-progress');
    var bar = prog.querySelector('progress');
    var label = prog.querySelector('.vm-progress-label');
    function progress(pct) {
      bar.value = pct;
      label.textContent = T.uploading + ' ' + pct + '%';
    }
    prog.hidden = false;
    progress(0);
    uploadMessage('');
    if (f) f.classList.add('vm-busy');

    uploadedNames(view).then(function (before) {
      var body = new FormData();
      body.append('menu', 'updimg');
      files.forEach(function (file) { body.append('ifile', file, file.name); });
      body.append('dirname', view.nameHex);

      var xhr = new XMLHttpRequest();
      xhr.open('POST', UPLOAD_DOC);
      xhr.upload.onprogress = function (e) {
        if (e.lengthComputable && e.total > 0) progress(Math.floor(e.loaded * 100 / e.total));
      };
      function finish(problem) {
        uploading = false;
        if (f) f.classList.remove('vm-busy');
        if (problem) {
          prog.hidden = true;
          uploadMessage(T.uploadFailed + ' (' + problem + ')', 'error');
          return;
        }
        progress(100);
        uploadedNames(view).then(function (after) {
          prog.hidden = true;
          var saved = 0, fresh = {};
          if (after) Object.keys(after).forEach(function (k) { if (!before || !(k in before)) { saved++; fresh[k] = true; } });
          if (f && f.ifile) f.ifile.value = '';
          var text, kind;
          if (after === null || before === null) { text = files.length + ' ' + T.uploadedTo + ' ' + view.shareName; kind = 'ok'; }
          else if (saved >= files.length) { text = saved + ' ' + T.uploadedTo + ' ' + view.shareName; kind = 'ok'; }
          else if (saved > 0) { text = files.length + ' ' + T.partly + ' ' + saved + ' ' + T.partlyEnd + ' ' + view.shareName; kind = 'error'; }
          else { text = T.noneSaved; kind = 'error'; }
          uploadMessage(text, kind);
          // Uploads land in the share's top folder: show it.
          exf(view.id, view.nameHex, view.rootHex, { fresh: fresh });
        });
      }
      xhr.onload = function () {
        finish(xhr.status >= 200 && xhr.status < 300 ? null : 'HTTP ' + xhr.status);
      };
      xhr.onerror = function () { finish(T.netError); };
      xhr.onabort = function () { finish(T.aborted); };
      xhr.send(body);
    });
  }

  function hasFiles(e) {
    var t = e.dataTransfer && e.dataTransfer.types;
    return !!t && Array.prototype.indexOf.call(t, 'Files') >= 0;
  }

  function setupDrop(id) {
    var area = document.getElementById(id);
    if (!area || area.getAttribute('data-vm-drop') === '1') return;
    area.setAttribute('data-vm-drop', '1');
    var depth = 0;
    area.addEventListener('dragenter', function (e) {
      if (!hasFiles(e) || !views[id]) return;
      e.preventDefault();
      depth++;
      area.classList.add('vm-drag');
      area.setAttribute('data-drop-text', T.dropNow);
    });
    area.addEventListener('dragover', function (e) {
      if (!hasFiles(e) || !views[id]) return;
      e.preventDefault();
      e.dataTransfer.dropEffect = 'copy';
    });
    area.addEventListener('dragleave', function () {
      if (--depth <= 0) { depth = 0; area.classList.remove('vm-drag'); }
    });
    area.addEventListener('drop', function (e) {
      if (!views[id]) return;
      e.preventDefault();
      depth = 0;
      area.classList.remove('vm-drag');
      var list = e.dataTransfer && e.dataTransfer.files ? Array.prototype.slice.call(e.dataTransfer.files) : [];
      if (list.length) {
        showForm(views[id]);
        upload(list);
      }
    });
  }

  // A file dropped beside the listing would make the browser leave the page.
  function guardWindowDrop() {
    ['dragover', 'drop'].forEach(function (type) {
      window.addEventListener(type, function (e) {
        if (!e.defaultPrevented && hasFiles(e)) {
          e.preventDefault();
          if (type === 'dragover') e.dataTransfer.dropEffect = 'none';
        }
      });
    });
  }

  // ---- public functions --------------------------------------------------

  var seq = {};

  // Shows folder pathHex of the share nameHex in the element id.
  function exf(id, nameHex, pathHex, opts) {
    nameHex = String(nameHex || '').toLowerCase();
    pathHex = String(pathHex || '').toLowerCase();
    var root = document.getElementById(id);
    if (!root) return;
    setupForm();
    setupDrop(id);
    var mine = seq[id] = (seq[id] || 0) + 1;
    var old = views[id];
    if (old && old.data) {
      root.classList.add('vm-wait');
    } else {
      root.textContent = '';
      root.appendChild(el('div', 'vm-loading', T.loading));
    }
    fetchListing(id, nameHex, pathHex).then(function (data) {
      if (seq[id] !== mine) return;
      root.classList.remove('vm-wait');
      if (!data) { renderProblem(id, T.loginNeeded, null, true); return; }
      data.entries.forEach(function (e) { if (e.dir) folderNames[e.full] = e.name; });
      var rootHex = shareRoot(nameHex) || (old && old.nameHex === nameHex ? old.rootHex : pathHex);
      var view = {
        id: id, nameHex: nameHex, pathHex: pathHex, rootHex: rootHex,
        shareName: shareLabel(nameHex, data.head.name), data: data,
        sortKey: sortPrefs.key, sortAsc: sortPrefs.asc, fresh: (opts && opts.fresh) || {}
      };
      views[id] = view;
      render(id, view);
      showForm(view);
      try { sessionStorage.setItem(STORE_KEY + id, nameHex + ' ' + pathHex); } catch (e) { /* storage off */ }
    }).catch(function (err) {
      if (seq[id] !== mine) return;
      root.classList.remove('vm-wait');
      renderProblem(id, T.loadFailed + ' (' + (err && err.message ? err.message : err) + ')', function () {
        exf(id, nameHex, pathHex);
      }, false);
    });
  }

  // Opens the text-creation window for the share being shown.
  function cmd_text() {
    var view = current;
    if (!view) { uploadMessage(T.noFolder, 'error'); return; }
    var w = global.open(TEXT_DOC + '?dirname=' + view.nameHex + '&tt=' + now(), 'velmarind_text',
      'width=760,height=640,resizable=yes,scrollbars=yes');
    if (w) {
      try { w.focus(); } catch (e) { /* another origin */ }
      fitTextWindow(w);
    }
  }

  // The text page is made for a wide screen: give it a viewport and let its
  // fields fit a phone. Same origin, so reachable once it has loaded.
  function fitTextWindow(w) {
    var tries = 0;
    var timer = setInterval(function () {
      tries++;
      var doc;
      try { doc = w.closed ? null : w.document; } catch (e) { doc = null; }
      if (!doc || tries > 100) { clearInterval(timer); return; }
      if (doc.readyState === 'loading' || !doc.forms || !doc.forms.mform) return;
      clearInterval(timer);
      if (doc.head && addViewport(doc)) {
        var link = doc.createElement('link');
        link.rel = 'stylesheet';
        link.type = 'text/css';
        link.href = 'vcom.css';
        doc.head.appendChild(link);
        doc.body.classList.add('vm-text-page');
      }
    }, 50);
  }

  function restore() {
    if (!document.querySelectorAll('a.sh1').length) return;
    var area = document.getElementById('m1');
    if (!area) return;
    var saved = null;
    try { saved = sessionStorage.getItem(STORE_KEY + 'm1'); } catch (e) { saved = null; }
    if (saved) {
      var p = saved.split(' ');
      var root = shareRoot(p[0]);
      if (root !== null) { exf('m1', p[0], p[1] || root); return; }
    }
    area.textContent = '';
    area.appendChild(el('p', 'vm-hint', T.pick));
  }

  function start() {
    fixShareLabels();
    guardWindowDrop();
    setupForm();
    restore();
  }

  addViewport(document);
  global.exf = exf;
  global.cmd_text = cmd_text;
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})(window);
