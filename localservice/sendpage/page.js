'use strict';
(function () {
  // The token lives only as long as this tab: nothing is left behind on a shared phone.
  const TOKEN_KEY = 'scanlume-token';
  const SEND_URL = '/api/image-transfer/send';
  const $ = (id) => document.getElementById(id);

  // Every file or text the page was given, in order. An entry is sent at most once unless it
  // failed: "queued" -> "sending" -> "sent" | "failed"; only a tap on a failed entry queues it
  // again.
  const entries = [];
  let sending = false;

  function token() {
    return sessionStorage.getItem(TOKEN_KEY);
  }

  function showError(element, text) {
    element.textContent = text;
    element.hidden = !text;
  }

  // The service's "detail": a text, or a list of {msg} for a malformed request.
  function detailOf(body, status) {
    try {
      const detail = JSON.parse(body).detail;
      if (typeof detail === 'string' && detail) {
        return detail;
      }
      if (Array.isArray(detail)) {
        const texts = detail.map((e) => (e && typeof e.msg === 'string' ? e.msg : '')).filter(Boolean);
        if (texts.length) {
          return texts.join(' / ');
        }
      }
    } catch (e) {
      // not JSON: fall through to the status
    }
    return 'エラーが発生しました（HTTP ' + status + '）';
  }

  function showSignedIn(signedIn) {
    $('signin').hidden = signedIn;
    $('sender').hidden = !signedIn;
  }

  function signOut(message) {
    sessionStorage.removeItem(TOKEN_KEY);
    showSignedIn(false);
    showError($('signin-error'), message || '');
    $('email').focus();
  }

  async function signIn(event) {
    event.preventDefault();
    const email = $('email').value.trim();
    const password = $('password').value;
    if (!email || !password) {
      showError($('signin-error'), 'メールアドレスとパスワードを入力してください');
      return;
    }
    $('signin-button').disabled = true;
    showError($('signin-error'), '');
    try {
      const reply = await fetch('/api/auth/login', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ email: email, password: password, remember_me: false }),
        credentials: 'omit',
        cache: 'no-store',
      });
      const body = await reply.text();
      let accessToken = '';
      if (reply.ok) {
        try {
          accessToken = JSON.parse(body).access_token || '';
        } catch (e) {
          accessToken = '';
        }
      }
      if (!accessToken) {
        showError($('signin-error'), reply.ok ? 'サービスの応答を読めません' : detailOf(body, reply.status));
        return;
      }
      sessionStorage.setItem(TOKEN_KEY, accessToken);
      $('password').value = '';
      showSignedIn(true);
      $('sender-title').focus();
      pump();
    } catch (e) {
      showError($('signin-error'), 'サービスに接続できません。ネットワークを確認してください');
    } finally {
      $('signin-button').disabled = false;
    }
  }

  function formatSize(bytes) {
    if (bytes < 1024) {
      return bytes + ' バイト';
    }
    if (bytes < 1024 * 1024) {
      return (bytes / 1024).toFixed(1) + ' KiB';
    }
    return (bytes / 1024 / 1024).toFixed(1) + ' MiB';
  }

  function addEntry(entry) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'item-name';
    name.textContent = entry.name;
    const size = document.createElement('span');
    size.className = 'item-size';
    size.textContent = formatSize(entry.size);
    const progress = document.createElement('progress');
    progress.max = 1;
    progress.value = 0;
    progress.setAttribute('aria-label', entry.name + ' の送信');
    const result = document.createElement('p');
    result.className = 'result';
    item.append(name, size, progress, result);
    $('items').append(item);
    $('items-empty').hidden = true;
    entry.element = item;
    entry.progress = progress;
    entry.result = result;
    entries.push(entry);
    setState(entry, 'queued', '待機中');
  }

  function setState(entry, state, text) {
    entry.state = state;
    entry.element.dataset.state = state;
    entry.result.textContent = text;
    const old = entry.element.querySelector('.retry');
    if (old) {
      old.remove();
    }
    if (state === 'failed') {
      // A full bar would look like success: the bytes went out, the item did not arrive.
      entry.progress.value = 0;
      const retry = document.createElement('button');
      retry.type = 'button';
      retry.className = 'retry secondary';
      retry.textContent = 'もう一度送信';
      retry.setAttribute('aria-label', entry.name + ' をもう一度送信');
      retry.addEventListener('click', () => {
        if (entry.state === 'failed') {
          entry.progress.value = 0;
          setState(entry, 'queued', '待機中');
          pump();
        }
      });
      entry.element.append(retry);
    }
    if (state === 'sent' || state === 'failed') {
      $('announce').textContent = entry.name + ': ' + text;
    }
  }

  // Sends the queued entries one after another.
  function pump() {
    if (sending || !token()) {
      return;
    }
    const next = entries.find((e) => e.state === 'queued');
    if (next) {
      sending = true;
      send(next);
    }
  }

  function finish(entry, state, text) {
    setState(entry, state, text);
    sending = false;
    pump();
  }

  // A form of text fields, written out by hand: FormData would turn every line break of the
  // text into CR LF, and the receiver must get the text as it was typed.
  function textForm(fields) {
    const random = new Uint8Array(16);
    crypto.getRandomValues(random);
    const boundary = '----pictoport' + Array.from(random, (b) => b.toString(16).padStart(2, '0')).join('');
    const parts = [];
    for (const [name, value] of fields) {
      parts.push('--' + boundary + '\r\nContent-Disposition: form-data; name="' + name + '"\r\n\r\n', value, '\r\n');
    }
    parts.push('--' + boundary + '--\r\n');
    return { body: new Blob(parts), type: 'multipart/form-data; boundary=' + boundary };
  }

  function send(entry) {
    setState(entry, 'sending', '送信中…');
    const request = new XMLHttpRequest();
    request.open('POST', SEND_URL);
    request.setRequestHeader('Authorization', 'Bearer ' + token());
    let body;
    if (entry.file) {
      // The file's own bytes, name and type: the receiver orients and cuts photos itself.
      body = new FormData();
      body.append('file', entry.file, entry.file.name);
    } else {
      const fields = [['text', entry.text]];
      if (entry.textName) {
        fields.push(['filename', entry.textName]);
      }
      const form = textForm(fields);
      request.setRequestHeader('Content-Type', form.type);
      body = form.body;
    }
    request.upload.addEventListener('progress', (event) => {
      if (event.lengthComputable && event.total > 0) {
        entry.progress.max = event.total;
        entry.progress.value = event.loaded;
      }
    });
    request.addEventListener('load', () => {
      if (request.status === 202) {
        entry.progress.value = entry.progress.max;
        finish(entry, 'sent', '送信しました');
        return;
      }
      const text = '送信できませんでした: ' + detailOf(request.responseText, request.status);
      if (request.status === 401) {
        // The service forgot the token (restarted) or it was never valid: sign in again; the
        // entries still queued wait for it.
        setState(entry, 'failed', text);
        sending = false;
        signOut('もう一度ログインしてください（' + detailOf(request.responseText, 401) + '）');
        return;
      }
      finish(entry, 'failed', text);
    });
    request.addEventListener('error', () => {
      finish(entry, 'failed', '送信できませんでした: サービスに接続できません');
    });
    request.addEventListener('timeout', () => {
      finish(entry, 'failed', '送信できませんでした: 時間切れです');
    });
    request.send(body);
  }

  function addFiles(input) {
    for (const file of Array.from(input.files || [])) {
      addEntry({ file: file, name: file.name || '名前のないファイル', size: file.size });
    }
    // Lets the same file be picked again; the list above already holds the chosen ones.
    input.value = '';
    pump();
  }

  function addText(event) {
    event.preventDefault();
    const text = $('text').value;
    if (!text.trim()) {
      showError($('text-error'), 'テキストを入力してください');
      return;
    }
    showError($('text-error'), '');
    const textName = $('text-name').value.trim();
    addEntry({ text: text, textName: textName, name: textName || 'result.txt', size: new Blob([text]).size });
    $('text').value = '';
    $('text-name').value = '';
    pump();
  }

  $('signin-form').addEventListener('submit', signIn);
  $('text-form').addEventListener('submit', addText);
  $('camera').addEventListener('change', (event) => addFiles(event.target));
  $('files').addEventListener('change', (event) => addFiles(event.target));
  $('signout').addEventListener('click', () => signOut(''));
  $('sender-title').tabIndex = -1;
  showSignedIn(!!token());
})();
