// Runs of build/qarvel under -strict, each against a scripted server (or none), and the exit
// status each must end with: the cause of the failure. The send and the receive fault tests
// share the runner.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"

namespace qarvel::test {

struct StrictRow {
    const char* name;
    std::vector<ScriptStep> script;  // empty: the run fails before any server is asked
    std::vector<std::string> more;   // arguments beside the test's own
    int status;
};

// args makes the run's arguments for the server's port and the row's arguments.
inline void expectStrictStatuses(const std::vector<StrictRow>& rows,
                                 const std::function<std::vector<std::string>(int, const std::vector<std::string>&)>& args) {
    for (const StrictRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> more = row.more;
        more.push_back("-strict");
        if (row.script.empty()) {
            const int port = refusedPort();
            ProgramResult r = runQarvel(args(port, more));
            EXPECT_EQ(r.exitCode, row.status) << r.err;
            EXPECT_EQ(r.err.find(std::to_string(port)), std::string::npos) << r.err;  // never tried
            continue;
        }
        ScriptedServer server(row.script);
        ProgramResult r = runQarvel(args(server.port(), more));
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        server.finish();
        EXPECT_EQ(server.error(), "");
    }
}

}  // namespace qarvel::test
