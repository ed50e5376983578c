"""What a screen reader gets of the window: names, roles, the tree's rows, the status."""
import sys
import time

import pyatspi
from gi.repository import GLib

docs = sys.argv[1]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        GLib.MainContext.default().iteration(False)
        found = what()
        if found:
            return found
        time.sleep(0.05)
    return None


def descendants(node, depth=0):
    for child in node:
        if child is None:
            continue
        yield child
        # Rows are children of the views: one level of them is enough.
        if depth < 12 and child.getRole() not in (pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE,
                                                  pyatspi.ROLE_TABLE, pyatspi.ROLE_LIST):
            yield from descendants(child, depth + 1)


def window():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "docindex":
            for frame in app:
                if frame is not None and frame.name == "Программа":
                    return frame
    return None


frame = wait_for(window) or fail("no window named «Программа» on the accessibility bus")
objects = wait_for(lambda: [o for o in descendants(frame) if o.name == "Папки"] and
                   list(descendants(frame))) or fail("no object named «Папки»")


def named(name, roles):
    for o in objects:
        if o.name == name and o.getRole() in roles:
            return o
    fail("no %s named «%s»: %s" % (roles, name, [(o.name, o.getRoleName()) for o in objects]))


tree = named("Папки", (pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE))
named("Содержимое папки", (pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE,
                           pyatspi.ROLE_LIST))
label = named(docs, (pyatspi.ROLE_LABEL,))
if label.description != "Выбранная папка":
    fail("the label's description is «%s»" % label.description)
bar = named("Строка состояния", (pyatspi.ROLE_STATUS_BAR,))
rows = [row.name for row in tree if row is not None]
if "docs" not in rows or "1" in rows:
    fail("the tree's rows and header: %s" % rows)

heard = []
pyatspi.Registry.registerEventListener(
    lambda event: heard.append(event.source.name),
    "object:property-change:accessible-name")
button = named("Создать индексный файл", (pyatspi.ROLE_PUSH_BUTTON,))
button.queryAction().doAction(0)
written = "Записан файл %sindex.htm: 1 документ; ссылок без файла: 2" % docs
wait_for(lambda: written in heard, 10) or fail("no name change heard for the status: %s" % heard)
if bar.name != written:
    fail("the status bar's name is «%s»" % bar.name)
offer = wait_for(lambda: [o for o in descendants(frame) if o.name == "&Открыть страницу" or
                          o.name == "Открыть страницу"], 10)
if not offer or not offer[0].getState().contains(pyatspi.STATE_SHOWING):
    fail("no «Открыть страницу» shown after the page")
print("accessibility end to end: all passed")
