// DnsClient: asks a name server for records over one TCP connection, one question at a time.
#pragma once

#include <cstdint>

#include "base/string.h"
#include "net/connection.h"
#include "net/dns_record.h"

namespace qarvel {

// The port every query goes to.
constexpr const char* kDnsService = "53";

class DnsClient : public Connection {
public:
    // The datagram switch is accepted and not used: every query goes over TCP.
    explicit DnsClient(bool datagram = false, int trace = 0);
    ~DnsClient() override;

    // Closes the connection when it is open.
    int disconnect() override;
    // A host written with its port ("127.0.0.1:10053", "[::1]:10053") is asked on that port,
    // whatever service says.
    int open(const String& host, const String& service) override;

    // Asks one question for name with the numeric record type and appends the decoded
    // records to answers in key order (preference or priority, else 0). Returns 1, or -1 on
    // failure (not open, a name that does not fit, a failed write or read, a refused
    // response); a failed exchange also disconnects. A name written as "[address]" is not
    // looked up: the text between the brackets is appended as one record.
    int query(const String& name, int type, DnsRecordList& answers);
    // The SRV question for "_service._protocol.domain".
    int querySrv(DnsRecordList& answers, const String& service, const String& protocol, const String& domain);
    // Asks for the domain's NS records; each name server found is stored in first when that
    // is empty, otherwise in second. Returns 1 when a name was stored, else -1.
    int queryNameServers(const String& domain, String& first, String& second);

    void setTrace(int level) { trace_ = level; }
    int trace() const { return trace_; }
    bool datagram() const { return datagram_; }

    // The ID the last query carried (process-wide; the first query of a process carries 1).
    static uint16_t lastQueryId();

private:
    struct Response;
    int exchange(const String& name, int type, Response& response);
    int fail(const char* message);

    bool datagram_;
    int trace_;
};

} // namespace qarvel
