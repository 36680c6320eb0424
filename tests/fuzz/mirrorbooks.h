// Runs a loaded mirror registry through a whole session's worth of use and
// checks its books: the part the mirrors.ini and update.ini targets share.
#pragma once

class Mirrors;

namespace MirrorBooks {

/// Takes every free slot, gives them all back, then charges errors until no
/// mirror is left; stops the run where the registry loses count.
void drain(Mirrors& mirrors);

} // namespace MirrorBooks
