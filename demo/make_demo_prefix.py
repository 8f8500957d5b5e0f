#!/usr/bin/env python3
"""Writes the demo's Wine prefix: the registry files of a small 64-bit prefix in which the
fictional business suite "Tarvo Nexbay 98" was installed as its 32-bit installer does it on a
64-bit system: its ProgIDs, classes and interfaces in the 32-bit node of the classes
(HKEY_CLASSES_ROOT\\Wow6432Node), its type libraries in the shared TypeLib branch, its settings and
uninstall entry below HKEY_LOCAL_MACHINE\\Software\\Wow6432Node; beside them a 64-bit shell
extension of the suite, the suite's settings of the user, registrations of other software that a
cleaning run must leave alone, and the link keys with which Wine ties the two nodes together.

Usage: make_demo_prefix.py TARGET_FOLDER   (the folder is created; existing files are replaced)

The files follow Wine's own format (system.reg, user.reg, userdef.reg): a fixed header, one
block a key in depth-first order with siblings sorted without regard to case, escaped names and
values, each block's last-write time, and link keys as "#link" with their target path.
"""

import os
import sys

# Fixed times keep the generated files the same on every run (2026-12-01 09:00:00 UTC).
UNIX_TIME = 1796115600
FILETIME = UNIX_TIME * 10_000_000 + 116_444_736_000_000_000

SUITE_CLASSES = {
    "ledger": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20A001}",
    "invoice": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20A002}",
    "shell": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20A003}",
    "ledger_iface": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20B001}",
    "invoice_iface": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20B002}",
    "typelib": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20C001}",
    "reports_typelib": "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20C002}",
}
OTHER = {
    "helper": "{D4E2A871-03B6-4C2F-8E19-7A5B3C60A001}",
    "helper32": "{D4E2A871-03B6-4C2F-8E19-7A5B3C60A002}",
    "helper_appid": "{D4E2A871-03B6-4C2F-8E19-7A5B3C60A0A0}",
    "helper_iface": "{D4E2A871-03B6-4C2F-8E19-7A5B3C60B001}",
    "helper_typelib": "{D4E2A871-03B6-4C2F-8E19-7A5B3C60C001}",
}
OLE_PROXY = "{00020424-0000-0000-C000-000000000046}"
SUITE_DIR = "C:\\Program Files (x86)\\Tarvo\\Nexbay"
SUITE_DIR64 = "C:\\Program Files\\Tarvo\\Nexbay"
MACHINE = "\\Registry\\Machine\\"

# Wine's links between the nodes, as a fresh 64-bit prefix has them: the 32-bit classes share
# AppId, Protocols and TypeLib with the 64-bit ones, and the 32-bit view of Software\Classes is
# Software\Classes\Wow6432Node.
LINKS = [
    ("Software\\Classes\\Wow6432Node\\AppId", MACHINE + "Software\\Classes\\AppId"),
    ("Software\\Classes\\Wow6432Node\\Protocols", MACHINE + "Software\\Classes\\Protocols"),
    ("Software\\Classes\\Wow6432Node\\TypeLib", MACHINE + "Software\\Classes\\TypeLib"),
    ("Software\\Wow6432Node\\Classes", MACHINE + "Software\\Classes\\Wow6432Node"),
]


def machine_keys():
    """HKEY_LOCAL_MACHINE: (path, [(name, value)]); a value is a str (REG_SZ) or an int (DWORD)."""
    c = SUITE_CLASSES
    o = OTHER
    classes = "Software\\Classes\\"
    classes32 = "Software\\Classes\\Wow6432Node\\"
    keys = [
        # The suite's ProgIDs, written by its 32-bit installer: found by their names.
        (classes32 + "Tarvo.Invoice", [("", "Tarvo Invoice Printer")]),
        (classes32 + "Tarvo.Invoice\\CLSID", [("", c["invoice"])]),
        (classes32 + "Tarvo.Invoice\\CurVer", [("", "Tarvo.Invoice.1")]),
        (classes32 + "Tarvo.Invoice.1", [("", "Tarvo Invoice Printer")]),
        (classes32 + "Tarvo.Invoice.1\\CLSID", [("", c["invoice"])]),
        (classes32 + "Tarvo.Ledger", [("", "Tarvo Ledger Control")]),
        (classes32 + "Tarvo.Ledger\\CLSID", [("", c["ledger"])]),
        (classes32 + "Tarvo.Ledger\\CurVer", [("", "Tarvo.Ledger.1")]),
        (classes32 + "Tarvo.Ledger.1", [("", "Tarvo Ledger Control")]),
        (classes32 + "Tarvo.Ledger.1\\CLSID", [("", c["ledger"])]),
        # Its 32-bit classes: one found by its description, one only by its server's path.
        (classes32 + "CLSID\\" + c["ledger"], [("", "Tarvo Ledger Control")]),
        (classes32 + "CLSID\\" + c["ledger"] + "\\InprocServer32",
         [("", SUITE_DIR + "\\ledger.dll"), ("ThreadingModel", "Apartment")]),
        (classes32 + "CLSID\\" + c["ledger"] + "\\ProgID", [("", "Tarvo.Ledger.1")]),
        (classes32 + "CLSID\\" + c["ledger"] + "\\TypeLib", [("", c["typelib"])]),
        (classes32 + "CLSID\\" + c["ledger"] + "\\Version", [("", "1.0")]),
        (classes32 + "CLSID\\" + c["invoice"], [("", "Invoice Printer")]),
        (classes32 + "CLSID\\" + c["invoice"] + "\\LocalServer32",
         [("", SUITE_DIR + "\\invprint.exe")]),
        (classes32 + "CLSID\\" + c["invoice"] + "\\ProgID", [("", "Tarvo.Invoice.1")]),
        (classes32 + "CLSID\\" + c["invoice"] + "\\TypeLib", [("", c["typelib"])]),
        # Its 32-bit interfaces, found through their type library.
        (classes32 + "Interface\\" + c["ledger_iface"], [("", "ILedger")]),
        (classes32 + "Interface\\" + c["ledger_iface"] + "\\ProxyStubClsid32", [("", OLE_PROXY)]),
        (classes32 + "Interface\\" + c["ledger_iface"] + "\\TypeLib",
         [("", c["typelib"]), ("Version", "1.0")]),
        (classes32 + "Interface\\" + c["invoice_iface"], [("", "IInvoicePrinter")]),
        (classes32 + "Interface\\" + c["invoice_iface"] + "\\ProxyStubClsid32",
         [("", OLE_PROXY)]),
        (classes32 + "Interface\\" + c["invoice_iface"] + "\\TypeLib",
         [("", c["typelib"]), ("Version", "1.0")]),
        # Its type libraries, in the branch both nodes share: one its classes name, one found
        # only by its file's path.
        (classes + "TypeLib\\" + c["typelib"] + "\\1.0", [("", "Nexbay 1.0 Type Library")]),
        (classes + "TypeLib\\" + c["typelib"] + "\\1.0\\0\\win32",
         [("", SUITE_DIR + "\\nexbay.tlb")]),
        (classes + "TypeLib\\" + c["typelib"] + "\\1.0\\FLAGS", [("", "0")]),
        (classes + "TypeLib\\" + c["typelib"] + "\\1.0\\HELPDIR", [("", SUITE_DIR)]),
        (classes + "TypeLib\\" + c["reports_typelib"] + "\\2.1", [("", "Report Designer")]),
        (classes + "TypeLib\\" + c["reports_typelib"] + "\\2.1\\0\\win32",
         [("", SUITE_DIR + "\\reports.tlb")]),
        (classes + "TypeLib\\" + c["reports_typelib"] + "\\2.1\\FLAGS", [("", "0")]),
        # Its 64-bit shell extension, which Explorer needs in the 64-bit node.
        (classes + "CLSID\\" + c["shell"], [("", "Tarvo Nexbay Shell Extension")]),
        (classes + "CLSID\\" + c["shell"] + "\\InprocServer32",
         [("", SUITE_DIR64 + "\\nexshell64.dll"), ("ThreadingModel", "Apartment")]),
        # Other software's registrations, in both nodes, which must stay.
        (classes + ".txt", [("", "txtfile"), ("Content Type", "text/plain")]),
        (classes + "AppID\\" + o["helper_appid"], [("", "Orlen Helper")]),
        (classes + "Orlen.Helper", [("", "Orlen Shell Helper")]),
        (classes + "Orlen.Helper\\CLSID", [("", o["helper"])]),
        (classes + "Protocols\\Handler\\orlen", [("CLSID", o["helper"])]),
        (classes + "txtfile", [("", "Text Document")]),
        (classes + "txtfile\\shell\\open\\command",
         [("", "C:\\windows\\system32\\notepad.exe %1")]),
        (classes + "CLSID\\" + o["helper"], [("", "Orlen Shell Helper")]),
        (classes + "CLSID\\" + o["helper"] + "\\InprocServer32",
         [("", "C:\\Program Files\\Orlen\\helper.dll"), ("ThreadingModel", "Both")]),
        (classes + "CLSID\\" + o["helper"] + "\\ProgID", [("", "Orlen.Helper")]),
        (classes + "CLSID\\" + o["helper"] + "\\TypeLib", [("", o["helper_typelib"])]),
        (classes + "Interface\\" + o["helper_iface"], [("", "IShellHelper")]),
        (classes + "Interface\\" + o["helper_iface"] + "\\TypeLib",
         [("", o["helper_typelib"]), ("Version", "1.0")]),
        (classes + "TypeLib\\" + o["helper_typelib"] + "\\1.0", [("", "Orlen Helper Library")]),
        (classes + "TypeLib\\" + o["helper_typelib"] + "\\1.0\\0\\win32",
         [("", "C:\\Program Files\\Orlen\\helper.tlb")]),
        (classes32 + "CLSID\\" + o["helper32"], [("", "Orlen Shell Helper (32-bit)")]),
        (classes32 + "CLSID\\" + o["helper32"] + "\\InprocServer32",
         [("", "C:\\Program Files (x86)\\Orlen\\helper.dll"), ("ThreadingModel", "Both")]),
        # The suite's settings, written by the 32-bit installer (the "Remove Settings" box
        # removes 98 only), its uninstall entry, and other vendors' settings.
        ("Software\\Orlen\\Helper", [("Enabled", 1)]),
        ("Software\\Wow6432Node\\Tarvo\\98\\Database",
         [("Path", "C:\\Tarvo\\Data\\nexbay.mdb"), ("Timeout", 30)]),
        ("Software\\Wow6432Node\\Tarvo\\98\\Install", [("Dir", SUITE_DIR), ("Version", "98.2.1")]),
        ("Software\\Wow6432Node\\Tarvo\\Shared", [("Licence", "DEMO-0000-0000")]),
        ("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarvoNexbay 98",
         [("DisplayName", "Tarvo Nexbay 98"),
          ("UninstallString", SUITE_DIR + "\\uninst.exe")]),
    ]
    return keys


def user_keys():
    return [
        ("Software\\Orlen\\Helper", [("ShowTips", 0)]),
        ("Software\\Tarvo\\98\\Window",
         [("Left", 120), ("Top", 80), ("LastFile", "C:\\Tarvo\\Data\\March.tvl")]),
        ("Software\\Tarvo\\98\\Printer", [("Device", "Office Laser")]),
    ]


def escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def escape_key(name):
    return escape(name).replace("[", "\\[").replace("]", "\\]")


def value_line(name, value):
    left = "@" if name == "" else '"' + escape(name) + '"'
    if isinstance(value, int):
        return "%s=dword:%08x" % (left, value)
    return '%s="%s"' % (left, escape(value))


def link_value_line(target):
    """The value of a link key as Wine writes it: its target's path in UTF-16, in hex lines
    wrapped where Wine wraps them."""
    line = '"SymbolicLinkValue"=hex(6):'
    column = len(line)
    data = target.encode("utf-16-le")
    for i, byte in enumerate(data):
        line += "%02x" % byte
        column += 2
        if i + 1 < len(data):
            line += ","
            column += 1
            if column > 76:
                line += "\\\n  "
                column = 2
    return line


def write_hive(path, root_comment, keys, links=()):
    """Writes keys as Wine does: every key with values, without subkeys, or that is a link gets
    a block, in depth-first order with siblings sorted by their lower-case names, and the values
    of a key sorted the same way (the default value first)."""
    tree = {}

    def entry_of(key_path):
        children = tree
        entry = None
        for part in key_path.split("\\"):
            entry = children.setdefault(part.lower(),
                                        {"name": part, "values": [], "children": {}, "link": None})
            children = entry["children"]
        return entry

    for key_path, values in keys:
        entry_of(key_path)["values"].extend(values)
    for key_path, target in links:
        entry_of(key_path)["link"] = target
    lines = ["WINE REGISTRY Version 2", ";; All keys relative to " + root_comment, "",
             "#arch=win64"]

    def walk(children, prefix):
        for lower in sorted(children):
            entry = children[lower]
            full = prefix + [escape_key(entry["name"])]
            if entry["values"] or not entry["children"] or entry["link"]:
                lines.append("")
                lines.append("[%s] %d" % ("\\\\".join(full), UNIX_TIME))
                lines.append("#time=%x" % FILETIME)
                if entry["link"]:
                    lines.append("#link")
                    lines.append(link_value_line(entry["link"]))
                for name, value in sorted(entry["values"], key=lambda v: v[0].lower()):
                    lines.append(value_line(name, value))
            walk(entry["children"], full)

    walk(tree, [])
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_demo_prefix.py TARGET_FOLDER")
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    write_hive(os.path.join(target, "system.reg"), "REGISTRY\\\\Machine", machine_keys(), LINKS)
    write_hive(os.path.join(target, "user.reg"), "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
               user_keys())
    write_hive(os.path.join(target, "userdef.reg"), "REGISTRY\\\\User\\\\.Default", [
        ("Control Panel\\Desktop", [("Wallpaper", "")]),
    ])


if __name__ == "__main__":
    main()
