"""Version file and new builds. /tavrick/version.txt is DATA_DIR/newsoft/version.txt once a build
has been published (the --version-text before that); DATA_DIR/newsoft/x86/ and x64/ are served as
/tavrick/newsoft/<arch>/<name>, and a folder's own address lists its files. Publishing a folder
writes its manifest.txt (the version, then each file's name, size and SHA-256 digest, which the
updater checks every download against) and then the version file, each with its signature by the
build key beside it ("manifest.txt.sig", "version.txt.sig"; see signing.py)."""
import hashlib
import os
import re

from . import signing
from .web import TEXT, HttpError, Response

ARCHES = ("x86", "x64")
MANIFEST = "manifest.txt"
VERSION_FILE = "version.txt"
VERSION = re.compile(r"[0-9]{1,4}(\.[0-9]{1,4})?")
FILE_NAME = re.compile(r"[A-Za-z0-9_-][A-Za-z0-9._-]{0,63}")
# The administrator's files beside the program, which no build may bring: the configuration and
# its copies, the log folder, the updater's record and the updater itself (compared lower-case).
KEPT_PREFIXES = ("tavrick.cfg", "log")
KEPT_NAMES = ("upgrade.ini", "upgrade.exe", "upgrade.new", "upgrade.old")


def write_whole(path, data):
    """Readers see the old file or the new one, never a part."""
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def publish(newsoft_dir, arch, version_text, key_file=signing.STANDIN_KEY_FILE):
    """Publishes the files now in newsoft/<arch>/ as the build named by field 0 of version_text,
    which becomes the version file; both are signed with the key in key_file. Returns the
    manifest; ValueError for unusable input."""
    if arch not in ARCHES:
        raise ValueError("arch must be x86 or x64")
    if len(version_text) > 256 or any(c in version_text for c in "\r\n\0"):
        raise ValueError("version text must be one line of at most 256 characters")
    version = version_text.split(",")[0].strip()
    if not VERSION.fullmatch(version):
        raise ValueError("the version text must start with a version number such as 2.40")
    body = version_text.encode("gbk")
    folder = os.path.join(newsoft_dir, arch)
    if not os.path.isdir(folder):
        raise ValueError("nothing to publish in newsoft/%s" % arch)
    key = signing.load_key(key_file)
    lines = ["version " + version]
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name in (MANIFEST, MANIFEST + signing.SIGNATURE_SUFFIX) or name.endswith(".tmp") or not os.path.isfile(path):
            continue
        if not FILE_NAME.fullmatch(name):
            raise ValueError("file name not allowed in a build: %r" % name)
        if name.lower().startswith(KEPT_PREFIXES) or name.lower() in KEPT_NAMES:
            raise ValueError("a build may not replace %r" % name)
        digest = hashlib.sha256()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        lines.append("file %s %d %s" % (name, os.path.getsize(path), digest.hexdigest()))
    manifest = "\r\n".join(lines) + "\r\n"
    # Each signature goes before its file: a reader between the two sees a file that does not
    # verify and acts on nothing.
    write_whole(os.path.join(folder, MANIFEST + signing.SIGNATURE_SUFFIX),
                signing.signature_file(key, signing.manifest_message(arch, manifest.encode("ascii"))))
    write_whole(os.path.join(folder, MANIFEST), manifest.encode("ascii"))
    # The version file last: a program never hears of a version whose build is not listed yet.
    write_whole(os.path.join(newsoft_dir, VERSION_FILE + signing.SIGNATURE_SUFFIX),
                signing.signature_file(key, signing.version_file_message(body)))
    write_whole(os.path.join(newsoft_dir, VERSION_FILE), body)
    return manifest


class Updates:
    def __init__(self, service):
        self.service = service

    def routes(self):
        routes = {"/tavrick/version.txt": {"GET": self.version_file},
                  "/tavrick/version.txt.sig": {"GET": self.version_signature},
                  "/tavrick/admin/publish": {"POST": self.publish}}
        for arch in ARCHES:
            # A key ending in "*" matches every path below it.
            routes["/tavrick/newsoft/%s/*" % arch] = {"GET": self.newsoft}
        return routes

    def version_file(self, r):
        if self.service.newsoft_dir:
            try:
                with open(os.path.join(self.service.newsoft_dir, VERSION_FILE), "rb") as f:
                    return Response(f.read())
            except FileNotFoundError:
                pass
        return Response(self.service.version_text)

    def version_signature(self, r):
        """The published version file's signature; before anything is published, the
        --version-text signed with the service's build key (none without a key)."""
        if self.service.newsoft_dir and os.path.exists(os.path.join(self.service.newsoft_dir, VERSION_FILE)):
            try:
                with open(os.path.join(self.service.newsoft_dir, VERSION_FILE + signing.SIGNATURE_SUFFIX), "rb") as f:
                    return Response(f.read())
            except FileNotFoundError:
                raise HttpError(404, "the version file is not signed")
        try:
            key = signing.load_key(self.service.build_key_file)
        except (OSError, ValueError):
            raise HttpError(404, "no build key")
        return Response(signing.signature_file(key, signing.version_file_message(self.service.version_text.encode("gbk"))))

    def publish(self, r):
        """POST arch and version (the whole version file, "2.40" or "2.40,field,..."), signed in."""
        self.service.auth.change(r, page=False)
        form = r.form()
        if not self.service.newsoft_dir:
            raise HttpError(404, "no build folder")
        try:
            return Response(publish(self.service.newsoft_dir, form.get("arch", ""), form.get("version", ""),
                                    self.service.build_key_file), TEXT)
        except (ValueError, UnicodeEncodeError, OSError) as refusal:
            raise HttpError(400, str(refusal).encode("ascii", "replace").decode())

    def newsoft(self, r):
        arch, _, name = r.path[len("/tavrick/newsoft/"):].partition("/")
        folder = os.path.join(self.service.newsoft_dir, arch) if self.service.newsoft_dir else None
        if not folder or not os.path.isdir(folder):
            raise HttpError(404, "no such build")
        if not name:
            return Response("\r\n".join(sorted(os.listdir(folder))))
        if "/" in name or "\\" in name or name.startswith("."):
            raise HttpError(404, "no such build")
        target = os.path.join(folder, name)
        if not os.path.isfile(target):
            raise HttpError(404, "no such build")
        with open(target, "rb") as f:
            return Response(f.read(), "application/octet-stream")


def publish_main(argv):
    """vendor_service.py publish DATA_DIR ARCH VERSION_TEXT [--build-key KEY_FILE] (files already
    in DATA_DIR/newsoft/ARCH/; the stand-in's test key unless KEY_FILE is given)."""
    key_file = signing.STANDIN_KEY_FILE
    if len(argv) == 5 and argv[3] == "--build-key":
        key_file = argv[4]
        argv = argv[:3]
    if len(argv) != 3:
        print("usage: publish DATA_DIR x86|x64 VERSION_TEXT [--build-key KEY_FILE]")
        return 2
    try:
        print(publish(os.path.join(argv[0], "newsoft"), argv[1], argv[2], key_file), end="")
    except (ValueError, OSError) as refusal:
        print("publish refused: %s" % refusal)
        return 1
    return 0
