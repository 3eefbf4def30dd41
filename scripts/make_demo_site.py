#!/usr/bin/python3
"""Generates the demo vendor site: four sample package archives and the GBK manifest.

    make_demo_site.py SITE_DIR BASE_URL

writes SITE_DIR/packages/{server,plugin,anticheat,tools}.zip and SITE_DIR/xiazaiqi/xiazai.txt,
whose URLs start with BASE_URL (for example http://127.0.0.1:8080). Some entry names are
stored in GBK without the UTF-8 flag, as archives made on the vendor's desktops are.
"""
import hashlib
import os
import random
import sys
import zipfile


class GbkName(zipfile.ZipInfo):
    """An entry whose name is stored as GBK bytes without the UTF-8 flag."""

    def _encodeFilenameFlags(self):  # noqa: N802 (zipfile's own name)
        return self.filename.encode("gbk"), self.flag_bits & ~0x800


def add_dir(archive, name, gbk=False):
    info = (GbkName if gbk else zipfile.ZipInfo)(name.rstrip("/") + "/", (2024, 5, 1, 12, 0, 0))
    info.external_attr = (0o40755 << 16) | 0x10
    archive.writestr(info, b"")


def add_file(archive, name, data, gbk=False):
    info = (GbkName if gbk else zipfile.ZipInfo)(name, (2024, 5, 1, 12, 0, 0))
    info.external_attr = (0o100644 << 16)
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def blob(label, size):
    """Stand-in program bytes, the same at every run: half random, half zeros, so they
    compress about as much as real programs do."""
    noise = random.Random(label).randbytes(size // 2)
    return noise + bytes(size - len(noise))


def server_package(path):
    with zipfile.ZipFile(path, "w") as z:
        add_dir(z, "mir200")
        add_file(z, "mir200/M2Server.exe", blob("M2Server", 6_000_000))
        add_file(z, "mir200/PlugList.txt", b"M2LinkerX86.dll\r\n")
        add_dir(z, "mir200/Envir")
        add_file(z, "mir200/Envir/地图说明.txt", "比奇省 银杏山谷\r\n".encode("gbk"), gbk=True)
        add_dir(z, "SelGate")
        add_file(z, "SelGate/SelGate.exe", blob("SelGate", 1_500_000))
        add_dir(z, "Velmar引擎控制台", gbk=True)
        add_file(z, "Velmar引擎控制台/控制台.exe", blob("console", 2_000_000), gbk=True)
        add_file(z, "更新说明.txt", "三端更新说明\r\n".encode("gbk"), gbk=True)


def plugin_package(path):
    with zipfile.ZipFile(path, "w") as z:
        for folder in ("DBServer", "LoginGate", "Mir200"):
            add_dir(z, folder)
        add_file(z, "DBServer/DBServer.exe", blob("DBServer", 2_500_000))
        add_file(z, "LoginGate/LoginGate.exe", blob("LoginGate", 150_000))
        add_file(z, "Mir200/QZVM2PlusLoad.dll", blob("QZVM2PlusLoad", 1_200_000))
        add_file(z, "Mir200/M2LinkerX86.dll", blob("M2LinkerX86", 80_000))
        add_dir(z, "Mir200/qzvkz")
        add_file(z, "Mir200/qzvkz/功能配置.ini", "[功能]\r\n开启=1\r\n".encode("gbk"), gbk=True)
        add_dir(z, "Orvanta引擎控制器", gbk=True)
        add_file(z, "Orvanta引擎控制器/控制器.exe", blob("controller", 90_000), gbk=True)


def anticheat_package(path):
    with zipfile.ZipFile(path, "w") as z:
        add_dir(z, "RunGate")
        add_file(z, "RunGate/RunGate.exe", blob("RunGate", 220_000))
        add_file(z, "RunGate/反挂配置.txt", "检测间隔=5\r\n".encode("gbk"), gbk=True)


def tools_package(path):
    with zipfile.ZipFile(path, "w") as z:
        add_dir(z, "工具", gbk=True)
        add_file(z, "工具/数据库工具.exe", blob("dbtool", 180_000), gbk=True)
        add_file(z, "工具/说明.txt", "其他工具\r\n".encode("gbk"), gbk=True)


def md5(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def main():
    site, base = sys.argv[1], sys.argv[2].rstrip("/")
    packages = os.path.join(site, "packages")
    manifest_dir = os.path.join(site, "xiazaiqi")
    os.makedirs(packages, exist_ok=True)
    os.makedirs(manifest_dir, exist_ok=True)
    rows = [("三端", "server.zip", server_package), ("功能", "plugin.zip", plugin_package),
            ("反挂", "anticheat.zip", anticheat_package), ("其他", "tools.zip", tools_package)]
    lines = []
    for section, name, make in rows:
        path = os.path.join(packages, name)
        make(path)
        lines += [f"[{section}]", f"URL={base}/packages/{name}", f"MD5={md5(path)}"]
    with open(os.path.join(manifest_dir, "xiazai.txt"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))
    for folder in (site, packages, manifest_dir):
        os.chmod(folder, 0o755)


if __name__ == "__main__":
    main()
