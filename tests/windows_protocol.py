#!/usr/bin/python3
"""The Windows engine under Wine against the native one, over pipes, in lockstep: every command of
the sessions below goes to both, each followed by ABOUT (what comes before the about line is the
command's reply), and the replies must agree. Both engines run from a copy of their folder under a
non-ASCII name, started from another working directory, so that config.toml and the models are
found next to the executable; that config.toml makes searches repeatable (one search thread, a
visits limit). The Windows engine gets CR LF line ends and is started by backslash and slash paths.
DEBUG lines are compared without their times, file paths by their last name; swap2 openings are
drawn at random, so their replies are compared by form. Then a copy of the Windows engine without ONNX Runtime's
DLLs plays alone (check_without_runtime). Exits non-zero on the first difference."""
import argparse, os, pathlib, re, shutil, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from tovan.engine import Engine  # noqa: E402

ABOUT = 'name="Tovan", version="2024", author="Oren Valsk", country="Marovia"'
SETTINGS = {"num_search_threads": "1", "device_ids": "[0]", "visits_limit": "300", "root_nodes": "20000",
            "Standard": '"models/standard.onnx"'}  # one rule's network loaded by ONNX Runtime from the folder
GAME = "INFO timeout_turn 20000|START 15|BEGIN|TURN ?|TURN ?|TURN ?|TURN ?"
# Commands split at "|"; turns of 20 s, so that the visits limit ends every search. "TURN ?" plays the first
# empty cell near the centre, "TAKEBACK ?" takes back the engine's last move; a session without END ends with its input.
SESSIONS = [
    "INFO timeout_turn 20000|INFO timeout_match 1000000|INFO time_left 1000000|INFO max_memory 200000000"
    "|INFO game_type 1|INFO rule 0|START 15|BEGIN|TURN ?|TAKEBACK 7,7|TURN ?|TAKEBACK ?|TURN ?|RESTART"
    "|BOARD|7,7,2|8,8,1|7,8,2|DONE|ANALYZE visits 200 3|ANALYZE depth 1 1"
    "|YXSHOWFORBID|RECTSTART 20,12|BEGIN|TURN ?|SWAP2BOARD|DONE|start 15|swap2board|7,7|8,8|7,8|DONE|END",
    "INFO timeout_turn 20000|TURN 7,7|START 4|START 30|RECTSTART 3,50|START 15|TURN 99,99|TURN 7,7|TURN 7,7"
    "|TURN a,b|TAKEBACK 1,1"
    "|INFO rule 99|INFO timeout_turn x|BOARD|7,7,3|DONE|BOARD|1,1,1|1,1,2|DONE|FOO bar|TAKEBACK -1,-1",
    # A rule change in a game, then a short game under each rule, and Renju's forbidden points.
    f"{GAME}|INFO rule 1|TURN ?|TURN ?|{GAME}|INFO rule 4|{GAME}|INFO rule 8|{GAME}|INFO rule 9|{GAME}"
    "|INFO rule 4|START 15|BOARD|3,3,2|3,4,2|1,5,2|2,5,2|10,10,2|10,11,2|8,12,2|9,12,2"
    "|0,14,1|14,0,1|14,14,1|0,9,1|14,5,1|5,14,1|12,0,1|DONE|YXSHOWFORBID|END"]
NEAR_CENTRE = sorted(((x, y) for x in range(20) for y in range(20)),
                     key=lambda c: (max(abs(c[0] - 7), abs(c[1] - 7)), c))


def start(argv, cwd, wrapper=()):  # the Windows engine is started by Wine, with CR LF line ends
    env = dict(os.environ, LC_ALL="C.UTF-8")  # Wine reads the non-ASCII path as UTF-8
    return Engine(argv, cwd, wrapper=wrapper, env=env, crlf=bool(wrapper))


def ask(engine, command):  # the reply lines, normalised; None when the engine is gone
    if not engine.send(command + "\nABOUT"):
        return None
    reply = []
    try:
        while (line := engine.read_line(time.monotonic() + 120)[1]) is not None and line != ABOUT:
            if not line.startswith("DEBUG time: "):  # how long a move took differs from run to run
                reply.append(normalise(line))
    except TimeoutError:
        return reply + ["(no reply in 120 s)"]
    reports = [i for i, text in enumerate(reply) if text.startswith("DEBUG Win")]
    reply = [text for i, text in enumerate(reply) if i not in reports or i + 1 not in reports]
    return reply if line is not None else reply + ["(exit)"]


def normalise(line):  # (a search reports more than once when it takes long: only its last report is compared)
    line = re.sub(r"^(DEBUG load (?:config|model): ).*[\\/]", r"\1", line)
    return re.sub(r" \| Time [\d.]+|, used time: [\d.]+| TIME [\d.]+$| freed in \d+ ms", "", line)


def form(reply):  # a random opening's reply: its kind of line, without the cells
    return [re.sub(r"\d+", "#", line) for line in reply if not line.startswith("DEBUG")]


def write_config(folder, windows):  # the shipped config.toml with SETTINGS
    config = (pathlib.Path(windows) / "config.toml").read_text()
    for key, value in SETTINGS.items():
        config = re.sub(rf"(?m)^{key} = .*$", f"{key} = {value}", config)
    (folder / "config.toml").write_text(config)


def check_without_runtime(windows, wine, tmp):
    """Without ONNX Runtime's DLLs the Windows engine starts and plays with its .weights models and code networks,
    answers the rule whose model is an ONNX network with an ERROR line naming the DLL and the Visual C++ run-time,
    and plays on."""
    folder = tmp / "without runtime"
    shutil.copytree(pathlib.Path(windows) / "models", folder / "models")
    shutil.copy2(pathlib.Path(windows) / "pbrain-tovan.exe", folder)
    write_config(folder, windows)
    engine = start(["Z:" + str(folder / "pbrain-tovan.exe")], tmp / "work", [wine])
    moved = lambda reply: any(re.fullmatch(r"\d+,\d+", line) for line in reply)
    refused = lambda reply: any(line.startswith("ERROR") and "onnxruntime.dll" in line and "Visual C++" in line
                                for line in reply)
    for command, judge in (("INFO timeout_turn 20000\nSTART 15\nBEGIN", moved), ("TURN 0,0", moved),
                           ("INFO rule 1\nSTART 15\nBEGIN", refused), ("INFO rule 0\nSTART 15\nBEGIN", moved),
                           ("INFO rule 4\nSTART 15\nBEGIN", moved)):
        reply = ask(engine, command)
        if not judge(reply):
            sys.exit(f"without ONNX Runtime, {command!r}: the reply was {reply}")
    if (code := engine.end_input(60)) != 0:
        sys.exit(f"without ONNX Runtime: exit status {code}")
    print("ok   without ONNX Runtime's DLLs: games with .weights models and a code network, an ERROR line for an ONNX network")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--linux", required=True, help="the native build folder (build)")
    parser.add_argument("--windows", required=True, help="the unpacked Windows archive")
    parser.add_argument("--wine", required=True)
    args = parser.parse_args()
    tmp = pathlib.Path(tempfile.mkdtemp(prefix="tovan-windows-"))
    try:
        folders = {}
        for name, source, program in (("linux", args.linux, "pbrain-tovan"),
                                      ("windows", args.windows, "pbrain-tovan.exe")):
            folders[name] = folder = tmp / "Tövan 目录" / name
            (folder / "models").mkdir(parents=True)
            shutil.copy2(pathlib.Path(source) / program, folder)
            for model in (pathlib.Path(source) / "models").iterdir():
                shutil.copy2(model, folder / "models")
            for dll in pathlib.Path(source).glob("*.dll"):
                shutil.copy2(dll, folder)
            write_config(folder, args.windows)
        (tmp / "work").mkdir()
        windows_exe = "Z:" + str(folders["windows"] / "pbrain-tovan.exe")
        for number, session in enumerate(SESSIONS, 1):
            exe = windows_exe.replace("/", "\\") if number % 2 else windows_exe
            engines = [start([str(folders["linux"] / "pbrain-tovan")], tmp / "work"),
                       start([exe], tmp / "work", [args.wine])]
            taken, last = set(), ""
            commands = re.findall(r"(?i)(?:(?:swap2)?board\|(?:[^|]*\|)*?done|[^|]+)", session)
            for command in commands:
                command = command.replace("|", "\n")  # a board's lines go as one command
                if command == "TURN ?":
                    command = "TURN %d,%d" % next(c for c in NEAR_CENTRE if c not in taken)
                command = command.replace("TAKEBACK ?", "TAKEBACK " + last)
                replies = [ask(engine, command) for engine in engines]
                if "swap2board" in command.lower() or (replies[0] and "SWAP" in replies[0]):
                    replies = [form(reply) for reply in replies]
                if replies[0] != replies[1]:
                    command = command.replace("\n", "|")
                    gone = [f"; {name} {engine.exit_description()}" for name, engine, reply
                            in zip(("Linux", "Windows"), engines, replies) if reply is None or "(exit)" in reply]
                    sys.exit(f"session {number}, {command}: Linux replied {replies[0]}, Windows {replies[1]}"
                             + "".join(gone))
                if command.split(" ")[0] in ("START", "RESTART", "RECTSTART"):
                    taken = set()
                for text in [command.split(" ")[-1]] + replies[0]:
                    if re.fullmatch(r"\d+,\d+", text):
                        taken.add(tuple(map(int, text.split(","))))
                        last = text
            codes = [engine.end_input(60) for engine in engines]
            if codes != [0, 0]:
                sys.exit(f"session {number}: exit statuses {codes}")
            print(f"ok   session {number}: {len(commands)} commands, the same replies")
        check_without_runtime(args.windows, args.wine, tmp)
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
