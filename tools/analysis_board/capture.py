#!/usr/bin/python3
"""Screenshots of the analysis board with a Freestyle and a Renju position analysed, and the
time from the page's request to the analysis on screen, over repeated analyses of each."""

import argparse
import os
import statistics

import browser
from tovan import paths

# Games of the engine against itself, the Renju one with a forbidden point for Black, who
# is to play.
POSITIONS = {
    "freestyle": "(;FF[4]GM[4]SZ[15]RU[freestyle];B[hh];W[gg];B[fg];W[eh];B[hf];W[gj];B[fi];W[fj];B[hi];W[hj];"
                 "B[ej];W[gh];B[gi];W[ii];B[gk];W[he];B[dk])",
    "renju": "(;FF[4]GM[4]SZ[15]RU[renju];B[hh];W[ig];B[jj];W[ii];B[ih];W[jh];B[ki];W[kg];B[hj];W[jg];B[hg];W[hf])",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--engine", default=paths.ENGINE)
    parser.add_argument("--out", default=os.path.join(paths.ROOT, "docs"), help="folder of the screenshots")
    parser.add_argument("--ms", type=int, default=1000, help="search time of an analysis")
    parser.add_argument("--repeat", type=int, default=10, help="analyses timed per position")
    args = parser.parse_args()
    server, address = browser.start_server(os.path.abspath(args.engine))
    driver = browser.chromium()
    try:
        page = browser.Page(driver, address)
        page.set("analysis-time", args.ms)
        for rule, sgf in POSITIONS.items():
            page.load(sgf, f"{rule}.sgf")
            page.wait_for_analysis()
            # Each position analysed, for the win rate graph; the game's last one shown.
            page.driver.find_element(browser.By.ID, "analyse-game").click()
            page.wait(lambda: "positions analysed" in page.text("status"), "the game analysed")
            screenshot = os.path.join(args.out, f"analysis-board-{rule}.png")
            driver.save_screenshot(screenshot)
            seconds = []
            for _ in range(args.repeat):
                page.forget_analysis()
                page.driver.find_element(browser.By.ID, "analyse-now").click()
                seconds.append(page.wait_for_analysis())
            print(f"{rule}: {screenshot}; request to analysis on screen at {args.ms} ms of search, "
                  f"{len(seconds)} times: median {statistics.median(seconds):.3f} s, "
                  f"min {min(seconds):.3f} s, max {max(seconds):.3f} s", flush=True)
    finally:
        driver.quit()
        server.terminate()
        server.wait(10)


if __name__ == "__main__":
    main()
