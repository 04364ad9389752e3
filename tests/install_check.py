#!/usr/bin/env python3
"""Installs the test build into a temporary prefix and checks what lands there.

  install_check.py tree BUILD VERSION APP_ID
      `cmake --install BUILD --prefix TMP`: the installed files are exactly the launcher,
      its desktop entry, metainfo and icons (and the stand-in tree when the build has
      BKF_INSTALL_DEMO=ON); the desktop entry and the metainfo pass their validators; they
      agree with each other, with the icons and with the project's version; and the
      installed launcher runs.
  install_check.py demo BUILD SOURCE
      `DESTDIR=TMP cmake --install BUILD --prefix /app --component demo`: the stand-in
      installer and game land in /app/share/brackenfold, where the launcher looks by
      default, and the installed installer answers the launcher's status query. Skipped
      (exit 77) while the source tree holds no stand-in installer.
  install_check.py readme SOURCE
      README.md shows every picture that scripts/shots makes and names every environment
      variable that the launcher reads or sets, so that the README keeps up with both.
"""
import glob
import re
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

FAILS = []


def check(ok, what):
    if not ok:
        FAILS.append(what)
        print("FAIL: " + what)
    return ok


def run(cmd, **kw):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       timeout=60, **kw)
    return p.returncode, p.stdout


def files_under(root):
    out = set()
    for d, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(d, n), root))
    return out


def desktop_entry(path):
    keys = {}
    with open(path, encoding="utf-8") as f:
        group = None
        for line in f:
            line = line.strip()
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                k, v = line.split("=", 1)
                keys[k] = v
    return keys


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def demo_option(build):
    """BKF_INSTALL_DEMO of the build, as its cache holds it."""
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("BKF_INSTALL_DEMO:"):
                return line.split("=", 1)[1].strip().upper() in ("ON", "1", "TRUE", "YES", "Y")
    return False


def languages(source):
    """The languages of po/LINGUAS."""
    with open(os.path.join(source, "po", "LINGUAS")) as f:
        return [l.strip() for l in f if l.strip() and not l.startswith("#")]


def tree(build, version, app, source):
    demo_on = demo_option(build)
    tmp = tempfile.mkdtemp(prefix="bkf-install-")
    try:
        prefix = os.path.join(tmp, "prefix")
        rc, out = run(["cmake", "--install", build, "--prefix", prefix])
        if not check(rc == 0, "cmake --install failed:\n" + out):
            return

        icons = {"share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, app): s
                 for s in (64, 128, 256)}
        want = {
            "bin/brackenfold-launcher",
            "share/applications/%s.desktop" % app,
            "share/metainfo/%s.metainfo.xml" % app,
            "share/icons/hicolor/scalable/apps/%s.svg" % app,
        } | set(icons)
        langs = languages(source)
        want |= {"share/locale/%s/LC_MESSAGES/brackenfold-launcher.mo" % l for l in langs}
        have = files_under(prefix)
        if demo_on:
            have = {f for f in have if not f.startswith("share/brackenfold/")}
        check(have == want, "installed files: missing %s, unexpected %s"
              % (sorted(want - have), sorted(have - want)))
        if not demo_on:
            check(not os.path.exists(os.path.join(prefix, "share/brackenfold")),
                  "the stand-ins were installed without BKF_INSTALL_DEMO")

        exe = os.path.join(prefix, "bin/brackenfold-launcher")
        check(os.access(exe, os.X_OK), "the launcher is not executable")
        desktop = os.path.join(prefix, "share/applications/%s.desktop" % app)
        metainfo = os.path.join(prefix, "share/metainfo/%s.metainfo.xml" % app)

        rc, out = run(["desktop-file-validate", desktop])
        check(rc == 0 and not out.strip(), "desktop-file-validate:\n" + out)
        rc, out = run(["appstreamcli", "validate", "--no-net", "--strict", metainfo])
        check(rc == 0, "appstreamcli validate:\n" + out)
        rc, out = run(["appstreamcli", "validate-tree", "--no-net", "--strict", prefix])
        check(rc == 0, "appstreamcli validate-tree:\n" + out)

        entry = desktop_entry(desktop)
        check(entry.get("Type") == "Application", "desktop entry type: %r" % entry.get("Type"))
        check(entry.get("Name") == "Brackenfold", "desktop entry name: %r" % entry.get("Name"))
        execv = entry.get("Exec", "").split()
        check(execv[:1] == ["brackenfold-launcher"], "desktop Exec: %r" % entry.get("Exec"))
        check(entry.get("Icon") == app, "desktop Icon: %r" % entry.get("Icon"))
        check(entry.get("Terminal") == "false", "the launcher must not ask for a terminal")

        root = ET.parse(metainfo).getroot()
        check(root.get("type") == "desktop-application", "component type")
        check(root.findtext("id") == app, "metainfo id: %r" % root.findtext("id"))
        check(root.findtext("launchable") == app + ".desktop",
              "launchable: %r" % root.findtext("launchable"))
        check(root.findtext("provides/binary") == "brackenfold-launcher", "provides binary")
        for tag in ("name", "summary", "description", "content_rating", "metadata_license"):
            check(root.find(tag) is not None, "metainfo lacks <%s>" % tag)
        releases = [r.get("version") for r in root.findall("releases/release")]
        check(releases[:1] == [version], "latest release %r, project %s" % (releases, version))

        for rel, size in icons.items():
            got = png_size(os.path.join(prefix, rel))
            check(got == (size, size), "%s is %r, not %dx%d" % (rel, got, size, size))
        svg = ET.parse(os.path.join(prefix, "share/icons/hicolor/scalable/apps/%s.svg" % app))
        check(svg.getroot().tag == "{http://www.w3.org/2000/svg}svg", "the icon is no SVG")

        # The installed program is whole: it renders a screen with no display.
        shot = os.path.join(tmp, "ready.bmp")
        env = dict(os.environ, BKF_LAUNCHER_SHOT=shot, BKF_HOME=os.path.join(tmp, "home"))
        env.pop("DISPLAY", None)
        env.pop("SDL_VIDEODRIVER", None)
        for k in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE", "BKF_LOCALEDIR"):
            env.pop(k, None)
        rc, out = run([exe], env=env)
        check(rc == 0 and os.path.getsize(shot) > 0, "the installed launcher fails:\n" + out)
        if not FAILS:
            with open(shot, "rb") as f:
                english = f.read()
        # It finds its catalogues beside its bin/, as installed: every language draws
        # another picture than English.
        for l in langs:
            env.update(LANG=l + ".UTF-8", LANGUAGE=l)
            rc, out = run([exe], env=env)
            with open(shot, "rb") as f:
                check(rc == 0 and f.read() != english,
                      "the installed launcher does not speak %s:\n%s" % (l, out))
        # The desktop entry and the metainfo carry every language.
        for l in langs:
            check("Comment[%s]" % l in entry, "the desktop entry has no Comment[%s]" % l)
            check(any(s.get("{http://www.w3.org/XML/1998/namespace}lang") == l
                      for s in root.findall("summary")), "the metainfo has no %s summary" % l)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def demo(build, source):
    if not os.path.isfile(os.path.join(source, "demo/share/src/bkf/tools/install/install.py")):
        print("skipped: the source tree has no demo/share/src/bkf/tools/install/install.py")
        sys.exit(77)
    tmp = tempfile.mkdtemp(prefix="bkf-install-demo-")
    try:
        dest = os.path.join(tmp, "dest")
        env = dict(os.environ, DESTDIR=dest)
        rc, out = run(["cmake", "--install", build, "--prefix", "/app", "--component", "demo"],
                      env=env)
        if not check(rc == 0, "cmake --install --component demo failed:\n" + out):
            return
        share = os.path.join(dest, "app/share/brackenfold")
        have = files_under(dest)
        check(all(f.startswith("app/share/brackenfold/") for f in have),
              "the demo component installs outside share/brackenfold: %s" % sorted(have))
        check(not any("__pycache__" in f or f.endswith(".pyc") for f in have),
              "compiled Python was installed")
        script = os.path.join(share, "src/bkf/tools/install/install.py")
        korvex = os.path.join(share, "src/korvex")
        check(os.path.isfile(script), "no installer at " + script)
        check(os.path.isdir(korvex), "no stand-in game sources at " + korvex)
        if FAILS:
            return
        # The launcher's own status query, against the installed copy.
        home = os.path.join(tmp, "home")
        rc, out = run([sys.executable, "-I", script, "--dest", home, "--korvex", korvex,
                       "--status"], stdin=subprocess.DEVNULL)
        check(rc == 0 and "{" in out, "the installed installer's status answer:\n" + out)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def readme(source):
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        text = f.read()
    with open(os.path.join(source, "scripts/shots"), encoding="utf-8") as f:
        screens = re.search(r"^screens=\((.*)\)$", f.read(), re.M).group(1).split()
    check(screens, "scripts/shots names no screens")
    shown = set(re.findall(r"!\[[^]]*\]\((docs/[^)]+\.png)\)", text))
    for name in screens:
        check("docs/%s.png" % name in shown, "README.md does not show docs/%s.png" % name)
    for pic in shown:
        check(os.path.isfile(os.path.join(source, pic)), "README.md shows a missing " + pic)
    names = set()
    for src in glob.glob(os.path.join(source, "src/*.cpp")):
        with open(src, encoding="utf-8") as f:
            names |= set(re.findall(r'\b(?:getenv|env_or|setenv)\("([A-Z_]+)"', f.read()))
    check(len(names) >= 8, "found only %s in src/" % sorted(names))
    for name in sorted(names):
        check("`%s`" % name in text, "README.md does not name `%s`" % name)


def main():
    if sys.argv[1] == "tree":
        tree(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5])
    elif sys.argv[1] == "demo":
        demo(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "readme":
        readme(sys.argv[2])
    else:
        sys.exit("usage: install_check.py tree|demo|readme ...")
    print("%d failed" % len(FAILS) if FAILS else "ok")
    sys.exit(1 if FAILS else 0)


if __name__ == "__main__":
    main()
