#!/usr/bin/python3
"""Whole user paths through the real program on a real X server.

Each test starts its own Xvfb, session bus and accessibility bus, the
simulated controller (kfu-sim) and korvane-util, then works the window the
way a technician does: X input events through XTest (xdotool) go wherever the
window system sends them, so keys reach the widget that really holds the
focus. Results are read back from what the simulator received, the files
the tool wrote, and the window's own texts through AT-SPI.

    realwin_test.py --util PATH --sim PATH TEST_NAME

Every wait is on a condition with a generous limit; the machine is shared.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

LIMIT = 60.0  # seconds for any one condition; only a broken run waits this long
POLL = 0.1

ARGS = None
pyatspi = None  # imported once the session bus of the test exists


def wait_for(condition, what, limit=LIMIT):
    deadline = time.monotonic() + limit
    while True:
        try:
            value = condition()
        except Exception:  # the tree changes under us while windows come and go
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(POLL)


class Desktop:
    """An X server, a session bus and the accessibility bus behind it."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.procs = []
        runtime = os.path.join(workdir, "runtime")
        os.mkdir(runtime, 0o700)
        self.env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KFU_EXTRA_PORTS", "SESSION_MANAGER"):
            self.env.pop(name, None)
        self.env.update(XDG_RUNTIME_DIR=runtime, HOME=workdir, QT_QPA_PLATFORM="xcb",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LC_ALL="C.UTF-8")
        try:
            self.start_session()
        except BaseException:
            self.close()
            raise

    def start_session(self):
        read_fd, write_fd = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

        # The accessibility bus and its registry are started by the session
        # bus on demand; in its own process group they all end with it.
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError("dbus-daemon did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def start(self, argv, env=None, **kwargs):
        proc = subprocess.Popen(argv, env=env or self.env, start_new_session=True,
                                stdin=subprocess.DEVNULL, **kwargs)
        self.procs.append(proc)
        return proc

    def stop(self, proc, limit=20):
        """Ends one process and what it started (its process group) with SIGTERM."""
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        return proc.returncode

    def close(self):
        for proc in reversed(self.procs):
            self.stop(proc)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True,
                       timeout=LIMIT)


def walk(node):
    yield node
    # The lists of the combo boxes hold hundreds of items nobody looks at.
    if node.getRoleName() == "list":
        return
    for child in node:
        if child is not None:
            yield from walk(child)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def focused(node):
    return any(n.getState().contains(pyatspi.STATE_FOCUSED) for n in walk(node))


def text_of(node):
    return node.queryText().getText(0, -1)


class RealWindowTest(unittest.TestCase):
    """One tool on one simulated controller per test."""

    SIM_ARGS = []
    LIST_SIM_PORT = True  # offer the simulator's port in the port dialog

    def setUp(self):
        global pyatspi
        self.dir = tempfile.mkdtemp(prefix="kfu-realwin-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.desktop = Desktop(self.dir)
        self.addCleanup(self.desktop.close)
        os.environ.update({k: self.desktop.env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                                            "XDG_RUNTIME_DIR")})
        if pyatspi is None:
            warnings.simplefilter("ignore")  # the bindings' own deprecation notes
            import pyatspi as module
            pyatspi = module

        self.received_file = os.path.join(self.dir, "received.bin")
        self.flash_file = os.path.join(self.dir, "flash.bin")
        self.sim = self.desktop.start([ARGS.sim, "--received", self.received_file,
                                       "--flash-out", self.flash_file] + self.SIM_ARGS,
                                      stdout=subprocess.PIPE)
        self.port = self.sim.stdout.readline().decode().strip()
        self.assertTrue(self.port.startswith("/dev/"), "kfu-sim printed no port")

        env = dict(self.desktop.env)
        if self.LIST_SIM_PORT:
            env["KFU_EXTRA_PORTS"] = self.port
        with open(os.path.join(self.dir, "tool.log"), "wb") as log:
            self.tool = self.desktop.start([ARGS.util], env=env, cwd=self.dir, stdout=log,
                                           stderr=subprocess.STDOUT)
        self.port_dialog = wait_for(lambda: self.window("dialog", "CommDialog"),
                                    "the start-up port dialog")

    # --- finding things ---

    def app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == "Firmware Util":
                return app
        return None

    def window(self, role, name=None):
        """A showing top-level window of the tool."""
        app = self.app()
        for top in app or []:
            if top is not None and top.getRoleName() == role and (
                    name is None or top.name == name) and showing(top):
                return top
        return None

    def find(self, root, role, name=None, where=None):
        for node in walk(root):
            if node.getRoleName() == role and (name is None or node.name == name) and (
                    where is None or where(node)):
                return node
        return None

    def main(self):
        return self.window("frame", "Korvane Firmware Utility 1.36")

    def control(self, role, name, root=None):
        """A showing control, once it is there."""
        return wait_for(lambda: self.find(root or self.main(), role, name, showing),
                        "%s %r" % (role, name))

    def labelled(self, root, label):
        """The control a label names, as assistive technology finds it."""
        node = self.find(root, "label", label)
        for relation in node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR:
                return relation.getTarget(0)
        raise AssertionError("nothing labelled " + label)

    def message_text(self):
        return text_of(self.find(self.main(), "text", "Message"))

    def received(self):
        with open(self.received_file, "rb") as f:
            return f.read()

    # --- acting as the user ---

    def click(self, node):
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.assertGreater(box.width, 0, "%s %r is not on the screen" % (node.getRoleName(), node.name))
        self.desktop.xdotool("mousemove", box.x + box.width // 2, box.y + box.height // 2,
                             "click", "1")

    def click_into(self, node):
        """Clicks a text field and waits until the keyboard focus is there."""
        self.click(node)
        wait_for(lambda: focused(node), "the focus in %s %r" % (node.getRoleName(), node.name))

    def type(self, text):
        self.desktop.xdotool("type", "--delay", "15", "--", text)

    def key(self, *names):
        self.desktop.xdotool("key", *names)

    def type_into(self, node, text, field=None):
        """Replaces the text of a focused field by typing, and waits until it shows."""
        field = field or node
        self.key("ctrl+a")
        self.type(text)
        wait_for(lambda: text_of(field) == text, "%r typed into %s" % (text, node.getRoleName()))

    def combo_field(self, combo):
        return self.find(combo, "text")

    def confirm_port_dialog(self):
        self.click(self.control("push button", "OK", self.port_dialog))
        wait_for(lambda: not showing(self.port_dialog), "the port dialog to close")

    def file_dialog_answer(self, path):
        """Types a full path into the toolkit's file dialog, as a user does."""
        dialog = wait_for(lambda: self.window("dialog"), "a file dialog")
        self.assertNotEqual(dialog.name, "CommDialog")
        field = wait_for(lambda: self.find(dialog, "text", where=lambda n: focused(n)),
                         "the file name field")
        self.type_into(field, path)
        self.key("Return")
        wait_for(lambda: not showing(dialog), "the file dialog to close")

    def send_with_enter(self, command):
        """Types a command into the command box and presses Enter."""
        button = self.control("push button", "Send Command")
        combo = self.find(button.parent, "combo box")
        field = self.combo_field(combo)
        self.click_into(field)
        self.type_into(combo, command, field)
        self.key("Return")


class StartUp(RealWindowTest):
    LIST_SIM_PORT = False

    def test_typed_port_then_enter_sends_and_the_port_dialog_keeps_it(self):
        port_box = self.labelled(self.port_dialog, "Port:")
        field = self.combo_field(port_box)
        self.click_into(field)
        self.type_into(port_box, self.port, field)
        self.confirm_port_dialog()

        self.send_with_enter("VER")
        wait_for(lambda: self.received() == b"#1VER\r", "the command to reach the controller")
        wait_for(lambda: self.message_text() == "VER", "the reply in the message area")

        # Later the dialog from the menu shows the port in use, so OK keeps it.
        self.click(self.control("menu item", "Configuration", self.main()))
        self.click(self.control("menu item", "Select Com Port", self.app()))
        wait_for(lambda: showing(self.port_dialog), "the port dialog from the menu")
        port_box = self.labelled(self.port_dialog, "Port:")
        self.assertEqual(text_of(self.combo_field(port_box)), self.port)
        self.confirm_port_dialog()
        self.send_with_enter("VER")
        wait_for(lambda: self.received() == b"#1VER\r#1VER\r", "the second command")
        wait_for(lambda: self.message_text() == "VER\nVER", "the second reply, and no error")


class Documents(RealWindowTest):
    SIM_ARGS = ["--bootloader"]

    def test_hex_file_opened_in_the_file_dialog_is_written_to_the_bootloader(self):
        hex_path = os.path.join(self.dir, "motor.hex")
        with open(hex_path, "w") as f:
            f.write(":06000000010203000405EB\n:00000001FF\n")
        self.confirm_port_dialog()

        self.click(self.control("menu item", "File", self.main()))
        self.click(self.control("menu item", "Open", self.app()))
        self.file_dialog_answer(hex_path)
        view = self.find(self.main(), "text", "Firmware_View")
        wait_for(lambda: text_of(view).startswith(":06000000010203000405EB"), "the HEX lines shown")

        self.click(self.control("push button", "write Firmware"))
        wait_for(lambda: "Firmware successfully written" in self.message_text(),
                 "the write to end")
        self.assertNotIn("Error", self.message_text())
        self.assertEqual(self.desktop.stop(self.sim), 0)
        with open(self.flash_file, "rb") as f:
            flash = f.read()
        self.assertEqual(len(flash), 262144)
        self.assertEqual(flash[:6], bytes([1, 2, 3, 0, 4, 5]))


class Script(RealWindowTest):
    def test_script_typed_into_the_view_runs_and_writes_the_log_chosen(self):
        self.confirm_port_dialog()
        self.click(self.control("page tab", "Configuration"))
        view = self.control("text", "Config_View")
        self.click_into(view)
        self.type("VER")
        self.key("Return")
        self.type("#output done")
        wait_for(lambda: text_of(view) == "VER\n#output done", "the script typed")

        save_log = self.control("check box", "Save Log")
        self.click(save_log)
        wait_for(lambda: save_log.getState().contains(pyatspi.STATE_CHECKED), "Save Log checked")
        self.click(self.control("push button", "write Configuration"))
        log_base = os.path.join(self.dir, "run1")
        self.file_dialog_answer(log_base)

        wait_for(lambda: self.message_text().endswith("->  done"), "the script run")
        self.assertEqual(self.received(), b"#1VER\r")
        self.assertEqual(self.message_text(), "-> VER\n<- VER\n->  done")
        with open(log_base + ".log", "rb") as f:
            self.assertEqual(f.read(), b"-> VER\r\n<- VER\r\n<-  done\r\n")


class Maintenance(RealWindowTest):
    SIM_ARGS = ["--id", "2"]  # nobody answers motor 1: a dump would take half an hour

    def test_exit_during_a_dump_ends_the_program_and_writes_no_file(self):
        # A short read time-out keeps the window quick to answer the
        # accessibility queries between the unanswered reads.
        timeout_box = self.labelled(self.port_dialog, "Timeout [ms]:")
        field = self.combo_field(timeout_box)
        self.click_into(field)
        self.type_into(timeout_box, "10", field)
        self.confirm_port_dialog()
        self.click(self.control("page tab", "Maintenance"))
        self.click(self.control("push button", "EEProm Dump"))
        dump_path = os.path.join(self.dir, "eeprom.eed")
        self.file_dialog_answer(dump_path)
        wait_for(lambda: self.received().count(b"(E") >= 3, "the dump to be under way")

        self.click(self.control("menu item", "File", self.main()))
        self.click(self.control("menu item", "Exit", self.app()))
        # The program must end, not go on dumping from a window nobody sees
        # while it holds the port and the single-instance lock.
        wait_for(lambda: self.tool.poll() is not None, "the program to end", limit=20)
        self.assertEqual(self.tool.returncode, 0)
        self.assertFalse(os.path.exists(dump_path))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--util", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("test", nargs="?", help="Class.test_name; all of them when left out")
    ARGS = parser.parse_args()
    if ARGS.test:
        program = unittest.main(argv=[sys.argv[0], ARGS.test], exit=False, verbosity=2)
        sys.exit(0 if program.result.wasSuccessful() else 1)

    # The accessibility library keeps its first bus for the life of the
    # process, so every test runs in a process of its own.
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    names = [t.id().split(".", 1)[1] for group in suite for t in group]
    failed = [n for n in names if subprocess.run([sys.executable, __file__, "--util", ARGS.util,
                                                  "--sim", ARGS.sim, n]).returncode != 0]
    print("%d passed, %d failed" % (len(names) - len(failed), len(failed)))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
