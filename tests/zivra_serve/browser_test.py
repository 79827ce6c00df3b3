#!/usr/bin/python3
"""zivra serve's page in headless Chromium against simulated dongles, as a person uses it.

Exits 0 when every step passed, 1 on the first failure, 77 (CTest's skip) with the reason
when the browser cannot start. Every wait has a time-out; the servers are stopped on any
outcome. Screenshots of the main views go to --out.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77
WAIT = 20  # seconds any one thing may take on a loaded machine


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as e:
    skip("python3-selenium is not installed (%s)" % e)


class Serve:
    """One `zivra serve --simulate` process; its URL read from what it prints."""

    def __init__(self, zivra, dongle, workdir, extra=()):
        env = dict(os.environ, XDG_STATE_HOME=workdir)
        env.pop("DISPLAY", None)
        self.log = open(os.path.join(workdir, "serve-%s.log" % dongle), "w+")
        self.proc = subprocess.Popen(
            [zivra, "serve", "--simulate=" + dongle, "--sim-state", os.path.join(workdir, dongle + ".state"),
             "--no-open", "--port", "0", *extra],
            stdout=subprocess.PIPE, stderr=self.log, text=True, env=env)
        self.url = None
        end = time.time() + WAIT
        while time.time() < end and self.url is None:
            line = self.proc.stdout.readline()
            if not line:
                break
            m = re.search(r"(http://\S+token=\w+)", line)
            if m:
                self.url = m.group(1)
        if self.url is None:
            self.stop()
            self.log.seek(0)
            raise AssertionError("zivra serve printed no address: " + self.log.read())
        self.base = self.url.split("/?")[0]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def browser(downloads):
    opts = Options()
    opts.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--disable-background-networking", "--window-size=1100,1400"):
        opts.add_argument(a)
    opts.add_experimental_option("prefs", {"download.default_directory": downloads,
                                           "download.prompt_for_download": False})
    driver = shutil.which("chromedriver")
    if driver is None:
        skip("chromedriver is not installed (Debian package chromium-driver)")
    try:
        return webdriver.Chrome(service=Service(driver), options=opts)
    except WebDriverException as e:
        skip("headless Chromium did not start: %s" % str(e).strip().splitlines()[0])


class Page:
    def __init__(self, d, out):
        self.d = d
        self.out = out

    def wait(self, what, ok, timeout=WAIT):
        try:
            return WebDriverWait(self.d, timeout, poll_frequency=0.1,
                                 ignored_exceptions=(StaleElementReferenceException,)).until(lambda _: ok())
        except Exception:
            raise AssertionError("timed out waiting for " + what + "; the page says: " + self.text("op-text"))

    def el(self, id_):
        return self.d.find_element(By.ID, id_)

    def text(self, id_):
        try:
            return self.el(id_).text
        except Exception:
            return ""

    def keys_listed(self):
        # One read of the whole table: the rows are redrawn whenever the state changes.
        return self.d.execute_script("return [...document.querySelectorAll('#buttons tbody tr')].map(r => r.dataset.key)")

    def idle(self):
        self.wait("the dongle to be idle", lambda: self.d.execute_script(
            "return document.getElementById('connection').className.includes('on') && "
            "!document.getElementById('op').className.includes('busy')"))

    def shot(self, name):
        os.makedirs(self.out, exist_ok=True)
        self.d.save_screenshot(os.path.join(self.out, name + ".png"))

    def open(self, serve):
        self.d.get(serve.url)
        # The link's token became a cookie and left the address bar.
        self.wait("the page to load", lambda: self.d.current_url.rstrip("/") == serve.base)
        self.wait("the dongle to show", lambda: self.text("connection").startswith("Connected"))


def record(p, key, keyboard_only=False):
    button = p.d.find_element(By.CSS_SELECTOR, 'button.key[data-key="%s"]' % key)
    if keyboard_only:
        p.d.execute_script("arguments[0].focus()", button)
        prompt = p.d.execute_script(
            "const t = document.getElementById('op-text'); const o = new MutationObserver(() => {"
            "if (t.textContent.startsWith('Press')) window.__prompt = t.textContent; }); "
            "o.observe(t, {childList: true, characterData: true, subtree: true}); window.__prompt = ''; return ''")
        button.send_keys(Keys.ENTER)
    else:
        # The prompt shows the moment the key is clicked, before the remote is pressed.
        prompt = p.d.execute_script("arguments[0].click(); return document.getElementById('op-text').textContent", button)
        assert prompt.startswith("Press the button on your remote for " + key), prompt
    p.wait("'%s' to be recorded" % key, lambda: p.text("op-text") == "Recorded '" + key + "'.")
    if keyboard_only:
        prompt = p.d.execute_script("return window.__prompt")
        assert prompt.startswith("Press the button on your remote for " + key), prompt
    p.wait("'%s' in the listing" % key, lambda: key in p.keys_listed())


def test_gen4(p, serve, downloads):
    p.open(serve)
    facts = p.text("facts")
    for want in ("Generation\n4", "Version\n4.9.0", "ZIVRA-STD"):
        assert want in facts, facts
    record(p, "vol_up")
    record(p, "play/pause", keyboard_only=True)
    assert p.keys_listed() == ["vol_up", "play/pause"], p.keys_listed()
    p.d.execute_script("window.scrollTo(0, 0)")
    p.shot("serve-keys")

    # Backup, format, restore: the list comes back.
    for f in os.listdir(downloads):
        os.remove(os.path.join(downloads, f))
    p.el("backup-link").click()
    saved = os.path.join(downloads, "zivra-backup.cfg")
    p.wait("the backup download", lambda: os.path.exists(saved) and os.path.getsize(saved) > 0)
    p.idle()
    p.el("format-btn").click()
    assert p.d.switch_to.active_element == p.el("format-no"), "the confirmation does not take the focus"
    p.el("format-yes").click()
    p.wait("the list to empty", lambda: p.keys_listed() == [] and p.el("no-buttons").is_displayed())
    p.idle()
    p.el("restore-file").send_keys(saved)
    p.el("restore-btn").click()
    p.wait("the restored list", lambda: p.keys_listed() == ["vol_up", "play/pause"])
    assert p.text("op-text") == "Restored the backup.", p.text("op-text")

    # A setting out of range is refused in the page, nothing sent; a good one is saved.
    box = p.el("setting-wake-high")
    box.clear()
    box.send_keys("300")
    p.d.find_element(By.CSS_SELECTOR, 'button[data-setting="wake-high"]').click()
    msg = p.text("setting-wake-high-msg")
    assert "takes a whole number from 0 to 255" in msg and "nothing was sent" in msg, msg
    assert box.get_attribute("aria-invalid") == "true"
    state = p.d.execute_async_script(
        "const done = arguments[arguments.length - 1]; fetch('/api/state').then(r => r.json()).then(done)")
    assert [s["value"] for s in state["settings"] if s["name"] == "wake-high"] == [0], state["settings"]
    box.clear()
    box.send_keys("7", Keys.ENTER)
    p.wait("the setting saved", lambda: p.text("setting-wake-high-msg") == "Saved.")
    p.el("settings").location_once_scrolled_into_view
    p.shot("serve-settings")

    # A simulated remote's signals appear, with the key recorded for one of them.
    p.el("live-btn").click()
    p.wait("two signals", lambda: len(p.d.find_elements(By.CSS_SELECTOR, "#signals li")) >= 2, timeout=WAIT)
    items = [e.text for e in p.d.find_elements(By.CSS_SELECTOR, "#signals li")]
    assert any("NEC" in t and "0x510004" in t and "no key recorded" in t for t in items), items
    assert any("key vol_up" in t for t in items), items
    pics = p.d.find_elements(By.CSS_SELECTOR, "#signals li img.sig-pic")
    assert len(pics) >= 2 and all(p.d.execute_script("return arguments[0].naturalWidth", i) > 0 for i in pics), \
        "the signals' pictures did not load"
    p.el("live").location_once_scrolled_into_view
    p.shot("serve-live")
    p.el("live-btn").click()
    p.wait("listening to stop", lambda: p.el("live-btn").get_attribute("aria-pressed") == "false")

    # A phone on the tunnel: nothing wider than the screen.
    p.d.set_window_size(400, 900)
    p.d.execute_script("window.scrollTo(0, 0)")
    time.sleep(0.3)
    wide = p.d.execute_script("return document.documentElement.scrollWidth")
    assert wide <= 400, "the page is %d px wide in a 400 px window" % wide
    p.shot("serve-narrow")
    p.d.set_window_size(1100, 1400)


def test_upgrade(p, serve, image):
    p.open(serve)
    assert "bootloader" in p.text("connection"), p.text("connection")
    p.el("fw-file").send_keys(image)
    p.wait("the image checked", lambda: "looks right" in p.text("fw-check"))
    p.wait("the upgrade button", lambda: p.el("fw-upgrade").is_enabled())
    p.el("fw-upgrade").click()
    p.wait("the warning", lambda: p.el("fw-warning").is_displayed() or "complete" in p.text("fw-verdict"))
    p.wait("the bar at 100 %", lambda: p.el("fw-progress").get_attribute("value") == "100", timeout=60)
    p.wait("the verdict", lambda: p.text("fw-verdict") == "Upgrade complete: the dongle runs firmware 4.10.0.", timeout=60)
    assert "100 %" in p.text("fw-percent"), p.text("fw-percent")
    stages = p.text("fw-stages")
    assert "Uploading" in stages and "FW Detected" in stages, stages
    p.wait("the new firmware", lambda: "firmware 4.10.0" in p.text("connection"))
    p.el("firmware").location_once_scrolled_into_view
    p.shot("serve-upgrade")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zivra", required=True)
    ap.add_argument("--fw-image-tool", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="zivra-browser-")
    downloads = os.path.join(work, "downloads")
    os.makedirs(downloads)
    image = os.path.join(work, "fw4.10.bin")
    subprocess.run([a.fw_image_tool, image], check=True, timeout=WAIT)
    d = browser(downloads)
    servers = []
    try:
        p = Page(d, a.out)
        started = time.time()
        # The remote pointed at the dongle: an unrecorded NEC button, then vol_up's.
        servers.append(Serve(a.zivra, "fw4.9", work, ["--sim-ir", "NEC:0x510004,NEC:0x52E900"]))
        test_gen4(p, servers[-1], downloads)
        servers.append(Serve(a.zivra, "bl3.3", work))
        test_upgrade(p, servers[-1], image)
        print("browser tests passed in %.1f s; screenshots in %s" % (time.time() - started, a.out))
        return 0
    except Exception:
        traceback.print_exc()
        try:
            Page(d, a.out).shot("failure")
        except Exception:
            pass
        for s in servers:
            s.log.seek(0)
            print("---- zivra serve's log ----\n" + s.log.read()[-3000:])
        return 1
    finally:
        for s in servers:
            s.stop()
        d.quit()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
