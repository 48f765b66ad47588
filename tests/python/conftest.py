"""Simulated cards for the tests of the zr90 package: zr90sim card on a loopback
address of the test's own, started and stopped around each test."""

from __future__ import annotations

import itertools
import os
import select
import subprocess
import time
from dataclasses import dataclass, field
from typing import Dict, Iterator, List

import pytest

SIM = os.environ.get("ZR90_SIM", "zr90sim")
TOOLS_DIR = os.environ.get("ZR90_TOOLS_DIR", "")
_addresses = itertools.count()


def unique_address() -> str:
    # Spread by process id, so that test runs in parallel do not meet on one address.
    n = (os.getpid() * 7919 + next(_addresses) * 104729 + 31) % (250 * 250)
    return f"127.{100 + n // 250 % 100}.{n // 250 % 250 + 1}.{2 + n % 250}"


@dataclass
class Card:
    process: subprocess.Popen
    address: str
    trace: str
    env: Dict[str, str] = field(default_factory=dict)

    def requests(self) -> int:
        """Requests that reached the card so far."""
        with open(self.trace, encoding="utf-8", errors="replace") as text:
            return sum(1 for line in text if " > " in line)

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(10)


def _wait_ready(process: subprocess.Popen, seconds: float) -> bool:
    deadline = time.monotonic() + seconds
    assert process.stdout is not None
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], deadline - time.monotonic())
        if not ready:
            return False
        line = process.stdout.readline()
        if not line:
            return False
        if line.startswith("ready"):
            return True
    return False


@pytest.fixture
def start_card(tmp_path) -> Iterator:
    cards: List[Card] = []

    def start(*faults: str) -> Card:
        for attempt in range(5):
            address = unique_address()
            trace = str(tmp_path / f"card{len(cards)}-{attempt}.trace")
            arguments = [SIM, "card", "--udp", address, "--trace", trace]
            for fault in faults:
                arguments += ["--fault", fault]
            process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            if _wait_ready(process, 10):
                card = Card(process, address, trace,
                            {"INTERFACE": "EZAL16", "PROTOCOL": "SSZAL", "IPADDR": address, "BAUDRATE": "2500000"})
                cards.append(card)
                return card
            process.kill()
            process.wait()
        pytest.fail("zr90sim card did not start on any loopback address")

    yield start
    for card in cards:
        card.stop()


@pytest.fixture
def card(start_card) -> Card:
    return start_card()


def tool(name: str) -> str:
    return os.path.join(TOOLS_DIR, name) if TOOLS_DIR else name


def run_zr90(card: Card, *arguments: str) -> subprocess.CompletedProcess:
    """zr90 against the card, as a user runs it."""
    env = dict(os.environ, **card.env)
    return subprocess.run([tool("zr90"), *arguments], env=env, capture_output=True, text=True, timeout=60)
