"""Version file and new builds: /tavrick/version.txt and DATA_DIR/newsoft/x86/, x64/ served as
/tavrick/newsoft/<arch>/<name>; a folder's own address lists its files."""
import os

from .web import HttpError, Response

ARCHES = ("x86", "x64")


class Updates:
    def __init__(self, service):
        self.service = service

    def routes(self):
        routes = {"/tavrick/version.txt": {"GET": self.version_file}}
        for arch in ARCHES:
            # A key ending in "*" matches every path below it.
            routes["/tavrick/newsoft/%s/*" % arch] = {"GET": self.newsoft}
        return routes

    def version_file(self, r):
        return Response(self.service.version_text)

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
