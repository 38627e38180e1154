#!/usr/bin/python3
"""The analysis board in headless Chromium: a short game against the engine, each position
analysed (stones, policy heat map, top moves, win rate graph), a click on a stone refused, a Renju
game loaded from an SGF with its forbidden point marked and refused, no engine left once the
page has gone, and malformed calls refused. A screenshot of the game is kept."""

import argparse
import json
import os
import sys
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "analysis_board"))
import browser  # noqa: E402

# Black at 7,7, 8,7, 7,8 and 8,9 with White on the bottom row: Black's 6,7 would make two
# open threes at once, a forbidden double three.
RENJU_SGF = "(;FF[4]GM[4]SZ[15]RU[renju];B[hh];W[ao];B[ih];W[co];B[hi];W[eo];B[ij];W[go])"


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def post(address, path, data, content_type="application/json"):
    """The status and the error text of a call."""
    request = urllib.request.Request(address + path.lstrip("/"), data=data, headers={"Content-Type": content_type})
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, ""
    except urllib.error.HTTPError as error:
        return error.code, json.load(error).get("error", "")


def play_a_game(page, screenshot):
    page.set("move-time", 200)
    page.set("analysis-time", 300)
    # The heat map of the policy: a busy machine may leave a short search without a visit.
    page.set("heat", "prior")
    move = (7, 7)
    for stones in (2, 4):
        points = page.count("#graph .rate-point")
        page.forget_analysis()
        page.click(*move)
        page.wait_for_analysis()
        check(page.count("#board .stone") == stones, f"{stones} stones after the engine's answer")
        check(page.count("#board .heat") > 0, "a heat map")
        check(page.count("#top-moves tbody tr") == 5, "the top moves")
        check(page.count("#graph .rate-point") > points, "the win rate graph grown")
        move = map(int, page.text("top-moves").split("\n")[1].split()[0].split(","))  # the first listed next
    page.click(7, 7)
    page.wait(lambda: "refused" in page.text("status"), "a refusal")
    check("taken" in page.text("status") and page.count("#board .stone") == 4, "a click on a stone refused")
    page.driver.save_screenshot(screenshot)


def study_renju(page):
    page.load(RENJU_SGF, "renju.sgf")
    page.wait_for_analysis()
    check(page.count("#board .stone") == 8 and page.count("#board .forbidden") == 1, "Renju's forbidden point")
    page.click(6, 7)
    page.wait(lambda: "forbidden" in page.text("status"), "a refusal")
    check(page.count("#board .stone") == 8, "a forbidden point refused")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--engine", required=True)
    parser.add_argument("--screenshot", required=True, help="PNG file of the game, kept")
    args = parser.parse_args()
    server, address = browser.start_server(os.path.abspath(args.engine))
    driver = None
    try:
        driver = browser.chromium()
        page = browser.Page(driver, address)
        check(len(browser.engines_of(server)) == 1, "one engine for the page")
        try:
            play_a_game(page, args.screenshot)
            study_renju(page)
        except Exception:
            driver.save_screenshot(args.screenshot)  # the page as the check found it
            print(f"the page's status: {page.text('status')!r}", file=sys.stderr)
            raise
        driver.get("about:blank")
        deadline = time.monotonic() + 10
        while browser.engines_of(server) and time.monotonic() < deadline:
            time.sleep(0.1)
        check(not browser.engines_of(server), "no engine left once the page has gone")
        check(post(address, "/api/analyze", b"{no json")[0] == 400, "malformed JSON refused")
        game = b'{"rule": "go", "width": 15, "height": 15, "moves": []}'
        status, error = post(address, "/api/move", b'{"session": "x", "game": ' + game + b'}')
        check(status == 400 and "rule" in error, f"an unknown rule refused: {status} {error}")
        check(post(address, "/api/open", b"{}", "text/plain")[0] == 415, "a body that is not JSON refused")
    finally:
        if driver:
            driver.quit()
        server.terminate()
        server.wait(10)
    print(f"the analysis board passed; screenshot {args.screenshot}")


if __name__ == "__main__":
    main()
