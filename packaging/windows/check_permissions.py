#!/usr/bin/env python3
"""Checks a package's MsiLockPermissionsEx rows against the store's permission model: who may
change the store folder and Sorter.exe, who may read whose mail. Windows Installer applies the
rows; Wine does not enforce them, so this reads what the package asks for. Prints one line per
fault and exits non-zero when there is one.

  check_permissions.py PACKAGE.msi
"""
import re
import subprocess
import sys

GENERIC = {"FA": 0x1F01FF, "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0,
           "GA": 0x1F01FF, "GR": 0x120089, "GW": 0x120116, "GX": 0x1200A0}
READ_DATA, ADD_FILE, ADD_FOLDER, DELETE_CHILD = 0x1, 0x2, 0x4, 0x40
WRITE_DAC, WRITE_OWNER = 0x40000, 0x80000
# Anything that changes an object or what is in it: write, append, extended attributes, delete
# a child, attributes, delete, permissions, owner.
CHANGE = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000
PUPILS = ("AU", "WD", "BU", "IU", "AN", "NU", "DU")  # groups every pupil is in
SORTERS = "[SORTERSID]"
EVERY_OBJECT = {"STOREDIR": "CreateFolder", "SorterExe": "File", "MailBankDir": "CreateFolder",
                "MailBoxDir": "CreateFolder", "ErrorDir": "CreateFolder"}


def table(msi, name):
    text = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True,
                          check=True).stdout
    return [line.split("\t") for line in text.replace("\r", "").splitlines()[3:] if line]


def aces(sddl):
    """(flags, rights, trustee) of each allow ACE; raises on anything it does not read."""
    m = re.fullmatch(r"D:(P?)((?:\([^()]*\))+)", sddl)
    if not m:
        raise ValueError(f"not a protected-or-not DACL: {sddl}")
    out = []
    for ace in re.findall(r"\(([^()]*)\)", m.group(2)):
        kind, flags, rights, _, _, trustee = ace.split(";")
        if kind != "A":
            raise ValueError(f"an ACE other than allow: {ace}")
        value = GENERIC.get(rights)
        if value is None:
            value = int(rights, 16)
        out.append((flags, value, trustee))
    return m.group(1) == "P", out


def rights(entries, trustee, on):
    """The rights TRUSTEE gets from a DACL on the object itself ("self"), on files created in
    it ("files") or on folders created in it ("folders")."""
    total = 0
    for flags, value, who in entries:
        if who != trustee:
            continue
        if on == "self" and "IO" not in flags:
            total |= value
        elif on == "files" and "OI" in flags:
            total |= value
        elif on == "folders" and "CI" in flags:
            total |= value
    return total


def faults(msi):
    rows = {r[1]: r for r in table(msi, "MsiLockPermissionsEx")}
    folders = {r[0] for r in table(msi, "CreateFolder")}
    files = {r[0] for r in table(msi, "File")}
    for obj, kind in EVERY_OBJECT.items():
        if obj not in rows:
            yield f"{obj}: no permissions of its own"
            continue
        if rows[obj][2] != kind or obj not in (folders if kind == "CreateFolder" else files):
            yield f"{obj}: not a {kind} row the installer applies it to"
    dacl = {}
    for obj, row in rows.items():
        protected, entries = aces(row[3])
        if not protected:
            yield f"{obj}: inherits from the folder above (no P)"
        dacl[obj] = entries
        for admin in ("SY", "BA"):
            for on in ("self", "files", "folders") if obj != "SorterExe" else ("self",):
                if rights(entries, admin, on) != 0x1F01FF:
                    yield f"{obj}: {admin} lacks full control on {on}"
    if len(dacl) != len(rows) or set(EVERY_OBJECT) - set(dacl):
        return
    # The program and its folder: only SYSTEM and Administrators change them.
    for obj, ons in (("STOREDIR", ("self", "folders")), ("SorterExe", ("self",))):
        for who in PUPILS + (SORTERS, "CO", "OW"):
            for on in ons:
                if rights(dacl[obj], who, on) & CHANGE:
                    yield f"{obj}: {who} may change it ({on})"
    # Files in the store folder: the sorters rewrite Sorter.ini; pupils change nothing.
    for who in PUPILS + ("CO", "OW"):
        if rights(dacl["STOREDIR"], who, "files") & CHANGE:
            yield f"STOREDIR: {who} may change its files"
    if rights(dacl["STOREDIR"], SORTERS, "files") & (0x10000 | 0x40000 | 0x80000):
        yield "STOREDIR: the sorters may delete its files or change their permissions"
    # Mail: no pupil lists or reads what others dropped, what waits in MailBox or in Error.
    for obj in ("MailBankDir", "MailBoxDir", "ErrorDir"):
        for who in PUPILS:
            for on in ("self", "files", "folders"):
                if rights(dacl[obj], who, on) & READ_DATA:
                    yield f"{obj}: {who} may list or read it ({on})"
        if rights(dacl[obj], SORTERS, "self") & (ADD_FILE | READ_DATA) != ADD_FILE | READ_DATA:
            yield f"{obj}: the sorters cannot list it and add to it"
    if rights(dacl["MailBankDir"], "AU", "self") & ADD_FILE == 0:
        yield "MailBankDir: Authenticated Users cannot drop mail"
    # A delivery renames a dropped file into its mailbox, and the sorter then resets the file's
    # DACL to the mailbox's inheritance: the sorters need WRITE_DAC on MailBank's files, on
    # nothing else they do not own (no folder, no file in MailBox or Error).
    if rights(dacl["MailBankDir"], SORTERS, "files") & WRITE_DAC == 0:
        yield "MailBankDir: the sorters cannot give a delivered file its mailbox's permissions"
    for obj in ("MailBankDir", "MailBoxDir", "ErrorDir"):
        for on in ("self", "folders") + (("files",) if obj != "MailBankDir" else ()):
            if rights(dacl[obj], SORTERS, on) & (WRITE_DAC | WRITE_OWNER):
                yield f"{obj}: the sorters may change permissions or owner ({on})"
    for who in PUPILS:
        for obj in ("MailBoxDir", "ErrorDir"):
            if rights(dacl[obj], who, "self") & (ADD_FILE | ADD_FOLDER | DELETE_CHILD):
                yield f"{obj}: {who} may add or remove what is in it"
        if any(rights(dacl["ErrorDir"], who, on) for on in ("self", "files", "folders")):
            yield f"ErrorDir: {who} has access"


def main():
    found = list(faults(sys.argv[1]))
    for line in found:
        print(f"{sys.argv[1]}: {line}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
