"""Which company holds a MAC address, from every IEEE registry."""

from typing import Iterable, Optional, TypedDict

__version__: str

class Holder(TypedDict):
    organization: str
    address: list[str]

class Answer(TypedDict, total=False):
    input: str
    error: str
    mac: Optional[str]
    registry: Optional[str]
    assignment: Optional[str]
    bits: Optional[int]
    organization: Optional[str]
    address: list[str]
    also: list[Holder]
    source: Optional[str]
    group: bool
    local: bool
    broadcast: bool
    note: Optional[str]
    derived_from: Optional[str]
    kind: str
    identifier: Optional[str]

class Find(Answer, total=False):
    line: int
    column: int
    text: str

class Assignment(TypedDict):
    registry: str
    assignment: str
    bits: int
    first: int
    last: int
    first_mac: str
    last_mac: str
    organization: str
    address: list[str]
    also: list[Holder]
    source: Optional[str]

class Table(TypedDict):
    registry: str
    entries: int
    source: str
    path: Optional[str]

def lookup(text: str, *, prefixes: Optional[str] = None, wwn: bool = False) -> Answer: ...
def lookup_many(texts: Iterable[str], *, prefixes: Optional[str] = None, wwn: bool = False) -> list[Answer]: ...
def annotate(text: str, *, prefixes: Optional[str] = None) -> str: ...
def find(text: str, *, prefixes: Optional[str] = None) -> list[Find]: ...
def search(text: str, *, prefixes: Optional[str] = None) -> list[Assignment]: ...
def export(*, prefixes: Optional[str] = None) -> list[Assignment]: ...
def tables(*, prefixes: Optional[str] = None) -> list[Table]: ...
