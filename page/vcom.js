/*
 * Velmarind page script.
 *
 * The index page calls exf(id, nameHex, pathHex) from its shared-folder links
 * and cmd_text() from its text button; everything else here is wired up by the
 * script itself: the folder listing with its path line and sorting, the
 * address of the folder shown (so Back goes up and a folder can be
 * bookmarked), downloads, and the upload form of the folder shown (file
 * chooser or drag and drop), whose files the upload part sends.
 *
 * This source is UTF-8. The build writes every non-ASCII character as a \u
 * escape, so the served file is pure ASCII and reads the same on the
 * Shift_JIS pages whatever charset the browser assumes: keep Japanese to
 * string literals and comments, where an escape means the character.
 */
(function (global) {
  'use strict';

  // The language of the browser picks each text of a pair [Japanese, English]; so do the
  // parts' texts (VelmarindCore.texts). A text that counts is a triple [Japanese, English for one,
  // English for more] with "%n" for the number, and becomes a function of the number.
  var english = !/^ja\b/i.test((global.navigator && (navigator.language || '')) || 'ja');
  function texts(table) {
    var chosen = {};
    Object.keys(table).forEach(function (k) {
      var t = table[k];
      chosen[k] = t.length < 3 ? t[english ? 1 : 0] : function (n) {
        return t[!english ? 0 : n === 1 ? 1 : 2].replace('%n', String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ','));
      };
    });
    return chosen;
  }

  // The login and text pages load this script too, naming themselves in the script element: they
  // get only their own part (VelmarindPage), none of the index page's.
  var plainPage = document.currentScript && document.currentScript.getAttribute('data-page');
  if (plainPage) {
    global.VelmarindPage = { name: plainPage, english: english, texts: texts };
    return;
  }

  // Texts shown to the user; "%s" stands for a name.
  var T = texts({
    pick: ['上の共有フォルダを選ぶと、ここに中身が表示されます。', 'Choose a shared folder above to see its contents here.'],
    loading: ['読み込み中…', 'Loading…'],
    loadFailed: ['一覧を読み込めませんでした', 'Could not load the list'],
    retry: ['もう一度', 'Try again'],
    loginNeeded: ['ログインし直してください。', 'Please log in again.'],
    reloadPage: ['ページを再読み込み', 'Reload the page'],
    empty: ['このフォルダは空です。', 'This folder is empty.'],
    missing: ['このフォルダは見つかりません。移動または削除された可能性があります。', 'This folder cannot be found. It may have been moved or deleted.'],
    shareTop: ['共有フォルダの先頭へ', 'To the top of the shared folder'],
    unknownShare: ['このアドレスの共有フォルダは、いまは公開されていません。', 'The shared folder of this address is not published now.'],
    colName: ['名前', 'Name'],
    colDate: ['更新日時', 'Modified'],
    colSize: ['サイズ', 'Size'],
    up: ['上のフォルダへ', 'Up one folder'],
    folders: ['フォルダ', 'Folders'],
    files: ['ファイル', 'Files'],
    count: [' 個', ''],
    narrowed: ['絞り込み: %n / %t 個', 'Filtered: %n / %t'],
    refresh: ['更新', 'Refresh'],
    dropHint: ['ここにファイルをドロップしてもアップロードできます', 'You can also drop files here to upload them'],
    dropNow: ['ドロップするとこのフォルダにアップロードします（%s）', 'Drop to upload into this folder (%s)'],
    uploadFiles: ['アップロードするファイル', 'Files to upload'],
    upload: ['アップロード', 'Upload'],
    send: ['送信', 'Send'],
    createText: ['テキスト作成', 'Create text'],
    viewOnlyDrop: ['このフォルダは閲覧専用です。ここにはアップロードできません。', 'This folder is for viewing only: nothing can be uploaded here.'],
    noFolder: ['先に共有フォルダを開いてください。', 'Open a shared folder first.'],
    cancel: ['中止', 'Cancel'],
    leaving: ['アップロード中です。ページを離れるとアップロードは中止されます。', 'An upload is running. Leaving the page cancels it.'],
    uploadDest: ['アップロード先:', 'Upload to:'],
    fileGone: ['「%s」をダウンロードできません。移動または削除された可能性があります。', '"%s" cannot be downloaded. It may have been moved or deleted.'],
    downloadFailed: ['ダウンロードできませんでした', 'The download failed'],
    netError: ['通信エラー', 'Network error'],
    serverError: ['サーバーエラー', 'Server error'],
    filter: ['名前で絞り込み', 'Filter by name'],
    noMatch: ['一致する項目はありません。', 'Nothing matches.']
  });

  var LIST_DOC = 'script.html';
  var DOWNLOAD_DOC = 'download.html';
  var TEXT_DOC = 'text.html';
  var STORE_KEY = 'velmarind.view.';
  // The area whose folder the page's address names.
  var ADDRESS_AREA = 'm1';
  // The listing answer's header for a folder that could not be opened.
  var FOLDER_HEADER = 'X-Velmarind-Folder';
  // The listing answer's header naming the share's mode (view, upload, full, dropbox).
  var MODE_HEADER = 'X-Velmarind-Mode';
  var HEX_SEP = '2f'; // "/" separates path components, never a trail byte in Shift_JIS

  // Per element id: what is shown there.
  var views = {};
  // Hex full path of every folder seen in a listing -> its UTF-8 name.
  var folderNames = {};
  // The upload part, once it has registered: {start(files, view), busy(), cancel()}.
  var uploader = null;
  // The folder the upload form currently targets.
  var current = null;
  // The sort order chosen last; kept while moving between folders.
  var sortPrefs = { key: 'name', asc: true };
  // Whether the last thing the user did was on the keyboard: a folder opened
  // that way gets the focus, which would otherwise fall back to the page.
  var byKeyboard = false;

  // Gives the index page, made for a wide screen, the phone viewport; false when it has one
  // already (or no head to put it in).
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

  function button(cls, text, onClick) {
    var b = el('button', cls, text);
    b.type = 'button';
    if (onClick) b.addEventListener('click', onClick);
    return b;
  }

  function now() { return String(Date.now()); }

  function statusText(status) { return T.serverError + ' HTTP ' + status; }

  // Why a request failed, for the user: the HTTP status, or a network error.
  function reason(err) {
    return err && err.status ? statusText(err.status) : T.netError;
  }

  function httpError(status) {
    var e = new Error('HTTP ' + status);
    e.status = status;
    return e;
  }

  // ---- listing data ------------------------------------------------------

  // A name may hold line ends and U+2028/U+2029, which "." does not match: [\s\S] does.
  var RECORD = /;;([DF])::([\s\S]*?)::([0-9a-fA-F]*)::([0-9a-fA-F]*)::(\d{4}\/\d\d\/\d\d_\d\d:\d\d:\d\d)?::(\d*)(?=;;[DF]::|$)/g;

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
    return { head: head, entries: entries, missing: false };
  }

  function fetchListing(id, nameHex, pathHex) {
    var url = LIST_DOC + '?pid=' + encodeURIComponent(id) + '&name=' + nameHex +
      '&path=' + pathHex + '&tt=' + now();
    var missing = false, mode = '';
    return fetch(url, { cache: 'no-store', credentials: 'same-origin' }).then(function (r) {
      if (!r.ok) throw httpError(r.status);
      missing = (r.headers.get(FOLDER_HEADER) || '').toLowerCase() === 'missing';
      mode = (r.headers.get(MODE_HEADER) || '').toLowerCase();
      return r.arrayBuffer();
    }).then(function (buf) {
      // The data is UTF-8 whatever charset the answer's type names.
      var data = parseListing(new TextDecoder('utf-8').decode(buf));
      if (data) { data.missing = missing; data.mode = mode; realNames(data.entries); }
      return data;
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

  // The listing writes ";" and ":" in a name as look-alikes (U+037E, U+A789), which keep its
  // separators apart. The hex field holds the real name: that is shown, filtered and copied.
  var LOOK_ALIKES = /[\u037e\ua789]/;
  function realNames(entries) {
    entries.forEach(function (e) {
      if (!LOOK_ALIKES.test(e.name)) return;
      var real = decodeName(e.hex);
      if (real.replace(/;/g, '\u037e').replace(/:/g, '\ua789') === e.name) e.name = real;
    });
  }

  // ---- shares and the path line ------------------------------------------

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

  // The share links in a box of their own, which a phone shows as one row that scrolls sideways;
  // the spaces the page puts between them go in with them.
  function boxShares() {
    var list = shareLinks();
    if (!list.length || list[0].link.parentNode.classList.contains('vm-shares')) return;
    var first = list[0].link, last = list[list.length - 1].link;
    var box = el('nav', 'vm-shares');
    var from = first.previousSibling && first.previousSibling.nodeType === 3 ? first.previousSibling : first;
    from.parentNode.insertBefore(box, from);
    var moved;
    do { moved = box.appendChild(box.nextSibling); } while (moved !== last);
  }

  // Scrolls the share row (when it scrolls) so that the link is in view. The row is the links'
  // offset parent (the style sheet positions it).
  function showInRow(link) {
    var row = link.parentNode;
    if (!row || link.offsetParent !== row || row.scrollWidth <= row.clientWidth) return;
    var left = link.offsetLeft;
    if (left < row.scrollLeft || left + link.offsetWidth > row.scrollLeft + row.clientWidth) row.scrollLeft = left - 8;
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

  // The folder shown, as the user reads it: "share / folder / sub-folder".
  function folderLabel(view) {
    return crumbs(view.shareName, view.rootHex, view.pathHex).map(function (c) { return c.name; }).join(' / ');
  }

  // The hex path of a folder below its share's top folder ("" for the top
  // itself); null when the folder does not lie in the share.
  function belowShare(view) {
    if (view.pathHex.indexOf(view.rootHex) !== 0) return null;
    return view.pathHex.substring(view.rootHex.length);
  }

  // ---- the page's address --------------------------------------------------
  // "#<share name hex>/<hex path below the share>" names the folder shown in
  // the area; the document stays the index page. The path is kept relative, so
  // a bookmark survives a share that moved, and it never climbs out of it.

  function addressOf(view) {
    var below = belowShare(view);
    return below === null ? null : '#' + view.nameHex + '/' + below;
  }

  // The folder the address names: {nameHex, pathHex}, {unknown: true} for a
  // share the page does not link, or null for no (usable) folder.
  function folderInAddress() {
    var m = /^#((?:[0-9a-fA-F]{2})+)\/((?:[0-9a-fA-F]{2})*)$/.exec(global.location.hash);
    if (!m) return null;
    var nameHex = m[1].toLowerCase(), below = m[2].toLowerCase();
    if (below && below.slice(-2) !== HEX_SEP) return null;
    var segments = [], start = 0;
    for (var i = 0; i < below.length; i += 2) {
      if (below.substr(i, 2) !== HEX_SEP) continue;
      segments.push(below.substring(start, i));
      start = i + 2;
    }
    for (var j = 0; j < segments.length; j++) {
      if (segments[j] === '' || segments[j] === '2e' || segments[j] === '2e2e') return null;
    }
    var root = shareRoot(nameHex);
    if (root === null) return { unknown: true };
    return { nameHex: nameHex, pathHex: root + below };
  }

  // Puts the folder shown into the address: a new history entry (Back comes
  // back here), the current one replaced, or left alone.
  function rememberAddress(view, mode) {
    try { sessionStorage.setItem(STORE_KEY + view.id, view.nameHex + ' ' + view.pathHex); } catch (e) { /* storage off */ }
    if (view.id !== ADDRESS_AREA || mode === 'none' || !global.history.pushState) return;
    var address = addressOf(view);
    if (address === null || address === global.location.hash) return;
    if (mode === 'replace') global.history.replaceState(null, '', address);
    else global.history.pushState(null, '', address);
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

  // Sets a message box's text and kind ("ok", "error" or none); empty hides it.
  function message(box, text, kind) {
    box.textContent = text || '';
    box.classList.add('vm-msg');
    box.classList.remove('vm-ok', 'vm-error');
    if (kind) box.classList.add('vm-' + kind);
    return box;
  }

  // A big folder's first screen does not wait for its last entry: the rows go into blocks
  // (tbody elements) of BLOCK_ROWS, which the style sheet lets the browser skip while they are
  // off screen; the first block goes in at once, the others in batches between frames.
  var BLOCK_ROWS = 100;
  // Batches of a folder being opened are large (fewer frames in between, all rows sooner); those
  // of a refill while the user types are small, so the next key is never kept waiting.
  var BATCH_ROWS = 2000;
  var REFILL_ROWS = 300;
  // Listings of at least this many entries get a box that narrows them by name.
  var FILTER_FROM = 30;

  var HTML_ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
  // Text made safe to put between tags or into a quoted attribute.
  function escapeHtml(text) {
    return String(text).replace(/[&<>"']/g, function (c) { return HTML_ESCAPES[c]; });
  }

  // A row's markup. Rows are made as markup, many at a time, because the browser's parser builds
  // them several times faster than element-by-element calls. Parts add their own markup through
  // the "rowParts" hook: before and after the entry's link, a class for the cell holding them,
  // classes for the link and the row, and row attributes.
  function rowHtml(view, e) {
    var parts = { before: '', after: '', line: '', linkClass: '', rowClass: '', rowAttrs: '' };
    fire('rowParts', parts, e, view);
    var name = escapeHtml(e.name);
    var h = '<tr class="' + (e.dir ? 'vm-row-dir' : 'vm-row-file') + (view.fresh[e.hex] ? ' vm-new' : '') +
      parts.rowClass + '"' + parts.rowAttrs + '><td class="vm-n' + (parts.line ? ' ' + parts.line : '') + '">' + parts.before;
    if (e.dir) {
      h += '<button type="button" class="vm-item vm-dir' + parts.linkClass + '" data-path="' + e.full + '">' + name + '</button>';
    } else {
      h += '<a class="vm-item vm-file' + parts.linkClass + '" href="' + DOWNLOAD_DOC + '?file=' + e.full +
        '" download="' + name + '">' + name + '</a>';
    }
    h += parts.after + '</td>';
    var dp = splitDate(e.date);
    // Day and time as one text, a line break between them (phones show the time under the day):
    // every node counts when a folder has 10,000 rows.
    h += dp[0] ? '<td class="vm-d" title="' + e.date.replace('_', ' ') + '">' + dp[0] + '\n' + dp[1] + '</td>' :
      '<td class="vm-d"></td>';
    h += '<td class="vm-s"' + (e.dir ? '' : ' title="' + groupDigits(e.size) + ' B"') + '>' + escapeHtml(readableSize(e.size)) + '</td></tr>';
    return h;
  }

  // One click handler per table instead of one per row: 10,000 rows with listeners of their own
  // took longer to make than the rows themselves. A folder opens; a file goes to a part that
  // shows it (a viewer) or downloads; any other link with a download attribute in a row (a
  // part's own download button) downloads through the same check that the file is still there.
  function rowClick(id, view) {
    return function (ev) {
      var target = ev.target.closest ? ev.target.closest('a, button') : null;
      var tr = target && target.closest('tr');
      var e = tr && tr.vmEntry;
      if (!e || !view.table.contains(tr)) return;
      if (target.classList.contains('vm-item')) {
        if (e.dir) { exf(id, view.nameHex, e.full); return; }
        var ask = { entry: e, view: view, event: ev, handled: false };
        fire('openFile', ask);
        if (!ask.handled) download(ev, id, view, target, e.name);
      } else if (target.tagName === 'A' && target.hasAttribute('download')) {
        download(ev, id, view, target, e.name);
      }
    };
  }

  // The sorted entries whose name holds the filter text (ignoring case).
  function filtered(view) {
    var q = (view.filter || '').trim().toLowerCase();
    if (!q) return view.sorted;
    return view.sorted.filter(function (e) {
      if (e.lower === undefined) e.lower = e.name.toLowerCase();
      return e.lower.indexOf(q) >= 0;
    });
  }

  // (Re)fills the listing's rows: the first block now, the others in later batches, which a
  // newer fill of the same view cancels.
  function fillRows(id, view, batchRows, list) {
    var table = view.table;
    var mine = view.fill = (view.fill || 0) + 1;
    list = view.shown = list || filtered(view);
    var old = table.querySelectorAll('tbody');
    for (var k = 0; k < old.length; k++) old[k].remove();
    var block = el('tbody');
    if (view.upRow) block.appendChild(view.upRow);
    var at = 0;
    var made = el('tbody');
    // Puts the rows of list[from..to) at the end of a block. Rows not made yet come from markup,
    // parsed right into the block when it holds nothing else (the common case: no row moved).
    function fillBlock(from, to) {
      var fresh = !block.firstChild, html = '';
      for (var i = from; i < to; i++) {
        if (list[i].row) fresh = false;
        else html += rowHtml(view, list[i]);
      }
      var into = fresh ? block : made;
      if (html) into.innerHTML = html;
      var tr = into.firstChild;
      for (var j = from; j < to; j++) {
        var e = list[j];
        if (!e.row) {
          // Clicks are handled by the table (rowClick), which finds the entry on the row.
          e.row = tr;
          tr.vmEntry = e;
          tr = tr.nextSibling;
        }
        // A row is made once per entry: narrowing and widening again only moves rows.
        if (!fresh) block.appendChild(e.row);
      }
    }
    function batch(count) {
      var part = document.createDocumentFragment();
      var end = Math.min(list.length, at + count);
      while (at < end) {
        if (at > 0 && at % BLOCK_ROWS === 0) {
          if (!block.parentNode) part.appendChild(block);
          block = el('tbody');
        }
        var stop = Math.min(end, at - at % BLOCK_ROWS + BLOCK_ROWS);
        fillBlock(at, stop);
        at = stop;
      }
      if (!block.parentNode) part.appendChild(block);
      table.appendChild(part);
    }
    function more() {
      if (view.fill !== mine || views[id] !== view) return;
      batch(batchRows || BATCH_ROWS);
      if (at < list.length) setTimeout(more, 0);
    }
    batch(BLOCK_ROWS);
    // The rest waits until the first block has been painted.
    if (at < list.length) requestAnimationFrame(function () { setTimeout(more, 0); });
    if (view.noMatch) view.noMatch.hidden = !(list.length === 0 && view.sorted.length > 0);
  }

  function filterBox(id, view) {
    var box = el('input', 'vm-filter');
    box.type = 'search';
    box.placeholder = T.filter;
    box.setAttribute('aria-label', T.filter);
    box.value = view.filter || '';
    box.addEventListener('input', function () {
      var before = (view.filter || '').trim().toLowerCase();
      view.filter = box.value;
      var list = filtered(view);
      // A longer text that every shown entry still holds narrows nothing: nothing to redo.
      var after = (view.filter || '').trim().toLowerCase();
      if (view.shown && list.length === view.shown.length && after.indexOf(before) >= 0) {
        view.shown = list;
      } else {
        fillRows(id, view, REFILL_ROWS, list);
        fire('filtered', id, view);
      }
      if (view.countLine) view.countLine.textContent = countText(view);
    });
    return box;
  }

  // "Folders 2 / Files 10,000"; while the filter narrows the listing, how many of all are shown.
  function countText(view) {
    var total = view.data.entries.length;
    if ((view.filter || '').trim() && view.shown) {
      return T.narrowed.replace('%n', groupDigits(view.shown.length)).replace('%t', groupDigits(total));
    }
    var dirs = 0;
    view.data.entries.forEach(function (e) { if (e.dir) dirs++; });
    return T.folders + ' ' + groupDigits(dirs) + T.count + ' / ' + T.files + ' ' + groupDigits(total - dirs) + T.count;
  }

  // The folder's bar: the filter and the parts' tools (selection, zip...). On a phone the upload
  // box folds into it too: a button that picks files, which go at once, and the text button; the
  // style sheet shows these two on narrow screens only.
  function toolBar(id, view) {
    var bar = el('div', 'vm-bar');
    if (view.data.mode !== 'view' && !view.data.missing) {
      bar.appendChild(button('vm-btn vm-narrow-only vm-pick', T.upload, function () {
        var f = form();
        if (f && f.ifile) f.ifile.click();
      }));
      bar.appendChild(button('vm-btn vm-narrow-only vm-pick-text', T.createText, function () { cmd_text(); }));
    }
    if (view.data.mode !== 'dropbox' && view.data.entries.length >= FILTER_FROM) bar.appendChild(filterBox(id, view));
    return bar;
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
        var here = el('span', 'vm-crumb vm-here', c.name);
        here.tabIndex = -1;
        here.setAttribute('aria-current', 'location');
        bar.appendChild(here);
      } else {
        bar.appendChild(button('vm-crumb', c.name, function () { exf(id, view.nameHex, c.hex); }));
      }
    });
    var rb = button('vm-refresh', T.refresh, function () {
      exf(id, view.nameHex, view.pathHex, { history: 'none' });
    });
    rb.title = T.refresh;
    bar.appendChild(rb);
    root.appendChild(bar);

    var notice = message(el('div', 'vm-notice'), view.notice && view.notice.text, view.notice && view.notice.kind);
    notice.setAttribute('role', 'status');
    root.appendChild(notice);

    root.appendChild(toolBar(id, view));
    // A drop box lists nothing: no table, no count, no word of an empty folder.
    var listed = data.mode !== 'dropbox';

    var table = el('table', 'vm-list');
    table.addEventListener('click', rowClick(id, view));
    var thead = el('thead');
    var hr = el('tr');
    [['name', T.colName, 'vm-n'], ['date', T.colDate, 'vm-d'], ['size', T.colSize, 'vm-s']].forEach(function (col) {
      var th = el('th', col[2]);
      var b = button('vm-sort', col[1], function () {
        if (view.sortKey === col[0]) view.sortAsc = !view.sortAsc;
        else { view.sortKey = col[0]; view.sortAsc = col[0] === 'name'; }
        sortPrefs.key = view.sortKey; sortPrefs.asc = view.sortAsc;
        render(id, view);
        var again = root.querySelector('th.' + col[2] + ' button');
        if (again) again.focus();
      });
      if (view.sortKey === col[0]) {
        b.className += view.sortAsc ? ' vm-asc' : ' vm-desc';
        th.setAttribute('aria-sort', view.sortAsc ? 'ascending' : 'descending');
      }
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
      var ub = button('vm-item vm-dir', '..', function () { exf(id, view.nameHex, trail[trail.length - 2].hex); });
      ub.title = T.up;
      ub.setAttribute('aria-label', T.up);
      upCell.appendChild(ub);
      upRow.appendChild(upCell);
      tbody.appendChild(upRow);
    }
    var sortedAs = view.sortKey + (view.sortAsc ? '+' : '-');
    if (view.sortedAs !== sortedAs) {
      view.sorted = sortEntries(data.entries, view.sortKey, view.sortAsc);
      view.sortedAs = sortedAs;
    }
    view.table = table;
    view.upRow = tbody.firstChild;
    view.noMatch = el('p', 'vm-empty', T.noMatch);
    if (listed) {
      root.appendChild(table);
      root.appendChild(view.noMatch);
    }
    fillRows(id, view);

    if (data.missing) {
      var gone = el('p', 'vm-empty vm-missing', T.missing + ' ');
      if (trail.length > 1) gone.appendChild(button('vm-btn', T.shareTop, function () { exf(id, view.nameHex, view.rootHex); }));
      root.appendChild(gone);
    } else if (listed && data.entries.length === 0) {
      root.appendChild(el('p', 'vm-empty', T.empty));
    }
    view.countLine = listed ? root.appendChild(el('p', 'vm-count', countText(view))) : null;
    if (data.mode !== 'view') root.appendChild(el('p', 'vm-drop-hint', T.dropHint));
    fire('listing', id, view, root);
  }

  // Puts the focus into a folder just shown: on the folder the user came up
  // from, else the first entry, else the folder's name.
  function focusListing(id, from) {
    var root = document.getElementById(id);
    if (!root) return;
    var target = null;
    var dirs = root.querySelectorAll('tbody .vm-item[data-path]');
    for (var i = 0; i < dirs.length && from; i++) if (dirs[i].getAttribute('data-path') === from) target = dirs[i];
    target = target || root.querySelector('tbody tr:not(.vm-up) .vm-item') ||
      root.querySelector('tbody .vm-item') || root.querySelector('.vm-here');
    if (target) target.focus();
  }

  function renderProblem(id, text, retry, login) {
    var root = document.getElementById(id);
    if (!root) return;
    root.textContent = '';
    var box = message(el('div'), text, 'error');
    box.setAttribute('role', 'alert');
    box.appendChild(document.createTextNode(' '));
    box.appendChild(button('vm-btn', login ? T.reloadPage : T.retry,
      login ? function () { global.location.reload(); } : retry));
    root.appendChild(box);
  }

  // The area before any folder is opened (or after Back left the first one).
  function showStart(id, text) {
    var area = document.getElementById(id);
    if (!area) return;
    seq[id] = (seq[id] || 0) + 1; // a listing still on its way is not wanted any more
    delete views[id];
    try { sessionStorage.removeItem(STORE_KEY + id); } catch (e) { /* storage off */ }
    area.classList.remove('vm-wait');
    area.textContent = '';
    if (text) area.appendChild(message(el('div'), text, 'error'));
    area.appendChild(el('p', 'vm-hint', T.pick));
    if (id === ADDRESS_AREA) hideForm();
  }

  // ---- downloads -----------------------------------------------------------

  // A plain click on a file asks first whether it is still there: a vanished
  // file would otherwise leave the page for an error text, or save it as the
  // file. Clicks with a modifier are the browser's (new tab, save as...).
  function download(ev, id, view, link, name) {
    if (ev.button !== 0 || ev.ctrlKey || ev.metaKey || ev.shiftKey || ev.altKey) return;
    ev.preventDefault();
    fetch(link.href, { method: 'HEAD', cache: 'no-store', credentials: 'same-origin' }).then(function (r) {
      var type = (r.headers.get('Content-Type') || '').toLowerCase();
      if (r.ok && type.indexOf('text/html') === 0) {
        // Every document answers with the login form when the login ran out.
        renderProblem(id, T.loginNeeded, null, true);
        return;
      }
      if (!r.ok) {
        var gone = r.status === 404 || r.status === 410 || r.status === 500;
        var text = gone ? T.fileGone.replace('%s', function () { return name; }) : T.downloadFailed + ' (' + statusText(r.status) + ')';
        exf(id, view.nameHex, view.pathHex, { history: 'none', notice: { text: text, kind: 'error' } });
        return;
      }
      var a = el('a');
      a.href = link.href;
      a.setAttribute('download', name);
      a.hidden = true;
      document.body.appendChild(a);
      a.click();
      a.remove();
    }, function (err) {
      var box = document.querySelector('#' + id + ' .vm-notice');
      if (box) message(box, T.downloadFailed + ' (' + reason(err) + ')', 'error');
    });
  }

  // ---- the upload form ---------------------------------------------------

  function form() { return document.forms.mform || null; }

  function showForm(view) {
    var f = form();
    if (!f) return;
    // What the last upload said belongs to its folder: another folder starts without it.
    if (current && (current.nameHex !== view.nameHex || current.pathHex !== view.pathHex)) uploadMessage('');
    current = view;
    if (f.dirname) f.dirname.value = view.nameHex;
    f.style.display = 'block';
    var active = shareLink(view.nameHex);
    shareLinks().forEach(function (s) { s.link.classList.toggle('vm-active', s === active); });
    if (active) showInRow(active.link);
    f.classList.add('vm-form');
    var dest = document.getElementById('vm-dest');
    if (dest) dest.textContent = folderLabel(view);
  }

  function hideForm() {
    var f = form();
    current = null;
    if (f) f.style.display = 'none';
    shareLinks().forEach(function (s) { s.link.classList.remove('vm-active'); });
  }

  function setupForm() {
    var f = form();
    if (!f || f.getAttribute('data-vm') === '1') return;
    f.setAttribute('data-vm', '1');
    if (f.ifile) {
      f.ifile.multiple = true;
      f.ifile.setAttribute('aria-label', T.uploadFiles);
      // Picked through the phone's bar, where the form's send button is not shown: the files go.
      f.ifile.addEventListener('change', function () {
        if (f.ifile.offsetParent === null && f.ifile.files.length) upload(Array.prototype.slice.call(f.ifile.files));
      });
    }
    // The page's buttons are Japanese as the server writes them; an English browser reads them in
    // English (the page's bytes stay as they are).
    if (english) {
      var buttons = f.querySelectorAll('input[type="submit"], input[onclick*="cmd_text"]');
      for (var b = 0; b < buttons.length; b++) buttons[b].value = buttons[b].type === 'submit' ? T.send : T.createText;
    }
    // The page's own label is English (its bytes stay as they are): it becomes
    // "upload to", followed by the folder the files go to.
    var dest = el('span', 'vm-dest');
    dest.id = 'vm-dest';
    var label = null, labels = f.getElementsByTagName('b');
    for (var i = 0; i < labels.length && !label; i++) if (labels[i].textContent.trim() === 'Upload:') label = labels[i];
    if (label) {
      label.textContent = T.uploadDest;
      label.parentNode.insertBefore(dest, label.nextSibling);
    } else {
      f.insertBefore(dest, f.firstChild);
    }

    var prog = el('div', 'vm-progress');
    prog.id = 'vm-progress';
    prog.hidden = true;
    var bar = el('progress');
    bar.max = 100;
    bar.value = 0;
    prog.appendChild(bar);
    prog.appendChild(el('span', 'vm-progress-label'));
    prog.appendChild(button('vm-btn vm-cancel', T.cancel, function () { if (uploader) uploader.cancel(); }));
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

  // Hands the files to the upload part, for the folder shown.
  function upload(files) {
    if (!current) { uploadMessage(T.noFolder, 'error'); return; }
    if (uploader) uploader.start(files, current);
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
    // A folder for viewing only offers no drop: the browser shows that none is taken here.
    function refused() { return views[id].data.mode === 'view'; }
    area.addEventListener('dragenter', function (e) {
      if (!hasFiles(e) || !views[id]) return;
      e.preventDefault();
      depth++;
      area.classList.add('vm-drag');
      area.classList.toggle('vm-drag-refused', refused());
      area.setAttribute('data-drop-text', refused() ? T.viewOnlyDrop :
        T.dropNow.replace('%s', function () { return folderLabel(views[id]); }));
    });
    area.addEventListener('dragover', function (e) {
      if (!hasFiles(e) || !views[id]) return;
      e.preventDefault();
      e.dataTransfer.dropEffect = refused() ? 'none' : 'copy';
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
      if (list.length && refused()) {
        var notice = area.querySelector('.vm-notice');
        if (notice) message(notice, T.viewOnlyDrop, 'error');
      } else if (list.length) {
        showForm(views[id]);
        upload(list);
      }
    });
  }

  // A file dropped beside the listing would make the browser leave the page.
  function guardWindowDrop() {
    ['dragover', 'drop'].forEach(function (type) {
      global.addEventListener(type, function (e) {
        if (!e.defaultPrevented && hasFiles(e)) {
          e.preventDefault();
          if (type === 'dragover') e.dataTransfer.dropEffect = 'none';
        }
      });
    });
  }

  // Leaving the page ends an upload half-way: ask first.
  function guardLeaving() {
    global.addEventListener('beforeunload', function (e) {
      if (!uploader || !uploader.busy()) return undefined;
      e.preventDefault();
      e.returnValue = T.leaving;
      return T.leaving;
    });
  }

  // ---- public functions --------------------------------------------------

  var seq = {};

  // Shows folder pathHex of the share nameHex in the element id. opts (the
  // script's own calls): fresh (entry hex -> true, shown as new), notice
  // ({text, kind} above the listing), history ("push", the default, "replace"
  // or "none": what the folder does to the page's address).
  function exf(id, nameHex, pathHex, opts) {
    opts = opts || {};
    nameHex = String(nameHex || '').toLowerCase();
    pathHex = String(pathHex || '').toLowerCase();
    var root = document.getElementById(id);
    if (!root) return;
    setupForm();
    setupDrop(id);
    var mine = seq[id] = (seq[id] || 0) + 1;
    var old = views[id];
    var keyboard = byKeyboard;
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
        sortKey: sortPrefs.key, sortAsc: sortPrefs.asc, fresh: opts.fresh || {}, notice: opts.notice || null
      };
      views[id] = view;
      render(id, view);
      showForm(view);
      fire('folder', id, view);
      rememberAddress(view, opts.history || 'push');
      if (keyboard) focusListing(id, old && old.nameHex === nameHex ? old.pathHex : null);
    }).catch(function (err) {
      if (seq[id] !== mine) return;
      root.classList.remove('vm-wait');
      renderProblem(id, T.loadFailed + ' (' + reason(err) + ')', function () {
        exf(id, nameHex, pathHex, opts);
      }, false);
    });
  }

  // Opens the text-creation window for the folder being shown; where pop-ups
  // are blocked, the text page takes this tab and comes back when done.
  function cmd_text() {
    var view = current;
    if (!view) { uploadMessage(T.noFolder, 'error'); return; }
    var below = belowShare(view);
    var url = TEXT_DOC + '?dirname=' + view.nameHex + (below ? '&dirpath=' + view.pathHex : '') + '&tt=' + now();
    var w = null;
    try {
      w = global.open(url, 'velmarind_text', 'width=760,height=640,resizable=yes,scrollbars=yes');
    } catch (e) {
      w = null;
    }
    if (!w) {
      global.location.href = url;
      return;
    }
    try { w.focus(); } catch (e) { /* another origin */ }
  }

  // Shows the folder the address names, else the one this tab showed last,
  // else the hint to pick a share.
  function showFromAddress(mode) {
    var area = document.getElementById(ADDRESS_AREA);
    if (!area || !shareLinks().length) return;
    var want = folderInAddress();
    if (want && want.unknown) { showStart(ADDRESS_AREA, T.unknownShare); return; }
    if (want) {
      var shown = views[ADDRESS_AREA];
      if (!shown || shown.nameHex !== want.nameHex || shown.pathHex !== want.pathHex) {
        exf(ADDRESS_AREA, want.nameHex, want.pathHex, { history: mode });
      }
      return;
    }
    var saved = null;
    if (!global.location.hash) {
      try { saved = sessionStorage.getItem(STORE_KEY + ADDRESS_AREA); } catch (e) { saved = null; }
    }
    if (mode === 'replace' && saved) {
      var p = saved.split(' ');
      if (shareRoot(p[0]) !== null) { exf(ADDRESS_AREA, p[0], p[1] || shareRoot(p[0]), { history: 'replace' }); return; }
    }
    showStart(ADDRESS_AREA);
  }

  function start() {
    document.documentElement.lang = 'ja';
    fixShareLabels();
    boxShares();
    guardWindowDrop();
    guardLeaving();
    setupForm();
    document.addEventListener('keydown', function () { byKeyboard = true; }, true);
    document.addEventListener('pointerdown', function () { byKeyboard = false; }, true);
    // Back and Forward between folders, and an address edited by hand.
    global.addEventListener('hashchange', function () { showFromAddress('none'); });
    showFromAddress('replace');
  }

  // The feature parts joined after this file reach the core through this object. They add
  // what they show through hooks the core calls (on), and find the core's helpers here.
  var hooks = {};
  function on(name, fn) { (hooks[name] = hooks[name] || []).push(fn); }
  function fire(name) {
    var args = Array.prototype.slice.call(arguments, 1);
    (hooks[name] || []).forEach(function (fn) { fn.apply(null, args); });
  }
  global.VelmarindCore = {
    on: on, fire: fire, exf: exf, el: el, escapeHtml: escapeHtml, views: views, texts: texts,
    button: button, message: message, reason: reason,
    // For the upload part.
    setUploader: function (u) { uploader = u; }, uploadMessage: uploadMessage,
    folderLabel: folderLabel, belowShare: belowShare,
    readableSize: readableSize, download: download
  };

  addViewport(document);
  document.documentElement.lang = 'ja';
  global.exf = exf;
  global.cmd_text = cmd_text;
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})(window);
