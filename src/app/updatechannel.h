// The release channels a client can follow.
#pragma once

/// The value is also the position of the channel's entry in the latest-version
/// reply of the update server.
enum UpdateChannel { Stable = 0, Beta = 1, Alpha = 2 };
