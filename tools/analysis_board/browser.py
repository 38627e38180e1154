"""The board in headless Chromium (Debian's chromium, driven by chromium-driver through
Selenium): its server started on a free port, the browser, and what a person does on the
page. The browser test and the screenshot tool share it."""

import os
import re
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from tovan import paths  # noqa: E402

WAIT_SECONDS = 60


def start_server(engine):
    """The board's server for `engine` on a free port: its process and address."""
    server = subprocess.Popen([paths.PYTHON, os.path.join(HERE, "server.py"), "--port", "0", "--engine", engine],
                              stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    address = re.search(r"http://\S+", line)
    if not address:
        server.kill()
        raise RuntimeError(f"the board's server did not start: {line!r}")
    return server, address[0]


def engines_of(server):
    """The ids of the engine processes the server runs."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == server.pid:
            found.append(int(pid))
    return found


def chromium(width=1400, height=1000):
    """Headless Chromium; no sandbox, since tests may run as root."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     f"--window-size={width},{height}"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Page:
    """The board's page in the browser, as a person sees and uses it."""

    def __init__(self, driver, address):
        self.driver = driver
        self.files = tempfile.TemporaryDirectory(prefix="tovan-board-")  # the game files it loads
        driver.get(address)
        self.wait_for_analysis()

    def count(self, selector):
        return len(self.driver.find_elements(By.CSS_SELECTOR, selector))

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def set(self, element_id, value):
        """Types into a field, or picks an option by its value."""
        element = self.driver.find_element(By.ID, element_id)
        if element.tag_name == "select":
            self.driver.execute_script(
                "arguments[0].value = arguments[1]; arguments[0].dispatchEvent(new Event('change'))", element, value)
        else:
            element.clear()
            element.send_keys(str(value))

    def wait(self, condition, what):
        WebDriverWait(self.driver, WAIT_SECONDS).until(lambda driver: condition(), f"waited for {what}")

    def forget_analysis(self):
        self.driver.execute_script("delete document.body.dataset.analysisSeconds")

    def wait_for_analysis(self):
        """Seconds from the page's request to the analysis on screen."""
        seconds = None
        def shown():
            nonlocal seconds
            seconds = self.driver.execute_script("return document.body.dataset.analysisSeconds")
            return seconds is not None
        self.wait(shown, "an analysis")
        return float(seconds)

    def click(self, x, y):
        """Clicks the point x, y of the board where a person would."""
        board = self.driver.find_element(By.ID, "board")
        # The vertical line of column x and the horizontal one of row y cross at the point.
        columns = [float(line.get_attribute("x1")) for line in board.find_elements(By.CSS_SELECTOR, ".grid")
                   if line.get_attribute("x1") == line.get_attribute("x2")]
        rows = [float(line.get_attribute("y1")) for line in board.find_elements(By.CSS_SELECTOR, ".grid")
                if line.get_attribute("y1") == line.get_attribute("y2")]
        view_width, view_height = map(float, board.get_dom_attribute("viewBox").split()[2:])
        scale = board.rect["width"] / view_width
        ActionChains(self.driver).move_to_element_with_offset(
            board, (columns[x] - view_width / 2) * scale, (rows[y] - view_height / 2) * scale).click().perform()

    def load(self, text, name):
        """Loads a game file through the page's file field; the page then analyses it."""
        path = os.path.join(self.files.name, name)
        with open(path, "w") as file:
            file.write(text)
        self.forget_analysis()
        self.driver.find_element(By.ID, "load").send_keys(path)
