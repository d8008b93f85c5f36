"""The datagram test modes against peers on loopback, inside a network namespace of the
test's own (only a loopback interface, with the multicast routes on it), so nothing leaves the
machine and no other test's traffic is seen: -sap listens for and sends SAP announcements on
the well-known group, -udp exchanges datagrams with socat and a Python peer, -rawsock reads
the ICMP packets of a ping. IPv6 multicast does not loop on the loopback interface, so the
IPv6 SAP tests run over a tap interface of the namespace's own, on which this script sends
every frame back, as a network would to a member of the group."""
import fcntl
import os
import socket
import struct
import subprocess
import sys
import threading
import time

import qarvel_env

SAP_GROUP = "224.2.127.254"
SAP_PORT = 9875
IP_RECVTTL = 12  # Linux; the socket module does not name it
SAP_GROUP6 = "ff0e::2:7ffe"
TAP_ADDRESS6 = "fd00::1"
TUNSETIFF, IFF_TAP, IFF_NO_PI = 0x400454CA, 0x0002, 0x1000
LAST_ECHO = [0.0]  # when the tap last echoed a frame


def qarvel(args, timeout=20):
    """Starts build/qarvel; the caller waits or kills it."""
    return subprocess.Popen([qarvel_env.BINARY] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def finish(proc, timeout=20):
    out, err = proc.communicate(timeout=timeout)
    return out.decode(errors="replace"), err.decode(errors="replace")


def stop(proc):
    proc.kill()
    return finish(proc)


def sap_listener():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", SAP_PORT))
    membership = struct.pack("4s4s", socket.inet_aton(SAP_GROUP), socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    s.setsockopt(socket.IPPROTO_IP, IP_RECVTTL, 1)
    s.settimeout(10)
    return s


def wait_for_line(proc, text, limit=10):
    """Reads the child's output until a line holds text (the child keeps running)."""
    seen = []
    deadline = time.time() + limit
    while time.time() < deadline:
        line = proc.stdout.readline().decode(errors="replace")
        if not line:
            break
        seen.append(line)
        if text in line:
            return seen
    raise AssertionError("no %r in %r" % (text, seen))


def test_sap_announcer():
    listener = sap_listener()
    proc = qarvel(["-sap", "-mcastdump", "-v:3", "-if:127.0.0.1"])
    try:
        data, ancillary, _, _ = listener.recvmsg(2000, socket.CMSG_SPACE(4))
    finally:
        out, err = stop(proc)
    assert data == b"\0\0\0\0v=0\no=blah\n", data
    ttl = [struct.unpack("i", d[:4])[0] for level, kind, d in ancillary
           if level == socket.IPPROTO_IP and kind == socket.IP_TTL]
    assert ttl == [2], ancillary  # trace level 3 gives time-to-live 2
    assert out.startswith("Multicast connect: 224.2.127.254:9875\n"
                          "Multicast join, if=127.0.0.1\nWriting...\n"), out
    listener.close()


def test_sap_listener():
    # Defaults: the SAP group and port; the interface is "default"; the short datagram prints
    # nothing; the time-out ends the reading. With -mcastdump and the group and port named,
    # each datagram is counted instead.
    header = b"\x20\x00\x12\x34\x7f\x00\x00\x01"
    payloads = (header + b"v=0\ns=first session\n", b"short", header + b"v=0\ns=second\n")
    for args, expected in (
            ([], "Multicast connect: 224.2.127.254:9875\nMulticast join, if=default\n"
                 "waiting on read\nv=0\ns=first session\nv=0\ns=second\nRead failed\n"),
            (["-mcastdump", "-host:" + SAP_GROUP, "-port:%d" % SAP_PORT],
             "Got 28 bytes\nGot 5 bytes\nGot 21 bytes\n")):
        proc = qarvel(["-sap", "-tmo:2"] + args)
        before = "".join(wait_for_line(proc, "Multicast join" if args else "waiting on read"))
        time.sleep(0.3)
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        for payload in payloads:
            sender.sendto(payload, (SAP_GROUP, SAP_PORT))
            time.sleep(0.1)
        out, err = finish(proc)
        sender.close()
        assert (before + out) == expected if not args else out.endswith(expected), before + out


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def test_udp_listener_with_socat():
    port = free_udp_port()
    proc = qarvel(["-udp", "-mcastdump", "-tmo:2", "-host:127.0.0.1", "-port:%d" % port])
    wait_for_line(proc, "Datagram connect")
    for text in (b"one", b"twenty-two bytes here!", b"x" * 1400):
        subprocess.run(["socat", "-u", "-", "UDP-SENDTO:127.0.0.1:%d" % port], input=text,
                       check=True, timeout=10)
    out, err = finish(proc)
    assert out.endswith("Got 3 bytes\nGot 22 bytes\nGot 1400 bytes\n"), out


def test_udp_sender():
    for host, peer_address in (("127.0.0.1", "UDP-RECV:%d,bind=127.0.0.1"), ("::1", "UDP6-RECV:%d,bind=[::1]")):
        port = free_udp_port()
        peer = subprocess.Popen(["socat", "-u", peer_address % port, "STDOUT"], stdout=subprocess.PIPE)
        time.sleep(0.3)
        proc = qarvel(["-udp", "-mcastdump", "-v:1", "-host:" + host, "-port:%d" % port])
        try:
            first = peer.stdout.read(14 * 3)
        finally:
            out, err = stop(proc)
            peer.kill()
            peer.wait()
        assert first == b"Hello, world!\n" * 3, first
        assert out.startswith("Datagram connect: %s:%d\n" % (host, port)), out


def test_udp_port_taken():
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("127.0.0.1", 0))
    port = holder.getsockname()[1]
    proc = qarvel(["-udp", "-tmo:2", "-host:127.0.0.1", "-port:%d" % port])
    out, err = finish(proc)
    holder.close()
    assert out == "Connect UDP failure '127.0.0.1:%d', status = -10048\n" % port, out


def test_rawsock_reads_ping():
    proc = qarvel(["-rawsock", "-noop", "-tmo:2", "-host:127.0.0.1"])
    time.sleep(0.3)
    subprocess.run(["ping", "-c", "2", "-i", "0.2", "127.0.0.1"], capture_output=True, timeout=10)
    out, err = finish(proc)
    lines = out.splitlines()
    # Each echo request and reply: a 20-byte IP header, 8 bytes of ICMP header, 56 of data.
    assert len(lines) >= 2 and all(line == "Got 84 raw bytes" for line in lines), out


def tap_interface():
    """A tap interface "t0" with TAP_ADDRESS6 whose frames come back in (for the life of the
    process): a datagram sent to a group on it is received by the members on this host."""
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", b"t0", IFF_TAP | IFF_NO_PI))
    subprocess.run(["ip", "link", "set", "t0", "up"], check=True)
    subprocess.run(["ip", "-6", "addr", "add", TAP_ADDRESS6 + "/64", "dev", "t0", "nodad"], check=True)

    def echo():
        while True:
            frame = os.read(fd, 65536)
            LAST_ECHO[0] = time.time()
            os.write(fd, frame)
    threading.Thread(target=echo, daemon=True).start()


def wait_for_quiet_tap(quiet=0.5, limit=10):
    """Waits until the tap has echoed nothing for a while: on a loaded machine the echo thread
    lags behind, and announcements still queued would reach the next listener."""
    deadline = time.time() + limit
    while time.time() < deadline and time.time() - LAST_ECHO[0] < quiet:
        time.sleep(0.1)


def test_sap_over_ipv6():
    index = socket.if_nametoindex("t0")
    listener = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("", SAP_PORT))
    listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP,
                        socket.inet_pton(socket.AF_INET6, SAP_GROUP6) + struct.pack("@I", index))
    listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_RECVHOPLIMIT, 1)
    listener.settimeout(10)
    # The announcer joins on the interface named by its address; the hop limit is the level's.
    proc = qarvel(["-sap", "-mcastdump", "-v:3", "-host:" + SAP_GROUP6, "-if:" + TAP_ADDRESS6])
    try:
        data, ancillary, _, _ = listener.recvmsg(2000, socket.CMSG_SPACE(4))
    except TimeoutError:
        raise AssertionError("nothing announced: %r" % (stop(proc),))
    else:
        out, err = stop(proc)
    listener.close()
    assert data == b"\0\0\0\0v=0\no=blah\n", data
    hops = [struct.unpack("i", d[:4])[0] for level, kind, d in ancillary
            if level == socket.IPPROTO_IPV6 and kind == socket.IPV6_HOPLIMIT]
    assert hops == [2], ancillary
    assert out.startswith("Multicast connect: %s:%d\nMulticast join, if=%s\nWriting...\n"
                          % (SAP_GROUP6, SAP_PORT, TAP_ADDRESS6)), out
    # The listener joins on the interface named by its name.
    wait_for_quiet_tap()
    proc = qarvel(["-sap", "-tmo:3", "-host:" + SAP_GROUP6, "-if:t0"])
    before = "".join(wait_for_line(proc, "waiting on read"))
    sender = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    sender.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF, index)
    sender.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_LOOP, 0)  # the echo brings it
    sender.sendto(b"\x20\x00\x12\x34\x7f\x00\x00\x01v=0\ns=over IPv6\n", (SAP_GROUP6, SAP_PORT))
    out, err = finish(proc)
    sender.close()
    assert (before + out).endswith("waiting on read\nv=0\ns=over IPv6\nRead failed\n"), before + out


def inside():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "route", "add", "224.0.0.0/4", "dev", "lo"], check=True)
    tap_interface()
    for test in (test_sap_announcer, test_sap_listener, test_sap_over_ipv6,
                 test_udp_listener_with_socat, test_udp_sender, test_udp_port_taken,
                 test_rawsock_reads_ping):
        test()
        print("ok", test.__name__)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--inside":
        inside()
        return
    if os.geteuid() != 0:
        print("SKIP: a network namespace and raw sockets need root")
        return
    result = subprocess.run(["unshare", "--net", sys.executable, __file__, "--inside"],
                            timeout=240)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
