#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/single_instance.h"

bool take_instance_lock(const std::string& key) {
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime_dir && *runtime_dir ? runtime_dir : "/tmp";
    const std::string path = dir + "/" + key + ".lock";

    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // Another user's lock file in /tmp can only be opened for reading; flock
    // works on such a descriptor all the same.
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    // Without a lock file there is no way to tell; a guard that cannot work
    // must not keep the technician from the tool.
    if (fd < 0) return true;

    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return true;
}
