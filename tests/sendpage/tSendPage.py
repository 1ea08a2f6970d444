#!/usr/bin/env python3
"""The sending page in a real headless Chromium against the real scanlume-local.

Run by ctest with SCANLUME_LOCAL set; exits 77 (skipped) when Chromium, its driver or
Selenium is missing. SENDPAGE_SHOTS names a folder for the phone-width screenshots.
"""
import base64
import http.server
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

SKIP = 77


def skip(reason):
    print("SKIP: " + reason, flush=True)
    sys.exit(SKIP)


CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
if not CHROMIUM:
    skip("chromium is not installed (tools/install-deps.sh installs it)")
if not CHROMEDRIVER:
    skip("chromedriver is not installed (package chromium-driver)")
try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    skip("Selenium is not installed (package python3-selenium)")

USER = "nurse@example.com"
PASSWORD = "kango-2024"
MAX_BODY_MIB = 2
PHONE_WIDTH = 390


class TService:
    """One scanlume-local on a free loopback port."""

    def __init__(self, *extra):
        program = os.environ.get("SCANLUME_LOCAL")
        if not program:
            raise RuntimeError("SCANLUME_LOCAL is not set")
        # Its own data folder, gone with the test.
        self.data = tempfile.TemporaryDirectory()
        self.process = subprocess.Popen(
            [program, "--listen", "127.0.0.1:0", "--data", self.data.name,
             "--user", USER + ":" + PASSWORD, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        line = self.process.stdout.readline().decode() if ready else ""
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError("scanlume-local did not start: %r" % line)
        self.url = line.split()[-1]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def call(self, method, path, body=None, headers=None):
        """(status, headers, body); HTTP errors are answers too."""
        request = urllib.request.Request(self.url + path, data=body, method=method,
                                         headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=15) as reply:
                return reply.status, reply.headers, reply.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def token(self):
        status, _, body = self.call(
            "POST", "/api/auth/login",
            json.dumps({"email": USER, "password": PASSWORD, "remember_me": True}).encode(),
            {"Content-Type": "application/json"})
        assert status == 200, status
        return json.loads(body)["access_token"]

    def poll(self, token, wait):
        """The receiver's long poll: (status, decoded name, content type, bytes)."""
        status, headers, body = self.call(
            "GET", "/api/image-transfer/native/poll?wait=%d" % wait,
            headers={"Authorization": "Bearer " + token})
        name = urllib.parse.unquote_plus(headers.get("X-Image-Filename", ""), encoding="utf-8")
        return status, name, headers.get("Content-Type", ""), body

    def script(self, path, status, detail):
        body = json.dumps({"detail": detail}).encode()
        script = {"path": path, "status": status, "body_base64": base64.b64encode(body).decode(),
                  "headers": [["Content-Type", "application/json"]]}
        assert self.call("POST", "/_test/script", json.dumps(script).encode(),
                         {"Content-Type": "application/json"})[0] == 200

    def recorded(self, path):
        _, _, body = self.call("GET", "/_test/requests")
        return [r for r in json.loads(body)["requests"] if r["path"] == path]


class TOtherSite:
    """A page of another origin: a plain web server on another loopback port."""

    class THandler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            page = b"<!DOCTYPE html><html lang=en><title>another site</title></html>"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *args):
            pass

    def __init__(self):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), self.THandler)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-extensions", "--lang=ja"):
        options.add_argument(argument)
    # A phone: 390 CSS pixels wide, touch, the page's viewport tag honoured.
    options.add_experimental_option("mobileEmulation", {
        "deviceMetrics": {"width": PHONE_WIDTH, "height": 844, "pixelRatio": 2.0, "touch": True,
                          "mobile": True}})
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(20)
    driver.set_script_timeout(20)
    return driver


class TSendPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.shots = os.environ.get("SENDPAGE_SHOTS") or cls.folder.name
        os.makedirs(cls.shots, exist_ok=True)
        cls.service = TService("--test-hooks", "--max-body-mib", str(MAX_BODY_MIB))
        cls.other = TOtherSite()
        try:
            cls.browser = start_browser()
        except Exception:
            cls.service.stop()
            cls.other.stop()
            raise
        cls.receiver = cls.service.token()

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.service.stop()
        cls.other.stop()
        cls.folder.cleanup()

    # Helpers

    def find(self, element_id):
        return self.browser.find_element(By.ID, element_id)

    def wait_for(self, condition, what, seconds=15):
        try:
            return WebDriverWait(self.browser, seconds, poll_frequency=0.05).until(
                lambda _: condition())
        except TimeoutException:
            self.fail("timed out waiting for " + what)

    def entries(self):
        """[(state, name, result)] of the page's list, in order."""
        return self.browser.execute_script(
            "return Array.from(document.querySelectorAll('#items li')).map(li => ["
            "li.dataset.state, li.querySelector('.item-name').textContent,"
            "li.querySelector('.result').textContent]);")

    def wait_until_settled(self, count):
        self.wait_for(lambda: len(self.entries()) == count and all(
            e[0] in ("sent", "failed") for e in self.entries()), "%d settled entries" % count)
        return self.entries()

    def write_file(self, name, data):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def pick_files(self, paths):
        self.find("files").send_keys("\n".join(paths))

    def send_text(self, text, name):
        self.find("text").send_keys(text)
        if name:
            self.find("text-name").send_keys(name)
        self.find("text-button").click()

    def take_items(self, count):
        items = []
        for _ in range(count):
            status, name, content_type, body = self.service.poll(self.receiver, 5)
            self.assertEqual(status, 200, "an item was missing at the receiver")
            items.append((name, content_type, body))
        status = self.service.poll(self.receiver, 0)[0]
        self.assertEqual(status, 204, "the receiver got more items than were sent")
        return items

    def screenshot(self, name):
        path = os.path.join(self.shots, name)
        self.browser.save_screenshot(path)
        print("screenshot: " + path, flush=True)

    def open_page(self, path="/"):
        self.browser.get(self.service.url + path)
        self.browser.execute_script("sessionStorage.clear();")
        self.browser.refresh()
        self.wait_for(lambda: self.find("signin").is_displayed(), "the sign-in form")

    def sign_in(self, password):
        email = self.find("email")
        email.clear()
        email.send_keys(USER)
        field = self.find("password")
        field.clear()
        field.send_keys(password)
        self.find("signin-button").click()

    def signed_in_page(self):
        self.open_page()
        self.sign_in(PASSWORD)
        self.wait_for(lambda: self.find("sender").is_displayed(), "the sending part")

    # Tests

    def test_sign_in(self):
        for path in ("/", "/send"):
            with self.subTest(path=path):
                self.open_page(path)
                self.assertEqual(self.browser.title, "写真とテキストを送信")
                self.sign_in("wrong password")
                error = self.find("signin-error")
                self.wait_for(error.is_displayed, "the sign-in error")
                self.assertEqual(error.text, "メールアドレスまたはパスワードが正しくありません")
                if path == "/":
                    self.screenshot("sendpage-sign-in-error.png")
                self.assertFalse(self.find("sender").is_displayed())
                self.assertIsNone(
                    self.browser.execute_script("return sessionStorage.getItem('scanlume-token')"))

                self.sign_in(PASSWORD)
                self.wait_for(lambda: self.find("sender").is_displayed(), "the sending part")
                self.assertFalse(error.is_displayed())
                self.assertEqual(self.find("password").get_attribute("value"), "")
                stored = self.browser.execute_script(
                    "return [sessionStorage.getItem('scanlume-token'), localStorage.length,"
                    " document.cookie]")
                self.assertTrue(stored[0])
                self.assertEqual(stored[1:], [0, ""], "the token must live in session storage only")

        # The sending part survives a reload of the tab, and signing out forgets the token.
        self.browser.refresh()
        self.wait_for(lambda: self.find("sender").is_displayed(), "the sending part after reload")
        self.find("signout").click()
        self.wait_for(lambda: self.find("signin").is_displayed(), "the sign-in form")
        self.assertIsNone(
            self.browser.execute_script("return sessionStorage.getItem('scanlume-token')"))

    def test_photos_and_text_arrive_unchanged(self):
        self.signed_in_page()
        self.screenshot("sendpage-signed-in.png")
        # Two camera pictures (a large one with a Japanese name and a blank) and a text; the
        # service does not look inside, the receiver must get exactly these bytes.
        sent = [
            ("写真 1.jpg", "image/jpeg", b"\xff\xd8\xff\xe1" + os.urandom(900 * 1024) + b"\xff\xd9"),
            ("IMG_0002.JPG", "image/jpeg", b"\xff\xd8\xff\xe0" + os.urandom(40 * 1024) + b"\xff\xd9"),
        ]
        self.pick_files([self.write_file(name, data) for name, _, data in sent])
        text = "血糖 98 mg/dL\nHbA1c 5.6 %"
        self.send_text(text, "検査メモ.txt")
        sent.append(("検査メモ.txt", "text/plain; charset=utf-8", text.encode()))

        entries = self.wait_until_settled(3)
        self.assertEqual(entries, [["sent", name, "送信しました"] for name, _, _ in sent])
        # Each bar is full, and the large photo's bar followed the upload's own byte count.
        bars = self.browser.execute_script(
            "return Array.from(document.querySelectorAll('#items progress'))"
            ".map(p => [p.value, p.max]);")
        self.assertTrue(all(value == maximum for value, maximum in bars), bars)
        self.assertGreater(bars[0][1], len(sent[0][2]))
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#items .retry"), [])
        self.screenshot("sendpage-sent.png")

        self.assertEqual(self.take_items(3), sent)

        # A text without a name goes out as result.txt; an empty one is not sent at all.
        self.find("text-button").click()
        self.assertEqual(self.find("text-error").text, "テキストを入力してください")
        self.send_text("メモ", "")
        self.assertEqual(self.wait_until_settled(4)[3], ["sent", "result.txt", "送信しました"])
        self.assertEqual(self.take_items(1),
                         [("result.txt", "text/plain; charset=utf-8", "メモ".encode())])

    def test_failed_file_is_sent_again_once(self):
        self.signed_in_page()
        big = self.write_file("large.jpg", os.urandom(MAX_BODY_MIB * 1024 * 1024 + 1))
        first = self.write_file("first.pdf", b"%PDF-1.4\n" + os.urandom(5000))
        second = self.write_file("second.png", b"\x89PNG\r\n\x1a\n" + os.urandom(5000))
        # The service refuses the first of them once; the rest still go out in order.
        self.service.script("/api/image-transfer/send", 503,
                            "受信されていないアイテムの合計が上限に達しています")
        self.pick_files([first, big, second])
        entries = self.wait_until_settled(3)
        self.assertEqual(entries, [
            ["failed", "first.pdf",
             "送信できませんでした: 受信されていないアイテムの合計が上限に達しています"],
            ["failed", "large.jpg",
             "送信できませんでした: リクエストが大きすぎます（%d MiB まで）" % MAX_BODY_MIB],
            ["sent", "second.png", "送信しました"],
        ])
        self.screenshot("sendpage-failed.png")
        retries = self.browser.find_elements(By.CSS_SELECTOR, "#items .retry")
        self.assertEqual(len(retries), 2)

        # One tap sends the failed one again; nothing that was sent goes out a second time.
        retries[0].click()
        self.wait_for(lambda: self.entries()[0][0] == "sent", "the resent file")
        self.assertEqual(self.entries()[0], ["sent", "first.pdf", "送信しました"])
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#items .retry")), 1)
        names = [(name, content_type) for name, content_type, _ in self.take_items(2)]
        self.assertEqual(names, [("second.png", "image/png"), ("first.pdf", "application/pdf")])

    def test_service_forgetting_the_token_asks_to_sign_in_again(self):
        self.signed_in_page()
        self.browser.execute_script("sessionStorage.setItem('scanlume-token', 'forgotten');")
        self.send_text("再ログイン後に送る", "")
        self.wait_for(lambda: self.find("signin").is_displayed(), "the sign-in form")
        self.assertIn("もう一度ログインしてください", self.find("signin-error").text)
        self.assertEqual(self.entries()[0][0], "failed")
        self.sign_in(PASSWORD)
        self.wait_for(lambda: self.find("sender").is_displayed(), "the sending part")
        self.browser.find_element(By.CSS_SELECTOR, "#items .retry").click()
        self.assertEqual(self.wait_until_settled(1)[0][0], "sent")
        self.assertEqual(self.take_items(1)[0][2], "再ログイン後に送る".encode())

    def test_page_of_another_origin_cannot_send(self):
        token = self.service.token()
        self.browser.get(self.other.url + "/")
        self.assertEqual(self.browser.title, "another site")
        self.service.call("POST", "/_test/reset")
        # As the page would send, with a valid token, from a page the service did not serve,
        # and as a plain form post that needs no preflight.
        outcome = self.browser.execute_async_script("""
            const [url, token, done] = arguments;
            const results = [];
            const form = () => { const f = new FormData(); f.append('text', 'よそ'); return f; };
            const request = new XMLHttpRequest();
            request.open('POST', url);
            request.setRequestHeader('Authorization', 'Bearer ' + token);
            request.onloadend = () => {
              results.push(request.status);
              fetch(url, {method: 'POST', body: form(), mode: 'no-cors'})
                .then(r => results.push(r.type), e => results.push('error'))
                .then(() => done(results));
            };
            request.send(form());
        """, self.service.url + "/api/image-transfer/send", token)
        self.assertEqual(outcome, [0, "opaque"])
        # The preflight found no CORS permission, so the token never left the browser; the form
        # post arrived but was refused for its origin.
        arrived = [(r["method"], dict((n.lower(), v) for n, v in r["headers"]).get("origin"))
                   for r in self.service.recorded("/api/image-transfer/send")]
        self.assertEqual(arrived, [("OPTIONS", self.other.url), ("POST", self.other.url)])
        self.assertFalse(any(name.lower().startswith("access-control")
                             for name, _ in self.service.call(
                                 "OPTIONS", "/api/image-transfer/send",
                                 headers={"Origin": self.other.url,
                                          "Access-Control-Request-Method": "POST"})[1].items()))
        self.assertEqual(self.service.poll(self.receiver, 0)[0], 204)


if __name__ == "__main__":
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print("took %.1f s" % (time.monotonic() - started))
    sys.exit(0 if result.wasSuccessful() else 1)
