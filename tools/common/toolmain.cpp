// Standard error is the channel for every failure and warning, so a script
// can keep the tools' normal output apart from what went wrong.
#include "toolmain.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// The running tool, for warnings raised deep inside its work.
const char* toolName = "";

} // namespace

ToolError::ToolError(int exitCode, std::string message)
    : code(exitCode)
    , message(std::move(message))
{
}

ToolError::ToolError(int exitCode, const QString& message)
    : ToolError(exitCode, message.toStdString())
{
}

const char* ToolError::what() const noexcept
{
    return message.c_str();
}

int runTool(const ToolDescription& tool, int argc, char** argv, const std::function<int()>& body)
{
    toolName = tool.name;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(tool.usage, stdout);
            return 0;
        }
    }
    try {
        return body();
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s: %s\n", tool.name, error.what());
        if (error.exitCode() == usageExit)
            std::fprintf(stderr, "Try '%s --help'.\n", tool.name);
        return error.exitCode();
    }
}

void toolWarning(const std::string& text)
{
    std::fprintf(stderr, "%s: warning: %s\n", toolName, text.c_str());
}

void toolWarning(const QString& text)
{
    toolWarning(text.toStdString());
}
