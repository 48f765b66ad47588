"""The zr90 package against simulated cards: every call, each exception, Ctrl-C on
a stuck module, and settings files shared with the zr90 program."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import time

import pytest

import zr90
from conftest import run_zr90

UNIT = {axis: 1001 + axis for axis in range(8)}  # the simulated card's drives tell their channel


def link_to(card, **options) -> zr90.Link:
    return zr90.Link(interface="EZAL16", ip=card.address, **options)


@pytest.mark.parametrize("names, axes, expected", [
    ("unitnumber", 3, 1004),
    (["unitnumber", "kqp"], 0, {"unitnumber": 1001, "kqp": 1200}),
    ("unitnumber", [5, 1, 5], {1: 1002, 5: 1006}),
    (("unitnumber",), [2], {2: {"unitnumber": 1003}}),
    ("unitnumber", "all", UNIT),
    ("pwm", 0, -120),
])
def test_get_gives_one_value_a_dict_per_name_and_per_axis(card, names, axes, expected):
    with link_to(card) as link:
        assert link.get(names, axes=axes) == expected


def test_a_link_takes_zr90s_defaults_and_the_environment(card, monkeypatch):
    with link_to(card) as link:
        assert link.description == f"card {card.address} (UDP port 27181): SSZAL hardware found"
        assert link.axis_count == 8
        assert link.notices == ["Baudrate not in Environment, assuming 2500000 Baud"]
    for name, value in card.env.items():
        monkeypatch.setenv(name, value)
    with zr90.Link.from_environment() as link:
        assert link.get("unitnumber", axes=7) == 1008
        assert link.notices == []
    link.close()
    with pytest.raises(zr90.LinkError, match="closed"):
        link.get("kqp")


def test_a_named_link_comes_from_the_links_file_and_options_win(card, tmp_path, monkeypatch):
    (tmp_path / "zr90").mkdir()
    (tmp_path / "zr90" / "links.toml").write_text(
        f'[rig]\ninterface = "EZAL16"\nip = "{card.address}"\n[elsewhere]\ninterface = "EZAL16"\nip = "127.255.255.254"\n')
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path))
    with zr90.Link(link="rig") as link:
        assert link.get("kqp", axes=2) == 1200
    with zr90.Link(link="elsewhere", ip=card.address) as link:
        assert link.description.startswith(f"card {card.address} ")


@pytest.mark.parametrize("options, exception, text", [
    ({"interface": "NOSUCH"}, zr90.LinkError, "Unable to initialize"),
    ({"interface": "EZAL16", "ip": "999.1.1.1"}, zr90.LinkError, "no IP address"),
    ({"interface": "OSDEVICE", "protocol": "ZAL", "port": "/nonexistent/tty"}, zr90.LinkError, "/nonexistent/tty"),
    ({"link": "no-such-link-of-the-test"}, zr90.LinkError, "no-such-link-of-the-test"),
])
def test_a_link_that_cannot_open_raises_link_error(options, exception, text):
    with pytest.raises(exception, match=text):
        zr90.Link(**options)


def test_set_writes_reads_back_and_refuses_before_writing(card):
    with link_to(card) as link:
        link.set({"kqp": "0x5DC", "pwm": -16, "kqi": 29.5}, axes=[1, 2])
        assert link.get(["kqp", "pwm", "kqi"], axes=[1, 2]) == {
            axis: {"kqp": 1500, "pwm": -16, "kqi": 30} for axis in (1, 2)}  # half to even: 30
        refused = [({"kqp": 1, "kqi": -1}, "kqi", "out of range"),
                   ({"kqp": 1, "kpq": 1}, "kpq", 'did you mean "kqp"'),
                   ({"kqp": float("nan")}, None, "not a number")]
        for values, name, text in refused:
            with pytest.raises(zr90.ValueRefused, match=text) as caught:
                link.set(values, axes=1)
            assert caught.value.name == name
        assert link.get("kqp", axes=1) == 1500  # nothing of a refused set was written
        with pytest.raises(zr90.ValueRefused, match="axes are 0 to 7"):
            link.get("kqp", axes=8)
        with pytest.raises(zr90.ValueRefused, match='"some"'):
            link.get("kqp", axes="some")


@pytest.mark.parametrize("fault, axis, code_name, text", [
    ("nodrive=3", 3, "not started", "did not start"),
    ("runfail", 0, "module", "SSZAL Transfer Failed"),
])
def test_an_access_that_fails_raises_access_error_naming_axis_and_parameter(start_card, fault, axis, code_name, text):
    card = start_card(fault)
    with link_to(card) as link:
        with pytest.raises(zr90.AccessError, match=text) as caught:
            link.get(["unitnumber", "kqp"], axes=[axis])
        assert (caught.value.axis, caught.value.name, caught.value.code_name) == (axis, "unitnumber", code_name)
        assert str(caught.value).startswith(f"axis {axis}: unitnumber: ")
        with pytest.raises(zr90.AccessError):
            link.set({"kqp": 1}, axes=axis)


def test_a_restore_onto_an_axis_without_a_drive_writes_nothing_and_says_which(start_card, tmp_path):
    card = start_card("nodrive=5")
    with link_to(card) as link:
        settings = link.save(axes=4)
        with pytest.raises(zr90.AccessError, match="did not start") as caught:
            link.restore(settings, axes=[4, 5], from_axis=4)
        assert (caught.value.axis, caught.value.changes) == (5, [])
        with pytest.raises(zr90.ValueRefused, match="no axis 6"):
            link.restore(settings, axes=6)


def test_links_in_threads_work_side_by_side_and_a_shared_one_takes_turns(start_card):
    from concurrent.futures import ThreadPoolExecutor

    cards = [start_card(), start_card()]
    links = [link_to(card) for card in cards]

    def read_many(link: zr90.Link, axes: list) -> set:
        return {link.get("unitnumber", axes=axis) for _ in range(100) for axis in axes}

    # The two links' calls overlap; the two threads on the first one take turns.
    with ThreadPoolExecutor(3) as pool:
        jobs = [pool.submit(read_many, links[0], [0, 1]), pool.submit(read_many, links[1], [2, 3]),
                pool.submit(read_many, links[0], [4])]
        assert [job.result() for job in jobs] == [{UNIT[0], UNIT[1]}, {UNIT[2], UNIT[3]}, {UNIT[4]}]
    for link in links:
        link.close()


def test_faults_and_watch(card):
    with link_to(card) as link:
        faults = link.faults()
        assert not faults.any and list(faults.words) == ["fault", "faultmask", "startupstatus", "status"]
        assert faults.words["status"].role == "status" and faults.words["faultmask"].role == "mask"
        assert set(link.faults(axes=[0, 4])) == {0, 4}
        samples = list(link.watch(["unitnumber", "kqp"], axes=[0, 1], interval_ms=20, count=3))
        assert [s.values for s in samples] == [{0: {"unitnumber": 1001, "kqp": 1200},
                                                1: {"unitnumber": 1002, "kqp": 1200}}] * 3
        assert samples[0].ms < samples[1].ms < samples[2].ms and samples[2].ms >= 40


def test_parameters_name_address_type_memory_and_limits():
    rows = {p.name: p for p in zr90.parameters()}
    assert len(rows) == 178
    assert rows["kqp"] == zr90.Parameter("kqp", 0x0812, "uint", "ram", 2, False, 0, 65535)
    assert (rows["nvkqp"].memory, rows["nvkqp"].type) == ("eeprom", "eword")
    assert rows["pwm"].signed and rows["pwm"].lowest == -32768
    assert zr90.parameter("KQP+2").address == 0x0814
    with pytest.raises(zr90.ValueRefused, match='did you mean "kqp"'):
        zr90.parameter("kpq")


def test_settings_saved_by_the_package_are_restored_by_zr90(card, tmp_path):
    path = tmp_path / "axes.json"
    with link_to(card) as link:
        link.set({"nvkqp": 777}, axes=[0, 2])
        settings = link.save(axes=[0, 2])
        assert settings.axes == [0, 2] and settings[2]["nvkqp"] == 777
        settings.write(path)
        link.set({"nvkqp": 900}, axes=2)
        assert [(d.axis, d.name, d.a, d.b) for d in settings.diff(link)] == [(2, "nvkqp", 777, 900)]
    restored = run_zr90(card, "-q", "restore", str(path), "-y", "--no-backup")
    assert restored.returncode == 0, restored.stderr
    assert restored.stdout == "2 nvkqp 900 -> 777\n"
    assert run_zr90(card, "-q", "diff", str(path)).returncode == 0


def test_settings_saved_by_zr90_are_restored_by_the_package(card, tmp_path):
    path = tmp_path / "zr90.json"
    saved = run_zr90(card, "-q", "-a", "1,3", "save", str(path))
    assert saved.returncode == 0, saved.stderr
    settings = zr90.Settings.load(path)
    assert settings.axes == [1, 3]
    with link_to(card) as link:
        link.set({"nvkqp": 500, "nvkdp": 7}, axes=3)
        planned = link.restore(settings, dry_run=True)
        assert [(c.axis, c.name, c.old, c.new, c.outcome) for c in planned] == [
            (3, "nvkqp", 500, 1200, "planned"), (3, "nvkdp", 7, settings[3]["nvkdp"], "planned")]
        assert link.get("nvkqp", axes=3) == 500  # a dry run writes nothing
        changes = link.restore(settings, backup_dir=tmp_path)
        assert [c.outcome for c in changes] == ["verified", "verified"]
        assert link.backup and os.path.dirname(link.backup) == str(tmp_path)
        assert zr90.Settings.load(link.backup)[3]["nvkqp"] == 500
        assert link.restore(settings) == []
    assert run_zr90(card, "-q", "diff", str(path)).returncode == 0
    assert json.loads(path.read_text())["drives"][1]["axis"] == 3


def test_settings_errors_name_the_file_line_and_column(tmp_path):
    broken = tmp_path / "broken.json"
    broken.write_text('{\n  "format": "zr90-settings",\n  x\n}\n')
    with pytest.raises(zr90.SettingsError) as caught:
        zr90.Settings.load(broken)
    assert (caught.value.file, caught.value.line, caught.value.column) == (str(broken), 3, 3)
    assert str(caught.value).startswith(str(broken) + ": line 3, column 3")
    with pytest.raises(zr90.SettingsError, match="cannot be read") as caught:
        zr90.Settings.load(tmp_path / "missing.json")
    assert caught.value.line is None


STUCK_SCRIPT = """
import sys, zr90
try:
    if sys.argv[2] == "open":
        print("waiting", flush=True)
        zr90.Link(interface="EZAL16", ip=sys.argv[1])
    else:
        link = zr90.Link(interface="EZAL16", ip=sys.argv[1], channels=1)
        print("waiting", flush=True)
        link.get("kqp")
except KeyboardInterrupt:
    print("interrupted", flush=True)
    sys.exit(0)
sys.exit(3)
"""


@pytest.mark.parametrize("faults, stuck_in", [
    (["busy"], "open"),  # the module never finishes a command
    # The ten commands of one channel's start go through; then each poll is answered late and busy.
    (["busy-after=10", "busy-slow=300"], "get"),
])
def test_ctrl_c_on_a_stuck_module_raises_keyboard_interrupt(start_card, faults, stuck_in):
    if os.name == "nt":
        pytest.skip("POSIX signals")
    card = start_card(*faults)
    child = subprocess.Popen([sys.executable, "-c", STUCK_SCRIPT, card.address, stuck_in], stdout=subprocess.PIPE,
                             text=True)
    try:
        assert child.stdout.readline() == "waiting\n"
        before = card.requests()
        deadline = time.monotonic() + 20
        while card.requests() < before + 3 and time.monotonic() < deadline:
            time.sleep(0.01)  # polls for the stuck module to be reached, bounded by the deadline
        assert card.requests() >= before + 3, "the call never reached the busy module"
        interrupted_at = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=10)
        took = time.monotonic() - interrupted_at
    finally:
        child.kill()
    assert (child.returncode, out) == (0, "interrupted\n")
    assert took < 2, f"the call went on {took:.2f} s after Ctrl-C"


def test_cancel_from_another_thread_raises_cancelled(start_card):
    import threading

    card = start_card("busy-after=10", "busy-slow=300")
    with link_to(card, channels=1) as link:
        started = time.monotonic()
        threading.Timer(0.2, link.cancel).start()
        with pytest.raises(zr90.Cancelled):
            link.get("kqp")  # stuck for hours unless cancelled
        assert time.monotonic() - started < 2


def run_program(path, card, *arguments):
    env = dict(os.environ, **card.env)
    return subprocess.run([path, *arguments], env=env, capture_output=True, text=True, timeout=60)


def test_the_documented_c_example_reads_kqp_or_says_why_not(card):
    result = run_program(os.environ["ZR90_LIBRARY_EXAMPLE"], card)
    assert (result.returncode, result.stdout, result.stderr) == (0, "kqp 1200\n", "")
    card.env["IPADDR"] = "not-an-address"
    result = run_program(os.environ["ZR90_LIBRARY_EXAMPLE"], card)
    assert result.returncode == 1 and result.stderr.startswith("cannot open the link: ")


def test_the_package_finds_the_library_beside_itself_then_by_zr90_library(tmp_path):
    import shutil

    built = os.path.join(os.environ["LD_LIBRARY_PATH"].split(os.pathsep)[0], "libzr90.so.1")
    package = os.path.dirname(zr90.__file__)
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "ZR90_LIBRARY")}
    beside, named = tmp_path / "beside", tmp_path / "named"
    shutil.copytree(package, beside / "zr90", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(built, beside / "zr90")
    shutil.copytree(package, named / "zr90", ignore=shutil.ignore_patterns("__pycache__"))
    cases = [(beside, {}, 0), (named, {"ZR90_LIBRARY": built}, 0), (named, {"ZR90_LIBRARY": "/nonexistent.so"}, 1)]
    for folder, extra, exit_code in cases:
        script = "import zr90, sys; sys.stdout.write(zr90._native.lib._name)"
        found = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True,
                               env=dict(env, PYTHONPATH=str(folder), **extra))
        if exit_code == 1 and found.returncode == 0:
            continue  # a libzr90 installed on this machine is found by the system's loader first
        assert found.returncode == exit_code, found.stderr
        if exit_code == 0:
            assert found.stdout == (str(beside / "zr90" / "libzr90.so.1") if not extra else built)
        else:
            assert "ZR90_LIBRARY" in found.stderr


def python_examples():
    """The complete examples of docs/python.md, as a reader copies them."""
    page = open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "python.md"), encoding="utf-8").read()
    examples = []
    for section in page.split("\n## Example: ")[1:]:
        examples.append(section.split("```python\n", 1)[1].split("```", 1)[0])
    return examples


def test_the_end_of_line_example_passes_and_keeps_the_settings(card, tmp_path):
    end_of_line = python_examples()[0]
    result = subprocess.run([sys.executable, "-c", end_of_line], cwd=tmp_path, capture_output=True, text=True,
                            env=dict(os.environ, **card.env), timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-1] == "passed; settings kept in drive-1001.json"
    assert zr90.Settings.load(tmp_path / "drive-1001.json")[0]["nvkqp"] == 1300


def test_the_step_response_example_records_the_current_rising(tmp_path):
    step = python_examples()[1]
    drive = subprocess.Popen([os.environ.get("ZR90_SIM", "zr90sim"), "drive", "--model", "moving"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        ready = drive.stdout.readline()
        assert ready.startswith("ready "), ready
        env = dict(os.environ, INTERFACE="OSDEVICE", PROTOCOL="ZAL", COMPORT="COM1", BAUDRATE="115200",
                   BAUDRATEMUL="1", ZR90_COM1=ready.split()[1])
        result = subprocess.run([sys.executable, "-c", step], cwd=tmp_path, capture_output=True, text=True, env=env,
                                timeout=60)
    finally:
        drive.terminate()
        drive.wait(10)
    assert result.returncode == 0, result.stderr
    rows = (tmp_path / "step.csv").read_text().splitlines()
    assert rows[0] == "ms,iq" and len(rows) == 51
    currents = [int(row.split(",")[1]) for row in rows[1:]]
    assert currents[0] < 300 < 800 < currents[-1]
