"""Configuration backups: the JSON file that ``quillon config export`` writes
and ``quillon config import`` reads, so either side reads the other's files.

Each configuration carries its stored record image (``record``, hex) beside
its fields, so an import stores exactly what was exported; the library checks
that the two agree and checks the whole list before it writes anything."""

import ctypes
import json
import os
import stat

from . import configuration as cfg
from ._library import SectionStruct, StoredConfig, lib

FORMAT = "quillon configurations"
VERSION = 1
MAX_FILE_BYTES = 4 << 20
MAX_RECORD = 1024


def _sections_of(entry, where):
    sections = entry.get("sections")
    if not isinstance(sections, list) or not 1 <= len(sections) <= cfg.MAX_SECTIONS:
        raise ValueError(f"{where}: 1 to {cfg.MAX_SECTIONS} sections expected")
    packed = (SectionStruct * len(sections))()
    for i, section in enumerate(sections):
        try:
            packed[i] = SectionStruct(cfg.scan_type_number(section["type"]),
                                      float(section["width"]), int(section["start"]),
                                      int(section["end"]), int(section["patterns"]),
                                      float(section["exposure"]))
        except (KeyError, TypeError, ValueError, OverflowError) as error:
            raise ValueError(f"{where}, section {i + 1}: {error}") from None
    return packed


def read_backup(path):
    """The parsed file at ``path``; a ValueError naming it when it is none."""
    path = os.fspath(path)
    try:
        with open(path, "rb") as f:
            info = os.fstat(f.fileno())
            if not stat.S_ISREG(info.st_mode):
                raise ValueError(f"{path}: not a regular file")
            if info.st_size > MAX_FILE_BYTES:
                raise ValueError(f"{path}: above {MAX_FILE_BYTES >> 20} MiB")
            document = json.loads(f.read(MAX_FILE_BYTES + 1))
    except OSError as error:
        raise ValueError(f"{path}: {error.strerror or error}") from None
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise ValueError(f"{path}: not JSON ({error})") from None
    if not isinstance(document, dict) or document.get("format") != FORMAT:
        raise ValueError(f"{path}: not a configuration backup")
    if document.get("version") != VERSION:
        raise ValueError(f"{path}: version {document.get('version')!r} is not {VERSION}")
    configs = document.get("configurations")
    active = document.get("active_position")
    if not isinstance(configs, list) or not isinstance(active, int) or isinstance(active, bool):
        raise ValueError(f"{path}: configurations and active_position expected")
    return document


def stored_configs(document, path):
    """The file's configurations as quillon_configs_store takes them, and the
    buffers they point into (kept alive by the caller while storing)."""
    entries = document["configurations"]
    packed = (StoredConfig * max(1, len(entries)))()
    keep = []
    for p, entry in enumerate(entries):
        where = f"{path}: configuration {p}"
        if not isinstance(entry, dict) or entry.get("position") != p:
            raise ValueError(f"{where}: positions must run 0, 1, 2, ... in order")
        name, repeats = entry.get("name"), entry.get("repeats", 1)
        if not isinstance(name, str) or not isinstance(repeats, int) or not 1 <= repeats <= 65535:
            raise ValueError(f"{where}: a name and a repeat count of 1 to 65535 expected")
        sections = _sections_of(entry, where)
        record = entry.get("record")
        raw = b""
        if record is not None:
            try:
                raw = bytes.fromhex(record)
            except (TypeError, ValueError):
                raise ValueError(f"{where}: the record is not hex") from None
            if not raw or len(raw) > MAX_RECORD:
                raise ValueError(f"{where}: the record holds {len(raw)} bytes")
        image = (ctypes.c_uint8 * max(1, len(raw))).from_buffer_copy(raw.ljust(1, b"\0"))
        encoded = name.encode("utf-8")
        keep += [sections, image, encoded]
        packed[p] = StoredConfig(encoded, sections, len(sections), repeats,
                                 image if raw else None, len(raw))
    return packed, len(entries), keep


def backup_document(configurations, records, repeats, active_position):
    """The file's document for configurations in position order."""
    return {
        "format": FORMAT, "version": VERSION, "active_position": active_position,
        "configurations": [
            {"position": c.position, "name": c.name, "repeats": repeats[c.position],
             "sections": [{"type": s.type, "start": s.start_nm, "end": s.end_nm,
                           "width": s.width_nm, "patterns": s.patterns,
                           "exposure": s.exposure_ms} for s in c.sections],
             "record": records[c.position].hex()}
            for c in configurations]}


def write_backup(path, document):
    """Written beside ``path`` and renamed into place: never half a file."""
    path = os.fspath(path)
    temporary = f"{path}.tmp{os.getpid()}"
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(document, f, indent=2)
        f.write("\n")
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)
