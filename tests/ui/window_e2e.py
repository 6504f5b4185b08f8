#!/usr/bin/python3
"""Drives the real tarvel window the way a user would, through its
accessibility tree: under a virtual display with an accessibility bus it
starts a copy of the build's portable layout: first without dic.csv and
without the MeCab dictionary (one message each, then the program ends), then
with a settings file it cannot read (the window opens, the log says why),
then on a small generated library, where it picks the "Kenwood Z919" preset
and runs a check-only pass: "変更一覧" opens, and the misread 紅蓮華 is
corrected to グレンゲ from it (the row lands in dic.csv and the table shows
ｸﾞﾚﾝｹﾞ). Then it unticks the file names' check-only box, presses "変換開始",
checks the files on disk, and restores the run from "履歴".

Usage: window_e2e.py BUILD_DIR
Exit 0 on success, 1 on failure, 77 (skip) when no display or bus can be
started.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
TIMEOUT = 30.0
AT_SPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
PYTHON = "/usr/bin/python3"  # the system's, which has pyatspi


def skip(reason):
    print("SKIP: " + reason, flush=True)
    # xvfb-run does not always pass the status on: the inner run says it in
    # its mark too.
    mark = os.environ.get("TARVEL_E2E_MARK")
    if mark:
        with open(mark, "w") as f:
            f.write("skip: " + reason)
    sys.exit(SKIP)


def fail(reason):
    print("FAIL: " + reason, flush=True)
    mark = os.environ.get("TARVEL_E2E_MARK")
    if mark and os.path.exists(mark):
        with open(mark, "w") as f:
            f.write("fail: " + reason)
    sys.exit(1)


def outer(build_dir):
    for tool in ("xvfb-run", "dbus-run-session"):
        if shutil.which(tool) is None:
            skip(tool + " is not installed")
    if not os.access(AT_SPI_LAUNCHER, os.X_OK):
        skip(AT_SPI_LAUNCHER + " is not installed")
    check = subprocess.run([PYTHON, "-c", "import pyatspi"], capture_output=True)
    if check.returncode != 0:
        skip("python3-pyatspi is not installed")
    # The inner run leaves a mark as soon as it runs: without it, the display
    # or the session bus could not be started.
    marker = tempfile.NamedTemporaryFile(prefix="tarvel-e2e-started-", delete=False).name
    os.unlink(marker)
    cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "dbus-run-session", "--",
           PYTHON, os.path.abspath(__file__), "--inner", build_dir]
    try:
        result = subprocess.run(cmd, timeout=180, env=dict(os.environ, TARVEL_E2E_MARK=marker))
    except subprocess.TimeoutExpired:
        fail("the test did not end within 180 s")
    finally:
        said = None
        if os.path.exists(marker):
            with open(marker) as f:
                said = f.read()
            os.unlink(marker)
    if said is None:
        skip("Xvfb or the session bus could not be started (status %d)" % result.returncode)
    if said.startswith("skip"):
        sys.exit(SKIP)
    if said.startswith("fail"):
        sys.exit(1)
    sys.exit(result.returncode if said == "pass" else 1)


def wait_for(what, probe, timeout=TIMEOUT):
    """Polls probe() until it returns something true; fails after timeout."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = probe()
        except Exception:  # the tree changes under us while windows open
            value = None
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def write_mp3(path, title=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = b"\0" * 256
    if title is not None:
        def field(text, size):
            raw = text.encode("cp932")[:size]
            return raw + b"\0" * (size - len(raw))
        data += b"TAG" + field(title, 30) + field("", 30) + field("", 30) + b"2001" + \
            field("", 30) + bytes([255])
    with open(path, "wb") as f:
        f.write(data)


def read_title(path):
    with open(path, "rb") as f:
        f.seek(-128, os.SEEK_END)
        block = f.read(128)
    assert block[:3] == b"TAG"
    return block[3:33].rstrip(b"\0 ").decode("cp932")


def display_reachable():
    """True when the X server named by DISPLAY takes connections."""
    import socket
    display = os.environ.get("DISPLAY", "")
    if not display.startswith(":"):
        return False
    number = display[1:].split(".")[0]
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        sock.connect("/tmp/.X11-unix/X" + number)
        return True
    except OSError:
        return False
    finally:
        sock.close()


def inner(build_dir):
    open(os.environ["TARVEL_E2E_MARK"], "w").close()
    if not display_reachable():
        skip("the virtual display did not start")
    launcher = subprocess.Popen([AT_SPI_LAUNCHER, "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        import pyatspi
    except ImportError:
        skip("pyatspi cannot be imported")
    try:
        desktop = wait_for("the accessibility bus", lambda: pyatspi.Registry.getDesktop(0), 10)
    except SystemExit:
        skip("no accessibility bus could be started")

    work = tempfile.mkdtemp(prefix="tarvel-e2e-")
    app_dir = os.path.join(work, "app")
    lib = os.path.join(work, "lib")
    runtime = os.path.join(work, "runtime")
    os.makedirs(app_dir)
    os.makedirs(runtime, mode=0o700)
    for name in ("tarvel", "dic.csv", "Rome.csv"):
        shutil.copy2(os.path.join(build_dir, name), app_dir)
    write_mp3(os.path.join(lib, "テスト.mp3"), title="テスト")
    write_mp3(os.path.join(lib, "フォルダ", "うた.mp3"))
    write_mp3(os.path.join(lib, "紅蓮華.mp3"))
    with open(os.path.join(app_dir, "tarvel.ini"), "w", encoding="utf-8") as f:
        f.write("[Option]\r\nPathDataFolder=%s\r\nPlayer=0\r\nFlagPathSaveCSV=1\r\n" % lib)

    env = dict(os.environ)
    # The clicks go to the positions the accessibility tree reports, which
    # are unscaled.
    for scaling in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR"):
        env.pop(scaling, None)
    env.update({
        "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        "QT_ACCESSIBILITY": "1",
        "QT_QPA_PLATFORM": "xcb",
        "XDG_RUNTIME_DIR": runtime,
        "XDG_CONFIG_HOME": os.path.join(work, "config"),
        "XDG_DATA_HOME": os.path.join(work, "data"),
    })
    try:
        # Start-up failures: one message, then no window and no process.
        broken = os.path.join(work, "broken")
        os.makedirs(broken)
        shutil.copy2(os.path.join(app_dir, "tarvel"), broken)
        # A settings file that cannot be read (here a folder in its place).
        unreadable = os.path.join(work, "unreadable")
        os.makedirs(os.path.join(unreadable, "tarvel.ini"))
        for name in ("tarvel", "dic.csv"):
            shutil.copy2(os.path.join(app_dir, name), unreadable)
        cases = [
            ("no dic.csv", broken, {}, "全角→半角 変換辞書が見つかりません", 1),
            ("no MeCab dictionary", app_dir,
             {"TARVEL_MECAB_DICDIR": os.path.join(work, "no-such-dictionary")}, "読みの辞書", 2),
            ("unreadable settings", unreadable, {}, "設定ファイルを読み込めません", 1),
        ]
        for name, folder, extra, text, status in cases:
            with_tarvel(folder, dict(env, **extra),
                        lambda proc: startup_failure(pyatspi, desktop, proc, name, text, status))
        with_tarvel(app_dir, env, lambda proc: drive(pyatspi, desktop, proc, lib, app_dir))
    finally:
        launcher.kill()
        shutil.rmtree(work, ignore_errors=True)
    with open(os.environ["TARVEL_E2E_MARK"], "w") as f:
        f.write("pass")
    print("PASS", flush=True)


def with_tarvel(folder, env, body):
    """Starts the tarvel in folder, runs body(process), and never leaves it
    running."""
    proc = subprocess.Popen([os.path.join(folder, "tarvel")], env=env)
    try:
        body(proc)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def tarvel_app(desktop, proc):
    if proc.poll() is not None:
        fail("tarvel ended with status %d" % proc.returncode)
    for i in range(desktop.childCount):
        child = desktop.getChildAtIndex(i)
        if child is not None and child.name == "tarvel":
            return child
    return None


def top_level(app, name):
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is not None and child.name.startswith(name):
            return child
    return None


def startup_failure(pyatspi, desktop, proc, case, text, status):
    tarvel = wait_for(case + ": tarvel on the bus", lambda: tarvel_app(desktop, proc))
    box = wait_for(case + ": the message box", lambda: top_level(tarvel, "QX"))
    if top_level(tarvel, "Tarvel ver") is not None:
        fail(case + ": the main window opened")
    wait_for(case + ": the text " + text, lambda: pyatspi.findDescendant(
        box, lambda n: n is not None and n.name.startswith(text)))
    act(wait_for(case + ": OK", lambda: find(pyatspi, box, "OK", pyatspi.ROLE_PUSH_BUTTON)),
        "Press")
    wait_for(case + ": tarvel to end", lambda: proc.poll() is not None)
    if proc.returncode != status:
        fail("%s: tarvel ended with status %d, not %d" % (case, proc.returncode, status))


def find(pyatspi, root, name, role=None, showing=False):
    """The first node under root with this accessible name (and role)."""
    def match(node):
        if node is None or node.name != name:
            return False
        if role is not None and node.getRole() != role:
            return False
        if showing and not node.getState().contains(pyatspi.STATE_SHOWING):
            return False
        return True
    return pyatspi.findDescendant(root, match)


def act(node, *names):
    """Runs the first of the named actions the node offers."""
    action = node.queryAction()
    offered = [action.getName(i) for i in range(action.nActions)]
    for wanted in names:
        for i, name in enumerate(offered):
            if name.lower() == wanted.lower():
                action.doAction(i)
                return
    fail("%s offers %s, not %s" % (node.name, offered, names))


def click(pyatspi, node):
    """A mouse click in the middle of the node, as the user makes it."""
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")


def drive(pyatspi, desktop, proc, lib, app_dir):
    tarvel = wait_for("tarvel on the accessibility bus", lambda: tarvel_app(desktop, proc))
    frame = wait_for("the main window", lambda: top_level(tarvel, "Tarvel ver"))

    # The preset: a real click (its message box is modal), then OK.
    preset = wait_for("the preset button", lambda: find(
        pyatspi, frame, "Kenwood Z919", pyatspi.ROLE_RADIO_BUTTON, showing=True))
    click(pyatspi, preset)
    box = wait_for("the preset's message", lambda: top_level(tarvel, "この設定について"))
    ok = wait_for("its OK button", lambda: find(pyatspi, box, "OK", pyatspi.ROLE_PUSH_BUTTON))
    act(ok, "Press")
    wait_for("the message to close", lambda: all(
        tarvel.getChildAtIndex(i).name != "この設定について" for i in range(tarvel.childCount)))

    # A check-only run opens the change table; a misread name is corrected
    # from it.
    act(wait_for("変換開始", lambda: find(pyatspi, frame, "変換開始", pyatspi.ROLE_PUSH_BUTTON)),
        "Press")
    changes = wait_for("the change table", lambda: top_level(tarvel, "変更一覧"))
    table = wait_for("its table", lambda: find(pyatspi, changes, "変更一覧", pyatspi.ROLE_TABLE))
    search = wait_for("the search box", lambda: find(pyatspi, changes, "検索", pyatspi.ROLE_TEXT))
    search.queryEditableText().setTextContents("紅蓮華")
    wait_for("one row left", lambda: table.queryTable().nRows == 1)
    table.queryTable().addRowSelection(0)
    fix = wait_for("読みを修正", lambda: find(pyatspi, changes, "読みを修正",
                                              pyatspi.ROLE_PUSH_BUTTON))
    wait_for("読みを修正 enabled", lambda: fix.getState().contains(pyatspi.STATE_ENABLED))
    click(pyatspi, fix)  # the dialog is modal: a real click
    dialog = wait_for("the reading dialog", lambda: top_level(tarvel, "読みの修正"))
    original = wait_for("元の文字", lambda: find(pyatspi, dialog, "元の文字", pyatspi.ROLE_TEXT))
    if original.queryText().getText(0, -1) != "紅蓮華":
        fail("元の文字 holds " + original.queryText().getText(0, -1))
    reading = wait_for("読み", lambda: find(pyatspi, dialog, "読み", pyatspi.ROLE_TEXT))
    reading.queryEditableText().setTextContents("グレンゲ")
    act(wait_for("OK", lambda: find(pyatspi, dialog, "OK", pyatspi.ROLE_PUSH_BUTTON)), "Press")
    wait_for("the new name in the table",
             lambda: find(pyatspi, table, "ｸﾞﾚﾝｹﾞ.mp3") is not None)
    with open(os.path.join(app_dir, "dic.csv"), encoding="utf-8") as f:
        if '"紅蓮華","グレンゲ"' not in f.read():
            fail("the reading was not added to dic.csv")
    act(wait_for("閉じる", lambda: find(pyatspi, changes, "閉じる", pyatspi.ROLE_PUSH_BUTTON)),
        "Press")

    # The file-name tab: untick "check only" so that the run renames.
    tab = wait_for("the file-name tab", lambda: find(pyatspi, frame, "ファイル名",
                                                      pyatspi.ROLE_PAGE_TAB))
    click(pyatspi, tab)
    check_only = wait_for("the check-only box", lambda: find(
        pyatspi, frame, "チェックのみで、変換は行わない", pyatspi.ROLE_CHECK_BOX, showing=True))
    if check_only.getState().contains(pyatspi.STATE_CHECKED):
        act(check_only, "Toggle", "Press")
    wait_for("the box to be unticked",
             lambda: not check_only.getState().contains(pyatspi.STATE_CHECKED))

    start = wait_for("変換開始", lambda: find(pyatspi, frame, "変換開始", pyatspi.ROLE_PUSH_BUTTON))
    act(start, "Press")

    new_file = os.path.join(lib, "ﾃｽﾄ.mp3")
    wait_for("the renamed file", lambda: os.path.exists(new_file)
             and os.path.exists(os.path.join(lib, "ﾌｫﾙﾀﾞ", "ｳﾀ.mp3")))
    if os.path.exists(os.path.join(lib, "テスト.mp3")) or os.path.exists(os.path.join(lib, "フォルダ")):
        fail("the old names are still there")
    if not os.path.exists(os.path.join(lib, "list.csv")):
        fail("list.csv was not written into the data folder")
    # The Z919 preset turns tag conversion off: the tag stays as it was.
    if read_title(new_file) != "テスト":
        fail("the tag changed: " + read_title(new_file))

    if not os.path.exists(os.path.join(lib, "ｸﾞﾚﾝｹﾞ.mp3")):
        fail("the corrected reading was not used by the run")

    # The history: the newest run restored after its question.
    act(wait_for("履歴", lambda: find(pyatspi, frame, "履歴", pyatspi.ROLE_PUSH_BUTTON)), "Press")
    history = wait_for("the history window", lambda: top_level(tarvel, "変換履歴"))
    runs = wait_for("its table", lambda: find(pyatspi, history, "変換履歴", pyatspi.ROLE_TABLE))
    wait_for("a run in it", lambda: runs.queryTable().nRows >= 1)
    runs.queryTable().addRowSelection(0)
    restore = wait_for("復元", lambda: find(pyatspi, history, "復元", pyatspi.ROLE_PUSH_BUTTON))
    wait_for("復元 enabled", lambda: restore.getState().contains(pyatspi.STATE_ENABLED))
    click(pyatspi, restore)  # the question is modal: a real click
    question = wait_for("the question", lambda: top_level(tarvel, "QX"))
    yes = wait_for("its yes button", lambda: pyatspi.findDescendant(
        question, lambda n: n is not None and n.getRole() == pyatspi.ROLE_PUSH_BUTTON
        and (n.name.startswith("はい") or n.name.replace("&", "") == "Yes")))
    act(yes, "Press")
    wait_for("the library restored", lambda: os.path.exists(os.path.join(lib, "テスト.mp3"))
             and os.path.exists(os.path.join(lib, "紅蓮華.mp3"))
             and os.path.exists(os.path.join(lib, "フォルダ", "うた.mp3")))
    act(wait_for("閉じる", lambda: find(pyatspi, history, "閉じる", pyatspi.ROLE_PUSH_BUTTON)),
        "Press")

    act(wait_for("終了", lambda: find(pyatspi, frame, "終了", pyatspi.ROLE_PUSH_BUTTON)), "Press")
    wait_for("tarvel to end", lambda: proc.poll() is not None)
    with open(os.path.join(app_dir, "tarvel.ini"), encoding="utf-8", errors="replace") as f:
        if "FormTop" not in f.read():
            fail("the window position was not written on close")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--inner":
        inner(sys.argv[2])
    elif len(sys.argv) == 2:
        outer(os.path.abspath(sys.argv[1]))
    else:
        print(__doc__)
        sys.exit(2)
