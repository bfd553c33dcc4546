"""The window as a screen reader reads it: through AT-SPI, from another
process, with accessibility switched on the way a screen reader does it.

Runs the demo window (sample pages and clips on loopback servers), plays a
clip and walks the tree: names, roles, the time and speed, the status line,
the clip list's rows and the Tab order. Started by run.sh, which provides
the display and the buses. Prints one line a row; fails if any row fails.
"""
import os
import re
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402
import pyatspi  # noqa: E402

TIMEOUT = 20  # seconds for anything the window is to do


def switch_accessibility_on():
    """What a screen reader does when it starts, once the accessibility bus's launcher is up."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    def launcher_up():
        return bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                             GLib.Variant("(s)", ("org.a11y.Bus",)), GLib.VariantType("(b)"),
                             Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    if not wait_for(launcher_up, 30):
        raise RuntimeError("the accessibility bus's launcher did not come up")
    for name in ("IsEnabled", "ScreenReaderEnabled"):
        bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                      GLib.Variant("(ssv)", ("org.a11y.Status", name, GLib.Variant("b", True))),
                      None, Gio.DBusCallFlags.NONE, 5000, None)


def pump(seconds=0.0):
    """Lets events arrive."""
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while True:
        while context.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.02)


def wait_for(what, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = what()
        except Exception:  # the tree changes under us
            value = None
        if value:
            return value
        pump(0.1)
    return None


def children(node):
    return [node.getChildAtIndex(i) for i in range(node.childCount)]


def walk(node):
    yield node
    for child in children(node):
        if child is not None:
            yield from walk(child)


def find(root, role, name=None):
    for node in walk(root):
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
    return None


def labels_of(node):
    return [rel.getTarget(i).name for rel in node.getRelationSet()
            if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(rel.getNTargets())]


def centre(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


def click(node, kind="b1c"):
    x, y = centre(node)
    pyatspi.Registry.generateMouseEvent(x, y, kind)
    pump(0.3)


def press(keysym, times=1):
    for _ in range(times):
        pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
        pump(0.15)


TAB, DOWN = 0xFF09, 0xFF54


def same_row(a, b):
    return abs((a.y + a.height / 2) - (b.y + b.height / 2)) < min(a.height, b.height) / 2


def reads_before(a, b):
    """Whether box a comes before box b as one reads: a row above, or left of it in the same row."""
    return b.x > a.x if same_row(a, b) else b.y + b.height / 2 > a.y + a.height / 2


def extents(node):
    return node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


class Rows:
    def __init__(self):
        self.failed = 0

    def check(self, name, ok, detail=""):
        print(("PASS   : " if ok else "FAIL!  : ") + name + ("" if ok else "  " + str(detail)), flush=True)
        self.failed += 0 if ok else 1


def main():
    demo = sys.argv[1]
    switch_accessibility_on()
    environment = dict(os.environ, BRIMWOLD_AUDIO_SINK="fakesink sync=true", QT_QPA_PLATFORM="xcb",
                       QT_LOGGING_RULES="default.debug=false")
    program = subprocess.Popen([demo], env=environment, stdout=subprocess.DEVNULL)
    try:
        return run(Rows(), program)
    finally:
        program.kill()
        program.wait()


def run(rows, program):
    desktop = pyatspi.Registry.getDesktop(0)
    app = wait_for(lambda: next((a for a in children(desktop) if a and a.name == "sorvalen-demo"), None))
    if app is None:
        rows.check("the window is on the accessibility bus", False, "no application sorvalen-demo")
        return 1
    window = wait_for(lambda: find(app, "frame", "Sorvalen Brimwold"))
    lists = {name: wait_for(lambda n=name: find(window, "list", n)) for name in ("文章", "相关文章", "音频")}
    status = find(window, "label", "状态")
    speed = find(window, "combo box")

    descriptions = []
    focus = []  # what got the focus, in turn: a list's row counts as its list
    focused_nodes = {}

    def described(event):
        descriptions.append(event.source.description if event.source else "")

    def focused(event):
        if event.detail1 != 1 or event.source is None:
            return
        node = event.source
        if node.getRoleName() in ("list item", "table cell") and node.parent is not None:
            node = node.parent
        if not focus or focus[-1] != node.name:
            focus.append(node.name)
            focused_nodes[node.name] = node

    pyatspi.Registry.registerEventListener(described, "object:property-change:accessible-description")
    pyatspi.Registry.registerEventListener(focused, "object:state-changed:focused")

    # Before any clip.
    size = extents(window)
    rows.check("the window opens at the form's 400 × 300", (size.width, size.height) == (400, 300), (size.width, size.height))
    rows.check("the three lists are named for what they hold", all(lists.values()), sorted(n for n in lists if lists[n]))
    unnamed = [node.getRoleName() for node in walk(window) if node.getRoleName() in
               ("push button", "toggle button", "check box", "slider", "combo box", "list", "label") and not node.name
               and node.parent.getRoleName() != "combo box"]  # its pop-up
    rows.check("every control has a name", not unnamed, unnamed)
    playing_on = next((node for node in walk(window) if node.name == "连续播放"), None)
    # Qt gives a switch of the kind the role of a check box.
    rows.check("连续播放 is a switch a screen reader names, and it is off",
               playing_on is not None and playing_on.getRoleName() in ("toggle button", "check box")
               and not playing_on.getState().contains(pyatspi.STATE_CHECKED),
               playing_on and (playing_on.getRoleName(), playing_on.getState().getStates()))
    rows.check("the status line has its name while empty", status is not None and status.description == "")
    rows.check("the speed box is labelled 播放速度 and reads 1×",
               speed is not None and labels_of(speed) == ["播放速度"] and speed.name == "1×",
               speed and (labels_of(speed), speed.name))
    label = next(rel.getTarget(0) for rel in speed.getRelationSet()
                 if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY)
    label, box = extents(label), extents(speed)
    rows.check("the speed box's label stands just before it",
               same_row(label, box) and 0 <= box.x - (label.x + label.width) < 20,
               ((label.x, label.y, label.width), (box.x, box.y)))

    # A click on "新书" fills the clip list and plays its first clip.
    click(next(item for item in children(lists["文章"]) if item.name == "新书"))
    clips = lists["音频"]
    rows.check("the clip list fills", wait_for(lambda: clips.childCount == 3), clips.childCount)
    rows.check("the status line carries the playing clip's name",
               wait_for(lambda: status.description == "第一回 雨夜"), status.description)
    rows.check("a change of the status line is announced", wait_for(lambda: "第一回 雨夜" in descriptions),
               descriptions)
    spoken = re.compile(r"^播放时间：已播放 (\d+) 秒，共 (\d+) 秒$")
    time_label = wait_for(lambda: next((n for n in walk(window) if n.getRoleName() == "label"
                                        and spoken.match(n.name) and int(spoken.match(n.name).group(1)) > 0), None))
    rows.check("the time reads the elapsed and total time while a clip plays",
               time_label is not None and int(spoken.match(time_label.name).group(2)) > 0,
               time_label and time_label.name)
    click(children(clips)[2], "b1d")
    rows.check("the mark moved to row 2", wait_for(lambda: status.description == "第三回 远行"), status.description)

    # Tab from the first list visits the lists, then the pane's controls in
    # the order they stand; the focus is followed as a screen reader
    # follows it, by its events. A list is entered at its current row.
    box = lists["文章"].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height - 5, "b1c")
    rows.check("a click on the list's empty part focuses it", wait_for(lambda: focus and focus[-1] == "文章"), focus)
    del focus[:]
    expected = ["相关文章", "音频", "后退 15 秒", "暂停", "前进 30 秒", "停止", "播放位置", "1×", "跳过静音", "人声增强",
                "连续播放", "睡眠定时", "静音", "音量"]
    for _ in expected:
        count = len(focus)
        press(TAB)
        wait_for(lambda: len(focus) > count, 5)
    rows.check("Tab visits the lists and the pane's controls in order", focus == expected, focus)
    boxes = [extents(focused_nodes[name]) for name in focus]
    misplaced = [(a, b) for a, b, ba, bb in zip(focus, focus[1:], boxes, boxes[1:]) if not reads_before(ba, bb)]
    rows.check("each control Tab reaches stands after the one before it", not misplaced, misplaced)

    # The speed, changed from the keyboard.
    for _ in range(len(expected)):  # round again
        if focus and focus[-1] == "1×":
            break
        count = len(focus)
        press(TAB)
        wait_for(lambda: len(focus) > count, 5)
    rows.check("Tab comes round to the speed box again", focus and focus[-1] == "1×", focus)
    press(DOWN, 4)
    rows.check("the speed box reads 2× after a change, still labelled 播放速度",
               wait_for(lambda: speed.name == "2×") and labels_of(speed) == ["播放速度"], (speed.name, labels_of(speed)))

    program.poll()
    rows.check("the window is still there", program.returncode is None, program.returncode)
    return 1 if rows.failed else 0


if __name__ == "__main__":
    sys.exit(main())
