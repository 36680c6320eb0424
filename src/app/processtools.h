// Starting other programs from the updater.
#pragma once

class ProcessTools final {
public:
    /// Starts the client's start script from the client directory as a
    /// detached process without arguments. Whether it started is not checked.
    static void startDavUzodur();

    ProcessTools() = delete;
};
