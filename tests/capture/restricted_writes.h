#pragma once
// Real ways to make this process's writes fail, undone when the scope ends.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// Runs the process as an ordinary user while it lives, so that folder and file permissions apply
// (root ignores them). When the process is not root it changes nothing.
class WithoutPrivileges {
public:
    WithoutPrivileges() {
        if (::geteuid() != 0)
            return;
        dropped_ = ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0;
        if (!dropped_)
            Restore();
    }
    ~WithoutPrivileges() {
        if (dropped_)
            Restore();
    }
    WithoutPrivileges(const WithoutPrivileges&) = delete;
    WithoutPrivileges& operator=(const WithoutPrivileges&) = delete;

    // False when root could not give up its privileges; permissions would not hold then.
    bool Active() const { return ::geteuid() != 0; }

private:
    static constexpr uid_t Nobody = 65534;
    static void Restore() {
        if (::seteuid(0) != 0 || ::setegid(0) != 0)
            std::abort();
    }
    bool dropped_ = false;
};

// Limits the files this process writes to a size while it lives. A write that crosses the limit
// is cut short and the next one fails with EFBIG (SIGXFSZ, which would end the process, is
// ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

// A disk of its own of that size, mounted on the folder (made if missing) while it lives, so that
// a disk can fill up and free room again. Needs root; Error() says why there is none.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const std::string& size) : folder_(folder) {
        std::filesystem::create_directories(folder);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            error_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (error_.empty())
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Empty when the disk is mounted.
    const std::string& Error() const { return error_; }

private:
    std::string folder_;
    std::string error_;
};

// The folder as a read-only file system while it lives (a bind mount of itself), as /etc is to a
// service under ProtectSystem=strict; root too is refused writes there. Needs root; Error() says
// why it is not read-only.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string& folder) : folder_(folder) {
        if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
            0)
            error_ = std::strerror(errno);
    }
    ~ReadOnlyFolder() { ::umount2(folder_.c_str(), MNT_DETACH); }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Empty when the folder is read-only.
    const std::string& Error() const { return error_; }

private:
    std::string folder_;
    std::string error_;
};
