"""Headless Chromium driven through chromedriver, for the tests of the control panel page."""

import os

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = os.environ.get("KORBA_CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("KORBA_CHROMEDRIVER", "/usr/bin/chromedriver")
WAIT_SECONDS = 30
# A made-up name that the browser resolves to the bridge, as a DNS rebinding attack would.
REBOUND_NAME = "rebound.korba.test"

# Quiet and offline: the page under test is the only thing the browser talks to.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--window-size=700,1000"]
HOST_RULES = [f"MAP {REBOUND_NAME} 127.0.0.1"]


class Panel:
    """The control panel page in one browser tab."""

    def __init__(self, driver):
        self.driver = driver

    def open(self, port, host="127.0.0.1"):
        self.driver.get(f"http://{host}:{port}/")
        self.wait(lambda: "consultando…" not in self.text("estado"))

    def fetch(self, path):
        """The status and text of a fetch from the page now open."""
        return self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0]).then(r => r.text().then(t => done([r.status, t])), e => done([0, String(e)]));",
            path)

    def element(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def text(self, element_id):
        return self.element("#" + element_id).text

    def css_class(self, element_id):
        return self.element("#" + element_id).get_attribute("class")

    def click(self, element_id):
        self.element("#" + element_id).click()

    def log_lines(self):
        # textContent keeps the log exactly as written, line breaks included.
        return self.element("#log").get_attribute("textContent").splitlines()

    def wait_log(self, count):
        """Waits until the log holds `count` lines and returns their messages without the time."""
        self.wait(lambda: len(self.log_lines()) >= count)
        return [line.split("] ", 1)[1] for line in self.log_lines()]

    def wait(self, condition):
        WebDriverWait(self.driver, WAIT_SECONDS).until(lambda _: condition())


def chromium(profile, host_rules=(), extra_flags=()):
    """A new headless browser with its own profile folder; `host_rules` map more names."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    rules = "--host-resolver-rules=" + ", ".join(HOST_RULES + list(host_rules))
    for flag in FLAGS + [rules] + list(extra_flags) + ["--user-data-dir=" + str(profile)]:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER, log_path=os.devnull), options=options)


@pytest.fixture(scope="module")
def panel(tmp_path_factory):
    driver = chromium(tmp_path_factory.mktemp("chromium-profile"))
    try:
        yield Panel(driver)
    finally:
        driver.quit()
