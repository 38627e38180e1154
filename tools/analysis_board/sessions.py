"""One engine per open page. A page opens a session when it loads, calls it at least every
few seconds while it is open and closes it when it goes; a session not heard from for
IDLE_SECONDS is closed too (a page that crashed, or was killed), so no engine outlives
its page for long. Requests of one session run one at a time."""

import secrets
import threading
import time

from engine_link import EngineFault, EngineLink

IDLE_SECONDS = 30.0
MOST_SESSIONS = 8


class SessionGone(LookupError):
    """The session was closed or never existed; the page opens another."""


class TooManySessions(RuntimeError):
    pass


class Session:
    def __init__(self, engine):
        self.link = EngineLink(*engine)
        self.lock = threading.Lock()
        self.heard = time.monotonic()


class Sessions:
    def __init__(self, program, memory_bytes):
        self.engine = (program, memory_bytes)  # what each session's EngineLink is made of
        self.sessions = {}
        self.lock = threading.Lock()  # guards the dictionary, never held while an engine works
        self.stopped = threading.Event()
        threading.Thread(target=self._reap, daemon=True).start()

    def open(self):
        with self.lock:
            if len(self.sessions) >= MOST_SESSIONS:
                raise TooManySessions(f"{MOST_SESSIONS} pages already have an engine: close one first")
            key = secrets.token_hex(8)
            self.sessions[key] = Session(self.engine)
        return key

    def run(self, key, action):
        """action(link) under the session's lock; an engine that failed is replaced by a new one
        (the page's next request puts its game on it) and the fault raised."""
        session = self._get(key)
        with session.lock:
            session.heard = time.monotonic()
            if self._get(key) is not session:  # closed while this request waited
                raise SessionGone(key)
            try:
                return action(session.link)
            except EngineFault:
                session.link.close()
                session.link = EngineLink(*self.engine)
                raise
            finally:
                session.heard = time.monotonic()

    def close(self, key):
        with self.lock:
            session = self.sessions.pop(key, None)
        if session:
            with session.lock:
                session.link.close()

    def close_all(self):
        self.stopped.set()
        for key in list(self.sessions):
            self.close(key)

    def _get(self, key):
        with self.lock:
            session = self.sessions.get(key)
        if session is None:
            raise SessionGone(key)
        return session

    def _reap(self):
        while not self.stopped.wait(IDLE_SECONDS / 6):
            with self.lock:
                idle = [key for key, session in self.sessions.items()
                        if time.monotonic() - session.heard > IDLE_SECONDS and not session.lock.locked()]
            for key in idle:
                self.close(key)
