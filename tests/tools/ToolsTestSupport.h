#pragma once
// Small helpers of the tools' tests: a temporary folder, whole-file reads
// and writes, a shell command with its output, and a plain HTTP GET.

#include <cstdint>
#include <map>
#include <string>

#include "tests/support/TempFolder.h"

namespace toolstest {

// A folder made with mkdtemp, removed with its contents at the end.
using testsupport::cTempFolder;

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Runs the command with /bin/sh; its standard output goes into output when
// given. Returns the exit status (-1 when it did not exit normally).
int runCommand(const std::string& command, std::string* output = nullptr);

struct cAnswer {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    // The header's value, empty when it was not sent.
    std::string header(const std::string& name) const
    {
        auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// GET (or another method) of the raw request target on 127.0.0.1:port, with
// extra request headers. The target is sent exactly as given.
cAnswer request(uint16_t port, const std::string& target, const std::map<std::string, std::string>& headers = {},
                const std::string& method = "GET");

} // namespace toolstest
