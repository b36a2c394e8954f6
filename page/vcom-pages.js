/*
 * The login and text pages: the server writes them in Japanese, and their own small scripts do
 * what the pages need without this one. Here they get what a person using them needs besides:
 * the login page puts the focus into the password field, says how long a check will wait after
 * wrong passwords, and leaves for the index page when the browser is admitted already (Back
 * from the index page); the text page asks before typed text is thrown away. Both read in
 * English in an English browser: the pages' bytes stay as written, their texts are replaced here.
 */
(function (global) {
  'use strict';
  var page = global.VelmarindPage;
  if (!page) return;
  var english = page.english;

  // [Japanese, English]: the Japanese of the pages' own texts is what finds them on the page.
  var TEXTS = {
    wrongPassword: ['パスワードが正しくありません', 'The password is not correct'],
    codeRefused: ['このQRコードは使用済みか期限切れです。パスワードを入力するか、PCに表示されている新しいQRコードを読み取ってください。',
      'This QR code was used already or has expired. Type the password, or scan the new QR code the PC shows.'],
    waiting: ['確認しています。あと %n 秒ほどお待ちください…', 'Checking: please wait about %n more second…',
      'Checking: please wait about %n more seconds…'],
    checking: ['確認しています…', 'Checking…'],
    fileName: ['ファイル名：', 'File name:'],
    save: ['保存', 'Save'],
    clear: ['クリア', 'Clear'],
    cancel: ['キャンセル', 'Cancel'],
    confirmSave: ['登録しますか?', 'Save this text?'],
    confirmDiscard: ['入力した内容は失われます。よろしいですか？', 'What you typed will be lost. Continue?'],
    NoFolder: ['保存先のフォルダが見つかりません', 'The folder to save in cannot be found'],
    BadName: ['このファイル名は使えません', 'This file name cannot be used'],
    CannotWrite: ['ファイルを書き込めませんでした', 'The file could not be written'],
    notSaved: ['保存できませんでした', 'The text was not saved']
  };
  var T = page.texts(TEXTS);
  // The reasons the server gives for a text it did not save.
  var REFUSALS = ['NoFolder', 'BadName', 'CannotWrite'];

  // The listing document answers an admitted browser with data, anybody else with the login form.
  var PROBE_DOC = 'script.html?pid=vm';
  // The login page's hint of the throttle's wait before the next check, in seconds.
  var WAIT_META = 'meta[name="velmarind-wait"]';

  function el(tag, cls) {
    var e = document.createElement(tag);
    e.className = cls;
    return e;
  }

  // Puts the English of a text on the page's buttons and labels that show its Japanese.
  function translate(form, key) {
    var ja = TEXTS[key][0];
    var buttons = form.querySelectorAll('input[type="button"], input[type="submit"]');
    for (var i = 0; i < buttons.length; i++) if (buttons[i].value === ja) buttons[i].value = T[key];
    var labels = form.getElementsByTagName('b');
    for (var j = 0; j < labels.length; j++) if (labels[j].textContent === ja) labels[j].textContent = T[key];
  }

  function loginPage(form) {
    if (form.passwd) form.passwd.focus();
    // The red line says the password was wrong, or that a sign-in code was used or has expired.
    var wrong = document.querySelector('font[color="red"] b');
    if (wrong && english) {
      wrong.textContent = wrong.textContent === TEXTS.codeRefused[0] ? T.codeRefused : T.wrongPassword;
    }
    var meta = document.querySelector(WAIT_META);
    var wait = meta ? Math.ceil(Number(meta.content)) : 0;
    var note = el('p', 'vm-login-wait');
    note.setAttribute('role', 'status');
    form.appendChild(note);
    // The page stays on screen until the answer comes: it says what the wait is.
    form.addEventListener('submit', function () {
      if (!(wait > 0)) return;
      var left = wait;
      note.textContent = T.waiting(left);
      var timer = setInterval(function () {
        left--;
        note.textContent = left > 0 ? T.waiting(left) : T.checking;
        if (left <= 0) clearInterval(timer);
      }, 1000);
    });
    // Shown again by Back (or from the browser's cache) after the login: go on to the index page.
    global.addEventListener('pageshow', function () {
      fetch(PROBE_DOC, { method: 'HEAD', cache: 'no-store', credentials: 'same-origin' }).then(function (r) {
        if (r.ok && !/html/i.test(r.headers.get('Content-Type') || '')) global.location.replace('index.html');
      }, function () { /* offline: the form stays */ });
    });
  }

  function textPage(form) {
    function typed() {
      return form.tbody.value !== form.tbody.defaultValue || form.fname.value !== form.fname.defaultValue;
    }
    // The page's own buttons call these by name when clicked: each asks first when there is text
    // to lose. Cancel goes back to the index page where the window cannot close (the same tab).
    var clear = global.cmd_clear, close = global.cmd_can;
    if (clear) global.cmd_clear = function () { if (!typed() || global.confirm(T.confirmDiscard)) clear(); };
    if (close) {
      global.cmd_can = function () {
        if (typed() && !global.confirm(T.confirmDiscard)) return;
        close();
        if (!global.opener) global.location.replace('index.html');
      };
    }
    if (!english) return;
    ['fileName', 'save', 'clear', 'cancel'].forEach(function (key) { translate(form, key); });
    // The page's script asks and tells in Japanese: its question and its refusals are given here.
    var ask = global.confirm;
    global.confirm = function (question) {
      return ask.call(global, question === TEXTS.confirmSave[0] ? T.confirmSave : question);
    };
    global.refusal = function (why) { return REFUSALS.indexOf(why) >= 0 ? T[why] : T.notSaved; };
  }

  function start() {
    var form = document.forms.mform;
    if (!form) return;
    document.documentElement.lang = english ? 'en' : 'ja';
    if (page.name === 'login') loginPage(form);
    else if (page.name === 'text') textPage(form);
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})(window);
