/*
 * Managing a folder from the listing: entries are selected with check boxes
 * (or a long press on a phone), then downloaded as one zip or moved to the
 * trash; one is renamed; a new folder is made. What is offered follows the
 * share's mode, which the listing answer names; the server checks it anyway.
 */
(function (global) {
  'use strict';
  var core = global.VelmarindCore;
  if (!core) return;

  var T = core.texts({
    select: ['選択', 'Select'],
    selectAll: ['すべて選択', 'Select all'],
    selected: ['個を選択中', 'selected'],
    zip: ['ZIPでダウンロード', 'Download as zip'],
    zipFolder: ['フォルダをZIPでダウンロード', 'Download folder as zip'],
    trash: ['削除', 'Delete'],
    rename: ['名前の変更', 'Rename'],
    newFolder: ['新しいフォルダ', 'New folder'],
    confirmTrash: ['%n 個の項目をごみ箱に移します。よろしいですか？', '%n item will be moved to the trash. Continue?',
      '%n items will be moved to the trash. Continue?'],
    renamePrompt: ['新しい名前:', 'New name:'],
    folderPrompt: ['新しいフォルダの名前:', 'Name of the new folder:'],
    trashed: ['%n 個の項目をごみ箱に移しました。', '%n item moved to the trash.', '%n items moved to the trash.'],
    renamed: ['名前を変更しました:', 'Renamed:'],
    folderMade: ['フォルダを作りました:', 'Folder created:'],
    dropbox: ['このフォルダはアップロード専用です。アップロードしたファイルは届きますが、ここには表示されません。',
      'This folder takes uploads only: uploaded files arrive, but are not shown here.'],
    viewOnly: ['このフォルダは閲覧専用です。', 'This folder is for viewing only.'],
    NotFound: ['見つかりません。移動または削除された可能性があります。', 'Not found. It may have been moved or deleted.'],
    NotAllowed: ['このフォルダでは許可されていない操作です。', 'This is not allowed in this folder.'],
    BadName: ['その名前は使えません。', 'That name cannot be used.'],
    Exists: ['同じ名前の項目がすでにあります。', 'An item of that name exists already.'],
    NoTrash: ['ごみ箱が使えないため、削除できません。', 'No trash can be used here, so nothing was deleted.'],
    HoldsShare: ['中に別の共有フォルダなど、ここからは変えられないフォルダがあるため、削除も名前の変更もできません。',
      'It holds another shared folder or a folder that cannot be changed from here, so it cannot be deleted or renamed.'],
    CannotWrite: ['サーバーで変更できませんでした。', 'The server could not make the change.'],
    TooMany: ['項目が多すぎてZIPにできません。', 'Too many items for one zip.'],
    failed: ['操作できませんでした', 'The operation failed']
  });

  var ZIP_DOC = 'vm-zip';
  var TRASH_DOC = 'vm-trash';
  var RENAME_DOC = 'vm-rename';
  var FOLDER_DOC = 'vm-mkdir';
  // A small form body is at most 8 KiB: larger deletions go in several posts.
  var FORM_LIMIT = 7000;
  // A zip of a selection goes as a link while the address stays this short.
  var URL_LIMIT = 6000;
  // A press held this long selects the entry instead of opening it.
  var LONG_PRESS_MS = 550;

  // Per listing area: the hex names selected.
  var selections = {};

  function canDownload(view) { return view.data.mode !== 'dropbox'; }
  function canManage(view) { return view.data.mode === 'full'; }
  function canUpload(view) { return view.data.mode !== 'view'; }

  function selected(id) { return selections[id] || (selections[id] = {}); }
  // The selection of the folder the view shows: one made in another folder is dropped.
  function selectionFor(view) {
    var key = view.nameHex + ' ' + view.pathHex;
    if (!selections[view.id] || selections[view.id].__folder !== key) {
      selections[view.id] = {};
      Object.defineProperty(selections[view.id], '__folder', { value: key, enumerable: false });
    }
    return selections[view.id];
  }
  // The names selected, in the order of the listing data (folders first). Entries the filter
  // hides are not selected (the "filtered" hook): the actions apply to what is shown.
  function selectedHex(id) {
    var sel = selected(id), view = core.views[id];
    if (!view || !view.data) return Object.keys(sel);
    return view.data.entries.filter(function (e) { return sel[e.hex]; }).map(function (e) { return e.hex; });
  }

  // The entries the listing shows (after its filter), whether or not their rows exist yet.
  function shownEntries(id) {
    var view = core.views[id];
    if (!view || !view.data) return [];
    return view.shown || view.data.entries;
  }

  function utf8Hex(text) {
    var bytes = new TextEncoder().encode(text);
    var out = '';
    for (var i = 0; i < bytes.length; i++) out += (bytes[i] < 16 ? '0' : '') + bytes[i].toString(16);
    return out;
  }

  function notice(view, text, kind) {
    core.exf(view.id, view.nameHex, view.pathHex, { history: 'none', notice: { text: text, kind: kind } });
  }

  // The text of a refused answer, from its reason word.
  function refusalText(r) {
    var word = r.headers.get('X-Velmarind-Refused') || '';
    return T.hasOwnProperty(word) ? T[word] : T.failed + ' (HTTP ' + r.status + ')';
  }

  function post(doc, fields) {
    return fetch(doc, {
      method: 'POST', credentials: 'same-origin', cache: 'no-store',
      body: new URLSearchParams(fields)
    });
  }

  // ---- the selection in the rows -------------------------------------------

  // Shows a row as selected or not.
  function markRow(tr, on) {
    tr.classList.toggle('vm-selected', on);
    var box = tr.querySelector('.vm-check');
    if (box) box.checked = on;
  }

  function setChecked(id, tr, hex, on) {
    var sel = selected(id);
    if (on) sel[hex] = true; else delete sel[hex];
    if (tr) markRow(tr, on);
    updateBar(id);
  }

  // A check box goes in front of the entry, on one line with it (the cell lays them out in a row). Its changes and long presses
  // on rows are handled once per table (watchRows), not by listeners on every row.
  function checkBoxParts(parts, e, view) {
    var on = !!selectionFor(view)[e.hex];
    parts.line = 'vm-check-line';
    parts.rowAttrs += ' data-hex="' + e.hex + '"';
    if (on) parts.rowClass += ' vm-selected';
    parts.before = '<input type="checkbox" class="vm-check" aria-label="' + core.escapeHtml(T.select + ': ' + e.name) + '"' +
      (on ? ' checked' : '') + '>' + parts.before;
  }

  // A long press on a row toggles its selection; the click that ends it is then not an opening
  // of the entry.
  function watchRows(view, table) {
    var id = view.id, timer = null, fired = false, pressed = null;
    function rowOf(node) {
      var tr = node && node.closest ? node.closest('tr') : null;
      return tr && tr.vmEntry && tr.querySelector('.vm-check') ? tr : null;
    }
    function cancel() { if (timer) { clearTimeout(timer); timer = null; } }
    table.addEventListener('change', function (ev) {
      var tr = ev.target.classList.contains('vm-check') ? rowOf(ev.target) : null;
      if (tr) setChecked(id, tr, tr.vmEntry.hex, ev.target.checked);
    });
    table.addEventListener('pointerdown', function (ev) {
      var tr = rowOf(ev.target);
      if (!tr || ev.pointerType === 'mouse' || ev.target.classList.contains('vm-check')) return;
      fired = false;
      cancel();
      pressed = tr;
      timer = setTimeout(function () {
        timer = null;
        fired = true;
        setChecked(id, tr, tr.vmEntry.hex, !selected(id)[tr.vmEntry.hex]);
      }, LONG_PRESS_MS);
    });
    ['pointerup', 'pointercancel'].forEach(function (type) { table.addEventListener(type, cancel); });
    table.addEventListener('pointermove', function (ev) { if (ev.movementX || ev.movementY) cancel(); });
    table.addEventListener('pointerout', function (ev) {
      if (pressed && !pressed.contains(ev.relatedTarget)) cancel();
    });
    table.addEventListener('click', function (ev) {
      if (!fired) return;
      fired = false;
      ev.preventDefault();
      ev.stopPropagation();
    }, true);
    table.addEventListener('contextmenu', function (ev) { if (timer || fired) ev.preventDefault(); });
  }

  // ---- the bar above the listing -------------------------------------------

  function updateBar(id) {
    var root = document.getElementById(id);
    var view = core.views[id];
    if (!root || !view) return;
    var count = selectedHex(id).length;
    var all = root.querySelector('.vm-select-all');
    var rows = shownEntries(id).length;
    if (all) {
      all.checked = count > 0 && count === rows;
      all.indeterminate = count > 0 && count < rows;
    }
    var label = root.querySelector('.vm-selected-count');
    if (label) label.textContent = count ? count + ' ' + T.selected : '';
    var zip = root.querySelector('.vm-zip');
    if (zip) zip.textContent = count ? T.zip : T.zipFolder;
    var trash = root.querySelector('.vm-trash');
    if (trash) trash.disabled = count === 0;
    var rename = root.querySelector('.vm-rename');
    if (rename) rename.disabled = count !== 1;
  }

  function buildBar(id, view, root) {
    var bar = core.el('div', 'vm-manage');
    bar.setAttribute('role', 'toolbar');
    if (view.data.mode === 'dropbox') {
      root.insertBefore(core.el('p', 'vm-mode-note', T.dropbox), root.querySelector('.vm-list, .vm-drop-hint'));
      return;
    }
    var allLabel = core.el('label', 'vm-all');
    var all = document.createElement('input');
    all.type = 'checkbox';
    all.className = 'vm-select-all';
    all.addEventListener('change', function () {
      // Every entry shown, also those whose rows a large folder has not made yet.
      var sel = selected(id);
      shownEntries(id).forEach(function (e) { if (all.checked) sel[e.hex] = true; else delete sel[e.hex]; });
      var rows = root.querySelectorAll('tbody tr[data-hex]');
      for (var i = 0; i < rows.length; i++) markRow(rows[i], all.checked);
      updateBar(id);
    });
    allLabel.appendChild(all);
    allLabel.appendChild(document.createTextNode(' ' + T.selectAll));
    bar.appendChild(allLabel);
    bar.appendChild(core.el('span', 'vm-selected-count'));
    if (canDownload(view)) bar.appendChild(core.button('vm-btn vm-zip', T.zipFolder, function () { downloadZip(view); }));
    if (canManage(view)) {
      bar.appendChild(core.button('vm-btn vm-rename', T.rename, function () { rename(view); }));
      bar.appendChild(core.button('vm-btn vm-trash vm-danger', T.trash, function () { trash(view); }));
      bar.appendChild(core.button('vm-btn vm-new-folder', T.newFolder, function () { newFolder(view); }));
    }
    var table = root.querySelector('.vm-list');
    // Into the folder's bar, beside the filter; a phone shows them as one row.
    var tools = root.querySelector('.vm-bar');
    if (tools) tools.appendChild(bar);
    else root.insertBefore(bar, table);
    if (view.data.mode === 'view') root.insertBefore(core.el('p', 'vm-mode-note', T.viewOnly), table);
    updateBar(id);
  }

  // ---- the operations ----------------------------------------------------------

  function nameOf(view, hex) {
    var entries = view.data.entries;
    for (var i = 0; i < entries.length; i++) if (entries[i].hex === hex) return entries[i].name;
    return hex;
  }

  function downloadZip(view) {
    var items = selectedHex(view.id).join('.');
    var query = 'dir=' + view.pathHex + (items ? '&items=' + items : '');
    if (query.length > URL_LIMIT) {
      // Too long for an address: sent as a form, whose answer the browser saves.
      var f = document.createElement('form');
      f.method = 'POST';
      f.action = ZIP_DOC;
      f.hidden = true;
      [['dir', view.pathHex], ['items', items]].forEach(function (p) {
        var input = document.createElement('input');
        input.type = 'hidden';
        input.name = p[0];
        input.value = p[1];
        f.appendChild(input);
      });
      document.body.appendChild(f);
      f.submit();
      f.remove();
      return;
    }
    // Asked first, so that a refusal is told here instead of replacing the page.
    fetch(ZIP_DOC + '?' + query, { method: 'HEAD', credentials: 'same-origin', cache: 'no-store' }).then(function (r) {
      if (!r.ok) { notice(view, refusalText(r), 'error'); return; }
      var a = core.el('a');
      a.href = ZIP_DOC + '?' + query;
      a.hidden = true;
      document.body.appendChild(a);
      a.click();
      a.remove();
    }, function (err) { notice(view, T.failed + ' (' + core.reason(err) + ')', 'error'); });
  }

  // Posts the deletions in batches that each fit a small form.
  function trash(view) {
    var hexes = selectedHex(view.id);
    if (!hexes.length) return;
    var names = hexes.map(function (h) { return nameOf(view, h); });
    var shown = names.slice(0, 5).join('\n') + (names.length > 5 ? '\n…' : '');
    if (!global.confirm(T.confirmTrash(hexes.length) + '\n\n' + shown)) return;
    var batches = [], batch = [];
    hexes.forEach(function (h) {
      if (batch.length && (batch.join('.').length + h.length + view.pathHex.length) > FORM_LIMIT) { batches.push(batch); batch = []; }
      batch.push(h);
    });
    batches.push(batch);
    var done = 0;
    function next(i) {
      if (i >= batches.length) {
        delete selections[view.id];
        notice(view, T.trashed(done), 'ok');
        return;
      }
      post(TRASH_DOC, { dir: view.pathHex, items: batches[i].join('.') }).then(function (r) {
        done += Number(r.headers.get('X-Velmarind-Done') || 0);
        if (!r.ok) {
          delete selections[view.id];
          notice(view, (done ? T.trashed(done) + ' ' : '') + refusalText(r), 'error');
          return;
        }
        next(i + 1);
      }, function (err) { notice(view, T.failed + ' (' + core.reason(err) + ')', 'error'); });
    }
    next(0);
  }

  function rename(view) {
    var hexes = selectedHex(view.id);
    if (hexes.length !== 1) return;
    var old = nameOf(view, hexes[0]);
    var typed = global.prompt(T.renamePrompt, old);
    // The same name again: done with this entry, which leaves the selection.
    if (typed === old) setChecked(view.id, view.table.querySelector('tr[data-hex="' + hexes[0] + '"]'), hexes[0], false);
    if (typed === null || typed === '' || typed === old) return;
    post(RENAME_DOC, { dir: view.pathHex, from: hexes[0], to: utf8Hex(typed) }).then(function (r) {
      if (!r.ok) { notice(view, refusalText(r), 'error'); return; }
      delete selections[view.id];
      notice(view, T.renamed + ' ' + old + ' → ' + typed, 'ok');
    }, function (err) { notice(view, T.failed + ' (' + core.reason(err) + ')', 'error'); });
  }

  function newFolder(view) {
    var typed = global.prompt(T.folderPrompt, '');
    if (typed === null || typed === '') return;
    post(FOLDER_DOC, { dir: view.pathHex, name: utf8Hex(typed) }).then(function (r) {
      if (!r.ok) { notice(view, refusalText(r), 'error'); return; }
      notice(view, T.folderMade + ' ' + typed, 'ok');
    }, function (err) { notice(view, T.failed + ' (' + core.reason(err) + ')', 'error'); });
  }

  // ---- hooks -------------------------------------------------------------------

  core.on('rowParts', function (parts, e, view) {
    if (view.data.mode !== 'dropbox') checkBoxParts(parts, e, view);
  });

  core.on('listing', function (id, view, root) {
    selectionFor(view);
    if (view.data.mode !== 'dropbox') watchRows(view, view.table);
    // Entries gone since they were selected are no longer selected.
    var present = {};
    view.data.entries.forEach(function (e) { present[e.hex] = true; });
    selectedHex(id).forEach(function (h) { if (!present[h]) delete selections[id][h]; });
    buildBar(id, view, root);
  });

  // Entries the filter hides leave the selection, so that an action never reaches what is not
  // shown; their rows, made once and kept, are unchecked for when they come back.
  core.on('filtered', function (id, view) {
    var sel = selectionFor(view), shown = {};
    shownEntries(id).forEach(function (e) { shown[e.hex] = true; });
    view.data.entries.forEach(function (e) {
      if (!sel[e.hex] || shown[e.hex]) return;
      delete sel[e.hex];
      if (e.row) markRow(e.row, false);
    });
    updateBar(id);
  });

  core.on('folder', function (id, view) {
    // Adding files is offered only where the share takes them.
    var form = document.forms.mform;
    if (form && !canUpload(view)) form.style.display = 'none';
    var textButtons = document.querySelectorAll('[onclick*="cmd_text"]');
    for (var i = 0; i < textButtons.length; i++) textButtons[i].hidden = !canUpload(view);
  });
})(window);
