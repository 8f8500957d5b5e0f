// Whether Wine's server runs for a prefix. While it runs it holds the prefix's registry in
// memory and writes it back over the files when it ends (and every 30 s), so a program that
// changes the files meanwhile loses its change.
//
// The server runs in a folder named after the prefix's device and inode, "server-<dev>-<ino>",
// below a base that depends on how Wine was started: Debian takes $TMPDIR (else /tmp) and a
// name kept in <prefix>/wineserver; upstream Wine takes /tmp/.wine-<uid>. It holds a lock on
// the file "lock" in that folder for its whole life, and that folder is its working folder.
#pragma once

#include "platform/files/posix_file.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace platform::detail {

// The process id of a running Wine server of the prefix (whose status is prefixStatus), 0 when
// none runs, -1 when one runs whose id cannot be told. Finds a server however it was started:
// by the lock in each folder a Wine started from here would use, and by any process whose
// working folder is the prefix's server folder, wherever that folder is.
long RunningWineServer(const std::string& prefix, const struct stat& prefixStatus);

// Holds Wine's own server lock in the folders where a Wine started now would put its server,
// so that it gives up instead of reading files half written.
class WineServerLock {
public:
    WineServerLock(const std::string& prefix, const struct stat& prefixStatus);
    // The server that holds one of the locks (see RunningWineServer), 0 when all were taken.
    long Holder() const { return holder_; }

private:
    std::vector<FileDescriptor> held_;
    long holder_ = 0;
};

}  // namespace platform::detail
