/*
 * Velmarind page script: sending uploads.
 *
 * The files go one after the other under one progress bar, with speed, time
 * left and a cancel button; the screen is kept awake where the browser allows.
 * A small file goes as the upload form's multipart body. A large one goes in
 * pieces to "vm-chunk": before it starts, after a network drop and after a
 * reload, the server is asked how much of the file it holds, and the upload
 * goes on from there. Unfinished uploads are remembered in this browser, and
 * the page offers to go on with them when the same file is chosen again.
 */
(function (global) {
  'use strict';
  var core = global.VelmarindCore;
  if (!core) return;

  var T = core.texts({
    chooseFiles: ['アップロードするファイルを選んでください。', 'Choose the files to upload.'],
    busy: ['アップロード中です。終わるまでお待ちください。', 'An upload is running. Please wait until it ends.'],
    uploading: ['アップロード中', 'Uploading'],
    left: ['残り', 'left'],
    minutes: ['分', ' min '],
    seconds: ['秒', ' s'],
    uploadedTo: ['%n 個のファイルをアップロードしました:', '%n file uploaded to', '%n files uploaded to'],
    partly: ['%n 個のファイルのうち、保存できたのは', '%n file sent; saved:', '%n files sent; saved:'],
    savedAs: ['保存した名前:', 'Saved as:'],
    andMore: ['ほか %n 個', 'and %n more', 'and %n more'],
    keepNames: ['PC の「設定」で、元のファイル名のまま保存するようにもできます。', 'The settings on the PC can keep the original file names.'],
    reconnecting: ['再接続中…', 'Reconnecting…'],
    noBytes: ['通信が止まっています', 'nothing is getting through'],
    partlyEnd: ['個です:', 'in'],
    arrived: ['届いたファイル:', 'Arrived:'],
    missed: ['届かなかったファイル:', 'Not arrived:'],
    noneSaved: ['アップロードしたファイルはサーバーに保存されませんでした。', 'The server saved none of the files.'],
    aborted: ['アップロードを中止しました。', 'The upload was cancelled.'],
    netError: ['通信エラー', 'network error'],
    serverError: ['サーバーエラー', 'server error'],
    diskFull: ['サーバーの空き容量が足りません', 'the server\'s disk is full'],
    noFolder: ['保存先のフォルダがありません', 'the folder is not there'],
    badName: ['使えない名前です', 'the name cannot be used'],
    cannotWrite: ['サーバーが書き込めませんでした', 'the server could not write it'],
    notAllowed: ['このフォルダにはアップロードできません', 'this folder takes no uploads'],
    tooMany: ['中断したアップロードが多すぎます。続きを送るか取り消してください', 'too many unfinished uploads: go on with some or discard them first'],
    loginNeeded: ['ログインし直してください', 'log in again'],
    changed: ['ファイルが変わったため送れません', 'the file changed while it was sent'],
    resumeOffer: ['中断したアップロードがあります:', 'Unfinished upload:'],
    resumeHint: ['同じファイルを選ぶと続きから送ります。', 'Choose the same file to go on where it stopped.'],
    resume: ['続きを送る', 'Go on'],
    discard: ['取り消す', 'Discard'],
    otherFile: ['選んだファイルは中断したものと違います。もう一度選ぶか、取り消してください。',
      'That is not the file of the unfinished upload. Choose it again, or discard the upload.'],
    resumable: ['同じファイルを選ぶと続きから再開できます。', 'Choose the same file again to go on where it stopped.']
  });

  var FORM_DOC = 'index.html';
  var CHUNK_DOC = 'vm-chunk';
  // Files above this size go in pieces: below it a cut costs little to send again.
  var LARGE_FILE = 16 * 1024 * 1024;
  // One piece: large enough that a request costs nothing beside it, small enough that a cut
  // one is sent again in a moment even from a phone.
  var CHUNK = 8 * 1024 * 1024;
  // Unfinished uploads kept in this browser; the server gives up on them after a day.
  var STORE_KEY = 'velmarind.uploads';
  var KEEP_MS = 24 * 3600 * 1000;
  // After a failed request: waits before asking again, the last one repeated, and how many
  // failures in a row end the upload (about four minutes of a dead network).
  var RETRY_MS = [1000, 2000, 4000, 8000, 15000, 30000];
  var MAX_FAILURES = 12;
  // A chunk whose checksum the server refuses is sent again this often before giving up.
  var MAX_RESENDS = 3;
  // Speed is measured over this window; the label changes at most this often.
  var SPEED_WINDOW_MS = 5000;
  var LABEL_EVERY_MS = 250;
  // No byte moved for this long: the label says that the upload is reconnecting.
  var STALL_MS = 3000;
  // Saved names listed after an upload; the rest are counted.
  var NAMES_SHOWN = 5;
  // The note that the settings can keep the original names is given once in this browser.
  var NAMES_NOTE_KEY = 'velmarind.namesNote';
  var STAMPED_NAME = /^__vupd_img_\d{15}/;

  var job = null;

  // ---- CRC-32 (as zlib's), eight bytes a step --------------------------------

  var CRC_TABLE = (function () {
    var t = new Int32Array(256 * 8);
    for (var n = 0; n < 256; n++) {
      var c = n;
      for (var k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
      t[n] = c;
    }
    for (var m = 0; m < 256; m++) {
      var d = t[m];
      for (var s = 1; s < 8; s++) { d = t[d & 0xff] ^ (d >>> 8); t[s * 256 + m] = d; }
    }
    return t;
  })();

  function crc32(bytes) {
    var t = CRC_TABLE, c = -1, i = 0, n = bytes.length;
    for (; i + 8 <= n; i += 8) {
      c ^= bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (bytes[i + 3] << 24);
      c = t[1792 + (c & 0xff)] ^ t[1536 + ((c >>> 8) & 0xff)] ^ t[1280 + ((c >>> 16) & 0xff)] ^
        t[1024 + (c >>> 24)] ^ t[768 + bytes[i + 4]] ^ t[512 + bytes[i + 5]] ^
        t[256 + bytes[i + 6]] ^ t[bytes[i + 7]];
    }
    for (; i < n; i++) c = t[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
    return (c ^ -1) >>> 0;
  }

  function hex8(n) { return ('0000000' + n.toString(16)).slice(-8); }

  function hexOfText(text) {
    var bytes = new TextEncoder().encode(text), out = '';
    for (var i = 0; i < bytes.length; i++) out += (bytes[i] < 16 ? '0' : '') + bytes[i].toString(16);
    return out;
  }

  function hexToBytes(hex) {
    var out = new Uint8Array(hex.length >> 1);
    for (var i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
    return out;
  }

  // A saved name as the server gives it (hex of Shift_JIS, or of UTF-8) as text.
  function savedName(hex) {
    var bytes = hexToBytes(hex);
    try { return new TextDecoder('utf-8', { fatal: true }).decode(bytes); } catch (e) { /* Shift_JIS */ }
    try { return new TextDecoder('shift_jis').decode(bytes); } catch (e) { return hex; }
  }

  function randomId() {
    var b = new Uint8Array(16);
    global.crypto.getRandomValues(b);
    var out = '';
    for (var i = 0; i < b.length; i++) out += (b[i] < 16 ? '0' : '') + b[i].toString(16);
    return out;
  }

  // ---- unfinished uploads kept in this browser ---------------------------------

  function loadEntries() {
    var list = [];
    try { list = JSON.parse(global.localStorage.getItem(STORE_KEY) || '[]'); } catch (e) { list = []; }
    var now = Date.now();
    return Array.isArray(list) ? list.filter(function (e) { return e && e.id && now - (e.touched || 0) < KEEP_MS; }) : [];
  }

  function saveEntries(list) {
    try { global.localStorage.setItem(STORE_KEY, JSON.stringify(list)); } catch (e) { /* storage off */ }
  }

  function sameFile(e, target, file) {
    return e.nameHex === target.nameHex && e.dirpath === target.dirpath && e.name === file.name &&
      e.size === file.size && e.mtime === file.lastModified;
  }

  // The kept entry of this file in this folder, or a new one (kept at once: a reload from
  // here on can go on with it).
  function entryFor(target, file) {
    var list = loadEntries();
    for (var i = 0; i < list.length; i++) if (sameFile(list[i], target, file)) return list[i];
    var e = {
      id: randomId(), nameHex: target.nameHex, dirpath: target.dirpath, pathHex: target.pathHex,
      where: target.where, name: file.name, size: file.size, mtime: file.lastModified, touched: Date.now()
    };
    list.push(e);
    saveEntries(list);
    return e;
  }

  function touchEntry(entry, held) {
    var list = loadEntries();
    list.forEach(function (e) { if (e.id === entry.id) { e.touched = Date.now(); e.held = held; } });
    saveEntries(list);
  }

  function forgetEntry(entry) {
    saveEntries(loadEntries().filter(function (e) { return e.id !== entry.id; }));
  }

  // ---- requests ------------------------------------------------------------------

  function failure(text, retry) {
    var e = new Error(text);
    e.text = text;
    e.retry = !!retry;
    return e;
  }

  function refusalText(word, status) {
    switch (word) {
      case 'DiskFull': return T.diskFull;
      case 'NoFolder': return T.noFolder;
      case 'BadName': return T.badName;
      case 'CannotWrite': return T.cannotWrite;
      case 'NotAllowed': return T.notAllowed;
      case 'TooManyUploads': return T.tooMany;
      case 'Mismatch': return T.changed;
      default: return T.serverError + ' HTTP ' + status;
    }
  }

  function chunkUrl(op, entry, extra) {
    return CHUNK_DOC + '?op=' + op + '&id=' + entry.id + '&dirname=' + entry.nameHex +
      (entry.dirpath ? '&dirpath=' + entry.pathHex : '') + '&name=' + hexOfText(entry.name) +
      '&size=' + entry.size + '&mtime=' + entry.mtime + (extra || '');
  }

  // Sends with XMLHttpRequest, for its upload progress. Resolves {status, header(name), text};
  // rejects a failure to retry when the network failed.
  function send(method, url, body, onProgress) {
    return new Promise(function (resolve, reject) {
      var xhr = new XMLHttpRequest();
      if (job) job.xhr = xhr;
      xhr.open(method, url);
      if (onProgress) xhr.upload.onprogress = function (e) { onProgress(e.loaded); };
      xhr.onload = function () {
        if (job && job.xhr === xhr) job.xhr = null;
        resolve({ status: xhr.status, header: function (n) { return xhr.getResponseHeader(n); }, text: xhr.responseText });
      };
      xhr.onerror = xhr.ontimeout = function () { reject(failure(T.netError, true)); };
      xhr.onabort = function () { reject(failure(T.aborted, false)); };
      xhr.send(body);
    });
  }

  // An answer of vm-chunk as {held, saved}; throws a failure for a refusal (to retry for the
  // server's own trouble), and for the login form a client no longer admitted gets instead.
  function chunkAnswer(r) {
    var held = r.header('X-Velmarind-Held');
    if (r.status === 200 && held === null) throw failure(T.loginNeeded, false);
    var word = r.header('X-Velmarind-Refused');
    if (r.status === 200 || (r.status === 409 && held !== null)) {
      return { held: Number(held), saved: r.header('X-Velmarind-Saved') || '', conflict: r.status === 409 };
    }
    if (r.status === 422) return { held: Number(held), saved: '', damaged: true };
    throw failure(refusalText(word, r.status), r.status >= 500 && word !== 'DiskFull');
  }

  function wait(ms) {
    return new Promise(function (resolve) {
      var timer = setTimeout(done, ms);
      // Back online, back on screen, or cancelled: at once.
      if (job) job.kick = done;
      function done() {
        clearTimeout(timer);
        if (job && job.kick === done) job.kick = null;
        global.removeEventListener('online', done);
        document.removeEventListener('visibilitychange', visible);
        resolve();
      }
      function visible() { if (document.visibilityState === 'visible') done(); }
      global.addEventListener('online', done);
      document.addEventListener('visibilitychange', visible);
    });
  }

  // Runs step until it gives a result, waiting after each failure that may pass (a network
  // drop, the server's own trouble); gives up after MAX_FAILURES of them in a row.
  function retrying(step) {
    var failures = 0;
    function attempt() {
      if (job.cancelled) return Promise.reject(failure(T.aborted, false));
      return step().catch(function (e) {
        if (!e.retry || job.cancelled || ++failures >= MAX_FAILURES) throw e;
        return wait(RETRY_MS[Math.min(failures - 1, RETRY_MS.length - 1)]).then(attempt);
      });
    }
    return attempt();
  }

  // ---- one file --------------------------------------------------------------------

  function sendForm(file, target) {
    var body = new FormData();
    body.append('menu', 'updimg');
    body.append('ifile', file, file.name);
    body.append('dirname', target.nameHex);
    if (target.dirpath) body.append('dirpath', target.pathHex);
    body.append('_charset_', 'UTF-8');
    // The folder goes in the query too: the server refuses an upload it will not take from
    // the request's head, and never keeps its body.
    var url = FORM_DOC + '?dirname=' + target.nameHex + (target.dirpath ? '&dirpath=' + target.pathHex : '');
    return send('POST', url, body, function (loaded) { progress(Math.min(loaded, file.size)); }).then(function (r) {
      var saved = r.header('X-Velmarind-Saved');
      if (r.status >= 200 && r.status < 300 && saved) return saved.split(',')[0];
      if (r.status >= 200 && r.status < 300 && !r.header('X-Velmarind-Refused') && /name="?passwd/.test(r.text)) {
        throw failure(T.loginNeeded, false);
      }
      throw failure(refusalText(r.header('X-Velmarind-Refused'), r.status), false);
    });
  }

  // The piece of the file at offset, checksummed. It is sent as a part of the file, which the
  // browser reads itself as it sends: handing it the bytes read here costs it seconds a piece.
  function prepare(file, offset) {
    var blob = file.slice(offset, Math.min(offset + CHUNK, file.size));
    return blob.arrayBuffer().then(function (buf) {
      return { offset: offset, blob: blob, size: blob.size, crc: crc32(new Uint8Array(buf)) };
    });
  }

  function sendChunked(file, target) {
    var entry = entryFor(target, file);
    var resends = 0;
    function ask() {
      return retrying(function () {
        return send('GET', chunkUrl('held', entry, '&tt=' + Date.now()), null).then(chunkAnswer);
      });
    }
    // Sends from held on; the next piece is read while the one before is on its way.
    function from(state, ready) {
      if (state.saved) return state.saved;
      var held = state.held;
      progress(held);
      touchEntry(entry, held);
      var piece = ready && ready.offset === held ? Promise.resolve(ready) : prepare(file, held);
      return piece.then(function (p) {
        if (job.cancelled) throw failure(T.aborted, false);
        var next = p.offset + p.size < file.size ? prepare(file, p.offset + p.size) : null;
        return send('POST', chunkUrl('put', entry, '&offset=' + p.offset + '&crc=' + hex8(p.crc)), p.blob,
          function (loaded) { progress(held + Math.min(loaded, p.size)); }
        ).then(chunkAnswer).then(function (answer) {
          if (answer.damaged && ++resends > MAX_RESENDS) throw failure(T.netError, false);
          return (next || Promise.resolve(null)).then(function (n) { return from(answer, n); });
        }, function (e) {
          if (!e.retry) throw e;
          // Cut on the way: ask what arrived, and go on from there.
          return ask().then(function (answer) { return from(answer, null); });
        });
      });
    }
    job.entry = entry;
    return ask().then(function (state) {
      // Bytes held from before are no part of this run's speed.
      job.samples.length = 0;
      return from(state, null);
    }).then(function (saved) {
      forgetEntry(entry);
      return saved;
    }, function (e) {
      // A refusal that will not pass ends the upload here; otherwise it can go on later.
      if (!e.retry && e.text !== T.aborted && e.text !== T.loginNeeded && e.text !== T.diskFull) forgetEntry(entry);
      throw e;
    });
  }

  // ---- the job: files one after the other, one progress bar ---------------------------

  function readableSpeed(bytesPerSecond) {
    var mb = bytesPerSecond / 1e6;
    return (mb >= 10 ? Math.round(mb) : mb.toFixed(1)) + ' MB/s';
  }

  function readableTime(seconds) {
    seconds = Math.max(1, Math.round(seconds));
    var m = Math.floor(seconds / 60), s = seconds % 60;
    return (m ? m + T.minutes : '') + (m && !s ? '' : s + T.seconds);
  }

  // The bytes of the current file that have arrived (or are on their way).
  function progress(bytesOfFile) {
    if (!job) return;
    var sent = job.doneBytes + bytesOfFile;
    var now = Date.now();
    // Asking again where a cut upload stands moves nothing: the label keeps saying so.
    var moved = sent > job.lastSent;
    job.lastSent = sent;
    job.fileSent = bytesOfFile;
    if (moved) { job.movedAt = now; job.stalled = false; } else if (job.stalled) return;
    job.samples.push([now, sent]);
    while (job.samples.length > 2 && now - job.samples[0][0] > SPEED_WINDOW_MS) job.samples.shift();
    if (now - job.labelAt < LABEL_EVERY_MS && sent < job.total) return;
    job.labelAt = now;
    var pct = job.total > 0 ? Math.floor(sent * 100 / job.total) : 100;
    job.bar.value = pct;
    var text = T.uploading + ' ' + pct + '%';
    if (job.files.length > 1) text += ' (' + (job.index + 1) + '/' + job.files.length + ')';
    job.label.textContent = text;
    var first = job.samples[0], rate = now > first[0] ? (sent - first[1]) * 1000 / (now - first[0]) : 0;
    job.detail.textContent = rate > 0 && now - job.started > 1000 ?
      readableSpeed(rate) + ' \u00b7 ' + T.left + ' ' + readableTime((job.total - sent) / rate) : '';
  }

  // Checked twice a second while a job runs: without moving bytes the speed is no speed. A file
  // sent whole waits for the server's answer, which is no stall.
  function watchStall() {
    if (!job || job.stalled || Date.now() - job.movedAt < STALL_MS) return;
    if (job.fileSent >= job.files[job.index].size) return;
    job.stalled = true;
    job.label.textContent = T.reconnecting + ' ' + job.bar.value + '%' +
      (job.files.length > 1 ? ' (' + (job.index + 1) + '/' + job.files.length + ')' : '');
    job.detail.textContent = readableSpeed(0) + ' \u00b7 ' + T.noBytes;
  }

  function keepAwake() {
    if (!job || !global.navigator.wakeLock || document.visibilityState !== 'visible') return;
    global.navigator.wakeLock.request('screen').then(function (lock) {
      if (!job) { lock.release(); return; }
      job.wake = lock;
      // The browser lets go when the page is hidden; it is asked again when the page is back.
      lock.addEventListener('release', function () { if (job && job.wake === lock) job.wake = null; });
    }, function () { /* not allowed here (plain http, battery saver): the upload still runs */ });
  }

  function start(files, view) {
    var where = core.folderLabel(view), below = core.belowShare(view);
    run(files, { id: view.id, nameHex: view.nameHex, pathHex: view.pathHex, dirpath: !!below, where: where });
  }

  // target: {id (area shown in), nameHex, pathHex, dirpath (below the share's top), where}.
  function run(files, target) {
    if (job) { core.uploadMessage(T.busy, 'error'); return; }
    if (!files.length) { core.uploadMessage(T.chooseFiles, 'error'); return; }
    var f = document.forms.mform;
    var prog = document.getElementById('vm-progress');
    if (!prog) return;
    var detail = prog.querySelector('.vm-progress-detail');
    if (!detail) {
      detail = core.el('span', 'vm-progress-detail');
      prog.appendChild(detail);
    }
    var total = 0;
    files.forEach(function (file) { total += file.size; });
    job = {
      files: files, target: target, total: total, doneBytes: 0, index: 0, results: [],
      bar: prog.querySelector('progress'), label: prog.querySelector('.vm-progress-label'), detail: detail,
      samples: [], labelAt: 0, started: Date.now(), xhr: null, cancelled: false, wake: null, entry: null,
      kick: null, lastSent: -1, fileSent: 0, movedAt: Date.now(), stalled: false, watch: setInterval(watchStall, 500)
    };
    prog.hidden = false;
    job.bar.value = 0;
    detail.textContent = '';
    core.uploadMessage('');
    hideOffer();
    if (f) f.classList.add('vm-busy');
    keepAwake();
    progress(0);

    var chain = Promise.resolve();
    files.forEach(function (file, i) {
      chain = chain.then(function () {
        if (job.cancelled) return;
        job.index = i;
        job.entry = null;
        job.fileSent = 0;
        return (file.size > LARGE_FILE ? sendChunked(file, target) : sendForm(file, target)).then(function (saved) {
          progress(file.size);
          job.results.push({ name: file.name, saved: saved });
        }, function (e) {
          var kept = job.entry && loadEntries().some(function (k) { return k.id === job.entry.id; });
          job.results.push({ name: file.name, saved: null, problem: e.text || T.netError, resumable: !!kept });
          if (e.text === T.aborted || e.text === T.loginNeeded) job.cancelled = true;
        }).then(function () { job.doneBytes += file.size; });
      });
    });
    chain.then(finish, finish);
  }

  function finish() {
    var done = job, f = document.forms.mform, prog = document.getElementById('vm-progress');
    job = null;
    clearInterval(done.watch);
    if (done.wake) done.wake.release().catch(function () {});
    if (f) f.classList.remove('vm-busy');
    prog.hidden = true;
    if (f && f.ifile) f.ifile.value = '';
    var arrived = done.results.filter(function (r) { return r.saved; });
    var missed = done.results.filter(function (r) { return !r.saved; });
    var untried = done.files.length - done.results.length;
    var names = function (list) {
      var shown = list.slice(0, NAMES_SHOWN).map(function (r) { return savedName(r.saved); }).join(', ');
      return list.length > NAMES_SHOWN ? shown + ' ' + T.andMore(list.length - NAMES_SHOWN) : shown;
    };
    var text, kind = 'error';
    if (done.cancelled && missed.length && missed[missed.length - 1].problem === T.aborted) {
      text = T.aborted + (arrived.length ? ' ' + T.arrived + ' ' + names(arrived) : '');
    } else if (!missed.length && !untried) {
      text = T.uploadedTo(arrived.length) + ' ' + done.target.where + '\n' + T.savedAs + ' ' + names(arrived);
      kind = 'ok';
    } else if (!arrived.length && done.files.length === 1) {
      text = T.noneSaved + ' (' + missed[0].problem + ')';
    } else {
      text = T.partly(done.files.length) + ' ' + arrived.length + ' ' + T.partlyEnd + ' ' + done.target.where +
        (arrived.length ? ' ' + T.arrived + ' ' + names(arrived) + '.' : '') +
        ' ' + T.missed + ' ' + missed.map(function (r) { return r.name + ' (' + r.problem + ')'; }).join(', ');
    }
    if (missed.some(function (r) { return r.resumable; })) text += ' ' + T.resumable;
    if (arrived.some(function (r) { return STAMPED_NAME.test(savedName(r.saved)); }) && !noteGiven()) text += '\n' + T.keepNames;
    core.uploadMessage(text, kind);
    var fresh = {};
    arrived.forEach(function (r) { fresh[r.saved.toLowerCase()] = true; });
    var shown = core.views[done.target.id];
    if (shown && shown.nameHex === done.target.nameHex && shown.pathHex === done.target.pathHex) {
      core.exf(done.target.id, done.target.nameHex, done.target.pathHex, { fresh: fresh, history: 'none' });
    }
    showOffer();
  }

  // True when the note on keeping names has been given in this browser; from now on it has.
  function noteGiven() {
    try {
      if (global.localStorage.getItem(NAMES_NOTE_KEY)) return true;
      global.localStorage.setItem(NAMES_NOTE_KEY, '1');
    } catch (e) { /* storage off: given every time */ }
    return false;
  }

  function cancel() {
    if (!job || job.cancelled) return;
    job.cancelled = true;
    var entry = job.entry;
    if (job.xhr) job.xhr.abort();
    if (job.kick) job.kick();
    if (entry) {
      forgetEntry(entry);
      fetch(chunkUrl('cancel', entry), { method: 'POST', credentials: 'same-origin' }).catch(function () {});
    }
  }

  // ---- after a reload: the offer to go on -----------------------------------------------

  var offer = null;

  function hideOffer() { if (offer) offer.hidden = true; }

  function showOffer() {
    var list = loadEntries();
    saveEntries(list); // the stale ones go
    if (!list.length) { hideOffer(); return; }
    var f = document.forms.mform;
    if (!offer) {
      offer = core.el('div', 'vm-msg vm-resume');
      offer.setAttribute('role', 'status');
      if (f && f.parentNode) f.parentNode.insertBefore(offer, f);
      else document.body.appendChild(offer);
    }
    offer.hidden = false;
    offer.textContent = '';
    list.forEach(function (e) {
      var line = core.el('div', 'vm-resume-line');
      var pct = e.size ? Math.floor((e.held || 0) * 100 / e.size) : 0;
      line.appendChild(document.createTextNode(T.resumeOffer + ' \u300c' + e.name + '\u300d (' + core.readableSize(e.size) +
        ', ' + e.where + ', ' + pct + '%) ' + T.resumeHint + ' '));
      // A wrong file is told beside the offer, which stays to be taken up again.
      var problem = core.el('p', 'vm-resume-problem');
      problem.setAttribute('role', 'alert');
      var choose = document.createElement('input');
      choose.type = 'file';
      choose.hidden = true;
      choose.addEventListener('change', function () {
        var file = choose.files && choose.files[0];
        if (!file) return;
        var target = { id: 'm1', nameHex: e.nameHex, pathHex: e.pathHex, dirpath: e.dirpath, where: e.where };
        choose.value = '';
        if (!sameFile(e, target, file)) { problem.textContent = T.otherFile; return; }
        run([file], target);
      });
      var go = core.el('button', 'vm-btn vm-resume-go', T.resume);
      go.type = 'button';
      go.addEventListener('click', function () { choose.click(); });
      var drop = core.el('button', 'vm-btn vm-resume-discard', T.discard);
      drop.type = 'button';
      drop.addEventListener('click', function () {
        forgetEntry(e);
        fetch(chunkUrl('cancel', e), { method: 'POST', credentials: 'same-origin' }).catch(function () {});
        showOffer();
      });
      line.appendChild(choose);
      line.appendChild(go);
      line.appendChild(drop);
      line.appendChild(problem);
      offer.appendChild(line);
    });
  }

  core.setUploader({ start: start, busy: function () { return !!job; }, cancel: cancel });
  document.addEventListener('visibilitychange', function () { if (job && !job.wake) keepAwake(); });
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', showOffer);
  else showOffer();
  // For tests of the checksum against other implementations.
  core.crc32 = crc32;
})(window);
