#!/usr/bin/python3
"""The responder against mDNS clients nobody here wrote: python3-zeroconf browses for and
resolves the service over multicast; dig sends a one-shot query and gets the unicast reply.
Runs only inside the private test namespace, where nothing leaves the machine."""
import os
import re
import subprocess
import sys
import threading

SKIP = 77

if not os.environ.get("ONDELLE_PRIVATE_NET"):
    print("skipped: advertises, so it runs only in the private test namespace")
    sys.exit(SKIP)

from zeroconf import ServiceBrowser, ServiceListener, Zeroconf  # noqa: E402

SERVICE = "_ondelle._tcp.local."
INSTANCE = "Interop Room"
TXT = {"v": "1", "id": "00:11:22:AA:BB:CC", "name": INSTANCE, "model": "ondelle-test", "vendor": "Ondelle"}
ADDRESS = "10.77.0.1"


class Found(ServiceListener):
    def __init__(self):
        self.names = set()
        self.event = threading.Event()

    def add_service(self, zc, type_, name):
        self.names.add(name)
        if name == INSTANCE + "." + SERVICE:
            self.event.set()

    def update_service(self, zc, type_, name):
        pass

    def remove_service(self, zc, type_, name):
        pass


def check(condition, what):
    if not condition:
        print("FAILED:", what)
        sys.exit(1)
    print("ok:", what)


def main():
    tool = sys.argv[1]
    args = [tool, INSTANCE, "4799"] + ["%s=%s" % item for item in TXT.items()]
    advertiser = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        ready = advertiser.stdout.readline().decode().split()
        check(ready[:1] == ["ready"], "the responder started")
        host = ready[1] + "."

        zc = Zeroconf(interfaces=[ADDRESS])
        try:
            found = Found()
            ServiceBrowser(zc, SERVICE, found)
            check(found.event.wait(10), "zeroconf browsing found the instance (%s)" % sorted(found.names))
            info = zc.get_service_info(SERVICE, INSTANCE + "." + SERVICE, timeout=5000)
            check(info is not None, "zeroconf resolved the instance")
            check(info.port == 4799, "resolved port %d" % info.port)
            check(info.server == host, "resolved host %s" % info.server)
            properties = {k.decode(): (v or b"").decode() for k, v in info.properties.items()}
            check(properties == TXT, "every TXT entry: %s" % properties)
            check(ADDRESS in info.parsed_addresses(), "resolved address %s" % info.parsed_addresses())
        finally:
            zc.close()

        dig = subprocess.run(["dig", "-p", "5353", "@" + ADDRESS, "_ondelle._tcp.local", "PTR",
                              "+time=3", "+tries=2", "+norecurse"],
                             capture_output=True, text=True, timeout=30)
        out = dig.stdout
        check("status: NOERROR" in out and "ANSWER: 3" in out and "ADDITIONAL: 1" in out, "dig got the unicast reply")
        def has(*fields):
            return re.search(r"\s+".join(re.escape(f) for f in fields), out) is not None
        check(has("_ondelle._tcp.local.", "370", "IN", "PTR", "Interop\\032Room._ondelle._tcp.local."), "PTR with TTL 370")
        check(has("10", "IN", "SRV", "0", "0", "4799", host), "SRV with TTL 10 and the port")
        check(has(host, "10", "IN", "A", ADDRESS), "A record with the namespace's address")
    finally:
        advertiser.stdin.close()
        advertiser.wait(timeout=10)
    print("1 passed, 0 failed")


main()
