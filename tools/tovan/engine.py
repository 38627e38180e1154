"""A client of the tournament line protocol: an engine process, its output lines read by a
thread and timed as they arrive, and every read bounded by a deadline."""

import os
import queue
import signal
import subprocess
import tempfile
import threading
import time


class Reply:
    """One reply to a request: kind is 'line', 'timeout' or 'exit'; diagnostics holds the
    DEBUG and MESSAGE lines read before it."""

    def __init__(self, kind, text="", elapsed=0.0, diagnostics=()):
        self.kind, self.text, self.elapsed, self.diagnostics = kind, text, elapsed, list(diagnostics)


def board_command(stones, own):
    """The BOARD command of `stones`, (x, y, colour) in playing order, for the player of
    colour `own`: its stones are marked 1, the opponent's 2."""
    lines = [f"{x},{y},{1 if colour == own else 2}" for x, y, colour in stones]
    return "\n".join(["BOARD"] + lines + ["DONE"])


class Engine:
    """A running engine process. `wrapper` goes before the command (e.g. ["wine"]); with crlf
    its input lines end in CR LF; on_diagnostic(line) sees each DEBUG/MESSAGE line that
    read_reply skips. Standard error is kept in a temporary file."""

    def __init__(self, argv, cwd=None, wrapper=(), env=None, crlf=False, on_diagnostic=None):
        self.end = "\r\n" if crlf else "\n"
        self.on_diagnostic = on_diagnostic
        self.lines = queue.Queue()  # (receipt time, line), then (time, None) at the end of output
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([*wrapper, *argv], cwd=cwd, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr, start_new_session=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        try:
            for raw in self.proc.stdout:
                self.lines.put((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\r\n")))
        except (OSError, ValueError):
            pass
        self.lines.put((time.monotonic(), None))

    def write(self, text):
        """Writes the text as it is; False when the engine no longer reads."""
        try:
            self.proc.stdin.write(text.replace("\n", self.end).encode())
            self.proc.stdin.flush()
            return True
        except (BrokenPipeError, OSError, ValueError):
            return False

    def send(self, text):
        """Writes one or more command lines; False when the engine no longer reads."""
        return self.write(text + "\n")

    def read_line(self, deadline):
        """The next output line as (receipt time, text), text None once the output has ended;
        raises TimeoutError when none comes by the deadline (a time.monotonic() value)."""
        try:
            return self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            raise TimeoutError from None

    def pending(self):
        """The lines already read and not yet taken, without waiting (None for the end of output)."""
        return [self.lines.get()[1] for _ in range(self.lines.qsize())]

    def read_reply(self, sent_at, limit):
        """Waits for the next reply line (skipping DEBUG/MESSAGE diagnostics and blank
        lines) until sent_at + limit seconds."""
        diagnostics = []
        while True:
            try:
                # A little slack, so a line read just before the deadline is not lost;
                # its own receipt time decides whether it was in time.
                at, line = self.read_line(sent_at + limit + 0.02)
            except TimeoutError:
                return Reply("timeout", elapsed=time.monotonic() - sent_at, diagnostics=diagnostics)
            if line is None:
                return Reply("exit", elapsed=at - sent_at, diagnostics=diagnostics)
            if at - sent_at > limit:
                return Reply("timeout", elapsed=at - sent_at, diagnostics=diagnostics)
            if line.split(" ", 1)[0].upper() in ("DEBUG", "MESSAGE"):
                diagnostics.append(line)
                if self.on_diagnostic:
                    self.on_diagnostic(line)
                continue
            if line.strip():
                return Reply("line", line.strip(), at - sent_at, diagnostics)

    def request(self, command, limit):
        """Sends a command and reads its reply within `limit` seconds."""
        sent_at = time.monotonic()
        if not self.send(command):
            return Reply("exit")
        return self.read_reply(sent_at, limit)

    def exit_description(self):
        """Describes how the process ended, with the tail of its standard error."""
        try:
            code = self.proc.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            return "closed its output"
        if code < 0:
            try:
                text = f"killed by signal {signal.Signals(-code).name}"
            except ValueError:
                text = f"killed by signal {-code}"
        else:
            text = f"exited with status {code}"
        tail = self.stderr_tail()
        return text + (f" (stderr: {tail})" if tail else "")

    def stderr_text(self):
        try:
            self.stderr.flush()
            self.stderr.seek(0)
            return self.stderr.read().decode("utf-8", "replace")
        except (OSError, ValueError):
            return ""

    def stderr_tail(self, limit=300):
        data = " | ".join(self.stderr_text().strip().splitlines()[-5:])
        return data if len(data) <= limit else "..." + data[-limit:]

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                self.proc.kill()
        self.proc.wait()

    def end_input(self, timeout):
        """Closes the engine's input and waits for it to exit: its exit status, or None when it
        had to be killed after `timeout` seconds."""
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            return None

    def close(self, grace=1.0):
        """Asks the engine to end, then kills its process group if it has not exited."""
        if self.proc.poll() is None:
            self.send("END")
            try:
                self.proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass
        self.kill()
        self.reader.join(timeout=1.0)
        for stream in (self.proc.stdin, self.proc.stdout):
            try:
                stream.close()
            except (OSError, ValueError):
                pass
        self.stderr.close()
