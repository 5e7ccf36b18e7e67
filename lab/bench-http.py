#!/usr/bin/python3
"""Figures, not pass/fail: the boot image to many PCs at once. On one set of veth pairs (a bridge in a network
namespace of its own, each client in another), 1, 4 and 8 clients fetch a 500 MB boot image at the same time
from the room server's HTTP side (as a PC does: its script first, then boot.wim) and from nginx (Debian's
nginx-light, sendfile on); the aggregate throughput of each and the ratio ours/nginx. Needs root.
Usage: lab/bench-http.py [MEGABYTES]"""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ID = "adhttp%d" % os.getpid()
CLIENTS = (1, 4, 8)
RUNS = 5
NGINX = """daemon off; worker_processes 2; error_log stderr; pid %(dir)s/nginx.pid;
events { worker_connections 256; }
http { sendfile on; tcp_nopush on; access_log off; client_body_temp_path %(dir)s; proxy_temp_path %(dir)s;
       fastcgi_temp_path %(dir)s; uwsgi_temp_path %(dir)s; scgi_temp_path %(dir)s;
       server { listen 10.66.0.1:8081; root %(dir)s/http; } }
"""


def ip(*args):
    subprocess.run(["ip"] + list(args), check=True)


def serve(folder):
    """The network boot's HTTP side alone (no dnsmasq, no table), serving FOLDER/http."""
    import asyncio
    from roomserver import core, netboot
    from roomserver.config import Config
    config = Config(mode="pxe", name="serve-pxe", interface="br0", address="10.66.0.1", work_dir=folder)
    part = netboot.NetBoot(core.Core(config))
    part.run = folder

    async def run():
        part.core.ended = asyncio.get_running_loop().create_future()
        await part.serve_http()
        await part.core.ended
    asyncio.run(run())


def fetch(n, ours):
    """Wall seconds for N clients to fetch the image at once (a PC's script asked for first, untimed)."""
    commands = []
    for i in range(n):
        ns = "%s-c%d" % (ID, i)
        command = ["ip", "netns", "exec", ns, "curl", "-s", "-f", "-o", "/dev/null"]
        if ours:
            mac = subprocess.run(["ip", "netns", "exec", ns, "cat", "/sys/class/net/eth0/address"],
                                 capture_output=True, text=True).stdout.strip()
            subprocess.run(command + ["http://10.66.0.1:8080/pc.ipxe?mac=%s&platform=pcbios" % mac], check=True)
            commands.append(command + ["http://10.66.0.1:8080/boot.wim?mac=" + mac])
        else:
            commands.append(command + ["http://10.66.0.1:8081/boot.wim"])
    start = time.monotonic()
    if any(c.wait() for c in [subprocess.Popen(command) for command in commands]):
        sys.exit("bench-http: a client failed")
    return time.monotonic() - start


def main(megabytes):
    folder = tempfile.mkdtemp(prefix="bench-http.")
    ip("netns", "add", ID + "-srv")
    children = []
    try:
        ip("-n", ID + "-srv", "link", "add", "br0", "type", "bridge")
        ip("-n", ID + "-srv", "addr", "add", "10.66.0.1/24", "dev", "br0")
        ip("-n", ID + "-srv", "link", "set", "br0", "up")
        for i in range(max(CLIENTS)):
            ns = "%s-c%d" % (ID, i)
            ip("netns", "add", ns)
            ip("link", "add", "eth0", "netns", ns, "type", "veth", "peer", "name", "p%d" % i, "netns", ID + "-srv")
            ip("-n", ID + "-srv", "link", "set", "p%d" % i, "master", "br0", "up")
            ip("-n", ns, "addr", "add", "10.66.0.%d/24" % (11 + i), "dev", "eth0")
            ip("-n", ns, "link", "set", "eth0", "up")
        os.makedirs(folder + "/http")
        with open(folder + "/http/boot.wim", "wb") as image:
            for _ in range(megabytes):
                image.write(os.urandom(1 << 20))
        with open(folder + "/nginx.conf", "w") as conf:
            conf.write(NGINX % {"dir": folder})
        children.append(subprocess.Popen(["ip", "netns", "exec", ID + "-srv", "nginx", "-c", folder + "/nginx.conf",
                                          "-p", folder], stderr=subprocess.DEVNULL))
        ours = subprocess.Popen(["ip", "netns", "exec", ID + "-srv", sys.executable, __file__, "--serve", folder],
                                stdout=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONPATH=ROOT))
        children.append(ours)
        ours.stdout.readline()
        time.sleep(1)
        fetch(1, False)  # the image into the page cache
        print("boot image to many PCs: %d MB over veth pairs, aggregate MB/s (median of %d, taken in turns)"
              % (megabytes, RUNS))
        print("  clients   room server    nginx   ours/nginx")
        for n in CLIENTS:
            runs = [(fetch(n, True), fetch(n, False)) for _ in range(RUNS)]
            mine, theirs = (sorted(run[i] for run in runs)[RUNS // 2] for i in (0, 1))
            print("  %7d   %11.0f  %7.0f   %10.2f" % (n, n * megabytes / mine, n * megabytes / theirs, theirs / mine))
    finally:
        # Everything in the namespaces (nginx's workers outlive their master) goes with them.
        for ns in subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout.split():
            if ns.startswith(ID + "-"):
                subprocess.run("ip netns pids %s | xargs -r kill -KILL; ip netns delete %s" % (ns, ns), shell=True)
        for child in children:
            child.wait()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    if sys.argv[1:2] == ["--serve"]:
        serve(sys.argv[2])
    elif os.geteuid() != 0:
        print("bench-http: skipped: network namespaces need root")
    else:
        main(int(sys.argv[1]) if len(sys.argv) > 1 else 500)
