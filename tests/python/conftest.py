# The module and vessarine-cli answer from the same private tables: a cache
# made from the fixture listings, and no prefixes file, set before the
# module first loads them (once per process).
import json
import os
import subprocess
import tempfile

import pytest

CLI = os.environ["VESSARINE_CLI"]
DATA = os.environ["VESSARINE_TEST_DATA"]

_home = tempfile.mkdtemp(prefix="vessarine-python-")
os.environ["XDG_CACHE_HOME"] = os.path.join(_home, "cache")
os.environ["XDG_CONFIG_HOME"] = os.path.join(_home, "config")
subprocess.run([CLI, "update", "--quiet", "--force", "--from", DATA], check=True, timeout=120)


def cli(*args, stdin=b"", env=None):
    """vessarine-cli's stdout, stderr and status."""
    r = subprocess.run([CLI, *args], input=stdin, capture_output=True, timeout=120, env=env)
    return r.stdout, r.stderr, r.returncode


def cli_json(*args, stdin=b""):
    """The JSON Lines vessarine-cli prints, parsed."""
    return [json.loads(line) for line in cli(*args, stdin=stdin)[0].splitlines()]


@pytest.fixture
def home():
    return _home
