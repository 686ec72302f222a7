// The base of the tests that run peltorn db as the built tool: a temporary folder, files written
// into it, and runs that must succeed or fail with the one-line error of a failed command.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace peltorn::test {

class DbCliFixture : public ::testing::Test {
protected:
    TempDir dir;

    std::string File(const std::string& name, const std::string& text) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Runs the tool and expects success.
    std::string Ok(const std::vector<std::string>& args) {
        CliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Err, "");
        return r.Out;
    }
    // Runs the tool and expects the one-line error of a failed command.
    std::string Fails(const std::vector<std::string>& args) {
        CliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 1) << r.Out;
        EXPECT_EQ(r.Err.rfind("error: ", 0), 0u) << r.Err;
        EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << r.Err;
        return r.Err;
    }
};

}  // namespace peltorn::test
