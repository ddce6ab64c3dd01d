# The module answers as vessarine-cli does, key for key.
import os
import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest
import vessarine
from conftest import CLI, cli, cli_json

# One row per notation family, class, and kind of bad input.
INPUTS = [
    "00:0c:29:aa:bb:cc",
    "0:c:29:aa:bb:cc",
    "00-0C-29-AA-BB-CC",
    "000c.29aa.bbcc",
    "000c-29aa-bbcc",
    "000c29-aabbcc",
    "000C29AABBCC",
    "00:0c:29",
    "  00:50:56:01:02:03 ",
    "fe80::20c:29ff:feaa:bbcc%eth0",
    "70:b3:d5:f2:f1:23",
    "ff:ff:ff:ff:ff:ff",
    "01:00:5e:00:00:fb",
    "33:33:00:00:00:01",
    "02:00:00:00:00:01",
    "00:01:c8:01:02:03",
    "0a:e6:a6:00:00:01",
    "00:12:4b:00:1c:d4:e0:a1",   # EUI-64
    "naa.5000c500a1b2c3d4",      # World Wide Name
    "not a mac",
    "00:0c:29:aa:bb:cc 00:0c:29:aa:bb:cc 00:0c",  # longer than every notation
    "00:0c:29:aa:bb",
    "00:0c:29\x00aa:bb:cc",      # NUL
    "00:0c:29:aa:bb:\udcff",     # invalid UTF-8 (surrogateescape of b"\xff")
    "00:0c:29:aa:bb:\ud800",     # a lone surrogate, no bytes at all
    "Ölmühle",
    "x" * 5000,                  # longer than any identifier
]


def stdin_of(texts):
    return b"".join(t.encode("utf-8", "surrogatepass" if "\ud800" in t else "surrogateescape") + b"\n"
                    for t in texts)


def test_lookup_equals_the_command_line():
    expected = cli_json("lookup", "--json", "-", stdin=stdin_of(INPUTS))
    assert len(expected) == len(INPUTS)
    assert vessarine.lookup_many(INPUTS) == expected
    assert [vessarine.lookup(t) for t in INPUTS] == expected
    # A generator, and inputs repeated past the per-entry cache's reuse
    # (and, on the command line, past its per-class one).
    assert vessarine.lookup_many(t for t in INPUTS * 3) == expected * 3
    assert cli_json("lookup", "--json", "-", stdin=stdin_of(INPUTS * 3)) == expected * 3


def test_dicts_are_independent():
    a, b = vessarine.lookup_many(["00:0c:29:aa:bb:cc", "00:0c:29:00:00:01"])
    a["address"].append("changed")
    assert "changed" not in b["address"]
    assert "changed" not in vessarine.lookup("00:0c:29:aa:bb:cc")["address"]


@pytest.mark.parametrize("call, message", [
    (lambda: vessarine.lookup_many(["00:0c:29", "x", 5]), "item 2 is int"),
    (lambda: vessarine.lookup_many(["00:0c:29", b"00:0c:29"]), "item 1 is bytes"),
    (lambda: vessarine.lookup(None), "text must be str"),
    (lambda: vessarine.find(b"x"), "text must be str"),
])
def test_non_strings_are_refused(call, message):
    with pytest.raises(TypeError, match=message):
        call()


TEXT = ("? (192.168.1.1) at 00:0c:29:aa:bb:cc [ether] on eth0\n"
        "fe80::20c:29ff:fe12:3456 dev eth0 lladdr 00:50:56:c0:00:08 REACHABLE\n"
        "no address here; 70b3.d5f2.f123 \udcff 01-00-5e-00-00-fb\n")


def test_annotate_find_search_export_equal_the_command_line():
    data = TEXT.encode("utf-8", "surrogateescape")
    assert vessarine.annotate(TEXT).encode("utf-8", "surrogateescape") == cli("annotate", stdin=data)[0]
    assert vessarine.find(TEXT) == cli_json("annotate", "--json", stdin=data)
    assert vessarine.search("vmware") == cli_json("search", "--json", "vmware")
    assert vessarine.export() == cli_json("export", "--json")
    with pytest.raises(ValueError):
        vessarine.search("")


def test_prefixes_file(tmp_path):
    good = tmp_path / "good"
    good.write_text("00:0c:29:aa/32 Lab hypervisors\n")
    bad = tmp_path / "bad"
    bad.write_text("00:0c:29:aa/32 Lab\nnot an entry\n")
    args = ["lookup", "--json", "--prefixes", str(good), "00:0c:29:aa:bb:cc"]
    assert vessarine.lookup("00:0c:29:aa:bb:cc", prefixes=str(good)) == cli_json(*args)[0]
    assert vessarine.lookup("00:0c:29:aa:bb:cc")["registry"] == "MA-L"
    assert vessarine.tables(prefixes=good)[-1] == {"registry": "user", "entries": 1, "source": "file",
                                                   "path": str(good)}
    _, err, status = cli("lookup", "--prefixes", str(bad), "00:0c:29")
    assert status == 2
    with pytest.raises(ValueError) as raised:
        vessarine.lookup("00:0c:29", prefixes=str(bad))
    assert err.decode() == "vessarine-cli lookup: " + str(raised.value) + "\n"


def test_threads_share_the_tables():
    inputs = INPUTS * 200
    expected = vessarine.lookup_many(inputs)
    barrier = threading.Barrier(4)

    def run(_):
        barrier.wait(timeout=60)
        return vessarine.lookup_many(inputs)

    with ThreadPoolExecutor(4) as pool:
        assert all(r == expected for r in pool.map(run, range(4)))


def test_fork_child_answers():
    expected = repr(vessarine.lookup_many(INPUTS))
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.write(write, repr(vessarine.lookup_many(INPUTS)).encode())
        finally:
            os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as f:
        got = f.read().decode()
    os.waitpid(pid, 0)
    assert got == expected


def test_damaged_table_is_named_as_the_command_line_names_it(home, tmp_path):
    env = dict(os.environ, XDG_CACHE_HOME=str(tmp_path))
    subprocess.run([CLI, "update", "--quiet", "--force", "--from", os.environ["VESSARINE_TEST_DATA"]], env=env, check=True,
                   timeout=120)
    table = tmp_path / "vessarine" / "ma-m.regtable"
    table.write_bytes(table.read_bytes()[:100])
    _, cli_err, _ = cli("lookup", "00:0c:29", env=env)
    assert b"ma-m.regtable" in cli_err
    code = ("import warnings, vessarine\n"
            "with warnings.catch_warnings(record=True) as w:\n"
            "    warnings.simplefilter('always')\n"
            "    vessarine.lookup('00:0c:29')\n"
            "print(''.join(str(x.message) + '\\n' for x in w), end='')\n")
    r = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert r.stdout == cli_err

