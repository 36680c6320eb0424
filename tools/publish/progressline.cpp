// A carriage return and "erase to end of line" redraw the line in place on
// any terminal; nothing of it reaches a pipe or a file.
#include "progressline.h"

#include <cstdio>

#include <unistd.h>

namespace {

constexpr qint64 redrawMs = 100;
constexpr double bytesPerMegabyte = 1000.0 * 1000.0;

} // namespace

ProgressLine::ProgressLine(quint64 totalFiles, quint64 totalBytes, const char* what)
    : enabled(::isatty(STDERR_FILENO) == 1)
    , what(what)
    , totalFiles(totalFiles)
    , totalBytes(totalBytes)
{
    clock.start();
}

void ProgressLine::update(quint64 files, quint64 bytes)
{
    if (!enabled || (lastDrawMs >= 0 && clock.elapsed() - lastDrawMs < redrawMs))
        return;
    draw(files, bytes);
}

void ProgressLine::finish(quint64 files, quint64 bytes)
{
    if (!enabled)
        return;
    draw(files, bytes);
    std::fputc('\n', stderr);
}

void ProgressLine::draw(quint64 files, quint64 bytes)
{
    lastDrawMs = clock.elapsed();
    const double seconds = double(qMax<qint64>(lastDrawMs, 1)) / 1000.0;
    std::fprintf(stderr, "\r%s: %llu/%llu files, %.1f/%.1f MB, %.1f MB/s\033[K", what,
        (unsigned long long)files, (unsigned long long)totalFiles, double(bytes) / bytesPerMegabyte,
        double(totalBytes) / bytesPerMegabyte, double(bytes) / bytesPerMegabyte / seconds);
    std::fflush(stderr);
}
