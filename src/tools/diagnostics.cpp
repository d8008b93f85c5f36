// The network test modes: SAP, UDP and raw sockets over Connection.
#include "tools/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "net/connection.h"

namespace qarvel {

namespace {

// Datagrams are read into 1499 bytes and terminated, like a line.
constexpr int kDatagramSize = 1499;
// The eight-byte SAP header (version, flags, hash, origin) comes before the description.
constexpr int kSapHeaderSize = 8;

String interfaceText(const DiagnosticOptions& o) {
    return o.interfaceAddress.empty() ? String("default") : o.interfaceAddress;
}

bool sending(const DiagnosticOptions& o) { return o.dump && o.level >= 1; }

// A listener binds to the port and takes datagrams from anyone; a sender connects to the
// peer, so it leaves the port to whoever listens on this host.
uint32_t datagramMode(const DiagnosticOptions& o, uint32_t base) {
    return sending(o) ? base : base | kSocketBindOnly;
}

void flushed(const char* format, ...) __attribute__((format(printf, 1, 2)));
void flushed(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace

void runSapTest(const DiagnosticOptions& o) {
    String host = o.host == "localhost" ? String(kSapGroup) : o.host;
    String port = o.port == "25" ? String(kSapPort) : o.port;
    Connection sap(datagramMode(o, kSocketMulticast), '\n');
    sap.setTimeout(o.timeout);
    int status = sap.open(host, port);
    if (status < 1) {
        flushed("Connect SAP failure '%s:%s', status = %d\n", host.c_str(), port.c_str(), status);
        return;
    }
    flushed("Multicast connect: %s:%s\n", host.c_str(), port.c_str());
    String ifText = interfaceText(o);
    flushed("Multicast join, if=%s\n", ifText.c_str());
    status = sap.joinGroup(host, port, o.interfaceAddress);
    if (status != 0)
        flushed("JoinMulticast SAP failure '%s', if=%s, status = %d\n", host.c_str(), ifText.c_str(),
                status);

    char buffer[kDatagramSize + 1];
    if (!o.dump) {
        flushed("waiting on read\n");
        for (;;) {
            int got = sap.read(buffer, kDatagramSize);
            if (got <= 0) {
                flushed("Read failed\n");
                return;
            }
            buffer[got] = '\0';
            if (got > kSapHeaderSize) flushed("%s", buffer + kSapHeaderSize);
        }
    }
    if (o.level < 1) {
        for (;;) {
            int got = sap.read(buffer, kDatagramSize);
            if (got <= 0) return;
            flushed("Got %d bytes\n", got);
        }
    }
    int ttl = o.level - 1;
    if (sap.setMulticastOptions(ttl, 0) != 0) {
        std::fprintf(stderr, "SetMulticast(%d) failed\n", ttl);
        return;
    }
    flushed("Writing...\n");
    static const char kAnnouncement[] = "\0\0\0\0v=0\no=blah\n";
    const int length = static_cast<int>(sizeof kAnnouncement - 1);
    int portNumber = servicePort(port);
    if (portNumber < 1) {
        flushed("Invalid port '%s'\n", port.c_str());
        return;
    }
    for (;;) {
        int sent = sap.sendTo(kAnnouncement, length, host, portNumber);
        if (sent != length) {
            flushed("Write(%d) failed: %d\n", length, sent);
            return;
        }
    }
}

void runUdpTest(const DiagnosticOptions& o) {
    Connection udp(datagramMode(o, kSocketDatagram), '\n');
    udp.setTimeout(o.timeout);
    int status = udp.open(o.host, o.port);
    if (status < 1) {
        flushed("Connect UDP failure '%s:%s', status = %d\n", o.host.c_str(), o.port.c_str(), status);
        return;
    }
    flushed("Datagram connect: %s:%s\n", o.host.c_str(), o.port.c_str());
    if (sending(o)) {
        static const char kHello[] = "Hello, world!\n";
        const int length = static_cast<int>(sizeof kHello - 1);
        while (udp.send(kHello, length) == length) {
        }
        return;
    }
    char buffer[kDatagramSize + 1];
    for (;;) {
        int got = udp.read(buffer, kDatagramSize);
        if (got <= 0) return;
        if (o.dump) flushed("Got %d bytes\n", got);
    }
}

void runRawSocketTest(const DiagnosticOptions& o) {
    // ICMP: a raw socket needs a protocol, and ICMP is what a ping on the host produces.
    Connection raw(kSocketRaw | kSocketIcmp, '\n');
    raw.setTimeout(o.timeout);
    int status = raw.open(o.host, "0");
    if (status < 1) {
        flushed("Connect failed: %d\n", status);
        raw.close();
        return;
    }
    char buffer[1024];
    for (;;) {
        int got = raw.read(buffer, sizeof buffer);
        if (got < 1) break;
        flushed("Got %d raw bytes\n", got);
    }
    raw.close();
}

}  // namespace qarvel
