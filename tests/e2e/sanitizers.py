"""Sanitizer reports of the programs an end-to-end test starts.

In the sanitizer build a report ends the program that made it, but a daemon
that dies in a background thread, or a tool whose exit status the test does
not look at, would still let the test pass. So the test fails whenever any
program it started reported, whatever its exit status was: AddressSanitizer
writes its reports into the test's folder (`log_path`); UndefinedBehavior-
Sanitizer as GCC builds it ignores `log_path` when it halts, so standard
error is searched as well (the daemon's goes to a file in that folder, the
tools' is searched as each run returns)."""
import glob
import os

MARKERS = ("runtime error:", "Sanitizer:", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer")


def with_sanitizer_logs(env, folder):
    """`env` with the sanitizers told to halt at the first report and write
    it under `folder` (the options of the calling environment are kept)."""
    os.makedirs(folder, exist_ok=True)
    prefix = os.path.join(folder, "report")
    env = dict(env)
    for name, extra in (("ASAN_OPTIONS", "halt_on_error=1:detect_leaks=1"),
                        ("UBSAN_OPTIONS", "halt_on_error=1:print_stacktrace=1")):
        options = [o for o in env.get(name, "").split(":") if o and not o.startswith("log_path=")]
        env[name] = ":".join(options + [extra, f"log_path={prefix}"])
    return env


def found_in(text):
    """The text when it holds a sanitizer report, else None."""
    if isinstance(text, bytes):
        text = text.decode(errors="replace")
    return text if any(m in text for m in MARKERS) else None


def reports(folder):
    """Every report file under `folder`, and every captured standard error
    there that holds a report, as text."""
    texts = []
    for path in sorted(glob.glob(os.path.join(folder, "*"))):
        with open(path, errors="replace") as f:
            text = f.read()
        name = os.path.basename(path)
        if name.startswith("report") or found_in(text):
            texts.append(f"{name}:\n{text}")
    return texts


def checked_env(test, env, folder):
    """`env` for the programs `test` starts; the test fails at its end when
    any of them wrote a sanitizer report. Call it after registering the
    cleanup that removes `folder`, so the check runs first."""
    env = with_sanitizer_logs(env, folder)

    def check():
        found = reports(folder)
        if found:
            test.fail("sanitizer reports:\n" + "\n".join(found))
    test.addCleanup(check)
    return env


def assert_clean(test, stderr):
    """Fails `test` when a tool's standard error holds a sanitizer report."""
    report = found_in(stderr or b"")
    if report:
        test.fail("sanitizer report:\n" + report)
