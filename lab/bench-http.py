#!/usr/bin/python3
"""Figures, not pass/fail: the boot image to many PCs at once. On one bridge in a network namespace of its own
(each client in another, on a veth pair), 1, 4 and 8 PCs fetch the boot image at the same time, as a PC does
(its script first, then boot.wim), from three servers on the same bridge, in turns within one run:
scripts/serve-pxe as an operator runs it (dnsmasq, the journal, the lists it keeps, its lines to a log), the
room server's HTTP side alone, and nginx (Debian's nginx-light, sendfile on). Each round the PCs come with new
MACs, as a PC is served once. Prints the aggregate throughput of each and the ratios to nginx. Needs root, a
build of autodeploy.exe with its guard and watch (make) and wimboot (make test or make release).
Usage: lab/bench-http.py [MEGABYTES]   (the boot image's size, default 400)"""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ID = "adhttp%d" % os.getpid()
SERVER = ID + "-srv"
CLIENTS = (1, 4, 8)
RUNS = 5
PORTS = {"serve-pxe": 8080, "nginx": 8081, "HTTP alone": 8082}
NGINX = """daemon off; worker_processes 2; error_log stderr; pid %(dir)s/nginx.pid;
events { worker_connections 256; }
http { sendfile on; tcp_nopush on; access_log off; client_body_temp_path %(dir)s; proxy_temp_path %(dir)s;
       fastcgi_temp_path %(dir)s; uwsgi_temp_path %(dir)s; scgi_temp_path %(dir)s;
       server { listen 10.66.0.1:8081; root %(dir)s/http; } }
"""


def run(*argv, **options):
    return subprocess.run(argv, check=True, **options)


def serve_alone(folder):
    """The network boot's HTTP side alone (no dnsmasq, no journal, no table), serving FOLDER/http."""
    import asyncio
    from roomserver import core, netboot
    from roomserver.config import Config
    config = Config(mode="pxe", name="serve-pxe", interface="br0", address="10.66.0.1", port=PORTS["HTTP alone"],
                    work_dir=folder)
    part = netboot.NetBoot(core.Core(config))
    part.run = folder

    async def serve():
        part.core.ended = asyncio.get_running_loop().create_future()
        await part.serve_http()
        await part.core.ended
    asyncio.run(serve())


def medium(folder, megabytes):
    """A Windows medium whose boot image holds MEGABYTES of noise (nothing to compress), and a program."""
    tree = os.path.join(folder, "pe")
    os.makedirs(os.path.join(tree, "Windows", "System32"))
    with open(os.path.join(tree, "noise"), "wb") as noise:
        for _ in range(megabytes):
            noise.write(os.urandom(1 << 20))
    os.makedirs(os.path.join(folder, "medium", "sources"))
    run("wimcapture", tree, os.path.join(folder, "medium", "sources", "boot.wim"), "PE", "--boot",
        "--compress=none", stdout=subprocess.DEVNULL)
    os.unlink(os.path.join(tree, "noise"))


def fetch(n, server, round_number):
    """Wall seconds for N clients to fetch the image at once (a PC's script asked for first, untimed)."""
    port, commands = PORTS[server], []
    for i in range(n):
        ns, mac = "%s-c%d" % (ID, i), "52:54:00:66:%02x:%02x" % (round_number % 256, i)
        command = ["ip", "netns", "exec", ns, "curl", "-s", "-f", "-o", "/dev/null"]
        if server == "nginx":
            commands.append(command + ["http://10.66.0.1:%d/boot.wim" % port])
            continue
        run("ip", "-n", ns, "link", "set", "eth0", "address", mac)
        run("ip", "-n", SERVER, "neigh", "flush", "dev", "br0")
        run(*command, "http://10.66.0.1:%d/pc.ipxe?mac=%s&platform=pcbios" % (port, mac))
        commands.append(command + ["http://10.66.0.1:%d/boot.wim?mac=%s" % (port, mac)])
    start = time.monotonic()
    if any(c.wait() for c in [subprocess.Popen(command) for command in commands]):
        sys.exit("bench-http: a client of %s failed" % server)
    return time.monotonic() - start


def network():
    run("ip", "netns", "add", SERVER)
    run("ip", "-n", SERVER, "link", "add", "br0", "type", "bridge")
    run("ip", "-n", SERVER, "addr", "add", "10.66.0.1/24", "brd", "+", "dev", "br0")
    run("ip", "-n", SERVER, "link", "set", "br0", "up")
    for i in range(max(CLIENTS)):
        ns = "%s-c%d" % (ID, i)
        run("ip", "netns", "add", ns)
        run("ip", "link", "add", "eth0", "netns", ns, "type", "veth", "peer", "name", "p%d" % i, "netns", SERVER)
        run("ip", "-n", SERVER, "link", "set", "p%d" % i, "master", "br0", "up")
        run("ip", "-n", ns, "addr", "add", "10.66.0.%d/24" % (11 + i), "dev", "eth0")
        run("ip", "-n", ns, "link", "set", "eth0", "up")


def main(megabytes, program):
    folder = tempfile.mkdtemp(prefix="bench-http.")
    children = []
    try:
        network()
        medium(folder, megabytes)
        log = open(os.path.join(folder, "serve.log"), "w")
        children.append(subprocess.Popen(
            ["ip", "netns", "exec", SERVER, os.path.join(ROOT, "scripts", "serve-pxe"), "--interface", "br0",
             "--any-pc", "--program", program, "--work-dir", folder + "/work", folder + "/medium"],
            stdout=log, stderr=subprocess.STDOUT))
        while "serving on br0" not in open(log.name).read():
            if children[0].poll() is not None:
                sys.exit("bench-http: serve-pxe ended: %s" % open(log.name).read())
            time.sleep(0.5)
        os.makedirs(folder + "/http")
        os.symlink(folder + "/work/boot.wim", folder + "/http/boot.wim")
        with open(folder + "/nginx.conf", "w") as conf:
            conf.write(NGINX % {"dir": folder})
        children.append(subprocess.Popen(["ip", "netns", "exec", SERVER, "nginx", "-c", folder + "/nginx.conf",
                                          "-p", folder], stderr=subprocess.DEVNULL))
        alone = subprocess.Popen(["ip", "netns", "exec", SERVER, sys.executable, __file__, "--serve", folder],
                                 stdout=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONPATH=ROOT))
        children.append(alone)
        alone.stdout.readline()
        time.sleep(1)
        fetch(1, "nginx", 0)  # the image into the page cache
        size = os.path.getsize(folder + "/work/boot.wim") / 1e6
        print("boot image to many PCs: %.0f MB over veth pairs, aggregate MB/s (median of %d, taken in turns)"
              % (size, RUNS))
        print("  PCs   serve-pxe   HTTP alone     nginx   serve-pxe/nginx   alone/nginx")
        rounds = 0
        for n in CLIENTS:
            seconds = {server: [] for server in PORTS}
            for _ in range(RUNS):
                rounds += 1
                for server in PORTS:
                    seconds[server].append(fetch(n, server, rounds))
            median = {server: sorted(values)[RUNS // 2] for server, values in seconds.items()}
            rate = {server: n * size / median[server] for server in PORTS}
            print("  %3d   %9.0f   %10.0f   %7.0f   %15.2f   %11.2f" % (
                n, rate["serve-pxe"], rate["HTTP alone"], rate["nginx"], rate["serve-pxe"] / rate["nginx"],
                rate["HTTP alone"] / rate["nginx"]))
    finally:
        # serve-pxe ends with its summary; everything left in the namespaces goes with them.
        if children:
            children[0].terminate()
            children[0].wait()
        for ns in subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout.split():
            if ns.startswith(ID + "-"):
                subprocess.run("ip netns pids %s | xargs -r kill -KILL; ip netns delete %s" % (ns, ns), shell=True)
        for child in children:
            child.wait()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    program = next((path for path in [os.path.join(ROOT, "build", preset, "src", "autodeploy.exe")
                                      for preset in ("windows", "release")] if os.path.exists(path)), None)
    wimboot = next((path for path in [os.path.join(ROOT, "build", preset, "wimboot")
                                      for preset in ("windows", "release", "native")]
                    if os.path.exists(os.path.join(path, "wimboot.i386"))), None)
    if sys.argv[1:2] == ["--serve"]:
        serve_alone(sys.argv[2])
    elif os.geteuid() != 0:
        print("bench-http: skipped: network namespaces need root")
    elif not program or not wimboot:
        print("bench-http: skipped: no autodeploy.exe or wimboot built (make, make test or make release)")
    else:
        os.environ["AUTODEPLOY_WIMBOOT_DIR"] = wimboot
        main(int(sys.argv[1]) if len(sys.argv) > 1 else 400, program)
