// The one failure type of the publisher-side programs and the main they
// share: a failure ends the program with a message and an exit status.
#pragma once

#include <exception>
#include <functional>
#include <string>

class QString;

/// Every tool ends with this status on a bad command line.
constexpr int usageExit = 2;

/// Thrown anywhere in a tool to end it; runTool prints the message and
/// returns the exit code.
class ToolError final : public std::exception {
public:
    ToolError(int exitCode, std::string message);
    ToolError(int exitCode, const QString& message);

    int exitCode() const { return code; }
    const char* what() const noexcept override;

private:
    int code;
    std::string message; // UTF-8
};

struct ToolDescription {
    const char* name; // as it prefixes every message: "corvane-publish"
    const char* usage; // printed for --help or -h
};

/// The main of every tool: prints the usage and returns 0 when --help or -h is
/// anywhere on the command line; otherwise returns what body returns, or, when
/// body throws a ToolError, prints "name: message" (and a pointer to --help
/// for a usage error) to standard error and returns its exit code.
int runTool(const ToolDescription& tool, int argc, char** argv, const std::function<int()>& body);

/// Prints "name: warning: text" to standard error: something the publisher
/// should mend although the run goes on. Only valid inside runTool.
void toolWarning(const std::string& text);
void toolWarning(const QString& text);
