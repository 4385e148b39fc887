#!/usr/bin/env python3
"""Reads the Morvane window through the accessibility bus, as a screen reader
does: the names of its controls (and that its command buttons take a dropped
file), then, after an Analyze File driven through
the bus, the gauge's value and the labels' texts, which must be those that
morvane-cli prints for the same stream.

Run inside a D-Bus session with an X display (check-accessibility.sh sets
both up): accessibility_check.py --window CMD... --cli PATH --stream FILE
"""

import argparse
import os
import shlex
import subprocess
import sys
import time

import pyatspi

BUTTONS = ["Analyze File", "Extract Chunks", "STOP", "PLAY", "SDX2 to WAV"]
failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def descendants(root):
    """Every accessible below root, breadth first."""
    queue = [root]
    while queue:
        node = queue.pop(0)
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is not None:
                yield child
                queue.append(child)


def wait_for(what, find, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = find()
        except Exception:  # the tree may change under us while the window builds
            found = None
        if found is not None:
            return found
        time.sleep(0.2)
    raise SystemExit("FAIL: no " + what + " after %d s" % seconds)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def first(root, role, name=None):
    for node in descendants(root):
        if node.getRole() == role and (name is None or node.name == name) and showing(node):
            return node
    return None


def press(button):
    button.queryAction().doAction(0)


def label_right_of(labels, caption):
    """The value label of a row: the nearest label to the right of its caption, on its line."""
    box = caption.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    best = None
    for label in labels:
        other = label.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if other.y == box.y and other.x > box.x and (best is None or other.x < best[0]):
            best = (other.x, label)
    return best[1] if best else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--window", required=True, help="the command that opens the window")
    parser.add_argument("--cli", required=True)
    parser.add_argument("--stream", required=True)
    args = parser.parse_args()
    stream = os.path.abspath(args.stream)

    # What the window must show, as the command line prints it.
    printed = subprocess.run([args.cli, "analyze", stream], capture_output=True, text=True, check=True).stdout
    rows = [line.split(": ", 1) for line in printed.splitlines() if ": " in line]
    memo_lines = [line for line in printed.splitlines()[1:] if line and ": " not in line]
    os.remove(stream + ".MAP")

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    window = subprocess.Popen(shlex.split(args.window), cwd=os.path.dirname(stream), env=env)
    try:
        app = wait_for("window on the accessibility bus", lambda: application(window.pid))
        frame = wait_for("main window", lambda: first(app, pyatspi.ROLE_FRAME))
        check(frame.name.startswith("Tarrow Morvane"), "the main window is named by its title: " + frame.name)

        buttons = {}
        for caption in BUTTONS:
            buttons[caption] = first(frame, pyatspi.ROLE_PUSH_BUTTON, caption)
            check(buttons[caption] is not None, 'a button named "%s"' % caption)
        for caption in ["Analyze File", "Extract Chunks", "SDX2 to WAV", "PLAY"]:
            if buttons[caption] is not None:
                check("dropped" in buttons[caption].description,
                      '"%s" says it takes a dropped file: %s' % (caption, buttons[caption].description))
        check("dropped" in frame.description, "the window says what a drop on it does: " + frame.description)
        rate = first(frame, pyatspi.ROLE_TEXT, "Sample rate in Hz")
        check(rate is not None and rate.getState().contains(pyatspi.STATE_EDITABLE),
              'the rate box, editable, named "Sample rate in Hz"')
        memo = first(frame, pyatspi.ROLE_TEXT, "Information about file")
        check(memo is not None, 'the text box named "Information about file"')
        gauge = first(frame, pyatspi.ROLE_PROGRESS_BAR)
        check(gauge is not None and gauge.name == "Progress", 'the gauge is a progress bar named "Progress"')
        if failures:
            return 1
        value = gauge.queryValue()
        check((value.minimumValue, value.maximumValue, value.currentValue) == (0, 100, 0),
              "the gauge reads 0 of 0..100 before any command: %s" % value.currentValue)

        # Analyze File through the bus: the click, the open dialog, the closing message.
        press(buttons["Analyze File"])
        dialog = wait_for("open dialog", lambda: first(app, pyatspi.ROLE_DIALOG, "Open File"))
        name_box = None
        for node in descendants(dialog):
            if (node.getRole() == pyatspi.ROLE_TEXT and showing(node)
                    and node.getState().contains(pyatspi.STATE_EDITABLE)
                    and node.getState().contains(pyatspi.STATE_FOCUSED)):
                name_box = node
        check(name_box is not None, "the open dialog's file name box")
        if failures:
            return 1
        name_box.queryEditableText().setTextContents(stream)
        press(wait_for("Open button", lambda: first(dialog, pyatspi.ROLE_PUSH_BUTTON, "Open")))
        message = wait_for("closing message",
                           lambda: first(app, pyatspi.ROLE_LABEL, "Process finished"))
        check(message is not None, 'the message "Process finished" is read out')
        box = message.parent
        press(wait_for("OK button", lambda: first(box, pyatspi.ROLE_PUSH_BUTTON, "OK")))
        wait_for("message box closed",
                 lambda: None if first(app, pyatspi.ROLE_LABEL, "Process finished") else True)

        check(gauge.queryValue().currentValue == 100,
              "the gauge reads 100 after Analyze File: %s" % gauge.queryValue().currentValue)
        labels = [node for node in descendants(frame) if node.getRole() == pyatspi.ROLE_LABEL]
        by_text = {}
        for label in labels:
            by_text.setdefault(label.name, label)
        for caption, expected in rows:
            caption_label = by_text.get(caption + ":")
            if not check(caption_label is not None, 'a label "%s:"' % caption):
                continue
            shown = label_right_of(labels, caption_label)
            check(shown is not None and shown.name == expected,
                  '"%s" reads "%s" (morvane-cli: "%s")' % (caption, shown.name if shown else None, expected))
        memo_text = memo.queryText().getText(0, -1)
        check(stream in memo_text, "the text box names the stream")
        for line in memo_lines:
            check(line in memo_text, 'the text box reads "%s"' % line)
        check(os.path.exists(stream + ".MAP"), "the map was written beside the stream")
    finally:
        window.terminate()
        window.wait(timeout=10)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
