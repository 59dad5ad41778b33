"""Runs the example commands of README.md and sdk/README.md as a newcomer would, against
simulated meters, so that the documentation cannot drift from what the tools do.

    doc_examples_test.py REPO_ROOT TESSIVAR TESSIVAR_SIM LIBRARY

- Every line of a ```sh block that starts with `tessivar ` runs on two simulated meters,
  as `./scripts/run` provides them (ports 1-1 and 1-2); a line that starts with
  `tessivar-sim ` runs as written. Lines of other commands (cmake, cc, sudo, the scripts)
  are left to the install and script tests.
- Every ```python block runs as a script on the same two meters, with the binding taken
  from the build tree as the README says (PYTHONPATH=sdk/python, TESSIVAR_LIBRARY).
- Commands run in a scratch folder that holds a copy of the SDK's python folder, as the
  installed SDK folder does (`python/examples/log_csv.py`).
A command must exit with status 0 (an example that demonstrates a failure says so in its
comment and must fail with status 1) and must not print an error or a traceback.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO, CLI, SIM, LIBRARY = sys.argv[1:5]

# Examples that show a failure on purpose: a substring of the line -> its exit status.
EXPECTED_STATUS = {"--unplug-after": 1, "--power 50000 -- tessivar zero": 1}


def blocks(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return re.findall(r"^```(\w+)\n(.*?)^```", text, flags=re.S | re.M)


def commands(body):
    joined = re.sub(r"\\\n\s*", " ", body)  # continuation lines
    for line in joined.splitlines():
        line = re.sub(r"\s{2,}#.*$", "", line).strip()  # trailing comment
        if line.startswith("tessivar ") or line.startswith("tessivar-sim "):
            yield line


def main():
    failures = []
    ran = 0
    work = tempfile.mkdtemp(prefix="tessivar-doc-")
    try:
        bindir = os.path.join(work, "bin")
        os.mkdir(bindir)
        os.symlink(CLI, os.path.join(bindir, "tessivar"))
        os.symlink(SIM, os.path.join(bindir, "tessivar-sim"))
        shutil.copytree(os.path.join(REPO, "sdk", "python"), os.path.join(work, "python"))
        env = dict(os.environ)
        env["PATH"] = bindir + os.pathsep + env.get("PATH", "")
        env["PYTHONPATH"] = os.path.join(REPO, "sdk", "python")
        env["TESSIVAR_LIBRARY"] = LIBRARY
        env["PYTHONDONTWRITEBYTECODE"] = "1"
        if shutil.which("jq", path=env["PATH"]) is None:
            failures.append("jq is not installed (scripts/deps installs it); the guide pipes into it")

        def run(what, argv, expected=0):
            nonlocal ran
            ran += 1
            try:
                p = subprocess.run(argv, cwd=work, env=env, capture_output=True, text=True, timeout=120)
            except subprocess.TimeoutExpired:
                failures.append("%s: did not end within 120 s" % what)
                return
            bad = p.returncode != expected
            if expected == 0 and re.search(r"Traceback|^tessivar: (?!warning)|error", p.stderr, flags=re.M):
                bad = True
            print("%s %s -> %d" % ("FAIL" if bad else "ok  ", what, p.returncode))
            if bad:
                failures.append("%s: exit %d (expected %d)\n--- stdout\n%s--- stderr\n%s"
                                % (what, p.returncode, expected, p.stdout[-2000:], p.stderr[-2000:]))

        for doc in ("README.md", os.path.join("sdk", "README.md")):
            for lang, body in blocks(os.path.join(REPO, doc)):
                if lang == "sh":
                    for line in commands(body):
                        expected = next((s for key, s in EXPECTED_STATUS.items() if key in line), 0)
                        if line.startswith("tessivar-sim "):
                            argv = ["/bin/bash", "-c", line]
                        else:
                            argv = [SIM, "--meters", "2", "--", "/bin/bash", "-o", "pipefail", "-c", line]
                        run("%s: %s" % (doc, line), argv, expected)
                elif lang == "python":
                    script = os.path.join(work, "example_%d.py" % ran)
                    with open(script, "w", encoding="utf-8") as f:
                        f.write(body)
                    run("%s: python block %d" % (doc, ran), [SIM, "--meters", "2", "--", sys.executable, script])
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if ran < 15:
        failures.append("only %d examples found: has the extraction broken?" % ran)
    for f in failures:
        print("\n" + f)
    print("\n%d passed, %d failed" % (ran - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
