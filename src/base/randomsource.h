// The program's one pseudo-random source: mirror selection and the change-log
// viewer draw from it, the engine seeds it once per update session.
#pragma once

#include <QtGlobal>

class RandomSource final {
public:
    /// Restarts the sequence; the engine passes the time in whole seconds.
    static void seed(quint32 value);
    /// A non-negative pseudo-random integer. Before the first seed() the
    /// sequence starts from a fixed default seed, so runs are repeatable.
    static int next();

    RandomSource() = delete;
};
