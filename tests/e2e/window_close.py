#!/usr/bin/python3
"""The real window under Xvfb, as an operator meets it: connected to battery-sim, "Connect" pressed
again through the accessibility tree for its "already connected" box, then the main window closed
the way a window manager closes it (WM_DELETE_WINDOW). The program must end every time, also with
both cores busy. Usage: window_close.py CLIENT SIM RUNS (under Xvfb and a D-Bus session)."""
import os
import subprocess
import sys
import tempfile
import time

from Xlib import X, display, protocol

client, sim, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])


def press_connect_again(pid):
    # pyatspi lists only the applications there when it starts: one process per client.
    script = r'''
import sys, time, pyatspi
pid = int(sys.argv[1])
def kids(n):
    try: return [n.getChildAtIndex(i) for i in range(n.childCount)]
    except Exception: return []
def find(n, role, name, depth=0):
    try:
        if n.getRoleName() == role and (name is None or n.name == name): return n
    except Exception: return None
    for c in kids(n) if depth < 12 else []:
        hit = find(c, role, name, depth + 1)
        if hit is not None: return hit
def app():
    d = pyatspi.Registry.getDesktop(0)
    for i in range(16):
        try:
            a = d.getChildAtIndex(i)
            if a is not None and a.get_process_id() == pid: return a
        except Exception: pass
def wait(pred, seconds):
    end = time.time() + seconds
    while time.time() < end:
        v = pred()
        if v: return v
        time.sleep(0.2)
a = wait(app, 30)
serial = a and wait(lambda: (lambda t: t if t and t.queryText().getText(0, -1) else None)(find(a, "text", "SNum")), 30)
if not serial: print("not connected"); sys.exit(1)
find(a, "push button", "connectcmd").queryAction().doAction(0)
print("box" if wait(lambda: find(a, "dialog", None) or find(a, "alert", None), 15) else "no box")
'''
    out = subprocess.run(['/usr/bin/python3', '-c', script, str(pid)], capture_output=True, text=True,
                         timeout=90)
    return out.stdout.strip()


def close_main_window(dpy, pid):
    pid_atom = dpy.intern_atom('_NET_WM_PID')
    protocols = dpy.intern_atom('WM_PROTOCOLS')
    delete = dpy.intern_atom('WM_DELETE_WINDOW')
    for w in dpy.screen().root.query_tree().children:
        owner = w.get_full_property(pid_atom, X.AnyPropertyType)
        if owner and owner.value[0] == pid and w.get_attributes().map_state == X.IsViewable \
                and w.get_wm_transient_for() is None and w.get_wm_name() == 'Modbus TCP Client':
            w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                                      data=(32, [delete, X.CurrentTime, 0, 0, 0])))
            dpy.flush()
            return True
    return False


simulator = subprocess.Popen([sim, '--port', '0'], stdout=subprocess.PIPE, text=True)
port = simulator.stdout.readline().split()[-1].split(':')[-1]
dpy = display.Display()
failed = 0
env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
for run in range(runs):
    with tempfile.TemporaryDirectory() as work:
        p = subprocess.Popen([client, '--port', port, '--connect', '--workdir', work, '127.0.0.1'], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        said = press_connect_again(p.pid)
        closed = said == 'box' and close_main_window(dpy, p.pid)
        try:
            code = p.wait(timeout=20)
            ok = closed and code == 0
        except subprocess.TimeoutExpired:
            code = 'still running 20 s after the close'
            p.kill()
            p.wait()
            ok = False
        print(f'run {run + 1}: {said}, close sent: {closed}, exit: {code}', flush=True)
        failed += 0 if ok else 1
simulator.kill()
sys.exit(1 if failed else 0)
