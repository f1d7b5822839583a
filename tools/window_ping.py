#!/usr/bin/python3
"""How long the real window keeps a desktop waiting, measured the way a desktop measures it.

Starts the program under the current X display (with a window manager running), gives it the
photos of a folder on its command line, then works through a session with xdotool: the photos
being added and thumbnailed, ten choices with the Up key (from the last photo, current after the add), a drag in the preview, Save Image.
All the while it sends the window the desktop's "are you alive" ping (_NET_WM_PING) and times
each answer; a desktop greys a window out when the answer takes about 5 s. Prints, per phase,
the longest round trip and the 99th percentile.

    tools/window_ping.py build/bin/mattora PHOTO_FOLDER [SCREENSHOT_FOLDER]

With a third folder, a screenshot of the screen is taken there after each phase (ImageMagick).

Needs python3-xlib and xdotool. Positions are those of the window's default layout.
"""
import os
import subprocess
import sys
import tempfile
import threading
import time

from Xlib import X, display, protocol

# Points inside the window (from its top left): the top entry shown of the foreground list, the preview, Save Image.
TOP_FOREGROUND = (55, 133)
PREVIEW = (408, 235)
SAVE = (389, 466)


class Pinger(threading.Thread):
    """Pings `window` every 10 ms, one ping at a time, and keeps each round trip."""

    def __init__(self, window_id):
        super().__init__(daemon=True)
        self.d = display.Display()
        self.root = self.d.screen().root
        self.root.change_attributes(event_mask=X.StructureNotifyMask)
        self.window = self.d.create_resource_object("window", window_id)
        self.protocols = self.d.intern_atom("WM_PROTOCOLS")
        self.ping = self.d.intern_atom("_NET_WM_PING")
        self.lock = threading.Lock()
        self.trips = []
        self.stop = False

    def run(self):
        stamp = 1
        while not self.stop:
            stamp += 1
            event = protocol.event.ClientMessage(
                window=self.window, client_type=self.protocols,
                data=(32, [self.ping, stamp, self.window.id, 0, 0]))
            sent = time.monotonic()
            self.window.send_event(event, event_mask=X.NoEventMask)
            self.d.flush()
            while not self.stop:
                reply = self.d.next_event()
                if (reply.type == X.ClientMessage and reply.client_type == self.protocols
                        and reply.data[1][0] == self.ping and reply.data[1][1] == stamp):
                    break
            with self.lock:
                self.trips.append((time.monotonic() - sent) * 1000)
            time.sleep(0.01)

    def take(self):
        with self.lock:
            trips, self.trips = self.trips, []
        return trips


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True,
                          text=True).stdout


def move(window, point):
    # On the screen: xdotool's --window offsets are taken from the window manager's frame.
    where = xdotool("getwindowgeometry", window).split("Position:")[1].split()[0]
    left, top = map(int, where.split(","))
    xdotool("mousemove", left + point[0], top + point[1])


def click(window, point):
    # The pointer settles first: a press that comes with the move can miss the button.
    move(window, point)
    time.sleep(0.3)
    xdotool("click", 1)


def report(name, trips):
    trips = sorted(trips)
    if not trips:
        print(f"{name:28} no answer at all")
        return 0
    p99 = trips[min(len(trips) - 1, int(len(trips) * 0.99))]
    print(f"{name:28} longest {trips[-1]:7.1f} ms   p99 {p99:6.1f} ms   ({len(trips)} pings)")
    return trips[-1]


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    program, folder = sys.argv[1:3]
    shots = sys.argv[3] if len(sys.argv) == 4 else None

    def phase(name, trips):
        if shots:
            subprocess.run(["import", "-window", "root",
                            os.path.join(shots, name.split()[0] + ".png")], check=True)
        return report(name, trips)

    photos = sorted(os.path.join(folder, f) for f in os.listdir(folder)
                    if f.upper().startswith("IMG_"))
    home = tempfile.mkdtemp(prefix="window-ping-")
    started = subprocess.Popen([program, *photos], env={**os.environ, "HOME": home},
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    result = os.path.join(home, "Documents", "Verdalux")
    try:
        window = int(xdotool("search", "--sync", "--name", "^Mattora ").split()[0])
        pinger = Pinger(window)
        pinger.start()
        worst = 0
        time.sleep(25)  # every entry, its thumbnail and the preview of the current photo
        worst = max(worst, phase(f"start with {len(photos)} photos", pinger.take()))

        click(window, TOP_FOREGROUND)
        for _ in range(10):
            time.sleep(1.5)
            xdotool("key", "Up")
        time.sleep(2)
        worst = max(worst, phase("choose 10 with Up", pinger.take()))

        x, y = PREVIEW
        move(window, PREVIEW)
        time.sleep(0.3)
        xdotool("mousedown", 1)
        for step in range(1, 41):
            time.sleep(0.02)
            move(window, (x + step * 2, y + step))
        xdotool("mouseup", 1)
        time.sleep(2)
        worst = max(worst, phase("drag in the preview", pinger.take()))

        click(window, SAVE)
        time.sleep(6)
        worst = max(worst, phase("save image", pinger.take()))
        saved = os.listdir(result) if os.path.isdir(result) else []
        print(f"saved: {', '.join(saved) if saved else 'nothing'}")
        print(f"longest round trip of any phase: {worst:.1f} ms")
        pinger.stop = True
    finally:
        started.terminate()
        started.wait()


if __name__ == "__main__":
    main()
