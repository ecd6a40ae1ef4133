#!/usr/bin/env python3
"""Reads a shipped program's resources back from its image and checks them.

- The manifest (RT_MANIFEST, id 1) is the file MANIFEST, byte for byte, and Windows XP's parser
  takes it: no element of the namespace urn:schemas-microsoft-com:asm.v1 that XP does not know,
  no namespace declared twice on one element. It names only the image's processor architecture
  or "*", runs the program as invoker without UI access (so without file virtualisation), and
  declares support for Windows Vista, 7, 8, 8.1 and 10; with --long-path-aware, it also takes
  paths past 260 characters.
- The version record gives VERSION (as VERSION.0) as file and product version, in numbers and in
  text, says that the file is an application, and names the image's own file as its original
  file name, with a description.
- The icon MAINICON holds the images of the file ICON, byte for byte, in its order.

    image_resources_check.py IMAGE x86|amd64 VERSION MANIFEST ICON [--long-path-aware]
    image_resources_check.py --manifest-only FILE

The second form checks a manifest file as XP's parser would, and nothing else.
"""

import struct
import sys
import xml.parsers.expat
from pathlib import Path

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
VFT_APP = 1

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
# The elements of asm.v1 that the side-by-side manifests of Windows XP have; XP refuses a
# manifest with any other element in that namespace.
XP_ELEMENTS = {
    "assembly", "noInherit", "noInheritable", "assemblyIdentity", "dependency",
    "dependentAssembly", "file", "comClass", "typelib", "comInterfaceExternalProxyStub",
    "comInterfaceProxyStub", "windowClass",
}
TRUST = {"urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3"}
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
WINDOWS_SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}

wrong = []


def resources(image):
    """The image's resources as {(type, name): bytes}, names being numbers or texts."""
    data = Path(image).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    pe32 = struct.unpack_from("<H", data, optional)[0] == 0x10B
    directory_rva = struct.unpack_from("<I", data, optional + (96 if pe32 else 112) + 2 * 8)[0]
    sections = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
                for i in range(count)]

    def offset(rva):
        for size, address, raw_size, raw in sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise SystemExit(f"wrong: {image}: address {rva:#x} is in no section")

    if directory_rva == 0:
        return {}
    base = offset(directory_rva)

    def entries(at):
        named, numbered = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            if name & 0x80000000:
                start = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, start)[0]
                name = data[start + 2:start + 2 + 2 * length].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            for _, leaf in entries(languages):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(kind, name)] = data[offset(rva):offset(rva) + size]
    return found


def check_manifest_as_xp(text):
    """Parses the manifest without namespace processing, as the prefixes are written, and
    returns its elements as (namespace, name, attributes, text)."""
    elements = []
    scopes = [{"": None}]
    open_elements = []
    parser = xml.parsers.expat.ParserCreate()

    def start(name, attributes):
        declared = {}
        for attribute, value in attributes.items():
            if attribute == "xmlns" or attribute.startswith("xmlns:"):
                if value in declared.values():
                    wrong.append(f"manifest: <{name}> declares the namespace {value} twice")
                declared[attribute[6:]] = value
        scope = {**scopes[-1], **declared}
        scopes.append(scope)
        prefix, _, local = name.rpartition(":")
        namespace = scope.get(prefix)
        if namespace == ASM_V1 and local not in XP_ELEMENTS:
            wrong.append(f"manifest: <{name}> is in {ASM_V1}, where Windows XP knows no {local}")
        element = [namespace, local, attributes, ""]
        elements.append(element)
        open_elements.append(element)

    def end(_):
        scopes.pop()
        open_elements.pop()

    def text_of(data):
        if open_elements:
            open_elements[-1][3] += data

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = text_of
    try:
        parser.Parse(text, True)
    except xml.parsers.expat.ExpatError as error:
        wrong.append(f"manifest: not well-formed XML: {error}")
    return elements


def check_manifest(text, expected, arch, long_paths):
    if text != expected:
        wrong.append("manifest: not the project's manifest file")
    elements = check_manifest_as_xp(text)

    def named(namespaces, name):
        return [e for e in elements if e[0] in namespaces and e[1] == name]

    for _, _, attributes, _ in named({ASM_V1}, "assemblyIdentity"):
        value = attributes.get("processorArchitecture", "*")
        if value != "*" and value.lower() != arch:
            wrong.append(f"manifest: processor architecture {value} in an {arch} image")
    levels = [(a.get("level"), a.get("uiAccess")) for _, _, a, _ in
              named(TRUST, "requestedExecutionLevel")]
    print(f"manifest: execution level {levels}")
    if levels != [("asInvoker", "false")]:
        wrong.append("manifest: not one requestedExecutionLevel asInvoker without UI access")
    systems = {a.get("Id", "").lower() for _, _, a, _ in named({COMPATIBILITY}, "supportedOS")}
    print("manifest: supported " + ", ".join(v for k, v in SUPPORTED_OS.items() if k in systems))
    for guid, system in SUPPORTED_OS.items():
        if guid not in systems:
            wrong.append(f"manifest: does not declare {system} ({guid})")
    aware = [t.strip() for _, _, _, t in named({WINDOWS_SETTINGS_2016}, "longPathAware")]
    print(f"manifest: longPathAware {aware or 'absent'}")
    if long_paths and aware != ["true"]:
        wrong.append("manifest: not longPathAware")


def version_blocks(data, at=0):
    """A block of a version record as (key, value bytes, is text, children, end)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    start = (key_end + 2 + 3) & ~3
    size = value_length * 2 if is_text else value_length
    value = data[start:start + size]
    child = (start + size + 3) & ~3
    children = []
    while child < at + length:
        block = version_blocks(data, child)
        children.append(block)
        child = (block[4] + 3) & ~3
    return key, value, is_text, children, at + length


def check_version(data, version, file_name):
    key, fixed, _, children, _ = version_blocks(data)
    numbers = [int(n) for n in (version.split(".") + ["0", "0", "0"])[:4]]
    high, low = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    file_type = struct.unpack_from("<I", fixed, 36)[0]
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        wrong.append("version record: not a VS_VERSION_INFO block")
    if (file_ms, file_ls) != (high, low) or (product_ms, product_ls) != (high, low):
        wrong.append(f"version record: version numbers are not {'.'.join(map(str, numbers))}")
    if file_type != VFT_APP:
        wrong.append(f"version record: file type {file_type}, not an application")
    strings = {}
    for block in children:
        if block[0] == "StringFileInfo":
            for table in block[3]:
                for name, value, _, _, _ in table[3]:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    for name in ("FileDescription", "FileVersion", "ProductVersion", "OriginalFilename"):
        print(f"version record: {name} {strings.get(name)!r}")
    text = ".".join(map(str, numbers))
    if strings.get("FileVersion") != text or strings.get("ProductVersion") != text:
        wrong.append(f"version record: version texts are not {text}")
    if strings.get("OriginalFilename", "").lower() != file_name.lower():
        wrong.append(f"version record: original file name is not {file_name}")
    if not strings.get("FileDescription"):
        wrong.append("version record: no description")


def check_icon(found, icon_file):
    icon = Path(icon_file).read_bytes()
    group = found.get((RT_GROUP_ICON, "MAINICON"))
    if group is None:
        wrong.append("icon: no icon group MAINICON")
        return
    count = struct.unpack_from("<H", icon, 4)[0]
    if struct.unpack_from("<H", group, 4)[0] != count:
        wrong.append(f"icon: MAINICON holds other images than {Path(icon_file).name}")
        return
    for i in range(count):
        entry = icon[6 + 16 * i:6 + 16 * i + 12]
        length, offset = struct.unpack_from("<II", icon, 6 + 16 * i + 8)
        member = group[6 + 14 * i:6 + 14 * i + 14]
        image_id = struct.unpack_from("<H", member, 12)[0]
        if member[:12] != entry or found.get((RT_ICON, image_id)) != icon[offset:offset + length]:
            wrong.append(f"icon: image {i + 1} differs from that of {Path(icon_file).name}")
    print(f"icon: MAINICON, {count} images, {len(icon) - 6 - 16 * count} bytes of pictures")


def main(argv):
    if len(argv) == 3 and argv[1] == "--manifest-only":
        check_manifest_as_xp(Path(argv[2]).read_bytes())
    elif len(argv) in (6, 7) and argv[6:] in ([], ["--long-path-aware"]):
        image, arch, version, manifest, icon = argv[1:6]
        found = resources(image)
        for kind, name, what in ((RT_MANIFEST, 1, "manifest"), (RT_VERSION, 1, "version record")):
            if (kind, name) not in found:
                wrong.append(f"no {what}")
        if not wrong:
            check_manifest(found[(RT_MANIFEST, 1)], Path(manifest).read_bytes(), arch,
                           len(argv) == 7)
            check_version(found[(RT_VERSION, 1)], version, Path(image).name)
        check_icon(found, icon)
    else:
        sys.exit(__doc__)
    for line in wrong:
        print(f"wrong: {line}", file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
