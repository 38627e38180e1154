#!/usr/bin/python3
"""The analysis board: a web server on 127.0.0.1 whose page plays and studies games with the
engine, one engine process per open page (docs/analysis-board.md). Prints its address."""

import argparse
import http.server
import json
import os
import signal
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import game_files  # noqa: E402
from engine_link import EngineFault  # noqa: E402
from game import Game  # noqa: E402
from sessions import Sessions, SessionGone, TooManySessions  # noqa: E402
from tovan import paths  # noqa: E402

DEFAULT_PORT = 8470
MOST_BODY_BYTES = 1 << 20
MOST_MILLISECONDS = 600000
# What the page is made of: path, file under page/, content type.
FILES = {"/": ("index.html", "text/html"), "/board.css": ("board.css", "text/css")}
FILES.update({f"/{name}": (name, "text/javascript") for name in ("app.js", "api.js", "board_view.js", "graph.js",
                                                                 "svg.js")})


class RequestError(ValueError):
    """A request whose fields are missing or out of range."""


def whole_number(body, name, low, high):
    value = body.get(name)
    if type(value) is not int or not low <= value <= high:
        raise RequestError(f"{name} must be a whole number from {low} to {high}, not {value!r}")
    return value


def session_of(body):
    key = body.get("session")
    if not isinstance(key, str):
        raise RequestError("session must be the text /api/open gave")
    return key


# The calls of the page: each takes the sessions and the request's JSON object and returns
# the reply's.
def open_session(sessions, body):
    return {"session": sessions.open()}


def close_session(sessions, body):
    sessions.close(session_of(body))
    return {}


def ping(sessions, body):
    sessions.run(session_of(body), lambda link: None)
    return {}


def position(sessions, body):
    game = Game.from_json(body.get("game"))
    return {"result": game.result, "forbidden": sessions.run(session_of(body), lambda link: link.forbidden(game))}


def move(sessions, body):
    game, milliseconds = Game.from_json(body.get("game")), whole_number(body, "time_ms", 1, MOST_MILLISECONDS)
    played, win = sessions.run(session_of(body), lambda link: link.move(game, milliseconds))
    return {"move": list(played), "win": win}


def analyze(sessions, body):
    game, milliseconds = Game.from_json(body.get("game")), whole_number(body, "time_ms", 1, MOST_MILLISECONDS)
    count = whole_number(body, "count", 1, 400)
    return sessions.run(session_of(body), lambda link: link.analyze(game, milliseconds, count))


def load(sessions, body):
    text = body.get("text")
    if not isinstance(text, str):
        raise RequestError("text must be the file's text")
    game = game_files.load(text, body.get("rule"), body.get("width"), body.get("height"))
    return {"game": game.to_json()}


def save(sessions, body):
    kind = body.get("format")
    if kind not in ("sgf", "moves"):
        raise RequestError(f"format must be sgf or moves, not {kind!r}")
    return {"text": game_files.save(Game.from_json(body.get("game")), kind)}


CALLS = {"/api/open": open_session, "/api/close": close_session, "/api/ping": ping, "/api/position": position,
         "/api/move": move, "/api/analyze": analyze, "/api/load": load, "/api/save": save}


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "TovanBoard"

    def do_GET(self):
        if not self.from_own_page():
            return
        name, kind = FILES.get(self.path.split("?")[0], (None, None))
        if name is None:
            return self.reply(404, {"error": f"no such page: {self.path}"})
        with open(os.path.join(HERE, "page", name), "rb") as page:
            self.reply(200, page.read(), kind)

    def do_POST(self):
        if not self.from_own_page():
            return
        call = CALLS.get(self.path)
        if call is None:
            return self.reply(404, {"error": f"no such call: {self.path}"})
        if self.headers.get_content_type() != "application/json":
            return self.reply(415, {"error": "a call's body is JSON, sent as application/json"})
        try:
            length = int(self.headers.get("Content-Length", ""))
        except ValueError:
            return self.reply(411, {"error": "a call needs a Content-Length"})
        if not 0 <= length <= MOST_BODY_BYTES:
            return self.reply(413, {"error": f"a call's body takes at most {MOST_BODY_BYTES} bytes"})
        try:
            try:
                body = json.loads(self.rfile.read(length))
            except (ValueError, RecursionError) as error:  # RecursionError: nested too deep
                raise RequestError(f"the body is no JSON: {error}") from None
            if not isinstance(body, dict):
                raise RequestError("a call's body is a JSON object")
            self.reply(200, call(self.server.sessions, body))
        except ValueError as error:  # malformed JSON, a RequestError or a GameError
            self.reply(400, {"error": str(error)})
        except SessionGone:
            self.reply(410, {"error": "this page's engine was closed"})
        except TooManySessions as error:
            self.reply(429, {"error": str(error)})
        except EngineFault as error:
            self.reply(502, {"error": f"{error}; a new engine takes over"})

    def from_own_page(self):
        """Only the board's own pages are served: another site's page in the browser (a host name
        bound to 127.0.0.1, a cross-site call) is refused."""
        port = self.server.server_address[1]
        hosts = {f"127.0.0.1:{port}", f"localhost:{port}"}
        origin = self.headers.get("Origin")
        if self.headers.get("Host") in hosts and (origin is None or origin in {f"http://{h}" for h in hosts}):
            return True
        self.reply(403, {"error": "the board answers its own pages only"})
        return False

    def reply(self, status, content, kind="application/json"):
        data = json.dumps(content).encode() if kind == "application/json" else content
        self.send_response(status)
        self.send_header("Content-Type", f"{kind}; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def send_error(self, code, message=None, explain=None):
        """The refusals of the HTTP layer (a malformed request line, a method other than GET and
        POST) in JSON too."""
        self.reply(code, {"error": message or http.HTTPStatus(code).phrase})

    def log_message(self, format, *args):
        pass  # the page shows every error; a terminal full of request lines helps no one


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=DEFAULT_PORT, help="0: any free port")
    parser.add_argument("--engine", default=paths.ENGINE)
    parser.add_argument("--memory-mb", type=int, default=1000,
                        help="megabytes each page's engine may use (info max_memory)")
    args = parser.parse_args()
    engine = os.path.abspath(args.engine)
    if not os.access(engine, os.X_OK):
        sys.exit(f"no engine at {engine}: build it with bash tools/build.sh")
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    except OSError as error:
        sys.exit(f"cannot serve on 127.0.0.1:{args.port}: {error.strerror}")
    server.daemon_threads = True
    server.sessions = Sessions(engine, args.memory_mb * 1000000)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(f"Tovan analysis board: http://127.0.0.1:{server.server_address[1]}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        server.sessions.close_all()


if __name__ == "__main__":
    main()
